// JPEG files made for the tests by libjpeg's own encoder, row by row, so that a picture of any
// size can be written without holding it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct JpegEncoding {
  int width, height, components;  // 1 grey, 3 colour, 4 CMYK
  int hSampling, vSampling;       // of the first component: 2 2 is 4:2:0
  bool progressive, arithmetic;
  int restartRows;
};

// Sample c of pixel (x, y).
typedef std::function<uint8_t(int x, int y, int c)> SampleSource;

std::vector<uint8_t> EncodeJpeg(const JpegEncoding& encoding, const SampleSource& sample);
bool EncodeJpegFile(const std::string& path, const JpegEncoding& encoding, const SampleSource& sample);
