// What a photo carries reaches its thumbnail (orientation, colour profile, a PNG's colour chunks),
// nothing else does, and the thumbnail has the fewest channels its source needs: each file
// written read back with libjpeg's and libpng's own calls.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <zlib.h>
#include "imaging/codecs/carried.h"
#include "webp_encode.h"
#include <webp/decode.h>
#include <webp/demux.h>

#include "corpus.h"
#include "image_codec.h"
#include "imaging/image_metrics.h"
#include "imaging/resize_image_file.h"
#include "jpeg_encode.h"
#include "hostile_files.h"
#include "scratch_folder.h"
#include "source_loads.h"

namespace {
typedef std::vector<uint8_t> Bytes;

// What a written file holds, by the libraries' own reading: its pixels as RGBA, its channels (a
// PNG's colour type, a JPEG's components) and what it carries.
struct ReadBack {
  std::vector<uint8_t> rgba;
  int channels = -1;
  Bytes exif, profile;  // an APP1 "Exif" segment's or eXIf chunk's TIFF structure; the profile
  int srgb = -1;
  png_fixed_point gamma = 0;
};

Bytes OrientationOnly(uint8_t o) { return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1, 0, o, 0, 0, 0, 0, 0, 0}; }

ReadBack ReadWritten(const std::string& path) {
  const Bytes file = ReadBytes(path);
  ReadBack w;
  if (file.size() > 12 && std::memcmp(file.data() + 8, "WEBP", 4) == 0) {  // libwebp's demux and decoder
    const WebPData data = {file.data(), file.size()};
    WebPDemuxer* demux = WebPDemux(&data);
    WebPChunkIterator chunk;
    if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) w.profile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    if (WebPDemuxGetChunk(demux, "EXIF", 1, &chunk)) w.exif.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    WebPDemuxDelete(demux);
    int width = 0, height = 0;
    uint8_t* rgba = WebPDecodeRGBA(file.data(), file.size(), &width, &height);
    if (rgba != nullptr) w.rgba.assign(rgba, rgba + size_t{4} * width * height);
    WebPFree(rgba);
    return w;
  }
  if (file[0] == 'I' || file[0] == 'M') {  // samples a pixel, profile, and pixels where opaque
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    uint32_t size = 0, width = 0, height = 0;
    uint16_t samples = 0;
    const uint8_t* profile = nullptr;
    if (tiff == nullptr) return w;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &profile)) w.profile.assign(profile, profile + size);
    uint16_t orientation = 1;
    if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation) && orientation != 1) w.exif = OrientationOnly(static_cast<uint8_t>(orientation));
    TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    w.channels = samples;
    if (samples % 2 == 1) {  // the stored rows, as RGBA, where there is no alpha
      Bytes line(TIFFScanlineSize(tiff));
      for (uint32_t y = 0; y < height; ++y) {
        TIFFReadScanline(tiff, line.data(), y, 0);
        for (uint32_t x = 0; x < width; ++x) {
          for (int c = 0; c < 3; ++c) w.rgba.push_back(line[x * samples + (samples == 3 ? c : 0)]);
          w.rgba.push_back(255);
        }
      }
    }
    TIFFClose(tiff);
    return w;
  }
  if (file[0] == 0xFF) {
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    w.channels = info.num_components;
    for (jpeg_saved_marker_ptr m = info.marker_list; m != nullptr; m = m->next) {
      if (m->marker == JPEG_APP0 + 1) w.exif.assign(m->data + 6, m->data + m->data_length);
    }
    JOCTET* profile = nullptr;
    unsigned size = 0;
    if (jpeg_read_icc_profile(&info, &profile, &size)) w.profile.assign(profile, profile + size);
    std::free(profile);
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    w.rgba.resize(size_t{info.output_width} * info.output_height * 4);
    while (info.output_scanline < info.output_height) {
      JSAMPROW row = &w.rgba[size_t{info.output_scanline} * info.output_width * 4];
      jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return w;
  }
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  png_image_begin_read_from_memory(&image, file.data(), file.size());
  image.format = PNG_FORMAT_RGBA;
  w.rgba.resize(PNG_IMAGE_SIZE(image));
  png_image_finish_read(&image, nullptr, w.rgba.data(), 0, nullptr);
  w.channels = file[25];  // IHDR's colour type
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  FILE* in = std::fopen(path.c_str(), "rb");
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, in);
    png_read_info(png, info);
    png_charp name;
    int compression;
    png_bytep profile, exif;
    png_uint_32 size = 0, exifSize = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &size)) w.profile.assign(profile, profile + size);
    if (png_get_eXIf_1(png, info, &exifSize, &exif)) w.exif.assign(exif, exif + exifSize);
    if (!png_get_sRGB(png, info, &w.srgb)) png_get_gAMA_fixed(png, info, &w.gamma);
  }
  std::fclose(in);
  png_destroy_read_struct(&png, &info, nullptr);
  return w;
}

