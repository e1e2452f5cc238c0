// The image metrics action: an image file's name in, its width and height in "AE_Image_Width"
// and "AE_Image_Height".
#include "imaging/gdiplus_api.h"
#include "imaging/image_files.h"
#include "plugin/boundary.h"
#include "plugin/host_exchange.h"
#include "plugin/host_interface.h"
#include "text/text.h"
#include "text/text_windows.h"

extern "C" const char* QUINTARA_CALL AE_IMAGE_GET_METRICS(const char* parameter) {
  return CallAtBoundary(static_cast<const char*>(nullptr), [&]() -> const char* {
    // The whole text is the name: not split, not trimmed; a blank name does nothing at all.
    const std::string name = TextFromCString(parameter);
    if (TrimSpaces(name).empty()) return nullptr;

    ULONG_PTR token = 0;
    if (StartGdiplusSession(&token) != kGpOk) {
      ShowMessage("Error initializando GDI+", "");
      return nullptr;
    }
    GpImage* image = nullptr;
    LoadImageFile(name, &image);
    // An image that did not load has no dimensions: both stay 0 and are reported as " 0".
    float width = 0, height = 0;
    gdiplus.GdipGetImageDimension(image, &width, &height);
    SetHostVariable("AE_Image_Width", FormatNumber(width));
    SetHostVariable("AE_Image_Height", FormatNumber(height));
    if (image != nullptr) gdiplus.GdipDisposeImage(image);
    EndGdiplusSession(token);
    return nullptr;
  });
}
