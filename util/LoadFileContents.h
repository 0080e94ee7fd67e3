#pragma once
#include <cstddef>
#include <string>
#include <vector>

// The largest file LoadFileContents reads: far beyond any kernel source, small enough that
// a wrong path cannot eat the machine's memory.
constexpr std::size_t kMaxLoadedFileBytes = std::size_t{64} << 20;

// Why ReadRegularFile read nothing.
enum class FileRefusal
{
    None,       // read
    Missing,    // nothing stands at the path
    Unreadable, // it cannot be opened or read (the error number says why)
    Directory,
    NotRegular, // a FIFO, a device, a socket
    TooLarge,   // larger than the limit given
};

struct FileReadResult
{
    FileRefusal refusal = FileRefusal::None;
    int error = 0; // errno, for FileRefusal::Unreadable
};

// Reads the whole file at path into buffer (replacing what it held; empty on a refusal). It
// is opened without blocking and examined as opened, so that a FIFO is refused at once
// instead of waiting for a writer, and what is checked is what is read; what is not a
// regular file, or is larger than maxBytes, is refused before anything is read. A file that
// shrinks while it is read gives what was there.
FileReadResult ReadRegularFile(const std::string& path, std::vector<char>& buffer,
                               std::size_t maxBytes);

// Reads the whole file `fileName` into `buffer` (replacing what it held) through
// ReadRegularFile; `binary` and text mode read the same bytes on this platform. Throws
// std::runtime_error whose message begins with "Cannot read the contents of a file":
// exactly that when the file cannot be opened, followed by the reason for something that is
// not a regular file (a directory, a FIFO, a device) or a file larger than
// kMaxLoadedFileBytes.
void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary);
