#include "clw/CLWException.h"

CLWException::CLWException(cl_int status, const std::string& message)
    : std::runtime_error(message), m_status(status)
{
}

// Defined out of line so that the class's virtual table has one home.
CLWException::~CLWException() = default;
