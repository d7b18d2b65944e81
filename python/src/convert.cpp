// One pass each way between numpy arrays and Kasa images. Each row is converted by a loop made
// for its sample size, byte order and channel counts; rows whose pixels and samples lie densely
// get a loop with the strides fixed, which the compiler vectorises. Samples are read and written
// byte by byte, so unaligned arrays are read correctly.
#include "convert.h"

namespace marlo_py {
namespace {

// A sample of the array, in either byte order.
template <int kBytes, bool kBig>
inline uint32_t LoadArray(const uint8_t* p) {
  if constexpr (kBytes == 1) {
    return p[0];
  } else if constexpr (kBig) {
    return static_cast<uint32_t>(p[0]) << 8 | p[1];
  } else {
    return static_cast<uint32_t>(p[1]) << 8 | p[0];
  }
}

template <int kBytes, bool kBig>
inline void StoreArray(uint8_t* p, uint32_t v) {
  if constexpr (kBytes == 1) {
    p[0] = static_cast<uint8_t>(v);
  } else if constexpr (kBig) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
  } else {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
}

// The store holds 16-bit samples most significant byte first.
template <int kBytes>
inline uint32_t LoadStore(const uint8_t* p) {
  return LoadArray<kBytes, true>(p);
}
template <int kBytes>
inline void PutStore(uint8_t* p, uint32_t v) {
  StoreArray<kBytes, true>(p, v);
}

// Array row (kIn channels, red first) into a store row (kOut channels, blue first).
template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
void ImportRows(const ArrayLayout& a, Kasa* image) {
  const int64_t ps = kDense ? kIn * kBytes : a.pixelStride;
  const int64_t ss = kDense ? kBytes : a.sampleStride;
  for (int32_t y = 0; y < a.height; ++y) {
    const uint8_t* src = a.data + y * a.rowStride;
    uint8_t* dst = image->RowData(y);
    for (int32_t x = 0; x < a.width; ++x) {
      const uint8_t* p = src + x * ps;
      uint8_t* q = dst + static_cast<int64_t>(x) * kOut * kBytes;
      if constexpr (kIn == 3) {
        PutStore<kBytes>(q, LoadArray<kBytes, kBig>(p + 2 * ss));
        PutStore<kBytes>(q + kBytes, LoadArray<kBytes, kBig>(p + ss));
        PutStore<kBytes>(q + 2 * kBytes, LoadArray<kBytes, kBig>(p));
      } else if constexpr (kOut == 3) {
        const uint32_t v = LoadArray<kBytes, kBig>(p);
        PutStore<kBytes>(q, v);
        PutStore<kBytes>(q + kBytes, v);
        PutStore<kBytes>(q + 2 * kBytes, v);
      } else {
        PutStore<kBytes>(q, LoadArray<kBytes, kBig>(p));
      }
    }
  }
}

// Store row (kChannels, blue first) into an array row (red first).
template <int kBytes, bool kBig, int kChannels, bool kDense>
void ExportRows(const Kasa& image, const ArrayLayout& a) {
  const int64_t ps = kDense ? kChannels * kBytes : a.pixelStride;
  const int64_t ss = kDense ? kBytes : a.sampleStride;
  for (int32_t y = 0; y < a.height; ++y) {
    const uint8_t* src = image.RowData(y);
    uint8_t* dst = a.data + y * a.rowStride;
    for (int32_t x = 0; x < a.width; ++x) {
      const uint8_t* p = src + static_cast<int64_t>(x) * kChannels * kBytes;
      uint8_t* q = dst + x * ps;
      if constexpr (kChannels == 3) {
        StoreArray<kBytes, kBig>(q, LoadStore<kBytes>(p + 2 * kBytes));
        StoreArray<kBytes, kBig>(q + ss, LoadStore<kBytes>(p + kBytes));
        StoreArray<kBytes, kBig>(q + 2 * ss, LoadStore<kBytes>(p));
      } else {
        StoreArray<kBytes, kBig>(q, LoadStore<kBytes>(p));
      }
    }
  }
}

bool Dense(const ArrayLayout& a) {
  return a.pixelStride == static_cast<int64_t>(a.channels) * a.bytes &&
         (a.channels == 1 || a.sampleStride == a.bytes);
}

template <int kBytes, bool kBig>
void Import(const ArrayLayout& a, Kasa* image, bool rgb) {
  const bool dense = Dense(a);
  if (a.channels == 3) {
    dense ? ImportRows<kBytes, kBig, 3, 3, true>(a, image)
          : ImportRows<kBytes, kBig, 3, 3, false>(a, image);
  } else if (rgb) {
    dense ? ImportRows<kBytes, kBig, 1, 3, true>(a, image)
          : ImportRows<kBytes, kBig, 1, 3, false>(a, image);
  } else {
    dense ? ImportRows<kBytes, kBig, 1, 1, true>(a, image)
          : ImportRows<kBytes, kBig, 1, 1, false>(a, image);
  }
}

template <int kBytes, bool kBig>
void Export(const Kasa& image, const ArrayLayout& a) {
  const bool dense = Dense(a);
  if (a.channels == 3) {
    dense ? ExportRows<kBytes, kBig, 3, true>(image, a)
          : ExportRows<kBytes, kBig, 3, false>(image, a);
  } else {
    dense ? ExportRows<kBytes, kBig, 1, true>(image, a)
          : ExportRows<kBytes, kBig, 1, false>(image, a);
  }
}

}  // namespace

int KasaTypeFor(int channels, int bytes) {
  const ImageType type = channels == 3 ? (bytes == 2 ? ImageType::Rgb48 : ImageType::Rgb24)
                                       : (bytes == 2 ? ImageType::Gray16 : ImageType::Gray8);
  return static_cast<int>(type);
}

void ArrayToKasa(const ArrayLayout& a, Kasa* image) {
  const bool rgb = image->GetBitCount() == 24 || image->GetBitCount() == 48;
  if (a.bytes == 1) {
    Import<1, false>(a, image, rgb);
  } else if (a.bigEndian) {
    Import<2, true>(a, image, rgb);
  } else {
    Import<2, false>(a, image, rgb);
  }
}

void KasaToArray(const Kasa& image, const ArrayLayout& a) {
  if (a.bytes == 1) {
    Export<1, false>(image, a);
  } else if (a.bigEndian) {
    Export<2, true>(image, a);
  } else {
    Export<2, false>(image, a);
  }
}

}  // namespace marlo_py
