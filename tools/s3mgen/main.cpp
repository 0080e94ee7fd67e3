// Writes our background music, "Windwalker", as a Scream Tracker 3 module.
//
//   vs_s3mgen data/WINDWLKR.S3M
//
// Everything is computed from fixed numbers (no clock, no system random source), so the
// same build writes the same bytes every time.
#include "S3mModule.h"
#include "Song.h"

#include <cstdio>
#include <exception>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s OUTPUT.S3M\n", argv[0]);
        return 2;
    }
    try
    {
        const auto bytes = s3m::Write(song::Compose());
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush())
        {
            std::fprintf(stderr, "vs_s3mgen: cannot write %s\n", argv[1]);
            return 1;
        }
        std::printf("vs_s3mgen: wrote %s (%zu bytes)\n", argv[1], bytes.size());
        return 0;
    }
    catch (const std::exception& e)
    {
        std::fprintf(stderr, "vs_s3mgen: %s\n", e.what());
        return 1;
    }
}
