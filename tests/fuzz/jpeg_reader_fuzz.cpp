// The JPEG reader on any bytes, at the scale the first byte picks: it never reads or writes out of
// bounds or leaks (the sanitizers watch), and never takes long (the run's
// time-out: a file of many scans is stopped at the limit), the reader delivers exactly the rows
// it announced when it reads a file whole, and every row has the width it announced. No picture
// is declined for its size: what the reader accepts, it reads. Where the first byte's third bit is
// set, the file is read again with a second thread lent: the same answer and the same rows.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "memory_bytes.h"
#include "imaging/codecs/jpeg_reader.h"

namespace {
struct Rows {
  int32_t width, height, delivered;
  uint32_t checksum;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  MemoryBytes input = {data + 1, size - 1, -1};
  Rows rows = {0, 0, 0, 0};
  const DecodedRows sink = {
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
        return true;
      },
      &rows};
  JpegDecoder decoder;
  Description header;
  if (OpenJpeg(BytesOf(&input), &decoder, &header) != ReadOutcome::kRead) return 0;
  FUZZ_CHECK(header.width > 0 && header.height > 0 && (header.scales & ~14) == 0, "%d by %d, scales %d",
             header.width, header.height, header.scales);
  int denominator = 1 << (data[0] % 4);
  if ((header.scales & denominator) == 0) denominator = 1;
  const ReadOutcome outcome = ReadJpeg(decoder.get(), denominator, sink);
  FUZZ_CHECK(rows.delivered <= rows.height, "%d rows of %d", rows.delivered, rows.height);
  if (outcome == ReadOutcome::kRead) FUZZ_CHECK(rows.delivered == rows.height, "%d rows of %d", rows.delivered, rows.height);
  if ((data[0] & 4) == 0) return 0;
  Rows split = {0, 0, 0, 0};
  DecodedRows splitSink = sink;
  splitSink.context = &split;
  TestThread thread;
  const SecondThread second = Lend(&thread);
  JpegDecoder again;
  if (OpenJpeg(BytesOf(&input), &again, &header) != ReadOutcome::kRead) return 0;
  const ReadOutcome splitOutcome = ReadJpeg(again.get(), denominator, splitSink, &second);
  FUZZ_CHECK(splitOutcome == outcome && split.delivered == rows.delivered && split.checksum == rows.checksum,
             "two threads: answer %d, %d rows; one: %d, %d rows", static_cast<int>(splitOutcome), split.delivered,
             static_cast<int>(outcome), rows.delivered);
  return 0;
}
