// Installs as transactions: reserved names, files other components own,
// hooks that fail, and installs killed at any instant.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

#include "components/component_index.h"
#include "components/testing/scratch.h"
#include "tools/sxinstall/component_installer.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace sx::install {
namespace {

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

TEST(SxinstallTransactions, ReservedNamesOwnersAndFailingHooks) {
    ScratchDir scratch;
    const FilePath dir(scratch / "components\\");
    const FilePath a(scratch / "a"), b(scratch / "b");
    ASSERT_TRUE(write_file(a.text(), "from a") && write_file(b.text(), "from b"));
    std::string error, text;
    ASSERT_TRUE(install_component(
        request_for(dir, "alpha", 1, {{"s", "lib\\shared.dll", a}, {"o", "old.txt", a}}), &error));
    for (const char* name : {"COMPINDX.DAT", "Compindx.Dat.lock", "compindx.dat.new",
                             "sub\\compindx.dat.journal", "x.sxinstall-new"}) {
        EXPECT_FALSE(install_component(request_for(dir, "evil", 1, {{"x", name, b}}), &error));
        EXPECT_NE(error.find("reserved"), std::string::npos) << name << ": " << error;
    }
    // Beta's file is alpha's: refused, naming alpha, unless forced.
    InstallRequest beta = request_for(dir, "beta", 1, {{"m", "LIB/Shared.dll", b}});
    EXPECT_FALSE(install_component(beta, &error));
    EXPECT_NE(error.find("ALPHA"), std::string::npos) << error;
    ASSERT_TRUE(read_file(dir.text() + "lib\\shared.dll", &text) && text == "from a");
    beta.force = true;
    ASSERT_TRUE(install_component(beta, &error)) << error;
    // Alpha's upgrade drops both files: its own goes, the shared one stays,
    // and goes only with beta.
    ASSERT_TRUE(install_component(request_for(dir, "alpha", 2, {{"n", "new.txt", a}}), &error));
    EXPECT_FALSE(FilePath(dir.text() + "old.txt").exists());
    EXPECT_TRUE(FilePath(dir.text() + "lib\\shared.dll").exists());
    ASSERT_TRUE(remove_component(dir, "beta", &error, 0)) << error;
    EXPECT_FALSE(FilePath(dir.text() + "lib\\shared.dll").exists());

    // A hook that cannot be loaded: no record, no files left.
    InstallRequest hooked =
        request_for(dir, "hooked", 1, {{"h", "hook.dll", a}, {"d", "d.bin", a}});
    hooked.hooks = {"h"};
    EXPECT_FALSE(install_component(hooked, &error));
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(dir, &records, &error));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "ALPHA");
    EXPECT_FALSE(FilePath(dir.text() + "hook.dll").exists() ||
                 FilePath(dir.text() + "d.bin").exists());
}

#ifndef _WIN32
bool collect(const FilePath& entry, void* argument, bool is_directory) {
    auto* found = static_cast<std::pair<std::string, std::set<std::string>*>*>(argument);
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    std::pair<std::string, std::set<std::string>*> inner{found->first + name + "\\", found->second};
    if (is_directory) FilePath(entry.text() + "\\").for_each_entry(collect, &inner);
    if (!is_directory) found->second->insert(found->first + name);
    return true;
}

// Installs, upgrades and removals killed at random instants over an index of
// 400 records: afterwards the next install takes the lock at once, and the
// directory holds exactly what the index lists, each file as its listed
// version wrote it.
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
    auto request = [&](int c, int v) {
        std::vector<ComponentFile> files;
        for (int f = 0; f <= v; ++f)
            files.push_back({"f" + std::to_string(f),
                             (f == 0 && v == 3 ? "moved\\c" : "c") + std::to_string(c) + "\\f" +
                                 std::to_string(f),
                             FilePath(source(c, v, f))});
        return request_for(dir, "comp" + std::to_string(c), v, files);
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
        const useconds_t delay = random() % 6000;
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
    last.lock_timeout_ms = 0;
    ASSERT_TRUE(install_component(last, &error)) << error;
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(dir, &records, &error)) << error;
    std::set<std::string> listed{kIndexFileName};
    size_t components = 0;
    for (const IndexRecord& record : records) {
        if (record.name.compare(0, 4, "COMP") != 0) continue;
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
    std::pair<std::string, std::set<std::string>*> walk{"", &present};
    dir.for_each_entry(collect, &walk);
    present.erase(std::string(kIndexFileName) + ".lock");  // a killed holder's, unheld
    EXPECT_EQ(present, listed);
}
#endif

}  // namespace
}  // namespace sx::install
