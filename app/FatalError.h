#pragma once
// What the user sees when start-up or a frame fails: one line on stderr,
// "vertexshadows: " and the message, a second such line with the file or kernel
// concerned where the error notes one, and exit status 1.
#include <exception>
#include <string>

// The message of a caught exception, whatever was thrown: a std::exception (the
// OpenCL wrapper's and the scene's errors), or the std::string the shader loader throws.
std::string DescribeException(std::exception_ptr error);

// The note an error carries beside its message (the file or kernel it concerns), or
// an empty string.
std::string NoteOf(std::exception_ptr error);

// Prints the line for the exception being handled, and the line of its note where it
// has one. Call from a catch block.
void ReportFatalError();
