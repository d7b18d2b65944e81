// One pass each way between numpy arrays and Kasa images. Each row is converted by a loop made
// for its sample size, byte order and channel counts; rows whose pixels and samples lie densely
// get a loop with the strides fixed, which the compiler vectorises, and on x86 a second copy
// compiled for AVX2 (whose byte shuffles turn red-green-blue around) is chosen when the processor
// has it. Both move the same bytes. Samples are read and written byte by byte, so unaligned
// arrays are read correctly.
#include "convert.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define MARLO_PY_AVX2 1
#define MARLO_PY_INLINE inline __attribute__((always_inline))
#else
#define MARLO_PY_INLINE inline
#endif

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

// Array rows (kIn channels, red first) into store rows (kOut channels, blue first).
template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
MARLO_PY_INLINE void ImportBody(const ArrayLayout& a, Kasa* image) {
  // Local copies: a byte store could otherwise change them, which keeps loops from vectorising.
  const int64_t ps = kDense ? kIn * kBytes : a.pixelStride;
  const int64_t ss = kDense ? kBytes : a.sampleStride;
  const int32_t width = a.width, height = a.height;
  const uint8_t* const data = a.data;
  const int64_t rowStride = a.rowStride;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = data + y * rowStride;
    uint8_t* dst = image->RowData(y);
    for (int32_t x = 0; x < width; ++x) {
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

// Store rows (kChannels, blue first) into array rows (red first).
template <int kBytes, bool kBig, int kChannels, bool kDense>
MARLO_PY_INLINE void ExportBody(const Kasa& image, const ArrayLayout& a) {
  const int64_t ps = kDense ? kChannels * kBytes : a.pixelStride;
  const int64_t ss = kDense ? kBytes : a.sampleStride;
  const int32_t width = a.width, height = a.height;
  uint8_t* const data = a.data;
  const int64_t rowStride = a.rowStride;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = image.RowData(y);
    uint8_t* dst = data + y * rowStride;
    for (int32_t x = 0; x < width; ++x) {
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

template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
void ImportPlain(const ArrayLayout& a, Kasa* image) {
  ImportBody<kBytes, kBig, kIn, kOut, kDense>(a, image);
}
template <int kBytes, bool kBig, int kChannels, bool kDense>
void ExportPlain(const Kasa& image, const ArrayLayout& a) {
  ExportBody<kBytes, kBig, kChannels, kDense>(image, a);
}

#if defined(MARLO_PY_AVX2)
template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
__attribute__((target("avx2"))) void ImportAvx2(const ArrayLayout& a, Kasa* image) {
  ImportBody<kBytes, kBig, kIn, kOut, kDense>(a, image);
}
template <int kBytes, bool kBig, int kChannels, bool kDense>
__attribute__((target("avx2"))) void ExportAvx2(const Kasa& image, const ArrayLayout& a) {
  ExportBody<kBytes, kBig, kChannels, kDense>(image, a);
}

bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

// The dense rows through the AVX2 copy when the processor has it.
template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
void ImportRows(const ArrayLayout& a, Kasa* image) {
  if (kDense && HasAvx2()) {
    ImportAvx2<kBytes, kBig, kIn, kOut, kDense>(a, image);
  } else {
    ImportPlain<kBytes, kBig, kIn, kOut, kDense>(a, image);
  }
}
template <int kBytes, bool kBig, int kChannels, bool kDense>
void ExportRows(const Kasa& image, const ArrayLayout& a) {
  if (kDense && HasAvx2()) {
    ExportAvx2<kBytes, kBig, kChannels, kDense>(image, a);
  } else {
    ExportPlain<kBytes, kBig, kChannels, kDense>(image, a);
  }
}
#else
template <int kBytes, bool kBig, int kIn, int kOut, bool kDense>
void ImportRows(const ArrayLayout& a, Kasa* image) {
  ImportPlain<kBytes, kBig, kIn, kOut, kDense>(a, image);
}
template <int kBytes, bool kBig, int kChannels, bool kDense>
void ExportRows(const Kasa& image, const ArrayLayout& a) {
  ExportPlain<kBytes, kBig, kChannels, kDense>(image, a);
}
#endif

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
