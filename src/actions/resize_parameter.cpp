#include "actions/resize_parameter.h"

#include "text/number.h"
#include "text/text.h"

ResizeRequest ParseResizeParameter(const std::string& text) {
  ResizeRequest request;
  request.width = RoundToInt32(ParseNumber(ExtractField(text, "|", 3)));
  request.height = RoundToInt32(ParseNumber(ExtractField(text, "|", 4)));
  request.source = ExtractField(text, "|", 1);
  request.target = ExtractField(text, "|", 2);
  return request;
}
