#include "imaging/image_files.h"

#include <vector>

#include "platform/windows_api.h"
#include "platform/windows_text.h"
#include "text/text.h"

GpStatus StartGdiplusSession(SessionOwner* session) {
  session->End();
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  const GpStatus status = gdiplus.GdiplusStartup(&session->token, &input, nullptr);
  session->started = status == kGpOk;
  return status;
}

GpStatus LoadImageFile(const std::string& name, GpImage** image) {
  return LoadImageFile(ToWideText(name), image);
}

GpStatus LoadImageFile(const std::wstring& name, GpImage** image) {
  return gdiplus.GdipLoadImageFromFile(name.c_str(), image);
}

bool SourceIsNoFile(const std::wstring& name) {
  HandleOwner file;
  return OpenDiskFile(name, 0, FILE_FLAG_BACKUP_SEMANTICS, &file) == Opened::kNotAFile;
}

GpStatus SaveImageFile(GpImage* image, const std::wstring& name, const CLSID* encoder,
                       const void* parameters) {
  return gdiplus.GdipSaveImageToFile(image, name.c_str(), encoder, parameters);
}

std::string NarrowFromWide(const WCHAR* text) {
  std::string narrow;
  if (text == nullptr) return narrow;
  for (; (*text & 0xFF) != 0; ++text) narrow += static_cast<char>(*text & 0xFF);
  return narrow;
}

bool FindEncoder(const std::string& mimeType, CLSID* encoder) {
  const std::string wanted = UpperCase(mimeType);
  // Both start at 0, so that a failed size report leaves an empty list rather than garbage.
  UINT count = 0, size = 0;
  gdiplus.GdipGetImageEncodersSize(&count, &size);
  // The records and the texts they point to share this one buffer of exactly the reported size
  // (operator new aligns it for the records).
  std::vector<BYTE> buffer(size);
  auto* encoders = reinterpret_cast<ImageCodecInfo*>(buffer.data());
  if (gdiplus.GdipGetImageEncoders(count, size, encoders) != kGpOk) return false;
  // A count that does not fit the size would walk past the buffer.
  if (static_cast<size_t>(count) * sizeof(ImageCodecInfo) > size) return false;
  for (UINT i = 0; i < count; ++i) {
    const std::string listed = UpperCase(NarrowFromWide(encoders[i].MimeType));
    if (FindText(1, listed, wanted) >= 1) {
      *encoder = encoders[i].Clsid;
      return true;
    }
  }
  return false;
}
