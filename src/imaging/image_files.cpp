#include "imaging/image_files.h"

#include "platform/windows_api.h"

GpStatus StartGdiplusSession(SessionOwner* session) {
  session->End();
  const GdiplusStartupInput input = {1, nullptr, FALSE, FALSE};
  const GpStatus status = gdiplus.GdiplusStartup(&session->token, &input, nullptr);
  session->started = status == kGpOk;
  return status;
}

GpStatus LoadImageFile(const std::wstring& name, GpImage** image) {
  return gdiplus.GdipLoadImageFromFile(name.c_str(), image);
}

bool SourceIsNoFile(const std::wstring& name) {
  HandleOwner file;
  return OpenDiskFile(name, 0, FILE_FLAG_BACKUP_SEMANTICS, &file) == Opened::kNotAFile;
}
