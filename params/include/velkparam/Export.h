// The mark of the parameter declarations's public API. libvelk_params is built with every symbol hidden, so that
// only what its headers declare with VELKPARAM_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define VELKPARAM_API __attribute__((visibility("default")))
