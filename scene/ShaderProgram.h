#pragma once
// Builds a GLSL program from two source files.
//
// Failures are thrown as the std::string itself (the file message or the driver's
// info log), not as a std::exception: callers that report them catch std::string.
#include <GL/glew.h>

#include <QString>

#include <string>
#include <vector>

// Compiles vertexFile as the vertex stage and fragmentFile as the fragment stage, in
// that order whatever their names, and links them. Returns the program name, owned
// by the caller; the shader objects go with the program. Throws
// "Cannot read the contents of a file" for a file that cannot be opened, a stage's
// compile log, or the program's link log. Nothing is left behind on failure: the
// failed object is deleted, and so is the vertex stage when the fragment stage fails.
GLuint LoadShaderProgram(QString vertexFile, QString fragmentFile);

// The same for two stages given as source text: throws a stage's compile log or the
// link log, and leaves nothing behind on failure.
GLuint CreateShaderProgram(const std::string& vertexSource, const std::string& fragmentSource);

// Compiles one stage from source (its length is the buffer's size; no terminating
// zero needed). Returns the shader name or throws the compile log.
GLuint CompileShader(const std::vector<char>& source, GLenum type);

// Replaces the contents of buffer with the bytes of fileName, in binary mode or, when
// binary is false, in text mode: util's LoadFileContents, with its message thrown as a
// std::string like every other failure here. The message is exactly "Cannot read the
// contents of a file" when the file cannot be opened, and that followed by the reason
// for a directory, a FIFO, a device or a file over kMaxLoadedFileBytes, which are
// refused before anything is read.
void ReadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary);