// A JPEG with segments put right after its start marker.
Bytes WithSegments(Bytes jpeg, const std::vector<std::pair<int, Bytes>>& segments) {
  Bytes added;
  for (const auto& s : segments) {
    const size_t length = s.second.size() + 2;
    added.insert(added.end(), {0xFF, static_cast<uint8_t>(s.first), static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
    added.insert(added.end(), s.second.begin(), s.second.end());
  }
  jpeg.insert(jpeg.begin() + 2, added.begin(), added.end());
  return jpeg;
}

// An ICC profile of `size` bytes as libpng checks one: a header for RGB (or grey) monitors, no tags.
Bytes Profile(uint32_t size, bool grey = false) {
  Bytes p(size, 0x5A);
  std::fill(p.begin(), p.begin() + 132, 0);
  const uint8_t header[] = {0, 0, 0, 0, 0, 0, 0, 0, 2, 0x10, 0, 0, 'm', 'n', 't', 'r', 'R', 'G', 'B', ' ', 'X', 'Y', 'Z', ' '};
  std::copy(header, header + sizeof header, p.begin());
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  const uint8_t acsp[] = {'a', 'c', 's', 'p'}, d50[] = {0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D};
  std::copy(acsp, acsp + 4, p.begin() + 36);
  std::copy(d50, d50 + 12, p.begin() + 68);
  if (grey) std::copy_n("GRAY", 4, p.begin() + 16);
  return p;
}

// A PNG's iCCP chunk data of the profile.
Bytes Deflated(const Bytes& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  Bytes out = {'I', 'C', 'C', 0, 0};
  out.resize(5 + size);
  compress2(&out[5], &size, raw.data(), static_cast<uLong>(raw.size()), 6);
  out.resize(5 + size);
  return out;
}

// The profile's APP2 chunks, numbered as `numbers` says (1-based; the count is their number).
std::vector<std::pair<int, Bytes>> IccChunks(const Bytes& profile, const std::vector<int>& numbers, size_t chunk) {
  std::vector<std::pair<int, Bytes>> segments;
  for (size_t i = 0; i < numbers.size(); ++i) {
    Bytes s = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, static_cast<uint8_t>(numbers[i]), static_cast<uint8_t>(numbers.size())};
    const size_t from = std::min(profile.size(), i * chunk), to = std::min(profile.size(), from + chunk);
    s.insert(s.end(), profile.begin() + static_cast<long>(from), profile.begin() + static_cast<long>(to));
    segments.push_back({JPEG_APP0 + 2, s});
  }
  return segments;
}

// A camera's EXIF block: make, orientation, a GPS pointer; little-endian.
Bytes CameraExif(uint16_t orientation, uint16_t count = 1) {
  Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0,
             0x0F, 0x01, 2, 0, 6, 0, 0, 0, 50, 0, 0, 0,                            // Make, at 50
             0x12, 0x01, 3, 0, static_cast<uint8_t>(count), 0, 0, 0, static_cast<uint8_t>(orientation), 0, 0, 0,
             0x25, 0x88, 4, 0, 1, 0, 0, 0, 56, 0, 0, 0,                            // GPS IFD, at 56
             0, 0, 0, 0, 'C', 'a', 'm', 'e', 'r', 0, 0, 0};
  return t;
}
Bytes JpegExif(const Bytes& tiff) {
  Bytes e(6 + tiff.size(), 0);
  std::copy(tiff.begin(), tiff.end(), std::copy_n("Exif", 4, e.begin()) + 2);
  return e;
}

