#include "import/SceneFiles.h"

#include "util/LoadFileContents.h"

#include <assimp/IOSystem.hpp>
#include <assimp/MemoryIOWrapper.h>

#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace
{

const char* const kMissing = "it does not exist";

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
    const FileReadResult read = ReadRegularFile(path, buffer, maxBytes);
    switch (read.refusal)
    {
    case FileRefusal::None:
        return std::string();
    case FileRefusal::Missing:
        return kMissing;
    case FileRefusal::Unreadable:
        return std::string("it cannot be read (") + std::strerror(read.error) + ")";
    case FileRefusal::Directory:
        return "it is a directory, not a file";
    case FileRefusal::NotRegular:
        return "it is not a regular file";
    case FileRefusal::TooLarge:
        return "it is larger than " + std::to_string(maxBytes >> 20) + " MiB";
    }
    return "it cannot be read";
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
