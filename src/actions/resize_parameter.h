// The resize action's parameter text, "[source]|[target]|[width]|[height]", taken apart.
// Platform-free.
#pragma once

#include <cstdint>
#include <string>

struct ResizeRequest {
  std::string source, target;  // fields 1 and 2, exactly as written, blanks included
  int32_t width, height;       // fields 3 and 4 read as numbers, rounded half to even
};

// "a.jpg|b.png|  200|100.5" -> {"a.jpg", "b.png", 200, 100}. Missing fields are empty, and an
// empty or unreadable size is 0; fields after the fourth are ignored.
ResizeRequest ParseResizeParameter(const std::string& text);

