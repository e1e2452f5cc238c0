// WebP sources, made here with libwebp's own encoder: the plug-in's picture against libwebp's own
// decode, their metrics, and files cut short; and WebP targets, decoded by libwebp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <png.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include "webp_encode.h"

#include "image_codec.h"
#include "imaging/codecs/webp_reader.h"
#include "imaging/image_metrics.h"
#include "imaging/resize_image_file.h"
#include "memory_bytes.h"
#include "scratch_folder.h"

namespace {
typedef std::vector<uint8_t> Bytes;

// A picture of RGBA pixels with detail in every channel, alpha where asked.
Bytes Pixels(int width, int height, bool alpha, int seed) {
  Bytes p(static_cast<size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      uint8_t* o = &p[(static_cast<size_t>(y) * width + x) * 4];
      o[0] = static_cast<uint8_t>(x * 5 + seed), o[1] = static_cast<uint8_t>(y * 7), o[2] = static_cast<uint8_t>((x ^ y) * 3);
      o[3] = alpha ? static_cast<uint8_t>(x * 9 + y) : 255;
    }
  }
  return p;
}

Bytes Still(int width, int height, bool lossless, bool alpha) {
  return EncodeWebp(Pixels(width, height, alpha, 0), width, height, lossless);
}

// Two frames: the first a lossy picture, the second another.
Bytes Animation(int width, int height) {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  for (int frame = 0; frame < 2; ++frame) {
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = width, picture.height = height, picture.use_argb = 1;
    const Bytes p = Pixels(width, height, false, frame * 100);
    WebPPictureImportRGBA(&picture, p.data(), width * 4);
    WebPAnimEncoderAdd(encoder, &picture, frame * 100, &config);
    WebPPictureFree(&picture);
  }
  WebPAnimEncoderAdd(encoder, nullptr, 200, &config);
  WebPData data;
  WebPDataInit(&data);
  WebPAnimEncoderAssemble(encoder, &data);
  Bytes file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
  return file;
}

// An animation whose first frame, 20 by 10, lies at (10, 8) inside its 40 by 30 canvas.
Bytes OffsetAnimation() {
  WebPMux* mux = WebPMuxNew();
  const Bytes first = Still(20, 10, true, false), second = Still(40, 30, true, false);
  for (const Bytes* frame : {&first, &second}) {
    WebPMuxFrameInfo info = {};
    info.bitstream = {frame->data(), frame->size()};
    info.x_offset = frame == &first ? 10 : 0, info.y_offset = frame == &first ? 8 : 0;
    info.duration = 100, info.id = WEBP_CHUNK_ANMF;
    info.dispose_method = WEBP_MUX_DISPOSE_NONE, info.blend_method = WEBP_MUX_NO_BLEND;
    WebPMuxPushFrame(mux, &info, 1);
  }
  const WebPMuxAnimParams params = {0, 0};
  WebPMuxSetAnimationParams(mux, &params);
  WebPMuxSetCanvasSize(mux, 40, 30);
  WebPData data;
  WebPDataInit(&data);
  WebPMuxAssemble(mux, &data);
  Bytes file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPMuxDelete(mux);
  return file;
}

