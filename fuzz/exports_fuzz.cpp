// Drives every export of the shared table with small images of every type (empty, 1 x N and
// N x 1 included), extreme parameters, random progress ranges and a callback that aborts at a
// chosen call, and checks the library's promises: results 0 or 1; a separate source never
// changes; the per-row protocol where an export uses it; no call of a null or unusable callback;
// a refused call (failure without an abort) writes nothing into a separate destination.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "export_calls.h"

namespace {

using marlo::test::ExportCall;

// The call, its images, its arguments and what its callback saw.
struct Recorder {
  const char* name = "";
  int type = 0, w = 0, h = 0, dstMode = 0;
  marlo::test::Args args;
  std::vector<int32_t> values;
  int abortAt = 0;  // 1-based call index that returns nonzero; 0 never
  bool rangeChanged = false, aborted = false;
} g_r;

int32_t MARLO_STDCALL Callback(int32_t start, int32_t end, int32_t current) {
  g_r.rangeChanged = g_r.rangeChanged || start != g_r.args.start || end != g_r.args.end;
  g_r.values.push_back(current);
  if (g_r.abortAt == 0 || static_cast<int>(g_r.values.size()) != g_r.abortAt) return 0;
  g_r.aborted = g_r.abortAt > 1;  // the opening report's answer is ignored by every filter
  return 1;
}

void Fail(const char* what) {
  std::fprintf(
      stderr, "%s, type %d, %d x %d, destination %d: %s\nprogress (%d, %d), abort at %d:", g_r.name,
      g_r.type, g_r.w, g_r.h, g_r.dstMode, what, g_r.args.start, g_r.args.end, g_r.abortAt);
  for (int32_t v : g_r.values) std::fprintf(stderr, " %d", v);
  std::abort();
}

int32_t PickInt(FuzzedDataProvider& fdp) {
  static const int32_t pool[] = {
      0,     1,     2,     3,     4,      5,     10,        20,        50,           100,
      101,   -1,    -100,  -101,  255,    256,   360,       361,       1000,         6500,
      25000, 32768, 65535, 65536, -32768, 32767, INT32_MAX, INT32_MIN, INT32_MAX - 1};
  return fdp.ConsumeBool() ? fdp.PickValueInArray(pool) : fdp.ConsumeIntegral<int32_t>();
}

float PickFloat(FuzzedDataProvider& fdp) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float pool[] = {0.0f, 0.5f, 1.0f, -0.2f, 1.5f, 0.99f, nan, inf, -inf};
  return fdp.ConsumeBool() ? fdp.PickValueInArray(pool) : fdp.ConsumeFloatingPoint<float>();
}

std::unique_ptr<Kasa> MakeImage(FuzzedDataProvider& fdp, int type, int32_t w, int32_t h) {
  auto image = std::make_unique<Kasa>();
  if (w <= 0 || h <= 0) return image;
  image->CreateImage(type, w, h, 0, nullptr, 0, 0, 15, 0, 0);
  const auto n = static_cast<size_t>(image->GetLineBytes());
  for (int32_t y = 0; y < h; ++y) {
    std::vector<uint8_t> bytes = fdp.ConsumeBytes<uint8_t>(n);
    bytes.resize(n, static_cast<uint8_t>(37 * y + 11));
    std::memcpy(image->RowData(y), bytes.data(), n);
  }
  return image;
}

// FNV-1a over the type, size and every stored byte of an image.
uint64_t Hash(const Kasa& im) {
  uint64_t h = im.GetImageType() * 1000003ULL + im.GetImageWidth() * 1009ULL;
  for (int32_t y = 0; y < im.GetImageHeight(); ++y) {
    for (int32_t i = 0; i < im.GetLineBytes(); ++i) h = (h ^ im.RowData(y)[i]) * 0x100000001b3;
  }
  return h + static_cast<uint64_t>(im.GetImageHeight());
}

