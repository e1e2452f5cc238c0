#include "imaging/image_types.h"

#include "text/text.h"

std::string WritableMimeType(const std::string& name) {
  static const struct {
    const char* key;
    const char* mimeType;
  } kImageTypes[] = {
      {"BMP", "image/bmp"},  {"EMF", "image/x-emf"},  {"GIF", "image/gif"},
      {"ICO", "image/x-icon"}, {"JPG", "image/jpeg"}, {"JPEG", "image/jpeg"},
      {"PNG", "image/png"},  {"TIF", "image/tiff"},   {"TIFF", "image/tiff"},
      {"WMF", "image/x-wmf"},
  };
  // No "." gives position 0, and the whole name is the extension.
  const std::string extension = UpperCase(MidText(name, FindText(-1, name, ".") + 1));
  for (const auto& type : kImageTypes) {
    if (extension == type.key) return type.mimeType;
  }
  return std::string();
}

bool ResizeRejectedByNames(const std::string& source, const std::string& target) {
  return TrimSpaces(source).empty() || TrimSpaces(target).empty() ||
         WritableMimeType(target).empty();
}
