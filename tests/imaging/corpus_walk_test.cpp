// Every file of the shared corpus through both actions, in child host processes that may crash
// inside the platform's decoders without ending the walk.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "corpus.h"
#include "image_codec.h"
#include "resilient_batch.h"
#include "scratch_folder.h"

namespace {
TEST(CorpusWalk, EveryFileThroughMetricsAndResize) {
  SKIP_WITHOUT_CORPUS(corpus);
  std::vector<std::string> files;
  ListFiles(corpus, &files);
  std::map<std::string, uint64_t> before;
  for (const std::string& file : files) before[file] = Checksum(ReadBytes(file));

  ScratchFolder out;
  std::vector<ActionLine> lines;
  for (size_t i = 0; i < files.size(); ++i) {
    lines.push_back({"AE_Image_Get_Metrics", files[i]});
    lines.push_back({"ae_resize", files[i] + "|" + out / (std::to_string(i) + ".png") + "|32|24"});
  }
  int children = 0;
  const std::vector<LineResult> results = RunResilient(lines, 10, &children);

  int loaded = 0, converted = 0, refused = 0, platformCrashes = 0, ownCrashes = 0, hangs = 0;
  int platformHangs = 0;
  int headerChecks = 0, headerMismatches = 0, wrongSizes = 0, loadedNotConverted = 0, measuredNotConverted = 0;
  std::printf("per file: metrics outcome, resize outcome, name\n");
  for (size_t i = 0; i < files.size(); ++i) {
    const LineResult& metrics = results[2 * i];
    const LineResult& resize = results[2 * i + 1];
    std::string metricsText, resizeText;
    for (const LineResult* r : {&metrics, &resize}) {
      std::string& text = r == &metrics ? metricsText : resizeText;
      if (r->kind == LineResult::kCrashed) {
        text = "CRASH in " + Culprit(r->crash);
        (OwnFault(r->crash) ? ownCrashes : platformCrashes)++;
      } else if (r->kind == LineResult::kHung) {
        // A decoder that hangs on a damaged file (no_palette.gif hangs Wine's gdiplus.dll
        // when run from another Wine process, and crashes it from a shell) is the platform's.
        text = "HUNG in " + Culprit(r->crash);
        (OwnFault(r->crash) ? hangs : platformHangs)++;
      } else if (r->kind == LineResult::kNotRun) {
        text = "NOT RUN";
        ++ownCrashes;
      }
    }
    const std::string width = PrintedValue(metrics.output, "AE_Image_Width");
    const std::string height = PrintedValue(metrics.output, "AE_Image_Height");
    if (metrics.kind == LineResult::kDone) {
      const bool wasLoaded = !(width == " 0" && height == " 0");
      (wasLoaded ? loaded : refused)++;
      metricsText = wasLoaded ? width + " x" + height : "refused";
      // An independent reading of the file's own header.
      const ImageHeader header = ReadImageHeader(ReadBytes(files[i]));
      if (wasLoaded && header.width > 0 && header.height > 0 && header.format != "TIFF") {
        ++headerChecks;
        auto matches = [&](int w, int h) {
          return width == " " + std::to_string(w) && height == " " + std::to_string(h);
        };
        if (!matches(header.width, header.height) && !matches(header.frameWidth, header.frameHeight)) {
          ++headerMismatches;
          metricsText += " (header says " + std::to_string(header.width) + " x " +
                         std::to_string(header.height) + ")";
        }
      }
    }
    if (resize.kind == LineResult::kDone) {
      const bool ok = PrintedValue(resize.output, "ae_ResizeImage") == "The file was converted succesfully";
      resizeText = ok ? "converted" : "Conversion Failed";
      // What GDI+ loads, the plug-in converts: a resize that fails on a readable file is a fault.
      // A JPEG, PNG, BMP, GIF or TIFF is measured by its header alone, so one damaged in its pixels
      // has a size and still cannot be converted.
      const std::string format = ReadImageHeader(ReadBytes(files[i])).format;
      if (!ok && metrics.kind == LineResult::kDone &&
          !(PrintedValue(metrics.output, "AE_Image_Width") == " 0" &&
            PrintedValue(metrics.output, "AE_Image_Height") == " 0")) {
        const bool byHeader = !format.empty();
        ++(byHeader ? measuredNotConverted : loadedNotConverted);
        resizeText += byHeader ? " (measured by its header)" : " ALTHOUGH IT LOADS";
      }
      if (ok) {
        ++converted;
        const ImageHeader written = ReadImageHeader(ReadBytes(out / (std::to_string(i) + ".png")));
        if (written.format != "PNG" || written.width != 32 || written.height != 24) {
          ++wrongSizes;
          resizeText += " BUT THE FILE IS NOT A 32 x 24 PNG";
        }
      }
    }
    std::printf("%-24s %-22s %s\n", metricsText.c_str(), resizeText.c_str(),
                files[i].substr(corpus.size() + 1).c_str());
  }

  int changed = 0;
  for (const std::string& file : files) changed += Checksum(ReadBytes(file)) != before[file];
  int strays = 0;
  for (const std::string& name : out.Entries()) strays += name.find(".tmp") != std::string::npos;

  std::printf("\ncorpus walk: %zu files tried, %d loaded, %d converted, %d refused, "
              "%d crashes and %d hangs inside the platform, %d crashes and %d hangs in the plug-in; "
              "%d header checks, "
              "%d mismatches; %d files measured by their headers but not decodable; "
              "%d corpus files changed; %d temporary files left; %d child processes\n",
              files.size(), loaded, converted, refused, platformCrashes, platformHangs, ownCrashes, hangs,
              headerChecks, headerMismatches, measuredNotConverted, changed, strays, children);
  EXPECT_GT(files.size(), 100u);
  EXPECT_EQ(ownCrashes, 0);
  EXPECT_EQ(hangs, 0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(strays, 0);
  EXPECT_EQ(wrongSizes, 0);
  EXPECT_EQ(loadedNotConverted, 0);
  EXPECT_GT(converted, 0);
  EXPECT_EQ(headerMismatches, 0);
}
}  // namespace