// A lossless WebP of the pixels, with the chunks given.
Bytes LosslessWebp(int width, int height, Rgba (*pixel)(int, int), const Bytes& profile = {}, const Bytes& exif = {}) {
  Bytes rgba;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgba p = pixel(x, y);
      rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
    }
  }
  return EncodeWebp(rgba, width, height, true, profile, exif);
}

uint8_t Level(int x, int y, int c) { return static_cast<uint8_t>((x * 5 + y * 3 + c * 60) & 255); }
Rgba Colour(int x, int y) { return {Level(x, y, 0), Level(x, y, 1), Level(x, y, 2), 255}; }

// Sources with and without what a photo carries, malformed ones among them, into JPEG, PNG and
// TIFF targets: the targets carry exactly the orientation alone and the profile unchanged, and
// their pixels are those of the source without anything. An interlaced PNG and a CMYK JPEG are
// the plug-in's readers' too: GDI+ is asked for none of them.
TEST(Carried, OrientationAndProfileReachTheThumbnailAndNothingElse) {
  ScratchFolder folder;
  SourceLoadsCounted counted(L"");  // every source here is the plug-in's own reader's
  const Bytes plainJpeg = EncodeJpeg({96, 64, 3, 2, 2, false, false, 0}, [](int x, int y, int c) { return Level(x, y, c); });
  const Bytes plainPng = EncodePng(PngImage{96, 64, 2, 8, Colour, {}, {}});
  const Bytes profile = Profile(100000), huge = Profile(1100000), camera = CameraExif(8);
  // The profile with bytes at `at` replaced.
  auto patched = [&profile](size_t at, const Bytes& with) {
    Bytes p = profile;
    std::copy(with.begin(), with.end(), p.begin() + static_cast<long>(at));
    return p;
  };
  auto joined = [](std::vector<std::pair<int, Bytes>> a, const std::vector<std::pair<int, Bytes>>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* what;
    Bytes source;
    int orientation;  // expected in both targets
    bool profile;     // `profile` expected in both targets
    int srgb;         // expected in a PNG target
    png_fixed_point gamma;
  } cases[] = {
      {"plain JPEG", plainJpeg, 1, false, -1, 0},
      {"camera JPEG", WithSegments(plainJpeg, joined({{JPEG_APP0 + 1, JpegExif(CameraExif(6))}}, IccChunks(profile, {1, 2}, 60000))), 6, true, -1, 0},
      {"orientation 1", WithSegments(plainJpeg, {{JPEG_APP0 + 1, JpegExif(CameraExif(1))}}), 1, false, -1, 0},
      {"orientation of 2 values", WithSegments(plainJpeg, {{JPEG_APP0 + 1, JpegExif(CameraExif(8, 2))}}), 1, false, -1, 0},
      {"EXIF cut short", WithSegments(plainJpeg, {{JPEG_APP0 + 1, JpegExif(Bytes(camera.begin(), camera.begin() + 20))}}), 1, false, -1, 0},
      {"profile with a gap", WithSegments(plainJpeg, IccChunks(profile, {1, 3}, 60000)), 1, false, -1, 0},
      {"profile chunk twice", WithSegments(plainJpeg, IccChunks(profile, {1, 1}, 60000)), 1, false, -1, 0},
      {"profile cut to 127 bytes", WithSegments(plainJpeg, IccChunks(Bytes(profile.begin(), profile.begin() + 127), {1}, 60000)), 1, false, -1, 0},
      {"profile claiming 2 GB", WithSegments(plainJpeg, IccChunks(patched(0, {0x7F, 0xFF, 0xFF, 0xFF}), {1, 2}, 60000)), 1, false, -1, 0},
      {"profile without its signature", WithSegments(plainJpeg, IccChunks(patched(36, {'a', 'c', 's', 'q'}), {1, 2}, 60000)), 1, false, -1, 0},
      {"grey profile beside colour", WithSegments(plainJpeg, IccChunks(patched(16, {'G', 'R', 'A', 'Y'}), {1, 2}, 60000)), 1, false, -1, 0},
      {"profile past 1 MB", WithSegments(plainJpeg, IccChunks(huge, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, 60000)), 1, false, -1, 0},
      {"plain PNG", plainPng, 1, false, -1, 0},
      {"PNG eXIf and iCCP", WithPngChunks(plainPng, {{"iCCP", Deflated(profile)}, {"eXIf", CameraExif(8)}}), 8, true, -1, 0},
      {"interlaced PNG eXIf and iCCP",
       WithPngChunks(EncodePng([] { PngImage i = {96, 64, 2, 8, Colour, {}, {}}; i.interlaced = true; return i; }()),
                     {{"iCCP", Deflated(profile)}, {"eXIf", CameraExif(6)}}), 6, true, -1, 0},
      {"PNG sRGB", WithPngChunks(plainPng, {{"sRGB", {1}}}), 1, false, 1, 0},
      {"PNG gAMA", WithPngChunks(plainPng, {{"gAMA", {0, 0, 0xB1, 0x8F}}}), 1, false, -1, 45455},
      {"PNG iCCP damaged", WithPngChunks(plainPng, {{"iCCP", Bytes{'I', 'C', 'C', 0, 0, 1, 2, 3}}}), 1, false, -1, 0},
      {"WebP ICCP and EXIF", LosslessWebp(96, 64, Colour, profile, CameraExif(6)), 6, true, -1, 0},
  };
  // The pictures of the sources without anything: "jpg-out.png" from the plain JPEG, and so on.
  ASSERT_TRUE(WriteBytes(folder / "plain.webp", LosslessWebp(96, 64, Colour)));
  for (const char* from : {"jpg", "png", "webp"}) {
    if (from[0] != 'w') {
      ASSERT_TRUE(WriteBytes(folder / ("plain." + std::string(from)), from[0] == 'j' ? plainJpeg : plainPng));
    }
    if (ReadBytes(folder / ("plain." + std::string(from))).empty()) continue;
    for (const char* to : {"jpg", "png", "tif", "webp"}) {
      ASSERT_EQ(ResizeImageFile(folder / ("plain." + std::string(from)), folder / (from + std::string("-out.") + to), 48, 32),
                ResizeStep::kConverted);
    }
  }
  for (const auto& c : cases) {
    const std::string from = c.source[0] == 0xFF ? "jpg" : c.source[0] == 'R' ? "webp" : "png";
    const std::string source = folder / ("source." + from);
    ASSERT_TRUE(WriteBytes(source, c.source));
    for (const char* target : {"out.jpg", "out.png", "out.tif", "out.webp"}) {
      const std::string trace = std::string(c.what) + " to " + target;
      ASSERT_EQ(ResizeImageFile(source, folder / target, 48, 32), ResizeStep::kConverted) << trace;
      const ReadBack w = ReadWritten(folder / target);
      EXPECT_EQ(w.exif, c.orientation == 1 ? Bytes() : OrientationOnly(static_cast<uint8_t>(c.orientation))) << trace;
      EXPECT_EQ(w.profile, c.profile ? profile : Bytes()) << trace;
      const bool png = target == std::string("out.png") && c.source[0] != 0xFF;
      EXPECT_EQ(w.srgb, png ? c.srgb : -1) << trace;
      EXPECT_EQ(w.gamma, png ? c.gamma : 0) << trace;
      EXPECT_TRUE(w.rgba == ReadWritten(folder / (from + "-" + target)).rgba) << trace;
    }
  }
  // A CMYK JPEG's orientation reaches its thumbnail (its pixels are the colour engine's).
  ASSERT_TRUE(WriteBytes(folder / "cmyk.jpg", WithSegments(EncodeJpeg({96, 64, 4, 1, 1, false, false, 0}, Level),
                                                           {{JPEG_APP0 + 1, JpegExif(CameraExif(6))}})));
  for (const char* target : {"cmyk-out.jpg", "cmyk-out.png"}) {
    ASSERT_EQ(ResizeImageFile(folder / "cmyk.jpg", folder / target, 48, 32), ResizeStep::kConverted);
    EXPECT_EQ(ReadWritten(folder / target).exif, OrientationOnly(6)) << target;
  }
  EXPECT_EQ(SourceLoadsCounted::loads, 0);
  // A TIFF's own orientation, each of the eight, reaches the thumbnail.
  for (uint32_t o = 1; o <= 8; ++o) {
    ASSERT_TRUE(WriteBytes(folder / "turned.tif",
                           HandMadeTiff({{256, kLong, {4}}, {257, kLong, {2}}, {258, kShort, {8, 8, 8}}, {259, kShort, {1}},
                                         {262, kShort, {2}}, {273, kLong, {kData}}, {274, kShort, {o}}, {277, kShort, {3}},
                                         {278, kLong, {2}}, {279, kLong, {24}}},
                                        Bytes(24, 0x80))));
    ASSERT_EQ(ResizeImageFile(folder / "turned.tif", folder / "turned.jpg", 4, 2), ResizeStep::kConverted) << o;
    EXPECT_EQ(ReadWritten(folder / "turned.jpg").exif, o == 1 ? Bytes() : OrientationOnly(static_cast<uint8_t>(o))) << o;
  }
}

