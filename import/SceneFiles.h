#pragma once
// Reading the files a scene consists of (the scene itself, its material library, its
// images) without trusting what stands at their paths. The importer and the image
// decoder would open anything: a FIFO blocks them for ever, a directory or a device
// gives them nonsense, a huge file eats the machine's memory. Every file reaches them
// through here instead, read whole into memory after it has been checked.
#include <assimp/IOSystem.hpp>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The largest scene, material or image file that is read: far beyond any real scene's
// files, small enough that a wrong path cannot exhaust memory.
constexpr std::size_t kMaxSceneFileBytes = std::size_t{256} << 20;

// Reads the whole file at path into buffer through util's ReadRegularFile, which refuses,
// without blocking and without reading, what is not a regular file (a FIFO, a directory, a
// device) and a file larger than maxBytes. Returns an empty string on success; otherwise the
// reason, a phrase such as "it is not a regular file" that follows the file's name in a
// message.
std::string ReadSceneFile(const std::string& path, std::vector<char>& buffer,
                          std::size_t maxBytes = kMaxSceneFileBytes);

// An importer file system that reads every file through ReadSceneFile, each file once
// however often the importer opens it. A file that does not exist is reported to the
// importer as missing, as its own file system would; any other refusal throws
// std::runtime_error naming the file and the reason, which the importer turns into its
// error text.
class SceneFileSystem : public Assimp::IOSystem
{
public:
    // Reads path into the cache now; the result of ReadSceneFile.
    std::string Load(const std::string& path);

    bool Exists(const char* file) const override;
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* file, const char* mode) override;
    void Close(Assimp::IOStream* stream) override;

private:
    std::map<std::string, std::shared_ptr<const std::vector<char>>> m_files;
};
