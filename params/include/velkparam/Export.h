// VELKPARAM_API marks the public API of libvelk_params (parameter declarations).
// The library is built with every symbol hidden (-fvisibility=hidden): only what carries VELKPARAM_API
// is exported, and the rest can change without touching programs built against it.
// A public header includes this file and marks
//   - every class or struct with members defined in a .cpp, every exception type, and every class
//     (or class template) whose objects cross libraries: class VELKPARAM_API Name { ... };
//   - every function or variable defined in a .cpp: VELKPARAM_API int Name(...);
// Function templates and functions defined entirely in the header need no mark.
#pragma once

#define VELKPARAM_API __attribute__((visibility("default")))
