#include "audio/AudioLog.h"

#include <atomic>
#include <cstdio>

namespace audio
{
namespace
{

void StderrSink(LogLevel level, const char* message)
{
    std::fprintf(stderr, "vertexshadows: audio: %s%s\n",
                 level == LogLevel::Warning ? "warning: " : "", message);
}

// Atomic because libopenmpt may log from the audio thread while the application installs
// its sink on the GUI thread.
std::atomic<LogSink> g_sink{&StderrSink};

} // namespace

void SetLogSink(LogSink sink)
{
    g_sink.store(sink ? sink : &StderrSink);
}

void Log(LogLevel level, const char* message)
{
    g_sink.load()(level, message);
}

} // namespace audio
