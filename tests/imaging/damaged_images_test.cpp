// Damaged variants of corpus images, made deterministically (fixed seed), through both actions:
// truncated files, flipped bytes, and dimension fields set to 0, to huge and to negative values.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "corpus.h"
#include "image_codec.h"
#include "resilient_batch.h"
#include "scratch_folder.h"

namespace {
struct Variant {
  std::string base, damage, extension;
  std::vector<uint8_t> bytes;
};

std::string FormatOf(const std::vector<uint8_t>& b) {
  if (b.size() >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0) return "ICO";
  if (b.size() >= 44 && b[0] == 1 && b[40] == ' ' && b[41] == 'E' && b[42] == 'M' && b[43] == 'F') return "EMF";
  return ReadImageHeader(b).format;
}

void Put(std::vector<uint8_t>& b, size_t at, uint32_t value, int bytes, bool bigEndian) {
  for (int i = 0; i < bytes && at + i < b.size(); ++i) {
    const int shift = 8 * (bigEndian ? bytes - 1 - i : i);
    b[at + i] = static_cast<uint8_t>(value >> shift);
  }
}

// Where a format keeps its width and height: offset, size in bytes, byte order.
struct DimensionField {
  size_t widthAt, heightAt;
  int bytes;
  bool bigEndian;
};
bool FindDimensions(const std::string& format, const std::vector<uint8_t>& b, DimensionField* f) {
  if (format == "BMP") *f = {18, 22, 4, false};
  else if (format == "PNG") *f = {16, 20, 4, true};
  else if (format == "GIF") *f = {6, 8, 2, false};
  else if (format == "ICO") *f = {6, 7, 1, false};
  else if (format == "JPEG") {
    for (size_t at = 2; at + 9 < b.size() && b[at] == 0xFF; at += 2 + (b[at + 2] << 8 | b[at + 3])) {
      const uint8_t m = b[at + 1];
      if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
        *f = {at + 7, at + 5, 2, true};
        return true;
      }
    }
    return false;
  } else {
    return false;
  }
  return true;
}

std::vector<Variant> MakeVariants(const std::vector<std::pair<std::string, std::vector<uint8_t>>>& bases,
                                  size_t wanted) {
  std::mt19937 random(20261207);  // fixed: the same variants on every run and every machine
  std::vector<Variant> variants;
  for (size_t round = 0; variants.size() < wanted && round < 100; ++round) {
    for (const auto& base : bases) {
      if (variants.size() >= wanted) break;
      const std::vector<uint8_t>& original = base.second;
      const std::string format = FormatOf(original);
      const std::string extension = base.first.substr(base.first.find_last_of('.'));
      std::vector<uint8_t> b = original;
      std::string damage;
      DimensionField field = {0, 0, 0, false};
      const uint32_t kinds = FindDimensions(format, b, &field) ? 5 : 3;
      switch ((round + random()) % kinds) {
        case 0: {  // truncated
          const size_t at = random() % b.size();
          b.resize(at);
          damage = "truncated at " + std::to_string(at);
          break;
        }
        case 1: {  // bytes flipped in the header
          for (int i = 0; i < 3; ++i) b[random() % std::min<size_t>(b.size(), 64)] ^= static_cast<uint8_t>(1 + random() % 255);
          damage = "header bytes flipped";
          break;
        }
        case 2: {  // bytes flipped in the data
          for (int i = 0; i < 8; ++i) b[random() % b.size()] ^= static_cast<uint8_t>(1 + random() % 255);
          damage = "data bytes flipped";
          break;
        }
        default: {  // a dimension set to 0, huge or negative
          const uint32_t values[] = {0, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000, 0xFFFF, 100000};
          const uint32_t value = values[random() % 6];
          const int which = static_cast<int>(random() % 3);
          if (which != 1) Put(b, field.widthAt, value, field.bytes, field.bigEndian);
          if (which != 0) Put(b, field.heightAt, value, field.bytes, field.bigEndian);
          char text[64];
          std::snprintf(text, sizeof text, "%s set to 0x%X", which == 0 ? "width" : which == 1 ? "height" : "both", value);
          damage = text;
          break;
        }
      }
      if (b == original) continue;
      variants.push_back({base.first, damage, extension, b});
    }
  }
  return variants;
}

bool CompletePng(const std::vector<uint8_t>& b) {
  static const uint8_t kEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  const ImageHeader h = ReadImageHeader(b);
  return h.format == "PNG" && h.width == 32 && h.height == 24 && b.size() > 8 &&
         std::equal(std::begin(kEnd), std::end(kEnd), b.end() - 8);
}

