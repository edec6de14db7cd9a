// The deliverables' throw helpers: what the standard library throws still
// reaches a catch of std::exception (as every entry point of ours has) with
// the library's message, and std::bad_alloc is still itself.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>
#include <vector>

namespace {

int failures = 0;

void expect(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

// The message of what `action` threw, or "" when it threw nothing or something
// else than a std::exception.
template <typename Action>
std::string caught(Action action, std::string* type_name) {
    try {
        action();
    } catch (const std::exception& error) {
        *type_name = typeid(error).name();
        return error.what();
    } catch (...) {
        *type_name = "not a std::exception";
    }
    return std::string();
}

}  // namespace

int main() {
    // volatile: the sizes are not known to the compiler, so the checks stay
    // calls into the library.
    volatile size_t index = 7;
    struct Case {
        const char* what;
        void (*action)(size_t);
        const char* message_part;
    } const cases[] = {
        {"vector::at out of range", [](size_t i) { std::vector<int>(3).at(i); }, "vector"},
        {"string::substr past the end", [](size_t i) { (void)std::string("abc").substr(i); },
         "__pos"},
        {"string longer than it can be",
         [](size_t) {
             std::string text;
             text.reserve(text.max_size() + 1);
         },
         "basic_string"},
    };
    for (const Case& c : cases) {
        std::string type;
        const std::string message = caught([&] { c.action(index); }, &type);
        expect(message.find(c.message_part) != std::string::npos, c.what);
        expect(type.find("StandardLibraryFault") != std::string::npos, c.what);
    }
    std::string type;
    caught([&] { throw std::bad_alloc(); }, &type);
    expect(type == typeid(std::bad_alloc).name(), "bad_alloc stays itself");
    if (failures == 0) std::printf("lean runtime: all cases passed\n");
    return failures == 0 ? 0 : 1;
}
