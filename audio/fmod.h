// The audio layer's public C interface: the few calls of a vendor-style audio API that
// the demo uses to start its looping background music, implemented on libopenmpt
// (module decoding) and SDL2 (audio output).
//
// A typical life:
//   FMOD_System_Create(&system);
//   FMOD_System_SetOutput(system, FMOD_OUTPUTTYPE_AUTODETECT);
//   FMOD_System_Init(system, 50, FMOD_INIT_NORMAL, NULL);
//   FMOD_System_CreateStream(system, "WINDWLKR.S3M", FMOD_LOOP_NORMAL | FMOD_2D, NULL, &music);
//   FMOD_System_PlaySound(system, music, NULL, 0, &channel);
//   ... the music plays on SDL's audio thread; no further call is needed ...
//   FMOD_System_Release(system);   // stops the output, then frees every sound
//
// Every call accepts null handles and failed predecessors: it then returns an error code
// and does nothing, so a caller that ignores the results simply runs silent.
#pragma once

#ifdef __cplusplus
extern "C"
{
#endif

    // Opaque handles. A channel belongs to its system and stays valid until the system is
    // released; a sound stays valid until FMOD_Sound_Release or FMOD_System_Release.
    typedef struct FMOD_SYSTEM FMOD_SYSTEM;
    typedef struct FMOD_SOUND FMOD_SOUND;
    typedef struct FMOD_CHANNEL FMOD_CHANNEL;
    typedef struct FMOD_CHANNELGROUP FMOD_CHANNELGROUP;           // accepted, always null
    typedef struct FMOD_CREATESOUNDEXINFO FMOD_CREATESOUNDEXINFO; // accepted, always null

    typedef enum FMOD_RESULT
    {
        FMOD_OK = 0,
        FMOD_ERR_INVALID_PARAM, // a null handle or an out-of-range argument
        FMOD_ERR_INITIALIZED,   // FMOD_System_Init or FMOD_System_SetOutput after a successful Init
        FMOD_ERR_UNINITIALIZED, // FMOD_System_PlaySound before FMOD_System_Init
        FMOD_ERR_OUTPUT_INIT,   // no audio output: the system still works, silently
        FMOD_ERR_FILE_NOTFOUND, // the sound's file cannot be opened or read
        FMOD_ERR_FORMAT,        // the sound's file is not a module libopenmpt can play
        FMOD_ERR_CHANNEL_ALLOC, // every channel is busy
        FMOD_ERR_MEMORY         // an allocation failed
    } FMOD_RESULT;

    typedef int FMOD_BOOL;

    typedef int FMOD_OUTPUTTYPE;
#define FMOD_OUTPUTTYPE_AUTODETECT 0 // SDL's default driver (SDL_AUDIODRIVER chooses another)
#define FMOD_OUTPUTTYPE_NOSOUND 1    // no device at all; sounds are accepted and never heard

    typedef unsigned int FMOD_INITFLAGS;
#define FMOD_INIT_NORMAL 0x00000000u

    typedef unsigned int FMOD_MODE;
#define FMOD_DEFAULT 0x00000000u
#define FMOD_LOOP_OFF 0x00000001u
#define FMOD_LOOP_NORMAL 0x00000002u // the module repeats forever
#define FMOD_2D 0x00000008u          // accepted; every sound plays in plain stereo

    // Creates a system object; *system is null when the call fails.
    FMOD_RESULT FMOD_System_Create(FMOD_SYSTEM** system);

    // Chooses the output before FMOD_System_Init.
    FMOD_RESULT FMOD_System_SetOutput(FMOD_SYSTEM* system, FMOD_OUTPUTTYPE output);

    // Opens the audio device (stereo, 48 kHz or the device's rate) and starts its thread.
    // maxchannels sounds can play at once. extradriverdata is ignored. Without a device the
    // result is FMOD_ERR_OUTPUT_INIT and the system carries on silently.
    FMOD_RESULT FMOD_System_Init(FMOD_SYSTEM* system, int maxchannels, FMOD_INITFLAGS flags,
                                 void* extradriverdata);

    // Opens a tracker module (any format libopenmpt reads) from a file. With FMOD_LOOP_NORMAL
    // it repeats forever. A missing or unreadable file logs one warning naming it, sets *sound
    // to null and returns an error. exinfo must be null.
    FMOD_RESULT FMOD_System_CreateStream(FMOD_SYSTEM* system, const char* name_or_data,
                                         FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                                         FMOD_SOUND** sound);

    // Starts a sound on a free channel; the output thread decodes it from then on. A sound
    // plays on one channel at a time: playing it again restarts it. channelgroup must be null.
    // channel may be null when the caller does not want the handle.
    FMOD_RESULT FMOD_System_PlaySound(FMOD_SYSTEM* system, FMOD_SOUND* sound,
                                      FMOD_CHANNELGROUP* channelgroup, FMOD_BOOL paused,
                                      FMOD_CHANNEL** channel);

    // Stops the sound wherever it plays and frees it.
    FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND* sound);

    // Closes the audio device (waiting for its thread), then frees every sound and channel of
    // the system and the system itself. Handles of that system are invalid afterwards.
    FMOD_RESULT FMOD_System_Release(FMOD_SYSTEM* system);

#ifdef __cplusplus
}
#endif
