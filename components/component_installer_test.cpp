// The component installer: path rules, refused requests, and installs no stop or kill splits.
#include "components/component_installer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "components/component_index.h"
#include "components/component_search.h"
#include "components/file_lock.h"
#include "components/testing/component_env.h"
#include "components/testing/scratch.h"
#include "platform/platform.h"
#include "platform/testing/faulty_platform.h"
#include "platform/testing/test_support.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace sx::install {
namespace {

using sx::testing::ScratchDir;
using sx::testing::write_file;

InstallRequest request_for(const FilePath& directory, const std::string& name, int version,
                           std::vector<ComponentFile> files) {
    InstallRequest request;
    request.name = name;
    request.version = version;
    request.directory = directory;
    request.files = std::move(files);
    return request;
}

// A file's bytes, or "(missing)".
std::string text_of(const std::string& path) {
    std::string text;
    return sx::testing::read_file(path, &text) ? text : "(missing)";
}

// Folders and files in place install too; a reinstall in another case keeps its record's place.
TEST(Sxinstall, FoldersFilesInPlaceAndReinstallUnderAnotherCase) {
    sx::testing::ComponentEnvironment environment;
    const std::string dir = environment.system_components();
    const FilePath directory(dir);
    ScratchDir sources;
    const FilePath viewer(sources / "viewer");
    ASSERT_TRUE(FilePath(sources / "tree\\sub\\").ensure_directory() &&
                write_file(viewer.text(), "program") &&
                write_file(sources / "tree\\sub\\data.bin", "data"));
    InstallRequest request =
        request_for(directory, "interpreter1", 3,
                    {{"run", "viewer.exe", viewer}, {"data", "sub/data.bin", {}}});
    request.folders.push_back(FilePath(sources / "tree"));
    const InstallRequest requests[] = {
        request_for(directory, "first", 1, {{"key", "first.bin", viewer}}), request,
        request_for(directory, "third", 1, {{"key", "a;b\\c=d.txt", viewer}}),
        request_for(directory, "INTERPRETER1", 7, {{"data", "sub\\data.bin", {}}})};
    std::string error;
    for (const InstallRequest& r : requests) ASSERT_TRUE(install_component(r, &error)) << error;
    char found[260];
    ASSERT_GT(find_component_file("interpreter1", "data", found, sizeof found), 0);
    EXPECT_EQ(std::string(found) + " " + text_of(found), dir + "sub\\data.bin data");
    EXPECT_EQ(text_of(dir + "compindx.dat"),
              "component = FIRST\r\nversion = 1\r\ninstalled_local = key;first.bin\r\n"
              "componentend\r\n"
              "component = INTERPRETER1\r\nversion = 7\r\ninstalled_local = data;sub\\data.bin\r\n"
              "componentend\r\n"
              "component = THIRD\r\nversion = 1\r\ninstalled_local = key;a;b\\c=d.txt\r\n"
              "componentend\r\n");
}

// Refused requests (reserved index names in any case among them) change nothing.
TEST(Sxinstall, RefusesBadRequestsAndKeepsTheIndex) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\"), file(scratch / "file");
    const std::string index = directory.text() + "compindx.dat";
    ASSERT_TRUE(write_file(file.text(), "x"));
    std::string error;
    ASSERT_TRUE(
        install_component(request_for(directory, "kept", 0, {{"key", "kept.bin", file}}), &error))
        << error;
    const std::string before = text_of(index);
    const InstallRequest base = request_for(directory, "other", 0, {{"key", "other.bin", file}});
    std::vector<InstallRequest> bad(6, base);  // bad[0]: refused while the index is held
    bad[1].files.push_back(base.files[0]);
    bad[2].hooks.push_back("nothere");
    bad[3].files[0].source = FilePath(file.text() + "x");
    bad[4].files[0].source = FilePath();  // not in place
    bad[5].files[0].key = "a;b";
    for (const char* name : {"", " x", "x\r"}) {
        bad.push_back(base);
        bad.back().name = name;
    }
    // Paths that leave the directory or do not name one file; then the reserved names.
    const size_t paths = bad.size();
    for (const char* path : {"", "\\abs.exe", "/abs.exe", "C:\\x.exe", "C:x.exe", "..\\up.exe",
                             "a\\..\\b", "a\\.\\b", "a\\\\b", "dir\\", " lead.exe", "trail.exe ",
                             "line\nbreak", "COMPINDX.DAT", "Compindx.Dat.lock", "compindx.dat.new",
                             "sub\\compindx.dat.journal", "x.sxinstall-new", "y.sxinstall-old"}) {
        bad.push_back(base);
        bad.back().files[0].relative_path = path;
    }
    FileLockHolder other = acquire_lock(FilePath(index), 0);
    ASSERT_TRUE(other);
    for (size_t i = 0; i < bad.size(); ++i) {
        bad[i].lock_timeout_ms = 0;
        error.clear();
        EXPECT_FALSE(install_component(bad[i], &error)) << i;
        EXPECT_FALSE(error.empty()) << i;
        const char* says = i < paths ? "" : i + 6 < bad.size() ? "not a path inside" : "reserved";
        EXPECT_NE(error.find(says), std::string::npos) << i << ": " << error;
        other.reset();
    }
    EXPECT_FALSE(FilePath(directory.text() + "other.bin").exists());
    EXPECT_EQ(text_of(index), before);
}

