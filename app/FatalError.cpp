#include "app/FatalError.h"

#include <cstdio>

std::string DescribeException(std::exception_ptr error)
{
    try
    {
        std::rethrow_exception(error);
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    catch (const std::string& message)
    {
        return message;
    }
    catch (const char* message)
    {
        return message ? message : "";
    }
    catch (...)
    {
        return "unknown error";
    }
}

void ReportFatalError()
{
    const std::string message = DescribeException(std::current_exception());
    std::fprintf(stderr, "vertexshadows: %s\n", message.c_str());
    std::fflush(stderr);
}
