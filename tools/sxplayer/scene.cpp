#include "tools/sxplayer/scene.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace sxplayer {

namespace {

// Parts without a colour of their own take these in turn.
constexpr Colour kPalette[] = {
    {70, 130, 200}, {215, 160, 60}, {120, 180, 110}, {200, 90, 90}, {160, 120, 200}};

Colour colour_of(const nlohmann::json& part, size_t index) {
    const auto it = part.find("color");
    if (it == part.end() || !it->is_array() || it->size() != 3)
        return kPalette[index % (sizeof kPalette / sizeof kPalette[0])];
    Colour c{};
    for (size_t k = 0; k < 3; ++k) {
        const double v = (*it)[k].is_number() ? (*it)[k].get<double>() : 0.0;
        c[k] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
    return c;
}

void collect(const TessTriangle* t, void* user) { static_cast<ruvane_tess::Mesh*>(user)->add(*t); }

template <class Fn>
bool entry(const ComponentServices& host, void* module, const char* name, Fn* out) {
    *out = reinterpret_cast<Fn>(host.get_component_entry(module, name));
    return *out != nullptr;
}

// Names go into the log, the ad's message and the OBJ file's "o" lines:
// printable characters only, no blanks, and not too many of them.
std::string clean_name(const std::string& name) {
    constexpr size_t kMaxName = 40;
    std::string clean;
    for (char c : name.substr(0, kMaxName)) clean += (c > ' ' && c < 0x7F) ? c : '_';
    return clean.empty() ? "_" : clean;
}

}  // namespace

std::string applet_body(const std::string& text) {
    const size_t end = text.find_first_of("\r\n");
    if (end == std::string::npos) return std::string();
    size_t start = end + 1;
    // A two-character line end is CR LF or LF CR, never the same one twice.
    if (start < text.size() && (text[start] == '\r' || text[start] == '\n') &&
        text[start] != text[end])
        ++start;
    return text.substr(start);
}

SceneRead parse_scene(const std::string& body, Scene* scene, std::string* error) {
    const size_t first = body.find_first_not_of(" \t\r\n");
    if (first == std::string::npos || body[first] != '{') return SceneRead::no_scene;
    const nlohmann::json j = nlohmann::json::parse(body, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
        *error = "the scene is not valid JSON";
        return SceneRead::invalid;
    }
    const auto surfaces = j.find("surfaces");
    if (surfaces == j.end() || !surfaces->is_array() || surfaces->empty()) {
        *error = "the scene names no \"surfaces\"";
        return SceneRead::invalid;
    }
    const auto name = j.find("name");
    scene->name = clean_name(name != j.end() && name->is_string() ? name->get<std::string>()
                                                                  : std::string("scene"));
    scene->parts.clear();
    for (const nlohmann::json& s : *surfaces) {
        ScenePart part;
        const size_t index = scene->parts.size();
        const auto given = s.is_object() ? s.find("name") : s.end();
        part.name = clean_name(given != s.end() && given->is_string()
                                   ? given->get<std::string>()
                                   : "surface" + std::to_string(index + 1));
        part.colour = colour_of(s, index);
        std::string why;
        if (!s.is_object() || !ruvane_tess::read_surface_description(s.dump(), part.surface, why)) {
            *error = "surface " + std::to_string(index + 1) + ": " +
                     (why.empty() ? "not an object" : why);
            return SceneRead::invalid;
        }
        scene->parts.push_back(std::move(part));
    }
    return SceneRead::ok;
}

Tessellator::~Tessellator() {
    if (started_) shutdown_();
    if (module_) host_.unload_component(module_);
}

bool Tessellator::load(std::string* error) {
    module_ = host_.load_component("ruvane", 1, 1);
    if (!module_) {
        *error = "ruvane not found through the component search";
        return false;
    }
    decltype(&component_client_interface_version) version = nullptr;
    decltype(&component_client_init) init = nullptr;
    if (!entry(host_, module_, "component_client_interface_version", &version) ||
        !entry(host_, module_, "component_client_init", &init) ||
        !entry(host_, module_, "component_client_shutdown", &shutdown_) ||
        !entry(host_, module_, "ruvane_tesselate_ruvane", &tesselate_)) {
        *error = "ruvane lacks an entry point";
        return false;
    }
    if (version() != 1 || !init(&host_)) {
        *error = "ruvane refused to start";
        return false;
    }
    started_ = true;
    return true;
}

int Tessellator::tessellate(ScenePart* part) {
    const ruvane_tess::SurfaceRecords records(part->surface);
    const ruvane_tess::Tolerances& t = part->surface.tolerances;
    int32_t status = 0;
    if (!tesselate_(collect, records.get(), &status, t.surface, t.trim, t.param, &part->mesh))
        return -1;
    return status;
}

bool write_scene_obj(const Scene& scene, const std::string& path) {
    std::FILE* f = sx::platform().open_file(path.c_str(), "wb");  // LF lines in both builds
    if (!f) return false;
    bool ok = std::fprintf(f, "# %s, tessellated by ruvane\n", scene.name.c_str()) > 0;
    unsigned long base = 1;
    for (const ScenePart& p : scene.parts) {
        const ruvane_tess::Mesh& m = p.mesh;
        ok &= std::fprintf(f, "o %s\n", p.name.c_str()) > 0;
        for (const auto& v : m.positions)
            ok &= std::fprintf(f, "v %.9g %.9g %.9g\n", v[0], v[1], v[2]) > 0;
        for (const auto& n : m.normals)
            ok &= std::fprintf(f, "vn %.6f %.6f %.6f\n", n[0], n[1], n[2]) > 0;
        for (const auto& t : m.faces) {
            const unsigned long a = base + t[0], b = base + t[1], c = base + t[2];
            ok &= std::fprintf(f, "f %lu//%lu %lu//%lu %lu//%lu\n", a, a, b, b, c, c) > 0;
        }
        base += m.positions.size();
    }
    return std::fclose(f) == 0 && ok;
}

}  // namespace sxplayer
