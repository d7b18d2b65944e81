// Every filter's subcommand: its options (named after the export's parameters), their accepted
// ranges and defaults, and the call of the export. Values outside a range are refused while the
// command line is parsed, before any file is read or written.
#include "filters.h"

#include <CLI/CLI.hpp>

#include "options.h"
#include "progress.h"

namespace cli {
namespace {

// --- The filters ------------------------------------------------------------------------------

class AutoExposureFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--strength", strength_,
                    "Exponent of the intensity equalisation, 0..1. Without it the strength is "
                    "derived from the image; 0 and 1 select the automatic mild and strong "
                    "strengths")
        ->type_name("S")
        ->check(RealRange(0.0, 1.0));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    const int32_t use = strength_ >= 0 ? 1 : 0;
    return AutoExposure(src, dst, use, static_cast<float>(use ? strength_ : 0.5), cb, 0,
                        kProgressEnd) == 1;
  }

 private:
  double strength_ = -1.0;
};

class AutoEnhanceFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--exposure", exposure_,
                    "Exposure strength, 0..1 (default 0.5; 0 and 1 select the automatic mild "
                    "and strong strengths)")
        ->type_name("S")
        ->check(RealRange(0.0, 1.0));
    app->add_option("--sharpen", sharpen_,
                    "Sharpening strength after the exposure step, -100..400 (default 30; "
                    "negative softens)")
        ->type_name("S")
        ->check(IntRange(-100, 400));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    return AutoEnhancement(src, dst, static_cast<float>(exposure_), sharpen_, cb, 0,
                           kProgressEnd) == 1;
  }

 private:
  double exposure_ = 0.5;
  int32_t sharpen_ = 30;
};

class AutoLevelsFilter : public Filter {
 public:
  void AddOptions(CLI::App*) override {}
  bool Run(Kasa* src, Kasa* dst, ProgressCallback) const override {
    return AutoAdjustment(src, dst) == 1;
  }
};

class WhiteBalanceFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--from", from_,
                    "Colour temperature of the light the photo was taken in, in kelvins, "
                    "1000..25000 (required)")
        ->type_name("K")
        ->required()
        ->check(IntRange(1000, 25000));
    app->add_option("--to", to_,
                    "Colour temperature to correct to, in kelvins, 1000..25000 (default 6500). "
                    "A higher --to than --from makes the picture bluer, a lower one redder")
        ->type_name("K")
        ->check(IntRange(1000, 25000));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    // This export's result is reversed: 0 means success.
    return LightAdjustment(src, dst, from_, to_, cb, 0, kProgressEnd) == 0;
  }

 private:
  int32_t from_ = 6500;
  int32_t to_ = 6500;
};

class ContrastFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--contrast", contrast_,
                    "Contrast, -100..100 (default 0): one value for all channels or three "
                    "comma-separated values for red, green, blue. -100 flattens the picture to "
                    "mid-grey, +100 is the steepest")
        ->type_name("C|R,G,B")
        ->check(IntList({1, 3}, -100, 100, "one or three comma-separated whole numbers"));
    app->add_option("--brightness", brightness_,
                    "Brightness, -100..100 (default 0): one value or three values R,G,B. "
                    "+-100 shift by the whole range")
        ->type_name("B|R,G,B")
        ->check(IntList({1, 3}, -100, 100, "one or three comma-separated whole numbers"));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    int32_t c[3], b[3];
    Expand(contrast_, c);
    Expand(brightness_, b);
    return CBEnhancement(src, dst, c, b, cb, 0, kProgressEnd) == 1;
  }

 private:
  static void Expand(const std::string& text, int32_t out[3]) {
    const std::vector<int32_t> v = ToInts(text);
    for (int i = 0; i < 3; ++i) out[i] = v.size() == 3 ? v[i] : (v.empty() ? 0 : v[0]);
  }
  std::string contrast_ = "0";
  std::string brightness_ = "0";
};

class SaturationFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--amount", amount_,
                    "Saturation change in percent, -100..100 (required): -100 removes all "
                    "colour, +100 doubles the saturation")
        ->type_name("P")
        ->required()
        ->check(IntRange(-100, 100));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    return Saturation(src, dst, amount_, cb, 0, kProgressEnd) == 1;
  }

 private:
  int32_t amount_ = 0;
};

class HslFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--hue", hue_, "Hue shift for all colours in degrees, -180..180 (default 0)")
        ->type_name("H")
        ->check(IntRange(-180, 180));
    app->add_option("--saturation", saturation_,
                    "Saturation change for all colours in percent, -100..100 (default 0)")
        ->type_name("S")
        ->check(IntRange(-100, 100));
    app->add_option("--lightness", lightness_,
                    "Lightness change for all colours in percent, -100..100 (default 0)")
        ->type_name("L")
        ->check(IntRange(-100, 100));
    static const char* const kRanges[6] = {"red", "yellow", "green", "cyan", "blue", "magenta"};
    for (int i = 0; i < 6; ++i) {
      app->add_option(std::string("--") + kRanges[i], ranges_[i],
                      std::string("Hue shift, saturation and lightness changes for the ") +
                          kRanges[i] +
                          " range: H,S,L with H in -180..180, S and L in "
                          "-100..100 (default 0,0,0)")
          ->type_name("H,S,L")
          ->check(IntList({3}, -180, 180, "three comma-separated whole numbers H,S,L"))
          ->check(CLI::Validator(
              [](std::string& text) -> std::string {
                const std::vector<int32_t> v = ToInts(text);
                if (v.size() == 3 && (v[1] < -100 || v[1] > 100 || v[2] < -100 || v[2] > 100)) {
                  return "saturation and lightness must lie in -100..100 (got " + text + ")";
                }
                return std::string();
              },
              "", ""));
    }
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    int32_t h[7] = {hue_}, s[7] = {saturation_}, l[7] = {lightness_};
    for (int i = 0; i < 6; ++i) {
      const std::vector<int32_t> v = ToInts(ranges_[i]);
      if (v.size() == 3) {
        h[i + 1] = v[0];
        s[i + 1] = v[1];
        l[i + 1] = v[2];
      }
    }
    return HSLEnhancement(src, dst, h, s, l, cb, 0, kProgressEnd) == 1;
  }

 private:
  int32_t hue_ = 0;
  int32_t saturation_ = 0;
  int32_t lightness_ = 0;
  std::string ranges_[6];
};

class TintFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    rgb_ = app->add_option("--rgb", rgbText_,
                           "The tint as red, green and blue percentages, each -100..100: a "
                           "positive value lifts that channel's mid-tones, a negative one "
                           "lowers them")
               ->type_name("R,G,B")
               ->check(IntList({3}, -100, 100, "three comma-separated whole numbers R,G,B"));
    hue_ = app->add_option("--hue", hueValue_,
                           "The tint's hue in degrees, 0..360 (with --saturation, instead of "
                           "--rgb)")
               ->type_name("H")
               ->check(IntRange(0, 360));
    saturation_ = app->add_option("--saturation", saturationValue_,
                                  "The tint's saturation, 0..1 (with --hue; default 0.5)")
                      ->type_name("S")
                      ->check(RealRange(0.0, 1.0));
    rgb_->excludes(hue_);
    rgb_->excludes(saturation_);
    saturation_->needs(hue_);
  }
  void Finish() override {
    if (rgb_->count() == 0 && hue_->count() == 0) {
      throw UsageError("tint: give the tint either as --rgb R,G,B or as --hue H [--saturation S]");
    }
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    if (!rgbText_.empty()) {
      const std::vector<int32_t> v = ToInts(rgbText_);
      return ColorTintAddByRGB(src, dst, v[0], v[1], v[2], cb, 0, kProgressEnd) == 1;
    }
    return ColorTintAddByHS(src, dst, hueValue_, static_cast<float>(saturationValue_), cb, 0,
                            kProgressEnd) == 1;
  }

 private:
  CLI::Option* rgb_ = nullptr;
  CLI::Option* hue_ = nullptr;
  CLI::Option* saturation_ = nullptr;
  std::string rgbText_;
  int32_t hueValue_ = 0;
  double saturationValue_ = 0.5;
};

class RemoveCastFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    AddPoint(app, "--at", &at_,
             "A point of the picture that should be neutral grey (a wall, paper, a grey "
             "card), as column,row from the top left; must lie inside the image (required)")
        ->required();
  }
  void CheckImage(const io::ImageInfo& info) const override { CheckInside("--at", at_, info); }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    const Point p = ToPoint(at_);
    return ColorTintRemove(src, dst, p.x, p.y, cb, 0, kProgressEnd) == 1;
  }

 private:
  std::string at_;
};

class RedEyeFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    AddPoint(app, "--at", &at_,
             "A point inside the red pupil, as column,row from the top left; must lie inside "
             "the image (required)")
        ->required();
  }
  void CheckImage(const io::ImageInfo& info) const override { CheckInside("--at", at_, info); }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    const Point p = ToPoint(at_);
    return RemoveRedEyeClr(src, dst, p.x, p.y, cb, 0, kProgressEnd) == 1;
  }

 private:
  std::string at_;
};

class DespeckleFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--threshold", threshold_,
                    "Largest difference from the 8-neighbour mean that is left alone, on the "
                    "8-bit scale 0..255 (scaled by 257 for 16-bit images; default 32)")
        ->type_name("T")
        ->check(IntRange(0, 255));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    return Despeckle(src, dst, threshold_, cb, 0, kProgressEnd) == 1;
  }

 private:
  int32_t threshold_ = 32;
};

class DenoiseFilter : public Filter {
 public:
  void AddOptions(CLI::App*) override {}
  bool Run(Kasa* src, Kasa* dst, ProgressCallback) const override {
    return RemoveNoise(src, dst) == 1;
  }
};

class SharpenFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--strength", strength_,
                    "Sharpening strength, -100..400 (default 50): 100 adds half the Laplacian, "
                    "negative values soften (-100 is the neighbour mean)")
        ->type_name("S")
        ->check(IntRange(-100, 400));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    return ImageFocus(src, dst, strength_, cb, 0, kProgressEnd) == 1;
  }

 private:
  int32_t strength_ = 50;
};

class SharpenCircleFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    AddPoint(app, "--at", &at_, "Centre of the circle, as column,row (required)")->required();
    app->add_option("--radius", radius_, "Radius of the circle in pixels, 0..1000000 (required)")
        ->type_name("R")
        ->required()
        ->check(IntRange(0, 1000000));
    app->add_option("--strength", strength_,
                    "Strength in hundredths, -100..400 (default 100: a sample moves by the "
                    "mean difference to its four neighbours; negative softens)")
        ->type_name("S")
        ->check(IntRange(-100, 400));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback cb) const override {
    const Point p = ToPoint(at_);
    return ImageFocusInCircle(src, dst, p.x, p.y, radius_, strength_, cb, 0, kProgressEnd) == 1;
  }

 private:
  std::string at_;
  int32_t radius_ = 0;
  int32_t strength_ = 100;
};

class BookFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    app->add_option("--axis", axis_,
                    "Where the spine lies, in percent of the width between the margins, "
                    "0..100 (default 50)")
        ->type_name("A")
        ->check(IntRange(0, 100));
    app->add_option("--fold", fold_,
                    "How strongly the pages curl, 0..100 (default 30; also sets the white "
                    "side margins)")
        ->type_name("F")
        ->check(IntRange(0, 100));
    app->add_option("--slant", slant_,
                    "How far the top edges droop toward the outer corners, 0..100 (default 20)")
        ->type_name("S")
        ->check(IntRange(0, 100));
  }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback) const override {
    return BookEffect(src, dst, static_cast<uint32_t>(axis_), static_cast<uint32_t>(fold_),
                      static_cast<uint32_t>(slant_)) == 1;
  }

 private:
  int32_t axis_ = 50;
  int32_t fold_ = 30;
  int32_t slant_ = 20;
};

