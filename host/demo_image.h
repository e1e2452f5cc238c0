#pragma once

#include <string>

// Writes a 320 by 240, 24-bit BMP with colour bands and a diagonal, made byte by byte so that
// the demo's input does not depend on the plug-in it demonstrates. False when it cannot write.
bool WriteDemoBitmap(const std::string& path);
