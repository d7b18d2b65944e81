// Drives every export with small images of every type (including empty, 1 x N and N x 1),
// extreme parameters, random progress ranges and a callback that aborts at a chosen call, and
// checks the library's promises, not only the absence of crashes:
// - results are 0 or 1;
// - a separate source is never changed;
// - progress follows the per-row protocol where the filter uses it (the opening report gives
//   start, then strictly increasing values never above end, and end last unless aborted);
// - a refused call (failure result without an abort) writes nothing into a separate
//   destination.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "marlo.h"

namespace {

struct Recorder {
  int32_t start = 0, end = 0;
  std::vector<int32_t> values;
  std::vector<int32_t> starts, ends;
  int abortAt = 0;  // 1-based call index that returns nonzero; 0 never
  bool aborted = false;
};
Recorder* g_recorder = nullptr;

int32_t MARLO_STDCALL Callback(int32_t start, int32_t end, int32_t current) {
  Recorder& r = *g_recorder;
  r.starts.push_back(start);
  r.ends.push_back(end);
  r.values.push_back(current);
  if (r.abortAt != 0 && static_cast<int>(r.values.size()) == r.abortAt) {
    // The opening report's answer is ignored by every filter: only a later one can abort.
    r.aborted = r.abortAt > 1;
    return 1;
  }
  return 0;
}

void NoMessage(const char*) {}

void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  if (g_recorder != nullptr) {
    std::fprintf(stderr, "progress (%d, %d), abort at %d:", g_recorder->start, g_recorder->end,
                 g_recorder->abortAt);
    for (int32_t v : g_recorder->values) std::fprintf(stderr, " %d", v);
    std::fprintf(stderr, "\n");
  }
  std::abort();
}

int32_t PickInt(FuzzedDataProvider& fdp) {
  static const int32_t pool[] = {
      0,      1,    -1,    2,     3,     4,     5,         10,        20,
      50,     100,  101,   -100,  -101,  255,   256,       360,       361,
      1000,   6500, 25000, 32768, 65535, 65536, INT32_MAX, INT32_MIN, INT32_MAX - 1,
      -32768, 32767};
  if (fdp.ConsumeBool()) return fdp.PickValueInArray(pool);
  return fdp.ConsumeIntegral<int32_t>();
}

float PickFloat(FuzzedDataProvider& fdp) {
  static const float pool[] = {0.0f,
                               0.5f,
                               1.0f,
                               -0.2f,
                               1.5f,
                               0.99f,
                               std::numeric_limits<float>::quiet_NaN(),
                               std::numeric_limits<float>::infinity(),
                               -std::numeric_limits<float>::infinity()};
  if (fdp.ConsumeBool()) return fdp.PickValueInArray(pool);
  return fdp.ConsumeFloatingPoint<float>();
}

std::unique_ptr<Kasa> MakeImage(FuzzedDataProvider& fdp, int type, int32_t w, int32_t h) {
  auto image = std::make_unique<Kasa>();
  if (w == 0 || h == 0) return image;
  image->CreateImage(type, w, h, 0, nullptr, 0, 0, 15, 0, 0);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image->RowData(y);
    const std::vector<uint8_t> bytes = fdp.ConsumeBytes<uint8_t>(image->GetLineBytes());
    for (int32_t i = 0; i < image->GetLineBytes(); ++i) {
      row[i] = i < static_cast<int32_t>(bytes.size()) ? bytes[i] : static_cast<uint8_t>(i * 37 + y);
    }
  }
  return image;
}

bool SameBytes(const Kasa& a, const Kasa& b) {
  if (a.IsEmpty() != b.IsEmpty()) return false;
  if (a.IsEmpty()) return true;
  if (a.GetImageType() != b.GetImageType() || a.GetImageWidth() != b.GetImageWidth() ||
      a.GetImageHeight() != b.GetImageHeight())
    return false;
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    if (std::memcmp(a.RowData(y), b.RowData(y), static_cast<size_t>(a.GetLineBytes())) != 0) {
      return false;
    }
  }
  return true;
}

std::unique_ptr<Kasa> Copy(Kasa& image) {
  auto copy = std::make_unique<Kasa>();
  if (!image.IsEmpty()) copy->CopyImage(&image);
  return copy;
}

enum class Protocol { PerRow, OwnRule, None };

