// The image metrics action's image work: the size of an image file, in its own GDI+ session.
#pragma once

#include <string>

struct ImageMeasure {
  bool sessionStarted;   // false when GDI+ would not start: nothing was measured
  float width, height;   // as GDI+ reports them; 0 by 0 for a file that does not load
};

// Opens a GDI+ session, loads the named file (the name as given, blanks included), asks its
// dimensions and releases everything before it returns, on every path.
ImageMeasure MeasureImageFile(const std::string& name);
