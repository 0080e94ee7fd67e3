#include "app/FrameRate.h"

std::optional<int> CountFrame(int& frameCount, float& fpsSeconds, float frameSeconds)
{
    ++frameCount;
    fpsSeconds += frameSeconds;
    if (fpsSeconds < 1.0f)
    {
        return std::nullopt;
    }
    const int shown = frameCount;
    frameCount = 0;
    fpsSeconds = 0.0f;
    return shown;
}
