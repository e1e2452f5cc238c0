#include "imaging/jpeg_file.h"

namespace {
int32_t ReadFromFile(void* context, uint8_t* buffer, int32_t size) {
  try {
    DWORD got = 0;
    if (!windows.ReadFile(*static_cast<HANDLE*>(context), buffer, static_cast<DWORD>(size), &got,
                          nullptr)) {
      return -1;
    }
    return static_cast<int32_t>(got);
  } catch (...) {  // the reader's C code cannot pass an exception on
    return -1;
  }
}

// Others may read and write it meanwhile, as they may while GDI+ reads it.
bool OpenForReading(const std::wstring& name, FileOwner* file) {
  return OpenDiskFile(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, file) == Opened::kDiskFile;
}
}  // namespace

JpegOutcome OpenJpegFile(const std::wstring& name, JpegFile* jpeg) {
  // What the reader cannot open, it has not seen: GDI+ may open it.
  if (!OpenForReading(name, &jpeg->file)) return JpegOutcome::kNotJpeg;
  const JpegOutcome outcome =
      OpenJpeg(JpegBytes{ReadFromFile, &jpeg->file.handle}, &jpeg->decoder, &jpeg->header);
  if (outcome != JpegOutcome::kRead) jpeg->file.Close();
  return outcome;
}

bool JpegFileHostile(const std::wstring& name) {
  {
    JpegFile jpeg;
    const JpegOutcome opened = OpenJpegFile(name, &jpeg);
    if (opened == JpegOutcome::kHostile) return true;
    if (opened == JpegOutcome::kNotJpeg) return false;
  }
  FileOwner file;
  return OpenForReading(name, &file) &&
         CountJpegScans(JpegBytes{ReadFromFile, &file.handle}) == JpegOutcome::kHostile;
}

bool JpegFileSize(const std::wstring& name, int32_t* width, int32_t* height) {
  JpegFile jpeg;
  if (OpenJpegFile(name, &jpeg) != JpegOutcome::kRead) return false;
  const JpegRows discard = {[](void*, int32_t, int32_t) { return true; },
                            [](void*, const uint8_t*) {}, nullptr};
  if (ReadJpeg(jpeg.decoder.get(), 8, discard) != JpegOutcome::kRead) return false;
  *width = jpeg.header.width;
  *height = jpeg.header.height;
  return true;
}
