#include "scene/SceneFiles.h"

#include <assimp/IOSystem.hpp>
#include <assimp/MemoryIOWrapper.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace
{

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

const char* const kMissing = "it does not exist";

std::string Unreadable(int error)
{
    return std::string("it cannot be read (") + std::strerror(error) + ")";
}

// A file's bytes, shared by every stream the importer opens on it: the importer opens
// the scene several times (to pick a reader, then to read), and each open would
// otherwise read the whole file again.
using SharedBytes = std::shared_ptr<const std::vector<char>>;

class SharedMemoryStream : public Assimp::MemoryIOStream
{
public:
    explicit SharedMemoryStream(SharedBytes bytes)
        : MemoryIOStream(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size()),
          m_bytes(std::move(bytes))
    {
    }

private:
    SharedBytes m_bytes;
};

} // namespace

std::string ReadSceneFile(const std::string& path, std::vector<char>& buffer, std::size_t maxBytes)
{
    buffer.clear();
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a
    // writer; what was opened is then examined, not what stood at the path earlier.
    const FileDescriptor fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0)
    {
        return errno == ENOENT ? kMissing : Unreadable(errno);
    }
    struct stat status;
    if (fstat(fd.Get(), &status) != 0)
    {
        return Unreadable(errno);
    }
    if (S_ISDIR(status.st_mode))
    {
        return "it is a directory, not a file";
    }
    if (!S_ISREG(status.st_mode))
    {
        return "it is not a regular file";
    }
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes)
    {
        return "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
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
            return Unreadable(error);
        }
        if (got == 0)
        {
            break; // the file shrank since it was measured: take what is there
        }
        filled += static_cast<std::size_t>(got);
    }
    buffer.resize(filled);
    return std::string();
}

std::string SceneFileSystem::Load(const std::string& path)
{
    if (m_files.count(path))
    {
        return std::string();
    }
    auto bytes = std::make_shared<std::vector<char>>();
    const std::string reason = ReadSceneFile(path, *bytes);
    if (reason.empty())
    {
        m_files.emplace(path, std::move(bytes));
    }
    return reason;
}

bool SceneFileSystem::Exists(const char* file) const
{
    struct stat status;
    return stat(file, &status) == 0;
}

Assimp::IOStream* SceneFileSystem::Open(const char* file, const char* mode)
{
    if (std::strchr(mode, 'w') || std::strchr(mode, 'a'))
    {
        return nullptr; // the import only ever reads
    }
    const std::string reason = Load(file);
    if (reason == kMissing)
    {
        return nullptr; // the importer decides what a missing file means
    }
    if (!reason.empty())
    {
        throw std::runtime_error("cannot read \"" + std::string(file) + "\": " + reason);
    }
    return new SharedMemoryStream(m_files.at(file));
}

void SceneFileSystem::Close(Assimp::IOStream* stream)
{
    delete stream;
}
