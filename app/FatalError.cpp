#include "app/FatalError.h"

#include "util/ErrorNote.h"

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

std::string NoteOf(std::exception_ptr error)
{
    try
    {
        std::rethrow_exception(error);
    }
    catch (const ErrorNote& note)
    {
        return note.GetNote();
    }
    catch (...)
    {
        return std::string();
    }
}

void ReportFatalError()
{
    std::string message = DescribeException(std::current_exception());
    // Compiler logs end with a line break of their own.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    {
        message.pop_back();
    }
    const std::string note = NoteOf(std::current_exception());
    // An empty message (a compiler that failed without a log) says nothing: the note
    // alone does.
    if (!message.empty() || note.empty())
    {
        std::fprintf(stderr, "vertexshadows: %s\n", message.c_str());
    }
    if (!note.empty())
    {
        std::fprintf(stderr, "vertexshadows: %s\n", note.c_str());
    }
    std::fflush(stderr);
}
