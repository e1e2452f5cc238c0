// The BMP, GIF, TIFF and WebP readers and the AVIF box reader on any bytes (the first byte picks
// the reader): they never read or write out of bounds or leak (the sanitizers watch), a file they
// read whole delivers exactly the rows it announced, and every AVIF extent lies inside the file.
#include <cstdint>

#include "fuzz_support.h"
#include "memory_bytes.h"
#include "imaging/codecs/avif_boxes.h"
#include "imaging/codecs/bmp_reader.h"
#include "imaging/codecs/gif_reader.h"
#include "imaging/codecs/tiff_reader.h"
#include "imaging/codecs/webp_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  MemoryBytes input = {data + 1, size - 1, -1};
  const int64_t fileSize = static_cast<int64_t>(input.size);
  // Pictures the size of a large photo at most.
  CountedRows rows = {int64_t{1} << 20, 0, 0, 0, 3, 0};
  const DecodedRows sink = Counting(&rows);
  ReadOutcome outcome;
  if (data[0] % 8 == 4) {
    AvifLayout layout;
    if (ReadAvifLayout(BytesOf(&input), &layout) != ReadOutcome::kRead) return 0;
    for (const AvifPicture* p : {&layout.colour, &layout.alpha}) {
      FUZZ_CHECK(p->tiles.empty() || p->tiles.size() == static_cast<size_t>(p->rows) * p->columns, "%d tiles", int(p->tiles.size()));
      for (const AvifData& tile : p->tiles) {
        for (const AvifExtent& e : tile) FUZZ_CHECK(e.offset >= 0 && e.length > 0 && e.offset + e.length <= fileSize, "extent outside");
      }
    }
    return 0;
  }
  if (data[0] % 4 == 3) {  // at the scale the last byte picks, where the file has it
    WebpDecoder decoder;
    Description header;
    if (OpenWebp(BytesOf(&input), &decoder, &header) != ReadOutcome::kRead) return 0;
    rows.bytes = header.alpha ? 4 : 3;
    const int scale = 1 << (data[size - 1] % 4);
    outcome = ReadWebp(decoder.get(), (header.scales & scale) != 0 ? scale : 1, sink);
  } else if (data[0] % 4 == 0) {
    BmpDecoder decoder;
    Description header;
    if (OpenBmp(BytesOf(&input), &decoder, &header) != ReadOutcome::kRead) return 0;
    rows.bytes = header.alpha ? 4 : 3;
    outcome = ReadBmp(decoder.get(), sink);
  } else if (data[0] % 4 == 2) {
    TiffDecoder decoder;
    Description header;
    if (OpenTiff(BytesOf(&input), &decoder, &header) != ReadOutcome::kRead) return 0;
    rows.bytes = header.alpha ? 4 : 3;
    outcome = ReadTiff(decoder.get(), sink);
  } else {
    GifDecoder decoder;
    Description header;
    if (OpenGif(BytesOf(&input), &decoder, &header) != ReadOutcome::kRead) return 0;
    rows.bytes = header.alpha ? 4 : 3;
    outcome = ReadGif(decoder.get(), sink);
  }
  if (outcome == ReadOutcome::kRead) {
    FUZZ_CHECK(rows.delivered == rows.height, "%d rows of %d", rows.delivered, rows.height);
  }
  return 0;
}
