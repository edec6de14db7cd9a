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
//   ruvane-first-call --breakdown [--runs K] [--warm W] [--scale S] FACE.json...
//       the same processes again with one cost of the first call paid before
//       it (see kPrimes), so that the first call's drop shows that cost's
//       share; summed over faces of at most 200 triangles.
//   ruvane-first-call --compare DIR [--runs K] [--warm W] [--scale S] FACE.json...
//       this build's library against the one in DIR (LD_LIBRARY_PATH), the
//       processes taking turns; the first call's sums, allocations and bytes.
//   ruvane-first-call --child FACE.json W S PRIME
//       one process: reads the face, pays PRIME in advance ("none", or names
//       from kPrimes joined by '+'), starts the component, times its first
//       tessellation and W more; prints "first_ns warm_ns triangles init_ns
//       first_faults warm_faults allocations peak_bytes" (page faults in the
//       first and the last call; host allocations and the most host memory
//       held at once in the first call).
//
// Times are processor time of the calling thread (user and system, so page
// faults count), which other work on a shared machine hardly disturbs.
#include <link.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
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

// What the library asks of its host: allocations and bytes held.
struct HostUse {
    long allocations = 0;
    size_t held = 0, peak = 0;
} g_use;

void* host_allocate(size_t size) {
    void* block = std::malloc(size);
    if (block) {
        ++g_use.allocations;
        g_use.held += malloc_usable_size(block);
        g_use.peak = std::max(g_use.peak, g_use.held);
    }
    return block;
}
void host_release(void* block) {
    if (block) g_use.held -= malloc_usable_size(block);
    std::free(block);
}
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

// Costs a first call may pay, each paid here in advance by the experiment that
// names it. "bind" is the dynamic loader's, set in the child's environment;
// "other" (not in this list: it is no single cost) meshes another face first.
const char* const kPrimes[] = {"bind", "heap", "libm", "code", "stack", "lines"};

// The host's heap grown and its pages touched (and kept: no trimming). Not
// much more than a call holds: zeroing fresh pages also fills the caches with
// them, which would cost the call the lines it had.
void prime_heap() {
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    const size_t bytes = 512 << 10;
    char* block = static_cast<char*>(std::malloc(bytes));
    if (!block) return;
    for (size_t k = 0; k < bytes; k += 4096) block[k] = 1;
    asm volatile("" : : "r"(block) : "memory");
    std::free(block);
}

// The routines the library imports from libm, with their tables.
void prime_libm() {
    volatile double x = 0.7, y = 1.3;
    volatile double sink = std::log(x) + std::atan2(x, y) + std::hypot(x, y) + std::sqrt(y) +
                           std::floor(y) + std::fmin(x, y) + std::fmax(x, y) + std::log(1e-300);
    (void)sink;
}

// Every page of the library's file mapping read once: no page faults on its
// code and constants later, the caches left cold (one byte per page); or, for
// "lines", every cache line read, which brings the whole library into the
// processor's caches as well.
int touch_library(dl_phdr_info* info, size_t, void* step) {
    if (!info->dlpi_name || !std::strstr(info->dlpi_name, "libruvane")) return 0;
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& ph = info->dlpi_phdr[i];
        if (ph.p_type != PT_LOAD) continue;
        const char* begin = reinterpret_cast<const char*>(info->dlpi_addr + ph.p_vaddr);
        for (size_t k = 0; k < ph.p_memsz; k += *static_cast<size_t*>(step)) {
            volatile char c = begin[k];
            (void)c;
        }
    }
    return 1;
}

// The stack below us touched as deep as a call could go.
__attribute__((noinline)) void prime_stack() {
    volatile char frame[64 << 10];
    for (size_t k = 0; k < sizeof frame; k += 4096) frame[k] = 0;
}

