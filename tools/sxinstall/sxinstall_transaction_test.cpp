// Installs as transactions: reserved names, files other components own,
// hooks that fail, and installs killed at any instant.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

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

InstallRequest request_for(const FilePath& directory, const std::string& name, int version) {
    InstallRequest request;
    request.name = name;
    request.version = version;
    request.directory = directory;
    request.lock_timeout_ms = 0;
    return request;
}

TEST(SxinstallTransactions, IndexNamesAreRefusedAndTheIndexSurvives) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    ASSERT_TRUE(write_file(scratch / "junk", "junk"));
    std::string error;
    InstallRequest good = request_for(directory, "good", 1);
    good.files.push_back({"k", "good.bin", FilePath(scratch / "junk")});
    ASSERT_TRUE(install_component(good, &error)) << error;

    for (const char* name :
         {"COMPINDX.DAT", "compindx.dat", "Compindx.Dat.lock", "compindx.dat.new",
          "compindx.dat.journal", "sub\\compindx.dat", "x.sxinstall-new"}) {
        InstallRequest evil = request_for(directory, "evil", 1);
        evil.files.push_back({"x", name, FilePath(scratch / "junk")});
        EXPECT_FALSE(install_component(evil, &error)) << name;
        EXPECT_NE(error.find("reserved"), std::string::npos) << error;
    }
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(directory, &records, &error));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].name, "GOOD");
}

TEST(SxinstallTransactions, OwnedFilesNeedForceAndUpgradesDropOnlyTheirOwn) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    ASSERT_TRUE(write_file(scratch / "a", "from a"));
    ASSERT_TRUE(write_file(scratch / "b", "from b"));
    std::string error, text;

    InstallRequest a = request_for(directory, "alpha", 1);
    a.files = {{"shared", "lib\\shared.dll", FilePath(scratch / "a")},
               {"old", "old.txt", FilePath(scratch / "a")}};
    ASSERT_TRUE(install_component(a, &error)) << error;

    InstallRequest b = request_for(directory, "beta", 1);
    b.files = {{"mine", "LIB/Shared.dll", FilePath(scratch / "b")}};
    EXPECT_FALSE(install_component(b, &error));
    EXPECT_NE(error.find("ALPHA"), std::string::npos) << error;
    ASSERT_TRUE(read_file(directory.text() + "lib\\shared.dll", &text));
    EXPECT_EQ(text, "from a");
    b.force = true;
    ASSERT_TRUE(install_component(b, &error)) << error;
    ASSERT_TRUE(read_file(directory.text() + "lib\\shared.dll", &text));
    EXPECT_EQ(text, "from b");

    // Alpha's upgrade no longer has either file: its own goes, the one beta
    // also lists stays.
    InstallRequest a2 = request_for(directory, "alpha", 2);
    a2.files = {{"new", "new.txt", FilePath(scratch / "a")}};
    ASSERT_TRUE(install_component(a2, &error)) << error;
    EXPECT_FALSE(FilePath(directory.text() + "old.txt").exists());
    EXPECT_TRUE(FilePath(directory.text() + "lib\\shared.dll").exists());

    // Removing gamma, which shares beta's file, leaves the file to beta.
    InstallRequest g = request_for(directory, "gamma", 1);
    g.files = {{"s", "lib\\shared.dll", FilePath()}};
    g.force = true;
    ASSERT_TRUE(install_component(g, &error)) << error;
    ASSERT_TRUE(remove_component(directory, "gamma", &error, 0)) << error;
    EXPECT_TRUE(FilePath(directory.text() + "lib\\shared.dll").exists());
    ASSERT_TRUE(remove_component(directory, "beta", &error, 0)) << error;
    EXPECT_FALSE(FilePath(directory.text() + "lib\\shared.dll").exists());
}

TEST(SxinstallTransactions, AFailingHookUndoesTheInstall) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    ASSERT_TRUE(write_file(scratch / "notalibrary", "not a library"));
    InstallRequest request = request_for(directory, "hooked", 1);
    request.files = {{"hook", "hook.dll", FilePath(scratch / "notalibrary")},
                     {"data", "data.bin", FilePath(scratch / "notalibrary")}};
    request.hooks = {"hook"};
    std::string error;
    EXPECT_FALSE(install_component(request, &error));
    EXPECT_NE(error.find("undone"), std::string::npos) << error;
    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(directory, &records, &error));
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(FilePath(directory.text() + "hook.dll").exists());
    EXPECT_FALSE(FilePath(directory.text() + "data.bin").exists());
}

