// What the first tessellation in a fresh process costs against a warm one.
// A player meshes each scene in a process of its own, so its users wait for
// whatever the library pays once: relocations, page faults on code and data,
// first touches of the host's heap.
//
//   ruvane-first-call [--runs K] [--warm W] [--scale S] FACE.json...
//       for every face, K fresh processes (this program again, started with
//       posix_spawn: a forked child would pay for copying its parent);
//       sums the median first calls and warm calls (the best of W calls after
//       the first, median over the processes) per model (files named
//       MODEL_faceNNN.json), over all faces and over faces of at most 200
//       triangles; then, unless --summary, a line per face.
//   ruvane-first-call --child FACE.json W S
//       one process: reads the face, starts the component, times its first
//       tessellation and W more; prints "first_ns warm_ns triangles init_ns
//       first_faults warm_faults" (page faults in the first and the last call).
//
// Times are processor time of the calling thread (user and system, so page
// faults count), which other work on a shared machine hardly disturbs.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "include/ruvane.h"
#include "tools/ruvane_tess/surface_json.h"

extern char** environ;

namespace {

void* host_allocate(size_t size) { return std::malloc(size); }
void host_release(void* block) { std::free(block); }
void count(const TessTriangle*, void* user) { ++*static_cast<long*>(user); }

long minor_faults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

double thread_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return 1e9 * static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec);
}

