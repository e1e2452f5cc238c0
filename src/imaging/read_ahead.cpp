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

// A row to its user; false stops the decode.
typedef std::function<bool(const uint8_t* row)> RowUse;

// What both threads share. The worker fills bands in turn, the caller empties them in turn;
// `vacant` counts the bands the worker may fill, `filled` the bands (and, once, the end) the
// caller may take. Each band is written by one thread at a time, handed over by a gate, whose
// counts order the memory between the threads.
struct Shared {
  SourceFile* source;
  int denominator;
  int32_t width, height, rowBytes, bandRows;
  std::vector<std::vector<uint8_t>> bands;
  std::vector<int32_t> rowsIn;  // of each band
  // Where the rows' work may be shared: each band's rows as the worker made them, and whether it did.
  const RowWork* work;
  const SecondThread* beside;  // lent to the reader, or null
  std::vector<std::vector<int16_t>> made;
  std::vector<char> madeIn;
  std::atomic<int64_t> taken{0};  // bands the caller has finished with
  Gate vacant, filled;
  std::atomic<int64_t> published{0};  // bands handed to the caller
  std::atomic<bool> finished{false};  // the worker has ended; `outcome` and `broken` hold
  std::atomic<bool> stop{false};      // the caller has given up: the worker decodes no further
  ReadOutcome outcome = ReadOutcome::kRefused;
  bool broken = false;  // a wait or release of the worker's failed: its rows did not all reach
                        // the caller, whatever the reader answered
  // The worker's own.
  int64_t filling = 0;
  int32_t row = 0;
  bool holding = false;
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

// Passes the gate, waiting as Acquire does where nothing may pass yet.
template <typename Over>
bool Pass(Gate* gate, const Over& over) {
  return gate->count.fetch_sub(1) > 0 || Acquire(gate->semaphore, over);
}

// Lets one more pass, waking the thread that waits, if one does.
bool Open(Gate* gate) {
  return gate->count.fetch_add(1) >= 0 || windows.ReleaseSemaphore(gate->semaphore, 1, nullptr) != FALSE;
}

// The worker's side: a band is held before its first row is written, and handed over when full.
bool HoldBand(Shared* s) {
  if (s->holding) return true;
  if (!Pass(&s->vacant, [s] { return s->stop.load(); })) return false;
  s->holding = true;
  s->row = 0;
  return true;
}

bool HandOver(Shared* s) {
  const size_t slot = static_cast<size_t>(s->filling % s->bands.size());
  s->rowsIn[slot] = s->row;
  // The caller is behind where a whole band waits untouched behind the one it works on: the
  // worker does this band's work, which the caller would otherwise do after the waiting one.
  s->madeIn[slot] = s->work != nullptr && s->taken.load() < s->filling - 1;
  for (int32_t y = 0; s->madeIn[slot] && y < s->row; ++y) {
    s->work->make(&s->bands[slot][static_cast<size_t>(y) * s->rowBytes],
                  &s->made[slot][static_cast<size_t>(y) * s->work->madeValues]);
  }
  s->holding = false;
  ++s->filling;
  s->published.store(s->filling);
  return Open(&s->filled);
}

// False where the row could not be handed on: the reader then stops at once.
bool TakeRow(Shared* s, const uint8_t* row) {
  if (!HoldBand(s)) return false;
  std::vector<uint8_t>& band = s->bands[static_cast<size_t>(s->filling % s->bands.size())];
  std::memcpy(&band[static_cast<size_t>(s->row) * s->rowBytes], row, static_cast<size_t>(s->rowBytes));
  return ++s->row < s->bandRows || HandOver(s);
}

// The rows of the source after the first `skip`, each to `use`, once their size is checked, on
// this thread.
ReadOutcome OnThisThread(SourceFile* source, int denominator, int32_t width, int32_t height,
                         int64_t skip, const RowUse& use, const SecondThread* beside = nullptr) {
  struct Expected {
    int32_t width, height;
    int64_t skip;
    const RowUse& use;
  } expected = {width, height, skip, use};
  const DecodedRows rows = {
      [](void* context, int32_t w, int32_t h) {
        const auto* e = static_cast<Expected*>(context);
        return w == e->width && h == e->height;
      },
      // The readers call this between their libraries' frames: nothing may leave it.
      [](void* context, const uint8_t* row) {
        auto* e = static_cast<Expected*>(context);
        if (e->skip > 0) return --e->skip, true;
        try {
          return e->use(row);
        } catch (...) {
          return false;
        }
      },
      &expected};
  return ReadSourceFile(source, denominator, rows, beside);
}

DWORD WINAPI Work(LPVOID parameter) {
  auto* s = static_cast<Shared*>(parameter);
  try {
    bool handed = true;
    const ReadOutcome outcome =
        OnThisThread(s->source, s->denominator, s->width, s->height, 0,
                     [s, &handed](const uint8_t* row) { return handed = TakeRow(s, row); }, s->beside);
    if (handed && s->holding && s->row > 0) handed = HandOver(s);
    s->outcome = outcome;
    s->broken = !handed;
  } catch (...) {  // nothing may leave a thread's function
    s->broken = true;
  }
  s->finished.store(true);
  Open(&s->filled);  // the end; if refused, the caller looks again
  return 0;
}

// The caller's side: one count of `filled` for each band handed over and one for the end, each
// band taken in turn, until the worker has ended and every band it handed over is taken. False
// where a wait or release of the caller's failed; `taken` counts the rows given to `take`.
bool TakeBands(Shared* s, const std::function<void(const uint8_t* row)>& take, int64_t* taken) {
  int64_t bands = 0;
  for (;;) {
    // False: the wait was refused, or the worker ended while its release was refused.
    if (!Pass(&s->filled, [s] { return s->finished.load(); }) && !s->finished.load()) {
      return false;
    }
    if (bands < s->published.load()) {
      const size_t slot = static_cast<size_t>(bands % s->bands.size());
      const uint8_t* band = s->bands[slot].data();
      for (int32_t y = 0; y < s->rowsIn[slot]; ++y, ++*taken) {
        if (s->madeIn[slot]) {
          s->work->takeMade(&s->made[slot][static_cast<size_t>(y) * s->work->madeValues]);
        } else {
          take(band + static_cast<size_t>(y) * s->rowBytes);
        }
      }
      s->taken.store(++bands);
      if (!Open(&s->vacant)) return false;
    } else if (s->finished.load()) {
      return true;
    }
  }
}

// The worker writes into `Shared` until it ends: however the caller leaves (its `take` may
// throw), the worker is told to stop and waited for, by the system's own wait where the table's
// is refused, before anything it writes into is released.
struct WorkerJoin {
  Shared* s;
  HANDLE thread;
  ~WorkerJoin() {
    s->stop.store(true);
    if (!s->finished.load()) windows.ReleaseSemaphore(s->vacant.semaphore, 1, nullptr);  // wakes it if it waits
    WaitForThreadEnd(thread);
  }
};

// A handle from a call that answers null where it fails, as HandleOwner holds handles.
HANDLE OrInvalid(HANDLE handle) { return handle != nullptr ? handle : INVALID_HANDLE_VALUE; }

// The lent thread: each piece as the gate lets it through, until it is told to end or a wait or
// release of its own fails.
DWORD WINAPI RunLent(LPVOID parameter) {
  auto* l = static_cast<Lent*>(parameter);
  while (Pass(&l->go, [l] { return l->quit.load(); }) && !l->quit.load()) {
    l->work(l->argument);  // which never throws
    if (!Open(&l->done)) break;
  }
  l->ended.store(true);
  return 0;
}

// Ends the lent thread, the piece in hand done or never begun; no piece is given after.
void EndLent(Lent* l) {
  l->broken = true;
  if (l->thread.handle == INVALID_HANDLE_VALUE) return;
  l->quit.store(true);
  Open(&l->go);  // wakes it if it waits; if refused, it sees `quit` when it looks again
  WaitForThreadEnd(l->thread.handle);
  l->thread.Close();
}

// The thread and its gates, made at the first piece.
bool StartLent(Lent* l) {
  l->goSemaphore.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, 0, 2, nullptr));
  l->doneSemaphore.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, 0, 2, nullptr));
  l->go.semaphore = l->goSemaphore.handle;
  l->done.semaphore = l->doneSemaphore.handle;
  if (l->go.semaphore == INVALID_HANDLE_VALUE || l->done.semaphore == INVALID_HANDLE_VALUE) return false;
  try {
    l->thread.handle = OrInvalid(windows.CreateThread(nullptr, 0, RunLent, l, 0, nullptr));
  } catch (...) {  // a thread that could not be had is one the reader goes without
  }
  return l->thread.handle != INVALID_HANDLE_VALUE;
}
}  // namespace

