#pragma once
// Scratch files for tests: a fresh directory of the test's own, removed with everything in
// it when the object goes, and a writer that puts exactly the given bytes in a file.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace test_support
{

// Writes `bytes` to `path` as they are (no newline translation), replacing the file.
inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file)
    {
        throw std::runtime_error("cannot write the scratch file " + path);
    }
}

class ScratchDir
{
public:
    ScratchDir()
    {
        std::string pattern = ::testing::TempDir() + "vs-scratch-XXXXXX";
        if (!mkdtemp(pattern.data()))
        {
            throw std::runtime_error("cannot create a scratch directory from " + pattern);
        }
        m_root = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Root() const { return m_root; }
    // `name` inside the directory; the directory itself (with a final slash) for "".
    std::string Path(const std::string& name) const { return m_root + "/" + name; }

private:
    std::string m_root;
};

} // namespace test_support
