#include "imaging/codecs/avif_boxes.h"

#include <cstring>
#include <map>
#include <new>
#include <string>

namespace {
// A meta box holds headers and perhaps a colour profile, never pixels.
constexpr int64_t kMetaCap = int64_t{4} << 20;
constexpr int kTopLevelBoxes = 10000;
constexpr int32_t kTileCap = 1 << 16;
const char kAlphaUrn[] = "urn:mpeg:mpegB:cicp:systems:auxiliary:alpha";
const char kOldAlphaUrn[] = "urn:mpeg:hevc:2015:auxid:1";

// Bytes in memory, read in order: past their end every read answers 0 and `ok` falls.
struct Reader {
  const uint8_t* p;
  size_t size, at;
  bool ok;

  size_t Left() const { return size - at; }
  uint64_t Number(int bytes) {
    if (static_cast<size_t>(bytes) > Left()) return ok = false, at = size, 0;
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | p[at++];
    return value;
  }
  uint32_t U8() { return static_cast<uint32_t>(Number(1)); }
  uint32_t U16() { return static_cast<uint32_t>(Number(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Number(4)); }
  bool FourCc(const char* code) {
    const bool same = Left() >= 4 && std::memcmp(p + at, code, 4) == 0;
    Number(4);
    return same;
  }
  Reader Take(uint64_t count) {
    if (count > Left()) return ok = false, at = size, Reader{p, 0, 0, false};
    Reader part = {p + at, static_cast<size_t>(count), 0, true};
    at += static_cast<size_t>(count);
    return part;
  }
};

struct Box {
  char type[4];
  Reader body;
  bool Is(const char* code) const { return std::memcmp(type, code, 4) == 0; }
};

// The next box inside `in`: false at the end, or where its size lies (`in->ok` then falls).
bool NextBox(Reader* in, Box* box) {
  if (in->Left() == 0) return false;
  const size_t start = in->at;
  uint64_t size = in->U32();
  if (in->Left() < 4) return in->ok = false;
  std::memcpy(box->type, in->p + in->at, 4);
  in->at += 4;
  uint64_t header = 8;
  if (size == 1) size = in->Number(8), header = 16;
  if (size == 0) size = in->size - start;
  if (!in->ok || size < header) return in->ok = false;
  box->body = in->Take(size - header);
  return in->ok;
}

// A full box's version (its flags in `flags`).
uint32_t Version(Reader* body, uint32_t* flags = nullptr) {
  const uint32_t version = body->U8(), f = static_cast<uint32_t>(body->Number(3));
  if (flags != nullptr) *flags = f;
  return version;
}

struct Item {
  char type[4] = {};
  int method = -1;          // iloc's construction method; -1 without a location
  AvifData extents;         // method 1: offsets inside idat, resolved once it is found
  std::vector<uint32_t> properties;  // ipma's indices into ipco, from 1
};

struct Meta {
  std::map<uint32_t, Item> items;
  std::vector<Box> properties;
  std::multimap<uint32_t, std::pair<uint32_t, std::string>> references;  // from: to, type
  uint32_t primary = 0;
  int64_t idatAt = -1, idatSize = 0;  // in the file
};

bool ReadLocations(Reader in, Meta* meta) {
  const uint32_t version = Version(&in);
  const uint32_t sizes = in.U16();
  const int offsetSize = static_cast<int>(sizes >> 12), lengthSize = static_cast<int>(sizes >> 8 & 15),
            baseSize = static_cast<int>(sizes >> 4 & 15), indexSize = version >= 1 ? static_cast<int>(sizes & 15) : 0;
  for (const int s : {offsetSize, lengthSize, baseSize, indexSize}) {
    if (s != 0 && s != 4 && s != 8) return false;
  }
  if (version > 2) return false;
  const uint32_t count = version < 2 ? in.U16() : in.U32();
  for (uint32_t i = 0; i < count && in.ok; ++i) {
    Item& item = meta->items[version < 2 ? in.U16() : in.U32()];
    item.method = version >= 1 ? static_cast<int>(in.U16() & 15) : 0;
    const uint32_t reference = in.U16();
    const uint64_t base = in.Number(baseSize);
    const uint32_t extents = in.U16();
    if (reference != 0 || item.method > 1 || extents == 0) return false;
    for (uint32_t e = 0; e < extents && in.ok; ++e) {
      in.Number(indexSize);
      const uint64_t offset = base + in.Number(offsetSize), length = in.Number(lengthSize);
      // A length of 0 means "to the end of the file", which no AVIF writer uses.
      if (length == 0 || offset > (uint64_t{1} << 62) || length > (uint64_t{1} << 62)) return false;
      item.extents.push_back({static_cast<int64_t>(offset), static_cast<int64_t>(length)});
    }
  }
  return in.ok;
}

bool ReadItemInfo(Reader in, Meta* meta) {
  const uint32_t count = Version(&in) == 0 ? in.U16() : in.U32();
  Box box;
  for (uint32_t i = 0; i < count && NextBox(&in, &box); ++i) {
    if (!box.Is("infe")) continue;
    const uint32_t version = Version(&box.body);
    if (version < 2) continue;
    Item& item = meta->items[version == 2 ? box.body.U16() : box.body.U32()];
    box.body.U16();  // protection
    if (box.body.Left() < 4) return false;
    std::memcpy(item.type, box.body.p + box.body.at, 4);
  }
  return in.ok;
}

bool ReadProperties(Reader in, Meta* meta) {
  Box box;
  while (NextBox(&in, &box)) {
    if (box.Is("ipco")) {
      Box property;
      while (NextBox(&box.body, &property)) meta->properties.push_back(property);
      if (!box.body.ok) return false;
    } else if (box.Is("ipma")) {
      uint32_t flags = 0;
      const uint32_t version = Version(&box.body, &flags), entries = box.body.U32();
      for (uint32_t i = 0; i < entries && box.body.ok; ++i) {
        Item& item = meta->items[version < 1 ? box.body.U16() : box.body.U32()];
        const uint32_t associations = box.body.U8();
        for (uint32_t a = 0; a < associations && box.body.ok; ++a) {
          const uint32_t index = (flags & 1) != 0 ? box.body.U16() & 0x7FFF : box.body.U8() & 0x7F;
          if (index != 0) item.properties.push_back(index);
        }
      }
      if (!box.body.ok) return false;
    }
  }
  return in.ok;
}

bool ReadReferences(Reader in, Meta* meta) {
  const uint32_t version = Version(&in);
  Box box;
  while (NextBox(&in, &box)) {
    const uint32_t from = version == 0 ? box.body.U16() : box.body.U32(), count = box.body.U16();
    for (uint32_t i = 0; i < count && box.body.ok; ++i) {
      const uint32_t to = version == 0 ? box.body.U16() : box.body.U32();
      meta->references.insert({from, {to, std::string(box.type, 4)}});
    }
    if (!box.body.ok) return false;
  }
  return in.ok;
}

bool ReadMeta(Reader in, int64_t metaAt, const uint8_t* buffer, Meta* meta) {
  Version(&in);
  Box box;
  bool picture = false;
  while (NextBox(&in, &box)) {
    if (box.Is("hdlr")) {
      box.body.Number(8);  // version, flags, pre_defined
      picture = box.body.FourCc("pict");
    } else if (box.Is("pitm")) {
      meta->primary = Version(&box.body) == 0 ? box.body.U16() : box.body.U32();
    } else if (box.Is("iloc")) {
      if (!ReadLocations(box.body, meta)) return false;
    } else if (box.Is("iinf")) {
      if (!ReadItemInfo(box.body, meta)) return false;
    } else if (box.Is("iprp")) {
      if (!ReadProperties(box.body, meta)) return false;
    } else if (box.Is("iref")) {
      if (!ReadReferences(box.body, meta)) return false;
    } else if (box.Is("idat")) {
      meta->idatAt = metaAt + (box.body.p - buffer);
      meta->idatSize = static_cast<int64_t>(box.body.size);
    }
  }
  return in.ok && picture && meta->primary != 0;
}

// The item's property of the type, or null; `lies` set where an index names no property.
const Box* PropertyOf(const Meta& meta, const Item& item, const char* type, bool* lies) {
  for (const uint32_t index : item.properties) {
    if (index > meta.properties.size()) {
      *lies = true;
      return nullptr;
    }
    if (meta.properties[index - 1].Is(type)) return &meta.properties[index - 1];
  }
  return nullptr;
}

// The item's extents as file offsets, each inside the file (or inside idat).
bool PlaceExtents(const Meta& meta, const Item& item, int64_t fileSize, AvifData* data) {
  *data = item.extents;
  int64_t total = 0;
  for (AvifExtent& e : *data) {
    if (item.method == 1) {
      if (meta.idatAt < 0 || e.offset > meta.idatSize || e.length > meta.idatSize - e.offset) return false;
      e.offset += meta.idatAt;
    }
    if (e.offset > fileSize || e.length > fileSize - e.offset) return false;
    total += e.length;
  }
  return item.method >= 0 && !data->empty() && total <= fileSize;
}

struct Size {
  int32_t width, height;
};
bool SizeOf(const Meta& meta, const Item& item, Size* size) {
  bool lies = false;
  const Box* ispe = PropertyOf(meta, item, "ispe", &lies);
  if (ispe == nullptr) return false;
  Reader in = ispe->body;
  Version(&in);
  const uint32_t width = in.U32(), height = in.U32();
  if (!in.ok || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return false;
  *size = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
  return !lies;
}

std::vector<uint32_t> ReferencesFrom(const Meta& meta, uint32_t from, const char* type) {
  std::vector<uint32_t> to;
  const auto range = meta.references.equal_range(from);
  for (auto r = range.first; r != range.second; ++r) {
    if (r->second.second == type) to.push_back(r->second.first);
  }
  return to;
}

// An av01 item, or a grid of them, as a picture.
bool PictureOf(const ByteSource& bytes, const Meta& meta, uint32_t id, AvifPicture* picture,
               const Item** first) {
  const auto found = meta.items.find(id);
  if (found == meta.items.end()) return false;
  const Item& item = found->second;
  Size size = {};
  if (std::memcmp(item.type, "av01", 4) == 0) {
    picture->tiles.resize(1);
    *first = &item;
    if (!SizeOf(meta, item, &size) || !PlaceExtents(meta, item, bytes.size, &picture->tiles[0])) return false;
    picture->width = picture->tileWidth = size.width;
    picture->height = picture->tileHeight = size.height;
    return true;
  }
  if (std::memcmp(item.type, "grid", 4) != 0) return false;
  AvifData data;
  uint8_t grid[12];
  if (!PlaceExtents(meta, item, bytes.size, &data) || data.size() != 1 || data[0].length > 12 ||
      !ReadExactly(bytes, data[0].offset, grid, static_cast<int32_t>(data[0].length))) {
    return false;
  }
  Reader in = {grid, static_cast<size_t>(data[0].length), 0, true};
  const uint32_t version = in.U8(), flags = in.U8();
  picture->rows = static_cast<int32_t>(in.U8()) + 1;
  picture->columns = static_cast<int32_t>(in.U8()) + 1;
  const int field = (flags & 1) != 0 ? 4 : 2;
  const uint64_t width = in.Number(field), height = in.Number(field);
  const std::vector<uint32_t> tiles = ReferencesFrom(meta, id, "dimg");
  if (!in.ok || version != 0 || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX ||
      tiles.size() != static_cast<size_t>(picture->rows) * static_cast<size_t>(picture->columns)) {
    return false;
  }
  picture->width = static_cast<int32_t>(width);
  picture->height = static_cast<int32_t>(height);
  picture->tiles.resize(tiles.size());
  for (size_t t = 0; t < tiles.size(); ++t) {
    const auto tile = meta.items.find(tiles[t]);
    Size tileSize = {};
    if (tile == meta.items.end() || std::memcmp(tile->second.type, "av01", 4) != 0 ||
        !SizeOf(meta, tile->second, &tileSize) || !PlaceExtents(meta, tile->second, bytes.size, &picture->tiles[t]) ||
        (t > 0 && (tileSize.width != picture->tileWidth || tileSize.height != picture->tileHeight))) {
      return false;
    }
    picture->tileWidth = tileSize.width;
    picture->tileHeight = tileSize.height;
    if (t == 0) *first = &tile->second;
  }
  // The tiles cover the picture, and no row or column of them lies wholly outside it.
  const int64_t across = int64_t{picture->columns} * picture->tileWidth, down = int64_t{picture->rows} * picture->tileHeight;
  return width <= static_cast<uint64_t>(across) && width > static_cast<uint64_t>(across - picture->tileWidth) &&
         height <= static_cast<uint64_t>(down) && height > static_cast<uint64_t>(down - picture->tileHeight);
}

// What irot's quarter turns anticlockwise (then imir's flip: none, top and bottom, left and right)
// are as an EXIF orientation.
constexpr int kOrientations[4][3] = {{1, 4, 2}, {8, 5, 7}, {3, 2, 4}, {6, 7, 5}};

bool ReadColourProperties(const Meta& meta, const Item& primary, const Item& coded, AvifLayout* layout) {
  bool lies = false;
  if (PropertyOf(meta, primary, "clap", &lies) != nullptr) return false;
  const Box* av1C = PropertyOf(meta, coded, "av1C", &lies);
  if (av1C == nullptr || av1C->body.size < 4) return false;
  const uint8_t flags = av1C->body.p[2];
  layout->depth = (flags & 0x40) == 0 ? 8 : (flags & 0x20) != 0 ? 12 : 10;
  layout->monochrome = (flags & 0x10) != 0;
  // Both colour boxes may be there: an ICC profile and the code points.
  for (const uint32_t index : primary.properties) {
    if (index > meta.properties.size() || !meta.properties[index - 1].Is("colr")) continue;
    Reader in = meta.properties[index - 1].body;
    const std::string kind(reinterpret_cast<const char*>(in.p), in.size < 4 ? in.size : 4);
    in.Number(4);
    if (kind == "nclx") {
      layout->nclx = true;
      layout->primaries = static_cast<uint16_t>(in.U16());
      layout->transfer = static_cast<uint16_t>(in.U16());
      layout->matrix = static_cast<uint16_t>(in.U16());
      layout->fullRange = (in.U8() & 0x80) != 0;
    } else if ((kind == "prof" || kind == "rICC") && in.Left() <= kProfileCap && ProfileWhole(in.p + in.at, in.Left())) {
      layout->carried.profile.assign(in.p + in.at, in.p + in.size);
    }
  }
  const Box* irot = PropertyOf(meta, primary, "irot", &lies);
  const Box* imir = PropertyOf(meta, primary, "imir", &lies);
  const int turns = irot != nullptr && irot->body.size > 0 ? irot->body.p[0] & 3 : 0;
  const int flip = imir != nullptr && imir->body.size > 0 ? 1 + (imir->body.p[0] & 1) : 0;
  layout->carried.orientation = kOrientations[turns][flip];
  return !lies;
}

// The auxiliary item that is the primary's alpha, or 0.
uint32_t AlphaOf(const Meta& meta) {
  for (const auto& reference : meta.references) {
    if (reference.second.first != meta.primary || reference.second.second != "auxl") continue;
    const auto item = meta.items.find(reference.first);
    if (item == meta.items.end()) continue;
    bool lies = false;
    const Box* auxC = PropertyOf(meta, item->second, "auxC", &lies);
    if (auxC == nullptr) continue;
    Reader in = auxC->body;
    Version(&in);
    const char* urn = reinterpret_cast<const char*>(in.p + in.at);
    const size_t length = in.Left();
    for (const char* alpha : {kAlphaUrn, kOldAlphaUrn}) {
      if (length >= std::strlen(alpha) + 1 && std::memcmp(urn, alpha, std::strlen(alpha) + 1) == 0) return reference.first;
    }
  }
  return 0;
}
}  // namespace

bool StartsAsAvif(const uint8_t* head, int64_t size) {
  if (size < 16 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
  const int64_t box = int64_t{head[0]} << 24 | head[1] << 16 | head[2] << 8 | head[3];
  for (int64_t at = 8; at + 4 <= size && at + 4 <= box; at += at == 8 ? 8 : 4) {
    for (const char* brand : {"avif", "avis", "mif1", "msf1"}) {
      if (std::memcmp(head + at, brand, 4) == 0) return true;
    }
  }
  return false;
}

ReadOutcome ReadAvifLayout(const ByteSource& bytes, AvifLayout* layout) {
  uint8_t head[64];
  const int32_t got = static_cast<int32_t>(bytes.size < 64 ? bytes.size : 64);
  if (got < 16 || !ReadExactly(bytes, 0, head, got) || !StartsAsAvif(head, got)) return ReadOutcome::kOtherFormat;
  // The top-level boxes, read by their headers alone up to the meta box.
  std::vector<uint8_t> buffer;
  int64_t at = 0, metaAt = -1;
  for (int boxes = 0; boxes < kTopLevelBoxes && at + 8 <= bytes.size; ++boxes) {
    uint8_t h[16] = {};
    if (!ReadExactly(bytes, at, h, bytes.size - at >= 16 ? 16 : 8)) return ReadOutcome::kRefused;
    Reader in = {h, 16, 0, true};
    uint64_t size = in.U32(), header = 8;
    const bool meta = std::memcmp(h + 4, "meta", 4) == 0;
    if (size == 1) size = (in.at = 8, in.Number(8)), header = 16;
    if (size == 0) size = static_cast<uint64_t>(bytes.size - at);
    if (size < header || size > static_cast<uint64_t>(bytes.size - at)) return ReadOutcome::kRefused;
    if (meta) {
      if (size - header > static_cast<uint64_t>(kMetaCap)) return ReadOutcome::kRefused;
      metaAt = at + static_cast<int64_t>(header);
      try {
        buffer.resize(static_cast<size_t>(size - header));
      } catch (const std::bad_alloc&) {
        return ReadOutcome::kRefused;
      }
      if (!ReadExactly(bytes, metaAt, buffer.data(), static_cast<int32_t>(buffer.size()))) return ReadOutcome::kRefused;
      break;
    }
    at += static_cast<int64_t>(size);
  }
  Meta meta;
  try {
    if (metaAt < 0 || !ReadMeta({buffer.data(), buffer.size(), 0, true}, metaAt, buffer.data(), &meta)) {
      return ReadOutcome::kRefused;
    }
    const auto primary = meta.items.find(meta.primary);
    const Item* coded = nullptr;
    if (primary == meta.items.end() || !PictureOf(bytes, meta, meta.primary, &layout->colour, &coded) ||
        layout->colour.tiles.size() > static_cast<size_t>(kTileCap) ||
        !ReadColourProperties(meta, primary->second, *coded, layout)) {
      return ReadOutcome::kRefused;
    }
    const uint32_t alpha = AlphaOf(meta);
    const Item* alphaCoded = nullptr;
    if (alpha != 0) {
      if (!PictureOf(bytes, meta, alpha, &layout->alpha, &alphaCoded) ||
          layout->alpha.width != layout->colour.width || layout->alpha.height != layout->colour.height ||
          layout->alpha.tiles.size() > static_cast<size_t>(kTileCap)) {
        return ReadOutcome::kRefused;
      }
      for (const uint32_t to : ReferencesFrom(meta, meta.primary, "prem")) layout->premultiplied |= to == alpha;
    }
  } catch (const std::bad_alloc&) {
    return ReadOutcome::kRefused;
  }
  return ReadOutcome::kRead;
}