// Another component's file: refused naming the owner unless forced; removals take their own.
TEST(SxinstallTransactions, OtherComponentsFilesNeedForce) {
    ScratchDir scratch;
    const FilePath dir(scratch / "components\\");
    const FilePath a(scratch / "a"), b(scratch / "b");
    ASSERT_TRUE(write_file(a.text(), "from a") && write_file(b.text(), "from b"));
    std::string error;
    ASSERT_TRUE(install_component(
        request_for(dir, "alpha", 1, {{"s", "lib\\shared.dll", a}, {"o", "old.txt", a}}), &error));
    InstallRequest beta = request_for(dir, "beta", 1, {{"m", "LIB/Shared.dll", b}});
    EXPECT_FALSE(install_component(beta, &error));
    EXPECT_NE(error.find("ALPHA"), std::string::npos) << error;
    EXPECT_EQ(text_of(dir.text() + "lib\\shared.dll"), "from a");
    beta.force = true;
    ASSERT_TRUE(install_component(beta, &error)) << error;
    ASSERT_TRUE(remove_component(dir, "alpha", &error, 0)) << error;
    EXPECT_EQ(text_of(dir.text() + "old.txt") + text_of(dir.text() + "lib\\shared.dll"),
              "(missing)from b");
    ASSERT_TRUE(remove_component(dir, "beta", &error, 0)) << error;
    EXPECT_FALSE(FilePath(dir.text() + "lib\\shared.dll").exists());
}

// Every file below a folder with its bytes, every folder with a trailing backslash.
using Tree = std::map<std::string, std::string>;
bool collect(const FilePath& entry, void* argument, bool is_directory) {
    auto* found = static_cast<std::pair<std::string, Tree*>*>(argument);
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    std::pair<std::string, Tree*> inner{found->first + name + "\\", found->second};
    if (is_directory) FilePath(entry.text() + "\\").for_each_entry(collect, &inner);
    (*found->second)[is_directory ? inner.first : found->first + name] =
        is_directory ? "" : text_of(entry.text());
    return true;
}

Tree tree_of(const FilePath& directory) {
    Tree tree;
    std::pair<std::string, Tree*> walk{"", &tree};
    directory.for_each_entry(collect, &walk);
    tree.erase(std::string(kIndexFileName) + ".lock");  // a stopped or killed holder's, unheld
    return tree;
}

