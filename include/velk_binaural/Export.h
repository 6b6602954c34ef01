// VELK_API marks the public API of libvelk_core (localisation and separation).
// The library is built with every symbol hidden (-fvisibility=hidden): only what carries VELK_API
// is exported, and the rest can change without touching programs built against it.
// A public header includes this file and marks
//   - every class or struct with members defined in a .cpp, every exception type, and every class
//     (or class template) whose objects cross libraries: class VELK_API Name { ... };
//   - every function or variable defined in a .cpp: VELK_API int Name(...);
// Function templates and functions defined entirely in the header need no mark.
#pragma once

#define VELK_API __attribute__((visibility("default")))
