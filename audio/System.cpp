// The system object: SDL's audio device and the callback that decodes the playing modules
// on SDL's audio thread.
#include "audio/AudioLog.h"
#include "audio/Diagnostics.h"
#include "audio/Internal.h"

#include <algorithm>
#include <new>
#include <string>

namespace
{

constexpr int kMaxChannels = 4095;
constexpr int kPreferredRate = 48000;
// About 21 ms at 48 kHz: short enough to start promptly, long enough that a busy machine
// does not starve the device.
constexpr Uint16 kBlockFrames = 1024;

// Decodes up to frames stereo frames of the channel's module and adds them to out. A module
// that does not loop ends once; its channel then becomes free.
void MixChannel(FMOD_SYSTEM& system, FMOD_CHANNEL& channel, float* out, size_t frames)
{
    float* scratch = system.mixScratch.data();
    const size_t block = system.mixScratch.size() / 2;
    size_t done = 0;
    while (done < frames)
    {
        const size_t wanted = std::min(block, frames - done);
        const size_t got = openmpt_module_read_interleaved_float_stereo(
            channel.sound->module, system.sampleRate, wanted, scratch);
        for (size_t i = 0; i < got * 2; ++i)
            out[done * 2 + i] += scratch[i];
        done += got;
        if (got < wanted)
        {
            channel.sound->channel = nullptr;
            channel.sound = nullptr;
            return;
        }
    }
}

// The first channel that plays nothing, or null when all are busy. Call it under the
// device lock: the callback frees channels.
FMOD_CHANNEL* FindFreeChannel(FMOD_SYSTEM& system)
{
    for (auto& candidate : system.channels)
    {
        if (candidate->sound == nullptr)
            return candidate.get();
    }
    return nullptr;
}

// SDL's device callback; SDL holds the device lock while it runs.
void AudioCallback(void* userdata, Uint8* stream, int len)
{
    auto* system = static_cast<FMOD_SYSTEM*>(userdata);
    auto* out = reinterpret_cast<float*>(stream);
    const size_t frames = static_cast<size_t>(len) / (2 * sizeof(float));
    std::fill(out, out + frames * 2, 0.0f);

    for (auto& channel : system->channels)
    {
        if (channel->sound != nullptr && !channel->paused)
            MixChannel(*system, *channel, out, frames);
    }
    // Several channels can add up past full scale; a hard limit beats integer wrap-around
    // in a 16-bit device.
    for (size_t i = 0; i < frames * 2; ++i)
        out[i] = std::clamp(out[i], -1.0f, 1.0f);

    system->framesPulled += frames;
    system->pullThread = std::this_thread::get_id();
}

// Opens SDL's default output for stereo float at 48 kHz, or at the device's own rate.
FMOD_RESULT OpenDevice(FMOD_SYSTEM& system)
{
    // SDL would otherwise install SIGINT and SIGTERM handlers that turn Ctrl+C into an
    // event nobody reads, and the demo could no longer be interrupted.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    {
        audio::Log(
            audio::LogLevel::Debug,
            (std::string("no audio output (") + SDL_GetError() + "); the music is silent").c_str());
        return FMOD_ERR_OUTPUT_INIT;
    }
    system.sdlAudioStarted = true;

    SDL_AudioSpec wanted{};
    wanted.freq = kPreferredRate;
    wanted.format = AUDIO_F32SYS;
    wanted.channels = 2;
    wanted.samples = kBlockFrames;
    wanted.callback = &AudioCallback;
    wanted.userdata = &system;
    SDL_AudioSpec obtained{};
    // Only the rate may differ: SDL converts format and channel count for us.
    system.device =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &obtained, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (system.device == 0)
    {
        audio::Log(
            audio::LogLevel::Debug,
            (std::string("no audio device (") + SDL_GetError() + "); the music is silent").c_str());
        return FMOD_ERR_OUTPUT_INIT;
    }
    system.sampleRate = obtained.freq;
    system.mixScratch.assign(static_cast<size_t>(std::max<Uint16>(obtained.samples, 256)) * 2,
                             0.0f);
    SDL_PauseAudioDevice(system.device, 0);
    return FMOD_OK;
}

} // namespace

