// Helpers shared by the audio layer's tests: the music's path, a log sink that records what
// the layer says, and a wait for the output thread.
#pragma once

#include "audio/AudioLog.h"
#include "audio/Diagnostics.h"
#include "audio/fmod.h"

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace audiotest
{

inline std::string MusicPath()
{
    return std::string(VS_DATA_DIR) + "/WINDWLKR.S3M";
}

struct LogLine
{
    audio::LogLevel level;
    std::string text;
};

// Records every message while it exists; the default sink comes back afterwards.
class LogCapture
{
public:
    LogCapture()
    {
        Lines().clear();
        audio::SetLogSink(&Record);
    }
    ~LogCapture() { audio::SetLogSink(nullptr); }

    std::vector<std::string> Warnings() const
    {
        std::lock_guard<std::mutex> lock(Mutex());
        std::vector<std::string> out;
        for (const LogLine& l : Lines())
        {
            if (l.level == audio::LogLevel::Warning)
                out.push_back(l.text);
        }
        return out;
    }

private:
    static void Record(audio::LogLevel level, const char* message)
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().push_back({level, message});
    }
    static std::mutex& Mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<LogLine>& Lines()
    {
        static std::vector<LogLine> lines;
        return lines;
    }
};

inline audio::OutputStats Stats(FMOD_SYSTEM* system)
{
    audio::OutputStats stats;
    audio::GetOutputStats(system, &stats);
    return stats;
}

// Waits until the device has pulled at least frames more than `since`; false on timeout.
inline bool WaitForPulls(FMOD_SYSTEM* system, std::uint64_t since, std::uint64_t frames,
                         std::chrono::seconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        if (Stats(system).framesPulled >= since + frames)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace audiotest
