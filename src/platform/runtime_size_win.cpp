// Keeps the C++ run-time's error paths small in the Windows build.
//
// Our code is built without exceptions: no function of ours throws, and an
// error the standard library cannot recover from (out of memory, a length
// beyond max_size) ends the process, as an uncaught exception would. The
// library's default helpers for those paths build exception objects with
// messages and a demangler, which would pull in a second string library
// and most of the unwinder's data: a third of the program. These plain
// definitions replace them.

#include <cstdlib>

// The names are the run-time library's own, reserved to it: replacing them is
// the point.
// NOLINTBEGIN(bugprone-reserved-identifier)

namespace __gnu_cxx {

void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx

namespace std {

void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }

}  // namespace std

// NOLINTEND(bugprone-reserved-identifier)
