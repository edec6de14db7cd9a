// sxinstall: path rules, what the search sees, refused requests, and installs
// as transactions that a stop or kill never splits.
#include "tools/sxinstall/component_installer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
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

using sx::testing::ComponentEnvironment;
using sx::testing::read_file;
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

TEST(SxinstallPaths, RelativePathRules) {
    for (const char* path :
         {"viewer.exe", "player\\viewer.exe", "player/viewer.exe", "a;b\\c=d.txt"})
        EXPECT_TRUE(valid_relative_path(path)) << path;
    for (const char* path :
         {"", "\\abs.exe", "/abs.exe", "C:\\x.exe", "C:x.exe", "..\\up.exe", "a\\..\\b", "a\\.\\b",
          "a\\\\b", "dir\\", " lead.exe", "trail.exe ", "line\nbreak"})
        EXPECT_FALSE(valid_relative_path(path)) << path;
    EXPECT_TRUE(valid_file_key("run"));
    EXPECT_FALSE(valid_file_key("a;b") || valid_file_key(""));
    EXPECT_FALSE(valid_component_name(" x") || valid_component_name("x\r"));
}

// Installed components as the component search (the launcher's view) sees
// them; a reinstall under another case replaces its record in place.
TEST(Sxinstall, InstalledComponentsAreFoundByTheSearch) {
    ComponentEnvironment environment;
    const FilePath directory(environment.system_components());
    const std::string dir = directory.text();
    ScratchDir sources;
    ASSERT_TRUE(FilePath(sources / "tree\\sub\\").ensure_directory());
    ASSERT_TRUE(write_file(sources / "viewer", "player program") &&
                write_file(sources / "tree\\sub\\data.bin", "data") &&
                write_file(sources / "tree\\top.txt", "top"));
    std::string error, copied;
    const FilePath viewer(sources / "viewer");
    ASSERT_TRUE(install_component(
        request_for(directory, "first", 1, {{"key", "first.bin", viewer}}), &error))
        << error;
    InstallRequest request =
        request_for(directory, "interpreter1", 3,
                    {{"run", "player\\viewer.exe", viewer}, {"data", "sub/data.bin", FilePath()}});
    request.folders.push_back(FilePath(sources / "tree"));
    ASSERT_TRUE(install_component(request, &error)) << error;
    EXPECT_TRUE(read_file(dir + "player\\viewer.exe", &copied) && copied == "player program");
    EXPECT_TRUE(read_file(dir + "top.txt", &copied) && copied == "top");
    EXPECT_EQ(component_version("INTERPRETER1"), 3);
    char buffer[260];
    ASSERT_GT(find_component_file("interpreter1", "run", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), dir + "player\\viewer.exe");
    ASSERT_GT(find_component_file("interpreter1", "data", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer), dir + "sub\\data.bin");
    EXPECT_FALSE(FilePath(dir + "compindx.dat.new").exists());
    EXPECT_FALSE(FilePath(dir + "compindx.dat.lock").exists());

    ASSERT_TRUE(install_component(
        request_for(directory, "third", 1, {{"key", "third.bin", viewer}}), &error))
        << error;
    ASSERT_TRUE(install_component(
        request_for(directory, "INTERPRETER1", 7, {{"run", "player\\viewer.exe", FilePath()}}),
        &error))
        << error;
    ASSERT_TRUE(read_file(dir + "compindx.dat", &copied));
    EXPECT_EQ(copied,
              "component = FIRST\r\nversion = 1\r\ninstalled_local = key;first.bin\r\n"
              "componentend\r\n"
              "component = INTERPRETER1\r\nversion = 7\r\n"
              "installed_local = run;player\\viewer.exe\r\ncomponentend\r\n"
              "component = THIRD\r\nversion = 1\r\ninstalled_local = key;third.bin\r\n"
              "componentend\r\n");
}

