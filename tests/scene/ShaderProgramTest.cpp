// GLSL programs from source files: the shipped shaders and each way of failing.
#include "scene/ShaderProgram.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

using fixtures::ScratchDir;
using fixtures::WriteFile;

namespace
{

// A minimal pair that links; the fragment stage reads gl_FragCoord, which a vertex
// stage does not have.
const char* kVertex = "#version 330\nlayout(location = 0) in vec3 position;\nout vec2 uv;\n"
                      "void main() { uv = position.xy; gl_Position = vec4(position, 1.0); }\n";
const char* kFragment = "#version 330\nin vec2 uv;\nout vec4 c;\n"
                        "void main() { c = vec4(uv, gl_FragCoord.x, 1.0); }\n";

class ShaderProgramTest : public fixtures::GlTest
{
protected:
    // The string thrown by LoadShaderProgram, or "(none)".
    std::string Thrown(const std::string& vertex, const std::string& fragment)
    {
        try
        {
            GLuint program =
                LoadShaderProgram(QString::fromStdString(vertex), QString::fromStdString(fragment));
            glDeleteProgram(program);
        }
        catch (const std::string& message)
        {
            return message;
        }
        return "(none)";
    }

    ScratchDir dir;
};

} // namespace

TEST_F(ShaderProgramTest, ShippedShadersLinkWithTheirInterface)
{
    // Tests run in the data directory, where the program finds its shaders.
    const GLuint program = LoadShaderProgram("VertexShader.txt", "FragmentShader.txt");
    ASSERT_NE(program, 0u);
    EXPECT_GE(glGetUniformLocation(program, "matViewProj"), 0);
    EXPECT_GE(glGetUniformLocation(program, "g_Texture"), 0);
    EXPECT_EQ(glGetAttribLocation(program, "position"), 0);
    EXPECT_EQ(glGetAttribLocation(program, "texCoord"), 2);
    EXPECT_EQ(glGetAttribLocation(program, "color"), 3);

    // The shader objects live on only through the program.
    GLint attached = 0;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 2);
    GLuint shaders[2] = {0, 0};
    glGetAttachedShaders(program, 2, nullptr, shaders);
    GLint flagged = 0;
    glGetShaderiv(shaders[0], GL_DELETE_STATUS, &flagged);
    EXPECT_EQ(flagged, GL_TRUE);
    glDeleteProgram(program);
    EXPECT_FALSE(glIsShader(shaders[0]));
}

TEST_F(ShaderProgramTest, MissingFileThrowsTheFileMessage)
{
    WriteFile(dir.Path("f.txt"), kFragment);
    EXPECT_EQ(Thrown(dir.Path("missing.txt"), dir.Path("f.txt")),
              "Cannot read the contents of a file");
    WriteFile(dir.Path("v.txt"), kVertex);
    EXPECT_EQ(Thrown(dir.Path("v.txt"), dir.Path("missing.txt")),
              "Cannot read the contents of a file");
}

TEST_F(ShaderProgramTest, AFailedFragmentStageLeavesNoShaderBehind)
{
    WriteFile(dir.Path("v.txt"), kVertex);
    WriteFile(dir.Path("bad.txt"), "#version 330\nvoid main() { this is not glsl; }\n");
    for (const std::string& fragment : {dir.Path("missing.txt"), dir.Path("bad.txt")})
    {
        EXPECT_NE(Thrown(dir.Path("v.txt"), fragment), "(none)") << fragment;
    }
    // The context is fresh, so a vertex stage left behind would hold one of the first
    // names.
    for (GLuint name = 1; name <= 64; ++name)
    {
        EXPECT_FALSE(glIsShader(name)) << name;
    }
}

TEST_F(ShaderProgramTest, CompileErrorThrowsTheLog)
{
    WriteFile(dir.Path("v.txt"), "#version 330\nvoid main() { this is not glsl; }\n");
    WriteFile(dir.Path("f.txt"), kFragment);
    const std::string log = Thrown(dir.Path("v.txt"), dir.Path("f.txt"));
    EXPECT_NE(log, "(none)");
    EXPECT_NE(log.find("error"), std::string::npos) << log;
    EXPECT_EQ(log.find('\0'), std::string::npos);
}

TEST_F(ShaderProgramTest, ArgumentOrderDecidesTheStage)
{
    WriteFile(dir.Path("v.txt"), kVertex);
    WriteFile(dir.Path("f.txt"), kFragment);
    EXPECT_EQ(Thrown(dir.Path("v.txt"), dir.Path("f.txt")), "(none)");
    // Swapped, the fragment source is compiled as the vertex stage and fails on
    // gl_FragCoord: the first argument is the vertex stage whatever the file is.
    // (Mesa 22.3 remembers sources that compiled before whatever their stage and
    // then fails only at the link, reading freed memory; so the swapped sources
    // differ by a comment.)
    WriteFile(dir.Path("f2.txt"), std::string(kFragment) + "// as the vertex stage\n");
    WriteFile(dir.Path("v2.txt"), std::string(kVertex) + "// as the fragment stage\n");
    const std::string swapped = Thrown(dir.Path("f2.txt"), dir.Path("v2.txt"));
    EXPECT_NE(swapped.find("gl_FragCoord"), std::string::npos) << swapped;
}

TEST_F(ShaderProgramTest, LinkErrorThrowsTheLog)
{
    // Both stages compile; the vertex stage has no main, so the link fails.
    WriteFile(dir.Path("v.txt"), "#version 330\nvec4 helper() { return vec4(0.0); }\n");
    WriteFile(dir.Path("f.txt"), kFragment);
    const std::string log = Thrown(dir.Path("v.txt"), dir.Path("f.txt"));
    EXPECT_NE(log, "(none)");
    EXPECT_FALSE(log.empty());
}
