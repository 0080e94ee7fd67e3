#include "clw/CLWEvent.h"

CLWEvent::~CLWEvent() = default;

CLWEvent CLWEvent::Create(cl_event event)
{
    CLWEvent result(event);
    AdoptHandle(event);
    return result;
}
