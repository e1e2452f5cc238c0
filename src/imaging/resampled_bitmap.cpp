#include "imaging/resampled_bitmap.h"

#include <cstring>

#include "imaging/jpeg_file.h"
#include "imaging/pixels/resample.h"
#include "imaging/source_rows.h"
#include "imaging/written_bitmap.h"
#include "platform/windows_api.h"

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
  const bool alpha = HasAlpha(read.layout);
  const int32_t format = alpha ? kPixelFormat32bppPARGB : kPixelFormat24bppRGB;
  ImageOwner resampled = WrittenBitmap(
      width, height, format, width * (alpha ? 4 : 3), nullptr, [&](uint8_t* top, int32_t stride) {
        Resampler resampler =
            StartResampler(read.layout, sourceWidth, sourceHeight, sourceWidth, sourceHeight,
                           width, height, top, stride, ProcessorHasSse2());
        return ReadSourceRows(source, read, sourceWidth, sourceHeight,
                              [&](const uint8_t* row) { AddSourceRow(&resampler, row); });
      });
  return {std::move(resampled), format};
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
  if (!CanResample(decoding.rowsWidth, decoding.rowsHeight, width, height)) return {};
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
  ImageOwner resampled = WrittenBitmap(
      width, height, kPixelFormat24bppRGB, width * 3, nullptr, [&](uint8_t* top, int32_t stride) {
        Resampler resampler = StartResampler(
            PixelLayout::kBgr24, decoding.rowsWidth, decoding.rowsHeight,
            static_cast<double>(decoding.width) / denominator,
            static_cast<double>(decoding.height) / denominator, width, height, top, stride,
            ProcessorHasSse2());
        decoding.resampler = &resampler;
        return DecodeJpegFile(source, rows) == JpegOutcome::kRead;
      });
  return {std::move(resampled), kPixelFormat24bppRGB};
}
