#include "app/SceneSetup.h"

#include "app/Camera.h"
#include "app/Framing.h"
#include "scene/Tessellation.h"

#include <QFileInfo>

#include <algorithm>

float RefinementThreshold(const std::vector<const std::vector<_Vertex>*>& triangleLists,
                          double squaredDiagonal, double relativeDetail)
{
    // A box without extent has nothing to refine; any positive threshold will do.
    const double size = squaredDiagonal > 0.0 ? squaredDiagonal : 1.0;
    if (relativeDetail > 0.0)
    {
        return static_cast<float>(relativeDetail * size);
    }
    float threshold = static_cast<float>(kShippedRelativeDetail * size);
    // Each doubling about halves the count; past the whole box's size no triangle is
    // split any more, so the loop ends there at the latest.
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
        model.AddUntexturedGroup(FloorUnder(bounds));
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
