#pragma once
// The courtyard's diffuse textures, painted from deterministic noise so that every
// run writes the same images.
#include <string>

namespace scenegen
{

// Each writes one image file and returns false when FreeImage cannot save it.
bool WriteTileTexture(const std::string& path);   // terracotta floor tiles, 512 x 512 PNG
bool WriteStoneTexture(const std::string& path);  // sandstone ashlar, 512 x 512 JPEG
bool WriteWoodTexture(const std::string& path);   // planks with grain, 256 x 256 TGA
bool WriteFabricTexture(const std::string& path); // woven tartan, 384 x 288 PNG

} // namespace scenegen
