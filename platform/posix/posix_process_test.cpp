// Processes, locks between processes and message boxes, with a real child.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "platform/posix/posix_internal.h"
#include "platform/testing/test_support.h"

extern char** environ;

namespace sx {
namespace {

const std::string& child_program() {
    static const std::string path = test::host_to_windows_path(SX_POSIX_CHILD);
    return path;
}

class Processes : public test::TempDirTest {
protected:
    void SetUp() override {
        test::TempDirTest::SetUp();
        output_ = file("out.txt");
        ASSERT_TRUE(p.set_environment_variable("SX_CHILD_OUTPUT", output_.c_str()));
    }
    void TearDown() override { p.set_environment_variable("SX_CHILD_OUTPUT", nullptr); }

    // Starts a command line and waits for its end; the exit code, or -1.
    long run(const std::string& command_line) {
        ProcessHandle process;
        if (!p.start_process(command_line.c_str(), &process)) return -1;
        uint32_t code = 0;
        const bool ended = p.wait_process(process, 30000, &code);
        p.close_process(process);
        return ended ? static_cast<long>(code) : -1;
    }
    // Waits until the child has written its output file.
    bool wait_output(std::string* content) {
        for (int i = 0; i < 300; ++i) {
            if (test::read_file(output_, content)) return true;
            p.sleep_ms(20);
        }
        return false;
    }

