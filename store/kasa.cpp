// The image store: one image in one block of zero-initialised memory, rows GetLineBytes() apart.
#include "kasa.h"

#include <cstdlib>
#include <cstring>

namespace {

int BitsFor(int type) {
  switch (static_cast<ImageType>(type)) {
    case ImageType::Rgb24:
      return 24;
    case ImageType::Gray8:
      return 8;
    case ImageType::Rgb48:
      return 48;
    case ImageType::Gray16:
      return 16;
  }
  return 0;
}

uint16_t LoadBigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void StoreBigEndian16(uint8_t* p, uint64_t v) {
  p[0] = static_cast<uint8_t>((v >> 8) & 0xFF);
  p[1] = static_cast<uint8_t>(v & 0xFF);
}

uint32_t Pack24(uint32_t r, uint32_t g, uint32_t b) {
  return (r << 16) | (g << 8) | b;
}

uint64_t Pack48(uint64_t r, uint64_t g, uint64_t b) {
  return r | (g << 16) | (b << 32);
}

}  // namespace

Kasa::Kasa() : type_(0), width_(0), height_(0), lineBytes_(0), bitCount_(0), bits_(nullptr) {}

Kasa::~Kasa() {
  Release();
}

void Kasa::Release() {
  std::free(bits_);
  bits_ = nullptr;
  type_ = 0;
  width_ = height_ = lineBytes_ = 0;
  bitCount_ = 0;
}

int32_t Kasa::GetImageWidth() const {
  return width_;
}
int32_t Kasa::GetImageHeight() const {
  return height_;
}
int Kasa::GetImageType() const {
  return type_;
}
int Kasa::IsEmpty() const {
  return bits_ == nullptr ? 1 : 0;
}
int Kasa::GetBitCount() const {
  return bitCount_;
}
int32_t Kasa::GetLineBytes() const {
  return lineBytes_;
}

bool Kasa::Contains(int32_t x, int32_t y) const {
  return bits_ != nullptr && x >= 0 && y >= 0 && x < width_ && y < height_;
}

bool Kasa::ContainsRange(int32_t x0, int32_t x1, int32_t y) const {
  return bits_ != nullptr && x0 >= 0 && x0 <= x1 && x1 < width_ && y >= 0 && y < height_;
}

uint8_t* Kasa::RowData(int32_t y) {
  if (bits_ == nullptr || y < 0 || y >= height_) return nullptr;
  return bits_ + static_cast<size_t>(y) * static_cast<size_t>(lineBytes_);
}

const uint8_t* Kasa::RowData(int32_t y) const {
  if (bits_ == nullptr || y < 0 || y >= height_) return nullptr;
  return bits_ + static_cast<size_t>(y) * static_cast<size_t>(lineBytes_);
}

int Kasa::Get24bitHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer, uint8_t*) {
  if (buffer == nullptr || type_ != static_cast<int>(ImageType::Rgb24)) return 0;
  if (!ContainsRange(x0, x1, y)) return 0;
  std::memcpy(buffer, RowData(y) + 3 * static_cast<size_t>(x0),
              3 * static_cast<size_t>(x1 - x0 + 1));
  return 1;
}

int Kasa::Put24bitHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer) {
  if (buffer == nullptr || type_ != static_cast<int>(ImageType::Rgb24)) return 0;
  if (!ContainsRange(x0, x1, y)) return 0;
  std::memmove(RowData(y) + 3 * static_cast<size_t>(x0), buffer,
               3 * static_cast<size_t>(x1 - x0 + 1));
  return 1;
}

int Kasa::GetGrayHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer, uint8_t*) {
  if (buffer == nullptr || type_ != static_cast<int>(ImageType::Gray8)) return 0;
  if (!ContainsRange(x0, x1, y)) return 0;
  std::memcpy(buffer, RowData(y) + x0, static_cast<size_t>(x1 - x0 + 1));
  return 1;
}

int Kasa::PutGrayHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer) {
  if (buffer == nullptr || type_ != static_cast<int>(ImageType::Gray8)) return 0;
  if (!ContainsRange(x0, x1, y)) return 0;
  std::memmove(RowData(y) + x0, buffer, static_cast<size_t>(x1 - x0 + 1));
  return 1;
}

int Kasa::GetHorLine(int32_t y, uint8_t* buffer) {
  uint8_t* row = RowData(y);
  if (row == nullptr || buffer == nullptr) return 0;
  std::memmove(buffer, row, static_cast<size_t>(lineBytes_));
  return 1;
}

int Kasa::PutHorLine(int32_t y, uint8_t* buffer) {
  uint8_t* row = RowData(y);
  if (row == nullptr || buffer == nullptr) return 0;
  std::memmove(row, buffer, static_cast<size_t>(lineBytes_));
  return 1;
}

int Kasa::PutHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer) {
  if (buffer == nullptr || !ContainsRange(x0, x1, y)) return 0;
  const size_t bytesPerPixel = static_cast<size_t>(bitCount_ / 8);
  std::memmove(RowData(y) + bytesPerPixel * static_cast<size_t>(x0), buffer,
               bytesPerPixel * static_cast<size_t>(x1 - x0 + 1));
  return 1;
}