extern "C" FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM** system)
{
    if (system == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    *system = new (std::nothrow) FMOD_SYSTEM;
    return *system != nullptr ? FMOD_OK : FMOD_ERR_MEMORY;
}

extern "C" FMOD_RESULT FMOD_System_SetOutput(FMOD_SYSTEM* system, FMOD_OUTPUTTYPE output)
{
    if (system == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    if (system->initialised)
        return FMOD_ERR_INITIALIZED;
    if (output != FMOD_OUTPUTTYPE_AUTODETECT && output != FMOD_OUTPUTTYPE_NOSOUND)
        return FMOD_ERR_INVALID_PARAM;
    system->output = output;
    return FMOD_OK;
}

extern "C" FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM* system, int maxchannels, FMOD_INITFLAGS, void*)
{
    if (system == nullptr || maxchannels < 1 || maxchannels > kMaxChannels)
        return FMOD_ERR_INVALID_PARAM;
    if (system->initialised)
        return FMOD_ERR_INITIALIZED;

    // Channels exist even without a device, so that playing works (silently) everywhere.
    system->channels.reserve(static_cast<size_t>(maxchannels));
    for (int i = 0; i < maxchannels; ++i)
        system->channels.push_back(std::make_unique<FMOD_CHANNEL>());
    system->initialised = true;

    if (system->output == FMOD_OUTPUTTYPE_NOSOUND)
        return FMOD_OK;
    return OpenDevice(*system);
}

extern "C" FMOD_RESULT FMOD_System_PlaySound(FMOD_SYSTEM* system, FMOD_SOUND* sound,
                                             FMOD_CHANNELGROUP* channelgroup, FMOD_BOOL paused,
                                             FMOD_CHANNEL** channel)
{
    if (channel != nullptr)
        *channel = nullptr;
    if (system == nullptr || sound == nullptr || sound->system != system || channelgroup != nullptr)
        return FMOD_ERR_INVALID_PARAM;
    if (!system->initialised)
        return FMOD_ERR_UNINITIALIZED;

    // The search runs under the device lock too: the callback frees the channel of a sound
    // that has ended, so both the sound's channel and the channels' sounds change under it.
    FMOD_CHANNEL* target = nullptr;
    audio::WithDeviceLocked(system,
                            [&]
                            {
                                // A module has one play position, so a sound that plays
                                // already starts over on its channel.
                                target = sound->channel != nullptr ? sound->channel
                                                                   : FindFreeChannel(*system);
                                if (target == nullptr)
                                    return;
                                openmpt_module_set_position_seconds(sound->module, 0.0);
                                target->sound = sound;
                                target->paused = paused != 0;
                                sound->channel = target;
                            });
    if (target == nullptr)
        return FMOD_ERR_CHANNEL_ALLOC;
    if (channel != nullptr)
        *channel = target;
    return FMOD_OK;
}

extern "C" FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM* system)
{
    if (system == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    // Closing waits for the audio thread to end, so no callback can read a module that the
    // next lines free.
    if (system->device != 0)
        SDL_CloseAudioDevice(system->device);
    system->device = 0;
    system->sounds.clear();
    system->channels.clear();
    if (system->sdlAudioStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    delete system;
    return FMOD_OK;
}

namespace audio
{

bool GetOutputStats(FMOD_SYSTEM* system, OutputStats* stats)
{
    if (system == nullptr || stats == nullptr)
        return false;
    WithDeviceLocked(system,
                     [&]
                     {
                         stats->deviceOpen = system->device != 0;
                         stats->sampleRate = system->device != 0 ? system->sampleRate : 0;
                         stats->framesPulled = system->framesPulled;
                         stats->pullThread = system->pullThread;
                     });
    return true;
}

} // namespace audio