void prime(const std::string& what) {
    if (what.find("heap") != std::string::npos) prime_heap();
    if (what.find("libm") != std::string::npos) prime_libm();
    size_t step = what.find("lines") != std::string::npos ? 64 : 4096;
    if (what.find("code") != std::string::npos || step == 64) dl_iterate_phdr(touch_library, &step);
    if (what.find("stack") != std::string::npos) prime_stack();
}

// Reads a face file; false (with a message) when it cannot be used.
bool read_face(const char* path, ruvane_tess::SurfaceData& s) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!in || !ruvane_tess::read_surface_description(text.str(), s, error)) {
        std::fprintf(stderr, "%s: %s\n", path, error.c_str());
        return false;
    }
    return true;
}

int child(const char* path, int warm, double scale, const std::string& primes) {
    ruvane_tess::SurfaceData s;
    if (!read_face(path, s)) return 2;
    const ruvane_tess::SurfaceRecords records(s);
    // "other=FACE": that face is meshed first, in this process.
    ruvane_tess::SurfaceData other;
    const size_t at = primes.find("other=");
    if (at != std::string::npos && !read_face(primes.substr(at + 6).c_str(), other)) return 2;
    const ruvane_tess::SurfaceRecords other_records(other);
    ComponentServices host{};
    host.table_version = 2;
    host.allocate = host_allocate;
    host.release = host_release;
    // The host's own first use (its allocator's symbols bound) is not ours.
    host_release(host_allocate(1));
    g_use = HostUse{};
    prime(primes);
    const double t0 = thread_ns();
    if (!component_client_init(&host)) return 3;
    const double t1 = thread_ns();
    if (at != std::string::npos) {
        long n = 0;
        int32_t status = -1;
        if (!ruvane_tesselate_ruvane(count, other_records.get(), &status,
                                     other.tolerances.surface * scale,
                                     other.tolerances.trim * scale, other.tolerances.param, &n))
            return 4;
    }
    double first = 0.0, best = 1e300;
    long triangles = 0, first_faults = 0, warm_faults = 0, allocations = 0;
    size_t peak = 0;
    for (int k = 0; k <= warm; ++k) {
        long n = 0;
        int32_t status = -1;
        g_use = HostUse{};
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
            allocations = g_use.allocations;
            peak = g_use.peak;
        } else {
            best = std::min(best, b - a);
            warm_faults = minor_faults() - faults;
        }
    }
    component_client_shutdown();
    std::printf("%.0f %.0f %ld %.0f %ld %ld %ld %zu\n", first, warm > 0 ? best : 0.0, triangles,
                t1 - t0, first_faults, warm_faults, allocations, peak);
    return 0;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

constexpr int kFields = 8;  // numbers a child prints

// One fresh process; false when it failed.
bool spawn_child(const char* self, const std::string& face, int warm, double scale,
                 const std::string& primes, double result[kFields]) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
    const std::string warm_text = std::to_string(warm);
    const std::string scale_text = std::to_string(scale);
    const char* args[] = {
        self,           "--child", face.c_str(), warm_text.c_str(), scale_text.c_str(),
        primes.c_str(), nullptr};
    // Symbols resolved at load, before main, instead of at their first use.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e) env.push_back(*e);
    static char bind_now[] = "LD_BIND_NOW=1";
    if (primes.find("bind") != std::string::npos) env.push_back(bind_now);
    // "lib=DIR": the library found in DIR first (another build, for a
    // comparison in the same run).
    std::string library_path;
    if (primes.compare(0, 4, "lib=") == 0) {
        library_path = "LD_LIBRARY_PATH=" + primes.substr(4);
        env.push_back(library_path.data());
    }
    env.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, self, &actions, nullptr, const_cast<char**>(args), env.data());
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
    std::istringstream fields(out);
    for (int k = 0; k < kFields; ++k)
        if (!(fields >> result[k])) return false;
    return true;
}

// Per face: medians over the processes.
struct FaceTimes {
    std::string name, group;
    double first = 0, warm = 0, triangles = 0, init = 0, first_faults = 0, warm_faults = 0,
           allocations = 0, peak = 0;
};

