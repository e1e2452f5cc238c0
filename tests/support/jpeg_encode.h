// JPEG files made for the tests by libjpeg's own encoder, row by row, so that a picture of any
// size can be written without holding it.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct JpegEncoding {
  int width, height, components;  // 1 grey, 3 colour, 4 CMYK
  int hSampling, vSampling;       // of the first component: 2 2 is 4:2:0
  bool progressive, arithmetic;
  int restartRows;
  // 0: the library's scans. n: a progressive grey file whose every coefficient has n scans of
  // its own (its first, then a refinement for each further bit): 64 * n scans. The two chroma
  // components' sampling; where the blocks of one MCU would pass libjpeg's 10, each component
  // gets a scan of its own.
  int scanBits = 0;
  int chromaH = 1, chromaV = 1;
  // Where scanBits is 2: the coefficients from this one on have one scan only (64 + n scans).
  int splitBefore = 64;
};

// Sample c of pixel (x, y).
typedef std::function<uint8_t(int x, int y, int c)> SampleSource;

// A photo's smooth shading with fine detail on it, in each channel.
inline uint8_t Photo(int x, int y, int c) {
  const double v = 128 + 70 * std::sin(x * 0.013 + c) * std::cos(y * 0.011 - c) + 30 * std::sin((x + 2 * y) * 0.19 + c);
  return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

std::vector<uint8_t> EncodeJpeg(const JpegEncoding& encoding, const SampleSource& sample);
bool EncodeJpegFile(const std::string& path, const JpegEncoding& encoding, const SampleSource& sample);

// The file's last scan, from its marker to the end marker, repeated `times` times: a valid start,
// then the same scan again and again, a warning each.
std::vector<uint8_t> LastScanRepeated(const std::vector<uint8_t>& bytes, int times);
