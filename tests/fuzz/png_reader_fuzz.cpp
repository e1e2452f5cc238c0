// The PNG reader and the header check on any bytes: they never read or write out of bounds or
// leak (the sanitizers watch), the reader delivers exactly the rows it announced when it reads a
// file whole, and where it opens a file, the header check gives the same size. Built as png_split,
// it reads each file again with a second thread lent (which inflates a large file's pixel data):
// the same rows and the same answer.
#include <cstdint>
#include <cstring>

#include "fuzz_support.h"
#include "memory_bytes.h"
#include "imaging/codecs/png_header.h"
#include "imaging/codecs/png_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryBytes input = {data, size, -1};
  const ByteSource bytes = BytesOf(&input);
  PngDecoder decoder;
  Description header;
  if (OpenPng(bytes, &decoder, &header) != ReadOutcome::kRead) return 0;
  int32_t width = 0, height = 0;
  FUZZ_CHECK(PngHeaderSize(data, size, &width, &height) && width == header.width && height == header.height,
             "header %d by %d, reader %d by %d", width, height, header.width, header.height);
  CountedRows rows = {int64_t{1} << 26, 0, 0, 0, header.alpha ? 4 : 3, 0};
  const DecodedRows sink = Counting(&rows);
  const ReadOutcome outcome = ReadPng(decoder.get(), sink);
  FUZZ_CHECK(rows.delivered <= rows.height, "%d rows of %d", rows.delivered, rows.height);
  if (outcome == ReadOutcome::kRead) FUZZ_CHECK(rows.delivered == rows.height, "%d rows of %d", rows.delivered, rows.height);
#ifdef QUINTARA_FUZZ_SPLIT
  PngDecoder again;
  FUZZ_CHECK(OpenPng(bytes, &again, &header) == ReadOutcome::kRead, "opened once only");
  TestThread thread;
  const SecondThread second = Lend(&thread);
  CountedRows split = {int64_t{1} << 26, 0, 0, 0, header.alpha ? 4 : 3, 0};
  const ReadOutcome splitOutcome = ReadPng(again.get(), Counting(&split), &second);
  FUZZ_CHECK(splitOutcome == outcome, "answer %d on two threads, %d on one", static_cast<int>(splitOutcome), static_cast<int>(outcome));
  if (outcome == ReadOutcome::kRead) {
    FUZZ_CHECK(split.delivered == rows.delivered && split.checksum == rows.checksum, "rows differ on two threads");
  }
#endif
  return 0;
}
