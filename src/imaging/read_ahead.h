// A source's rows decoded on a worker thread of the call's own while the caller's thread
// resamples and writes the rows before them: the stages of a large conversion on two cores.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "imaging/codecs/decoded_rows.h"
#include "platform/windows_api.h"

struct SourceFile;

// How the rows travel from the worker to the caller: in bands of about this many bytes, at most
// this many bands decoded ahead of their use, so that the memory stays proportional to the width.
constexpr int32_t kBandBytes = 256 * 1024;
constexpr int32_t kBandsAhead = 4;

// A worker pays only where the caller's thread has work enough to do beside the decode: its start,
// the hand-overs and the rows' passage between the cores cost about 10 ms of processor time on
// 3 megapixels. Decoded rows of kWorkerPixels at least go to a worker where the target has
// kWorkerTargetPixels or more (its resample and encode), and rows of kWorkerRowPixels or more
// whatever the target (their boxes and horizontal pass). Measured under Wine: JPEGs decoded
// whole and written as JPEGs, 1.2 megapixels 26 ms either way, 3 megapixels 55 ms on one thread
// and 47 on two; a 4000 by 3000 JPEG decoded at 1/2 into an 800 by 600 JPEG, 70 to 76 ms with
// a worker against 71 without, and 82 ms of processor time against 72; the same whole into
// 2667 by 2000, 100 to 104 ms against 130 to 137; a 12 megapixel PNG into 800 by 600, 198 to 202
// ms against 215.
constexpr int64_t kWorkerPixels = int64_t{1} << 21;
constexpr int64_t kWorkerTargetPixels = 1000000;
constexpr int64_t kWorkerRowPixels = 8000000;

// A reader that can split its decode (TIFF's, strip by strip; PNG's, its inflate from the rest;
// JPEG's, its entropy decoding from the rest) is lent a second thread for sources of kSplitPixels
// or more, whichever thread decodes: the decompression, which no other stage overlaps, is what a
// thumbnail of a large page waits for.
constexpr int64_t kSplitPixels = int64_t{1} << 21;

// A semaphore with a count of its own beside it: a thread calls the system only where it must
// wait, and a release only where a thread waits, so that most hand-overs make no system call
// (under Wine each is a round trip to its server: 20 ms of a 12 megapixel PNG's 200 went in them).
struct Gate {
  HANDLE semaphore = INVALID_HANDLE_VALUE;
  std::atomic<long> count{0};  // what may pass now; below 0, a thread waits
};

// The second thread a reader may split its decode with (see SecondThread): made through the
// platform's table at the first piece of work and handed each piece through a gate, so that a read
// pays for one thread however many pieces it gives (under Wine a thread's start and end cost about
// a millisecond: a large PNG is inflated in 70 pieces). Where a wait or release fails on either
// side, the thread is ended, the piece in hand done or never begun, and no piece is given after.
// The thread has ended when the Lent has.
struct Lent {
  HandleOwner thread, goSemaphore, doneSemaphore;
  Gate go, done;
  std::atomic<bool> quit{false}, ended{false};
  bool broken = false;  // no more pieces
  void (*work)(void* argument) = nullptr;
  void* argument = nullptr;
  Lent() = default;
  Lent(const Lent&) = delete;
  Lent& operator=(const Lent&) = delete;
  ~Lent();
};
SecondThread Lend(Lent* lent);

// Work on each decoded row that depends on that row alone, which either thread may do: `make`
// turns a row into `madeValues` 16-bit values (the resampler's horizontal pass), `takeMade` is
// the caller's use of them, which must end as `take` of the row itself would. Where the caller's
// thread has fallen behind (a whole band waits untouched when the next one is full), the worker
// makes the next band's rows, so that neither thread waits while the other has work; `make` runs
// on the worker alone.
struct RowWork {
  size_t madeValues;
  std::function<void(const uint8_t* row, int16_t* made)> make;
  std::function<void(const int16_t* made)> takeMade;
};

// Decodes the opened source at 1 / denominator, width by height rows expected (else kRefused),
// handing each row, top first, to `take` on the caller's thread: the same rows in the same order
// whichever thread decodes them. A worker thread decodes where the rows and the target of
// `targetPixels` are large enough (see above) and the thread and its semaphores can be had; else
// the caller's thread does. Where a wait
// or release fails midway, on either side, the worker stops at its next row and the caller's
// thread decodes the file again with the same reader, handing on the rows after those `take`
// already has. The worker is made by this call and has ended before it returns, `take` throwing
// or not. `work`, where given, may be shared with the worker as above. The reader's answer (see
// ReadSourceFile).
ReadOutcome ReadAhead(SourceFile* source, int denominator, int32_t width, int32_t height, int64_t targetPixels,
                      const std::function<void(const uint8_t* row)>& take, const RowWork* work = nullptr);
