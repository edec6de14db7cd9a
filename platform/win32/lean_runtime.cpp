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
