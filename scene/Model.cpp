#include "scene/Model.h"

#include "import/ContainedImport.h"
#include "import/SceneImport.h"
#include "scene/Framing.h"
#include "scene/Tessellation.h"
#include "scene/Texture.h"
#include "scene/VectorMath.h"
#include "util/MachineMemory.h"

#include <QFileInfo>

#include <algorithm>
#include <cstddef>
#include <map>
#include <numeric>
#include <set>
#include <stdexcept>

namespace
{

// A quiet grey checker: light enough for the shadows to read on it, its tiles showing
// the floor's extent and the scene's scale.
GLuint MakeFloorTexture()
{
    constexpr int kSize = 64, kTile = 8;
    std::vector<GLubyte> texels(kSize * kSize * 4, 255);
    for (int y = 0; y < kSize; ++y)
    {
        for (int x = 0; x < kSize; ++x)
        {
            const GLubyte grey = ((x / kTile + y / kTile) % 2) ? 170 : 150;
            GLubyte* texel = &texels[4 * (y * kSize + x)];
            texel[0] = texel[1] = texel[2] = grey;
        }
    }
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kSize, kSize, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 texels.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    return texture;
}

std::string Figure(double value, int digits)
{
    return QString::number(value, 'g', digits).toStdString();
}

// Why a refinement of the scene (of corners unrefined vertices) into triangles of at
// most threshold square units, estimated at estimate vertices, passes budget, and what
// would help.
std::string BudgetRefusal(float threshold, double estimate, std::uint64_t budget,
                          std::uint64_t corners, double detail,
                          const std::function<double(float)>& estimateAt)
{
    const double gigabyte = 1e9;
    const std::string reason =
        "refining it into triangles of at most " + Figure(threshold, 3) +
        " square units would need about " + QString::number(estimate, 'f', 0).toStdString() +
        " vertices, more than the budget of " + std::to_string(budget) + " (" +
        Figure(double(budget) * kBytesPerVertex / gigabyte, 2) + " GB at " +
        std::to_string(kBytesPerVertex) + " bytes a vertex, within " +
        Figure(kSceneMemoryShare * 100, 3) + " % of this machine's " +
        Figure(double(MachineMemory()) / gigabyte, 3) + " GB of memory)";
    if (corners > budget)
    {
        return reason + "; it has " + std::to_string(corners / 3) +
               " triangles before any refinement: too many for this machine";
    }
    if (detail > 0.0)
    {
        // The threshold is the detail times a fixed area, and the count falls about in
        // proportion as it grows; refinement goes in steps, so the estimate is taken
        // again until a detail fits.
        double fits = detail;
        for (int step = 0; step < 16 && estimate > double(budget); ++step)
        {
            fits *= 1.1 * estimate / double(budget);
            estimate = estimateAt(static_cast<float>(threshold * fits / detail));
        }
        return reason + "; give a --detail of at least " + Figure(fits, 2);
    }
    return reason + "; scale the scene down or split its largest triangles";
}

} // namespace

Model::Model(QObject* parent) : QObject(parent) {}

Model::~Model()
{
    Release();
}

void Model::Load(QString directory, QString fileName, const LoadOptions& options)
{
    const auto stepDone = [&](const char* step)
    {
        if (options.stepDone)
        {
            options.stepDone(step);
        }
    };
    Import(directory, fileName, options.startedImport.get(), stepDone);

    const Bounds bounds = BoundsOf(positions);
    if (options.ground)
    {
        AddGroup(FloorUnder(bounds));
    }
    float threshold = TessellationThreshold();
    if (options.frame || options.detail > 0.0)
    {
        std::vector<const std::vector<_Vertex>*> lists;
        for (const MaterialGroup& group : groups)
        {
            lists.push_back(&group.vertices);
        }
        threshold = RefinementThreshold(lists, SquaredDiagonal(bounds), options.detail);
        stepDone("detail search");
    }
    if (options.coarsen != 1.0)
    {
        threshold = static_cast<float>(threshold * options.coarsen);
    }
    Tessellate(threshold, options.detail);
    stepDone("refinement");
    world = options.frame ? FrameBounds(bounds) : Identity();
    if (options.coarseReady)
    {
        options.coarseReady();
    }
    // The size check is passed: from here on OpenGL objects are made.
    if (options.ground)
    {
        groups.back().texture = MakeFloorTexture();
    }
    LoadTextures();
    stepDone("textures");
    BuildVertexArray();
    stepDone("vertex array");
    UploadBuffers();
    stepDone("upload");
}

void Model::Import(QString directory, QString fileName, StartedImport* started,
                   const std::function<void(const char* step)>& stepDone)
{
    this->directory = directory;
    sceneFile = directory + "/" + fileName;
    const std::string path = sceneFile.toStdString();
    ImportedScene scene = started && started->Path() == path ? started->Take(stepDone)
                                                             : ImportSceneContained(path, stepDone);

    groups.clear();
    texturePaths.clear();
    for (ImportedMaterial& material : scene.materials)
    {
        MaterialGroup group;
        group.vertices = std::move(material.triangles);
        groups.push_back(std::move(group));
        texturePaths.push_back(material.hasDiffuseTexture
                                   ? std::optional<std::string>(material.diffuseTexture)
                                   : std::nullopt);
    }
    positions = std::move(scene.positions);
    // With room for a floor's corners, which AddGroup appends.
    indices.reserve(positions.capacity());
    indices.resize(positions.size());
    std::iota(indices.begin(), indices.end(), GLuint{0});
}

