// The original rows around the bands of a run in place, for the filters that read the rows
// above and below the one they write (image focus, despeckle). In place, a band cannot read the
// rows just outside it from the image: the neighbouring bands may have written them already.
#ifndef MARLO_FRAME_BAND_EDGES_H
#define MARLO_FRAME_BAND_EDGES_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "frame/rows.h"
#include "frame/threads.h"

namespace marlo {

template <class D>
class BandEdges {
 public:
  using Sample = typename D::Sample;

  // When `inPlace` and the run has more than one band, takes the memory for the row just above
  // every band but the first and the row just below every band but the last (std::bad_alloc
  // when memory is short); otherwise keeps nothing.
  BandEdges(const Kasa& image, const RowBands& bands, bool inPlace)
      : rowSamples_(RowSamples<D>(image) + 4), bands_(bands) {
    if (inPlace && bands.count() > 1)
      rows_.resize(2 * static_cast<size_t>(bands.count()) * rowSamples_);
  }

  // Reads those rows, as ReadRow gives them, spread over the run's threads. Called once the
  // image holds what the run is to read and before any band writes.
  void Read(Kasa& image) {
    if (rows_.empty()) return;
    RowBands::Chunks(bands_.count()).Run(nullptr, [&](Band& chunk) {
      const int32_t b = chunk.index();
      if (b > 0) ReadRow<D>(image, bands_.first(b) - 1, Row(b, 0));
      if (b + 1 < bands_.count()) ReadRow<D>(image, bands_.end(b), Row(b, 1));
    });
  }

  // Moves a band's window of three rows (as AllocateRow gives them) to row y of the band: on
  // the band's first row it reads that row and the one above (row 0 is its own row above), on
  // later rows the window turns by pointer exchange; then it reads the row below (the last row
  // is its own row below). A band reads row y + 1 before it writes row y and takes the rows just
  // outside it from the kept edges, so the work may be done in place.
  void Slide(Kasa& image, const Band& band, int32_t y, Sample*& above, Sample*& current,
             Sample*& below) const {
    const auto neighbour = [&](int32_t row, const Sample* edge, Sample* into) {
      if (edge != nullptr) {
        std::copy(edge, edge + rowSamples_, into);
      } else {
        ReadRow<D>(image, row, into);
      }
    };
    if (y == band.first()) {
      ReadRow<D>(image, y, current);
      if (y == 0) {
        std::copy(current, current + rowSamples_, above);
      } else {
        neighbour(y - 1, Above(band.index()), above);
      }
    } else {
      Sample* const freed = above;
      above = current;
      current = below;
      below = freed;
    }
    if (y + 1 >= image.GetImageHeight()) {
      std::copy(current, current + rowSamples_, below);
    } else if (y + 1 < band.end()) {
      ReadRow<D>(image, y + 1, below);
    } else {
      neighbour(y + 1, Below(band.index()), below);
    }
  }

  // Row samples of each kept row (as AllocateRow gives a buffer).
  size_t rowSamples() const { return rowSamples_; }

  // The original row bands.first(b) - 1, or null when the image itself is to be read (a run not
  // in place or of one band, or the first band, which has no row above).
  const Sample* Above(int32_t b) const { return rows_.empty() || b == 0 ? nullptr : Row(b, 0); }
  // The original row bands.end(b), or null as above (the last band has no row below).
  const Sample* Below(int32_t b) const {
    return rows_.empty() || b + 1 >= bands_.count() ? nullptr : Row(b, 1);
  }

 private:
  Sample* Row(int32_t b, int side) {
    return rows_.data() + (2 * static_cast<size_t>(b) + side) * rowSamples_;
  }
  const Sample* Row(int32_t b, int side) const {
    return rows_.data() + (2 * static_cast<size_t>(b) + side) * rowSamples_;
  }

  size_t rowSamples_;
  RowBands bands_;
  std::vector<Sample> rows_;
};

}  // namespace marlo

#endif  // MARLO_FRAME_BAND_EDGES_H
