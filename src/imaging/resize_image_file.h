#pragma once

#include <cstdint>
#include <string>

// The step that ended a resize. kConverted: the target holds the complete new image. Every other
// step is a failure, after which an existing target is byte for byte as it was and no temporary
// file is left behind.
enum class ResizeStep {
  kConverted,
  kNamesRejected,     // a blank source or target, or an extension no format is written for
  kSizeRejected,      // a width or height of 0 or below, or a picture too large for the process
  kSourceRefused,     // a source no decoder is given: a device, pipe or FIFO, or a JPEG of
                      // more scans or coefficients than any decoder should be given
  kSourceNotLoaded,   // GDI+ could not read the source as an image
  kSourceWithoutSize, // the source's dimensions are not positive
  kNoCanvas,          // no bitmap of the target's size, or no drawing context on it
  kNotDrawn,          // GDI+ could not draw the picture into its bitmap
  kNoPalette,         // the picture could not be put in a palette for a GIF
  kNoEncoder,         // GDI+ has no encoder for the target's format
  kTargetRefused,     // the target names a device, a folder, a read-only file or the source
  kNoTemporaryFile,   // no new file of the plug-in's own could be made beside the target
  kNotSaved,          // the encoder failed
  kNotReadBack,       // the written file does not load as an image of the size asked for
  kNotReplaced,       // the written file could not be renamed over the target
};

// Reads the source image, draws all of it stretched to exactly width by height, and writes the
// result to the target in the format the target's extension names, checked by reading it back
// before it replaces anything. Names are used as given, blanks included.
ResizeStep ResizeImageFile(const std::string& source, const std::string& target, int32_t width,
                           int32_t height);
