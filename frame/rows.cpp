#include "frame/rows.h"

#include <cstring>

#include "frame/threads.h"

namespace marlo {

int SamplesPerPixel(const Kasa& image) {
  return IsColorType(image.GetImageType()) ? 3 : 1;
}

uint8_t* StoredRow(Kasa& image, int32_t y) {
  return image.RowData(y);
}

const uint8_t* StoredRow(const Kasa& image, int32_t y) {
  return image.RowData(y);
}

void CopyRow(const Kasa& src, Kasa& dst, int32_t y) {
  const uint8_t* in = src.RowData(y);
  uint8_t* out = dst.RowData(y);
  if (in == nullptr || out == nullptr || in == out || src.GetLineBytes() != dst.GetLineBytes()) {
    return;
  }
  std::memcpy(out, in, static_cast<size_t>(src.GetLineBytes()));
}

void CopyRows(const Kasa& src, Kasa& dst) {
  if (&src == &dst) return;
  const RowBands bands(src.GetImageHeight(), 2 * static_cast<size_t>(src.GetLineBytes()));
  bands.Run(nullptr, [&](Band& band) {
    for (int32_t y = band.first(); y < band.end(); ++y) CopyRow(src, dst, y);
  });
}

SourceRows::SourceRows(const Kasa& image, int32_t first, int32_t last, bool copy) : first_(first) {
  const size_t rows = last >= first ? static_cast<size_t>(last - first) + 1 : 0;
  const size_t lineBytes = static_cast<size_t>(image.GetLineBytes());
  rows_.resize(rows);
  if (copy) copy_.resize(rows * lineBytes);
  for (size_t i = 0; i < rows; ++i) {
    const uint8_t* row = image.RowData(first + static_cast<int32_t>(i));
    if (copy) {
      std::memcpy(copy_.data() + i * lineBytes, row, lineBytes);
      row = copy_.data() + i * lineBytes;
    }
    rows_[i] = row;
  }
}

template <>
size_t RowSamples<Depth8>(const Kasa& image) {
  return static_cast<size_t>(image.GetImageWidth()) * static_cast<size_t>(SamplesPerPixel(image));
}

template <>
size_t RowSamples<Depth16>(const Kasa& image) {
  return static_cast<size_t>(image.GetLineBytes() / 2);
}

template <>
void ReadRow<Depth8>(Kasa& image, int32_t y, uint8_t* row) {
  const int32_t last = image.GetImageWidth() - 1;
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Get24bitHorLine(0, last, y, row, nullptr);
  } else {
    image.GetGrayHorLine(0, last, y, row, nullptr);
  }
}

template <>
void WriteRow<Depth8>(Kasa& image, int32_t y, uint8_t* row) {
  const int32_t last = image.GetImageWidth() - 1;
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Put24bitHorLine(0, last, y, row);
  } else {
    image.PutGrayHorLine(0, last, y, row);
  }
}

namespace {

// Stored 16-bit samples (most significant byte first) to machine order and back, in one pass
// between the image's memory and a row buffer. Written so that the compiler vectorises them.
void LoadSamples16(const uint8_t* stored, uint16_t* row, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint16_t v;
    std::memcpy(&v, stored + 2 * i, 2);
    row[i] = static_cast<uint16_t>((v >> 8) | (v << 8));
  }
}

void StoreSamples16(const uint16_t* row, uint8_t* stored, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint16_t>((row[i] >> 8) | (row[i] << 8));
    std::memcpy(stored + 2 * i, &v, 2);
  }
}

}  // namespace

template <>
void ReadRow<Depth16>(Kasa& image, int32_t y, uint16_t* row) {
  const uint8_t* stored = image.RowData(y);
  const size_t n = RowSamples<Depth16>(image);
  if (stored == nullptr) {
    // A row the store does not have leaves the buffer as a refused line read does, swapped.
    for (size_t i = 0; i < n; ++i) row[i] = static_cast<uint16_t>((row[i] >> 8) | (row[i] << 8));
    return;
  }
  LoadSamples16(stored, row, n);
}

template <>
void WriteRow<Depth16>(Kasa& image, int32_t y, uint16_t* row) {
  uint8_t* stored = image.RowData(y);
  if (stored != nullptr) StoreSamples16(row, stored, RowSamples<Depth16>(image));
}

template <>
void WritePixels<Depth8>(Kasa& image, int32_t y, int32_t x0, int32_t x1, uint8_t* row) {
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Put24bitHorLine(x0, x1, y, row + 3 * static_cast<size_t>(x0));
  } else {
    image.PutGrayHorLine(x0, x1, y, row + x0);
  }
}

template <>
void WritePixels<Depth16>(Kasa& image, int32_t y, int32_t x0, int32_t x1, uint16_t* row) {
  uint8_t* stored = image.RowData(y);
  if (stored == nullptr || x0 < 0 || x1 < x0 || x1 >= image.GetImageWidth()) return;
  const size_t spp = static_cast<size_t>(SamplesPerPixel(image));
  const size_t first = spp * static_cast<size_t>(x0);
  const size_t n = spp * (static_cast<size_t>(x1) - static_cast<size_t>(x0) + 1);
  StoreSamples16(row + first, stored + 2 * first, n);
}

}  // namespace marlo
