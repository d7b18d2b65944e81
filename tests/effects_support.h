// Helpers for the distortion-effect tests: whole pixels at full precision through the image
// store's pixel operations, and a recorder of the message handler.
#ifndef MARLO_TESTS_EFFECTS_SUPPORT_H
#define MARLO_TESTS_EFFECTS_SUPPORT_H

#include <string>
#include <vector>

#include "test_support.h"

namespace marlo::test {

// A whole pixel as one number: the 24-bit packing on Rgb24, the 48-bit packing on Rgb48 and the
// sample itself on grey images (0 outside the image, as the store returns).
inline int64_t GetWhole(Kasa& image, int32_t x, int32_t y) {
  switch (static_cast<ImageType>(image.GetImageType())) {
    case ImageType::Rgb24:
      return image.GetPixelRGB(x, y, nullptr);
    case ImageType::Rgb48: {
      int64_t v = 0;
      image.GetPixelRGB(x, y, &v);
      return v;
    }
    default:
      return image.GetPixel(x, y, nullptr);
  }
}

inline void SetWhole(Kasa& image, int32_t x, int32_t y, int64_t value) {
  const int type = image.GetImageType();
  if (type == static_cast<int>(ImageType::Rgb24) || type == static_cast<int>(ImageType::Rgb48)) {
    image.SetPixelRGB(x, y, value);
  } else {
    image.SetPixel(x, y, value);
  }
}

inline int64_t WhiteOf(const Kasa& image) {
  switch (static_cast<ImageType>(image.GetImageType())) {
    case ImageType::Rgb24:
      return 0xFFFFFF;
    case ImageType::Rgb48:
      return 0xFFFFFFFFFFFF;
    case ImageType::Gray8:
      return 0xFF;
    default:
      return 0xFFFF;
  }
}

// Every pixel of two images of the same type and size (padding not compared).
inline ::testing::AssertionResult SamePixels(Kasa& a, Kasa& b) {
  if (a.GetImageType() != b.GetImageType() || a.GetImageWidth() != b.GetImageWidth() ||
      a.GetImageHeight() != b.GetImageHeight()) {
    return ::testing::AssertionFailure() << "different geometry";
  }
  for (int32_t y = 0; y < a.GetImageHeight(); ++y) {
    for (int32_t x = 0; x < a.GetImageWidth(); ++x) {
      if (GetWhole(a, x, y) != GetWhole(b, x, y)) {
        return ::testing::AssertionFailure()
               << "pixel (" << x << ", " << y << ") differs: " << GetWhole(a, x, y) << " vs "
               << GetWhole(b, x, y);
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// Records the texts handed to the message handler while it lives.
class MessageRecorder {
 public:
  MessageRecorder() {
    Texts().clear();
    previous_ = MarloSetMessageHandler(&Handler);
  }
  ~MessageRecorder() { MarloSetMessageHandler(previous_); }
  std::vector<std::string> texts() const { return Texts(); }
  void clear() { Texts().clear(); }

 private:
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }
  static void Handler(const char* text) { Texts().push_back(text); }
  MarloMessageHandler previous_;
};

}  // namespace marlo::test

#endif  // MARLO_TESTS_EFFECTS_SUPPORT_H
