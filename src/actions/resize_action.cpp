#include "actions/actions.h"
#include "actions/resize_parameter.h"
#include "imaging/resize_image_file.h"
#include "text/fixed_texts.h"

HostAssignments ResizeAction(const std::string& parameter) {
  ResizeStep result = ResizeStep::kNotDrawn;
  try {
    const ResizeRequest request = ParseResizeParameter(parameter);
    result = ResizeImageFile(request.source, request.target, request.width, request.height);
  } catch (...) {
    // Out of memory on the way is a failed conversion like any other; everything the resize
    // held has been released by its owners. Which step failed matters to no script: every
    // failure is the one text.
  }
  return {{kResizeOutcomeVariable, result == ResizeStep::kConverted ? kConvertedText : kConversionFailedText}};
}
