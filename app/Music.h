#pragma once
// The background music: one tracker module streamed in a loop on the audio layer's own
// thread, from the moment the Music is made until it goes.
#include "audio/fmod.h"

class Music
{
public:
    // Starts file looping for ever. Without an audio device, or without the file, the
    // demo runs silent and nothing else changes: nothing here fails.
    explicit Music(const char* file);
    // Stops the audio thread, then frees what it played.
    ~Music();

    Music(const Music&) = delete;
    Music& operator=(const Music&) = delete;

private:
    FMOD_SYSTEM* m_system = nullptr;
};
