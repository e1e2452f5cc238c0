// The JPEG reader on any bytes, at the scale the first byte picks: it never reads or writes out
// of bounds or leaks (the sanitizers watch), delivers exactly the rows it announced when it
// reads a file whole, and every row has the width it announced.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "imaging/pixels/jpeg_reader.h"

namespace {
struct Input {
  const uint8_t* data;
  size_t size, at;
};
struct Rows {
  int denominator;
  int32_t width, height, delivered;
  uint32_t checksum;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Input input = {data + 1, size - 1, 0};
  Rows rows = {1 << (data[0] % 4), 0, 0, 0, 0};
  const JpegBytes bytes = {[](void* context, uint8_t* buffer, int32_t want) {
                             auto* in = static_cast<Input*>(context);
                             size_t n = in->size - in->at;
                             if (n > static_cast<size_t>(want)) n = static_cast<size_t>(want);
                             if (n > 0) std::memcpy(buffer, in->data + in->at, n);
                             in->at += n;
                             return static_cast<int32_t>(n);
                           },
                           &input};
  const JpegSink sink = {
      [](void* context, int32_t width, int32_t height, int finest) {
        FUZZ_CHECK(width > 0 && height > 0 && (finest == 2 || finest == 8), "%d by %d", width, height);
        // Pictures the size of a large photo at most, so that a run stays quick.
        return int64_t{width} * height <= (int64_t{1} << 26) ? static_cast<Rows*>(context)->denominator : 0;
      },
      [](void* context, int32_t width, int32_t height) {
        auto* r = static_cast<Rows*>(context);
        r->width = width;
        r->height = height;
        return true;
      },
      [](void* context, const uint8_t* row) {
        auto* r = static_cast<Rows*>(context);
        for (int32_t i = 0; i < r->width * 3; ++i) r->checksum += row[i];  // every byte is readable
        ++r->delivered;
      },
      &rows};
  const JpegOutcome outcome = DecodeJpeg(bytes, sink);
  FUZZ_CHECK(rows.delivered <= rows.height, "%d rows of %d", rows.delivered, rows.height);
  if (outcome == JpegOutcome::kRead) FUZZ_CHECK(rows.delivered == rows.height, "%d rows of %d", rows.delivered, rows.height);
  return 0;
}
