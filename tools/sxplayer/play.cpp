#include "tools/sxplayer/play.h"

#include <cstdio>

#include "components/data_directories.h"
#include "components/file_path.h"
#include "platform/platform.h"
#include "tools/sxplayer/ad_demo.h"
#include "tools/sxplayer/host_services.h"
#include "tools/sxplayer/png_file.h"
#include "tools/sxplayer/render.h"
#include "tools/sxplayer/scene.h"

namespace sxplayer {

namespace {

// An applet larger than this is not a scene of the stand-in player.
constexpr long kMaxAppletBytes = 64L * 1024 * 1024;
constexpr int kAdWidth = 400, kAdHeight = 300;
constexpr int kAdDelayMs = 1500;
constexpr int kPictureWidth = 800, kPictureHeight = 600;
// The names of what the player writes into its output folder.
constexpr char kLogName[] = "sxplayer.log";
constexpr char kMeshName[] = "scene.obj";
constexpr char kRenderName[] = "scene.png";
constexpr char kAdName[] = "ad.png";

bool read_applet(const std::string& path, std::string* text) {
    std::FILE* f = sx::platform().open_file(path.c_str(), "rb");
    if (!f) return false;
    char buffer[65536];
    size_t n = 0;
    bool ok = true;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && ok) {
        text->append(buffer, n);
        ok = long(text->size()) <= kMaxAppletBytes;
    }
    ok = !std::ferror(f) && ok;
    std::fclose(f);
    return ok;
}

// At most one surface per heartbeat, so that the ad's bar moves as the work
// does. The surfaces are spread over most of the ad's minimum display time,
// which the player waits for in any case: a person can follow the bar and
// the messages, and the load takes no longer.
class SceneLoading : public Loading {
public:
    SceneLoading(Scene* scene, Tessellator* tessellator, std::FILE* log, uint32_t spread_ms)
        : scene_(scene),
          tessellator_(tessellator),
          log_(log),
          pace_ms_(spread_ms / uint32_t(scene->parts.size())) {}

    // No more waiting between surfaces.
    void hurry() { pace_ms_ = 0; }

    bool step() override {
        if (done_ == scene_->parts.size()) return false;
        const uint32_t now = sx::platform().tick_count();
        if (done_ == 0) first_ = now;
        if (now - first_ < pace_ms_ * uint32_t(done_)) return true;
        ScenePart& part = scene_->parts[done_];
        const uint32_t start = sx::platform().tick_count();
        const int status = tessellator_->tessellate(&part);
        const uint32_t ms = sx::platform().tick_count() - start;
        busy_ms_ += ms;
        const size_t triangles = part.mesh.faces.size();
        triangles_ += triangles;
        if (triangles == 0) ++failed_;
        std::fprintf(log_, "surface %lu of %lu (%s): status %d, %lu triangles, %lu ms\n",
                     static_cast<unsigned long>(done_ + 1),
                     static_cast<unsigned long>(scene_->parts.size()), part.name.c_str(), status,
                     static_cast<unsigned long>(triangles), static_cast<unsigned long>(ms));
        std::fflush(log_);
        return ++done_ < scene_->parts.size();
    }
    double fraction() const override { return double(done_) / double(scene_->parts.size()); }
    std::string message() const override {
        return "Loading " + scene_->name + ": surface " +
               std::to_string(std::min(done_ + 1, scene_->parts.size())) + " of " +
               std::to_string(scene_->parts.size());
    }

