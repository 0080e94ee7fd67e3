// Where the audio layer's messages go. The layer has no toolkit of its own: by default it
// writes to stderr with a "vertexshadows: audio: " prefix; an application hands in its own
// sink (for example one that forwards to its debug log) with SetLogSink.
#pragma once

namespace audio
{

enum class LogLevel
{
    Debug,  // libopenmpt's informational messages
    Warning // something the user should know: the music cannot play
};

// Receives one message, without a trailing newline. May be called from the audio thread.
using LogSink = void (*)(LogLevel level, const char* message);

// Installs a sink; null restores the default one. Safe to call from any thread.
void SetLogSink(LogSink sink);

// Sends one message to the current sink.
void Log(LogLevel level, const char* message);

} // namespace audio
