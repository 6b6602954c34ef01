// The mark of the transfer-function file library's public API. libvelkio is built with every symbol hidden, so that
// only what its headers declare with VELKIO_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define VELKIO_API __attribute__((visibility("default")))
