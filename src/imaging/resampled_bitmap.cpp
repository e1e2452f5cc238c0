#include "imaging/resampled_bitmap.h"

#include <cstring>
#include <functional>

#include "imaging/jpeg_file.h"
#include "imaging/pixels/resample.h"
#include "imaging/source_rows.h"
#include "imaging/written_bitmap.h"
#include "platform/windows_api.h"

namespace {
// Rows of `layout`, rowsWidth by rowsHeight pixels covering coveredWidth by coveredHeight of the
// picture, resampled to width by height as `feed` hands them to the resampler: into 24-bit RGB,
// or premultiplied ARGB where the layout has alpha.
ResampledPicture Resampled(PixelLayout layout, int32_t rowsWidth, int32_t rowsHeight,
                           double coveredWidth, double coveredHeight, int32_t width,
                           int32_t height, const std::function<bool(Resampler*)>& feed) {
  if (!CanResample(rowsWidth, rowsHeight, width, height)) return {};
  const bool alpha = HasAlpha(layout);
  const int32_t format = alpha ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  ImageOwner resampled = WrittenBitmap(
      width, height, format, width * (alpha ? 4 : 3), nullptr, [&](uint8_t* top, int32_t stride) {
        Resampler resampler = StartResampler(layout, rowsWidth, rowsHeight, coveredWidth,
                                             coveredHeight, width, height, top, stride,
                                             ProcessorHasSse2());
        return feed(&resampler);
      });
  return {std::move(resampled), format};
}
}  // namespace

ResampledPicture ResampledBitmap(GpImage* source, int32_t sourceFormat, int32_t sourceWidth,
                                 int32_t sourceHeight, int32_t width, int32_t height) {
  const ReadFormat read = ReadFormatOf(sourceFormat);
  if (!RowsReadable(sourceWidth) || !CanResample(sourceWidth, sourceHeight, width, height)) {
    return {};
  }
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
  return Resampled(read.layout, sourceWidth, sourceHeight, sourceWidth, sourceHeight, width,
                   height, [&](Resampler* resampler) {
                     return ReadSourceRows(source, read, sourceWidth, sourceHeight,
                                           [&](const uint8_t* row) { AddSourceRow(resampler, row); });
                   });
}

ResampledPicture ResampledJpeg(const std::wstring& source, int32_t width, int32_t height) {
  // The headers first: whether the reader takes the file at all, and its size.
  struct Decoding {
    int32_t width, height;  // the picture's
    int finest, denominator;
    int32_t rowsWidth, rowsHeight;  // the decoded rows'
    Resampler* resampler;
  } decoding = {0, 0, 0, 0, 0, 0, nullptr};
  const JpegSink headers = {
      [](void* context, int32_t w, int32_t h, int finest) {
        auto* d = static_cast<Decoding*>(context);
        d->width = w;
        d->height = h;
        d->finest = finest;
        return 0;
      },
      nullptr, nullptr, &decoding};
  if (DecodeJpegFile(source, headers) != JpegOutcome::kStopped) return {};
  const int denominator =
      JpegScale(decoding.width, decoding.height, width, height, kReducingGap, decoding.finest);
  decoding.denominator = denominator;
  decoding.rowsWidth = (decoding.width + denominator - 1) / denominator;
  decoding.rowsHeight = (decoding.height + denominator - 1) / denominator;
  const JpegSink rows = {
      [](void* context, int32_t w, int32_t h, int) {
        const auto* d = static_cast<const Decoding*>(context);
        return w == d->width && h == d->height ? d->denominator : 0;  // the file is as it was
      },
      [](void* context, int32_t w, int32_t h) {
        const auto* d = static_cast<const Decoding*>(context);
        return w == d->rowsWidth && h == d->rowsHeight;
      },
      [](void* context, const uint8_t* row) {
        AddSourceRow(static_cast<Decoding*>(context)->resampler, row);
      },
      &decoding};
  return Resampled(PixelLayout::kBgr24, decoding.rowsWidth, decoding.rowsHeight,
                   static_cast<double>(decoding.width) / denominator,
                   static_cast<double>(decoding.height) / denominator, width, height,
                   [&](Resampler* resampler) {
                     decoding.resampler = resampler;
                     return DecodeJpegFile(source, rows) == JpegOutcome::kRead;
                   });
}
