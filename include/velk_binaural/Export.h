// The mark of the library's public API. libvelk_core is built with every symbol hidden, so that
// only what its headers declare with VELK_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define VELK_API __attribute__((visibility("default")))