// Real photos' sRGB profiles, some of which libpng knows to be slightly off, and a TIFF's: carried
// as they came.
TEST(Carried, RealProfilesGoAsTheyCame) {
  SKIP_WITHOUT_CORPUS(corpus);
  ScratchFolder folder;
  for (const char* name : {"flower2.jpg", "icc_profile.png", "pil_sample_rgb.jpg", "hopper.iccprofile.tif"}) {
    for (const char* target : {"out.jpg", "out.png"}) {
      ASSERT_EQ(ResizeImageFile(corpus + "\\" + name, folder / target, 32, 24), ResizeStep::kConverted) << name << target;
      const Bytes profile = ReadWritten(corpus + "\\" + name).profile;
      EXPECT_FALSE(profile.empty()) << name;
      EXPECT_EQ(ReadWritten(folder / target).profile, profile) << name << target;
    }
  }
  // A TIFF's Orientation tag goes where a JPEG's does.
  ASSERT_EQ(ResizeImageFile(corpus + "\\g4_orientation_6.tif", folder / "out.jpg", 32, 24), ResizeStep::kConverted);
  EXPECT_EQ(ReadWritten(folder / "out.jpg").exif, OrientationOnly(6));
}

// Grey, palette, 16-bit, opaque and alpha sources: the colour type, components and samples written,
// and every decoded pixel that of the same pixels stored as 8-bit RGB or RGBA, as written before.
// A profile describes the channels written: grey ones with a grey profile, colour with a colour one.
TEST(Carried, ThumbnailsHaveTheFewestChannelsTheirSourceNeeds) {
  ScratchFolder folder;
  const PixelSource grey = [](int x, int y) { const uint8_t v = Level(x, y, 0); return Rgba{v, v, v, 255}; };
  const PixelSource greyAlpha = [](int x, int y) { const uint8_t v = Level(x, y, 0); return Rgba{v, v, v, Level(x, y, 2)}; };
  const PixelSource colourAlpha = [](int x, int y) { Rgba p = Colour(x, y); p.a = Level(x, y, 1); return p; };
  std::vector<Rgba> greys, colours;
  for (int i = 0; i < 16; ++i) {
    greys.push_back({static_cast<uint8_t>(i * 17), static_cast<uint8_t>(i * 17), static_cast<uint8_t>(i * 17), 255});
    colours.push_back({static_cast<uint8_t>(i * 17), 40, static_cast<uint8_t>(255 - i * 9), 255});
  }
  const auto index = [](int x, int y) { return (x / 3 + y) % 16; };
  const PixelSource greyIndexed = [&](int x, int y) { return greys[static_cast<size_t>(index(x, y))]; };
  const PixelSource colourIndexed = [&](int x, int y) { return colours[static_cast<size_t>(index(x, y))]; };
  auto greyJpeg = [&](int components) {
    return EncodeJpeg({96, 64, components, 2, 2, false, false, 0}, [](int x, int y, int) { return Level(x, y, 0); });
  };
  // Large enough to compress past the 81 bytes libpng reads an iCCP chunk's keyword from.
  const Bytes greyProfile = Profile(100000, true), colourProfile = Profile(100000);
  const Bytes greyPalette = EncodePng({96, 64, 3, 4, greyIndexed, greys, index});
  const struct {
    const char* what;
    Bytes source, reference;  // the same pixels as 8-bit RGB or RGBA, or a colour JPEG
    int pngType, jpegComponents, tiffSamples;
    Bytes profile;  // the source's, and every target's
  } cases[] = {
      {"grey 8", EncodePng({96, 64, 0, 8, grey, {}, {}}), EncodePng({96, 64, 2, 8, grey, {}, {}}), 0, 1, 1, {}},
      {"grey 16", EncodePng({96, 64, 0, 16, grey, {}, {}}), EncodePng({96, 64, 2, 8, grey, {}, {}}), 0, 1, 1, {}},
      {"grey and alpha", EncodePng({96, 64, 4, 8, greyAlpha, {}, {}}), EncodePng({96, 64, 6, 8, greyAlpha, {}, {}}), 4, 1, 2, {}},
      {"grey palette", greyPalette, EncodePng({96, 64, 2, 8, greyIndexed, {}, {}}), 0, 1, 1, {}},
      {"colour palette", EncodePng({96, 64, 3, 4, colourIndexed, colours, index}), EncodePng({96, 64, 2, 8, colourIndexed, {}, {}}), 2, 3, 3, {}},
      {"RGB 16", EncodePng({96, 64, 2, 16, Colour, {}, {}}), EncodePng({96, 64, 2, 8, Colour, {}, {}}), 2, 3, 3, {}},
      {"RGBA", EncodePng({96, 64, 6, 8, colourAlpha, {}, {}}), EncodePng({96, 64, 6, 8, colourAlpha, {}, {}}), 6, 3, 4, {}},
      {"grey JPEG", greyJpeg(1), greyJpeg(3), 0, 1, 1, {}},
      {"grey JPEG with a grey profile", WithSegments(greyJpeg(1), IccChunks(greyProfile, {1, 2}, 60000)), greyJpeg(3), 0, 1, 1, greyProfile},
      {"grey palette with a colour profile", WithPngChunks(greyPalette, {{"iCCP", Deflated(colourProfile)}}),
       EncodePng({96, 64, 2, 8, greyIndexed, {}, {}}), 2, 3, 3, colourProfile},
  };
  for (const auto& c : cases) {
    const char* extension = c.source[0] == 0xFF ? ".jpg" : ".png";
    ASSERT_TRUE(WriteBytes(folder / ("source" + std::string(extension)), c.source));
    ASSERT_TRUE(WriteBytes(folder / ("reference" + std::string(extension)), c.reference));
    for (const char* target : {"out.png", "out.jpg", "out.tif"}) {
      const std::string trace = std::string(c.what) + " to " + target;
      ASSERT_EQ(ResizeImageFile(folder / ("source" + std::string(extension)), folder / target, 48, 32), ResizeStep::kConverted) << trace;
      ASSERT_EQ(ResizeImageFile(folder / ("reference" + std::string(extension)), folder / ("ref-" + std::string(target)), 48, 32),
                ResizeStep::kConverted) << trace;
      const ReadBack w = ReadWritten(folder / target);
      const char kind = target[4];
      EXPECT_EQ(w.channels, kind == 'p' ? c.pngType : kind == 'j' ? c.jpegComponents : c.tiffSamples) << trace;
      EXPECT_EQ(w.profile, c.profile) << trace;
      EXPECT_TRUE(w.rgba == ReadWritten(folder / ("ref-" + std::string(target))).rgba) << trace;
    }
  }
}

