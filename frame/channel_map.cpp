#include "frame/channel_map.h"

#include <cstring>

namespace marlo {

namespace {

// One stored 8-bit row: samples are bytes, pixels blue, green, red.
void MapRow(const uint8_t* in, uint8_t* out, size_t width, bool colour, const uint8_t* red,
            const uint8_t* green, const uint8_t* blue) {
  if (!colour) {
    for (size_t x = 0; x < width; ++x) out[x] = red[in[x]];
    return;
  }
  for (size_t x = 0; x < 3 * width; x += 3) {
    const uint8_t b = in[x];
    const uint8_t g = in[x + 1];
    const uint8_t r = in[x + 2];
    out[x] = blue[b];
    out[x + 1] = green[g];
    out[x + 2] = red[r];
  }
}

// One stored 16-bit sample: most significant byte first.
inline uint16_t Load16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline void Store16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

void MapRow(const uint8_t* in, uint8_t* out, size_t width, bool colour, const uint16_t* red,
            const uint16_t* green, const uint16_t* blue) {
  if (!colour) {
    for (size_t x = 0; x < 2 * width; x += 2) Store16(out + x, red[Load16(in + x)]);
    return;
  }
  for (size_t x = 0; x < 6 * width; x += 6) {
    const uint16_t b = Load16(in + x);
    const uint16_t g = Load16(in + x + 2);
    const uint16_t r = Load16(in + x + 4);
    Store16(out + x, blue[b]);
    Store16(out + x + 2, green[g]);
    Store16(out + x + 4, red[r]);
  }
}

}  // namespace

template <class D>
Status MapChannels(Kasa& src, Kasa& dst, const typename D::Sample* red,
                   const typename D::Sample* green, const typename D::Sample* blue,
                   RowPadding padding, Progress& progress) {
  const bool colour = SamplesPerPixel(src) == 3;
  const size_t width = static_cast<size_t>(src.GetImageWidth());
  const size_t pixelBytes = width * (colour ? 3 : 1) * sizeof(typename D::Sample);
  const size_t lineBytes = static_cast<size_t>(src.GetLineBytes());
  const bool copyPadding = D::kBits == 16 || padding == RowPadding::CopyFromSource;
  // Rows are independent: the bands may be worked on several threads, also in place.
  const RowBands bands(src.GetImageHeight(), 2 * lineBytes);
  const Status status = bands.Run(&progress, [&](Band& band) {
    for (int32_t y = band.first(); y < band.end(); ++y) {
      if (!band.Enter()) return;
      const uint8_t* in = StoredRow(src, y);
      uint8_t* out = StoredRow(dst, y);
      MapRow(in, out, width, colour, red, green, blue);
      if (copyPadding && in != out)
        std::memcpy(out + pixelBytes, in + pixelBytes, lineBytes - pixelBytes);
      if (!band.Leave()) return;  // after the row is written
    }
  });
  if (status != Status::Ok) return status;
  return progress.Finish();
}

template Status MapChannels<Depth8>(Kasa&, Kasa&, const uint8_t*, const uint8_t*, const uint8_t*,
                                    RowPadding, Progress&);
template Status MapChannels<Depth16>(Kasa&, Kasa&, const uint16_t*, const uint16_t*,
                                     const uint16_t*, RowPadding, Progress&);

}  // namespace marlo
