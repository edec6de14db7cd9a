// What a user meets first, through every tool as a real process: help, wrong command lines,
// inputs that used to hang or to fail with the wrong reason.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace {

struct Outcome {
    int code;
    std::string out, err;
    double seconds;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `command` through the shell with a 20 s limit, under a fresh root.
Outcome run(const std::string& scratch, const std::string& command) {
    const std::string out = scratch + "/out", err = scratch + "/err";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(("SX_WINROOT='" + scratch + "/root' timeout 20 " + command +
                                    " >" + out + " 2>" + err + " </dev/null")
                                       .c_str());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err), took.count()};
}

TEST(ToolsUsage, EveryToolFollowsOneConvention) {
    char pattern[] = "/tmp/sxusage-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string scratch = pattern;
    for (const char* folder :
         {"/root", "/root/drive_c", "/root2", "/root2/drive_c", "/comps", "/comps3"})
        ASSERT_EQ(mkdir((scratch + folder).c_str(), 0755), 0);
    ASSERT_EQ(symlink("/dev/zero", (scratch + "/comps/compindx.dat").c_str()), 0);
    ASSERT_EQ(mkfifo((scratch + "/applet.sxvm").c_str(), 0644), 0);
    // 100 requirements over an index another program holds locked (250 ms per read).
    std::string many = "Stellarix3D: 1 12 x RUN=c:1", windows_scratch = "Z:" + scratch;
    std::replace(windows_scratch.begin(), windows_scratch.end(), '/', '\\');
    for (int i = 0; i < 100; ++i) many += " REQ=c:1";
    auto put = [&](const char* name, const std::string& text) {
        std::ofstream(scratch + name) << text;
    };
    put("/many.sxvm", many + "\n");
    put("/comps3/compindx.dat", "component = c\r\nversion = 5\r\ncomponentend\r\n");
    put("/root/drive_c/ComponentSearch.txt", windows_scratch + "\\comps3\\\n");
    put("/root2/drive_c/ComponentSearch.txt", windows_scratch + "\\comps\\\n");
    const int held =
        open((scratch + "/comps3/compindx.dat.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(flock(held, LOCK_EX), 0);

    const std::string sxinstall = SX_SXINSTALL_FILE, sxquery = SX_SXQUERY_FILE,
                      sxreg = SX_SXREG_FILE, tess = SX_RUVANE_TESS_FILE,
                      launcher = SX_LAUNCHER_FILE, player = SX_PLAYER_FILE,
                      bump = SX_SOURCE_DIR "/tools/ruvane_tess/samples/bicubic_bump.json";
    // The registry's limits: 255-character key names, 16,383-character value names, 512 levels.
    const std::string key = "HKCU\\Software\\SxUsage";
    std::string levels_512 = key, levels_513;
    for (int i = 0; i < 510; ++i) levels_512 += "\\d";
    levels_513 = levels_512 + "\\d";
    const struct {
        std::string command;
        int code;
        std::string says;  // in the output
    } cases[] = {
        {sxinstall + " frobnicate", 2, "unknown command"},
        {sxquery + " frobnicate", 2, "wrong use"},
        {sxquery + " version nosuchcomponent", 1, "no component nosuchcomponent"},
        {"env SX_WINROOT=" + scratch + "/root2 " + sxquery + " list", 0,
         "Components-System"},  // the search list names the folder whose index is /dev/zero
        {sxreg + " add '" + key + "\\" + std::string(256, 'k') + "' /f", 1, "ERROR"},
        {sxreg + " add '" + key + "' /v " + std::string(16384, 'n') + " /d x /f", 1, "syntax"},
        {sxreg + " add '" + key + "' /v " + std::string(16383, 'n') + " /d x /f", 0, "completed"},
        {sxreg + " query '" + key + "'", 0, std::string(16383, 'n') + "    REG_SZ    x"},
        {sxreg + " add '" + key + "' /v m /t REG_MULTI_SZ /d a##b /s '##' /f", 1, "syntax"},
        {sxreg + " add '" + key + "' /f /f", 1, "syntax"},
        {sxreg + " add '" + levels_512 + "' /f", 0, "completed"},
        {sxreg + " add '" + levels_513 + "' /f", 1, "ERROR"},
        {tess + " --bogus", 2, "unknown option --bogus"},
        {tess, 2, "no input"},
        {tess + " " + bump + " --surface-tolerance 0", 2, "tolerance refused (surface 0,"},
        {tess + " " + bump + " --param-tolerance 1e-320", 2, "param finite, positive and not"},
        {tess + " " + scratch + "/many.sxvm", 1, "many.sxvm: "},
        {sxinstall + " list --dir " + scratch + "/comps", 1, "cannot read the index"},
        {player + " --show-ad --bogus", 2, "wrong use"},
        {player + " applet.sxvm", 0, ""},  // no record asked for
        {launcher + " " + scratch + "/applet.sxvm", 255, "not a regular file"},
        {launcher + " /nonexistent/x.sxvm", 255, "Z:\\nonexistent\\x.sxvm"},
        {launcher + " '" + windows_scratch + "\\many.sxvm'", 255,
         "Unable to locate the Stellarix Player 1"},
        {"env SX_WINROOT=" + scratch + "/many.sxvm " + sxquery + " list", 1,
         "cannot prepare the emulated Windows root"},
        {"sh -c 'cd " + scratch + " && SX_WINROOT=relative " + sxquery + " list'", 0,
         "is not an absolute path"},
    };
    const std::string beside_player =
        player.substr(0, player.rfind('/')) + "/sxplayer-command-line.txt";
    unlink(beside_player.c_str());
    // The help convention: usage on standard output, exit 0.
    for (const std::string& tool : {sxinstall, sxquery, sxreg, tess, player}) {
        for (const char* help : {" --help", " -h", " '/?'"}) {
            Outcome o = run(scratch, tool + help);
            std::transform(o.out.begin(), o.out.end(), o.out.begin(), ::tolower);
            EXPECT_TRUE(o.code == 0 && o.out.find("usage") != std::string::npos)
                << tool << help << " ended " << o.code << "\n"
                << o.out << o.err;
        }
    }
    for (const auto& c : cases) {
        const Outcome o = run(scratch, c.command);
        EXPECT_EQ(o.code, c.code) << c.command << "\n" << o.err;
        EXPECT_NE((o.out + o.err).find(c.says), std::string::npos) << c.command << "\n" << o.err;
        if (c.code != 0 && c.command.compare(0, sxreg.size(), sxreg) != 0 &&
            c.command.compare(0, 4, "env ") != 0) {
            EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << c.command << o.err;
        }
        EXPECT_LT(o.seconds, 5.0) << c.command;
    }
    // Without SXPLAYER_RECORD nothing is written, not even beside the player.
    EXPECT_NE(access(beside_player.c_str(), F_OK), 0);
    close(held);
    // A failed tessellation leaves no output file behind.
    const Outcome refused =
        run(scratch, tess + " " + bump + " --trim-tolerance -1 -o " + scratch + "/t.obj");
    EXPECT_NE(refused.err.find("t.obj not written"), std::string::npos);
    EXPECT_NE(access((scratch + "/t.obj").c_str(), F_OK), 0);
    // A host path for the record is the player's drive Z:.
    const Outcome recorded =
        run(scratch, "env SXPLAYER_RECORD=" + scratch + "/record " + player + " x.sxvm -a");
    EXPECT_EQ(recorded.code, 0) << recorded.err;
    EXPECT_NE(slurp(scratch + "/record").find("x.sxvm -a"), std::string::npos);
    std::system(("rm -rf '" + scratch + "'").c_str());
}

}  // namespace
