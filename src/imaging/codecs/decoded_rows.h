// What the plug-in's own readers and writers share: where a file's bytes come from and go, what a
// reader tells of the picture, where its rows go, and how a read ends. Platform-free.
#pragma once

#include <cstdint>

#include "imaging/codecs/carried.h"

// A file's bytes, for every reader, at any offset: `readAt` fills at most `size` bytes at `buffer`
// from `offset` and answers how many, 0 past the end, -1 when the file cannot be read; it must not
// throw. `size` is the file's, as it was when it was opened. A reader that goes in order keeps its
// own offset (see ReadOn).
struct ByteSource {
  int32_t (*readAt)(void* context, int64_t offset, uint8_t* buffer, int32_t size);
  void* context;
  int64_t size;
};

// All `size` bytes at `offset`, or false.
inline bool ReadExactly(const ByteSource& bytes, int64_t offset, uint8_t* buffer, int32_t size) {
  for (int32_t got = 0; size > 0; buffer += got, offset += got, size -= got) {
    got = bytes.readAt(bytes.context, offset, buffer, size);
    if (got <= 0) return false;
  }
  return true;
}

// As many of `size` bytes at `*at` as come, `*at` moved past them.
inline int32_t ReadOn(const ByteSource& bytes, int64_t* at, uint8_t* buffer, int32_t size) {
  const int32_t got = bytes.readAt(bytes.context, *at, buffer, size);
  if (got > 0) *at += got;
  return got;
}

// What a reader's open tells of the picture, before its first row.
struct Description {
  int32_t width = 0, height = 0;
  bool alpha = false;                     // rows are BGRA, else BGR
  Channels channels = Channels::kColour;  // what the plug-in's writers write of it
  int scales = 0;                         // kJpegScale* bits: those it decodes at below 1/1
  // At 1/d a WebP with alpha or a lossless one has its whole picture squeezed into its size
  // divided by d, rounded up; a JPEG's rows at 1/d, and an opaque lossy WebP's, cover its size
  // divided by d exactly, the last pixel in part.
  bool scalesWhole = false;
  Carried carried;  // its orientation and colour profile, as far as the format holds them
};

// Where the rows go. No call may throw.
struct DecodedRows {
  // Before the first row: the size of the rows to come; false stops.
  bool (*start)(void* context, int32_t width, int32_t height);
  // Each row, top first, in the layout the reader names; false stops the decode where it is.
  bool (*row)(void* context, const uint8_t* pixels);
  void* context;
};

// A second thread the caller lends a reader that can split its work: `run` starts work(argument)
// on it and answers false where no thread could be had (the reader then does that work itself);
// `wait` returns once the work has ended, and must be called after every `run` that answered true.
// Neither may throw.
struct SecondThread {
  bool (*run)(void* context, void (*work)(void* argument), void* argument);
  void (*wait)(void* context);
  void* context;
};

// A reader's work on its second thread, one piece at a time, waited for however the read ends.
struct InFlight {
  const SecondThread* beside;
  bool running = false;
  void Start(void (*work)(void* argument), void* argument) { running = beside->run(beside->context, work, argument); }
  void Wait() {
    if (running) beside->wait(beside->context);
    running = false;
  }
  ~InFlight() { Wait(); }
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
