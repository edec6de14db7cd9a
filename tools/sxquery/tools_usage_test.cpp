// What a user meets first, run through every tool as a real process: the
// help switches, a wrong command line, and inputs that used to hang or to
// fail with the wrong reason.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
    double seconds = 0;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `command` through the shell with a 20 s limit (exit code 124 when it
// is reached), standard output and error kept apart.
Outcome run(const std::string& scratch, const std::string& command) {
    const std::string out = scratch + "/out", err = scratch + "/err";
    const std::string line = "SX_WINROOT='" + scratch + "/root' timeout 20 " + command + " >" +
                             out + " 2>" + err + " </dev/null";
    Outcome o;
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(line.c_str());
    o.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    o.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    o.out = slurp(out);
    o.err = slurp(err);
    return o;
}

size_t lines(const std::string& text) {
    size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

TEST(ToolsUsage, EveryToolFollowsOneConvention) {
    char pattern[] = "/tmp/sxusage-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string scratch = pattern;
    ASSERT_EQ(mkdir((scratch + "/root").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch + "/comps").c_str(), 0755), 0);
    ASSERT_EQ(mkdir((scratch + "/readonly").c_str(), 0555), 0);
    ASSERT_EQ(symlink("/dev/zero", (scratch + "/comps/compindx.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((scratch + "/applet.sxvm").c_str(), 0644), 0);
    const bool root_user = geteuid() == 0;  // read-only folders do not stop it

    const std::string sxinstall = SX_SXINSTALL_FILE, sxquery = SX_SXQUERY_FILE,
                      sxreg = SX_SXREG_FILE, tess = SX_RUVANE_TESS_FILE,
                      launcher = SX_LAUNCHER_FILE, player = SX_PLAYER_FILE;
    const struct {
        std::string command;
        int code;
        const char* says;  // in the output of interest
        bool on_stdout;    // usage texts go to standard output
    } cases[] = {
        {sxinstall + " --help", 0, "usage", true},
        {sxinstall + " -h", 0, "usage", true},
        {sxinstall + " '/?'", 0, "usage", true},
        {sxinstall + " frobnicate", 2, "unknown command", false},
        {sxquery + " --help", 0, "usage", true},
        {sxquery + " -h", 0, "usage", true},
        {sxquery + " '/?'", 0, "usage", true},
        {sxquery + " frobnicate", 2, "wrong use", false},
        {sxquery + " version nosuchcomponent", 1, "no component nosuchcomponent", false},
        {sxreg + " --help", 0, "REG", true},
        {sxreg + " -h", 0, "REG", true},
        {sxreg + " '/?'", 0, "REG", true},
        {tess + " --help", 0, "usage", true},
        {tess + " -h", 0, "usage", true},
        {tess + " '/?'", 0, "usage", true},
        {tess + " --bogus", 2, "unknown option --bogus", false},
        {tess, 2, "no input", false},
        {sxinstall + " list --dir " + scratch + "/comps", 1, "cannot read the index", false},
        {sxinstall + " install --name x --dir " + scratch + "/readonly --entry k=f", 1,
         "system error", false},
        {sxinstall + " install --name evil --dir " + scratch +
             "/comps2 --file x=COMPINDX.DAT:/etc/hostname",
         1, "reserved", false},
        {sxinstall + " install --name x --dir " + scratch + "/comps2 --file 'x=C:\\evil.txt:src'",
         2, "not C:\\evil.txt", false},
        {player + " --help", 0, "usage", true},
        {player + " --show-ad --bogus", 2, "wrong use", false},
        {player + " applet.sxvm", 0, "", false},  // no record asked for
        {launcher + " " + scratch + "/applet.sxvm", 255, "not a regular file", false},
        {launcher + " /nonexistent/x.sxvm", 255, "Z:\\nonexistent\\x.sxvm", false},
    };
    for (const auto& c : cases) {
        if (root_user && c.command.find("readonly") != std::string::npos) continue;
        const Outcome o = run(scratch, c.command);
        EXPECT_EQ(o.code, c.code) << c.command << "\n" << o.err;
        const std::string& text = c.on_stdout ? o.out : o.err;
        EXPECT_NE(text.find(c.says), std::string::npos) << c.command << "\n" << text;
        if (c.code != 0) {
            EXPECT_EQ(lines(o.err), 1u) << c.command << "\n" << o.err;
        }
        EXPECT_LT(o.seconds, 5.0) << c.command;
    }
    // A host path for the record is the player's drive Z:.
    const Outcome recorded =
        run(scratch, "env SXPLAYER_RECORD=" + scratch + "/record " + player + " x.sxvm -a");
    EXPECT_EQ(recorded.code, 0) << recorded.err;
    EXPECT_NE(slurp(scratch + "/record").find("x.sxvm -a"), std::string::npos);
    chmod((scratch + "/readonly").c_str(), 0755);
    std::system(("rm -rf '" + scratch + "'").c_str());
}

}  // namespace
