#pragma once

#include <cstdint>
#include <string>

// Reads the source image, draws all of it stretched to exactly width by height, and writes the
// result to the target in the format the target's extension names. Answers 0 when the target now
// holds the complete new image, -1 otherwise; after -1 an existing target is byte for byte as it
// was, and no temporary file is left behind. Names are used as given, blanks included.
int32_t ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                        int32_t height);
