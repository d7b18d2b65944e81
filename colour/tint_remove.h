// Colour tint removal: a reference point marked as neutral grey sets one cubic-spline tone curve
// per channel that carries the reference's colour to the grey of the same lightness.
#ifndef MARLO_COLOUR_TINT_REMOVE_H
#define MARLO_COLOUR_TINT_REMOVE_H

#include <cstdint>
#include <vector>

#include "frame/frame.h"

namespace marlo {

// The knots of three tone curves (channel 0 red, 1 green, 2 blue): a knot count per channel,
// then three positions per channel, then three values per channel, each a sample-sized number.
template <class Sample>
struct CurveDefinition {
  static constexpr int kMaxKnots = 3;
  Sample count[3];
  Sample position[3][kMaxKnots];
  Sample value[3][kMaxKnots];
};
using CurveDefinition8 = CurveDefinition<uint8_t>;
using CurveDefinition16 = CurveDefinition<uint16_t>;

class CColorTintRemove {
 public:
  // Allocates the three 16-bit tables; the reference point starts at (0, 0).
  CColorTintRemove();

  // Stores the reference point. Always 1 (the point is checked by Run).
  int SetParameters(const int32_t* x, const int32_t* y);

  // Refuses a reference point outside the source (nothing created or written), then the run of
  // the wait-cursor filters (RunWithWaitCursor) on 24-bit and 48-bit RGB: Ok also when nothing
  // was changed.
  Status Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

  // The workers (the images checked by Run): Ok when every row was written or when the
  // reference decides that nothing is to change (then nothing is written and no closing
  // report is made); Aborted when the callback stopped them; Refused, before anything is
  // reported, for a reference point outside the source.
  Status RemoveTint8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);
  Status RemoveTint16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);

  // Fill one table (256 or 65,536 entries) with the cubic spline through the knots of
  // `channel`. The positions must increase strictly and there must be 2 or 3 knots; any other
  // definition leaves the identity in the table.
  static void BuildCurve8(uint8_t* table, CurveDefinition8 curve, int channel);
  static void BuildCurve16(uint16_t* table, CurveDefinition16 curve, int channel);

  // The saturation of the reference colour found by the last run (0..100).
  int32_t ReferenceSaturation() const { return referenceSaturation_; }
  // The tables of the last run that got past the reference tests; channel 0 red, 1 green,
  // 2 blue.
  const uint8_t* Table8(int channel) const { return tables8_[channel]; }
  const uint16_t* Table16(int channel) const { return tables16_[channel].data(); }

 private:
  template <class D>
  Status RemoveTint(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end);
  template <class D>
  typename D::Sample* Table(int channel);

  int32_t x_ = 0;
  int32_t y_ = 0;
  uint8_t tables8_[3][256] = {};
  std::vector<uint16_t> tables16_[3];
  int32_t referenceSaturation_ = 0;
};

}  // namespace marlo

#endif  // MARLO_COLOUR_TINT_REMOVE_H
