// The mark of the short-time analysis and synthesis's public API. libvelk_dsp is built with every symbol hidden, so that
// only what its headers declare with VELKDSP_API is exported: the rest can change without touching
// programs built against it.
#pragma once

#define VELKDSP_API __attribute__((visibility("default")))
