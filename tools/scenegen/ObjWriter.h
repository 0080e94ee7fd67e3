#pragma once
// Writes a MeshBuilder's faces as a Wavefront OBJ scene with its material library.
#include "Geometry.h"

#include <string>

namespace scenegen
{

// Writes directory/objName and directory/mtlName; returns false on an I/O error.
bool WriteObj(const MeshBuilder& mesh, const std::string& directory, const std::string& objName,
              const std::string& mtlName);

} // namespace scenegen
