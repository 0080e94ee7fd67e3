#pragma once
// Importing a scene file in a child process of its own. The importer is a large parser
// of untrusted files: a malformed file can make it abort, crash, loop or allocate without
// bound. In a child it can only end the child; the child hands the imported arrays back
// through a memory file, and they are checked before they are used.
#include "import/SceneImport.h"

#include <cstdint>
#include <functional>
#include <string>

// The share of the machine's memory that the import child may map. A scene whose
// import needs more is refused.
constexpr double kImportMemoryShare = 0.5;
// How long the import child may run before it is killed.
constexpr int kImportSeconds = 120;

// ImportScene (path), run in the import helper (the executable vertexshadows-import beside
// the running program, else the one of the build tree) with a limit on its memory and its
// time. Throws std::runtime_error with one line naming the file when the import fails in
// any way: the importer's own refusal, the child ending by a signal, passing its memory or
// time limit, or handing back arrays that are inconsistent (sizes, coordinates that are
// not finite). stepDone, where given, is told "import" when the child has ended well and
// "hand-back" when its arrays are checked and taken over.
ImportedScene ImportSceneContained(const std::string& path,
                                   const std::function<void(const char* step)>& stepDone = {});

// The import child's side: imports argv's file with the limits it names and writes the
// result, or the reason of the failure, to the memory file it inherits. The whole main
// of the import helper.
int RunImportChild(int argc, char** argv);

// The memory that the import child may map: kImportMemoryShare of the machine's memory.
std::uint64_t ImportMemoryLimit();
