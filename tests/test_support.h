// Helpers shared by the tests: images and deterministic contents, sample access, digests, the
// recorders of the host hooks, and the check of a filter against an expected result.
#ifndef MARLO_TESTS_TEST_SUPPORT_H
#define MARLO_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "export_calls.h"
#include "frame/frame.h"
#include "marlo.h"

namespace marlo::test {

constexpr ImageType kColourTypes[] = {ImageType::Rgb24, ImageType::Rgb48};

inline bool IsColour(ImageType t) {
  return t == ImageType::Rgb24 || t == ImageType::Rgb48;
}
inline bool IsWide(ImageType t) {
  return t == ImageType::Rgb48 || t == ImageType::Gray16;
}
inline ImageType TypeOf(const Kasa& image) {
  return static_cast<ImageType>(image.GetImageType());
}
inline int Spp(const Kasa& image) {
  return IsColour(TypeOf(image)) ? 3 : 1;
}

inline std::unique_ptr<Kasa> MakeImage(ImageType type, int32_t width, int32_t height) {
  auto image = std::make_unique<Kasa>();
  EXPECT_EQ(1,
            image->CreateImage(static_cast<int>(type), width, height, 0, nullptr, 0, 0, 15, 0, 0));
  return image;
}

inline uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

// An image whose every stored byte (padding included) follows a deterministic pattern, so that
// 16-bit samples differ in their low bytes too.
inline std::unique_ptr<Kasa> PatternImage(ImageType type, int32_t width, int32_t height,
                                          uint32_t salt) {
  auto image = MakeImage(type, width, height);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = image->RowData(y);
    for (int32_t i = 0; i < image->GetLineBytes(); ++i) {
      row[i] = static_cast<uint8_t>(
          Mix(salt * 1000003u + static_cast<uint32_t>(y) * 65537u + static_cast<uint32_t>(i)));
    }
  }
  return image;
}

// A copy of the image (empty for an empty one).
inline std::unique_ptr<Kasa> CopyOf(const Kasa& image) {
  auto copy = std::make_unique<Kasa>();
  if (!image.IsEmpty()) {
    EXPECT_EQ(1, copy->CopyImage(const_cast<Kasa*>(&image)));
  }
  return copy;
}

// FNV-1a, 64 bits, over numbers and every stored byte of images.
class Digest {
 public:
  void Bytes(const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; ++i) {
      hash_ ^= p[i];
      hash_ *= 0x100000001b3ULL;
    }
  }
  void Number(int64_t v) { Bytes(&v, sizeof v); }
  void Image(const Kasa& image) {
    Number(image.GetImageType());
    Number(image.GetImageWidth());
    Number(image.GetImageHeight());
    Number(image.GetLineBytes());
    for (int32_t y = 0; y < image.GetImageHeight(); ++y) {
      Bytes(image.RowData(y), static_cast<size_t>(image.GetLineBytes()));
    }
  }
  uint64_t value() const { return hash_; }

 private:
  uint64_t hash_ = 0xcbf29ce484222325ULL;
};

// Every stored byte of both images (padding included), by their digests.
inline bool SameBytes(const Kasa& a, const Kasa& b) {
  Digest x, y;
  x.Image(a);
  y.Image(b);
  return x.value() == y.value();
}

// Stored sample s (stored order: blue, green, red for RGB) of pixel x in row y, as a number.
inline uint32_t Sample(const Kasa& image, int32_t x, int32_t y, int s) {
  const uint8_t* row = image.RowData(y);
  const size_t i = static_cast<size_t>(x) * Spp(image) + s;
  if (IsWide(TypeOf(image))) return static_cast<uint32_t>(row[2 * i] << 8 | row[2 * i + 1]);
  return row[i];
}

