// FD_API marks the public API of libfd_host (the dataflow host).
// The library is built with every symbol hidden (-fvisibility=hidden): only what carries FD_API
// is exported, and the rest can change without touching programs built against it.
// A public header includes this file and marks
//   - every class or struct with members defined in a .cpp, every exception type, and every class
//     (or class template) whose objects cross libraries: class FD_API Name { ... };
//   - every function or variable defined in a .cpp: FD_API int Name(...);
// Function templates and functions defined entirely in the header need no mark.
#pragma once

#define FD_API __attribute__((visibility("default")))
