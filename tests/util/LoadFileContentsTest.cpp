// The checked file reader: every byte of a regular file, and a refusal with a fixed message
// for what is missing, is not a regular file or is too large, decided before reading.
#include "util/LoadFileContents.h"

#include "support/ScratchDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using test_support::ScratchDir;
using test_support::WriteFile;

// The message LoadFileContents throws for `path`, or "" when it reads the file.
std::string LoadFailure(const std::string& path)
{
    std::vector<char> buffer;
    try
    {
        LoadFileContents(path, buffer, false);
    }
    catch (const std::runtime_error& error)
    {
        return error.what();
    }
    return "";
}

TEST(LoadFileContents, ReadsEveryByteAndReplacesTheBuffer)
{
    ScratchDir dir;
    const std::string contents("line one\nline two\n\0binary tail", 29);
    WriteFile(dir.Path("bytes"), contents);
    std::vector<char> buffer(100, 'x');
    LoadFileContents(dir.Path("bytes"), buffer, true);
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), contents);
    LoadFileContents(dir.Path("bytes"), buffer, false); // text mode reads the same bytes
    EXPECT_EQ(std::string(buffer.begin(), buffer.end()), contents);

    WriteFile(dir.Path("empty"), "");
    LoadFileContents(dir.Path("empty"), buffer, false);
    EXPECT_TRUE(buffer.empty());
}

TEST(LoadFileContents, AMissingFileThrowsTheBareMessage)
{
    EXPECT_EQ(LoadFailure("/no/such/file"), "Cannot read the contents of a file");
}

TEST(LoadFileContents, ADirectoryOrAFifoIsRefusedByNameWithoutWaitingForAWriter)
{
    // ext4 reports a directory's size as 2^63 - 1, and opening a FIFO for reading waits
    // for a writer that never comes.
    ScratchDir dir;
    ASSERT_EQ(mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    for (const std::string& path : {dir.Path("fifo"), dir.Root()})
    {
        const std::string message = LoadFailure(path);
        EXPECT_EQ(message.rfind("Cannot read the contents of a file", 0), 0u) << message;
        EXPECT_NE(message.find("\"" + path + "\" is not a regular file"), std::string::npos)
            << message;
    }
}

TEST(LoadFileContents, AFileOverTheLimitIsRefusedBeforeItIsRead)
{
    // Sparse: the file takes no disk space.
    ScratchDir dir;
    const std::string path = dir.Path("huge");
    WriteFile(path, "");
    std::filesystem::resize_file(path, kMaxLoadedFileBytes + 1);
    const std::string message = LoadFailure(path);
    EXPECT_NE(message.find("is larger than"), std::string::npos) << message;

    std::filesystem::resize_file(path, kMaxLoadedFileBytes);
    EXPECT_EQ(LoadFailure(path), "");
}

} // namespace
