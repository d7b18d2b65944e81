// The call of each filter's export with the option values of its part of the command line. The
// options themselves, their ranges and defaults are in the table (option_table.cpp); values
// outside a range are refused while the command line is parsed, before any file is read.
#include "filters.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "progress.h"

namespace cli {
namespace {

bool RunAutoExposure(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  const int32_t use = v.Given("--strength") ? 1 : 0;
  return AutoExposure(src, dst, use, static_cast<float>(use ? v.Real("--strength") : 0.5), cb, 0,
                      kProgressEnd) == 1;
}

bool RunAutoEnhance(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  return AutoEnhancement(src, dst, static_cast<float>(v.Real("--exposure")), v.Int("--sharpen"), cb,
                         0, kProgressEnd) == 1;
}

bool RunAutoLevels(const Values&, Kasa* src, Kasa* dst, ProgressCallback) {
  return AutoAdjustment(src, dst) == 1;
}

bool RunWhiteBalance(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  // This export's result is reversed: 0 means success.
  return LightAdjustment(src, dst, v.Int("--from"), v.Int("--to"), cb, 0, kProgressEnd) == 0;
}

// One value for all three channels, or three values R,G,B.
void Expand(const std::vector<int32_t>& v, int32_t out[3]) {
  for (int i = 0; i < 3; ++i) out[i] = v.size() == 3 ? v[i] : (v.empty() ? 0 : v[0]);
}

bool RunContrast(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  int32_t c[3], b[3];
  Expand(v.Ints("--contrast"), c);
  Expand(v.Ints("--brightness"), b);
  return CBEnhancement(src, dst, c, b, cb, 0, kProgressEnd) == 1;
}

bool RunSaturation(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  return Saturation(src, dst, v.Int("--amount"), cb, 0, kProgressEnd) == 1;
}

bool RunHsl(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  int32_t h[7] = {v.Int("--hue")}, s[7] = {v.Int("--saturation")}, l[7] = {v.Int("--lightness")};
  static const char* const kRanges[6] = {"--red",  "--yellow", "--green",
                                         "--cyan", "--blue",   "--magenta"};
  for (int i = 0; i < 6; ++i) {
    const std::vector<int32_t> r = v.Ints(kRanges[i]);
    h[i + 1] = r[0];
    s[i + 1] = r[1];
    l[i + 1] = r[2];
  }
  return HSLEnhancement(src, dst, h, s, l, cb, 0, kProgressEnd) == 1;
}

bool RunTint(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  if (v.Given("--rgb")) {
    const std::vector<int32_t> c = v.Ints("--rgb");
    return ColorTintAddByRGB(src, dst, c[0], c[1], c[2], cb, 0, kProgressEnd) == 1;
  }
  return ColorTintAddByHS(src, dst, v.Int("--hue"), static_cast<float>(v.Real("--saturation")), cb,
                          0, kProgressEnd) == 1;
}

bool RunRemoveCast(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  const Point p = v.ToPoint("--at");
  return ColorTintRemove(src, dst, p.x, p.y, cb, 0, kProgressEnd) == 1;
}

bool RunRedEye(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  const Point p = v.ToPoint("--at");
  if (src->GetImageType() != static_cast<int>(ImageType::Rgb24)) {
    return RemoveRedEyeClr(src, dst, p.x, p.y, cb, 0, kProgressEnd) == 1;
  }
  // On 24-bit pictures the export recolours every red pixel of the image it is given, so the
  // tool gives it only the window that the 48-bit path fills within: 50 pixels on each side of
  // the point, cut to the picture. The window is recoloured on its own and put back.
  constexpr int32_t kReach = 50;
  const int32_t left = std::max(p.x - kReach, 0), top = std::max(p.y - kReach, 0);
  const int32_t right = std::min(p.x + kReach, src->GetImageWidth() - 1);
  const int32_t bottom = std::min(p.y + kReach, src->GetImageHeight() - 1);
  Kasa window;
  if (!window.CreateImage(static_cast<int>(ImageType::Rgb24), right - left + 1, bottom - top + 1, 0,
                          nullptr, 0, 0, 0, 0, 0)) {
    return false;
  }
  const size_t offset = static_cast<size_t>(left) * 3, bytes = (right - left + 1) * size_t{3};
  for (int32_t y = top; y <= bottom; ++y) {
    std::memcpy(window.RowData(y - top), src->RowData(y) + offset, bytes);
  }
  if (RemoveRedEyeClr(&window, &window, p.x - left, p.y - top, cb, 0, kProgressEnd) != 1) {
    return false;
  }
  for (int32_t y = top; y <= bottom; ++y) {
    std::memcpy(dst->RowData(y) + offset, window.RowData(y - top), bytes);
  }
  return true;
}

bool RunDespeckle(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  return Despeckle(src, dst, v.Int("--threshold"), cb, 0, kProgressEnd) == 1;
}

bool RunDenoise(const Values&, Kasa* src, Kasa* dst, ProgressCallback) {
  return RemoveNoise(src, dst) == 1;
}

bool RunSharpen(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  return ImageFocus(src, dst, v.Int("--strength"), cb, 0, kProgressEnd) == 1;
}

bool RunSharpenCircle(const Values& v, Kasa* src, Kasa* dst, ProgressCallback cb) {
  const Point p = v.ToPoint("--at");
  return ImageFocusInCircle(src, dst, p.x, p.y, v.Int("--radius"), v.Int("--strength"), cb, 0,
                            kProgressEnd) == 1;
}

bool RunBook(const Values& v, Kasa* src, Kasa* dst, ProgressCallback) {
  return BookEffect(src, dst, static_cast<uint32_t>(v.Int("--axis")),
                    static_cast<uint32_t>(v.Int("--fold")),
                    static_cast<uint32_t>(v.Int("--slant"))) == 1;
}

bool RunLens(const Values& v, Kasa* src, Kasa* dst, ProgressCallback) {
  const Point p = v.ToPoint("--at");
  return ConvexLens(src, dst, static_cast<uint32_t>(p.x), static_cast<uint32_t>(p.y),
                    static_cast<uint32_t>(v.Int("--radius")),
                    static_cast<uint32_t>(v.Int("--power"))) == 1;
}

struct Call {
  const char* name;
  bool (*run)(const Values&, Kasa*, Kasa*, ProgressCallback);
};

const Call kCalls[] = {
    {"auto-exposure", RunAutoExposure},
    {"auto-enhance", RunAutoEnhance},
    {"auto-levels", RunAutoLevels},
    {"white-balance", RunWhiteBalance},
    {"contrast", RunContrast},
    {"saturation", RunSaturation},
    {"hsl", RunHsl},
    {"tint", RunTint},
    {"remove-cast", RunRemoveCast},
    {"red-eye", RunRedEye},
    {"despeckle", RunDespeckle},
    {"denoise", RunDenoise},
    {"sharpen", RunSharpen},
    {"sharpen-circle", RunSharpenCircle},
    {"book", RunBook},
    {"lens", RunLens},
};

}  // namespace

void Filter::Finish() const {
  const FilterDecl& decl = *entry_->decl;
  std::istringstream names(decl.oneOf);
  bool any = !decl.oneOf[0];
  for (std::string name; names >> name;) any = any || values_.Given(name);
  if (!any) throw UsageError(std::string(decl.name) + ": " + decl.rule);
}

void Filter::CheckImage(const io::ImageInfo& info) const {
  for (const OptionDecl& o : entry_->decl->options) {
    if (o.kind == ValueKind::Point) values_.CheckInside(LongName(o), info);
  }
}

const std::vector<FilterEntry>& Filters() {
  static const std::vector<FilterEntry> filters = [] {
    std::vector<FilterEntry> entries;
    for (const FilterDecl& decl : FilterDecls()) {
      for (const Call& call : kCalls) {
        if (std::strcmp(call.name, decl.name) == 0) entries.push_back({&decl, call.run});
      }
    }
    return entries;
  }();
  return filters;
}

const FilterEntry* FindFilter(const std::string& name) {
  for (const FilterEntry& f : Filters()) {
    if (name == f.name()) return &f;
  }
  return nullptr;
}

}  // namespace cli
