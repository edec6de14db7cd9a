#include "components/text_util.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace sx {
namespace {

std::vector<std::string> lines_of(const std::string& content) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    std::fwrite(content.data(), 1, content.size(), stream);
    std::rewind(stream);
    std::vector<std::string> lines;
    std::string line;
    while (read_text_line(stream, &line)) lines.push_back(line);
    std::fclose(stream);
    return lines;
}

TEST(ReadTextLine, LineEndsAndUnterminatedLastLine) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"abc", {}},  // no line break: never used
        {"a\nb", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\n\rb\n\r", {"a", "b"}},  // LF CR is one line end too
        {"a\r\rb\n\n", {"a", "", "b", ""}},
        {"a\r\n\r\nb\n", {"a", "", "b"}},
        {std::string("x\0y\n", 4), {std::string("x\0y", 3)}},
    };
    for (const auto& [content, lines] : cases) EXPECT_EQ(lines_of(content), lines) << content;
}

// A line at the bound is read; one byte more ends the reading there, so a
// file without line breaks never fills memory.
TEST(ReadTextLine, StopsAtTheLengthBound) {
    const size_t bound = 1024 * 1024;
    EXPECT_EQ(lines_of(std::string(bound, 'a') + "\nb\n"),
              (std::vector<std::string>{std::string(bound, 'a'), "b"}));
    EXPECT_EQ(lines_of(std::string(bound + 1, 'a') + "\nb\n"), std::vector<std::string>{});
}

TEST(FormatText, GrowsUpToTheLimitThenCuts) {
    EXPECT_EQ(format_text("%s=%d", "n", 42), "n=42");
    for (size_t length : {1023u, 1024u, 65535u}) {
        std::string text(length, 'q');
        EXPECT_EQ(format_text("%s", text.c_str()), text) << length;
    }
    // A cut text keeps a zero byte inside it.
    std::string huge(70000, 'z');
    EXPECT_EQ(format_text("%c%s", 0, huge.c_str()), '\0' + huge.substr(0, 65534));
}

struct FormatWorker {
    char fill;
    std::atomic<int>* wrong;
};

uint32_t format_repeatedly(void* argument) {
    const auto* worker = static_cast<const FormatWorker*>(argument);
    const std::string expected(3000, worker->fill);
    for (int i = 0; i < 300; ++i) *worker->wrong += format_text("%s", expected.c_str()) != expected;
    return 0;
}

TEST(FormatText, ThreadsFormatAtOnceWithoutSharingABuffer) {
    // Every call grows its buffer; with one buffer for the process, the
    // threads would read each other's texts. The platform's threads: the
    // Windows builds' C++ library has no std::thread.
    std::atomic<int> wrong{0};
    std::vector<FormatWorker> workers;
    for (char c : {'a', 'b', 'c', 'd'}) workers.push_back({c, &wrong});
    std::vector<ThreadHandle> threads;
    for (FormatWorker& worker : workers) {
        // No early return: started threads use the workers on this stack.
        ThreadHandle thread = platform().start_thread(format_repeatedly, &worker);
        EXPECT_NE(thread, nullptr);
        if (thread) threads.push_back(thread);
    }
    for (ThreadHandle thread : threads) {
        EXPECT_TRUE(platform().wait_thread(thread, kWaitInfinite));
        platform().close_thread(thread);
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace sx
