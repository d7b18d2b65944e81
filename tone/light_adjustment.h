// Light-source adjustment: white balance from one correlated colour temperature to another,
// through one look-up table per channel with a brightness (gamma) correction folded in.
#ifndef MARLO_TONE_LIGHT_ADJUSTMENT_H
#define MARLO_TONE_LIGHT_ADJUSTMENT_H

#include <cstdint>
#include <vector>

#include "frame/frame.h"

namespace marlo {

// One row of the daylight-locus table: temperature in kelvins and chromaticity x, y.
struct LocusRow {
  int32_t kelvin;
  double x;
  double y;
};

// The 62 rows of the table, in ascending order of temperature.
constexpr int kDaylightLocusRows = 62;
extern const LocusRow DaylightLocus[kDaylightLocusRows];

// Chromaticity of a temperature: the table's value, linearly interpolated between rows;
// temperatures beyond either end act as that end.
double LocusX(int32_t kelvin);
double LocusY(int32_t kelvin);

struct Xyz {
  float x, y, z;
};
// White point of chromaticity (x, y) with Y = 1: X = x / y, Z = (1 - x - y) / y, each evaluated
// in double precision and stored in single precision.
Xyz ChromaticityToXYZ(float x, float y);

// The per-channel values R'', G'', B'' (index 0 red, 1 green, 2 blue) and their largest, M.
struct ChannelGains {
  double value[3];
  double max;
};
// 8-bit gains: R'' and G'' are held in single precision, B'' and M in double.
ChannelGains Gains8(int32_t fromKelvin, int32_t toKelvin);
// 16-bit gains: all in double, R'', G'', B'' then truncated toward zero; M stays unrounded.
ChannelGains Gains16(int32_t fromKelvin, int32_t toKelvin);

// trunc(i * value / max) evaluated exactly (no rounding anywhere), clamped to 0..limit, for
// i in 0..2047 (the 8-bit tables use 0..255). `max` must be positive; a non-positive or
// non-finite `max` gives 0.
int32_t ExactScaledEntry(int32_t i, double value, double max, int32_t limit);

class CLightAdjustment {
 public:
  // Allocates the three 8-bit and the three 16-bit tables.
  CLightAdjustment();

  // Refuses (nothing written) a null or empty image, a source that is neither Rgb24 nor Rgb48,
  // and a destination of another type, width or height; otherwise makes the opening report,
  // builds the tables of the source's width and maps every row: Ok, or Aborted when the
  // callback stopped it.
  Status Run(Kasa* src, Kasa* dst, int32_t fromKelvin, int32_t toKelvin, ProgressCallback cb,
             int32_t start, int32_t end);

  // Fill the tables of one width for a pair of temperatures, gamma step included.
  void BuildTables8(int32_t fromKelvin, int32_t toKelvin);
  void BuildTables16(int32_t fromKelvin, int32_t toKelvin);

  // Channel 0 red, 1 green, 2 blue.
  const uint8_t* Table8(int channel) const { return tables8_[channel].data(); }
  const uint16_t* Table16(int channel) const { return tables16_[channel].data(); }

 private:
  std::vector<uint8_t> tables8_[3];
  std::vector<uint16_t> tables16_[3];
};

}  // namespace marlo

#endif  // MARLO_TONE_LIGHT_ADJUSTMENT_H