uint32_t Kasa::GetPixel(int32_t x, int32_t y, int64_t* value) {
  if (!Contains(x, y)) {
    if (value != nullptr) *value = 0;
    return 0;
  }
  const uint8_t* row = RowData(y);
  uint32_t result = 0;
  int64_t full = 0;
  switch (static_cast<ImageType>(type_)) {
    case ImageType::Rgb24: {
      const uint8_t* p = row + 3 * static_cast<size_t>(x);
      result = Pack24(p[2], p[1], p[0]);
      full = result;
      break;
    }
    case ImageType::Gray8:
      result = row[x];
      full = result;
      break;
    case ImageType::Rgb48: {
      const uint8_t* p = row + 6 * static_cast<size_t>(x);
      result = Pack24(p[4], p[2], p[0]);
      full = static_cast<int64_t>(
          Pack48(LoadBigEndian16(p + 4), LoadBigEndian16(p + 2), LoadBigEndian16(p)));
      break;
    }
    case ImageType::Gray16:
      result = LoadBigEndian16(row + 2 * static_cast<size_t>(x));
      full = result;
      break;
  }
  if (value != nullptr) *value = full;
  return result;
}

int Kasa::SetPixel(int32_t x, int32_t y, int64_t value) {
  if (!Contains(x, y)) return 0;
  uint8_t* row = RowData(y);
  const uint64_t v = static_cast<uint64_t>(value);
  switch (static_cast<ImageType>(type_)) {
    case ImageType::Rgb24: {
      uint8_t* p = row + 3 * static_cast<size_t>(x);
      p[0] = static_cast<uint8_t>(v & 0xFF);
      p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
      p[2] = static_cast<uint8_t>((v >> 16) & 0xFF);
      break;
    }
    case ImageType::Gray8:
      row[x] = static_cast<uint8_t>(v & 0xFF);
      break;
    case ImageType::Rgb48: {
      uint8_t* p = row + 6 * static_cast<size_t>(x);
      StoreBigEndian16(p, v >> 32);
      StoreBigEndian16(p + 2, v >> 16);
      StoreBigEndian16(p + 4, v);
      break;
    }
    case ImageType::Gray16:
      StoreBigEndian16(row + 2 * static_cast<size_t>(x), v);
      break;
  }
  return 1;
}

uint32_t Kasa::GetPixelRGB(int32_t x, int32_t y, int64_t* value) {
  if (!Contains(x, y)) {
    if (value != nullptr) *value = 0;
    return 0;
  }
  const uint8_t* row = RowData(y);
  uint32_t result = 0;
  int64_t full = 0;
  switch (static_cast<ImageType>(type_)) {
    case ImageType::Rgb24:
    case ImageType::Rgb48:
      return GetPixel(x, y, value);
    case ImageType::Gray8: {
      const uint32_t g = row[x];
      result = Pack24(g, g, g);
      full = result;
      break;
    }
    case ImageType::Gray16: {
      const uint8_t* p = row + 2 * static_cast<size_t>(x);
      result = Pack24(p[0], p[0], p[0]);
      const uint64_t g = LoadBigEndian16(p);
      full = static_cast<int64_t>(Pack48(g, g, g));
      break;
    }
  }
  if (value != nullptr) *value = full;
  return result;
}

int Kasa::SetPixelRGB(int32_t x, int32_t y, int64_t value) {
  if (!Contains(x, y)) return 0;
  const uint64_t v = static_cast<uint64_t>(value);
  switch (static_cast<ImageType>(type_)) {
    case ImageType::Rgb24:
    case ImageType::Rgb48:
      return SetPixel(x, y, value);
    case ImageType::Gray8: {
      const uint64_t sum = ((v >> 16) & 0xFF) + ((v >> 8) & 0xFF) + (v & 0xFF);
      RowData(y)[x] = static_cast<uint8_t>((sum + 1) / 3);
      break;
    }
    case ImageType::Gray16: {
      const uint64_t sum = (v & 0xFFFF) + ((v >> 16) & 0xFFFF) + ((v >> 32) & 0xFFFF);
      StoreBigEndian16(RowData(y) + 2 * static_cast<size_t>(x), (sum + 1) / 3);
      break;
    }
  }
  return 1;
}

int Kasa::CreateImage(int type, int32_t width, int32_t height, int, RgbQuad*, uint32_t, uint32_t,
                      int, int, int) {
  const int bits = BitsFor(type);
  if (bits == 0 || width < 1 || height < 1) return 0;
  const int64_t lineBytes = (static_cast<int64_t>(width) * bits + 31) / 32 * 4;
  if (lineBytes > INT32_MAX) return 0;
  const int64_t total = lineBytes * height;
  // A 32-bit system cannot address 4 GiB: its size_t would wrap to a small allocation.
  if (total > MaxImageBytes() || static_cast<uint64_t>(total) > SIZE_MAX) return 0;
  void* memory = std::calloc(static_cast<size_t>(total), 1);
  if (memory == nullptr) return 0;
  Release();
  bits_ = static_cast<uint8_t*>(memory);
  type_ = type;
  width_ = width;
  height_ = height;
  lineBytes_ = static_cast<int32_t>(lineBytes);
  bitCount_ = bits;
  return 1;
}

void Kasa::DeleteImage(int) {
  Release();
}

int Kasa::GenerateImage(Kasa* source, int, int, int) {
  return CopyImage(source);
}

int Kasa::CopyImage(Kasa* source) {
  if (source == this) return 1;
  if (source == nullptr || source->IsEmpty()) return 0;
  const size_t total =
      static_cast<size_t>(source->lineBytes_) * static_cast<size_t>(source->height_);
  if (bits_ != nullptr && static_cast<size_t>(lineBytes_) * static_cast<size_t>(height_) == total) {
    // Same amount of pixel memory: copy into it, so that refreshing a destination from its
    // source costs no second image and cannot fail.
    std::memcpy(bits_, source->bits_, total);
  } else {
    void* memory = std::malloc(total);
    if (memory == nullptr) return 0;
    std::memcpy(memory, source->bits_, total);
    Release();
    bits_ = static_cast<uint8_t*>(memory);
  }
  type_ = source->type_;
  width_ = source->width_;
  height_ = source->height_;
  lineBytes_ = source->lineBytes_;
  bitCount_ = source->bitCount_;
  return 1;
}
