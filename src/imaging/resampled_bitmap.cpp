#include "imaging/resampled_bitmap.h"

#include <cstring>
#include <functional>

#include "imaging/pixels/resample.h"
#include "imaging/source_file.h"
#include "imaging/source_rows.h"
#include "imaging/written_bitmap.h"
#include "platform/windows_api.h"

namespace {
// Hands each row, top first, to `take`; false where the rows could not all be had.
typedef std::function<bool(const std::function<void(const uint8_t*)>& take)> Feed;

// Rows of `layout` as the plan says: copied into a bitmap of `copyFormat` where the plan keeps
// the size, else resampled into 24-bit RGB, or premultiplied ARGB where the layout has alpha.
ResampledPicture Resampled(PixelLayout layout, int32_t copyFormat, const ResamplePlan& plan,
                           const Feed& feed) {
  if (!plan.fits) return {};
  if (plan.width == plan.sourceWidth && plan.height == plan.sourceHeight &&
      plan.coveredWidth == plan.width && plan.coveredHeight == plan.height) {
    const int32_t rowBytes = plan.width * BytesPerPixel(layout);
    ImageOwner copy = WrittenBitmap(
        plan.width, plan.height, copyFormat, rowBytes, nullptr, [&](uint8_t* top, int32_t stride) {
          return feed([&](const uint8_t* row) {
            std::memcpy(top, row, static_cast<size_t>(rowBytes));
            top += stride;
          });
        });
    return {std::move(copy), copyFormat};
  }
  const bool alpha = HasAlpha(layout);
  const int32_t format = alpha ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  ImageOwner resampled = WrittenBitmap(
      plan.width, plan.height, format, plan.width * (alpha ? 4 : 3), nullptr,
      [&](uint8_t* top, int32_t stride) {
        Resampler resampler = StartResampler(layout, plan, top, stride, ProcessorHasSse2());
        return feed([&](const uint8_t* row) { AddSourceRow(&resampler, row); });
      });
  return {std::move(resampled), format};
}
}  // namespace

ResampledPicture ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                                 int32_t sourceHeight, int32_t width, int32_t height) {
  const ReadFormat read = ReadFormatOf(sourceFormat);
  if (!RowsReadable(sourceWidth)) return {};
  return Resampled(read.layout, read.lockFormat,
                   PlanResample(sourceWidth, sourceHeight, sourceWidth, sourceHeight, width, height),
                   [&](const std::function<void(const uint8_t*)>& take) {
                     return ReadSourceRows(source, read, sourceWidth, sourceHeight, take);
                   });
}

ResampledPicture ResampledSource(SourceFile* source, int32_t width, int32_t height,
                                 ReadOutcome* outcome) {
  const int denominator = JpegScale(source->width, source->height, width, height, source->scales);
  // The rows decoded at 1/denominator are rounded up; the picture covers the file's own size.
  const ResamplePlan plan = PlanResample(
      (source->width + denominator - 1) / denominator, (source->height + denominator - 1) / denominator,
      static_cast<double>(source->width) / denominator,
      static_cast<double>(source->height) / denominator, width, height);
  const int32_t copyFormat =
      HasAlpha(source->layout) ? kPixelFormat32bppARGB : kPixelFormat24bppRGB;
  *outcome = ReadOutcome::kRead;
  return Resampled(source->layout, copyFormat, plan, [&](const std::function<void(const uint8_t*)>& take) {
    struct Feed {
      const ResamplePlan& plan;
      const std::function<void(const uint8_t*)>& take;
    } feed = {plan, take};
    const DecodedRows rows = {
        [](void* context, int32_t w, int32_t h) {
          const ResamplePlan& p = static_cast<Feed*>(context)->plan;
          return w == p.sourceWidth && h == p.sourceHeight;
        },
        [](void* context, const uint8_t* row) { static_cast<Feed*>(context)->take(row); }, &feed};
    *outcome = ReadSourceFile(source, denominator, rows);
    return *outcome == ReadOutcome::kRead;
  });
}
