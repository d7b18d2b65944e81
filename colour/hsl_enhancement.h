// HSL enhancement: hue offsets, saturation and lightness changes for all colours (index 0) and
// for six colour ranges around the hue wheel (1 red, 2 yellow, 3 green, 4 cyan, 5 blue,
// 6 magenta), with 30-degree ramps between neighbouring ranges.
//
// The per-pixel function is sampled on a 16 x 16 x 16 lattice of RGB values when the
// parameters are set, and pixels are mapped through the lattice by trilinear interpolation.
// When the lattice tables cannot be allocated every pixel is computed directly instead.
#ifndef MARLO_COLOUR_HSL_ENHANCEMENT_H
#define MARLO_COLOUR_HSL_ENHANCEMENT_H

#include <cstdint>
#include <memory>

#include "frame/frame.h"

namespace marlo {

// The 21 parameter values: index 0 master, 1..6 the colour ranges.
struct HslParameters {
  int32_t hue[7] = {0, 0, 0, 0, 0, 0, 0};         // degrees
  int32_t saturation[7] = {0, 0, 0, 0, 0, 0, 0};  // percent
  int32_t lightness[7] = {0, 0, 0, 0, 0, 0, 0};   // percent
};

// The value of the colour ranges of `values` (indexes 1..6) at a hue of 0..359: the range's own
// value on its plateau; on a ramp from range i (below) to range j (above) with ends lo and
// hi = lo + 30, (values[i] * (hi - hue)) / 30 + (values[j] * (hue - lo)) / 30, each quotient
// truncated toward zero on its own.
int64_t RangeValue(const int32_t values[7], int32_t hue);

// The direct per-pixel function (red, green, blue adjusted in place).
void AdjustPixel8(const HslParameters& p, uint8_t* red, uint8_t* green, uint8_t* blue);
void AdjustPixel16(const HslParameters& p, uint16_t* red, uint16_t* green, uint16_t* blue);

class CHSLEnhancement {
 public:
  // Number of lattice entries per table and lattice points per axis.
  static constexpr int kPoints = 16;
  static constexpr int kEntries = kPoints * kPoints * kPoints;

  // Allocates both lattice tables; without them (allocation failed, or `useTables` false, which
  // the tests use to force the direct path) every pixel is computed directly.
  explicit CHSLEnhancement(bool useTables = true);

  // Copies the 21 values (no range check) and, when the tables exist, rebuilds the 8-bit and
  // then the 16-bit table. Returns 0 (and changes nothing) when a pointer is null, else 1.
  int SetParameters(const int32_t* hue, const int32_t* saturation, const int32_t* lightness);

  // The run of the wait-cursor filters (RunWithWaitCursor) on 24-bit and 48-bit RGB.
  Status Run(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) const;

  bool HasTables() const { return tables_; }
  const HslParameters& parameters() const { return params_; }
  // Lattice entry (kr, kg, kb) as red, green, blue; only valid when HasTables().
  const uint8_t* Entry8(int kr, int kg, int kb) const;
  const uint16_t* Entry16(int kr, int kg, int kb) const;

  // One pixel through the lattice (trilinear), or directly when there are no tables (or they
  // have not been built yet because SetParameters was not called).
  void Pixel8(uint8_t* red, uint8_t* green, uint8_t* blue) const;
  void Pixel16(uint16_t* red, uint16_t* green, uint16_t* blue) const;

  // The row workers: Ok when every row was written, Aborted when the callback stopped them.
  // The progress report of a row falls after the row is written.
  Status Enhance8(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) const;
  Status Enhance16(Kasa* src, Kasa* dst, ProgressCallback cb, int32_t start, int32_t end) const;

 private:
  void BuildTables();

  HslParameters params_;
  bool tables_ = false;                  // both tables allocated
  bool filled_ = false;                  // and built for the current parameters (by SetParameters)
  std::unique_ptr<uint8_t[]> table8_;    // kEntries x (red, green, blue)
  std::unique_ptr<uint16_t[]> table16_;  // kEntries x (red, green, blue)
};

}  // namespace marlo

#endif  // MARLO_COLOUR_HSL_ENHANCEMENT_H
