// Large pictures decoded on a worker thread while the caller resamples and writes: the same file
// as the one-thread path, whatever Windows refuses the worker.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <iterator>
#include <string>
#include <vector>

#include "image_codec.h"
#include "imaging/pixels/resample.h"
#include "imaging/read_ahead.h"
#include "imaging/resize_image_file.h"
#include "imaging/source_file.h"
#include "jpeg_encode.h"
#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "scratch_folder.h"

namespace {
// The routine a lent thread starts with, as Lend's run hands it to CreateThread.
LPTHREAD_START_ROUTINE LentStart() {
  static LPTHREAD_START_ROUTINE seen = nullptr;
  if (seen == nullptr) {
    WindowsApi probe = {};
    probe.CreateThread = [](LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID, DWORD, LPDWORD) -> HANDLE {
      seen = start;
      return nullptr;
    };
    UseWindows(&probe);
    Lent lent;
    const SecondThread second = Lend(&lent);
    second.run(second.context, [](void*) {}, nullptr);
    UseWindows(nullptr);
  }
  return seen;
}

// The Windows table with one of the worker thread's calls refused, every time: CreateThread and
// CreateSemaphoreW on the caller's thread, a wait or a release on the worker's side, the caller's
// or both. Unless `lends`, no thread is lent to a reader (their splits have tests of their own):
// every thread but the caller's is the worker. The bytes it reads are counted, and the calls
// refused (a wait or a release is called only where a thread waits: which are made depends on
// which thread is behind).
struct ThreadCallsRefused {
  enum Side { kBoth, kWorker, kCaller };
  static DWORD caller;
  static Side side;
  static bool lends;
  static std::atomic<long long> workerBytes;
  static std::atomic<long long> workerBytesAtRefusal;  // as the first refusal was made
  static std::atomic<int> refusals;
  static std::atomic<int> workerWaits;  // waits the worker began, refused or not
  static bool Refused() {
    const bool refused = side == kBoth || (GetCurrentThreadId() == caller) == (side == kCaller);
    if (refused && refusals++ == 0) workerBytesAtRefusal = workerBytes.load();
    return refused;
  }
  ThreadCallsRefused(const std::string& which, Side refusedOn, bool lending = false) {
    caller = GetCurrentThreadId();
    side = refusedOn;
    lends = lending;
    workerBytes = 0;
    workerBytesAtRefusal = 0;
    refusals = 0;
    workerWaits = 0;
    WindowsApi refusing = {};
    refusing.WaitForSingleObject = [](HANDLE object, DWORD milliseconds) -> DWORD {
      workerWaits += GetCurrentThreadId() != caller;
      return DefaultWindows().WaitForSingleObject(object, milliseconds);
    };
    refusing.ReadFile = [](HANDLE file, LPVOID buffer, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) -> BOOL {
      const BOOL done = DefaultWindows().ReadFile(file, buffer, bytes, read, overlapped);
      if (done && GetCurrentThreadId() != caller) workerBytes += *read;
      return done;
    };
    LentStart();
    refusing.CreateThread = [](LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id) -> HANDLE {
      if (start == LentStart() && !lends) return nullptr;
      return DefaultWindows().CreateThread(attributes, stack, start, parameter, flags, id);
    };
    if (which == "CreateThread") {
      refusing.CreateThread = [](LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD id) -> HANDLE {
        return Refused() ? nullptr : DefaultWindows().CreateThread(attributes, stack, start, parameter, flags, id);
      };
    } else if (which == "CreateSemaphoreW") {
      refusing.CreateSemaphoreW = [](LPSECURITY_ATTRIBUTES attributes, LONG count, LONG most, LPCWSTR name) -> HANDLE {
        return Refused() ? nullptr : DefaultWindows().CreateSemaphoreW(attributes, count, most, name);
      };
    } else if (which == "ReleaseSemaphore") {
      refusing.ReleaseSemaphore = [](HANDLE semaphore, LONG count, LPLONG previous) -> BOOL {
        return Refused() ? FALSE : DefaultWindows().ReleaseSemaphore(semaphore, count, previous);
      };
    } else if (which == "WaitForSingleObject") {
      refusing.WaitForSingleObject = [](HANDLE object, DWORD milliseconds) -> DWORD {
        workerWaits += GetCurrentThreadId() != caller;
        return Refused() ? WAIT_FAILED : DefaultWindows().WaitForSingleObject(object, milliseconds);
      };
    }
    UseWindows(&refusing);
  }
  ~ThreadCallsRefused() { UseWindows(nullptr); }
};
DWORD ThreadCallsRefused::caller = 0;
ThreadCallsRefused::Side ThreadCallsRefused::side = ThreadCallsRefused::kBoth;
bool ThreadCallsRefused::lends = false;
std::atomic<long long> ThreadCallsRefused::workerBytes{0};
std::atomic<long long> ThreadCallsRefused::workerBytesAtRefusal{0};
std::atomic<int> ThreadCallsRefused::refusals{0};
std::atomic<int> ThreadCallsRefused::workerWaits{0};

// A lent thread takes piece after piece through its gates. Where one of its calls is refused, on
// either side, the piece in hand is done once, on the thread or (never begun there) by the caller,
// and no piece is given after: the same work as on one thread, and no wait for ever.
TEST(ReadAhead, ALentThreadDoesEachPieceOnceWhateverIsRefused) {
  const struct {
    const char* call;
    ThreadCallsRefused::Side side;
  } refusals[] = {{"", ThreadCallsRefused::kBoth},
                  {"CreateThread", ThreadCallsRefused::kCaller},
                  {"CreateSemaphoreW", ThreadCallsRefused::kCaller},
                  {"ReleaseSemaphore", ThreadCallsRefused::kCaller},
                  {"ReleaseSemaphore", ThreadCallsRefused::kWorker},
                  {"WaitForSingleObject", ThreadCallsRefused::kCaller},
                  {"WaitForSingleObject", ThreadCallsRefused::kWorker}};
  struct Piece {
    std::atomic<int> done{0};
    std::atomic<bool> onThread{false};
  };
  const auto work = [](void* argument) {
    Sleep(2);  // so that the other side waits, and its wait or release is made
    auto* piece = static_cast<Piece*>(argument);
    piece->onThread = GetCurrentThreadId() != ThreadCallsRefused::caller;
    ++piece->done;
  };
  for (const auto& r : refusals) {
    const std::string refusal = std::string(r.call) + " refused on side " + std::to_string(r.side);
    ThreadCallsRefused calls(r.call, r.side, true);
    Piece pieces[20];
    bool refused = false;
    {
      Lent lent;
      const SecondThread second = Lend(&lent);
      for (Piece& piece : pieces) {
        Sleep(1);  // so that the thread waits for the piece, and the release that wakes it is made
        const bool given = second.run(second.context, work, &piece);
        EXPECT_FALSE(given && refused) << refusal;
        refused = refused || !given;
        if (given) second.wait(second.context);
        if (piece.done == 0) work(&piece);
        EXPECT_EQ(piece.done, 1) << refusal;
      }
    }
    const long onThread = std::count_if(std::begin(pieces), std::end(pieces), [](const Piece& p) { return p.onThread.load(); });
    EXPECT_EQ(onThread == 20, ThreadCallsRefused::refusals == 0) << refusal;
  }
}

// Large pictures are decoded on a worker thread while the caller resamples and writes: the file
// written is the one-thread path's, byte for byte, into every kind of target. A refused thread or
// semaphore leaves the caller's thread the whole work; a wait or release refused on either side,
// where one is made, stops the worker's decode early and the caller's thread reads the rest: the
// same file again. A reader that fails midway on the worker ends as GDI+ ends it.
TEST(ReadAhead, TwoThreadsWriteTheOneThreadFile) {
  ScratchFolder folder;
  ASSERT_TRUE(EncodeJpegFile(folder / "large.jpg", {2001, 1501, 3, 2, 2, false, false, 0}, Photo));
  ASSERT_TRUE(WritePng(folder / "large.png", PngImage{1801, 1201, 6, 8, [](int x, int y) {
    return Rgba{static_cast<uint8_t>(x), static_cast<uint8_t>(y), static_cast<uint8_t>(x ^ y), static_cast<uint8_t>(x + y)};
  }, {}, {}}));
  std::vector<uint8_t> cut = ReadBytes(folder / "large.jpg");
  cut.resize(cut.size() * 3 / 5);
  ASSERT_TRUE(WriteBytes(folder / "cut.jpg", cut));
  const struct {
    const char* source;
    const char* target;
    int width, height;
  } works[] = {{"large.jpg", "out.png", 1200, 900}, {"large.jpg", "out.jpg", 1100, 950},
               {"large.jpg", "out.bmp", 1050, 1000}, {"large.png", "out.png", 1050, 1000},
               {"large.png", "out.png", 1801, 1201}, {"cut.jpg", "out.png", 1200, 900},
               {"large.jpg", "out.jpg", 1334, 1000}};
  for (const auto& w : works) {
    const std::string trace = std::string(w.source) + " to " + w.target + " " + std::to_string(w.width);
    const size_t sourceBytes = ReadBytes(folder / w.source).size();
    ResizeStep alone;
    {
      ThreadCallsRefused oneThread("CreateThread", ThreadCallsRefused::kCaller);
      alone = ResizeImageFile(folder / w.source, folder / ("alone-" + std::string(w.target)), w.width, w.height);
    }
    const std::vector<uint8_t> one = ReadBytes(folder / ("alone-" + std::string(w.target)));
    {
      ThreadCallsRefused none("", ThreadCallsRefused::kBoth);  // every source here is decoded by the worker
      EXPECT_EQ(ResizeImageFile(folder / w.source, folder / w.target, w.width, w.height), alone) << trace;
      EXPECT_GT(ThreadCallsRefused::workerBytes, 0) << trace;
    }
    EXPECT_EQ(ReadBytes(folder / w.target), one) << trace;
    // A wait or release is made only where a thread waits, which depends on which thread is behind
    // (a busy machine may hold the caller back until the worker is near its end). Where one was
    // refused, the worker's decode stops: after the refusal it reads at most the bands it may still
    // fill, never the rest of the file.
    const struct {
      const char* call;
      ThreadCallsRefused::Side side;
    } refusals[] = {{"CreateSemaphoreW", ThreadCallsRefused::kCaller},     {"ReleaseSemaphore", ThreadCallsRefused::kWorker},
                    {"ReleaseSemaphore", ThreadCallsRefused::kCaller},     {"ReleaseSemaphore", ThreadCallsRefused::kBoth},
                    {"WaitForSingleObject", ThreadCallsRefused::kWorker}, {"WaitForSingleObject", ThreadCallsRefused::kCaller}};
    for (const auto& refused : refusals) {
      std::remove((folder / w.target).c_str());
      const std::string refusal = trace + ", " + refused.call + " refused on side " + std::to_string(refused.side);
      ThreadCallsRefused calls(refused.call, refused.side);
      EXPECT_EQ(ResizeImageFile(folder / w.source, folder / w.target, w.width, w.height), alone) << refusal;
      EXPECT_EQ(ReadBytes(folder / w.target), one) << refusal;
      const long long after = ThreadCallsRefused::workerBytes - ThreadCallsRefused::workerBytesAtRefusal;
      if (ThreadCallsRefused::refusals > 0) {
        EXPECT_LT(after * 2, static_cast<long long>(sourceBytes)) << refusal;
      }
    }
    std::remove((folder / w.target).c_str());
    std::remove((folder / ("alone-" + std::string(w.target))).c_str());
  }
  EXPECT_EQ(folder.Entries(), (std::vector<std::string>{"cut.jpg", "large.jpg", "large.png"}));
}

// A caller's thread slower than the decode has the worker do the horizontal pass of the bands it
// hands over, and wait for vacant bands: the resampler's rows are the one-thread rows, byte for
// byte, and stay so where the worker's wait or the caller's release is refused. The caller is made
// slow by what the worker does, not by the clock: its first row waits until the worker has made a
// band's rows, or (where a call is refused) until the worker has waited for a vacant band.
TEST(ReadAhead, TheWorkerTakesOverTheHorizontalPassOfASlowCaller) {
  ScratchFolder folder;
  ASSERT_TRUE(EncodeJpegFile(folder / "large.jpg", {2001, 1501, 3, 2, 2, false, false, 0}, Photo));
  const long long sourceBytes = static_cast<long long>(ReadBytes(folder / "large.jpg").size());
  const ResamplePlan plan = PlanResample(2001, 1501, 2001, 1501, 1334, 1000);
  const struct {
    bool shared;
    const char* refused;
    ThreadCallsRefused::Side side;
  } runs[] = {{false, "CreateThread", ThreadCallsRefused::kCaller},
              {true, "", ThreadCallsRefused::kBoth},
              {true, "WaitForSingleObject", ThreadCallsRefused::kWorker},
              {true, "ReleaseSemaphore", ThreadCallsRefused::kCaller}};
  std::vector<uint8_t> rows[2];
  std::atomic<int> made{0};  // rows the worker made
  for (const auto& run : runs) {
    const bool shared = run.shared;
    ThreadCallsRefused calls(run.refused, run.side);
    SourceFile file;
    ASSERT_EQ(OpenSource(ToWideText(folder / "large.jpg"), &file), Opened::kDiskFile);
    ASSERT_EQ(OpenSourceDecoder(&file), ReadOutcome::kRead);
    rows[shared].assign(size_t{1334} * 3 * 1000, 0);
    Resampler resampler =
        StartResampler(PixelLayout::kBgr24, plan, OutputRows{rows[shared].data(), 1334 * 3, nullptr, nullptr}, Simd::kSse2);
    ASSERT_TRUE(RowsStandAlone(resampler));
    std::vector<uint8_t> padded(size_t{2001} * 3 + kRowRoom);
    const RowWork work = {HorizontalRowValues(resampler),
                          [&](const uint8_t* row, int16_t* values) { ++made, HorizontalRow(resampler, row, padded.data(), values); },
                          [&](const int16_t* values) { AddHorizontalRow(&resampler, values); }};
    bool first = true;
    const auto behind = [&] {
      if (*run.refused == '\0') return made.load() > 0;
      return run.side == ThreadCallsRefused::kWorker ? ThreadCallsRefused::refusals.load() > 0
                                                      : ThreadCallsRefused::workerWaits.load() > 0;
    };
    EXPECT_EQ(ReadAhead(&file, 1, 2001, 1501, 1334 * 1000, [&](const uint8_t* row) {
      // Ten seconds only keeps a broken worker from holding the test: nothing is judged by them.
      for (int waited = 0; shared && first && !behind() && waited < 10000; ++waited) Sleep(1);
      first = false;
      AddSourceRow(&resampler, row);
    }, shared ? &work : nullptr), ReadOutcome::kRead);
    EXPECT_TRUE(rows[0] == rows[shared]) << run.refused << " refused; " << made.load() << " rows made by the worker";
    if (*run.refused != '\0' && shared) {
      EXPECT_GT(ThreadCallsRefused::refusals, 0) << run.refused;
      EXPECT_LT(ThreadCallsRefused::workerBytes * 2, sourceBytes) << run.refused;
    }
  }
  EXPECT_GT(made.load(), 0);
}
}  // namespace
