#include "app/SceneSetup.h"

#include "app/Camera.h"
#include "app/Framing.h"
#include "scene/Tessellation.h"

#include <GL/glew.h>

#include <QFileInfo>

#include <vector>

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

} // namespace

float RefinementThreshold(const std::vector<const std::vector<_Vertex>*>& triangleLists,
                          double squaredDiagonal, double relativeDetail)
{
    // A box without extent has nothing to refine; any positive threshold will do.
    const double size = squaredDiagonal > 0.0 ? squaredDiagonal : 1.0;
    if (relativeDetail > 0.0)
    {
        return static_cast<float>(relativeDetail * size);
    }
    // The finest threshold, from a sixteenth of the shipped density up by doublings,
    // whose estimated count fits: each doubling about halves the count, and past the
    // whole box's size no triangle is split any more, so the search ends there at the
    // latest.
    float threshold = static_cast<float>(kFramedRelativeDetail / 16.0 * size);
    for (int step = 0; step < 64 && threshold < size; ++step)
    {
        double estimate = 0.0;
        for (const std::vector<_Vertex>* triangles : triangleLists)
        {
            estimate += EstimateTessellatedVertices(*triangles, threshold);
        }
        if (estimate <= kInteractiveVertexCount)
        {
            break;
        }
        threshold *= 2.0f;
    }
    return threshold;
}

Mat4 LoadScene(Model& model, const Settings& settings)
{
    const bool shipped = settings.scene.empty();
    if (shipped && !settings.ground && settings.detail == 0.0)
    {
        model.Load("OBJ", "Scene.obj");
        return Identity();
    }

    QString directory = "OBJ", fileName = "Scene.obj";
    if (!shipped)
    {
        const QFileInfo file(QString::fromStdString(settings.scene));
        directory = file.path();
        fileName = file.fileName();
    }
    model.Import(directory, fileName);
    const Bounds bounds = BoundsOf(model.GetPositions());
    if (settings.ground)
    {
        model.AddGroup(FloorUnder(bounds), MakeFloorTexture());
    }

    float threshold = TessellationThreshold();
    if (!shipped || settings.detail > 0.0)
    {
        std::vector<const std::vector<_Vertex>*> lists;
        for (const MaterialGroup& group : model.GetGroups())
        {
            lists.push_back(&group.vertices);
        }
        threshold = RefinementThreshold(lists, SquaredDiagonal(bounds), settings.detail);
    }
    // The size check comes before any OpenGL object exists, as in Model::Load.
    model.Tessellate(threshold);
    model.LoadTextures();
    model.BuildVertexArray();
    model.UploadBuffers();
    return shipped ? Identity() : FrameBounds(bounds);
}
