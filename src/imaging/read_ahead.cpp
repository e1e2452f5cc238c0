#include "imaging/read_ahead.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "imaging/source_file.h"
#include "platform/windows_api.h"

namespace {
// How long a wait lasts before the waiter looks again whether the other side has ended: a
// release that was refused must not leave either thread waiting for ever.
constexpr DWORD kLookAgainMilliseconds = 50;

// What both threads share. The worker fills bands in turn, the caller empties them in turn;
// `free` counts the bands the worker may fill, `filled` the bands (and, once, the end) the
// caller may take. Each band is written by one thread at a time, handed over by a semaphore,
// whose release and wait order the memory between the threads.
struct Shared {
  SourceFile* source;
  int denominator;
  int32_t width, height, rowBytes, bandRows;
  std::vector<std::vector<uint8_t>> bands;
  std::vector<int32_t> rowsIn;  // of each band
  HANDLE free, filled;
  std::atomic<int64_t> published{0};  // bands handed to the caller
  std::atomic<bool> finished{false};  // the worker has ended; `outcome` holds
  std::atomic<bool> stop{false};      // the caller has given up: the worker decodes no further
  ReadOutcome outcome = ReadOutcome::kRefused;
  // The worker's own.
  int64_t filling = 0;
  int32_t row = 0;
  bool holding = false, broken = false;
};

// Waits for a semaphore until it is had (true), the wait fails, or `over` says the other side
// has ended (false).
template <typename Over>
bool Acquire(HANDLE semaphore, const Over& over) {
  for (;;) {
    const DWORD waited = windows.WaitForSingleObject(semaphore, kLookAgainMilliseconds);
    if (waited == WAIT_OBJECT_0) return true;
    if (waited != WAIT_TIMEOUT || over()) return false;
  }
}

// The worker's side: a band is held before its first row is written, and handed over when full.
bool HoldBand(Shared* s) {
  if (s->holding) return true;
  if (s->broken || !Acquire(s->free, [s] { return s->stop.load(); })) return false;
  s->holding = true;
  s->row = 0;
  return true;
}

bool HandOver(Shared* s) {
  s->rowsIn[static_cast<size_t>(s->filling % s->bands.size())] = s->row;
  s->holding = false;
  ++s->filling;
  s->published.store(s->filling);
  return windows.ReleaseSemaphore(s->filled, 1, nullptr) != FALSE;
}

void TakeRow(Shared* s, const uint8_t* row) {
  if (!HoldBand(s)) {
    s->broken = true;  // the rows that follow are dropped, and the read refused
    return;
  }
  std::vector<uint8_t>& band = s->bands[static_cast<size_t>(s->filling % s->bands.size())];
  std::memcpy(&band[static_cast<size_t>(s->row) * s->rowBytes], row, static_cast<size_t>(s->rowBytes));
  if (++s->row == s->bandRows && !HandOver(s)) s->broken = true;
}

// The rows of the source, each to `take`, once their size is checked, on this thread.
ReadOutcome OnThisThread(SourceFile* source, int denominator, int32_t width, int32_t height,
                         const std::function<void(const uint8_t* row)>& take) {
  struct Expected {
    int32_t width, height;
    const std::function<void(const uint8_t*)>& take;
  } expected = {width, height, take};
  const DecodedRows rows = {
      [](void* context, int32_t w, int32_t h) {
        const auto* e = static_cast<Expected*>(context);
        return w == e->width && h == e->height;
      },
      [](void* context, const uint8_t* row) { static_cast<Expected*>(context)->take(row); },
      &expected};
  return ReadSourceFile(source, denominator, rows);
}

DWORD WINAPI Work(LPVOID parameter) {
  auto* s = static_cast<Shared*>(parameter);
  try {
    const ReadOutcome outcome = OnThisThread(s->source, s->denominator, s->width, s->height,
                                             [s](const uint8_t* row) { TakeRow(s, row); });
    if (s->holding && s->row > 0 && !HandOver(s)) s->broken = true;
    s->outcome = s->broken ? ReadOutcome::kRefused : outcome;
  } catch (...) {  // nothing may leave a thread's function
    s->outcome = ReadOutcome::kRefused;
  }
  s->finished.store(true);
  windows.ReleaseSemaphore(s->filled, 1, nullptr);  // the end; if refused, the caller looks again
  return 0;
}

// The caller's side: one count of `filled` for each band handed over and one for the end, each
// band taken in turn, until the worker has ended and every band it handed over is taken.
bool TakeBands(Shared* s, const std::function<void(const uint8_t* row)>& take) {
  int64_t taken = 0;
  for (;;) {
    // False: the wait was refused, or the worker ended while its release was refused.
    if (!Acquire(s->filled, [s] { return s->finished.load(); }) && !s->finished.load()) {
      return false;
    }
    if (taken < s->published.load()) {
      const size_t slot = static_cast<size_t>(taken % s->bands.size());
      const uint8_t* band = s->bands[slot].data();
      for (int32_t y = 0; y < s->rowsIn[slot]; ++y) take(band + static_cast<size_t>(y) * s->rowBytes);
      ++taken;
      if (!windows.ReleaseSemaphore(s->free, 1, nullptr)) return false;
    } else if (s->finished.load()) {
      return true;
    }
  }
}

// A handle from a call that answers null where it fails, as HandleOwner holds handles.
HANDLE OrInvalid(HANDLE handle) { return handle != nullptr ? handle : INVALID_HANDLE_VALUE; }
}  // namespace

ReadOutcome ReadAhead(SourceFile* source, int denominator, int32_t width, int32_t height,
                      const std::function<void(const uint8_t* row)>& take) {
  const int32_t rowBytes = width * BytesPerPixel(source->layout);
  if (int64_t{width} * height < kWorkerPixels || rowBytes <= 0) {
    return OnThisThread(source, denominator, width, height, take);
  }
  Shared s;
  s.source = source;
  s.denominator = denominator;
  s.width = width;
  s.height = height;
  s.rowBytes = rowBytes;
  s.bandRows = kBandBytes / rowBytes > 0 ? kBandBytes / rowBytes : 1;
  s.bands.assign(kBandsAhead, std::vector<uint8_t>(static_cast<size_t>(s.bandRows) * rowBytes));
  s.rowsIn.assign(kBandsAhead, 0);
  HandleOwner free, filled, worker;
  free.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, kBandsAhead, kBandsAhead, nullptr));
  filled.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, 0, kBandsAhead + 1, nullptr));
  s.free = free.handle;
  s.filled = filled.handle;
  if (free.handle != INVALID_HANDLE_VALUE && filled.handle != INVALID_HANDLE_VALUE) {
    worker.handle = OrInvalid(windows.CreateThread(nullptr, 0, Work, &s, 0, nullptr));
  }
  // Nothing of the source was read yet: the caller's thread reads it all.
  if (worker.handle == INVALID_HANDLE_VALUE) return OnThisThread(source, denominator, width, height, take);
  const bool handedOver = TakeBands(&s, take);
  // The worker writes into `s` until it ends: however the hand-over went, it is waited for, by
  // the system's own wait where the table's is refused.
  s.stop.store(true);
  windows.ReleaseSemaphore(s.free, 1, nullptr);
  WaitForThreadEnd(worker.handle);
  return handedOver ? s.outcome : ReadOutcome::kRefused;
}
