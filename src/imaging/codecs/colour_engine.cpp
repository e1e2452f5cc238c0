#include "imaging/codecs/colour_engine.h"

#include <cstring>

// C++17 has no `register`.
#define CMS_NO_REGISTER_KEYWORD 1
#include <lcms2.h>

#include "imaging/codecs/carried.h"

namespace {
// The engine reports through a handler: the outcome is what its calls answer.
void Silent(cmsContext, cmsUInt32Number, const char*) {}

struct ProfileEnd {
  void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileEnd>;
}  // namespace

void ColourTransformEnd::operator()(void* transform) const { cmsDeleteTransform(transform); }

bool CmykProfile(const std::vector<uint8_t>& profile) {
  return ProfileWhole(profile.data(), profile.size()) && std::memcmp(profile.data() + 16, "CMYK", 4) == 0;
}

ColourTransform SrgbTransform(ColourInput input, const std::vector<uint8_t>& profile) {
  cmsSetLogErrorHandler(Silent);
  const bool lab = input == ColourInput::kLab;
  if (!lab && !CmykProfile(profile)) return nullptr;
  const Profile from(lab ? cmsCreateLab4Profile(nullptr)
                         : cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size())));
  const Profile to(cmsCreate_sRGBProfile());
  if (from == nullptr || to == nullptr) return nullptr;
  const cmsUInt32Number format = lab ? TYPE_Lab_8 : input == ColourInput::kInvertedCmyk ? TYPE_CMYK_8_REV : TYPE_CMYK_8;
  return ColourTransform(cmsCreateTransform(from.get(), format, to.get(), TYPE_BGR_8, INTENT_PERCEPTUAL, 0));
}

void TransformRow(void* transform, const uint8_t* in, uint8_t* bgr, int32_t width) {
  cmsDoTransform(transform, in, bgr, static_cast<cmsUInt32Number>(width));
}
