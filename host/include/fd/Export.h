// The mark of the host's public API. libfd_host is built with every symbol hidden, so that
// only what its headers declare with FD_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define FD_API __attribute__((visibility("default")))
