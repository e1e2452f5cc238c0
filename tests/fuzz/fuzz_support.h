// What the fuzz targets share: a check that aborts with a message, so that libFuzzer keeps the
// input that broke a property.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, ...)                                 \
  do {                                                             \
    if (!(condition)) {                                            \
      std::fprintf(stderr, "property broken: %s\n", #condition);   \
      std::fprintf(stderr, __VA_ARGS__);                           \
      std::fprintf(stderr, "\n");                                  \
      std::abort();                                                \
    }                                                              \
  } while (0)
