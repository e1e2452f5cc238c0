#include "imaging/resampled_bitmap.h"

#include <cstring>
#include <functional>

#include "imaging/jpeg_file.h"
#include "imaging/pixels/resample.h"
#include "imaging/source_rows.h"
#include "imaging/written_bitmap.h"
#include "platform/windows_api.h"

namespace {
// Rows of `layout` resampled as the plan says, as `feed` hands them to the resampler: into
// 24-bit RGB, or premultiplied ARGB where the layout has alpha.
ResampledPicture Resampled(PixelLayout layout, const ResamplePlan& plan,
                           const std::function<bool(Resampler*)>& feed) {
  if (!plan.fits) return {};
  const bool alpha = HasAlpha(layout);
  const int32_t format = alpha ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  ImageOwner resampled = WrittenBitmap(
      plan.width, plan.height, format, plan.width * (alpha ? 4 : 3), nullptr,
      [&](uint8_t* top, int32_t stride) {
        Resampler resampler = StartResampler(layout, plan, top, stride, ProcessorHasSse2());
        return feed(&resampler);
      });
  return {std::move(resampled), format};
}
}  // namespace

ResampledPicture ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                                 int32_t sourceHeight, int32_t width, int32_t height) {
  const ReadFormat read = ReadFormatOf(sourceFormat);
  const ResamplePlan plan =
      PlanResample(sourceWidth, sourceHeight, sourceWidth, sourceHeight, width, height);
  if (!RowsReadable(sourceWidth) || !plan.fits) return {};
  if (width == sourceWidth && height == sourceHeight) {
    const int32_t rowBytes = width * BytesPerPixel(read.layout);
    ImageOwner copy = WrittenBitmap(
        width, height, read.lockFormat, rowBytes, nullptr, [&](uint8_t* top, int32_t stride) {
          return ReadSourceRows(source, read, width, height, [&](const uint8_t* row) {
            std::memcpy(top, row, static_cast<size_t>(rowBytes));
            top += stride;
          });
        });
    return {std::move(copy), read.lockFormat};
  }
  return Resampled(read.layout, plan, [&](Resampler* resampler) {
    return ReadSourceRows(source, read, sourceWidth, sourceHeight,
                          [&](const uint8_t* row) { AddSourceRow(resampler, row); });
  });
}

ResampledPicture ResampledJpeg(const std::wstring& source, int32_t width, int32_t height,
                               JpegOutcome* outcome) {
  JpegFile jpeg;
  *outcome = OpenJpegFile(source, &jpeg);
  if (*outcome != JpegOutcome::kRead) return {};
  const JpegHeader& header = jpeg.header;
  const int denominator = JpegScale(header.width, header.height, width, height, header.scales);
  // The rows decoded at 1/denominator are rounded up; the picture covers the file's own size.
  const ResamplePlan plan = PlanResample(
      (header.width + denominator - 1) / denominator, (header.height + denominator - 1) / denominator,
      static_cast<double>(header.width) / denominator,
      static_cast<double>(header.height) / denominator, width, height);
  struct Feed {
    const ResamplePlan& plan;
    Resampler* resampler;
  } feed = {plan, nullptr};
  const JpegRows rows = {
      [](void* context, int32_t w, int32_t h) {
        const ResamplePlan& p = static_cast<Feed*>(context)->plan;
        return w == p.sourceWidth && h == p.sourceHeight;
      },
      [](void* context, const uint8_t* row) { AddSourceRow(static_cast<Feed*>(context)->resampler, row); },
      &feed};
  return Resampled(PixelLayout::kBgr24, plan, [&](Resampler* resampler) {
    feed.resampler = resampler;
    *outcome = ReadJpeg(jpeg.decoder.get(), denominator, rows);
    return *outcome == JpegOutcome::kRead;
  });
}
