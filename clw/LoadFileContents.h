#pragma once
#include <cstddef>
#include <string>
#include <vector>

// The largest file LoadFileContents reads: far beyond any kernel source, small enough that
// a wrong path cannot eat the machine's memory.
constexpr std::size_t kMaxLoadedFileBytes = std::size_t{64} << 20;

// Reads the whole file `fileName` into `buffer` (replacing what it held), in binary mode
// when `binary` is set and in text mode otherwise. Throws std::runtime_error whose message
// begins with "Cannot read the contents of a file": exactly that when the file cannot be
// opened, followed by the reason for something that is not a regular file (a directory, a
// FIFO, a device) or a file larger than kMaxLoadedFileBytes. Such files are refused before
// anything is read.
void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary);
