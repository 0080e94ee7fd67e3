#pragma once
// The demo's own command line, read in one place into the one settings value that the
// window follows. Default settings are the demo without options: the shipped scene, its
// own detail, music, and frames until the window is closed.
#include <string>
#include <vector>

struct Settings
{
    // The scene file; empty for the shipped scene, OBJ/Scene.obj, which is not framed.
    std::string scene;
    // A plain floor under the scene's bounds.
    bool ground = false;
    // The largest triangle area after refinement, as a fraction of the square of the
    // scene's bounding-box diagonal; 0 for the scene's own default.
    double detail = 0.0;
    // Frames to run before printing their costs and exiting; 0 runs until closed.
    int frames = 0;
    // Where the last frame of a --frames run, or an F12 picture, is saved; empty lets
    // F12 choose a new name in the working directory.
    std::string screenshot;
    bool music = true;
    // Start with the per-pixel reference shown instead of the per-vertex shadows.
    bool reference = false;
    // Start with the refinement where the shadows fall, on a coarser mesh.
    bool refine = false;
};

// The usage line, without a trailing newline.
extern const char* const kUsage;

struct ParsedOptions
{
    enum class Action
    {
        Run,
        Help,
        Refuse,
    };
    Action action = Action::Run;
    Settings settings;
    // Why the command line was refused, for the user.
    std::string problem;
};

// Reads the demo's options from args (the program name left out). Options take their
// value as the next argument or after "=". With leaveUnknown, arguments that are not
// the demo's are skipped (they may be the toolkit's, read later); without, they are
// refused.
ParsedOptions ParseOptions(const std::vector<std::string>& args, bool leaveUnknown);

// Prints the problem and the usage line on stderr; returns the exit status for a
// refused command line, 2.
int RefuseCommandLine(const std::string& problem);