TEST(Sxinstall, RefusesBadRequestsAndKeepsTheIndex) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\"), file(scratch / "file");
    ASSERT_TRUE(write_file(file.text(), "x"));
    std::string error, before, after;
    ASSERT_TRUE(
        install_component(request_for(directory, "kept", 0, {{"key", "kept.bin", file}}), &error))
        << error;
    ASSERT_TRUE(read_file(directory.text() + "compindx.dat", &before));
    auto request = [&](auto change) {
        InstallRequest r = request_for(directory, "other", 0, {{"key", "other.bin", file}});
        r.lock_timeout_ms = 0;
        change(r);
        return r;
    };
    const InstallRequest bad[] = {
        request([](InstallRequest& r) { r.name = ""; }),
        request([](InstallRequest& r) { r.files[0].relative_path = "..\\escape.bin"; }),
        request([](InstallRequest& r) { r.files[0].key = "a;b"; }),
        request([](InstallRequest& r) { r.files.push_back(r.files[0]); }),
        request([](InstallRequest& r) { r.hooks.push_back("nothere"); }),
        request([&](InstallRequest& r) { r.files[0].source = FilePath(scratch / "missing"); }),
        request([](InstallRequest& r) { r.files[0].source = FilePath(); }),  // not in place
    };
    for (const InstallRequest& r : bad) {
        error.clear();
        EXPECT_FALSE(install_component(r, &error));
        EXPECT_FALSE(error.empty());
    }

    // Another installer holds the index.
    {
        FileLockHolder other = acquire_lock(FilePath(directory.text() + "compindx.dat"), 0);
        ASSERT_TRUE(other);
        EXPECT_FALSE(install_component(request([](InstallRequest&) {}), &error));
        EXPECT_FALSE(FilePath(directory.text() + "other.bin").exists());  // nothing copied
    }
    ASSERT_TRUE(read_file(directory.text() + "compindx.dat", &after));
    EXPECT_EQ(after, before);
}

TEST(SxinstallTransactions, ReservedNamesAndOtherComponentsFiles) {
    ScratchDir scratch;
    const FilePath dir(scratch / "components\\");
    const FilePath a(scratch / "a"), b(scratch / "b");
    ASSERT_TRUE(write_file(a.text(), "from a") && write_file(b.text(), "from b"));
    std::string error, text;
    ASSERT_TRUE(install_component(
        request_for(dir, "alpha", 1, {{"s", "lib\\shared.dll", a}, {"o", "old.txt", a}}), &error));
    for (const char* name : {"COMPINDX.DAT", "Compindx.Dat.lock", "compindx.dat.new",
                             "sub\\compindx.dat.journal", "x.sxinstall-new", "y.sxinstall-old"}) {
        const FilePath other(scratch / "other\\");  // a destroyed index spoils no later check
        EXPECT_FALSE(install_component(request_for(other, "evil", 1, {{"x", name, b}}), &error));
        EXPECT_NE(error.find("reserved"), std::string::npos) << name << ": " << error;
    }
    // Beta's file is alpha's: refused, naming alpha, unless forced.
    InstallRequest beta = request_for(dir, "beta", 1, {{"m", "LIB/Shared.dll", b}});
    EXPECT_FALSE(install_component(beta, &error));
    EXPECT_NE(error.find("ALPHA"), std::string::npos) << error;
    ASSERT_TRUE(read_file(dir.text() + "lib\\shared.dll", &text) && text == "from a");
    beta.force = true;
    ASSERT_TRUE(install_component(beta, &error)) << error;
    // Alpha's removal takes its own file; the shared one stays with beta.
    ASSERT_TRUE(remove_component(dir, "alpha", &error, 0)) << error;
    EXPECT_FALSE(FilePath(dir.text() + "old.txt").exists());
    EXPECT_TRUE(FilePath(dir.text() + "lib\\shared.dll").exists());
    ASSERT_TRUE(remove_component(dir, "beta", &error, 0)) << error;
    EXPECT_FALSE(FilePath(dir.text() + "lib\\shared.dll").exists());
}

// Every file below a folder with its bytes, and every folder (with its
// trailing backslash), by relative path.
using Tree = std::map<std::string, std::string>;
bool collect(const FilePath& entry, void* argument, bool is_directory) {
    auto* found = static_cast<std::pair<std::string, Tree*>*>(argument);
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    std::pair<std::string, Tree*> inner{found->first + name + "\\", found->second};
    if (is_directory) FilePath(entry.text() + "\\").for_each_entry(collect, &inner);
    std::string& bytes = (*found->second)[is_directory ? inner.first : found->first + name];
    if (!is_directory) read_file(entry.text(), &bytes);
    return true;
}

Tree tree_of(const FilePath& directory) {
    Tree tree;
    std::pair<std::string, Tree*> walk{"", &tree};
    directory.for_each_entry(collect, &walk);
    return tree;
}

// A component directory that cannot be made or written is reported at once
// with the system's reason, never after a wait as a lock another program holds.
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

// Ends the process just before its n-th change to the file system, as a
// power cut or a kill at that instant would.
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

