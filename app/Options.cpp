#include "app/Options.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

const char* const kUsage =
    "usage: vertexshadows [--scene FILE] [--ground] [--detail AREA] "
    "[--frames N] [--screenshot FILE.png] [--no-music] [--reference] [--refine] "
    "[--help]";

namespace
{

// The most frames a run may ask for: about a day at 100 frames a second, and far from
// the limit of the counters.
constexpr long kMaxFrames = 10000000;

bool EndsWithPng(const std::string& name)
{
    if (name.size() <= 4)
    {
        return false;
    }
    std::string suffix = name.substr(name.size() - 4);
    for (char& c : suffix)
    {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return suffix == ".png";
}

bool ParseFrames(const std::string& text, int& frames)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
    {
        return false;
    }
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno != 0 || value < 1 || value > kMaxFrames)
    {
        return false;
    }
    frames = static_cast<int>(value);
    return true;
}

bool ParseArea(const std::string& text, double& area)
{
    if (text.empty())
    {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    // Areas are fractions of the scene's squared size: anything from a millionth of a
    // millionth up to the whole scene is a choice someone could mean.
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 1e-12 || value > 1.0)
    {
        return false;
    }
    area = value;
    return true;
}

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string>& args, bool leaveUnknown)
{
    ParsedOptions result;
    Settings& settings = result.settings;
    auto refuse = [&](const std::string& problem)
    {
        result.action = ParsedOptions::Action::Refuse;
        result.problem = problem;
        return result;
    };

    for (size_t i = 0; i < args.size(); ++i)
    {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos)
        {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        const bool takesValue =
            name == "--scene" || name == "--detail" || name == "--frames" || name == "--screenshot";
        const bool isFlag = name == "--ground" || name == "--no-music" || name == "--reference" ||
                            name == "--refine" || name == "--help";
        if (!takesValue && !isFlag)
        {
            if (leaveUnknown)
            {
                continue;
            }
            return refuse("unknown option " + args[i]);
        }
        if (isFlag && hasValue)
        {
            return refuse(name + " takes no value");
        }
        if (takesValue && !hasValue)
        {
            if (i + 1 >= args.size())
            {
                return refuse(name + " needs a value");
            }
            value = args[++i];
        }

        if (name == "--help")
        {
            result.action = ParsedOptions::Action::Help;
            return result;
        }
        if (name == "--ground")
        {
            settings.ground = true;
        }
        else if (name == "--no-music")
        {
            settings.music = false;
        }
        else if (name == "--refine")
        {
            settings.refine = true;
        }
        else if (name == "--reference")
        {
            settings.reference = true;
        }
        else if (name == "--scene")
        {
            if (value.empty())
            {
                return refuse("--scene needs a file name");
            }
            settings.scene = value;
        }
        else if (name == "--detail")
        {
            if (!ParseArea(value, settings.detail))
            {
                return refuse("--detail needs an area between 1e-12 and 1, not \"" + value + "\"");
            }
        }
        else if (name == "--frames")
        {
            if (!ParseFrames(value, settings.frames))
            {
                return refuse("--frames needs a whole number of frames from 1 to " +
                              std::to_string(kMaxFrames) + ", not \"" + value + "\"");
            }
        }
        else if (name == "--screenshot")
        {
            if (!EndsWithPng(value))
            {
                return refuse("--screenshot needs a file name ending in .png, not \"" + value +
                              "\"");
            }
            settings.screenshot = value;
        }
    }
    return result;
}

int RefuseCommandLine(const std::string& problem)
{
    std::fprintf(stderr, "vertexshadows: %s\n%s\n", problem.c_str(), kUsage);
    std::fflush(stderr);
    return 2;
}
