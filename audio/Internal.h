// The objects behind the opaque handles of fmod.h, shared by the layer's sources only.
//
// Threads: the caller's thread creates, starts and frees objects; SDL's audio thread
// decodes inside the device callback. SDL holds the device lock around every callback, so
// anything the callback reads (channels, the modules they play, the statistics) is changed
// only under SDL_LockAudioDevice, or after the device is closed.
#pragma once

#include "audio/fmod.h"

#include <SDL.h>
#include <libopenmpt/libopenmpt.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct FMOD_SOUND
{
    FMOD_SYSTEM* system = nullptr;
    openmpt_module* module = nullptr;
    FMOD_CHANNEL* channel = nullptr; // where it plays now, if anywhere

    ~FMOD_SOUND();
};

struct FMOD_CHANNEL
{
    FMOD_SOUND* sound = nullptr; // null when the channel is free
    bool paused = false;
};

struct FMOD_SYSTEM
{
    FMOD_OUTPUTTYPE output = FMOD_OUTPUTTYPE_AUTODETECT;
    bool initialised = false;
    bool sdlAudioStarted = false; // SDL's audio subsystem was started by this system
    SDL_AudioDeviceID device = 0; // 0 without a device
    int sampleRate = 48000;
    std::vector<std::unique_ptr<FMOD_CHANNEL>> channels;
    std::vector<std::unique_ptr<FMOD_SOUND>> sounds;
    std::vector<float> mixScratch; // one block of the callback's decoded stereo frames

    // Written by the callback, read under the device lock (Diagnostics.h).
    std::uint64_t framesPulled = 0;
    std::thread::id pullThread;
};

namespace audio
{

// Runs f with the device lock held when the system has a device; without one there is no
// audio thread to exclude and f runs directly.
template <typename F> void WithDeviceLocked(FMOD_SYSTEM* system, F&& f)
{
    if (system->device != 0)
        SDL_LockAudioDevice(system->device);
    f();
    if (system->device != 0)
        SDL_UnlockAudioDevice(system->device);
}

} // namespace audio
