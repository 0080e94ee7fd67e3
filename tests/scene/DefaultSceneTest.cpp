// The scene that ships with the program: it loads cleanly, every textured material
// finds its image, and its two start-up counts stay where they were designed to be.
#include "Fixtures.h"
#include "scene/Model.h"

#include <gtest/gtest.h>

namespace
{

// The two numbers the start-up log shows for the shipped scene. They change only
// when tools/scenegen changes the scene; update them together.
constexpr size_t kPositions = 29892;
constexpr size_t kTessellationVertices = 353640;

} // namespace

class DefaultSceneTest : public fixtures::GlTest
{
};

TEST_F(DefaultSceneTest, LoadsWithItsDesignedCounts)
{
    // Tests run in the data directory, like the program.
    Model model;
    {
        fixtures::WarningLog warnings;
        model.Load("OBJ", "Scene.obj");
    }
    EXPECT_TRUE(fixtures::WarningLog::lines.empty()) << fixtures::WarningLog::lines.front();
    EXPECT_EQ(model.GetPositions().size(), kPositions);
    EXPECT_EQ(model.GetVertices().size(), kTessellationVertices);
    // The bounds the scene was designed for.
    EXPECT_LE(model.GetPositions().size() / 3, 20000u);
    EXPECT_GE(model.GetVertices().size(), 200000u);
    EXPECT_LE(model.GetVertices().size(), 700000u);

    size_t textured = 0, untextured = 0;
    for (const MaterialGroup& group : model.GetGroups())
    {
        if (group.vertices.empty())
        {
            continue;
        }
        (group.texture ? textured : untextured)++;
    }
    EXPECT_GE(textured, 4u);
    EXPECT_EQ(untextured, 1u);
}