    Platform& p = platform();
    std::string output_;
};

TEST_F(Processes, ChildReadsItsExactCommandLine) {
    const std::string q = "\"" + child_program() + "\"";
    const std::string tails[] = {
        " echo",
        " echo plain words",
        "  echo   many    spaces   ",
        " echo \"quoted arg\" \"\" last",
        " echo tab\there \"in\tquotes\"",
        " echo a\\\\b c\\\\\\\"d \"e\\\\\" f\\\"",
        " echo \"unterminated quote",
        " echo %PATH% ^&|<> 'single' $HOME `x`",
        " echo trailing\\",
    };
    for (const std::string& tail : tails) {
        test::remove_tree(output_);
        const std::string line = q + tail;
        ASSERT_EQ(run(line), 0) << line;
        std::string got;
        ASSERT_TRUE(test::read_file(output_, &got));
        EXPECT_EQ(got, line);
    }
}

TEST_F(Processes, ArgumentsFollowTheWindowsRules) {
    const std::string lines[] = {
        "\"" + child_program() + "\" argv \"a b\" c\\\"d \"e\\\\\" f\\\\g \"\"",
        child_program() + " argv\t x\"y z\"w  \"in \"\"doubled\"\" quotes\"",
    };
    for (const std::string& line : lines) {
        test::remove_tree(output_);
        ASSERT_EQ(run(line), 0) << line;
        std::string got;
        ASSERT_TRUE(test::read_file(output_, &got));
        std::string expected;
        for (const std::string& arg : split_command_line(line)) expected += arg + '\0';
        EXPECT_EQ(got, expected) << line;
    }
}

TEST_F(Processes, CommandLineRebuiltWhenNotOurs) {
    // A child started by something else, with an inherited line that names
    // another pid: it rebuilds its line from its arguments.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "SX_COMMAND_LINE", 15) != 0) env.emplace_back(*e);
    env.push_back("SX_COMMAND_LINE=not this one");
    env.push_back("SX_COMMAND_LINE_PID=1");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string args[] = {SX_POSIX_CHILD, "echo", "two words", "x\"y"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    pid_t pid;
    ASSERT_EQ(posix_spawn(&pid, SX_POSIX_CHILD, nullptr, nullptr, argv, envp.data()), 0);
    int status;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string got;
    ASSERT_TRUE(test::read_file(output_, &got));
    EXPECT_EQ(got, std::string(SX_POSIX_CHILD) + " echo \"two words\" \"x\\\"y\"");
}

TEST_F(Processes, ProgramNamesAndExitCodes) {
    std::string upper = child_program();
    for (size_t i = upper.rfind('\\'); i < upper.size(); ++i)
        upper[i] = static_cast<char>(toupper(upper[i]));
    struct Case {
        std::string line;
        long code;
    } cases[] = {
        {child_program() + " exit 0", 0},
        {child_program() + " exit 7", 7},
        {child_program() + " exit 255", 255},
        {child_program() + ".exe exit 9", 9},  // "x.exe" runs the native "x"
        {upper + ".EXE exit 4", 4},            // in any case
        {child_program() + ".missing exit 0", -1},
        // A bare name: the starting program's folder first (the child sits
        // beside this test).
        {"sx_posix_child exit 5", 5},
        {"SX_POSIX_CHILD.EXE exit 6", 6},
        {"sx_posix_child.exe exit 6", 6},
        {"", -1},
        {"   ", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(run(c.line), c.code) << c.line;
    // A bare name is looked for along PATH.
    EXPECT_EQ(run("true"), 0);
    EXPECT_EQ(run("false.exe"), 1);
}

TEST_F(Processes, WaitTimeoutTerminateAndKill) {
    const std::string holder = child_program() + " hold-lock \"" + file("held") + "\"";
    ProcessHandle process;
    ASSERT_TRUE(p.start_process(holder.c_str(), &process));
    uint32_t code = 0;
    const uint32_t before = p.tick_count();
    EXPECT_FALSE(p.wait_process(process, 0, &code));
    EXPECT_FALSE(p.wait_process(process, 150, &code));
    EXPECT_GE(p.tick_count() - before, 150u);
    EXPECT_TRUE(p.terminate_process(process, 77));
    ASSERT_TRUE(p.wait_process(process, 1000, &code));
    EXPECT_EQ(code, 77u);
    EXPECT_FALSE(p.terminate_process(process, 1));  // already ended
    p.close_process(process);

    // Killed from outside: a non-zero code.
    test::remove_tree(output_);
    ASSERT_TRUE(p.start_process(holder.c_str(), &process));
    std::string text;
    ASSERT_TRUE(wait_output(&text));
    kill(std::stoi(text.substr(7)), SIGKILL);
    ASSERT_TRUE(p.wait_process(process, 10000, &code));
    EXPECT_NE(code, 0u);
    p.close_process(process);
}

TEST_F(Processes, LocksAreExclusiveAndGoWithTheHolder) {
    const std::string lock_path = file("compindx.dat.lock");
    // Within this process.
    LockHandle first = p.open_lock_file(lock_path.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(p.open_lock_file(lock_path.c_str()), nullptr);
    EXPECT_EQ(p.open_lock_file(file("COMPINDX.DAT.LOCK").c_str()), nullptr);
    // Another process cannot take it while we hold it ...
    EXPECT_EQ(run(child_program() + " try-lock \"" + lock_path + "\""), 3);
    // ... and no child we start keeps a copy of it.
    ProcessHandle bystander;
    ASSERT_TRUE(p.start_process((child_program() + " hold-lock \"" + file("other") + "\"").c_str(),
                                &bystander));
    std::string text;
    ASSERT_TRUE(wait_output(&text));
    const std::string fd_dir = "/proc/" + text.substr(7) + "/fd";
    std::vector<std::string> fds;
    ASSERT_TRUE(p.list_directory(test::host_to_windows_path(fd_dir + "/*").c_str(), &fds));
    std::string host_lock;
    ASSERT_TRUE(posix::to_host_path(lock_path, &host_lock));
    for (const std::string& fd : fds) {
        char target[4096] = {};
        if (readlink((fd_dir + "/" + fd).c_str(), target, sizeof target - 1) > 0) {
            EXPECT_STRNE(target, host_lock.c_str()) << "inherited descriptor " << fd;
        }
    }
    p.terminate_process(bystander, 1);
    p.close_process(bystander);

    p.close_lock_file(first);
    EXPECT_EQ(p.get_file_attributes(lock_path.c_str()), kInvalidFileAttributes);
    EXPECT_EQ(run(child_program() + " try-lock \"" + lock_path + "\""), 0);
}

TEST_F(Processes, KilledHolderNeverBlocks) {
    const std::string lock_path = file("index.lock");
    ProcessHandle holder;
    ASSERT_TRUE(
        p.start_process((child_program() + " hold-lock \"" + lock_path + "\"").c_str(), &holder));
    std::string text;
    ASSERT_TRUE(wait_output(&text));
    EXPECT_EQ(p.open_lock_file(lock_path.c_str()), nullptr);
    kill(std::stoi(text.substr(7)), SIGKILL);
    ASSERT_TRUE(p.wait_process(holder, 10000, nullptr));
    p.close_process(holder);
    // The file is still there, but only the lock counts.
    EXPECT_NE(p.get_file_attributes(lock_path.c_str()), kInvalidFileAttributes);
    LockHandle lock = p.open_lock_file(lock_path.c_str());
    EXPECT_NE(lock, nullptr);
    p.close_lock_file(lock);
}

TEST_F(Processes, ReplacedLockFileIsNoticed) {
    std::string host;
    ASSERT_TRUE(posix::to_host_path(file("x.lock"), &host));
    // We opened the file, then its holder unlinked it and a new taker made
    // another one at the same name: our lock would be invisible.
    int old_fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(old_fd, 0);
    ASSERT_EQ(unlink(host.c_str()), 0);
    EXPECT_EQ(posix::lock_descriptor(old_fd, host), posix::LockAttempt::stale);
    close(old_fd);
    old_fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_EQ(unlink(host.c_str()), 0);
    int new_fd = open(host.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    EXPECT_EQ(posix::lock_descriptor(old_fd, host), posix::LockAttempt::stale);
    EXPECT_EQ(posix::lock_descriptor(new_fd, host), posix::LockAttempt::locked);
    int third = open(host.c_str(), O_RDWR | O_CLOEXEC);
    EXPECT_EQ(posix::lock_descriptor(third, host), posix::LockAttempt::busy);
    close(third);
    close(new_fd);
    close(old_fd);

    // A holder whose file was removed behind its back must not remove the
    // file of the next holder when it lets go.
    LockHandle a = p.open_lock_file(file("y.lock").c_str());
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(p.delete_file(file("y.lock").c_str()));
    LockHandle b = p.open_lock_file(file("y.lock").c_str());
    ASSERT_NE(b, nullptr);
    p.close_lock_file(a);
    EXPECT_NE(p.get_file_attributes(file("y.lock").c_str()), kInvalidFileAttributes);
    EXPECT_EQ(p.open_lock_file(file("y.lock").c_str()), nullptr);
    p.close_lock_file(b);
}

TEST_F(Processes, MessageBoxWritesToStandardError) {
    struct Case {
        uint32_t flags;
        const char* caption;
        const char* text;
        const char* answer;
        std::string expected;
        uint32_t code;
    } cases[] = {
        {kMbOk | kMbIconError, "Stellarix 3D", "Your Stellarix Player is not up to date.\n", "",
         "Stellarix 3D: Your Stellarix Player is not up to date.\n", kIdOk},
        {kMbOk, "Caption", "no line end", "", "Caption: no line end\n", kIdOk},
        {kMbOk, "C", "two\nlines", "no", "C: two\nlines\n", kIdOk},  // OK boxes only say OK
        {kMbYesNo | kMbIconQuestion, "Q", "Remove?", "", "Q: Remove?\n", kIdYes},
        {kMbYesNo, "Q", "Remove?", "no", "Q: Remove?\n", kIdNo},
        {kMbOkCancel, "Q", "Go on?", "CANCEL", "Q: Go on?\n", kIdCancel},
        {kMbOkCancel, "Q", "Go on?", "ok", "Q: Go on?\n", kIdOk},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(p.set_environment_variable("SX_MESSAGE_BOX_ANSWER", c.answer));
        const std::string line = child_program() + " message-box " + std::to_string(c.flags) + " " +
                                 quote_argument(c.caption) + " " + quote_argument(c.text);
        uint32_t code = 0;
        std::string err;
        ASSERT_TRUE(test::run_program(line, &code, &err)) << line;
        EXPECT_EQ(err, c.expected) << line;
        EXPECT_EQ(code, c.code) << line;
    }
    p.set_environment_variable("SX_MESSAGE_BOX_ANSWER", nullptr);
}

}  // namespace
}  // namespace sx
