#include "clw/LoadFileContents.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace
{
const char* const kCannotRead = "Cannot read the contents of a file";
} // namespace

void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary)
{
    // Looked at before it is opened: opening a FIFO would wait for a writer, and a
    // directory opens fine but reports a size of 2^63 - 1 on ext4.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(fileName, error);
    if (error || !std::filesystem::exists(status))
    {
        throw std::runtime_error(kCannotRead);
    }
    if (!std::filesystem::is_regular_file(status))
    {
        throw std::runtime_error(std::string(kCannotRead) + ": \"" + fileName +
                                 "\" is not a regular file");
    }
    const std::uintmax_t size = std::filesystem::file_size(fileName, error);
    if (error)
    {
        throw std::runtime_error(kCannotRead);
    }
    if (size > kMaxLoadedFileBytes)
    {
        throw std::runtime_error(std::string(kCannotRead) + ": \"" + fileName +
                                 "\" is larger than " + std::to_string(kMaxLoadedFileBytes) +
                                 " bytes");
    }

    std::ios::openmode mode = std::ios::in;
    if (binary)
    {
        mode |= std::ios::binary;
    }
    std::ifstream in(fileName, mode);
    if (!in)
    {
        throw std::runtime_error(kCannotRead);
    }
    buffer.assign(static_cast<size_t>(size), '\0');
    in.read(buffer.data(), static_cast<std::streamsize>(size));
    // A file that shrank since it was measured gives what was there.
    buffer.resize(static_cast<size_t>(in.gcount()));
}
