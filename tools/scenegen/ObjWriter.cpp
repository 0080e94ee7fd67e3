#include "ObjWriter.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

namespace scenegen
{
namespace
{

// Five decimals are a hundredth of a millimetre at our scale; trailing zeros go, so
// that the file stays small and reads well.
std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.5f", v);
    std::string s = text;
    while (!s.empty() && s.back() == '0')
    {
        s.pop_back();
    }
    if (!s.empty() && s.back() == '.')
    {
        s.pop_back();
    }
    if (s == "-0")
    {
        s = "0";
    }
    return s;
}

// The OBJ attribute lists, each value written once and referred to by number.
class Pool
{
public:
    explicit Pool(const char* keyword) : keyword(keyword) {}

    int Add(const std::string& value)
    {
        auto [it, inserted] = index.emplace(value, static_cast<int>(index.size()) + 1);
        if (inserted)
        {
            lines << keyword << ' ' << value << '\n';
        }
        return it->second;
    }
    std::string Lines() const { return lines.str(); }

private:
    const char* keyword;
    std::map<std::string, int> index;
    std::ostringstream lines;
};

} // namespace

bool WriteObj(const MeshBuilder& mesh, const std::string& directory, const std::string& objName,
              const std::string& mtlName)
{
    Pool positions("v"), texCoords("vt"), normals("vn");
    std::ostringstream faces;
    const auto& materials = mesh.Materials();
    for (size_t m = 0; m < materials.size(); ++m)
    {
        faces << "\ng " << materials[m].name << "\nusemtl " << materials[m].name << '\n';
        for (const Face& face : mesh.Faces()[m])
        {
            faces << 'f';
            for (const Corner& c : face.corners)
            {
                const Vec3 n = Normalize(c.normal);
                faces << ' '
                      << positions.Add(Number(c.position.x) + ' ' + Number(c.position.y) + ' ' +
                                       Number(c.position.z))
                      << '/' << texCoords.Add(Number(c.texCoord.u) + ' ' + Number(c.texCoord.v))
                      << '/' << normals.Add(Number(n.x) + ' ' + Number(n.y) + ' ' + Number(n.z));
            }
            faces << '\n';
        }
    }

    std::ofstream obj(directory + "/" + objName, std::ios::binary);
    obj << "# The courtyard: the default scene of vertexshadows.\n"
        << "# Written by tools/scenegen; change the generator and run it again rather than\n"
        << "# editing this file.\n"
        << "mtllib " << mtlName << "\n\n"
        << positions.Lines() << texCoords.Lines() << normals.Lines() << faces.str();

    std::ofstream mtl(directory + "/" + mtlName, std::ios::binary);
    mtl << "# Materials of the courtyard, written by tools/scenegen.\n";
    for (const Material& material : materials)
    {
        mtl << "\nnewmtl " << material.name << "\nKa 0 0 0\nKd 1 1 1\nKs 0 0 0\nillum 1\n";
        if (!material.diffuseTexture.empty())
        {
            mtl << "map_Kd " << material.diffuseTexture << '\n';
        }
    }
    return obj.good() && mtl.good();
}

} // namespace scenegen
