// Sounds: tracker modules read from a file and opened with libopenmpt.
#include "audio/AudioLog.h"
#include "audio/Internal.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <system_error>

namespace
{

// Larger files are not music we ship; refusing them keeps a wrong path from eating memory.
constexpr std::streamoff kMaxFileBytes = 64 << 20;

// libopenmpt's own messages (loader notes and the like) join our log instead of stderr.
void LogFromOpenmpt(const char* message, void*)
{
    audio::Log(audio::LogLevel::Debug, (std::string("libopenmpt: ") + message).c_str());
}

void WarnCannotPlay(const char* fileName, const std::string& reason)
{
    audio::Log(audio::LogLevel::Warning,
               ("cannot play the music \"" + std::string(fileName) + "\": " + reason).c_str());
}

// Reads the whole file; false if it cannot be opened or read.
bool ReadFile(const char* fileName, std::string* bytes, std::string* reason)
{
    // Looked at before it is opened: opening a FIFO would wait for a writer, and a
    // directory opens fine and then reports a nonsense size.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
    {
        *reason = "not a regular file";
        return false;
    }
    std::ifstream file(fileName, std::ios::binary | std::ios::ate);
    if (!file)
    {
        *reason = "cannot open the file";
        return false;
    }
    const std::streamoff size = file.tellg();
    if (size < 0 || size > kMaxFileBytes)
    {
        *reason = "the file is unreadable or too large";
        return false;
    }
    bytes->resize(static_cast<size_t>(size));
    file.seekg(0);
    if (!file.read(bytes->data(), size))
    {
        *reason = "cannot read the file";
        return false;
    }
    return true;
}

} // namespace

FMOD_SOUND::~FMOD_SOUND()
{
    if (module != nullptr)
        openmpt_module_destroy(module);
}

extern "C" FMOD_RESULT FMOD_System_CreateStream(FMOD_SYSTEM* system, const char* name_or_data,
                                                FMOD_MODE mode, FMOD_CREATESOUNDEXINFO* exinfo,
                                                FMOD_SOUND** sound)
{
    if (sound != nullptr)
        *sound = nullptr;
    if (system == nullptr || name_or_data == nullptr || exinfo != nullptr || sound == nullptr)
        return FMOD_ERR_INVALID_PARAM;

    // Modules are small: reading the file at once keeps the audio thread away from the disk.
    std::string bytes;
    std::string reason;
    if (!ReadFile(name_or_data, &bytes, &reason))
    {
        WarnCannotPlay(name_or_data, reason);
        return FMOD_ERR_FILE_NOTFOUND;
    }

    int error = OPENMPT_ERROR_OK;
    const char* errorMessage = nullptr;
    openmpt_module* module = openmpt_module_create_from_memory2(
        bytes.data(), bytes.size(), &LogFromOpenmpt, nullptr, &openmpt_error_func_store, nullptr,
        &error, &errorMessage, nullptr);
    if (module == nullptr)
    {
        WarnCannotPlay(name_or_data,
                       errorMessage != nullptr && *errorMessage != '\0'
                           ? std::string("not a playable module (") + errorMessage + ")"
                           : std::string("not a playable module"));
        openmpt_free_string(errorMessage);
        return FMOD_ERR_FORMAT;
    }
    openmpt_free_string(errorMessage);
    // -1 repeats forever; libopenmpt then continues from the song's restart point without a
    // gap, so the loop is as seamless as the music itself.
    openmpt_module_set_repeat_count(module, (mode & FMOD_LOOP_NORMAL) != 0 ? -1 : 0);

    auto created = std::unique_ptr<FMOD_SOUND>(new (std::nothrow) FMOD_SOUND);
    if (!created)
    {
        openmpt_module_destroy(module);
        return FMOD_ERR_MEMORY;
    }
    created->system = system;
    created->module = module;
    *sound = created.get();
    system->sounds.push_back(std::move(created));
    return FMOD_OK;
}

extern "C" FMOD_RESULT FMOD_Sound_Release(FMOD_SOUND* sound)
{
    if (sound == nullptr)
        return FMOD_ERR_INVALID_PARAM;
    FMOD_SYSTEM* system = sound->system;
    // Detach it under the device lock; afterwards the callback cannot reach the module.
    audio::WithDeviceLocked(system,
                            [&]
                            {
                                if (sound->channel != nullptr)
                                    sound->channel->sound = nullptr;
                                sound->channel = nullptr;
                            });
    auto& sounds = system->sounds;
    sounds.erase(std::remove_if(sounds.begin(), sounds.end(),
                                [&](const auto& owned) { return owned.get() == sound; }),
                 sounds.end());
    return FMOD_OK;
}