    size_t triangles() const { return triangles_; }
    int failed() const { return failed_; }
    uint32_t busy_ms() const { return busy_ms_; }

private:
    Scene* scene_;
    Tessellator* tessellator_;
    std::FILE* log_;
    size_t done_ = 0, triangles_ = 0;
    int failed_ = 0;
    uint32_t busy_ms_ = 0;
    uint32_t pace_ms_;
    uint32_t first_ = 0;
};

int write_pictures(const Scene& scene, const std::string& output, std::FILE* log) {
    int code = kPlayed;
    const std::string mesh = output + kMeshName;
    const bool mesh_written = write_scene_obj(scene, mesh);
    std::fprintf(log, "mesh %s: %s\n", mesh.c_str(), mesh_written ? "written" : "NOT written");
    const uint32_t start = sx::platform().tick_count();
    const Picture picture = render_scene(scene, kPictureWidth, kPictureHeight);
    const std::string render = output + kRenderName;
    const bool render_written = write_png(render, picture.rgb, picture.width, picture.height);
    std::fprintf(log, "render %s (%dx%d, %lu ms): %s\n", render.c_str(), picture.width,
                 picture.height, static_cast<unsigned long>(sx::platform().tick_count() - start),
                 render_written ? "written" : "NOT written");
    if (!mesh_written || !render_written) code = kPictureFailed;
    return code;
}

// Without an output folder an applet that is not played says nothing: the
// player then stays the silent recorder that tests of the launcher start.
int play(const std::string& applet, const std::string& output, std::FILE* log) {
    std::string text;
    if (!read_applet(applet, &text)) {
        if (!output.empty())
            std::fprintf(log, "cannot read the applet %s: nothing to play\n", applet.c_str());
        return kPlayed;
    }
    Scene scene;
    std::string error;
    const SceneRead read = parse_scene(applet_body(text), &scene, &error);
    if (read == SceneRead::no_scene) {
        if (!output.empty()) std::fprintf(log, "the applet holds no scene: nothing to play\n");
        return kPlayed;
    }
    if (read == SceneRead::invalid) {
        std::fprintf(log, "the applet's scene is broken: %s\n", error.c_str());
        return kBadScene;
    }
    // What the launcher passed on (the control panel's "-renderer ID" too).
    std::fprintf(log, "started as: %s\n", sx::platform().command_line().c_str());
    std::fprintf(log, "scene %s: %lu surfaces\n", scene.name.c_str(),
                 static_cast<unsigned long>(scene.parts.size()));
    // As the player does at start: the component search looks in these.
    sx::register_component_directories();
    const ComponentServices host = host_services();
    Tessellator tessellator(host);
    if (!tessellator.load(&error)) {
        std::fprintf(log, "%s\n", error.c_str());
        return kNoTessellator;
    }
    SceneLoading loading(&scene, &tessellator, log, kAdDelayMs * 3 / 4);
    AdDemoOptions ad;
    ad.width = kAdWidth;
    ad.height = kAdHeight;
    ad.delay_ms = kAdDelayMs;
    ad.report = true;
    ad.log_stream = log;
    ad.loading = &loading;
    if (!output.empty()) ad.screenshot = output + kAdName;
    const uint32_t start = sx::platform().tick_count();
    const int ad_code = run_ad_demo(ad);
    // Without the ad (or after it failed) the applet still loads.
    loading.hurry();
    while (loading.step()) {
    }
    std::fprintf(log, "ad: %s; loaded in %lu ms\n",
                 ad_code == 0   ? "shown and removed, the report made (fetch line above)"
                 : ad_code == 1 ? "advertising missing, played without it"
                                : "failed",
                 static_cast<unsigned long>(sx::platform().tick_count() - start));
    std::fprintf(log, "scene %s: %lu surfaces, %lu triangles, %lu ms tessellating\n",
                 scene.name.c_str(), static_cast<unsigned long>(scene.parts.size()),
                 static_cast<unsigned long>(loading.triangles()),
                 static_cast<unsigned long>(loading.busy_ms()));
    int code = ad_code > 1 ? kAdFailed : kPlayed;
    if (loading.failed() > 0) code = kSurfaceFailed;
    if (!output.empty()) {
        const int pictures = write_pictures(scene, output, log);
        if (code == kPlayed) code = pictures;
    }
    return code;
}

}  // namespace

int play_applet(const std::string& applet, const std::string& output) {
    std::FILE* log = stdout;
    std::string folder = output;
    if (!folder.empty()) {
        if (folder.back() != '\\') folder += '\\';
        sx::FilePath(folder).ensure_directory();
        log = sx::platform().open_file((folder + kLogName).c_str(), "wb");  // LF lines everywhere
        if (!log) return kPictureFailed;
    }
    const int code = play(applet, folder, log);
    // The last line: whoever waits for the player reads its outcome here.
    if (log != stdout) {
        std::fprintf(log, "player exit %d\n", code);
        std::fclose(log);
    }
    return code;
}

}  // namespace sxplayer