Lent::~Lent() { EndLent(this); }

SecondThread Lend(Lent* lent) {
  return {[](void* context, void (*work)(void*), void* argument) {
            auto* l = static_cast<Lent*>(context);
            if (l->broken || (l->thread.handle == INVALID_HANDLE_VALUE && !StartLent(l))) {
              l->broken = true;
              return false;
            }
            l->work = work;
            l->argument = argument;
            if (Open(&l->go)) return true;
            EndLent(l);
            return false;
          },
          [](void* context) {
            auto* l = static_cast<Lent*>(context);
            if (!Pass(&l->done, [l] { return l->ended.load(); })) EndLent(l);
          },
          lent};
}

ReadOutcome ReadAhead(SourceFile* source, int denominator, int32_t width, int32_t height, int64_t targetPixels,
                      const std::function<void(const uint8_t* row)>& take, const RowWork* work) {
  const RowUse all = [&take](const uint8_t* row) { return take(row), true; };
  const int32_t rowBytes = width * BytesPerPixel(RowLayout(*source));
  const int64_t pixels = int64_t{width} * height;
  Lent lent;
  const SecondThread second = Lend(&lent);
  const SecondThread* beside = int64_t{source->picture.width} * source->picture.height >= kSplitPixels ? &second : nullptr;
  if (pixels < kWorkerPixels || (targetPixels < kWorkerTargetPixels && pixels < kWorkerRowPixels) || rowBytes <= 0) {
    return OnThisThread(source, denominator, width, height, 0, all, beside);
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
  s.work = work;
  s.beside = beside;
  s.madeIn.assign(kBandsAhead, 0);
  if (work != nullptr) {
    s.made.assign(kBandsAhead, std::vector<int16_t>(static_cast<size_t>(s.bandRows) * work->madeValues));
  }
  HandleOwner vacant, filled, worker;
  // Each semaphore counts only the wakes of the one thread that waits on it, and the end's.
  vacant.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, 0, kBandsAhead + 1, nullptr));
  filled.handle = OrInvalid(windows.CreateSemaphoreW(nullptr, 0, kBandsAhead + 1, nullptr));
  s.vacant.semaphore = vacant.handle;
  s.vacant.count = kBandsAhead;
  s.filled.semaphore = filled.handle;
  s.filled.count = 0;
  if (vacant.handle != INVALID_HANDLE_VALUE && filled.handle != INVALID_HANDLE_VALUE) {
    worker.handle = OrInvalid(windows.CreateThread(nullptr, 0, Work, &s, 0, nullptr));
  }
  // Nothing of the source was read yet: the caller's thread reads it all.
  if (worker.handle == INVALID_HANDLE_VALUE) return OnThisThread(source, denominator, width, height, 0, all, beside);
  int64_t taken = 0;
  bool handedOver;
  {
    const WorkerJoin join = {&s, worker.handle};
    handedOver = TakeBands(&s, take, &taken);
  }
  if (handedOver && !s.broken) return s.outcome;
  // A hand-over failed on either side: the rows taken stand, and the caller's thread reads the
  // rest with the same reader, from the start of the file, past the rows it has.
  const ReadOutcome reopened = OpenSourceDecoder(source);
  if (reopened != ReadOutcome::kRead) return reopened;
  return OnThisThread(source, denominator, width, height, taken, all, beside);
}
