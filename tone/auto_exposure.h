// Auto exposure: every pixel goes to hue, saturation and intensity (HSI, hue by the arc-cosine
// formula); the intensity range is widened when it is narrow and reshaped by a power-law
// histogram equalisation; the pixels are rebuilt from the unchanged hue and saturation.
#ifndef MARLO_TONE_AUTO_EXPOSURE_H
#define MARLO_TONE_AUTO_EXPOSURE_H

#include <cstdint>
#include <vector>

#include "frame/frame.h"
#include "tone/hsi_model.h"

namespace marlo {

// Per-width constants of the engine. Intensities are the mean sample value in fixed point
// (times kFactor); saturation is in hundredths (8-bit) or tenths (16-bit).
template <class D>
struct ExposureDepth;
template <>
struct ExposureDepth<Depth8> {
  static constexpr int32_t kFactor = 100;
  static constexpr double kFactorD = 100.0;
  static constexpr int32_t kTop = 25599;        // last intensity table entry
  static constexpr int32_t kMeasureRun = 1600;  // 16 measuring bands
  static constexpr int32_t kBands = 64;         // equalisation bands of 400 entries
  static constexpr int32_t kNarrow = 245;       // narrower ranges are stretched
  static constexpr bool kReportAfterStretch = true;
  static constexpr int32_t kSaturationMax = 100;
  static constexpr double kSaturationScale = 0.01;  // double constant
  static constexpr float kIntensityScale = 0.01f;   // single-precision constant
};
template <>
struct ExposureDepth<Depth16> {
  static constexpr int32_t kFactor = 10;
  static constexpr double kFactorD = 10.0;
  static constexpr int32_t kTop = 655359;
  static constexpr int32_t kMeasureRun = 40960;
  static constexpr int32_t kBands = 1638;
  static constexpr int32_t kNarrow = 62965;  // 245 * 257
  static constexpr bool kReportAfterStretch = false;
  static constexpr int32_t kSaturationMax = 10;
  static constexpr double kSaturationScale = 0.1;
  static constexpr float kIntensityScale = 0.1f;
};

// Low and high 1 % levels of one histogram of max + 1 bins (FindLevels, one channel).
struct Levels {
  int32_t low, high;
};
Levels HistogramLevels(const int64_t* bins, int32_t max, int64_t threshold);

// The levels-stretch table over 0..top for the fixed-point points white > black.
void BuildStretchTable(int32_t white, int32_t black, float factor, int32_t top, int32_t* table);

// The strength rule: an exact 1.0 or 0.0 becomes an automatic strength from the shares of the
// two darkest and two brightest of the 16 bands; any other value is kept.
float StrengthForShares(float strength, const float shares[16]);

// The power-law equalisation curve over 0..top from the intensity histogram.
void BuildEqualisationCurve(const int64_t* histogram, int64_t pixels, float strength, int32_t bands,
                            int32_t top, int32_t* curve);

// The engine. One object runs once per call (or once per run of auto enhancement); every run
// starts and ends with Clear, so nothing carries over.
class CAutoExposure {
 public:
  CAutoExposure();
  ~CAutoExposure();
  CAutoExposure(const CAutoExposure&) = delete;
  CAutoExposure& operator=(const CAutoExposure&) = delete;

  // Runs the worker of the source's width. Refused at once, without a report, for a null source
  // or a type other than the four.
  Status Run(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
             int32_t start, int32_t end);
  // The workers. Reports (start, end, value) with value 0 first, then fixed fractions of end,
  // then end; the callback's result is ignored. Refused (after the opening report) for a null or
  // empty image, a destination of another type or size, or a type not of the worker's width;
  // NoMemory for an image whose work planes would not fit the address space (PlanesFit) or when
  // the tables cannot be had; Changed when a callback changed an image. The destination is
  // written only by the last stage, so src == dst works and a refusal writes nothing.
  Status Expose8(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
                 int32_t start, int32_t end);
  Status Expose16(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
                  int32_t start, int32_t end);
  // Every field back to its default; the tables released.
  void Clear();

 private:
  template <class D>
  Status Expose(Kasa* src, Kasa* dst, int32_t useStrength, float strength, ProgressCallback cb,
                int32_t start, int32_t end);
  template <class D>
  Status Stages(Progress& progress);
  bool PlanesFit() const;
  // The stages. CountSource reads the source once for the channel histograms (the 1 % levels)
  // and the pixel counts per intensity key; BuildIntensityHistogram turns those into the
  // histogram of intensities; StretchLevels, MeasureBands and EqualizeIntensity act on that
  // histogram and on `intensityMap_`, which takes a built intensity to its current value;
  // WriteRows reads the source again and rebuilds every pixel from its hue, saturation and
  // mapped intensity. The results are those of the definition, which stores the three planes
  // and rewrites the intensity plane at every stage.
  template <class D>
  void CountSource();
  template <class D>
  int32_t IntensityOfKey(int32_t key) const;
  template <class D>
  void BuildIntensityHistogram();
  template <class D>
  void StretchLevels();
  template <class D>
  void MeasureBands();
  template <class D>
  void EqualizeIntensity();
  template <class D>
  void WriteRows();

  Kasa* source_;
  Kasa* destination_;
  int32_t useStrength_;
  float strength_;
  int32_t width_;
  int32_t height_;
  int32_t imageType_;
  int32_t whitePoint_;
  int32_t blackPoint_;
  float stretchFactor_;
  float bandShares_[16];
  // Tables of one run. An intensity key is the sample sum of an RGB pixel and the sample of a
  // grey one; `keyCounts_` holds the number of pixels of each key.
  std::vector<int64_t> keyCounts_;
  std::vector<int64_t> histogram_;
  std::vector<int32_t> intensityMap_;
};

}  // namespace marlo

#endif  // MARLO_TONE_AUTO_EXPOSURE_H
