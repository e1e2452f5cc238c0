#include "actions/actions.h"
#include "imaging/image_metrics.h"
#include "platform/windows_text.h"
#include "text/fixed_texts.h"
#include "text/number.h"
#include "text/text.h"

HostAssignments ImageMetricsAction(const std::string& parameter) {
  if (TrimSpaces(parameter).empty()) return {};
  const ImageMeasure measure = MeasureImageFile(parameter);
  if (!measure.sessionStarted) {
    ShowMessage(kGdiplusStartupFailedText, "");
    return {};
  }
  // Both texts are made before either reaches the host: the host gets both or neither.
  return {{kImageWidthVariable, FormatNumber(measure.width)},
          {kImageHeightVariable, FormatNumber(measure.height)}};
}