// An unusable directory is reported at once with the system's reason, never as a held lock.
TEST(SxinstallTransactions, UnusableDirectoryIsReportedAtOnceWithItsCause) {
    ScratchDir scratch;
    ASSERT_TRUE(write_file(scratch / "file", "x") &&
                FilePath(scratch / "made\\").ensure_directory());
    const struct {
        std::string directory;
        void (*arm)(FaultyPlatform&);
        const char* cause;
    } cases[] = {
        {scratch / "file\\components\\", [](FaultyPlatform&) {}, "is a file"},
        {scratch / "new\\components\\",
         [](FaultyPlatform& f) { f.fail_create_directory("components"); }, "(system error 5)"},
        {scratch / "made\\", [](FaultyPlatform& f) { f.fail_lock(kIndexFileName); },
         "(system error 5)"},
    };
    for (const auto& c : cases) {
        FaultyPlatform faulty;
        c.arm(faulty);
        ScopedPlatform scope(&faulty);
        std::string error;
        EXPECT_FALSE(install_component(request_for(FilePath(c.directory), "c", 1,
                                                   {{"k", "k.txt", FilePath(scratch / "file")}}),
                                       &error));
        EXPECT_NE(error.find(c.cause), std::string::npos) << error;
        EXPECT_EQ(error.find("locked"), std::string::npos) << error;
        EXPECT_EQ(faulty.calls(Call::sleep_ms), 0) << error;
    }
}

// Ends the process before its n-th change to the file system, as a kill then would.
class StopAt : public FaultyPlatform {
public:
    explicit StopAt(int n) : left_(n) {}
    bool copy_file(const char* from, const char* to, bool fail_if_exists) override {
        return step() && FaultyPlatform::copy_file(from, to, fail_if_exists);
    }
    bool replace_file(const char* from, const char* to) override {
        return step() && FaultyPlatform::replace_file(from, to);
    }
    bool delete_file(const char* path) override {
        return step() && FaultyPlatform::delete_file(path);
    }

private:
    bool step() {
        if (left_-- == 0) std::_Exit(3);
        return true;
    }
    int left_;
};

// Stopped before each step, then recovered: the old or the new installation, byte for byte; a
// failing hook or a file in use always leaves the old.
TEST(SxinstallTransactions, InstallStoppedAtAnyStepLeavesOneWholeVersion) {
    const struct {
        std::string name, prefix;
        bool hooked, stuck;
    } cases[] = {{"c", "", false, false},
                 {"c", "", true, false},
                 {"f", "f", true, false},
                 {"c", "", false, true}};
    Tree upgraded;  // the first case's result: the last case, stopped early, may recover to it
    for (const auto& c : cases) {
        const bool kept = !c.hooked && !c.stuck;
        Tree old_tree, new_tree;
        int stops = 0;
        for (int step = -1;; ++step) {  // -1: runs to the end
            ScratchDir scratch;
            const FilePath dir(scratch / "components\\"), v1(scratch / "1"), v2(scratch / "2");
            ASSERT_TRUE(write_file(v1.text(), "one") && write_file(v2.text(), "two"));
            std::string error;
            ASSERT_TRUE(install_component(
                request_for(dir, "c", 1, {{"h", "h.dll", v1}, {"k", "k", v1}, {"g", "g", v1}}),
                &error));
            InstallRequest request = request_for(
                dir, c.name, 2,
                {{"h", c.prefix + "h.dll", v2}, {"k", c.prefix + "k", v2}, {"n", "sub\\n", v2}});
            if (c.hooked) request.hooks = {"h"};  // "two" is no library
            if (step == -1) old_tree = tree_of(dir);
            auto install = [&] {
                StopAt stop(step);
                if (c.stuck) stop.fail_replace_file("k.sxinstall-new");
                ScopedPlatform scope(&stop);
                return install_component(request, &error) ? 0 : 1;
            };
            int code = step == -1 ? install() : -1;
#ifndef _WIN32
            if (step >= 0) {
                const pid_t child = fork();
                if (child == 0) std::_Exit(install());
                int status = 0;
                ASSERT_TRUE(child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status));
                code = WEXITSTATUS(status);
            }
#endif
            EXPECT_FALSE(remove_component(dir, "none", &error, 0));  // recovers first
            const Tree now = tree_of(dir);
            if (step == -1) {
                EXPECT_EQ(code, kept ? 0 : 1) << c.name;
                new_tree = now;
                continue;
            }
            if (code != 3) break;  // no step left to stop at (or no fork)
            EXPECT_TRUE(now == old_tree || now == new_tree || (c.stuck && now == upgraded))
                << c.name << " stopped at " << step;
            ++stops;
        }
#ifndef _WIN32
        EXPECT_GT(stops, 8) << c.name;
#endif
        EXPECT_EQ(new_tree == old_tree, !kept) << c.name;
        if (kept) upgraded = new_tree;
    }
}

