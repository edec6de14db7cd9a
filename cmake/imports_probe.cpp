// Linked the compiler's default way (shared C++ runtime) on purpose: the
// import check's own test expects to find libstdc++ and libgcc imports here.
#include <stdexcept>
#include <string>

extern "C" __declspec(dllexport) int sx_imports_probe(const char* text) {
    try {
        return static_cast<int>(std::stoul(text));
    } catch (const std::exception&) {
        return -1;
    }
}
