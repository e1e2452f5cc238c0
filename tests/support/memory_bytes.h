// A file in memory as the plug-in's readers take bytes and its writers give them, for the
// codecs' tests and fuzz targets.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "imaging/codecs/decoded_rows.h"

struct MemoryBytes {
  const uint8_t* data;
  size_t size;
  long failAt;  // reads fail from this offset on (-1: never)
};

inline ByteSource BytesOf(MemoryBytes* memory) {
  return ByteSource{[](void* context, int64_t offset, uint8_t* buffer, int32_t size) {
                      const auto* m = static_cast<const MemoryBytes*>(context);
                      if (offset < 0 || (m->failAt >= 0 && offset >= m->failAt)) return -1;
                      const int64_t end = m->failAt >= 0 ? std::min<int64_t>(m->failAt, m->size) : m->size;
                      const int64_t n = std::min<int64_t>(size, std::max<int64_t>(end - offset, 0));
                      if (n > 0) std::memcpy(buffer, m->data + offset, static_cast<size_t>(n));
                      return static_cast<int32_t>(n);
                    },
                    memory, static_cast<int64_t>(memory->size)};
}

// Every byte written, appended to `file`.
inline ByteSink AppendingTo(std::vector<uint8_t>* file) {
  return ByteSink{[](void* f, const uint8_t* bytes, int32_t size) {
                    auto* v = static_cast<std::vector<uint8_t>*>(f);
                    v->insert(v->end(), bytes, bytes + size);
                    return true;
                  },
                  file};
}

// Every row a reader delivers, `pixelBytes` bytes a pixel (set once the header tells), top first.
struct CapturedRows {
  std::vector<uint8_t> bytes;
  int32_t width = 0;
  int pixelBytes = 3;
};
inline DecodedRows Capturing(CapturedRows* rows) {
  return DecodedRows{[](void* c, int32_t width, int32_t) { return static_cast<CapturedRows*>(c)->width = width, true; },
                     [](void* c, const uint8_t* row) {
                       auto* r = static_cast<CapturedRows*>(c);
                       r->bytes.insert(r->bytes.end(), row, row + static_cast<size_t>(r->width) * r->pixelBytes);
                       return true;
                     },
                     rows};
}

// A whole file in memory through one reader: its open, then every row into `rows`, the picture
// as its open described it. kRead, or the answer of the step that ended it.
template <typename Decoder, ReadOutcome (*Open)(const ByteSource&, Decoder*, Description*),
          ReadOutcome (*Read)(typename Decoder::pointer, const DecodedRows&)>
ReadOutcome ReadWhole(const std::vector<uint8_t>& file, Description* picture, CapturedRows* rows) {
  MemoryBytes memory = {file.data(), file.size(), -1};
  Decoder decoder;
  const ReadOutcome opened = Open(BytesOf(&memory), &decoder, picture);
  if (opened != ReadOutcome::kRead) return opened;
  rows->pixelBytes = picture->alpha ? 4 : 3;
  return Read(decoder.get(), Capturing(rows));
}

// A second thread as the plug-in lends one, counting the runs it was given.
struct TestThread {
  std::thread thread;
  bool refuses = false;
  int runs = 0;
};
inline SecondThread Lend(TestThread* t) {
  return {[](void* c, void (*work)(void*), void* argument) {
            auto* test = static_cast<TestThread*>(c);
            if (test->refuses) return false;
            ++test->runs;
            test->thread = std::thread(work, argument);
            return true;
          },
          [](void* c) { static_cast<TestThread*>(c)->thread.join(); }, t};
}
