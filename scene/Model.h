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

#include <optional>
#include <string>
#include <vector>

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

class Model : public QObject
{
    Q_OBJECT

public:
    explicit Model(QObject* parent = nullptr);
    ~Model() override;

    // Reads directory + "/" + fileName and makes the model drawable: Import,
    // Tessellate with TessellationThreshold(), LoadTextures, BuildVertexArray,
    // UploadBuffers. Throws std::runtime_error naming the file when the import fails
    // or the refinement would exceed kTessellationVertexBudget. Needs a current
    // OpenGL context. Call once.
    void Load(QString directory, QString fileName);

    // The steps of Load, public so that they can be timed one by one.
    void Import(QString directory, QString fileName);
    void Tessellate(float threshold);
    void LoadTextures();
    void BuildVertexArray();

    // Between Import and Tessellate: appends a group of triangles (three vertices
    // each) drawn with texture, which the model owns from then on (Release deletes it;
    // 0 for none), and their corners to the coarse geometry that occludes the light.
    // For a floor under a scene that has none.
    void AddGroup(std::vector<_Vertex> triangles, GLuint texture);
    void UploadBuffers();

    // Draws every group that has vertices with program, which the caller has made
    // current and whose "matViewProj" it has set: attributes 0 to 3 from the vertex
    // buffer, "g_Texture" on unit 0, one glDrawElements per group.
    void Draw(GLuint program) const;

    // Deletes the textures and empties the groups. The model-wide arrays and the
    // buffers stay; the buffers go with the context. Calling it again is harmless.
    void Release();

    const std::vector<_Vertex>& GetVertices() const { return vertices; }
    const std::vector<Float3>& GetPositions() const { return positions; }
    const std::vector<GLuint>& GetIndices() const { return indices; }
    GLuint GetVertexBuffer() const { return vertexBuffer; }
    const std::vector<MaterialGroup>& GetGroups() const { return groups; }

private:
    std::vector<MaterialGroup> groups;
    std::vector<_Vertex> vertices;
    GLuint vertexBuffer = 0;
    std::vector<Float3> positions;
    std::vector<GLuint> indices;
    QString directory;
    QString sceneFile; // for messages
    // Per group, the diffuse texture path its material names, relative to directory;
    // kept from Import to LoadTextures so that textures load after the size check.
    std::vector<std::optional<std::string>> texturePaths;
};
