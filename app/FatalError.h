#pragma once
// What the user sees when start-up or a frame fails: one line on stderr,
// "vertexshadows: " and the message, and exit status 1.
#include <exception>
#include <string>

// The message of a caught exception, whatever was thrown: a std::exception (the
// OpenCL wrapper's and the scene's errors), or the std::string the shader loader throws.
std::string DescribeException(std::exception_ptr error);

// Prints the one line for the exception being handled. Call from a catch block.
void ReportFatalError();
