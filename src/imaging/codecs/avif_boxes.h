// An AVIF file's boxes, read by the plug-in itself (the format is a small box structure of the
// HEIF family): which bytes hold the primary picture's AV1 data (one item, or a grid of tiles),
// those of its alpha, and what its properties say of size, depth, colour and turning. An image
// sequence gives the still picture its meta box names. Every size, offset, count and extent is
// checked against the file before anything is allocated. Platform-free, no library.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/codecs/decoded_rows.h"

// True where the bytes begin with a file type box of an AVIF brand.
bool StartsAsAvif(const uint8_t* head, int64_t size);

// Where one item's data lies in the file: its extents, in order.
struct AvifExtent {
  int64_t offset, length;
};
typedef std::vector<AvifExtent> AvifData;

// A picture of AV1 items: one, or a grid of equal tiles, row by row, cropped to `width` by `height`.
struct AvifPicture {
  int32_t width = 0, height = 0;
  int32_t columns = 1, rows = 1;
  int32_t tileWidth = 0, tileHeight = 0;  // each tile's size as its ispe property gives it
  std::vector<AvifData> tiles;            // empty where there is no such picture
};

struct AvifLayout {
  AvifPicture colour, alpha;
  bool premultiplied = false;  // the colour is premultiplied by the alpha (a prem reference)
  bool monochrome = false;     // av1C: one plane
  int depth = 8;               // av1C: 8, 10 or 12 bits
  // The nclx colour box, where there is one: its CICP code points; else the AV1 stream's own.
  bool nclx = false;
  uint16_t primaries = 2, transfer = 2, matrix = 2;
  bool fullRange = false;
  Carried carried;  // an ICC colour box's profile, and the orientation of irot and imir
};

// Reads the boxes: kRead with `layout` set; kOtherFormat for a file of no AVIF brand; kRefused for
// one whose boxes are cut, lie or name what the reader does not take (a clean aperture, an item
// of another coding, construction by reference to another item).
ReadOutcome ReadAvifLayout(const ByteSource& bytes, AvifLayout* layout);
