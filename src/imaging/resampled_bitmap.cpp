#include "imaging/resampled_bitmap.h"

#include <functional>

#include "imaging/pixels/resample.h"
#include "imaging/read_ahead.h"
#include "imaging/source_file.h"
#include "imaging/gdiplus/source_rows.h"
#include "imaging/target_writer.h"
#include "platform/windows_api.h"

namespace {
// What the processor offers the resampler.
Simd ProcessorSimd() {
  return !ProcessorHasSse2() ? Simd::kNone : ProcessorHasAvx2() ? Simd::kAvx2 : Simd::kSse2;
}

// The plan keeps the size: the rows are copied, not resampled, which keeps straight alpha exact.
bool KeepsSize(const ResamplePlan& plan) {
  return plan.width == plan.sourceWidth && plan.height == plan.sourceHeight &&
         plan.coveredWidth == plan.width && plan.coveredHeight == plan.height;
}

// Hands each row, top first, to `take`, or, where `work` is given and the feed has a worker,
// perhaps the worker's work on it to `work->takeMade`; false where the rows could not all be had.
typedef std::function<bool(const std::function<void(const uint8_t*)>& take, const RowWork* work)> Feed;

// The rows from `feed` through a resampler into `output`. Where the rows stand alone, the
// horizontal pass is work the worker may take over from the caller's thread.
bool ResampledRows(PixelLayout layout, const ResamplePlan& plan, const OutputRows& output, const Feed& feed) {
  Resampler resampler = StartResampler(layout, plan, output, ProcessorSimd());
  const bool shared = RowsStandAlone(resampler);
  // The worker's own copy of a row, with the room the horizontal pass reads past its end.
  std::vector<uint8_t> padded(shared ? static_cast<size_t>(plan.sourceWidth) * BytesPerPixel(layout) + kRowRoom : 0);
  const RowWork work = {HorizontalRowValues(resampler),
                        [&](const uint8_t* row, int16_t* made) { HorizontalRow(resampler, row, padded.data(), made); },
                        [&](const int16_t* made) { AddHorizontalRow(&resampler, made); }};
  return feed([&](const uint8_t* row) { AddSourceRow(&resampler, row); }, shared ? &work : nullptr);
}

}  // namespace

namespace {
// What the rows of a source read by the plug-in's reader come in: decoded at the smallest scale
// that leaves the resampler its gap, rounded up; the picture covers the file's own size at that
// scale, or every row where the decoder squeezed the whole picture into them.
ResamplePlan PlanFor(const SourceFile& source, int32_t width, int32_t height, int* denominator) {
  *denominator = JpegScale(source.picture.width, source.picture.height, width, height, source.picture.scales);
  const int d = *denominator;
  const int32_t rowWidth = (source.picture.width + d - 1) / d, rows = (source.picture.height + d - 1) / d;
  return PlanResample(rowWidth, rows, source.picture.scalesWhole ? rowWidth : static_cast<double>(source.picture.width) / d,
                      source.picture.scalesWhole ? rows : static_cast<double>(source.picture.height) / d, width, height);
}
}  // namespace

namespace {
// Rows of `layout` from `feed` as the plan says, copied or resampled, straight into the plug-in's
// writer of `mimeType`.
Streamed StreamedRows(PixelLayout layout, const ResamplePlan& plan, const std::string& mimeType,
                      Channels channels, const Carried& carried, HANDLE target, const Feed& feed) {
  if (!plan.fits) return Streamed::kNotRead;
  const bool copy = KeepsSize(plan);
  const PixelLayout resampled = HasAlpha(layout) ? PixelLayout::kPbgra32 : PixelLayout::kBgr24;
  TargetWriter writer;
  if (!StartTargetWriter(target, mimeType, plan.width, plan.height, copy ? layout : resampled, channels,
                         carried, &writer)) {
    return Streamed::kNotWritten;
  }
  bool read;
  if (copy) {
    read = feed([&](const uint8_t* row) { WriteTargetRow(&writer, row); }, nullptr);
  } else {
    const OutputRows output = {nullptr, 0, [](void* context, const uint8_t* row) {
                                 WriteTargetRow(static_cast<TargetWriter*>(context), row);
                               }, &writer};
    read = ResampledRows(layout, plan, output, feed);
  }
  if (!read) return Streamed::kNotRead;
  return FinishTargetWriter(&writer) ? Streamed::kWritten : Streamed::kNotWritten;
}
}  // namespace

Streamed StreamedSource(SourceFile* source, int32_t width, int32_t height,
                        const std::string& mimeType, HANDLE target,
                        ReadOutcome* outcome) {
  int denominator = 1;
  const ResamplePlan plan = PlanFor(*source, width, height, &denominator);
  *outcome = ReadOutcome::kRead;
  return StreamedRows(RowLayout(*source), plan, mimeType, source->picture.channels, source->picture.carried, target,
                      [&](const std::function<void(const uint8_t*)>& take, const RowWork* work) {
                        *outcome = ReadAhead(source, denominator, plan.sourceWidth, plan.sourceHeight,
                        int64_t{width} * height, take, work);
                        return *outcome == ReadOutcome::kRead;
                      });
}

Streamed StreamedBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth, int32_t sourceHeight,
                        int32_t width, int32_t height, const std::string& mimeType, Channels channels,
                        const Carried& carried, HANDLE target) {
  const ReadFormat read = ReadFormatOf(sourceFormat);
  if (!RowsReadable(sourceWidth)) return Streamed::kNotRead;
  return StreamedRows(read.layout, PlanResample(sourceWidth, sourceHeight, sourceWidth, sourceHeight, width, height),
                      mimeType, channels, carried, target,
                      [&](const std::function<void(const uint8_t*)>& take, const RowWork*) {
                        return ReadSourceRows(source, read, sourceWidth, sourceHeight, take);
                      });
}
