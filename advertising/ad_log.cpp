#include "advertising/ad_log.h"

#include <cstdarg>
#include <cstdio>

#include "include/advertising.h"

namespace {

ad_log_fn g_log = nullptr;
void* g_log_argument = nullptr;

}  // namespace

namespace ad {

void note(const char* format, ...) {
    // A fixed buffer: a note must not fail for want of memory.
    char line[512];
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    if (g_log) {
        g_log(g_log_argument, line);
    } else {
        std::fprintf(stderr, "advertising: %s\n", line);
    }
}

}  // namespace ad

extern "C" ADVERTISING_API void advertising_set_log(ad_log_fn log, void* argument) {
    g_log = log;
    g_log_argument = argument;
}
