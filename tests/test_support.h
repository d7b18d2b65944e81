// Helpers shared by the tests: images, deterministic contents, a progress recorder and a
// busy-hook recorder.
#ifndef MARLO_TESTS_TEST_SUPPORT_H
#define MARLO_TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "marlo.h"

namespace marlo::test {

constexpr ImageType kAllTypes[] = {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48,
                                   ImageType::Gray16};

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

// Fills every stored byte of every row (padding included) with a deterministic pattern, so that
// 16-bit samples differ in their low bytes too.
inline void FillPattern(Kasa& image, uint32_t salt) {
  for (int32_t y = 0; y < image.GetImageHeight(); ++y) {
    uint8_t* row = image.RowData(y);
    for (int32_t i = 0; i < image.GetLineBytes(); ++i) {
      row[i] = static_cast<uint8_t>(
          Mix(salt * 1000003u + static_cast<uint32_t>(y) * 65537u + static_cast<uint32_t>(i)));
    }
  }
}

inline std::unique_ptr<Kasa> PatternImage(ImageType type, int32_t width, int32_t height,
                                          uint32_t salt) {
  auto image = MakeImage(type, width, height);
  FillPattern(*image, salt);
  return image;
}

inline std::unique_ptr<Kasa> CopyOf(Kasa& image) {
  auto copy = std::make_unique<Kasa>();
  EXPECT_EQ(1, copy->CopyImage(&image));
  return copy;
}

// Every stored byte of both images, row by row (padding included).
inline bool SameBytes(const Kasa& a, const Kasa& b) {
  if (a.GetImageType() != b.GetImageType() || a.GetImageWidth() != b.GetImageWidth() ||
      a.GetImageHeight() != b.GetImageHeight() || a.GetLineBytes() != b.GetLineBytes()) {
    return false;
  }
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    if (std::memcmp(a.RowData(y), b.RowData(y), static_cast<size_t>(a.GetLineBytes())) != 0) {
      return false;
    }
  }
  return true;
}

// True when the padding bytes after `width` pixels are the same in every row of both images.
inline bool SamePadding(const Kasa& a, const Kasa& b) {
  const int bits = a.GetBitCount();
  const int32_t used = a.GetImageWidth() * (bits / 8);
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    for (int32_t i = used; i < a.GetLineBytes(); ++i) {
      if (a.RowData(y)[i] != b.RowData(y)[i]) return false;
    }
  }
  return true;
}

// The per-row progress reports of a 50-row image over 0..100: 0, 1, 3, ..., 99, then 100.
inline std::vector<int32_t> FiftyRowProgress() {
  std::vector<int32_t> expected = {0};
  for (int32_t v = 1; v <= 99; v += 2) expected.push_back(v);
  expected.push_back(100);
  return expected;
}

// Stored sample s (in stored order: blue, green, red for RGB) of pixel x in row y, as a number.
inline uint32_t Sample(const Kasa& image, int32_t x, int32_t y, int s) {
  const uint8_t* row = image.RowData(y);
  const int bits = image.GetBitCount();
  const int spp = (bits == 24 || bits == 48) ? 3 : 1;
  const size_t i = static_cast<size_t>(x) * spp + s;
  if (bits == 16 || bits == 48) return static_cast<uint32_t>(row[2 * i] << 8 | row[2 * i + 1]);
  return row[i];
}

// Every sample of the pixels of two RGB images of the same size (padding not compared).
inline bool SamePixels(const Kasa& a, const Kasa& b) {
  if (a.GetImageWidth() != b.GetImageWidth() || a.GetImageHeight() != b.GetImageHeight()) {
    return false;
  }
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < a.GetImageWidth(); ++x) {
      for (int s = 0; s < 3; ++s) {
        if (Sample(a, x, y, s) != Sample(b, x, y, s)) return false;
      }
    }
  }
  return true;
}

inline void SetSample(Kasa& image, int32_t x, int32_t y, int s, uint32_t value) {
  uint8_t* row = image.RowData(y);
  const int bits = image.GetBitCount();
  const int spp = (bits == 24 || bits == 48) ? 3 : 1;
  const size_t i = static_cast<size_t>(x) * spp + s;
  if (bits == 16 || bits == 48) {
    row[2 * i] = static_cast<uint8_t>(value >> 8);
    row[2 * i + 1] = static_cast<uint8_t>(value & 0xFF);
  } else {
    row[i] = static_cast<uint8_t>(value);
  }
}

// The refusals of a filter that writes every source position into an existing destination:
// a smaller destination, one of another type, an empty or null image give 0 and write nothing.
template <class Run>
void ExpectCoveringDestinationRefusals(Run run) {
  for (ImageType type : kAllTypes) {
    auto src = PatternImage(type, 6, 5, 1);
    const ImageType other = type == ImageType::Gray8 ? ImageType::Gray16 : ImageType::Gray8;
    std::unique_ptr<Kasa> wrong[] = {PatternImage(type, 5, 5, 2), PatternImage(type, 6, 4, 2),
                                     PatternImage(other, 6, 5, 2)};
    for (auto& dst : wrong) {
      auto before = CopyOf(*dst);
      EXPECT_EQ(0, run(src.get(), dst.get()));
      EXPECT_TRUE(SameBytes(*before, *dst));
    }
    Kasa empty;
    EXPECT_EQ(0, run(src.get(), &empty));
    EXPECT_EQ(1, empty.IsEmpty());
    EXPECT_EQ(0, run(&empty, src.get()));
    EXPECT_EQ(0, run(nullptr, src.get()));
    EXPECT_EQ(0, run(src.get(), nullptr));
  }
}

// Records every progress call of the current thread; can abort at a chosen call.
struct ProgressCall {
  int32_t start, end, current;
  bool operator==(const ProgressCall& o) const {
    return start == o.start && end == o.end && current == o.current;
  }
};

class ProgressRecorder {
 public:
  // abortAt: 1-based index of the call that returns nonzero (0: never abort).
  explicit ProgressRecorder(int abortAt = 0) {
    State().calls.clear();
    State().abortAt = abortAt;
  }
  static int32_t MARLO_STDCALL Callback(int32_t start, int32_t end, int32_t current) {
    auto& s = State();
    s.calls.push_back({start, end, current});
    return (s.abortAt != 0 && static_cast<int>(s.calls.size()) == s.abortAt) ? 1 : 0;
  }
  const std::vector<ProgressCall>& calls() const { return State().calls; }
  std::vector<int32_t> values() const {
    std::vector<int32_t> v;
    for (const auto& c : State().calls) v.push_back(c.current);
    return v;
  }

 private:
  struct Data {
    std::vector<ProgressCall> calls;
    int abortAt = 0;
  };
  static Data& State() {
    static thread_local Data data;
    return data;
  }
};

// Installs a busy handler that records its calls, and removes it again.
class BusyRecorder {
 public:
  BusyRecorder() {
    Calls().clear();
    previous_ = MarloSetBusyHandler(&Handler);
  }
  ~BusyRecorder() { MarloSetBusyHandler(previous_); }
  static std::vector<int>& Calls() {
    static std::vector<int> calls;
    return calls;
  }

 private:
  static void Handler(int busy) { Calls().push_back(busy); }
  MarloBusyHandler previous_;
};

}  // namespace marlo::test

#endif  // MARLO_TESTS_TEST_SUPPORT_H
