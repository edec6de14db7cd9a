// ruvane-tess on IGES models: what it writes and how it ends.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "iges/testing/models.h"
#include "tools/ruvane_tess/model_mode.h"

namespace {

using ruvane::iges::testing::IgesBuilder;

std::string temp(const std::string& name) { return ::testing::TempDir() + "ruvane_model_" + name; }

std::string write(const std::string& name, const std::string& text) {
    const std::string path = temp(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int count_lines(const std::string& text, const std::string& head) {
    int n = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) n += line.rfind(head, 0) == 0;
    return n;
}

// Directed edges of the OBJ's faces whose reverse is missing or repeated.
int open_edges(const std::string& obj) {
    std::map<std::pair<int, int>, int> d;
    std::istringstream in(obj);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("f ", 0) != 0) continue;
        std::istringstream f(line.substr(2));
        int k[3];
        f >> k[0] >> k[1] >> k[2];
        for (int i = 0; i < 3; ++i) ++d[{k[i], k[(i + 1) % 3]}];
    }
    int open = 0;
    for (const auto& [e, n] : d) {
        auto back = d.find({e.second, e.first});
        open += n != 1 || back == d.end() || back->second != 1;
    }
    return open;
}

TEST(RuvaneTessModel, WritesEveryFormatClosedWithAGroupPerFace) {
    struct Case {
        const char* name;
        void (*make)(IgesBuilder*);
        int faces;
    };
    const Case cases[] = {
        {"box",
         [](IgesBuilder* b) {
             ruvane::iges::testing::box_brep(b, {10, 6, 4});
         },
         6},
        {"cylinder", [](IgesBuilder* b) { ruvane::iges::testing::cylinder_brep(b, 3, 5); }, 3},
    };
    for (const Case& c : cases) {
        IgesBuilder b;
        c.make(&b);
        ruvane_tess::ModelRun run;
        run.input = write(std::string(c.name) + ".igs", b.str());
        int triangles[3] = {0, 0, 0};
        const char* formats[3] = {"obj", "ply", "stl"};
        for (int f = 0; f < 3; ++f) {
            run.format = formats[f];
            run.output = temp(std::string(c.name) + "." + formats[f]);
            std::remove(run.output.c_str());
            ASSERT_EQ(ruvane_tess::run_model(run), 0) << c.name << " " << formats[f];
            const std::string text = slurp(run.output);
            if (f == 0) {
                EXPECT_EQ(count_lines(text, "g face_"), c.faces) << c.name;
                EXPECT_EQ(open_edges(text), 0) << c.name;
                triangles[f] = count_lines(text, "f ");
            } else if (f == 1) {
                // Face lines follow the header and the vertex lines.
                std::istringstream in(text);
                std::string line;
                size_t vertices = 0;
                while (std::getline(in, line) && line != "end_header")
                    if (line.rfind("element vertex ", 0) == 0)
                        vertices = std::stoul(line.substr(15));
                for (size_t v = 0; v < vertices; ++v) std::getline(in, line);
                while (std::getline(in, line)) triangles[f] += line.rfind("3 ", 0) == 0;
            } else {
                triangles[f] = count_lines(text, "facet normal");
            }
        }
        EXPECT_GT(triangles[0], 0);
        EXPECT_EQ(triangles[0], triangles[1]) << c.name;
        EXPECT_EQ(triangles[0], triangles[2]) << c.name;
    }
}

TEST(RuvaneTessModel, ExitCodesAndNoOutputWhenNothingMeshed) {
    // One face whose outer loop is a single point: read, but not meshable.
    IgesBuilder dot;
    const int s = ruvane::iges::testing::patch(&dot, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0});
    const int p = dot.add(110, {"0.5", "0.5", "0.", "0.5", "0.5", "0."}, 0, 0, "00010500");
    const int on = dot.add(142, {"0", IgesBuilder::integer(s), IgesBuilder::integer(p), "0", "1"},
                           0, 0, "00010500");
    dot.add(144, {IgesBuilder::integer(s), "1", "0", IgesBuilder::integer(on)});
    struct Case {
        const char* name;
        std::string input;
        int code;
    };
    const Case cases[] = {
        {"missing file", temp("no_such_file.igs"), 1},
        {"not IGES", write("text.igs", "hello\n"), 1},
        {"nothing meshable", write("dot.igs", dot.str()), 2},
    };
    for (const Case& c : cases) {
        ruvane_tess::ModelRun run;
        run.input = c.input;
        run.output = temp("never.obj");
        run.format = "obj";
        std::remove(run.output.c_str());
        EXPECT_EQ(ruvane_tess::run_model(run), c.code) << c.name;
        std::FILE* f = std::fopen(run.output.c_str(), "rb");
        EXPECT_EQ(f, nullptr) << c.name;
        if (f) std::fclose(f);
    }
    EXPECT_TRUE(ruvane_tess::is_model_file("a/b.IGS"));
    EXPECT_TRUE(ruvane_tess::is_model_file("part.iges"));
    EXPECT_FALSE(ruvane_tess::is_model_file("surface.json"));
}

}  // namespace
