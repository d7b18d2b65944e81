// Auto exposure (AutoExposure) on all four image types.
#include "tone/auto_exposure.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

#include "frame/split_counters.h"
#include "frame/threads.h"

namespace marlo {

namespace {

// trunc(end * fraction): the engine's reports are fractions of end, whatever start is.
int32_t FractionOfEnd(int32_t end, double fraction) {
  return static_cast<int32_t>(static_cast<double>(end) * fraction);
}

}  // namespace

Levels HistogramLevels(const int64_t* bins, int32_t max, int64_t threshold) {
  int32_t level = 0;
  int64_t sum = 0;
  while (sum < threshold && level <= max) sum += bins[level++];
  Levels levels{std::max(level - 1, 0), 0};
  level = max;
  sum = 0;
  while (sum < threshold && level >= 0) sum += bins[level--];
  levels.high = std::min(level + 1, max);
  if (levels.low >= levels.high) {
    if (levels.high == 0) levels.high = 1;
    levels.low = levels.high - 1;
  }
  return levels;
}

void BuildStretchTable(int32_t white, int32_t black, float factor, int32_t top, int32_t* table) {
  const double f = factor;
  const int32_t newWhite = white + static_cast<int32_t>(static_cast<double>(top - white) * f);
  const int32_t newBlack = black - static_cast<int32_t>(f * static_cast<double>(black));
  const int64_t span = white - black;  // at least one level (100 or 10 units)
  for (int32_t i = 0; i < black; ++i) table[i] = newBlack;
  for (int32_t k = 0; k <= white - black; ++k) {
    table[black + k] = newBlack + static_cast<int32_t>((int64_t{newWhite - newBlack} * k) / span);
  }
  for (int32_t i = white + 1; i <= top; ++i) table[i] = newWhite;
}

float StrengthForShares(float strength, const float shares[16]) {
  // The sum is formed in single precision; the thresholds are double constants.
  const float bright = shares[15] + shares[14];
  const float dark = shares[1] + shares[0];
  const float s = bright + dark;
  const double sum = s;
  const int32_t percent = static_cast<int32_t>(sum * 100.0);
  if (strength == 1.0f) {
    if (sum < 0.6) return 0.6f;
    if (sum > 0.75) return 0.75f;
    return static_cast<float>(percent * static_cast<double>(0.01f));
  }
  if (strength == 0.0f) {
    if (sum > 0.75) return static_cast<float>(percent * static_cast<double>(0.0033333334f));
    if (sum < 0.5) return 0.25f;
    return static_cast<float>(percent * static_cast<double>(0.005f));
  }
  return strength;
}

void BuildEqualisationCurve(const int64_t* histogram, int64_t pixels, float strength, int32_t bands,
                            int32_t top, int32_t* curve) {
  constexpr int32_t kRun = 400;
  std::vector<float> q(static_cast<size_t>(bands));
  float total = 0.0f;
  for (int32_t b = 0; b < bands; ++b) {
    int64_t count = 0;
    for (int32_t j = 0; j < kRun; ++j) count += histogram[b * kRun + j];
    const float p = static_cast<float>(static_cast<double>(count) / static_cast<double>(pixels));
    // An empty band adds nothing (the strength is never 0 here, so p^strength would be 0 too).
    q[static_cast<size_t>(b)] =
        p == 0.0f
            ? 0.0f
            : static_cast<float>(std::pow(static_cast<double>(p), static_cast<double>(strength)));
    total = total + q[static_cast<size_t>(b)];
  }
  const double range = static_cast<double>(top) + 1.0;
  std::vector<int32_t> level(static_cast<size_t>(bands));
  int32_t previous = 0;
  for (int32_t b = 0; b < bands; ++b) {
    int32_t add = 0;
    if (total != 0.0f) {
      const float share = q[static_cast<size_t>(b)] / total;
      add = static_cast<int32_t>(static_cast<double>(share) * range);
    }
    previous = std::min(previous + add, top);
    level[static_cast<size_t>(b)] = previous;
  }
  level[static_cast<size_t>(bands - 1)] = top;
  previous = 0;
  for (int32_t b = 0; b < bands; ++b) {
    const int64_t rise = int64_t{level[static_cast<size_t>(b)]} - previous;
    for (int32_t j = 0; j < kRun; ++j) {
      curve[b * kRun + j] = previous + static_cast<int32_t>(rise * j / kRun);
    }
    previous = level[static_cast<size_t>(b)];
  }
  for (int32_t i = bands * kRun; i <= top; ++i) curve[i] = top;  // beyond the last band, and top
}

CAutoExposure::CAutoExposure() {
  Clear();
}

CAutoExposure::~CAutoExposure() {
  Clear();
}

void CAutoExposure::Clear() {
  source_ = nullptr;
  destination_ = nullptr;
  useStrength_ = 0;
  strength_ = 0.5f;
  width_ = 0;
  height_ = 0;
  imageType_ = static_cast<int32_t>(ImageType::Rgb24);
  whitePoint_ = 255;
  blackPoint_ = 0;
  stretchFactor_ = 1.0f;
  std::fill(bandShares_, bandShares_ + 16, 0.0f);
  std::vector<int64_t>().swap(keyCounts_);
  std::vector<int64_t>().swap(histogram_);
  std::vector<int32_t>().swap(intensityMap_);
}

bool CAutoExposure::PlanesFit() const {
  // The engine is defined with three planes of 4 bytes per pixel (hue, saturation, intensity)
  // held for the run. It computes those values again from each source row it rebuilds, which
  // costs less than storing and reading back 12 bytes per pixel, but it refuses an image whose
  // planes would not fit the address space together, as the run could not have had them.
  const uint64_t pixels = static_cast<uint64_t>(width_) * static_cast<uint64_t>(height_);
  return pixels <= static_cast<uint64_t>(PTRDIFF_MAX) / 12;
}

template <class D>
void CAutoExposure::CountSource() {
  using Sample = typename D::Sample;
  const size_t width = static_cast<size_t>(width_);
  const bool colour = SamplesPerPixel(*source_) == 3;
  const size_t bins = static_cast<size_t>(D::kMax) + 1;
  // An intensity is a function of one key: the sample sum of an RGB pixel, the sample of a grey
  // one (whose key counts are then its channel histogram too).
  const size_t keys = colour ? 3 * bins - 2 : bins;
  const size_t channels = colour ? 3 * bins : 0;
  // Each copy of the counters holds the three channel histograms (RGB only), then the key
  // counts. 8-bit pixels alternate between two copies, so that a run of equal pixels, common in
  // photographs, does not wait for one counter's previous increment. The counters are 32-bit,
  // few enough to stay in cache, and are added into the 64-bit totals before they could
  // overflow.
  // Each thread of the run counts its bands into its own counters; the threads' totals are
  // added in slot order.
  constexpr size_t kCopies = D::kBits == 8 ? 2 : 1;
  const size_t span = channels + keys;
  const RowBands bands(height_, static_cast<size_t>(source_->GetLineBytes()));
  const size_t slots = static_cast<size_t>(bands.slots());
  std::vector<SplitCounters<int64_t>> perSlot;
  perSlot.reserve(slots);
  for (size_t k = 0; k < slots; ++k) perSlot.emplace_back(span, kCopies);
  std::vector<std::vector<Sample>> rows(slots);
  for (auto& row : rows) row = AllocateRow<D>(*source_);

  bands.Run(nullptr, [&](Band& band) {
    SplitCounters<int64_t>& counters = perSlot[static_cast<size_t>(band.slot())];
    Sample* row = rows[static_cast<size_t>(band.slot())].data();
    for (int32_t y = band.first(); y < band.end(); ++y) {
      ReadRow<D>(*source_, y, row);
      counters.Expect(width);
      const Sample* p = row;
      size_t x = 0;
      if (colour) {
        const auto count = [&](uint32_t* c, const Sample* q) {
          ++c[q[0]];
          ++c[bins + q[1]];
          ++c[2 * bins + q[2]];
          ++c[channels + static_cast<size_t>(q[0]) + q[1] + q[2]];
        };
        for (; x + kCopies <= width; x += kCopies) {
          for (size_t copy = 0; copy < kCopies; ++copy) {
            count(counters.Copy(copy), p + 3 * (x + copy));
          }
        }
        for (; x < width; ++x) count(counters.Copy(0), p + 3 * x);
      } else {
        for (; x + kCopies <= width; x += kCopies) {
          for (size_t copy = 0; copy < kCopies; ++copy) ++counters.Copy(copy)[p[x + copy]];
        }
        uint32_t* c = counters.Copy(0);
        for (; x < width; ++x) ++c[p[x]];
      }
    }
  });
  // Each slot's counters carry over from band to band and are flushed once, after the run.
  std::vector<int64_t> totals(span, 0);
  for (auto& slot : perSlot) {
    slot.Flush();
    for (size_t k = 0; k < span; ++k) totals[k] += slot.totals()[k];
  }

  // The 1 % levels of each channel.
  const int64_t threshold = int64_t{width_} * height_ / 100;
  const int spp = colour ? 3 : 1;
  for (int c = 0; c < spp; ++c) {
    const int64_t* histogram =
        colour ? totals.data() + bins * static_cast<size_t>(c) : totals.data();
    const Levels levels = HistogramLevels(histogram, D::kMax, threshold);
    if (c == 0 || levels.low < blackPoint_) blackPoint_ = levels.low;
    if (c == 0 || levels.high > whitePoint_) whitePoint_ = levels.high;
  }
  keyCounts_.assign(totals.begin() + static_cast<std::ptrdiff_t>(channels), totals.end());
}

template <class D>
int32_t CAutoExposure::IntensityOfKey(int32_t key) const {
  using E = ExposureDepth<D>;
  return IsColorType(imageType_) ? HsiIntensity(key, E::kFactorD) : key * E::kFactor;
}

template <class D>
void CAutoExposure::BuildIntensityHistogram() {
  using E = ExposureDepth<D>;
  histogram_.assign(static_cast<size_t>(E::kTop) + 1, 0);
  for (size_t k = 0; k < keyCounts_.size(); ++k) {
    histogram_[static_cast<size_t>(IntensityOfKey<D>(static_cast<int32_t>(k)))] += keyCounts_[k];
  }
  intensityMap_.resize(static_cast<size_t>(E::kTop) + 1);
  for (int32_t i = 0; i <= E::kTop; ++i) intensityMap_[static_cast<size_t>(i)] = i;
}

template <class D>
void CAutoExposure::StretchLevels() {
  using E = ExposureDepth<D>;
  std::vector<int32_t> table(static_cast<size_t>(E::kTop) + 1);
  BuildStretchTable(whitePoint_ * E::kFactor, blackPoint_ * E::kFactor, stretchFactor_, E::kTop,
                    table.data());
  // Every intensity is replaced by its table entry: so is the histogram, and the map.
  std::vector<int64_t> stretched(histogram_.size(), 0);
  for (size_t i = 0; i < histogram_.size(); ++i) {
    if (histogram_[i] != 0) stretched[static_cast<size_t>(table[i])] += histogram_[i];
  }
  histogram_.swap(stretched);
  for (int32_t& v : intensityMap_) v = table[static_cast<size_t>(v)];
}

template <class D>
void CAutoExposure::MeasureBands() {
  using E = ExposureDepth<D>;
  const double pixels = static_cast<double>(int64_t{width_} * height_);
  for (int32_t band = 0; band < 16; ++band) {
    int64_t count = 0;
    for (int32_t j = 0; j < E::kMeasureRun; ++j) {
      count += histogram_[static_cast<size_t>(band * E::kMeasureRun + j)];
    }
    bandShares_[band] = static_cast<float>(static_cast<double>(count) / pixels);
  }
}

template <class D>
void CAutoExposure::EqualizeIntensity() {
  using E = ExposureDepth<D>;
  std::vector<int32_t> curve(static_cast<size_t>(E::kTop) + 1);
  BuildEqualisationCurve(histogram_.data(), int64_t{width_} * height_, strength_, E::kBands,
                         E::kTop, curve.data());
  for (int32_t& v : intensityMap_) v = curve[static_cast<size_t>(v)];
}

template <class D>
void CAutoExposure::WriteRows() {
  using Sample = typename D::Sample;
  using E = ExposureDepth<D>;
  constexpr int32_t kSaturations = E::kSaturationMax + 1;
  const size_t width = static_cast<size_t>(width_);
  const bool colour = SamplesPerPixel(*source_) == 3;
  const int32_t* map = intensityMap_.data();
  const double scale = static_cast<double>(E::kIntensityScale);
  // The rows split into bands over the run's threads, each with its own row buffers.
  const RowBands bands(height_, 2 * static_cast<size_t>(source_->GetLineBytes()));
  const size_t slots = static_cast<size_t>(bands.slots());
  std::vector<std::vector<Sample>> ins(slots), outs(slots);
  for (size_t k = 0; k < slots; ++k) {
    ins[k] = AllocateRow<D>(*source_);
    outs[k] = AllocateRow<D>(*destination_);  // its padding stays 0
  }

  // Row y of the source is read just before row y of the destination is written, so src == dst
  // reads every pixel before it is overwritten.
  if (!colour) {
    // A grey pixel's new sample depends on its sample alone: intensity * 0.01 (0.1) rounded to
    // single precision, clamped and truncated, tabulated for every sample value.
    std::vector<Sample> table(static_cast<size_t>(D::kMax) + 1);
    for (int32_t v = 0; v <= D::kMax; ++v) {
      const double i = map[IntensityOfKey<D>(v)] * scale;
      table[static_cast<size_t>(v)] =
          static_cast<Sample>(ClampTruncate(static_cast<float>(i), D::kMax));
    }
    bands.Run(nullptr, [&](Band& band) {
      Sample* in = ins[static_cast<size_t>(band.slot())].data();
      Sample* out = outs[static_cast<size_t>(band.slot())].data();
      for (int32_t y = band.first(); y < band.end(); ++y) {
        ReadRow<D>(*source_, y, in);
        for (size_t x = 0; x < width; ++x) out[x] = table[in[x]];
        WriteRow<D>(*destination_, y, out);
      }
    });
    return;
  }

  // The new intensity I of every sample sum, as the pixel is rebuilt with it.
  const size_t keys = static_cast<size_t>(3 * D::kMax + 1);
  std::vector<double> level(keys);
  for (size_t k = 0; k < keys; ++k) {
    level[k] = map[IntensityOfKey<D>(static_cast<int32_t>(k))] * scale;
  }
  // Hue and saturation take few values: the chromaticities of every pair, computed once, entry
  // hue * kSaturations + saturation.
  // The tables are built in chunks (one hue, one row of the hue table) over the run's threads.
  std::vector<ChromaLanes> chroma(static_cast<size_t>(361) * kSaturations);
  RowBands::Chunks(361).Run(nullptr, [&](Band& chunk) {
    const int32_t h = chunk.index();
    for (int32_t s = 0; s < kSaturations; ++s) {
      const float fraction = static_cast<float>(s * E::kSaturationScale);
      const Chromaticity c = HsiChromaticity(h, fraction);
      chroma[static_cast<size_t>(h * kSaturations + s)] =
          ChromaLanes{{c.blue, c.green, c.red, 0.0f}};
    }
  });

  // The 8-bit hue depends only on two sample differences and the saturation on the sample sum
  // and the least sample: tables of them (the hue already multiplied by kSaturations) pay for
  // themselves on images of more than a few tens of thousands of pixels. The 16-bit hue comes
  // from located steps of the arc cosine instead (HueSteps).
  const bool large = int64_t{width_} * height_ >= 65536;
  if constexpr (D::kBits == 8) {
    if (large) {
      std::vector<uint16_t> hueIndex(static_cast<size_t>(kHueTableSide) * kHueTableSide);
      RowBands::Chunks(kHueTableSide).Run(nullptr, [&](Band& chunk) {
        int16_t hue[kHueTableSide];
        BuildHueRow8(chunk.index() - 255, hue);
        uint16_t* row = hueIndex.data() + static_cast<size_t>(chunk.index()) * kHueTableSide;
        for (int32_t k = 0; k < kHueTableSide; ++k) {
          row[k] = static_cast<uint16_t>(hue[k] * kSaturations);
        }
      });
      std::vector<uint8_t> saturation(kSaturationTableSize8);
      BuildSaturationTable8(saturation.data());
      bands.Run(nullptr, [&](Band& band) {
        Sample* out = outs[static_cast<size_t>(band.slot())].data();
        // The tables' addresses as locals of the band: the byte stores of the rebuilt samples
        // cannot be taken to change them, so they stay in registers.
        const uint16_t* const hueAt = hueIndex.data();
        const uint8_t* const saturationAt = saturation.data();
        const ChromaLanes* const chromaAt = chroma.data();
        const double* const levelAt = level.data();
        const size_t columns = width;
        for (int32_t y = band.first(); y < band.end(); ++y) {
          // 8-bit rows are stored as the buffers hold them: the source's row is read where it
          // lies. The rebuilt row goes through a buffer: RebuildPixel stores four samples.
          const Sample* p = StoredRow(*source_, y);
          Sample* q = out;
          for (size_t x = 0; x < columns; ++x, p += 3, q += 3) {
            const int32_t blue = p[0], green = p[1], red = p[2];
            const int32_t sum = red + green + blue;
            const int32_t minimum = std::min(red, std::min(green, blue));
            const size_t entry = hueAt[static_cast<size_t>(red - green + 255) * kHueTableSide +
                                       static_cast<size_t>(red - blue + 255)] +
                                 saturationAt[static_cast<size_t>(sum) * kSaturationTableStride8 +
                                              static_cast<size_t>(minimum)];
            RebuildPixel<D>(chromaAt[entry], levelAt[static_cast<size_t>(sum)], q);
          }
          WriteRow<D>(*destination_, y, out);
        }
      });
      return;
    }
  }

  // The 16-bit hue and saturation need an arc-cosine quotient (a square root and a division) and
  // a division per pixel: a first pass over the row forms them two pixels at a time, with the
  // very operations HueQuotient and HsiSaturation perform, in the same order (exact IEEE
  // operations in either form); a second pass places the quotients among the hue steps.
  std::unique_ptr<HueSteps> steps;
  if (large) steps = std::make_unique<HueSteps>();
  std::vector<std::vector<double>> quotientRows(slots, std::vector<double>(width + 1));
  std::vector<std::vector<int32_t>> saturationRows(slots, std::vector<int32_t>(width + 1));
  bands.Run(nullptr, [&](Band& band) {
    const size_t slot = static_cast<size_t>(band.slot());
    Sample* in = ins[slot].data();
    Sample* out = outs[slot].data();
    double* quotients = quotientRows[slot].data();
    int32_t* saturations = saturationRows[slot].data();
    for (int32_t y = band.first(); y < band.end(); ++y) {
      ReadRow<D>(*source_, y, in);
      if (steps) HueQuotientsAndSaturations(in, width, E::kFactorD, quotients, saturations);
      const Sample* p = in;
      Sample* q = out;
      for (size_t x = 0; x < width; ++x, p += 3, q += 3) {
        const int32_t blue = p[0], green = p[1], red = p[2];
        const int32_t sum = red + green + blue;
        int32_t hue, saturation;
        if (steps) {
          hue = steps->HueOfQuotient(red - green, red - blue, quotients[x]);
          saturation = saturations[x];
        } else {
          hue = HsiHue(red - green, red - blue);
          saturation = HsiSaturation(sum, std::min(red, std::min(green, blue)), E::kFactorD);
        }
        RebuildPixel<D>(chroma[static_cast<size_t>(hue * kSaturations + saturation)],
                        level[static_cast<size_t>(sum)], q);
      }
      WriteRow<D>(*destination_, y, out);
    }
  });
}

template <class D>
Status CAutoExposure::Expose(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                             ProgressCallback cb, int32_t start, int32_t end) {
  // The reports are fractions of end by the engine's own rule; the callback cannot abort.
  Progress progress(cb, start, end, 1, src, dst);
  // The opening report gives 0, not start, and comes before the images are looked at.
  const Entry entry = Enter(src, dst, Door{Destination::SameAsSource, &D::Accepts},
                            [&] { return progress.Report(0) ? Status::Ok : Status::Changed; });
  Clear();
  if (!entry) return entry.status();
  source_ = src;
  destination_ = dst;
  useStrength_ = useStrength;
  whitePoint_ = D::kMax;
  if (useStrength_ != 0) {
    strength_ = strength;
    if (!(strength_ >= 0.0f)) strength_ = 0.0f;  // below 0, or not a number
    if (strength_ > 1.0f) strength_ = 1.0f;
  } else {
    strength_ = 0.5f;
  }
  width_ = src->GetImageWidth();
  height_ = src->GetImageHeight();
  imageType_ = src->GetImageType();
  Status status = Status::NoMemory;
  try {
    status = Stages<D>(progress);
  } catch (const std::bad_alloc&) {
  }
  Clear();
  return status;
}

template <class D>
Status CAutoExposure::Stages(Progress& progress) {
  using E = ExposureDepth<D>;
  const int32_t end = progress.end();
  CountSource<D>();
  if (!progress.Report(FractionOfEnd(end, 0.1))) return Status::Changed;
  if (!PlanesFit()) return Status::NoMemory;
  BuildIntensityHistogram<D>();
  if (!progress.Report(FractionOfEnd(end, 0.4))) return Status::Changed;
  if (whitePoint_ - blackPoint_ < E::kNarrow) {
    stretchFactor_ = 0.8f;
    StretchLevels<D>();
    if (E::kReportAfterStretch && !progress.Report(FractionOfEnd(end, 0.5))) {
      return Status::Changed;
    }
  }
  MeasureBands<D>();
  if (!progress.Report(FractionOfEnd(end, 0.6))) return Status::Changed;
  strength_ = StrengthForShares(strength_, bandShares_);
  EqualizeIntensity<D>();
  if (!progress.Report(FractionOfEnd(end, 0.9))) return Status::Changed;
  WriteRows<D>();  // allocates before the first row is written
  return progress.Report(end) ? Status::Ok : Status::Changed;
}

Status CAutoExposure::Expose8(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                              ProgressCallback cb, int32_t start, int32_t end) {
  return Expose<Depth8>(src, dst, useStrength, strength, cb, start, end);
}

Status CAutoExposure::Expose16(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                               ProgressCallback cb, int32_t start, int32_t end) {
  return Expose<Depth16>(src, dst, useStrength, strength, cb, start, end);
}

Status CAutoExposure::Run(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                          ProgressCallback cb, int32_t start, int32_t end) {
  return ForDepth(TypeOf(src), [&](auto depth) {  // no report for another type
    return Expose<decltype(depth)>(src, dst, useStrength, strength, cb, start, end);
  });
}

}  // namespace marlo

int32_t MARLO_STDCALL AutoExposure(Kasa* src, Kasa* dst, int32_t useStrength, float strength,
                                   ProgressCallback cb, int32_t start, int32_t end) {
  return marlo::Export(0, [&] {
    marlo::CAutoExposure engine;
    return engine.Run(src, dst, useStrength, strength, cb, start, end);
  });
}
