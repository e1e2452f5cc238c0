#include "imaging/resampled_bitmap.h"

#include <cstring>

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
        Resampler resampler = StartResampler(read.layout, sourceWidth, sourceHeight, width,
                                             height, top, stride, ProcessorHasSse2());
        return ReadSourceRows(source, read, sourceWidth, sourceHeight,
                              [&](const uint8_t* row) { AddSourceRow(&resampler, row); });
      });
  return {std::move(resampled), format};
}
