#include "Textures.h"

#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>

namespace scenegen
{
namespace
{

struct Rgb
{
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Scale(Rgb a, double s)
{
    return {a.r * s, a.g * s, a.b * s};
}

// A 32-bit integer hash (lowbias32): the same numbers on every machine, unlike the
// distributions of <random>.
std::uint32_t Hash(std::uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double Random(int a, int b, int seed)
{
    const std::uint32_t h = Hash(static_cast<std::uint32_t>(a) * 73856093U ^
                                 Hash(static_cast<std::uint32_t>(b) * 19349663U ^
                                      static_cast<std::uint32_t>(seed) * 83492791U));
    return (h & 0xffffff) / double(0x1000000);
}

int Wrap(int i, int period)
{
    return ((i % period) + period) % period;
}

// Value noise on a lattice that repeats every period cells, so that textures tile.
double Noise(double x, double y, int periodX, int periodY, int seed)
{
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    auto v = [&](int i, int j)
    { return Random(Wrap(x0 + i, periodX), Wrap(y0 + j, periodY), seed); };
    const double a = v(0, 0) + (v(1, 0) - v(0, 0)) * sx;
    const double b = v(0, 1) + (v(1, 1) - v(0, 1)) * sx;
    return a + (b - a) * sy;
}

// Fractal noise in [0, 1] over a unit square (u, v in [0, 1)) that tiles.
double Fbm(double u, double v, int baseCells, int octaves, int seed)
{
    double sum = 0, amplitude = 0.5, total = 0;
    int cells = baseCells;
    for (int o = 0; o < octaves; ++o)
    {
        sum += amplitude * Noise(u * cells, v * cells, cells, cells, seed + o * 101);
        total += amplitude;
        amplitude *= 0.5;
        cells *= 2;
    }
    return sum / total;
}

// Paints width x height pixels through shade(x, y) (x to the right, y upward, both in
// pixels) and saves the image.
bool Paint(const std::string& path, FREE_IMAGE_FORMAT format, int flags, int width, int height,
           const std::function<Rgb(int, int)>& shade)
{
    FIBITMAP* image = FreeImage_Allocate(width, height, 24);
    if (!image)
    {
        return false;
    }
    for (int y = 0; y < height; ++y)
    {
        BYTE* row = FreeImage_GetScanLine(image, y);
        for (int x = 0; x < width; ++x)
        {
            const Rgb c = shade(x, y);
            auto byte = [](double v)
            { return static_cast<BYTE>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
            row[3 * x + FI_RGBA_RED] = byte(c.r);
            row[3 * x + FI_RGBA_GREEN] = byte(c.g);
            row[3 * x + FI_RGBA_BLUE] = byte(c.b);
        }
    }
    const bool saved = FreeImage_Save(format, image, path.c_str(), flags) != 0;
    FreeImage_Unload(image);
    return saved;
}

} // namespace

bool WriteTileTexture(const std::string& path)
{
    const int size = 512, tiles = 4, cell = size / tiles;
    return Paint(path, FIF_PNG, PNG_Z_BEST_COMPRESSION, size, size,
                 [&](int x, int y)
                 {
                     const int tx = x / cell, ty = y / cell;
                     const int gx = x % cell, gy = y % cell;
                     const int edge = std::min({gx, gy, cell - 1 - gx, cell - 1 - gy});
                     const double u = double(x) / size, v = double(y) / size;
                     const double grain = Fbm(u, v, 16, 4, 7);
                     if (edge < 3)
                     {
                         // Grout between the tiles.
                         return Scale(Rgb{0.74, 0.71, 0.64}, 0.85 + 0.3 * grain);
                     }
                     const double tint = Random(tx, ty, 3);
                     const Rgb light = {0.80, 0.50, 0.34}, dark = {0.62, 0.33, 0.22};
                     Rgb c = Mix(light, dark, 0.25 + 0.5 * tint);
                     if ((tx + ty) % 2)
                     {
                         c = Scale(c, 0.9);
                     }
                     const double bevel = edge < 8 ? 0.88 + 0.015 * edge : 1.0;
                     const double spots = Fbm(u, v, 32, 3, 11) > 0.68 ? 0.9 : 1.0;
                     return Scale(c, (0.82 + 0.36 * grain) * bevel * spots);
                 });
}

bool WriteStoneTexture(const std::string& path)
{
    const int size = 512, rows = 4, blocksPerRow = 2;
    const int rowHeight = size / rows, blockWidth = size / blocksPerRow;
    return Paint(path, FIF_JPEG, 90, size, size,
                 [&](int x, int y)
                 {
                     const int row = y / rowHeight;
                     const int shifted = x + (row % 2) * blockWidth / 2;
                     const int block = (shifted / blockWidth) % blocksPerRow;
                     const int bx = shifted % blockWidth, by = y % rowHeight;
                     const double u = double(x) / size, v = double(y) / size;
                     const double coarse = Fbm(u, v, 4, 5, 21);
                     const double fine = Fbm(u, v, 64, 2, 23);
                     const int edge = std::min({bx, by, blockWidth - 1 - bx, rowHeight - 1 - by});
                     if (edge < 3)
                     {
                         return Scale(Rgb{0.55, 0.50, 0.43}, 0.9 + 0.2 * fine);
                     }
                     const double tint = Random(block, row, 5);
                     Rgb c = Mix(Rgb{0.86, 0.80, 0.66}, Rgb{0.74, 0.66, 0.52}, tint);
                     // Faint bedding layers of sandstone.
                     const double layers = 0.5 + 0.5 * std::sin((v * 24 + coarse * 3) * 3.14159);
                     c = Mix(c, Scale(c, 0.9), 0.35 * layers);
                     const double chisel = edge < 10 ? 0.93 + 0.007 * edge : 1.0;
                     return Scale(c, (0.8 + 0.3 * coarse + 0.08 * (fine - 0.5)) * chisel);
                 });
}

bool WriteWoodTexture(const std::string& path)
{
    const int size = 256, planks = 4, plankWidth = size / planks;
    return Paint(path, FIF_TARGA, TARGA_SAVE_RLE, size, size,
                 [&](int x, int y)
                 {
                     const int plank = x / plankWidth, px = x % plankWidth;
                     const double u = double(x) / size, v = double(y) / size;
                     const double warp = Fbm(u, v, 4, 4, 31 + plank);
                     // Grain lines run along the plank (the v direction).
                     const double rings = std::sin((px * 0.35 + warp * 14 + plank * 3.7) * 1.3);
                     const double ring = std::pow(0.5 + 0.5 * rings, 3.0);
                     Rgb c = Mix(Rgb{0.60, 0.40, 0.23}, Rgb{0.36, 0.21, 0.11}, 0.2 + 0.6 * ring);
                     c = Scale(c, 0.85 + 0.3 * Random(plank, 0, 37));
                     if (px < 2 || px >= plankWidth - 1)
                     {
                         c = Scale(c, 0.45); // the seam between two planks
                     }
                     const double streak = Fbm(u * 0.25, v, 2, 3, 41);
                     return Scale(c, 0.85 + 0.3 * streak);
                 });
}

bool WriteFabricTexture(const std::string& path)
{
    const int width = 384, height = 288, thread = 4, stripe = 96;
    return Paint(path, FIF_PNG, PNG_Z_BEST_COMPRESSION, width, height,
                 [&](int x, int y)
                 {
                     // Tartan: bands of colour in both directions; both image sides are
                     // whole multiples of the band period, so the cloth tiles.
                     auto band = [&](int p)
                     {
                         const int q = p % stripe;
                         if (q < 12)
                         {
                             return Rgb{0.10, 0.22, 0.14}; // green
                         }
                         if (q >= 44 && q < 48)
                         {
                             return Rgb{0.85, 0.70, 0.25}; // gold
                         }
                         return Rgb{0.62, 0.12, 0.12}; // red
                     };
                     const bool warpOnTop = ((x / thread) + (y / thread)) % 2 == 0;
                     // Each visible thread is rounded: darker at its edges.
                     const int across = warpOnTop ? x % thread : y % thread;
                     const double round = 0.75 + 0.25 * std::sin(3.14159 * (across + 0.5) / thread);
                     const Rgb c = warpOnTop ? band(x) : band(y);
                     const Rgb under = warpOnTop ? band(y) : band(x);
                     const double fuzz = Fbm(double(x) / width, double(y) / height, 24, 2, 51);
                     return Scale(Mix(c, under, 0.25), round * (0.9 + 0.2 * fuzz));
                 });
}

} // namespace scenegen
