// The PNG reader and the header check on any bytes: they never read or write out of bounds or
// leak (the sanitizers watch), the reader delivers exactly the rows it announced when it reads a
// file whole, and where it opens a file, the header check gives the same size.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "memory_bytes.h"
#include "imaging/codecs/png_header.h"
#include "imaging/codecs/png_reader.h"

namespace {
struct Rows {
  int32_t width, height, delivered, bytes;
  uint32_t checksum;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryBytes input = {data, size, 0, -1};
  const ByteSource bytes = BytesOf(&input);
  PngDecoder decoder;
  PngHeader header = {};
  if (OpenPng(bytes, &decoder, &header) != ReadOutcome::kRead) return 0;
  int32_t width = 0, height = 0;
  FUZZ_CHECK(PngHeaderSize(data, size, &width, &height) && width == header.width && height == header.height,
             "header %d by %d, reader %d by %d", width, height, header.width, header.height);
  // Pictures the size of a large photo at most, so that a run stays quick.
  if (int64_t{header.width} * header.height > (int64_t{1} << 26)) return 0;
  Rows rows = {0, 0, 0, header.alpha ? 4 : 3, 0};
  const DecodedRows sink = {
      [](void* context, int32_t w, int32_t h) {
        auto* r = static_cast<Rows*>(context);
        r->width = w;
        r->height = h;
        return true;
      },
      [](void* context, const uint8_t* row) {
        auto* r = static_cast<Rows*>(context);
        for (int32_t i = 0; i < r->width * r->bytes; ++i) r->checksum += row[i];  // every byte is readable
        ++r->delivered;
        return true;
      },
      &rows};
  const ReadOutcome outcome = ReadPng(decoder.get(), sink);
  FUZZ_CHECK(rows.delivered <= rows.height, "%d rows of %d", rows.delivered, rows.height);
  if (outcome == ReadOutcome::kRead) FUZZ_CHECK(rows.delivered == rows.height, "%d rows of %d", rows.delivered, rows.height);
  return 0;
}
