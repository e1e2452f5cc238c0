// The resize action: "[source]|[target]|[width]|[height]" in, the outcome in "ae_ResizeImage".
#include "actions/resize_parameter.h"
#include "imaging/resize_worker.h"
#include "plugin/boundary.h"
#include "plugin/host_exchange.h"
#include "plugin/host_interface.h"
#include "text/text.h"

extern "C" const char* QUINTARA_CALL AE_RESIZE(const char* parameter) {
  return CallAtBoundary(static_cast<const char*>(nullptr), [&]() -> const char* {
    int32_t result = -1;
    try {
      const ResizeRequest request = ParseResizeParameter(TextFromCString(parameter));
      result = ResizeImageFile(request.source, request.target, request.width, request.height);
    } catch (...) {
      // Out of memory on the way is a failed conversion like any other.
    }
    SetHostVariable("ae_ResizeImage",
                    result == 0 ? "The file was converted succesfully" : "Conversion Failed");
    return nullptr;
  });
}
