// What the output thread has done so far: lets tests (and a curious developer) check that
// the music is really pulled by the device, and by which thread.
#pragma once

#include "audio/fmod.h"

#include <cstdint>
#include <thread>

namespace audio
{

struct OutputStats
{
    bool deviceOpen = false;        // an SDL device is open (otherwise the system is silent)
    int sampleRate = 0;             // the device's rate, in frames per second
    std::uint64_t framesPulled = 0; // stereo frames the device has asked for
    std::thread::id pullThread;     // the thread of the latest device callback
};

// Fills stats for system; false for a null system.
bool GetOutputStats(FMOD_SYSTEM* system, OutputStats* stats);

} // namespace audio
