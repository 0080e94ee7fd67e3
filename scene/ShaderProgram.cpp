#include "scene/ShaderProgram.h"

#include "util/ErrorNote.h"
#include "util/LoadFileContents.h"

#include <functional>
#include <stdexcept>

namespace
{

// The info log of a shader or a program (getParameter and getLog are glGetShaderiv and
// glGetShaderInfoLog, or their program counterparts), as text: its characters up to the
// terminating zero the driver writes.
std::string InfoLog(GLuint object, PFNGLGETSHADERIVPROC getParameter,
                    PFNGLGETSHADERINFOLOGPROC getLog)
{
    GLint logLength = 0;
    getParameter(object, GL_INFO_LOG_LENGTH, &logLength);
    std::vector<char> log(static_cast<size_t>(logLength > 0 ? logLength : 0));
    if (!log.empty())
    {
        getLog(object, logLength, nullptr, log.data());
    }
    size_t length = 0;
    while (length < log.size() && log[length] != '\0')
    {
        ++length;
    }
    return std::string(log.data(), length);
}

} // namespace

namespace
{

// One stage from its file. A failure keeps its message (the file message or the
// compile log, which may be empty) and notes which file it concerns.
GLuint CompileStage(const QString& file, std::vector<char>& source, GLenum type)
{
    const std::string what = std::string("the ") +
                             (type == GL_VERTEX_SHADER ? "vertex" : "fragment") + " shader \"" +
                             file.toStdString() + "\"";
    try
    {
        ReadFileContents(file.toStdString(), source, false);
    }
    catch (const std::string& message)
    {
        if (message.find("\"" + file.toStdString() + "\"") != std::string::npos)
        {
            throw; // names the file already
        }
        throw NotedError<std::string>(message, "the file is " + what);
    }
    try
    {
        return CompileShader(source, type);
    }
    catch (const std::string& log)
    {
        throw NotedError<std::string>(log, source.empty() ? what + " is empty" : "in " + what);
    }
}

} // namespace

GLuint LinkShaderProgram(const std::function<GLuint()>& compileVertex,
                         const std::function<GLuint()>& compileFragment)
{
    const GLuint vertexShader = compileVertex();
    GLuint fragmentShader = 0;
    try
    {
        fragmentShader = compileFragment();
    }
    catch (...)
    {
        glDeleteShader(vertexShader);
        throw;
    }

    const GLuint program = glCreateProgram();
    glAttachShader(program, vertexShader);
    glAttachShader(program, fragmentShader);
    // Flagged for deletion now, freed with the program: no shader object outlives
    // this call on its own.
    glDeleteShader(vertexShader);
    glDeleteShader(fragmentShader);
    glLinkProgram(program);

    GLint linked = 1;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked)
    {
        return program;
    }
    const std::string log = InfoLog(program, glGetProgramiv, glGetProgramInfoLog);
    glDeleteProgram(program);
    throw log;
}

GLuint LoadShaderProgram(QString vertexFile, QString fragmentFile)
{
    std::vector<char> source;
    return LinkShaderProgram([&] { return CompileStage(vertexFile, source, GL_VERTEX_SHADER); }, [&]
                             { return CompileStage(fragmentFile, source, GL_FRAGMENT_SHADER); });
}

GLuint CreateShaderProgram(const std::string& vertexSource, const std::string& fragmentSource)
{
    const auto compile = [](const std::string& text, GLenum type)
    { return CompileShader(std::vector<char>(text.begin(), text.end()), type); };
    return LinkShaderProgram([&] { return compile(vertexSource, GL_VERTEX_SHADER); },
                             [&] { return compile(fragmentSource, GL_FRAGMENT_SHADER); });
}

GLuint CompileShader(const std::vector<char>& source, GLenum type)
{
    const GLuint shader = glCreateShader(type);
    const GLchar* text = source.data();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);

    GLint compiled = 1;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled)
    {
        return shader;
    }
    const std::string log = InfoLog(shader, glGetShaderiv, glGetShaderInfoLog);
    glDeleteShader(shader);
    throw log;
}

void ReadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary)
{
    try
    {
        LoadFileContents(fileName, buffer, binary);
    }
    catch (const std::runtime_error& e)
    {
        throw std::string(e.what());
    }
}
