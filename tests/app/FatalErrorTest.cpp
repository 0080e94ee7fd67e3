// Whatever start-up or a frame throws becomes one readable message.
#include "app/FatalError.h"
#include "clw/CLWException.h"
#include "util/ErrorNote.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{

std::string MessageOf(void (*thrower)())
{
    try
    {
        thrower();
    }
    catch (...)
    {
        return DescribeException(std::current_exception());
    }
    return "nothing thrown";
}

TEST(FatalError, DescribesEveryKindOfThrownError)
{
    EXPECT_EQ(MessageOf([] { throw std::runtime_error("Cannot read the contents of a file"); }),
              "Cannot read the contents of a file");
    // The shader loader throws its info log as a plain string.
    EXPECT_EQ(MessageOf([] { throw std::string("0:1(1): error: syntax error"); }),
              "0:1(1): error: syntax error");
    EXPECT_EQ(MessageOf([] { throw 42; }), "unknown error");
}

TEST(FatalError, ReportsOnOneLineWithTheProgramName)
{
    testing::internal::CaptureStderr();
    try
    {
        throw std::runtime_error("No such kernel in program");
    }
    catch (...)
    {
        ReportFatalError();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "vertexshadows: No such kernel in program\n");
}

TEST(FatalError, ANoteNamingTheFileGoesOnALineOfItsOwn)
{
    testing::internal::CaptureStderr();
    try
    {
        throw NotedError<CLWException>(CLWException(-30, "clCreateKernel failed"),
                                       "in the kernel source \"kernel.cl\"");
    }
    catch (...)
    {
        ReportFatalError();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vertexshadows: clCreateKernel failed\n"
              "vertexshadows: in the kernel source \"kernel.cl\"\n");

    // A compiler that fails without a log: the note alone says what happened.
    testing::internal::CaptureStderr();
    try
    {
        throw NotedError<std::string>(std::string(), "the vertex shader \"a.txt\" is empty");
    }
    catch (...)
    {
        ReportFatalError();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "vertexshadows: the vertex shader \"a.txt\" is empty\n");
}

} // namespace
