#include "util/LoadFileContents.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace
{

const char* const kCannotRead = "Cannot read the contents of a file";

// Closes a file descriptor however the scope is left.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
        {
            close(m_fd);
        }
    }
    int Get() const { return m_fd; }

private:
    int m_fd;
};

FileReadResult Refused(FileRefusal refusal, int error = 0)
{
    return FileReadResult{refusal, error};
}

} // namespace

FileReadResult ReadRegularFile(const std::string& path, std::vector<char>& buffer,
                               std::size_t maxBytes)
{
    buffer.clear();
    const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        return errno == ENOENT ? Refused(FileRefusal::Missing)
                               : Refused(FileRefusal::Unreadable, errno);
    }
    struct stat status;
    if (fstat(fd.Get(), &status) != 0)
    {
        return Refused(FileRefusal::Unreadable, errno);
    }
    if (S_ISDIR(status.st_mode))
    {
        return Refused(FileRefusal::Directory);
    }
    if (!S_ISREG(status.st_mode))
    {
        return Refused(FileRefusal::NotRegular);
    }
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes)
    {
        return Refused(FileRefusal::TooLarge);
    }
    buffer.resize(static_cast<std::size_t>(status.st_size));
    std::size_t filled = 0;
    while (filled < buffer.size())
    {
        const ssize_t got = read(fd.Get(), buffer.data() + filled, buffer.size() - filled);
        if (got < 0 && errno == EINTR)
        {
            continue;
        }
        if (got < 0)
        {
            const int error = errno;
            buffer.clear();
            return Refused(FileRefusal::Unreadable, error);
        }
        if (got == 0)
        {
            break; // the file shrank since it was measured: take what is there
        }
        filled += static_cast<std::size_t>(got);
    }
    buffer.resize(filled);
    return FileReadResult{};
}

void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool /*binary*/)
{
    switch (ReadRegularFile(fileName, buffer, kMaxLoadedFileBytes).refusal)
    {
    case FileRefusal::None:
        return;
    case FileRefusal::Missing:
    case FileRefusal::Unreadable:
        throw std::runtime_error(kCannotRead);
    case FileRefusal::Directory:
    case FileRefusal::NotRegular:
        throw std::runtime_error(std::string(kCannotRead) + ": \"" + fileName +
                                 "\" is not a regular file");
    case FileRefusal::TooLarge:
        throw std::runtime_error(std::string(kCannotRead) + ": \"" + fileName +
                                 "\" is larger than " + std::to_string(kMaxLoadedFileBytes) +
                                 " bytes");
    }
    throw std::runtime_error(kCannotRead);
}