// The per-row protocol: the opening report gives start, then strictly increasing values never
// above end, and end last unless aborted; tint removal may succeed without the closing report (a
// reference that needs no change).
void CheckPerRow(const ExportCall& call, int32_t result) {
  const std::vector<int32_t>& v = g_r.values;
  if (g_r.rangeChanged) Fail("progress range changed");
  if (!v.empty() && v[0] != g_r.args.start) Fail("opening report is not start");
  for (size_t i = 1; i < v.size() && !(i == v.size() - 1 && v[i] == g_r.args.end); ++i) {
    if (v[i] > g_r.args.end) Fail("progress above end");
    if (v[i] <= v[i - 1]) Fail("progress not strictly increasing");
  }
  if (g_r.aborted && static_cast<int>(v.size()) != g_r.abortAt) Fail("progress after an abort");
  const bool closing = std::strcmp(call.name, "ColorTintRemove") != 0;
  if (!g_r.aborted && closing && result != call.failure && !v.empty() && v.back() != g_r.args.end) {
    Fail("no closing report");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  MarloSetMessageHandler([](const char*) {});
  const auto& calls = marlo::test::ExportCalls();
  const ExportCall& call = calls[fdp.ConsumeIntegralInRange<size_t>(0, calls.size() - 1)];
  const int type = fdp.PickValueInArray({1, 5, 9, 10});
  const int32_t w = fdp.ConsumeIntegralInRange(0, 12), h = fdp.ConsumeIntegralInRange(0, 12);
  const int dstMode = fdp.ConsumeIntegralInRange(0, 5);
  const bool nullSource = fdp.ConsumeIntegralInRange(0, 31) == 0;

  g_r = Recorder();
  g_r.name = call.name, g_r.type = type, g_r.w = w, g_r.h = h, g_r.dstMode = dstMode;
  marlo::test::Args& args = g_r.args;
  args.cb = fdp.ConsumeIntegralInRange(0, 7) != 0 ? &Callback : nullptr;
  args.start = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(-5, 5) : PickInt(fdp);
  args.end = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(0, 200) : PickInt(fdp);
  g_r.abortAt = fdp.ConsumeBool() ? 0 : fdp.ConsumeIntegralInRange(1, 40);
  for (int32_t& n : args.n) n = PickInt(fdp);
  args.f = PickFloat(fdp);
  for (auto& a : args.a) {
    for (int32_t& v : a)
      v = fdp.ConsumeBool() ? fdp.ConsumeIntegralInRange(-400, 400) : PickInt(fdp);
  }

  auto src = MakeImage(fdp, type, w, h);
  // Destinations: 0 empty, 1 like the source, 2 the source, 3 other size, 4 other type, 5 null.
  std::unique_ptr<Kasa> separate;
  const int32_t dh = dstMode == 3 && h > 0 ? h + fdp.ConsumeIntegralInRange(-1, 1) : h;
  const int32_t dw = dstMode == 0 ? 0 : (dstMode == 3 ? w + 1 : w);
  const int dstType = dstMode == 4 ? (type == 1 ? 9 : 1) : type;
  if (dstMode != 2 && dstMode != 5) separate = MakeImage(fdp, dstType, dw, dh);
  Kasa* dst = separate ? separate.get() : (dstMode == 2 ? src.get() : nullptr);
  const uint64_t srcBefore = Hash(*src), dstBefore = separate ? Hash(*separate) : 0;

  const int32_t result = call.call(nullSource ? nullptr : src.get(), dst, args);

  if (result != 0 && result != 1) Fail("result is neither 0 nor 1");
  if (dstMode != 2 && Hash(*src) != srcBefore) Fail("a separate source was changed");
  if ((args.cb == nullptr || !call.takesCallback()) && !g_r.values.empty()) {
    Fail("a callback that the call cannot use was called");
  }
  if (args.cb != nullptr && call.reports == marlo::test::Reports::PerRow) CheckPerRow(call, result);
  if (result == call.failure && !g_r.aborted && separate && Hash(*dst) != dstBefore) {
    Fail("a refused call wrote into the destination");
  }
  return 0;
}
