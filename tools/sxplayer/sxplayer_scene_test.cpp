#include <gtest/gtest.h>

#include "platform/testing/test_support.h"
#include "tools/sxplayer/scene.h"

namespace sxplayer {
namespace {

TEST(AppletBody, FollowsTheFirstLineWhateverItsEnd) {
    const struct {
        const char* text;
        const char* body;
    } cases[] = {
        {"head\n{b}", "{b}"},   {"head\r\n{b}", "{b}"},
        {"head\n\r{b}", "{b}"}, {"head\r\r{b}", "\r{b}"},  // two CRs end two lines
        {"head", ""},           {"head\n", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(applet_body(c.text), c.body) << c.text;
}

constexpr char kPatch[] = R"("u_order":2,"v_order":2,"u_knots":[0,0,1,1],"v_knots":[0,0,1,1],)"
                          R"("points":[[0,0,0],[1,0,0],[0,1,0],[1,1,0]],"outer_curves":[)"
                          R"({"order":2,"points":[[0,0],[1,0]],"knots":[0,0,1,1]},)"
                          R"({"order":2,"points":[[1,0],[1,1]],"knots":[0,0,1,1]},)"
                          R"({"order":2,"points":[[1,1],[0,1]],"knots":[0,0,1,1]},)"
                          R"({"order":2,"points":[[0,1],[0,0]],"knots":[0,0,1,1]}])";

TEST(ParseScene, TellsBytecodeFromBrokenAndGoodScenes) {
    const std::string patch = std::string("{") + kPatch + "}";
    const struct {
        std::string body;
        SceneRead result;
        const char* error;  // part of the reason
    } cases[] = {
        {"<bytecode>", SceneRead::no_scene, ""},
        {"{\"surfaces\":[", SceneRead::invalid, "not valid JSON"},
        {"{\"surfaces\":[]}", SceneRead::invalid, "no \"surfaces\""},
        {"{\"surfaces\":[" + patch + ",{\"u_order\":2}]}", SceneRead::invalid, "surface 2: "},
        {"{\"name\":\"two\",\"surfaces\":[" + patch +
             ",{\"name\":\"b c\\nv 1\",\"color\":[300,-4,9]," + kPatch + "}]}",
         SceneRead::ok, ""},
    };
    Scene scene;
    for (const auto& c : cases) {
        std::string error;
        scene = Scene();
        EXPECT_EQ(parse_scene(c.body, &scene, &error), c.result) << c.body;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    ASSERT_EQ(scene.parts.size(), 2u);  // the last, good scene
    // Names with nothing that could break a file's lines.
    EXPECT_EQ(scene.name + " " + scene.parts[0].name + " " + scene.parts[1].name,
              "two surface1 b_c_v_1");
    EXPECT_EQ(scene.parts[1].colour, (Colour{255, 0, 9}));  // clamped
    EXPECT_EQ(scene.parts[1].surface.outer.size(), 4u);
}

// A horizontal square at height z, two triangles.
ScenePart square(double z) {
    ScenePart p;
    p.mesh.positions = {{-1, -1, z}, {1, -1, z}, {1, 1, z}, {-1, 1, z}};
    p.mesh.normals.assign(4, {0, 0, 1});
    p.mesh.faces = {{0, 1, 2}, {0, 2, 3}};
    return p;
}

// Vertices are numbered across parts: the second square's faces start at 5.
TEST(WriteSceneObj, NumbersVerticesAcrossParts) {
    sx::testing::TemporaryDirectory dir;
    Scene scene;
    scene.parts = {square(0), square(1)};
    scene.parts[0].name = "a";
    scene.parts[1].name = "b";
    ASSERT_TRUE(write_scene_obj(scene, dir.file("pair.obj")));
    std::string text;
    ASSERT_TRUE(sx::testing::read_file(dir.file("pair.obj"), &text));
    for (const char* line :
         {"o a\nv -1 -1 0\n", "f 1//1 2//2 3//3\n", "o b\nv -1 -1 1\n", "f 5//5 7//7 8//8\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
    EXPECT_FALSE(write_scene_obj(scene, dir.file("no such folder\\pair.obj")));
}

}  // namespace
}  // namespace sxplayer
