#include "plugin/boundary.h"
#include "plugin/host_interface.h"

// The image metrics action. Its work arrives with the image engine; until then it accepts its
// parameter and does nothing.
extern "C" const char* QUINTARA_CALL AE_IMAGE_GET_METRICS(const char* parameter) {
  return CallAtBoundary(static_cast<const char*>(nullptr), [&]() -> const char* {
    (void)parameter;
    return nullptr;
  });
}