// libwebp's own picture of the file (an animation's first frame in its canvas), as RGBA.
std::vector<Rgba> LibwebpPicture(const Bytes& file) {
  const WebPData data = {file.data(), file.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  WebPAnimInfo info;
  uint8_t* frame = nullptr;
  int timestamp = 0;
  std::vector<Rgba> pixels;
  if (decoder != nullptr && WebPAnimDecoderGetInfo(decoder, &info) && WebPAnimDecoderGetNext(decoder, &frame, &timestamp)) {
    for (size_t i = 0; i < size_t{info.canvas_width} * info.canvas_height; ++i) {
      pixels.push_back({frame[4 * i], frame[4 * i + 1], frame[4 * i + 2], frame[4 * i + 3]});
    }
  }
  WebPAnimDecoderDelete(decoder);
  return pixels;
}

TEST(WebpSource, EachKindGivesLibwebpsPictureAndItsSize) {
  ScratchFolder folder;
  const struct {
    const char* what;
    Bytes file;
    int width, height;
  } cases[] = {
      {"lossy", Still(67, 45, false, false), 67, 45},
      {"lossless with alpha", Still(67, 45, true, true), 67, 45},
      {"lossy with alpha", Still(67, 45, false, true), 67, 45},
      {"animation of two frames", Animation(40, 30), 40, 30},
      {"animation whose first frame lies inside its canvas", OffsetAnimation(), 40, 30},
      {"1001 by 751", Still(1001, 751, false, false), 1001, 751},
      {"1 by 1", Still(1, 1, true, false), 1, 1},
      {"4097 by 3", Still(4097, 3, false, false), 4097, 3},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteBytes(folder / "source.webp", c.file)) << c.what;
    EXPECT_EQ(MeasureImageFile(folder / "source.webp").width, c.width) << c.what;
    EXPECT_EQ(MeasureImageFile(folder / "source.webp").height, c.height) << c.what;
    // Copied at its own size into a BMP, which keeps alpha as it came.
    ASSERT_EQ(ResizeImageFile(folder / "source.webp", folder / "same.bmp", c.width, c.height), ResizeStep::kConverted) << c.what;
    int width = 0, height = 0;
    const std::vector<Rgba> read = ReadBmpPixels(ReadBytes(folder / "same.bmp"), &width, &height);
    const std::vector<Rgba> reference = LibwebpPicture(c.file);
    ASSERT_EQ(read.size(), reference.size()) << c.what;
    int largest = 0;
    bool alphaExact = true;
    for (size_t i = 0; i < read.size(); ++i) {
      for (const int d : {read[i].r - reference[i].r, read[i].g - reference[i].g, read[i].b - reference[i].b}) {
        largest = std::max(largest, reference[i].a == 0 ? 0 : std::abs(d));
      }
      alphaExact = alphaExact && read[i].a == reference[i].a;
    }
    EXPECT_LE(largest, 1) << c.what;
    EXPECT_TRUE(alphaExact) << c.what;
    // At a half and a tenth, where libwebp's scaler may decode it at 1/2 to 1/8.
    EXPECT_EQ(ResizeImageFile(folder / "source.webp", folder / "half.jpg", (c.width + 1) / 2, (c.height + 1) / 2),
              ResizeStep::kConverted) << c.what;
    EXPECT_EQ(ResizeImageFile(folder / "source.webp", folder / "tenth.jpg", std::max(1, c.width / 10), std::max(1, c.height / 10)),
              ResizeStep::kConverted) << c.what;
  }
  // Cut after its header: measured, never converted, never given to GDI+; cut before: nothing.
  const Bytes photo = Still(640, 480, false, false);
  ASSERT_TRUE(WriteBytes(folder / "cut.webp", Bytes(photo.begin(), photo.begin() + static_cast<long>(photo.size() / 2))));
  EXPECT_EQ(ResizeImageFile(folder / "cut.webp", folder / "cut.jpg", 64, 48), ResizeStep::kSourceRefused);
  EXPECT_EQ(MeasureImageFile(folder / "cut.webp").width, 640);
  ASSERT_TRUE(WriteBytes(folder / "header.webp", Bytes(photo.begin(), photo.begin() + 20)));
  EXPECT_EQ(MeasureImageFile(folder / "header.webp").width, 0);
}

// An opaque lossy picture reduced by 1/d as it decodes: each pixel the average of its box of
// libwebp's own whole picture (its loop filter passed over, as libwebp's scaler does for such a
// reduction, and its chroma not smoothed), the last box of a row or column in part: the boxes
// are averaged in Y, U and V before they are converted, so each is within 2 levels of the
// average of the converted pixels while the picture stays inside the colours RGB holds.
TEST(WebpSource, ReducedWhileDecodedGivesTheBoxesOfLibwebpsPicture) {
  const struct {
    int width, height, d;
  } cases[] = {{64, 48, 2}, {67, 45, 4}, {67, 45, 8}, {33, 17, 8}};
  for (const auto& c : cases) {
    Bytes rgba(static_cast<size_t>(c.width) * c.height * 4, 255);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        uint8_t* p = &rgba[(static_cast<size_t>(y) * c.width + x) * 4];
        p[0] = static_cast<uint8_t>(60 + (x * 37 + y * 11) % 128), p[1] = static_cast<uint8_t>(60 + (x * x + y * 29) % 128);
        p[2] = static_cast<uint8_t>(60 + ((x ^ y) * 13) % 128);
      }
    }
    const Bytes file = EncodeWebp(rgba, c.width, c.height, false);
    WebPDecoderConfig config;
    ASSERT_TRUE(WebPInitDecoderConfig(&config));
    config.options.bypass_filtering = 1, config.options.no_fancy_upsampling = 1, config.output.colorspace = MODE_BGR;
    ASSERT_EQ(WebPDecode(file.data(), file.size(), &config), VP8_STATUS_OK);
    MemoryBytes memory = {file.data(), file.size(), -1};
    WebpDecoder decoder;
    Description picture;
    CapturedRows rows;
    ASSERT_EQ(OpenWebp(BytesOf(&memory), &decoder, &picture), ReadOutcome::kRead);
    ASSERT_EQ(ReadWebp(decoder.get(), c.d, Capturing(&rows)), ReadOutcome::kRead) << c.width << " at 1/" << c.d;
    const int width = (c.width + c.d - 1) / c.d, height = (c.height + c.d - 1) / c.d;
    ASSERT_EQ(rows.bytes.size(), static_cast<size_t>(width) * height * 3) << c.width << " at 1/" << c.d;
    int largest = 0;
    for (int i = 0; i < width * height * 3; ++i) {
      const int bx = i / 3 % width, by = i / 3 / width;
      double sum = 0;
      int n = 0;
      for (int y = by * c.d; y < std::min(c.height, (by + 1) * c.d); ++y) {
        for (int x = bx * c.d; x < std::min(c.width, (bx + 1) * c.d); ++x, ++n) {
          sum += config.output.u.RGBA.rgba[static_cast<size_t>(y) * config.output.u.RGBA.stride + x * 3 + i % 3];
        }
      }
      largest = std::max(largest, std::abs(rows.bytes[static_cast<size_t>(i)] - static_cast<int>(sum / n + 0.5)));
    }
    EXPECT_LE(largest, 2) << c.width << " by " << c.height << " at 1/" << c.d;
    WebPFreeDecBuffer(&config.output);
  }
  // A row refused, on libwebp's thread: the read ends there, refused.
  const Bytes file = Still(640, 480, false, false);
  MemoryBytes memory = {file.data(), file.size(), -1};
  WebpDecoder decoder;
  Description picture;
  ASSERT_EQ(OpenWebp(BytesOf(&memory), &decoder, &picture), ReadOutcome::kRead);
  int taken = 0;
  const DecodedRows refusing = {[](void*, int32_t, int32_t) { return true; },
                                [](void* c, const uint8_t*) { return ++*static_cast<int*>(c) < 3; }, &taken};
  EXPECT_EQ(ReadWebp(decoder.get(), 4, refusing), ReadOutcome::kRefused);
  EXPECT_EQ(taken, 3);
}

