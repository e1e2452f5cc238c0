// The resize action: "[source]|[target]|[width]|[height]" in, the outcome in "ae_ResizeImage".
#include "imaging/resize_worker.h"
#include "plugin/boundary.h"
#include "plugin/host_exchange.h"
#include "plugin/host_interface.h"
#include "text/text.h"

extern "C" const char* QUINTARA_CALL AE_RESIZE(const char* parameter) {
  return CallAtBoundary(static_cast<const char*>(nullptr), [&]() -> const char* {
    int32_t result = -1;
    try {
      const std::string text = TextFromCString(parameter);
      // Sizes are read with the text rules ("  200", "200px", "&HC8", "100.5" -> 100); the names
      // are used exactly as written, blanks and all.
      const int32_t width = RoundToInt32(ParseNumber(ExtractField(text, "|", 3)));
      const int32_t height = RoundToInt32(ParseNumber(ExtractField(text, "|", 4)));
      result = ResizeImageFile(ExtractField(text, "|", 1), ExtractField(text, "|", 2), width,
                               height);
    } catch (...) {
      // Out of memory on the way is a failed conversion like any other.
    }
    SetHostVariable("ae_ResizeImage",
                    result == 0 ? "The file was converted succesfully" : "Conversion Failed");
    return nullptr;
  });
}
