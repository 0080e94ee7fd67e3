#pragma once
// The frame-rate title rule: frames are counted until their times add up to a second;
// that frame is counted too, its count is shown, and the next second starts from zero
// (the surplus over the second is dropped, not carried).
#include <optional>

// Adds one frame of frameSeconds to the running count and time. Returns the count to
// show when this frame completes a second, and then resets both.
std::optional<int> CountFrame(int& frameCount, float& fpsSeconds, float frameSeconds);
