// Every access of the library to an image's stored rows: rows read into buffers in the machine's
// byte order and written back, pixels written from such a buffer, and the stored bytes
// themselves for the code that moves whole rows or whole pixels. No filter touches the image
// store's memory (Kasa::RowData) except through here.
//
// Each operation names the image and the row it works on and keeps nothing between calls, so
// that any band of rows [y0, y1) can be worked on its own.
#ifndef MARLO_FRAME_ROWS_H
#define MARLO_FRAME_ROWS_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/types.h"

namespace marlo {

// Samples per pixel of an image: 3 for RGB, 1 for grey.
int SamplesPerPixel(const Kasa& image);

// Row access in machine order. An 8-bit row is width * spp samples read through the 24-bit or
// grey line operation; a 16-bit row is the whole raw line (GetLineBytes / 2 samples, padding
// included) read from the stored bytes and swapped into machine order.
template <class D>
size_t RowSamples(const Kasa& image);

template <class D>
void ReadRow(Kasa& image, int32_t y, typename D::Sample* row);

// Writes a row given in machine order. The 16-bit form swaps the samples into the store's order
// on their way out, so the buffer holds the same values afterwards.
template <class D>
void WriteRow(Kasa& image, int32_t y, typename D::Sample* row);

// Writes pixels x0 to x1 of row y from a row buffer in machine order laid out as ReadRow
// fills it (pixel x at sample x * spp); the rest of the stored row is left as it was. The caller
// passes 0 <= x0 <= x1 < width. The buffer holds the same values afterwards.
template <class D>
void WritePixels(Kasa& image, int32_t y, int32_t x0, int32_t x1, typename D::Sample* row);

// A row buffer of the right size for `image`, with four samples of slack beyond the row. When
// memory is short it throws std::bad_alloc, which the export's Guard turns into the failure
// result before anything is written.
template <class D>
std::vector<typename D::Sample> AllocateRow(const Kasa& image) {
  std::vector<typename D::Sample> row;
  row.resize(RowSamples<D>(image) + 4);
  return row;
}

// The stored bytes of row y (GetLineBytes() of them, in the store's layout), or null outside
// the image.
uint8_t* StoredRow(Kasa& image, int32_t y);
const uint8_t* StoredRow(const Kasa& image, int32_t y);

// Copies the stored row y of `src` into `dst`, padding included. Nothing happens unless both
// images have that row and rows of the same length.
void CopyRow(const Kasa& src, Kasa& dst, int32_t y);
// Every row (src == dst copies nothing), in bands over the run's threads.
void CopyRows(const Kasa& src, Kasa& dst);

// The stored rows first to last of an image, for code that reads its source at arbitrary
// positions (the distortion effects). A run in place reads a copy taken before the first write;
// otherwise the rows are read where they are stored.
class SourceRows {
 public:
  SourceRows(const Kasa& image, int32_t first, int32_t last, bool copy);

  // Row y (between first and last).
  const uint8_t* operator[](int64_t y) const { return rows_[static_cast<size_t>(y - first_)]; }

 private:
  int32_t first_;
  std::vector<uint8_t> copy_;
  std::vector<const uint8_t*> rows_;
};

}  // namespace marlo

#endif  // MARLO_FRAME_ROWS_H
