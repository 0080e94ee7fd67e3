#pragma once
// Importing a scene file in a child process of its own. The importer is a large parser
// of untrusted files: a malformed file can make it abort, crash, loop or allocate without
// bound. In a child it can only end the child; the child hands the imported arrays back
// through a memory file, and they are checked before they are used.
#include "import/SceneImport.h"

#include <chrono>
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

// An import running in the child, started before its scene is needed, so that other
// start-up work runs beside it; ImportSceneContained is the start and the take at once.
// An import not taken is killed and reaped when it goes.
class StartedImport
{
public:
    // Starts the child on path. Throws std::runtime_error naming the file where it cannot
    // (no memory file, no helper).
    explicit StartedImport(const std::string& path);
    ~StartedImport();
    StartedImport(const StartedImport&) = delete;
    StartedImport& operator=(const StartedImport&) = delete;

    const std::string& Path() const { return m_path; }
    // Waits for the child within its time limit and takes its scene, or throws, as
    // ImportSceneContained says. Once: a second take throws.
    ImportedScene Take(const std::function<void(const char* step)>& stepDone = {});

private:
    void CloseFiles();

    std::string m_path;
    int m_result = -1; // the memory file the child writes its result to
    int m_errors = -1; // and its standard error
    std::string m_helper;
    std::uint64_t m_memoryLimit = 0;
    int m_child = 0; // the child's process id until it is reaped
    std::chrono::steady_clock::time_point m_deadline;
};

// The import child's side: imports argv's file with the limits it names and writes the
// result, or the reason of the failure, to the memory file it inherits. The whole main
// of the import helper.
int RunImportChild(int argc, char** argv);

// The memory that the import child may map: kImportMemoryShare of the machine's memory.
std::uint64_t ImportMemoryLimit();