inline void SetSample(Kasa& image, int32_t x, int32_t y, int s, uint32_t value) {
  uint8_t* row = image.RowData(y);
  const size_t i = static_cast<size_t>(x) * Spp(image) + s;
  if (IsWide(TypeOf(image))) {
    row[2 * i] = static_cast<uint8_t>(value >> 8);
    row[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
  } else {
    row[i] = static_cast<uint8_t>(value);
  }
}

// Every sample of two images of the same type and size (padding not compared).
inline ::testing::AssertionResult SamePixels(const Kasa& a, const Kasa& b) {
  if (a.GetImageType() != b.GetImageType() || a.GetImageWidth() != b.GetImageWidth() ||
      a.GetImageHeight() != b.GetImageHeight()) {
    return ::testing::AssertionFailure() << "different type or size";
  }
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < a.GetImageWidth(); ++x) {
      for (int s = 0; s < Spp(a); ++s) {
        if (Sample(a, x, y, s) != Sample(b, x, y, s)) {
          return ::testing::AssertionFailure()
                 << "sample " << s << " of (" << x << ", " << y << "): " << Sample(a, x, y, s)
                 << " and " << Sample(b, x, y, s);
        }
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// A photograph-like picture: ramps in every channel, a saturated red disc (a pupil) around
// (11/30, 9/20) of the size, a grey patch, and noise. 16-bit samples carry noise in their low
// bytes too; padding bytes keep the pattern they were created with.
inline std::unique_ptr<Kasa> Scene(ImageType type, int32_t w, int32_t h, uint32_t salt) {
  auto image = PatternImage(type, w, h, salt);
  const int32_t r = std::max(1, std::min(w, h) / 4);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t noise = Mix(salt ^ static_cast<uint32_t>(y * 7919 + x));
      const int32_t dx = x - w * 11 / 30, dy = y - h * 9 / 20;
      const bool pupil = dx * dx + dy * dy <= r * r;
      const bool patch = x < w / 4 && y > h / 2;
      for (int c = 0; c < Spp(*image); ++c) {
        int32_t v = (x * 255 / std::max(w - 1, 1) + y * 97 / std::max(h, 1) + 60 * c) % 256;
        if (pupil && IsColour(type)) v = c == 2 ? 215 : 45;
        if (patch) v = 128;
        v = std::clamp(v + static_cast<int32_t>((noise >> (8 * c)) & 15) - 7, 0, 255);
        const uint32_t v16 = static_cast<uint32_t>(v) * 257 + ((noise >> 24) & 0x3F) % 257;
        SetSample(*image, x, y, c, IsWide(type) ? std::min<uint32_t>(v16, 65535) : v);
      }
    }
  }
  return image;
}

// Records, on the current thread, every progress report, and while it lives every call of the
// busy and message hooks; the report numbered `abortAt` (counted from 1) asks to stop.
using ProgressCall = std::array<int32_t, 3>;  // start, end, current

class Recorder {
 public:
  explicit Recorder(int abortAt = 0)
      : busy_(MarloSetBusyHandler([](int b) { State().busy.push_back(b); })),
        message_(MarloSetMessageHandler([](const char* t) { State().texts.push_back(t); })) {
    State() = Data{{}, {}, {}, abortAt};
  }
  ~Recorder() {
    MarloSetBusyHandler(busy_);
    MarloSetMessageHandler(message_);
  }
  static int32_t MARLO_STDCALL Callback(int32_t start, int32_t end, int32_t current) {
    State().calls.push_back({start, end, current});
    return static_cast<int>(State().calls.size()) == State().abortAt ? 1 : 0;
  }
  const std::vector<ProgressCall>& calls() const { return State().calls; }
  std::vector<int32_t> values() const {
    std::vector<int32_t> v;
    for (const auto& c : State().calls) v.push_back(c[2]);
    return v;
  }
  const std::vector<int>& busy() const { return State().busy; }
  const std::vector<std::string>& texts() const { return State().texts; }

 private:
  struct Data {
    std::vector<ProgressCall> calls;
    std::vector<int> busy;
    std::vector<std::string> texts;
    int abortAt;
  };
  static Data& State() {
    static thread_local Data data;
    return data;
  }
  MarloBusyHandler busy_;
  MarloMessageHandler message_;
};

// The reports of the frame's progress object over `rows` rows of which `steps` are worked (kept
// apart from the Recorder of the calling test).
inline std::vector<int32_t> ProgressProtocol(int32_t start, int32_t end, int32_t rows,
                                             int32_t steps) {
  static thread_local std::vector<int32_t> values;
  values.clear();
  marlo::Progress progress(
      [](int32_t, int32_t, int32_t current) -> int32_t {
        values.push_back(current);
        return 0;
      },
      start, end, rows);
  progress.Begin();
  for (int32_t i = 0; i < steps; ++i) progress.Step();
  progress.Finish();
  return values;
}

// Checks a filter against an expected result, into a separate destination and in place.
// `run(src, dst)` calls the filter and must give 1; `expect(in, out)` writes into `out` what the
// filter should leave there after reading `in` (in place it is given one image twice). A separate
// destination starts with other content than the source, and the source must not change.
template <class Run, class Expect>
void ExpectOutput(const Kasa& source, Run run, Expect expect) {
  auto src = CopyOf(source);
  auto dst = PatternImage(TypeOf(source), source.GetImageWidth(), source.GetImageHeight(), 99);
  auto want = CopyOf(*dst);
  expect(*src, *want);
  ASSERT_EQ(1, run(src.get(), dst.get()));
  EXPECT_TRUE(SamePixels(*want, *dst)) << "separate destination";
  EXPECT_TRUE(SameBytes(source, *src)) << "the source changed";
  want = CopyOf(source);
  expect(*want, *want);
  ASSERT_EQ(1, run(src.get(), src.get()));
  EXPECT_TRUE(SamePixels(*want, *src)) << "in place";
}

}  // namespace marlo::test

#endif  // MARLO_TESTS_TEST_SUPPORT_H
