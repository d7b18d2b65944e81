// Book effect: the picture redrawn across the two facing pages of an open book.
#ifndef MARLO_EFFECTS_BOOK_EFFECT_H
#define MARLO_EFFECTS_BOOK_EFFECT_H

#include <cstdint>

#include "frame/frame.h"

namespace marlo {

// The messages of the effect, shown through the message handler.
inline constexpr const char kBookImageError[] = "Image error !";
inline constexpr const char kBookAxisError[] = "Axis location is out of range !";
inline constexpr const char kBookFoldingError[] = "Folding degree is out of range !";
inline constexpr const char kBookSlantingError[] = "Slanting degree is out of range !";

// The smallest picture the page geometry works on: at least 40 columns (each page keeps a
// 20-column strip) and more than 20 rows (the droop is measured on H - 20 rows).
inline constexpr int32_t kBookMinWidth = 40;
inline constexpr int32_t kBookMinHeight = 21;

// The page geometry of a W x H picture. All integer divisions truncate toward zero.
struct BookGeometry {
  int64_t width;       // W
  int64_t height;      // H
  int64_t margin;      // F: white margin at each side, ((W / 2 - 20) * folding) / 100
  int64_t spine;       // X: spine column, ((W - 2F) * axis) / 100 + F
  int64_t droop;       // S: droop depth in rows, (slanting * (H - 20)) / 100
  int64_t leftWidth;   // Lw = X - F
  int64_t rightWidth;  // Rw = W - X - F
  int64_t leftInset;   // PL = ((Lw - 20) * S) / (H - 20), 0 when that is negative
  int64_t rightInset;  // PR = ((Rw - 20) * S) / (H - 20), 0 when that is negative
};

// Requires W >= kBookMinWidth, H >= kBookMinHeight and percentages of at most 100.
BookGeometry ComputeBookGeometry(int32_t width, int32_t height, uint16_t axis, uint16_t folding,
                                 uint16_t slanting);

class CBookEffect {
 public:
  // Checks the images and the three percentages (0..100), showing the effect's message and
  // returning Refused on the first failure; otherwise redraws the source into the destination,
  // which must already hold an image of the source's type and size (src == dst works).
  static Status Run(Kasa* src, Kasa* dst, uint16_t axis, uint16_t folding, uint16_t slanting);
};

}  // namespace marlo

#endif  // MARLO_EFFECTS_BOOK_EFFECT_H