#ifndef _WIN32
// Every file below `folder` (relative, backslashed).
bool collect(const FilePath& entry, void* argument, bool is_directory) {
    auto* found = static_cast<std::pair<std::string, std::set<std::string>*>*>(argument);
    const std::string name = entry.file_name();
    if (name == "." || name == "..") return true;
    if (is_directory) {
        std::pair<std::string, std::set<std::string>*> inner{found->first + name + "\\",
                                                             found->second};
        FilePath(entry.text() + "\\").for_each_entry(collect, &inner);
    } else {
        found->second->insert(found->first + name);
    }
    return true;
}

// Installs, upgrades and removals killed at random instants, over an index
// of a few hundred records: afterwards the next install takes the lock at
// once, and the directory holds exactly what the index lists, each file as
// its listed version wrote it.
TEST(SxinstallTransactions, KilledInstallsLeaveOneWholeVersion) {
    ScratchDir scratch;
    const FilePath directory(scratch / "components\\");
    const int kComponents = 4, kVersions = 3;
    auto content = [](int c, int v, int f) {
        return "c" + std::to_string(c) + " v" + std::to_string(v) + " f" + std::to_string(f) +
               std::string(48 * 1024, static_cast<char>('a' + f));
    };
    auto source = [&](int c, int v, int f) {
        return scratch /
               ("src" + std::to_string(c) + "_" + std::to_string(v) + "_" + std::to_string(f));
    };
    // Version v lists files f0..fv; f0 moves to a new folder in version 3.
    auto make_request = [&](int c, int v) {
        InstallRequest request = request_for(directory, "comp" + std::to_string(c), v);
        request.lock_timeout_ms = 5000;
        for (int f = 0; f <= v; ++f) {
            const std::string folder = (f == 0 && v == 3) ? "moved\\" : "";
            request.files.push_back({"f" + std::to_string(f),
                                     folder + "c" + std::to_string(c) + "\\f" + std::to_string(f),
                                     FilePath(source(c, v, f))});
        }
        return request;
    };
    for (int c = 0; c < kComponents; ++c)
        for (int v = 1; v <= kVersions; ++v)
            for (int f = 0; f <= v; ++f) ASSERT_TRUE(write_file(source(c, v, f), content(c, v, f)));
    std::vector<IndexRecord> filler;
    for (int i = 0; i < 400; ++i) filler.push_back({"FILLER" + std::to_string(i), i, {}});
    ASSERT_TRUE(directory.ensure_directory());
    ASSERT_TRUE(write_index(FilePath(directory.text() + kIndexFileName), filler));

    std::mt19937 random(17);
    int kills = 0, rounds = 0;
    while (kills < 200 && rounds < 4000) {
        ++rounds;
        const int c = static_cast<int>(random() % kComponents);
        const int op = static_cast<int>(random() % (kVersions + 1));  // 0: remove
        const useconds_t delay = random() % 6000;
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::string error;
            if (op == 0)
                remove_component(directory, "comp" + std::to_string(c), &error, 5000);
            else
                install_component(make_request(c, op), &error);
            _exit(0);
        }
        usleep(delay);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        if (WIFSIGNALED(status)) ++kills;
    }
    EXPECT_GE(kills, 200) << "in " << rounds << " rounds";

    std::string error;
    InstallRequest last = make_request(0, 2);
    last.lock_timeout_ms = 0;
    ASSERT_TRUE(install_component(last, &error)) << error;

    std::vector<IndexRecord> records;
    ASSERT_TRUE(list_components(directory, &records, &error)) << error;
    std::set<std::string> listed{kIndexFileName};
    for (const IndexRecord& record : records) {
        if (record.name.compare(0, 4, "COMP") != 0) continue;
        const int c = std::stoi(record.name.substr(4));
        for (const auto& [key, path] : record.files) {
            listed.insert(path);
            std::string text;
            ASSERT_TRUE(read_file(directory.text() + path, &text)) << path;
            EXPECT_EQ(text, content(c, record.version, std::stoi(key.substr(1)))) << path;
        }
    }
    EXPECT_EQ(records.size(),
              filler.size() + static_cast<size_t>(std::count_if(
                                  records.begin(), records.end(), [](const IndexRecord& r) {
                                      return r.name.compare(0, 4, "COMP") == 0;
                                  })));
    std::set<std::string> present;
    std::pair<std::string, std::set<std::string>*> walk{"", &present};
    directory.for_each_entry(collect, &walk);
    present.erase(std::string(kIndexFileName) + ".lock");  // a killed holder's, unheld
    EXPECT_EQ(present, listed);
}
#endif

}  // namespace
}  // namespace sx::install
