// What the plug-in's own readers and writers share: where a file's bytes come from and go, where
// its rows go, and how a read ends. Platform-free.
#pragma once

#include <cstdint>

// Where a file's bytes come from: `read` fills at most `size` bytes at `buffer` and answers how
// many, 0 at the end of the file, -1 when the file cannot be read. It must not throw.
struct ByteSource {
  int32_t (*read)(void* context, uint8_t* buffer, int32_t size);
  void* context;
};

// Bytes at any offset of the file, for the readers that seek: true where all `size` bytes at
// `offset` were read. It must not throw.
struct RandomBytes {
  bool (*readAt)(void* context, int64_t offset, uint8_t* buffer, int32_t size);
  void* context;
};

// Where the rows go. No call may throw.
struct DecodedRows {
  // Before the first row: the size of the rows to come; false stops.
  bool (*start)(void* context, int32_t width, int32_t height);
  // Each row, top first, in the layout the reader names; false stops the decode where it is.
  bool (*row)(void* context, const uint8_t* pixels);
  void* context;
};

enum class ReadOutcome {
  kRead,         // read as asked, without an error (or, for a JPEG, a warning)
  kOtherFormat,  // the bytes do not begin as the reader's format's
  kRefused,      // a file of the format that the reader does not take: another decoder may try
  kHostile,      // a JPEG of more scans than kJpegScanLimit, or more than a 32-bit process can
                 // hold, or a PNG of rows that do not fit (see RowFits): no decoder is given it
};

// Where a file's bytes go: `write` takes `size` bytes and answers false when they could not be
// written. It must not throw.
struct ByteSink {
  bool (*write)(void* context, const uint8_t* bytes, int32_t size);
  void* context;
};
