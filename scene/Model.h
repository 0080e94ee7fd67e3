#pragma once
// The scene: imported triangles grouped by material, refined into dense shading
// vertices, with their textures and OpenGL buffers.
//
// Two views of the same scene live side by side: the dense vertices (one _Vertex per
// corner of every refined triangle, mirrored by the vertex buffer that the shadow
// pass writes into) and the coarse imported triangles (positions and indices), which
// occlude the light.
#include "scene/VectorTypes.h"
#include "scene/Vertex.h"

#include <GL/glew.h>

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class StartedImport;

// The triangles of one material.
struct MaterialGroup
{
    // Unindexed triangle list, three vertices per triangle.
    std::vector<_Vertex> vertices;
    // The material's diffuse texture, or 0 when it has none or it failed to load.
    // Groups whose materials name the same image file share one texture.
    GLuint texture = 0;
    // Per vertex, its position in the model-wide vertex array.
    std::vector<GLuint> indices;
    // Element buffer holding indices, or 0 when the group has no vertices.
    GLuint indexBuffer = 0;
};

// Points attributes 0 to 3 (position, normal, texture coordinate, colour) at the
// _Vertex records of vertexBuffer and enables them, and sets "g_Texture" of program to
// unit 0; UnbindVertexRecords undoes it. For every draw of _Vertex records.
void BindVertexRecords(GLuint vertexBuffer, GLuint program);
void UnbindVertexRecords();

// How a scene file is made into a model. The defaults load a scene built in the demo's
// frame, as the shipped one is: its own units, the fixed refinement threshold.
struct LoadOptions
{
    // Place the scene in the demo's frame: the world matrix scales and moves its bounds
    // there (FrameBounds), and without a detail it is refined at the frame's density,
    // within kInteractiveVertexCount vertices.
    bool frame = false;
    // A checkered floor under the scene's bounds, for a model that has none.
    bool ground = false;
    // The largest triangle after refinement, as a fraction of the square of the bounding
    // box's diagonal; 0 for the default of the scene's kind.
    double detail = 0.0;
    // Multiplies the largest triangle's area: above 1, a coarser mesh for a frame that
    // refines where the shadows fall.
    double coarsen = 1.0;
    // The import of this scene's file, started ahead in its child (see StartedImport);
    // null to start it in Load.
    std::shared_ptr<StartedImport> startedImport;
    // Called once the coarse triangles (positions and indices) and the world matrix are
    // final and the size check is passed, before the textures: Load changes none of them
    // after it, so they may be read on another thread from then on, while Load goes on.
    std::function<void()> coarseReady;
    // Told the name of each step of the load as it ends, for timing them one by one:
    // "import", "hand-back", "detail search" (framed scenes only), "refinement",
    // "textures", "vertex array", "upload".
    std::function<void(const char* step)> stepDone;
};

class Model : public QObject
{
    Q_OBJECT

public:
    explicit Model(QObject* parent = nullptr);
    // Release, with the model's OpenGL context current.
    ~Model() override;

    // Reads directory + "/" + fileName and makes the model drawable: imports it, gives it
    // a floor where asked, refines it, loads its textures and uploads its buffers. Throws
    // std::runtime_error naming the file when the import fails or the refinement would
    // exceed TessellationVertexBudget; the size check comes before any OpenGL object
    // exists, so a scene that is too large leaves nothing behind. Needs a current OpenGL
    // context. Call once.
    void Load(QString directory, QString fileName, const LoadOptions& options = {});

    // Draws every group that has vertices with program, which the caller has made
    // current and whose "matViewProj" it has set: attributes 0 to 3 from the vertex
    // buffer, "g_Texture" on unit 0, one glDrawElements per group.
    void Draw(GLuint program) const;

    // Deletes the textures and the buffers and empties the groups; the host arrays stay.
    // Needs the model's OpenGL context current. Calling it again is harmless.
    void Release();

    const VertexArray& GetVertices() const { return vertices; }
    const std::vector<Float3>& GetPositions() const { return positions; }
    const std::vector<GLuint>& GetIndices() const { return indices; }
    GLuint GetVertexBuffer() const { return vertexBuffer; }
    const std::vector<MaterialGroup>& GetGroups() const { return groups; }
    // Places the model in the demo's frame: the identity unless it was loaded framed.
    const Mat4& GetWorld() const { return world; }

private:
    // The steps of Load, in their order.
    // stepDone is told "import" and "hand-back" (see ImportSceneContained).
    // The import is taken from started where it was started for this file.
    void Import(QString directory, QString fileName, StartedImport* started,
                const std::function<void(const char* step)>& stepDone);
    // Appends a group of triangles (three vertices each) without a texture of its
    // material, and their corners to the coarse geometry that occludes the light.
    void AddGroup(std::vector<_Vertex> triangles);
    // detail as Load was given it: the refusal's advice depends on it.
    void Tessellate(float threshold, double detail);
    void LoadTextures();
    void BuildVertexArray();
    void UploadBuffers();

    std::vector<MaterialGroup> groups;
    VertexArray vertices;
    GLuint vertexBuffer = 0;
    std::vector<Float3> positions;
    std::vector<GLuint> indices;
    Mat4 world{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    QString directory;
    QString sceneFile; // for messages
    // Per group, the diffuse texture path its material names, relative to directory;
    // kept from Import to LoadTextures so that textures load after the size check.
    std::vector<std::optional<std::string>> texturePaths;
};
