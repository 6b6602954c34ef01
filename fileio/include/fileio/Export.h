// The mark of the output files's public API. libvelk_fileio is built with every symbol hidden, so that
// only what its headers declare with FILEIO_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define FILEIO_API __attribute__((visibility("default")))
