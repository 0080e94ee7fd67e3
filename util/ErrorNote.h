#pragma once
// A note that a thrown error carries beside its message: which file or kernel the
// failure concerns. The messages themselves are fixed texts ("clCreateProgramWithSource
// failed", a compiler's log, which may be empty) that name neither; whoever reports the
// error shows the note on a line of its own.
#include <string>
#include <utility>

class ErrorNote
{
public:
    explicit ErrorNote(std::string note) : m_note(std::move(note)) {}
    virtual ~ErrorNote() = default;
    const std::string& GetNote() const { return m_note; }

private:
    std::string m_note;
};

// Thrown in place of an error of type Error: caught as an Error it is that error, with
// the same message; caught as an ErrorNote it gives the note.
template <class Error> class NotedError : public Error, public ErrorNote
{
public:
    NotedError(const Error& error, std::string note) : Error(error), ErrorNote(std::move(note)) {}
};