// QUINTARA_DAMAGED_VARIANTS sets the number of variants (2,400 for the full run).
TEST(DamagedImages, NeitherCrashNorHangNorLoseAFile) {
  SKIP_WITHOUT_CORPUS(corpus);
  const char* setting = std::getenv("QUINTARA_DAMAGED_VARIANTS");
  const size_t wanted = setting ? static_cast<size_t>(std::atoi(setting)) : 600;

  // Bases: small corpus files of every format, taken in turn so that each format is damaged.
  std::vector<std::string> files;
  ListFiles(corpus, &files, 65536);
  std::sort(files.begin(), files.end());
  std::map<std::string, std::vector<std::pair<std::string, std::vector<uint8_t>>>> byFormat;
  for (const std::string& file : files) {
    std::vector<uint8_t> bytes = ReadBytes(file);
    const std::string format = FormatOf(bytes);
    if (!format.empty() && file.find("no_palette") == std::string::npos) {
      byFormat[format].emplace_back(file.substr(corpus.size() + 1), std::move(bytes));
    }
  }
  std::vector<std::pair<std::string, std::vector<uint8_t>>> bases;
  for (size_t i = 0; bases.size() < 160; ++i) {
    bool any = false;
    for (auto& format : byFormat) {
      if (i < format.second.size()) {
        bases.push_back(format.second[i]);
        any = true;
      }
    }
    if (!any) break;
  }
  const std::vector<Variant> variants = MakeVariants(bases, wanted);

  ScratchFolder in, out;
  std::vector<uint64_t> sums;
  std::vector<ActionLine> lines;
  for (size_t i = 0; i < variants.size(); ++i) {
    const std::string name = in / ("v" + std::to_string(i) + variants[i].extension);
    ASSERT_TRUE(WriteBytes(name, variants[i].bytes));
    sums.push_back(Checksum(variants[i].bytes));
    lines.push_back({"AE_Image_Get_Metrics", name});
    lines.push_back({"ae_resize", name + "|" + out / ("v" + std::to_string(i) + ".png") + "|32|24"});
  }
  int children = 0;
  const DWORD started = GetTickCount();
  const std::vector<LineResult> results = RunResilient(lines, 10, &children);
  const double seconds = (GetTickCount() - started) / 1000.0;

  int converted = 0, refused = 0, loaded = 0, ownHangs = 0, ownCrashes = 0, changed = 0,
      halfWritten = 0;
  std::map<std::string, int> platformCrashes, platformHangs, formats;
  for (size_t i = 0; i < variants.size(); ++i) {
    formats[FormatOf(ReadBytes(corpus + "\\" + variants[i].base))]++;
    for (int k = 0; k < 2; ++k) {
      const LineResult& r = results[2 * i + k];
      if (r.kind == LineResult::kDone) continue;
      const bool hung = r.kind == LineResult::kHung;
      const bool own = r.kind == LineResult::kNotRun || OwnFault(r.crash);
      if (own) {
        ++(hung ? ownHangs : ownCrashes);
      } else {
        ++(hung ? platformHangs : platformCrashes)[Culprit(r.crash)];
      }
      std::printf("%s%s: v%zu %s (%s, %s)\n", hung ? "HANG" : "CRASH", own ? " IN THE PLUG-IN" : "",
                  i, r.crash.c_str(), variants[i].base.c_str(), variants[i].damage.c_str());
    }
    const LineResult& metrics = results[2 * i];
    const LineResult& resize = results[2 * i + 1];
    if (metrics.kind == LineResult::kDone &&
        PrintedValue(metrics.output, "AE_Image_Width") != " 0") {
      ++loaded;
    }
    const std::string target = out / ("v" + std::to_string(i) + ".png");
    const std::vector<uint8_t> written = ReadBytes(target);
    if (resize.kind == LineResult::kDone) {
      const bool ok = PrintedValue(resize.output, "ae_ResizeImage") == "The file was converted succesfully";
      (ok ? converted : refused)++;
      if (ok ? !CompletePng(written) : GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ++halfWritten;
        std::printf("TARGET %s: v%zu\n", ok ? "NOT A COMPLETE PNG" : "WRITTEN DESPITE FAILURE", i);
      }
    }
    changed += Checksum(ReadBytes(in / ("v" + std::to_string(i) + variants[i].extension))) != sums[i];
  }
  int temporaries = 0;
  for (const ScratchFolder* folder : {&in, &out}) {
    for (const std::string& name : folder->Entries()) temporaries += name.find(".tmp") != std::string::npos;
  }
  std::string crashText, formatText;
  int crashCount = 0, hangCount = 0;
  for (const auto& c : platformCrashes) {
    crashText += "\n  crashes in " + c.first + ": " + std::to_string(c.second);
    crashCount += c.second;
  }
  for (const auto& h : platformHangs) {
    crashText += "\n  hangs in " + h.first + ": " + std::to_string(h.second);
    hangCount += h.second;
  }
  for (const auto& f : formats) formatText += " " + f.first + " " + std::to_string(f.second);
  std::printf("damaged images: %zu inputs from %zu corpus files (%s), %d loaded, %d converted, "
              "%d refused, %d crashes and %d hangs inside the platform, %d crashes and %d hangs "
              "in the plug-in, "
              "%d sources changed, %d temporary files left, %d targets half-written; "
              "%d child processes, %.1f s%s\n",
              variants.size(), bases.size(), formatText.c_str() + 1, loaded, converted, refused,
              crashCount, hangCount, ownCrashes, ownHangs, changed, temporaries, halfWritten,
              children, seconds, crashText.c_str());
  EXPECT_GE(variants.size(), wanted);
  EXPECT_EQ(ownCrashes, 0);
  EXPECT_EQ(ownHangs, 0);
  EXPECT_EQ(changed, 0);
  EXPECT_EQ(temporaries, 0);
  EXPECT_EQ(halfWritten, 0);
}
}  // namespace
