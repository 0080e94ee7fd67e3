#include "app/Music.h"

Music::Music(const char* file)
{
    FMOD_SOUND* sound = nullptr;
    FMOD_CHANNEL* channel = nullptr;
    FMOD_System_Create(&m_system);
    FMOD_System_SetOutput(m_system, FMOD_OUTPUTTYPE_AUTODETECT);
    FMOD_System_Init(m_system, 50, FMOD_INIT_NORMAL, nullptr);
    FMOD_System_CreateStream(m_system, file, FMOD_LOOP_NORMAL | FMOD_2D, nullptr, &sound);
    FMOD_System_PlaySound(m_system, sound, nullptr, 0, &channel);
}

Music::~Music()
{
    // The system owns the sound it streams and releases it with itself.
    FMOD_System_Release(m_system);
}