// Stopped before each step, then recovered: the old installation or the new
// one, byte for byte; a failing hook or a file in use always leaves the old.
TEST(SxinstallTransactions, InstallStoppedAtAnyStepLeavesOneWholeVersion) {
    const struct {
        std::string name, prefix;
        bool hooked, stuck;
    } cases[] = {{"c", "", false, false},
                 {"c", "", true, false},
                 {"f", "f", true, false},
                 {"c", "", false, true}};
    // The first case's result: the last case, stopped early, may recover to it.
    Tree upgraded;
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
            Tree now = tree_of(dir);
            now.erase(std::string(kIndexFileName) + ".lock");  // the stopped holder's
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
// Installs, upgrades and removals killed at random instants over 400 records:
// the directory then holds exactly what the index lists, as listed.
TEST(SxinstallTransactions, KilledInstallsLeaveOneWholeVersion) {
    ScratchDir scratch;
    const FilePath dir(scratch / "components\\");
    auto content = [](int c, int v, int f) {
        return "c" + std::to_string(c) + "v" + std::to_string(v) + "f" + std::to_string(f) +
               std::string(48 * 1024, static_cast<char>('a' + f));
    };
    auto source = [&](int c, int v, int f) {
        return scratch / ("s" + std::to_string(c) + std::to_string(v) + std::to_string(f));
    };
    // Version v lists f0..fv; f0 moves to another folder in version 3.
    // Component 3's hook f0 is no library: every install of it is undone.
    auto request = [&](int c, int v) {
        std::vector<ComponentFile> files;
        for (int f = 0; f <= v; ++f)
            files.push_back({"f" + std::to_string(f),
                             (f == 0 && v == 3 ? "moved\\c" : "c") + std::to_string(c) + "\\f" +
                                 std::to_string(f),
                             FilePath(source(c, v, f))});
        InstallRequest r = request_for(dir, "comp" + std::to_string(c), v, files);
        if (c == 3) r.hooks = {"f0"};
        return r;
    };
    for (int c = 0; c < 4; ++c)
        for (int v = 1; v <= 3; ++v)
            for (int f = 0; f <= v; ++f) ASSERT_TRUE(write_file(source(c, v, f), content(c, v, f)));
    std::vector<IndexRecord> filler;
    for (int i = 0; i < 400; ++i) filler.push_back({"FILLER" + std::to_string(i), i, {}});
    ASSERT_TRUE(dir.ensure_directory());
    ASSERT_TRUE(write_index(FilePath(dir.text() + kIndexFileName), filler));

    std::mt19937 random(17);
    int kills = 0, rounds = 0;
    for (; kills < 200 && rounds < 4000; ++rounds) {
        const int c = static_cast<int>(random() % 4), v = static_cast<int>(random() % 4);
        // 0.1 ms to 0.2 s on a log scale: every phase of an install is hit.
        const auto delay = static_cast<useconds_t>(
            100 * std::exp(std::uniform_real_distribution<double>(0, std::log(2000.0))(random)));
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            if (v == 0) remove_component(dir, "comp" + std::to_string(c), &error);
            if (v != 0) install_component(request(c, v), &error);
            _exit(0);
        }
        usleep(delay);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        kills += WIFSIGNALED(status) ? 1 : 0;
    }
    EXPECT_GE(kills, 200) << "in " << rounds << " rounds";

    std::string error;
    InstallRequest last = request(0, 2);
    last.lock_timeout_ms = 0;  // no killed holder keeps the lock
    ASSERT_TRUE(install_component(last, &error)) << error;
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(dir, &records, &error)) << error;
    std::set<std::string> listed{kIndexFileName};
    size_t components = 0;
    for (const IndexRecord& record : records) {
        if (record.name.compare(0, 4, "COMP") != 0) continue;
        EXPECT_NE(record.name, "COMP3");  // its hook always fails
        ++components;
        for (const auto& [key, path] : record.files) {
            listed.insert(path);
            std::string text;
            EXPECT_TRUE(read_file(dir.text() + path, &text)) << path;
            EXPECT_EQ(text, content(std::stoi(record.name.substr(4)), record.version,
                                    std::stoi(key.substr(1))))
                << path;
        }
    }
    EXPECT_EQ(records.size(), filler.size() + components);
    std::set<std::string> present;
    for (const auto& [path, bytes] : tree_of(dir))
        if (path.back() != '\\') present.insert(path);
    present.erase(std::string(kIndexFileName) + ".lock");  // a killed holder's, unheld
    EXPECT_EQ(present, listed);
}
#endif

}  // namespace
}  // namespace sx::install
