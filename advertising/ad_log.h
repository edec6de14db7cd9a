// The library's notes on what it refused or dropped (a picture over its
// budget, an answer cut at its cap, a lost upgrade line). The host may take
// them with advertising_set_log; without one they go to standard error.
#pragma once

namespace ad {

// printf-style; one line, without its line feed.
void note(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace ad
