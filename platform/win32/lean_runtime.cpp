// Linked into each deliverable in place of two parts of the static C++
// runtime that weigh more than most of our own code:
// - the throw helpers of the standard library (std::__throw_length_error and
//   the like): the runtime's own build them from the copy-on-write string
//   behind std::logic_error, which drags in that string's whole instantiation
//   and the random-device code, about 80 KB in every file;
// - the verbose terminate handler, which names the uncaught exception's type
//   through the 46 KB demangler.
// Every entry point of ours catches everything and turns it into a failure
// result, and no code of the deliverables tells the standard exceptions
// apart, so the helpers throw one small exception that keeps the message.
// std::bad_alloc and the other message-less exceptions stay as they are.
//
// It also answers the runtime's two wide-character system calls, which
// Windows 95/98 export only as stubs that fail: the unwinder's and the thread
// support's locks make unnamed semaphores (CreateSemaphoreW), and the C
// library asks for msvcrt's module by name (GetModuleHandleW). Their slots in
// the import table are defined here, so the files import neither.
#include <windows.h>

#include <cstdlib>
#include <exception>
#include <new>
#include <typeinfo>

namespace sx {

class StandardLibraryFault : public std::exception {
public:
    explicit StandardLibraryFault(const char* message) : message_(message ? message : "") {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;  // the library passes literals
};

[[noreturn]] void throw_fault(const char* message) { throw StandardLibraryFault(message); }

}  // namespace sx

namespace sx {
namespace {

HANDLE WINAPI create_semaphore_w(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                 LPCWSTR name) {
    // The runtime's semaphores have no name; a named one would need the text.
    if (name) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, nullptr);
}

HMODULE WINAPI get_module_handle_w(LPCWSTR name) {
    if (!name) return GetModuleHandleA(nullptr);
    // Module names the runtime asks for are ASCII.
    char narrow[MAX_PATH];
    size_t length = 0;
    for (; name[length]; ++length) {
        if (name[length] > 0x7F || length + 1 >= sizeof narrow) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        narrow[length] = static_cast<char>(name[length]);
    }
    narrow[length] = '\0';
    return GetModuleHandleA(narrow);
}

}  // namespace
}  // namespace sx

#if defined(__i386__)
#define SX_IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#else
#define SX_IMPORT_SLOT(name, bytes) "__imp_" #name
#endif

extern "C" {
// Referenced by the runtime's objects, which call through these slots.
__attribute__((used)) const void* sx_create_semaphore_w_slot __asm__(
    SX_IMPORT_SLOT(CreateSemaphoreW, 16)) = reinterpret_cast<const void*>(&sx::create_semaphore_w);
__attribute__((used)) const void* sx_get_module_handle_w_slot __asm__(
    SX_IMPORT_SLOT(GetModuleHandleW, 4)) = reinterpret_cast<const void*>(&sx::get_module_handle_w);
}

namespace std {

void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_array_new_length(); }
void __throw_bad_cast() { throw bad_cast(); }
void __throw_bad_typeid() { throw bad_typeid(); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* message) { sx::throw_fault(message); }
void __throw_domain_error(const char* message) { sx::throw_fault(message); }
void __throw_invalid_argument(const char* message) { sx::throw_fault(message); }
void __throw_length_error(const char* message) { sx::throw_fault(message); }
void __throw_out_of_range(const char* message) { sx::throw_fault(message); }
// The format's arguments would need the formatter; the format names the call.
void __throw_out_of_range_fmt(const char* format, ...) { sx::throw_fault(format); }
void __throw_runtime_error(const char* message) { sx::throw_fault(message); }
void __throw_range_error(const char* message) { sx::throw_fault(message); }
void __throw_overflow_error(const char* message) { sx::throw_fault(message); }
void __throw_underflow_error(const char* message) { sx::throw_fault(message); }

}  // namespace std

namespace __gnu_cxx {

// What an uncaught exception ends in: the process stops, as the runtime's own
// handler does after printing the type's name.
void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
