#include "clw/LoadFileContents.h"

#include <fstream>
#include <stdexcept>

void LoadFileContents(const std::string& fileName, std::vector<char>& buffer, bool binary)
{
    std::ios::openmode mode = std::ios::in;
    if (binary)
    {
        mode |= std::ios::binary;
    }
    std::ifstream in(fileName, mode);
    if (in.fail() || in.bad())
    {
        throw std::runtime_error("Cannot read the contents of a file");
    }

    buffer.clear();
    std::streampos start = in.tellg();
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg() - start;
    in.seekg(start);
    buffer.resize(static_cast<size_t>(size));
    // One read of the measured size; a short read (a file that shrank meanwhile) is not
    // looked for, the rest of the buffer then stays zero.
    in.read(buffer.data(), size);
}
