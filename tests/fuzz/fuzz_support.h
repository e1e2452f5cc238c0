// What the fuzz targets share: a check that aborts with a message, so that libFuzzer keeps the
// input that broke a property.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "imaging/codecs/decoded_rows.h"

#define FUZZ_CHECK(condition, ...)                                 \
  do {                                                             \
    if (!(condition)) {                                            \
      std::fprintf(stderr, "property broken: %s\n", #condition);   \
      std::fprintf(stderr, __VA_ARGS__);                           \
      std::fprintf(stderr, "\n");                                  \
      std::abort();                                                \
    }                                                              \
  } while (0)

// Where a reader's rows go in a fuzz run: every byte of each row read (the sanitizers see a row
// shorter than announced), the rows counted, pictures past `largest` pixels stopped at the start
// so that a run stays quick.
struct CountedRows {
  int64_t largest;
  int32_t width, height, delivered, bytes;
  uint32_t checksum;
};

inline DecodedRows Counting(CountedRows* rows) {
  return DecodedRows{[](void* context, int32_t width, int32_t height) {
                       auto* r = static_cast<CountedRows*>(context);
                       r->width = width;
                       r->height = height;
                       return int64_t{width} * height <= r->largest;
                     },
                     [](void* context, const uint8_t* row) {
                       auto* r = static_cast<CountedRows*>(context);
                       for (int32_t i = 0; i < r->width * r->bytes; ++i) r->checksum += row[i];
                       ++r->delivered;
                       return true;
                     },
                     rows};
}
