// The stand-in player's applets: after the header line the body is a scene,
// a JSON object naming trimmed NURBS surfaces, each in the surface format of
// ruvane-tess (tools/ruvane_tess/README.md) with an optional "name" and
// "color" ([r, g, b], 0..255):
//   {"name": "vase", "surfaces": [{"name": "body", "color": [90, 140, 200],
//                                  "u_order": 3, ...}, ...]}
// The surfaces are tessellated with ruvane, loaded as a component.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "include/component_services.h"
#include "tools/ruvane_tess/mesh_writer.h"
#include "tools/ruvane_tess/surface_json.h"

namespace sxplayer {

using Colour = std::array<uint8_t, 3>;

struct ScenePart {
    std::string name;
    Colour colour{};
    ruvane_tess::SurfaceData surface;
    ruvane_tess::Mesh mesh;  // filled by the tessellation
};

struct Scene {
    std::string name;
    std::vector<ScenePart> parts;
};

enum class SceneRead { ok, no_scene, invalid };

// The body of an applet file's text: what follows its first line (ended by
// CR, LF, CR LF or LF CR). Empty when there is no second line.
std::string applet_body(const std::string& file_text);

// `no_scene` when the body holds no JSON object at all (a real applet's
// bytecode); `invalid` with a one-line reason when it is a broken scene.
SceneRead parse_scene(const std::string& body, Scene* scene, std::string* error);

// ruvane as the player uses it: found through the component search, loaded
// with the platform's library loading, its exports looked up by name.
class Tessellator {
public:
    explicit Tessellator(const ComponentServices& host) : host_(host) {}
    ~Tessellator();
    Tessellator(const Tessellator&) = delete;
    Tessellator& operator=(const Tessellator&) = delete;

    // False with a reason when the component is missing or refuses to start.
    bool load(std::string* error);
    // Tessellates the part into its mesh; returns the component's status
    // (0 to 5), or -1 when the call itself failed (out of memory).
    int tessellate(ScenePart* part);

private:
    ComponentServices host_;
    void* module_ = nullptr;
    bool started_ = false;
    decltype(&component_client_shutdown) shutdown_ = nullptr;
    decltype(&ruvane_tesselate_ruvane) tesselate_ = nullptr;
};

// The whole scene as one OBJ file, an object per part.
bool write_scene_obj(const Scene& scene, const std::string& path);

}  // namespace sxplayer