class LensFilter : public Filter {
 public:
  void AddOptions(CLI::App* app) override {
    AddPoint(app, "--at", &at_,
             "Centre of the lens, as column,row; must lie inside the image (required)")
        ->required();
    app->add_option("--radius", radius_, "Radius of the lens in pixels, 1..1000000 (required)")
        ->type_name("R")
        ->required()
        ->check(IntRange(1, 1000000));
    app->add_option("--power", power_,
                    "Magnification degree, 1..4 (default 2): 1 magnifies the centre about 1.2 "
                    "times, 4 about 4.7 times")
        ->type_name("M")
        ->check(IntRange(1, 4));
  }
  void CheckImage(const io::ImageInfo& info) const override { CheckInside("--at", at_, info); }
  bool Run(Kasa* src, Kasa* dst, ProgressCallback) const override {
    const Point p = ToPoint(at_);
    return ConvexLens(src, dst, static_cast<uint32_t>(p.x), static_cast<uint32_t>(p.y),
                      static_cast<uint32_t>(radius_), static_cast<uint32_t>(power_)) == 1;
  }

 private:
  std::string at_;
  int32_t radius_ = 1;
  int32_t power_ = 2;
};

template <class T>
std::function<std::unique_ptr<Filter>()> Make() {
  return [] { return std::unique_ptr<Filter>(new T()); };
}

}  // namespace

const std::vector<FilterEntry>& Filters() {
  static const std::vector<FilterEntry> filters = {
      {"auto-exposure", "AutoExposure",
       "automatic exposure: intensity stretch and power-law equalisation", kPlain,
       Make<AutoExposureFilter>()},
      {"auto-enhance", "AutoEnhancement", "automatic exposure followed by sharpening", kPlain,
       Make<AutoEnhanceFilter>()},
      {"auto-levels", "AutoAdjustment",
       "automatic levels: each channel stretched between its 5 % cut-offs", kPlain,
       Make<AutoLevelsFilter>()},
      {"white-balance", "LightAdjustment",
       "light-source correction from one colour temperature to another", kColourOnly,
       Make<WhiteBalanceFilter>()},
      {"contrast", "CBEnhancement", "contrast and brightness, per channel", kPlain,
       Make<ContrastFilter>()},
      {"saturation", "Saturation", "more or less vivid colours", kColourOnly,
       Make<SaturationFilter>()},
      {"hsl", "HSLEnhancement",
       "hue, saturation and lightness, for all colours or per colour range", kColourOnly,
       Make<HslFilter>()},
      {"tint", "ColorTintAddByRGB/ColorTintAddByHS", "adds a colour tint", kColourOnly,
       Make<TintFilter>()},
      {"remove-cast", "ColorTintRemove", "removes a colour cast, given a point that is grey",
       kColourOnly, Make<RemoveCastFilter>()},
      {"red-eye", "RemoveRedEyeClr", "darkens and desaturates a red pupil", kColourOnly,
       Make<RedEyeFilter>()},
      {"despeckle", "Despeckle", "replaces outlier samples by their neighbour mean", kPlain,
       Make<DespeckleFilter>()},
      {"denoise", "RemoveNoise", "conditional 3 x 3 median noise removal", kPlain,
       Make<DenoiseFilter>()},
      {"sharpen", "ImageFocus", "sharpens (or softens) the whole picture", kPlain,
       Make<SharpenFilter>()},
      {"sharpen-circle", "ImageFocusInCircle", "sharpens (or softens) inside a circle", kPlain,
       Make<SharpenCircleFilter>()},
      {"book", "BookEffect", "redraws the picture across the pages of an open book", kMovesPixels,
       Make<BookFilter>()},
      {"lens", "ConvexLens", "magnifies a disc as a convex lens would", kMovesPixels,
       Make<LensFilter>()},
  };
  return filters;
}

const FilterEntry* FindFilter(const std::string& name) {
  for (const FilterEntry& f : Filters()) {
    if (name == f.name) return &f;
  }
  return nullptr;
}

}  // namespace cli