int child(const char* path, int warm, double scale) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    ruvane_tess::SurfaceData s;
    std::string error;
    if (!in || !ruvane_tess::read_surface_description(text.str(), s, error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return 2;
    }
    const ruvane_tess::SurfaceRecords records(s);
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = host_allocate;
    host.release = host_release;
    const double t0 = thread_ns();
    if (!component_client_init(&host)) return 3;
    const double t1 = thread_ns();
    double first = 0.0, best = 1e300;
    long triangles = 0, first_faults = 0, warm_faults = 0;
    for (int k = 0; k <= warm; ++k) {
        long n = 0;
        int32_t status = -1;
        const long faults = minor_faults();
        const double a = thread_ns();
        const bool ok =
            ruvane_tesselate_ruvane(count, records.get(), &status, s.tolerances.surface * scale,
                                    s.tolerances.trim * scale, s.tolerances.param, &n);
        const double b = thread_ns();
        if (!ok) return 4;
        if (k == 0) {
            first = b - a;
            triangles = n;
            first_faults = minor_faults() - faults;
        } else {
            best = std::min(best, b - a);
            warm_faults = minor_faults() - faults;
        }
    }
    component_client_shutdown();
    std::printf("%.0f %.0f %ld %.0f %ld %ld\n", first, warm > 0 ? best : 0.0, triangles, t1 - t0,
                first_faults, warm_faults);
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// One fresh process; false when it failed.
bool spawn_child(const char* self, const std::string& face, int warm, double scale,
                 double result[6]) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    const std::string warm_text = std::to_string(warm);
    const std::string scale_text = std::to_string(scale);
    const char* args[] = {self,   "--child", face.c_str(), warm_text.c_str(), scale_text.c_str(),
                          nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, const_cast<char**>(args), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t got; (got = read(pipe_fds[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, got);
    close(pipe_fds[0]);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    return std::sscanf(out.c_str(), "%lf %lf %lf %lf %lf %lf", &result[0], &result[1], &result[2],
                       &result[3], &result[4], &result[5]) == 6;
}

// Per face: medians over the processes.
struct FaceTimes {
    std::string name, group;
    double first = 0, warm = 0, triangles = 0, init = 0, first_faults = 0, warm_faults = 0;
};

// Sums of first and warm calls over a set of faces, all and small ones.
struct Sums {
    int faces = 0, small = 0;
    double first = 0, warm = 0, first_small = 0, warm_small = 0;
    void add(const FaceTimes& f) {
        ++faces;
        first += f.first;
        warm += f.warm;
        if (f.triangles <= kSmallFace) {
            ++small;
            first_small += f.first;
            warm_small += f.warm;
        }
    }
    static constexpr double kSmallFace = 200;
};

void print_sums(const std::string& name, const Sums& s) {
    std::printf("| %s | %d | %.2f / %.2f | **%.2f** | %d | ", name.c_str(), s.faces, s.first / 1e6,
                s.warm / 1e6, s.first / s.warm, s.small);
    if (s.small > 0) {
        std::printf("%.2f / %.2f | **%.2f** |\n", s.first_small / 1e6, s.warm_small / 1e6,
                    s.first_small / s.warm_small);
    } else {
        std::printf("- | - |\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], std::atoi(argv[3]), std::atof(argv[4]));
    int runs = 9, warm = 5;
    double scale = 1.0;
    bool per_face = true;
    std::vector<std::string> faces;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--runs" || a == "--warm" || a == "--scale") && i + 1 < argc) {
            const double v = std::atof(argv[++i]);
            if (a == "--runs") runs = std::max(1, static_cast<int>(v));
            if (a == "--warm") warm = std::max(1, static_cast<int>(v));
            if (a == "--scale") scale = v;
        } else if (a == "--summary") {
            per_face = false;
        } else {
            faces.push_back(a);
        }
    }
    if (faces.empty()) {
        std::fputs(
            "usage: ruvane-first-call [--runs K] [--warm W] [--scale S] [--summary] FACE.json...\n",
            stderr);
        return 1;
    }
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = '\0';
    std::vector<FaceTimes> results;
    int failed = 0;
    for (const std::string& face : faces) {
        std::vector<double> v[6];
        for (int r = 0; r < runs; ++r) {
            double result[6];
            if (!spawn_child(self, face, warm, scale, result)) {
                std::fprintf(stderr, "%s: the child failed\n", face.c_str());
                ++failed;
                break;
            }
            for (int k = 0; k < 6; ++k) v[k].push_back(result[k]);
        }
        if (static_cast<int>(v[0].size()) < runs) continue;
        FaceTimes f;
        f.name = face.substr(face.find_last_of('/') + 1);
        // Files named MODEL_faceNNN.json are summed per model.
        f.group = f.name.substr(0, f.name.rfind("_face"));
        f.first = median(v[0]);
        f.warm = median(v[1]);
        f.triangles = v[2].back();
        f.init = median(v[3]);
        f.first_faults = median(v[4]);
        f.warm_faults = median(v[5]);
        results.push_back(f);
    }
    std::printf(
        "| faces of | faces | first / warm calls, ms | ratio | faces of at most 200 triangles | "
        "first / warm, ms | ratio |\n|---|---|---|---|---|---|---|\n");
    Sums all;
    double init = 0;
    for (size_t i = 0; i < results.size();) {
        Sums group;
        size_t j = i;
        for (; j < results.size() && results[j].group == results[i].group; ++j) {
            group.add(results[j]);
            all.add(results[j]);
            init += results[j].init;
        }
        print_sums(results[i].group, group);
        i = j;
    }
    print_sums("all", all);
    std::printf(
        "\nFirst call: the first tessellation in a fresh process; warm: the best of %d more "
        "calls; medians over %d processes per face; component_client_init took %.3f ms in "
        "all.\n",
        warm, runs, init / 1e6);
    if (per_face) {
        std::printf(
            "\n| face | triangles | first call us | warm call us | first / warm | page faults, "
            "first / warm |\n|---|---|---|---|---|---|\n");
        for (const FaceTimes& f : results)
            std::printf("| %s | %.0f | %.1f | %.1f | %.2f | %.0f / %.0f |\n", f.name.c_str(),
                        f.triangles, f.first / 1e3, f.warm / 1e3, f.first / f.warm, f.first_faults,
                        f.warm_faults);
    }
    if (failed) std::printf("\n%d faces failed\n", failed);
    return failed ? 1 : 0;
}