#ifndef _WIN32
// Installs, upgrades and removals killed at spread-out instants over an index of 400 records:
// after the next install the directory holds exactly what the index lists.
TEST(SxinstallTransactions, KilledInstallsLeaveOneWholeVersion) {
    ScratchDir scratch;
    const FilePath dir(scratch / "components\\");
    auto source = [&](int c, int v, int f) {
        return scratch / std::to_string(c * 100 + v * 10 + f);
    };
    auto request = [&](int c, int v) {  // version v lists f0..fv; f0 moves in version 3
        InstallRequest r = request_for(dir, "comp" + std::to_string(c), v, {});
        for (int f = 0; f <= v; ++f)
            r.files.push_back({"f" + std::to_string(f),
                               (f == 0 && v == 3 ? "moved\\" : "") + std::to_string(c * 100 + f),
                               FilePath(source(c, v, f))});
        return r;
    };
    for (int c = 0; c < 3; ++c)
        for (int v = 1; v <= 3; ++v)
            for (int f = 0; f <= v; ++f)
                ASSERT_TRUE(
                    write_file(source(c, v, f), source(c, v, f) + std::string(48 << 10, 'a')));
    std::vector<IndexRecord> filler, records;
    for (int i = 0; i < 400; ++i) filler.push_back({"FILLER" + std::to_string(i), i, {}});
    ASSERT_TRUE(dir.ensure_directory() &&
                write_index(FilePath(dir.text() + kIndexFileName), filler));

    std::mt19937 random(17);
    int kills = 0, rounds = 0;
    for (; kills < 200 && rounds < 4000; ++rounds) {
        const int c = static_cast<int>(random() % 3), v = static_cast<int>(random() % 4);
        // 0.1 ms to 0.2 s on a log scale: every phase of an install is hit.
        const auto delay = static_cast<useconds_t>(
            100 * std::exp(std::uniform_real_distribution<double>(0, std::log(2000.0))(random)));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;  // version 0: a removal
            _exit(v == 0 ? remove_component(dir, "comp" + std::to_string(c), &error)
                         : install_component(request(c, v), &error));
        }
        usleep(delay);
        kill(child, SIGKILL);
        int status = 0;
        kills += waitpid(child, &status, 0) == child && WIFSIGNALED(status);
    }
    EXPECT_GE(kills, 200) << "in " << rounds << " rounds";
    std::string error;
    InstallRequest last = request(0, 2);
    last.lock_timeout_ms = 0;  // no killed holder keeps the lock
    ASSERT_TRUE(install_component(last, &error) && list_components(dir, &records, &error)) << error;
    Tree listed{{kIndexFileName, text_of(dir.text() + kIndexFileName)}}, present = tree_of(dir);
    for (const IndexRecord& record : records)
        for (const auto& [key, path] : record.files)
            listed[path] = text_of(source(record.name[4] - '0', record.version, key[1] - '0'));
    EXPECT_EQ(records.size() - std::count_if(records.begin(), records.end(),
                                             [](auto& r) { return r.name.rfind("COMP", 0) == 0; }),
              filler.size());
    for (auto it = present.begin(); it != present.end();)
        it = it->first.back() == '\\' ? present.erase(it) : std::next(it);
    EXPECT_EQ(present, listed);
}
#endif

}  // namespace
}  // namespace sx::install