void CheckPerRow(const Recorder& r, int32_t result, int32_t success, bool closingOnSuccess) {
  const size_t n = r.values.size();
  for (size_t i = 0; i < n; ++i) {
    if (r.starts[i] != r.start || r.ends[i] != r.end) Fail("progress range changed");
  }
  if (n == 0) return;
  if (r.values[0] != r.start) Fail("opening report is not start");
  for (size_t i = 1; i < n; ++i) {
    const int32_t v = r.values[i];
    if (i == n - 1 && v == r.end) break;  // the closing report (or a per-row report at end)
    if (v > r.end) Fail("progress above end");
    if (v <= r.values[i - 1]) Fail("progress not strictly increasing");
  }
  if (r.aborted) {
    // Nothing follows the report that asked to stop.
    if (static_cast<int>(n) != r.abortAt) Fail("progress went on after an abort");
  } else if (closingOnSuccess && result == success && n >= 1 && r.values[n - 1] != r.end) {
    Fail("no closing report");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  MarloSetMessageHandler(&NoMessage);
  static const int kTypes[] = {1, 5, 9, 10};
  const int which = fdp.ConsumeIntegralInRange<int>(0, 16);
  const int type = fdp.PickValueInArray(kTypes);
  const int32_t w = fdp.ConsumeIntegralInRange<int32_t>(0, 12);
  const int32_t h = fdp.ConsumeIntegralInRange<int32_t>(0, 12);
  const int dstMode = fdp.ConsumeIntegralInRange<int>(0, 5);
  const bool nullSource = fdp.ConsumeIntegralInRange<int>(0, 31) == 0;

  Recorder recorder;
  g_recorder = &recorder;
  const bool withCallback = fdp.ConsumeIntegralInRange<int>(0, 7) != 0;
  recorder.start = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<int32_t>(-5, 5) : PickInt(fdp);
  recorder.end = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<int32_t>(0, 200) : PickInt(fdp);
  recorder.abortAt = fdp.ConsumeBool() ? 0 : fdp.ConsumeIntegralInRange<int>(1, 40);
  const ProgressCallback cb = withCallback ? &Callback : nullptr;
  const int32_t start = recorder.start, end = recorder.end;

  const int32_t p0 = PickInt(fdp), p1 = PickInt(fdp), p2 = PickInt(fdp), p3 = PickInt(fdp);
  const float f0 = PickFloat(fdp);
  int32_t arrays[3][7];
  for (auto& a : arrays)
    for (int32_t& v : a)
      v = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange<int32_t>(-400, 400) : PickInt(fdp);

  auto src = MakeImage(fdp, type, w, h);
  std::unique_ptr<Kasa> separate;
  Kasa* dst = nullptr;
  switch (dstMode) {
    case 0:  // empty
      separate = std::make_unique<Kasa>();
      break;
    case 1:  // same geometry, other content
      separate = MakeImage(fdp, type, w, h);
      break;
    case 2:  // the source itself
      break;
    case 3:  // other size
      separate =
          MakeImage(fdp, type, w + 1, h == 0 ? 0 : h + fdp.ConsumeIntegralInRange<int32_t>(-1, 1));
      break;
    case 4:  // other type
      separate = MakeImage(fdp, type == 1 ? 9 : 1, w, h);
      break;
    default:  // null
      break;
  }
  if (dstMode == 2) dst = src.get();
  if (separate) dst = separate.get();
  Kasa* source = nullSource ? nullptr : src.get();
  const bool separateDestination = separate != nullptr;
  auto srcBefore = Copy(*src);
  auto dstBefore = separate ? Copy(*separate) : nullptr;

  int32_t result = 0;
  int32_t failure = 0;
  Protocol protocol = Protocol::PerRow;
  bool closingOnSuccess = true;
  switch (which) {
    case 0:
      result = ImageFocusInCircle(source, dst, p0, p1, p2, p3, cb, start, end);
      break;
    case 1:
      result = AutoAdjustment(source, dst);
      protocol = Protocol::None;
      break;
    case 2:
      result = AutoEnhancement(source, dst, f0, p0, cb, start, end);
      protocol = Protocol::OwnRule;
      break;
    case 3:
      result = AutoExposure(source, dst, p0, f0, cb, start, end);
      protocol = Protocol::OwnRule;
      break;
    case 4:
      result = BookEffect(source, dst, static_cast<uint32_t>(p0), static_cast<uint32_t>(p1),
                          static_cast<uint32_t>(p2));
      protocol = Protocol::None;
      break;
    case 5:
      result = CBEnhancement(source, dst, arrays[0], arrays[1], cb, start, end);
      break;
    case 6:
      result = ColorTintAddByHS(source, dst, p0, f0, cb, start, end);
      break;
    case 7:
      result = ColorTintAddByRGB(source, dst, p0, p1, p2, cb, start, end);
      break;
    case 8:
      result = ColorTintRemove(source, dst, p0 % 20, p1 % 20, cb, start, end);
      closingOnSuccess = false;  // a reference that needs no change returns 1 without it
      break;
    case 9:
      result = ConvexLens(source, dst, static_cast<uint32_t>(p0), static_cast<uint32_t>(p1),
                          static_cast<uint32_t>(p2), static_cast<uint32_t>(p3));
      protocol = Protocol::None;
      break;
    case 10:
      result = Despeckle(source, dst, p0, cb, start, end);
      break;
    case 11:
      result = HSLEnhancement(source, dst, arrays[0], arrays[1], arrays[2], cb, start, end);
      break;
    case 12:
      result = ImageFocus(source, dst, p0, cb, start, end);
      break;
    case 13:
      result = LightAdjustment(source, dst, p0, p1, cb, start, end);
      failure = 1;
      break;
    case 14:
      result = RemoveNoise(source, dst);
      protocol = Protocol::None;
      break;
    case 15:
      result = RemoveRedEyeClr(source, dst, p0, p1, cb, start, end);
      protocol = Protocol::OwnRule;
      break;
    default:
      result = Saturation(source, dst, p0, cb, start, end);
      break;
  }

  if (std::getenv("MARLO_FUZZ_VERBOSE") != nullptr) {
    std::fprintf(stderr, "export %d type %d size %dx%d destination mode %d result %d\n", which,
                 type, w, h, dstMode, result);
  }
  if (result != 0 && result != 1) Fail("result is neither 0 nor 1");
  if (separateDestination || dstMode == 5) {
    if (!SameBytes(*srcBefore, *src)) Fail("a separate source was changed");
  }
  if (protocol == Protocol::None && !recorder.values.empty()) Fail("progress without a callback");
  if (protocol == Protocol::PerRow && withCallback) {
    CheckPerRow(recorder, result, 1 - failure, closingOnSuccess);
  }
  if (!withCallback && !recorder.values.empty()) Fail("a null callback was called");
  if (result == failure && !recorder.aborted && separateDestination) {
    if (!SameBytes(*dstBefore, *separate)) Fail("a refused call wrote into the destination");
  }
  g_recorder = nullptr;
  return 0;
}
