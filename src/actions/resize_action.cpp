#include "plugin/boundary.h"
#include "plugin/host_interface.h"

// The resize action. Its work arrives with the image engine; until then it accepts its parameter
// and does nothing.
extern "C" const char* QUINTARA_CALL AE_RESIZE(const char* parameter) {
  return CallAtBoundary(static_cast<const char*>(nullptr), [&]() -> const char* {
    (void)parameter;
    return nullptr;
  });
}