// Frames no decoder here reads measure 0 by 0, as GDI+ measures a file it cannot load.
TEST(Carried, JpegsNothingDecodesMeasureNothing) {
  ScratchFolder folder;
  Bytes lossless = EncodeJpeg({64, 48, 3, 1, 1, false, false, 0}, [](int x, int y, int c) { return Level(x, y, c); });
  Bytes twelveBit = lossless;
  for (size_t at = 2; at + 4 < lossless.size(); ++at) {
    if (lossless[at] == 0xFF && lossless[at + 1] == 0xC0) {
      lossless[at + 1] = 0xC3;
      twelveBit[at + 4] = 12;
      break;
    }
  }
  for (const Bytes& file : {lossless, twelveBit}) {
    ASSERT_TRUE(WriteBytes(folder / "frame.jpg", file));
    const ImageMeasure measure = MeasureImageFile(folder / "frame.jpg");
    EXPECT_EQ(measure.width, 0);
    EXPECT_EQ(measure.height, 0);
  }
}
}  // namespace

// What each target format keeps of a picture's channels and of what it carries: the one policy
// every writer is given.
TEST(Carried, EachTargetFormatKeepsWhatItHolds) {
  using F = TargetFormat;
  using C = Channels;
  const Bytes rgb = Profile(1000), grey = Profile(1000, true);
  Bytes cmyk = rgb, cut(rgb.begin(), rgb.begin() + 500);
  std::copy_n("CMYK", 4, cmyk.begin() + 16);
  const struct {
    F format;
    C channels;
    Bytes profile;
    C written;
    bool profileKept, orientationKept, pngChunksKept;
  } cases[] = {
      {F::kJpeg, C::kGrey, grey, C::kGrey, true, true, false},
      {F::kJpeg, C::kGrey, rgb, C::kColour, true, true, false},  // a colour profile: written in colour
      {F::kJpeg, C::kColourAlpha, rgb, C::kColour, true, true, false},
      {F::kJpeg, C::kColour, grey, C::kColour, false, true, false},
      {F::kJpeg, C::kColour, cmyk, C::kColour, false, true, false},
      {F::kJpeg, C::kColour, cut, C::kColour, false, true, false},
      {F::kPng, C::kGreyAlpha, {}, C::kGreyAlpha, false, true, true},
      {F::kPng, C::kGreyAlpha, rgb, C::kColourAlpha, true, true, true},
      {F::kTiff, C::kGrey, grey, C::kGrey, true, true, false},
      {F::kTiff, C::kColourAlpha, rgb, C::kColourAlpha, true, true, false},
      {F::kBmp, C::kGreyAlpha, rgb, C::kColourAlpha, false, false, false},
      {F::kGif, C::kGrey, grey, C::kColour, false, false, false},
      {F::kWebp, C::kGrey, grey, C::kColour, false, true, false},
      {F::kWebp, C::kColourAlpha, rgb, C::kColourAlpha, true, true, false},
  };
  for (const auto& c : cases) {
    Carried carried;
    carried.orientation = 6;
    carried.profile = c.profile;
    carried.srgbIntent = 0;
    carried.gamma = 45455;
    const Written w = WhatIsWritten(c.format, c.channels, carried);
    const std::string trace = "format " + std::to_string(static_cast<int>(c.format)) + ", channels " +
                              std::to_string(static_cast<int>(c.channels)) + ", profile of " + std::to_string(c.profile.size());
    EXPECT_EQ(w.channels, c.written) << trace;
    EXPECT_EQ(w.carried.profile, c.profileKept ? c.profile : Bytes()) << trace;
    EXPECT_EQ(w.carried.orientation, c.orientationKept ? 6 : 1) << trace;
    EXPECT_EQ(w.carried.gamma, c.pngChunksKept ? 45455u : 0u) << trace;
  }
}