// WebP targets of each kind of picture, decoded by libwebp against the plug-in's own lossless PNG
// of the same resize: lossy at quality 75, with chroma halved, keeps these pictures of a colour
// step every pixel within a mean of 10 levels (measured 0.7 to 7.8; a photo's far closer), alpha
// exact where it is 0 or 255; the largest side WebP holds.
TEST(WebpTarget, EachKindDecodesToItsPicture) {
  ScratchFolder folder;
  const PixelSource colour = [](int x, int y) { return Rgba{uint8_t(x * 3), uint8_t(y * 4), uint8_t(x + y), 255}; };
  const PixelSource holes = [](int x, int y) { return Rgba{uint8_t(x * 3), 90, uint8_t(y * 4), uint8_t(x < 40 ? 0 : x < 80 ? 255 : 128)}; };
  const PixelSource grey = [](int x, int y) { const uint8_t v = uint8_t(x * 2 + y); return Rgba{v, v, v, 255}; };
  const struct {
    const char* what;
    PngImage source;
    int width, height;
    ResizeStep step;
  } cases[] = {
      {"opaque", {120, 90, 2, 8, colour, {}, {}}, 60, 45, ResizeStep::kConverted},
      {"alpha", {120, 90, 6, 8, holes, {}, {}}, 120, 90, ResizeStep::kConverted},
      {"grey", {120, 90, 0, 8, grey, {}, {}}, 60, 45, ResizeStep::kConverted},
      {"1 by 1", {120, 90, 2, 8, colour, {}, {}}, 1, 1, ResizeStep::kConverted},
      {"16383 wide", {120, 90, 2, 8, colour, {}, {}}, 16383, 2, ResizeStep::kConverted},
      {"16384 wide", {120, 90, 2, 8, colour, {}, {}}, 16384, 2, ResizeStep::kSizeRejected},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(WritePng(folder / "source.png", c.source)) << c.what;
    ASSERT_EQ(ResizeImageFile(folder / "source.png", folder / "out.webp", c.width, c.height), c.step) << c.what;
    if (c.step != ResizeStep::kConverted) continue;
    ASSERT_EQ(ResizeImageFile(folder / "source.png", folder / "out.png", c.width, c.height), c.step) << c.what;
    const Bytes file = ReadBytes(folder / "out.webp");
    int width = 0, height = 0;
    uint8_t* rgba = WebPDecodeRGBA(file.data(), file.size(), &width, &height);
    ASSERT_TRUE(rgba != nullptr && width == c.width && height == c.height) << c.what;
    std::vector<uint8_t> png;
    {
      png_image image = {};
      image.version = PNG_IMAGE_VERSION;
      const Bytes bytes = ReadBytes(folder / "out.png");
      png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
      image.format = PNG_FORMAT_RGBA;
      png.resize(PNG_IMAGE_SIZE(image));
      png_image_finish_read(&image, nullptr, png.data(), 0, nullptr);
    }
    double sum = 0;
    size_t counted = 0;
    bool alphaExact = true;
    for (size_t i = 0; i < png.size(); i += 4) {
      const uint8_t a = png[i + 3];
      if (a == 0 || a == 255) alphaExact = alphaExact && rgba[i + 3] == a;
      if (a == 0) continue;
      for (int k = 0; k < 3; ++k) sum += std::abs(rgba[i + k] - png[i + k]);
      counted += 3;
    }
    WebPFree(rgba);
    EXPECT_TRUE(alphaExact) << c.what;
    EXPECT_LE(sum / static_cast<double>(std::max<size_t>(counted, 1)), 10.0) << c.what;
    std::printf("WebP target, %s: %.2f levels from the PNG\n", c.what, sum / static_cast<double>(std::max<size_t>(counted, 1)));
  }
}
}  // namespace