constexpr double kSmallFace = 200;  // triangles

// Sums of first and warm calls over a set of faces, all and small ones.
struct Sums {
    int faces = 0, small = 0;
    double first = 0, warm = 0, first_small = 0, warm_small = 0, faults_small = 0;
    void add(const FaceTimes& f) {
        ++faces;
        first += f.first;
        warm += f.warm;
        if (f.triangles <= kSmallFace) {
            ++small;
            first_small += f.first;
            warm_small += f.warm;
            faults_small += f.first_faults;
        }
    }
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

// Every face in `runs` fresh processes per variant (what is paid in advance),
// the variants taking turns so that a change in the machine's load falls on
// all of them; faces whose child failed are left out and counted in `failed`.
std::vector<std::vector<FaceTimes>> measure(const char* self, const std::vector<std::string>& faces,
                                            int runs, int warm, double scale,
                                            const std::vector<std::string>& variants, int* failed) {
    std::vector<std::vector<FaceTimes>> results(variants.size());
    for (size_t i = 0; i < faces.size(); ++i) {
        const std::string& face = faces[i];
        std::vector<std::vector<double>> v(variants.size() * kFields);
        bool ok = true;
        for (int r = 0; r < runs && ok; ++r) {
            for (size_t k = 0; k < variants.size() && ok; ++k) {
                double result[kFields];
                // "other": the face before this one in the list is meshed first.
                std::string variant = variants[k];
                if (variant == "other")
                    variant += "=" + faces[(i + faces.size() - 1) % faces.size()];
                ok = spawn_child(self, face, warm, scale, variant, result);
                for (int i = 0; ok && i < kFields; ++i) v[k * kFields + i].push_back(result[i]);
            }
        }
        if (!ok) {
            std::fprintf(stderr, "%s: the child failed\n", face.c_str());
            ++*failed;
            continue;
        }
        for (size_t k = 0; k < variants.size(); ++k) {
            const std::vector<double>* c = &v[k * kFields];
            FaceTimes f;
            f.name = face.substr(face.find_last_of('/') + 1);
            // Files named MODEL_faceNNN.json are summed per model.
            f.group = f.name.substr(0, f.name.rfind("_face"));
            f.first = median(c[0]);
            f.warm = median(c[1]);
            f.triangles = c[2].back();
            f.init = median(c[3]);
            f.first_faults = median(c[4]);
            f.warm_faults = median(c[5]);
            f.allocations = c[6].back();
            f.peak = c[7].back();
            results[k].push_back(f);
        }
    }
    return results;
}

// The first call over faces of at most 200 triangles with each cost paid in
// advance in turn, then with all of them.
void print_breakdown(const char* self, const std::vector<std::string>& faces, int runs, int warm,
                     double scale, int* failed) {
    std::vector<std::string> variants = {"none"};
    std::string all;
    for (const char* p : kPrimes) {
        variants.push_back(p);
        all += (all.empty() ? "" : "+") + std::string(p);
    }
    variants.push_back(all);
    variants.push_back("other");
    std::printf(
        "| paid before the first call | first / warm calls, ms | ratio | first call's share | "
        "page faults in first calls |\n|---|---|---|---|---|\n");
    const std::vector<std::vector<FaceTimes>> results =
        measure(self, faces, runs, warm, scale, variants, failed);
    double base = 0;
    for (size_t k = 0; k < variants.size(); ++k) {
        Sums s;
        for (const FaceTimes& f : results[k]) s.add(f);
        if (k == 0) base = s.first_small - s.warm_small;
        std::printf("| %s | %.2f / %.2f | **%.2f** | %.0f%% | %.0f |\n", variants[k].c_str(),
                    s.first_small / 1e6, s.warm_small / 1e6, s.first_small / s.warm_small,
                    base > 0 ? 100.0 * (base - (s.first_small - s.warm_small)) / base : 0.0,
                    s.faults_small);
    }
    std::printf(
        "\nFaces of at most 200 triangles; share: how much of the first call's extra time "
        "(first minus warm, with nothing paid before) the advance payment removed; bind: "
        "LD_BIND_NOW=1; heap: 512 KB of the host's heap touched; libm: the routines the library "
        "imports called once; code: a byte of every page of the library read; stack: 64 KB of "
        "stack touched; lines: every cache line of the library read; other: the face before "
        "this one in the list meshed first in the same process. Medians over %d processes per "
        "face, the variants taking turns.\n",
        runs);
}

// This build against the library in `dir`, over all faces and faces of at
// most 200 triangles.
void print_comparison(const char* self, const std::vector<std::string>& faces, int runs, int warm,
                      double scale, const std::string& dir, int* failed) {
    const std::vector<std::string> variants = {"lib=" + dir, "none"};
    const std::vector<std::vector<FaceTimes>> results =
        measure(self, faces, runs, warm, scale, variants, failed);
    std::printf(
        "| library | faces of at most 200 triangles: first / warm calls, ms | ratio | all faces: "
        "first / warm, ms | ratio | page faults, host allocations, most bytes held, per small face "
        "|\n|---|---|---|---|---|---|\n");
    for (size_t k = 0; k < variants.size(); ++k) {
        Sums s;
        double allocations = 0, peak = 0;
        for (const FaceTimes& f : results[k]) {
            s.add(f);
            if (f.triangles <= kSmallFace) {
                allocations += f.allocations;
                peak += f.peak;
            }
        }
        const double n = s.small > 0 ? s.small : 1;
        std::printf("| %s | %.2f / %.2f | **%.2f** | %.2f / %.2f | **%.2f** | %.1f, %.0f, %.0f |\n",
                    k == 0 ? dir.c_str() : "this build", s.first_small / 1e6, s.warm_small / 1e6,
                    s.first_small / s.warm_small, s.first / 1e6, s.warm / 1e6, s.first / s.warm,
                    s.faults_small / n, allocations / n, peak / n);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::strcmp(argv[1], "--child") == 0)
        return child(argv[2], std::atoi(argv[3]), std::atof(argv[4]), argv[5]);
    int runs = 9, warm = 5;
    double scale = 1.0;
    bool per_face = true, breakdown = false;
    std::string compare;
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
        } else if (a == "--breakdown") {
            breakdown = true;
        } else if (a == "--compare" && i + 1 < argc) {
            compare = argv[++i];
        } else {
            faces.push_back(a);
        }
    }
    if (faces.empty()) {
        std::fputs(
            "usage: ruvane-first-call [--runs K] [--warm W] [--scale S] [--summary | --breakdown | "
            "--compare DIR] FACE.json...\n",
            stderr);
        return 1;
    }
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0) return 1;
    self[len] = '\0';
    int failed = 0;
    if (breakdown || !compare.empty()) {
        if (breakdown) print_breakdown(self, faces, runs, warm, scale, &failed);
        if (!compare.empty()) print_comparison(self, faces, runs, warm, scale, compare, &failed);
        if (failed) std::printf("\n%d faces failed\n", failed);
        return failed ? 1 : 0;
    }
    const std::vector<FaceTimes> results =
        measure(self, faces, runs, warm, scale, {"none"}, &failed).front();
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
            "first / warm | host allocations | most bytes held |\n"
            "|---|---|---|---|---|---|---|---|\n");
        for (const FaceTimes& f : results)
            std::printf("| %s | %.0f | %.1f | %.1f | %.2f | %.0f / %.0f | %.0f | %.0f |\n",
                        f.name.c_str(), f.triangles, f.first / 1e3, f.warm / 1e3, f.first / f.warm,
                        f.first_faults, f.warm_faults, f.allocations, f.peak);
    }
    if (failed) std::printf("\n%d faces failed\n", failed);
    return failed ? 1 : 0;
}
