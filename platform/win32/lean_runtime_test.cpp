// The deliverables' throw helpers: what the standard library throws still
// reaches a catch of std::exception (as every entry point of ours has) with
// the library's message, and std::bad_alloc is still itself. And the two
// wide-character calls of the runtime are answered without the system's.
#include <windows.h>

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

// The message of what `action` threw; "" for nothing or a non-std::exception.
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
    // volatile: unknown to the compiler, so the checks stay library calls.
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
    // The calls go through the slots the runtime uses (the headers import).
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    expect(semaphore != nullptr && ReleaseSemaphore(semaphore, 1, nullptr) &&
               WaitForSingleObject(semaphore, 0) == WAIT_OBJECT_0,
           "an unnamed semaphore works");
    if (semaphore) CloseHandle(semaphore);
    expect(CreateSemaphoreW(nullptr, 0, 1, L"named") == nullptr &&
               GetLastError() == ERROR_CALL_NOT_IMPLEMENTED,
           "a named semaphore is refused");
    expect(GetModuleHandleW(L"KERNEL32.dll") == GetModuleHandleA("kernel32.dll") &&
               GetModuleHandleW(nullptr) == GetModuleHandleA(nullptr),
           "modules found by their ASCII names");
    expect(GetModuleHandleW(L"k\u00e9rnel32.dll") == nullptr, "a name beyond ASCII is not found");
    if (failures == 0) std::printf("lean runtime: all cases passed\n");
    return failures == 0 ? 0 : 1;
}
