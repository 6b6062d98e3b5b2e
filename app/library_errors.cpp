// How the C++ library reports its own errors, defined here rather than taken
// from the library, whose versions build exception objects that bring some
// 100 KB of text formatting and a second string implementation with them.
// Each turns into what the program already handles: a container that cannot
// grow is out of memory, anything else a run-time error.
#include <new>

#include "runtime/error.h"

namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_length_error(const char*) { throw std::bad_alloc(); }
// A position past the end of a string.
void __throw_out_of_range_fmt(const char*, ...) { runtime::Raise(runtime::kSubscriptOutOfRange); }
// A string made from a null pointer, or an empty function called: faults of the program.
void __throw_logic_error(const char*) { runtime::Raise(runtime::kInternalError); }
void __throw_bad_function_call() { runtime::Raise(runtime::kInternalError); }

}  // namespace std