void Model::AddGroup(std::vector<_Vertex> triangles)
{
    for (const _Vertex& v : triangles)
    {
        indices.push_back(static_cast<GLuint>(positions.size()));
        positions.push_back(v.position);
    }
    MaterialGroup group;
    group.vertices = std::move(triangles);
    groups.push_back(std::move(group));
    texturePaths.push_back(std::nullopt);
}

void Model::Tessellate(float threshold, double detail)
{
    const std::uint64_t budget = TessellationVertexBudget();
    std::uint64_t total = 0;
    std::vector<std::uint64_t> counts;
    for (const MaterialGroup& group : groups)
    {
        counts.push_back(CountTessellatedVertices(group.vertices, threshold, budget - total));
        total += counts.back();
        if (total > budget)
        {
            const auto estimateAt = [&](float area)
            {
                double estimate = 0.0;
                for (const MaterialGroup& g : groups)
                {
                    estimate += EstimateTessellatedVertices(g.vertices, area);
                }
                return estimate;
            };
            const double estimate = std::max(estimateAt(threshold), static_cast<double>(total));
            throw std::runtime_error(
                "Cannot load the scene \"" + sceneFile.toStdString() + "\": " +
                BudgetRefusal(threshold, estimate, budget, positions.size(), detail, estimateAt));
        }
    }
    for (size_t g = 0; g < groups.size(); ++g)
    {
        TessellateTriangles(groups[g].vertices, threshold, counts[g]);
    }
}

void Model::LoadTextures()
{
    // Materials often share an image: each file is decoded and uploaded once, and its
    // texture shared by every group that names it. All of them together stay within
    // one budget of pixels; what would pass it is drawn untextured.
    std::map<std::string, GLuint> loaded;
    std::uint64_t pixelBudget = kSceneTexturePixelBudget;
    for (size_t g = 0; g < groups.size(); ++g)
    {
        if (!texturePaths[g])
        {
            continue;
        }
        const QString path = directory + "/" + QString::fromStdString(*texturePaths[g]);
        const QFileInfo file(path);
        const std::string key = (file.exists() ? file.canonicalFilePath() : path).toStdString();
        auto found = loaded.find(key);
        if (found == loaded.end())
        {
            found = loaded.emplace(key, Texture::Instance()->Load(path, &pixelBudget)).first;
        }
        groups[g].texture = found->second;
    }
}

void Model::BuildVertexArray()
{
    vertices.clear();
    size_t total = 0;
    for (const MaterialGroup& group : groups)
    {
        total += group.vertices.size();
    }
    vertices.reserve(total);
    for (MaterialGroup& group : groups)
    {
        group.indices.resize(group.vertices.size());
        std::iota(group.indices.begin(), group.indices.end(), static_cast<GLuint>(vertices.size()));
        vertices.insert(vertices.end(), group.vertices.begin(), group.vertices.end());
    }
}

void Model::UploadBuffers()
{
    glGenBuffers(1, &vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    // Static, although the shadow pass rewrites the contents through OpenCL every
    // frame: OpenGL itself only ever reads it.
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(_Vertex)),
                 vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    for (MaterialGroup& group : groups)
    {
        if (group.indices.empty())
        {
            continue;
        }
        glGenBuffers(1, &group.indexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, group.indexBuffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                     static_cast<GLsizeiptr>(group.indices.size() * sizeof(GLuint)),
                     group.indices.data(), GL_STATIC_DRAW);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }

    // Groups without a texture bind texture name 0, and sampling the default texture
    // without an image gives black. Giving it one white texel makes such groups draw
    // in their vertex colour, as an untextured surface should.
    const GLubyte white[4] = {255, 255, 255, 255};
    glBindTexture(GL_TEXTURE_2D, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
}

void BindVertexRecords(GLuint vertexBuffer, GLuint program)
{
    for (GLuint attribute = 0; attribute < 4; ++attribute)
    {
        glEnableVertexAttribArray(attribute);
    }
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    const GLsizei stride = sizeof(_Vertex);
    glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(_Vertex, position)));
    glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(_Vertex, normal)));
    glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(_Vertex, texCoord)));
    glVertexAttribPointer(3, 3, GL_FLOAT, GL_FALSE, stride,
                          reinterpret_cast<const void*>(offsetof(_Vertex, color)));
    glUniform1i(glGetUniformLocation(program, "g_Texture"), 0);
}

void UnbindVertexRecords()
{
    for (GLuint attribute = 0; attribute < 4; ++attribute)
    {
        glDisableVertexAttribArray(attribute);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

void Model::Draw(GLuint program) const
{
    BindVertexRecords(vertexBuffer, program);

    for (const MaterialGroup& group : groups)
    {
        if (group.vertices.empty())
        {
            continue;
        }
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, group.indexBuffer);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, group.texture);
        // The indices address the whole vertex buffer: no base vertex needed.
        glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(group.indices.size()), GL_UNSIGNED_INT,
                       nullptr);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    }
    UnbindVertexRecords();
}

void Model::Release()
{
    // Groups share textures: each name is deleted once.
    std::set<GLuint> textures;
    for (const MaterialGroup& group : groups)
    {
        if (group.texture != 0)
        {
            textures.insert(group.texture);
        }
        if (group.indexBuffer != 0)
        {
            glDeleteBuffers(1, &group.indexBuffer);
        }
    }
    for (GLuint texture : textures)
    {
        glDeleteTextures(1, &texture);
    }
    groups.clear();
    texturePaths.clear();
    if (vertexBuffer != 0)
    {
        glDeleteBuffers(1, &vertexBuffer);
        vertexBuffer = 0;
    }
}
