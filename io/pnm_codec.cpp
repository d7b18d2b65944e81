// Binary PNM: PGM (P5) and PPM (P6) with any maximum value up to 65535. Samples of a file whose
// maximum is not 255 or 65535 are scaled to the full 8 or 16-bit range, rounded to nearest.
// Output is P5 for grey pictures and P6 for colour ones, with maximum 255 or 65535.
#include <cctype>
#include <cstring>

#include "codecs.h"

namespace marlo::io {
namespace {

class PnmDecoder : public Decoder {
 public:
  PnmDecoder(FILE* file, const Limits& limits) : file_(file), limits_(limits) {}

  void Open() {
    const int p = std::fgetc(file_);
    const int kind = std::fgetc(file_);
    if (p != 'P') throw FileError("PNM: bad header");
    if (kind != '5' && kind != '6') {
      throw FileError(kind == '7' ? "PNM: PAM files (P7) are not supported"
                                  : "PNM: only binary PGM (P5) and PPM (P6) files are supported");
    }
    const uint64_t width = Number("width");
    const uint64_t height = Number("height");
    maxval_ = static_cast<uint32_t>(Number("maximum value"));
    const int c = std::fgetc(file_);  // exactly one whitespace character before the samples
    if (c == EOF || !std::isspace(c)) throw FileError("PNM: bad header");
    if (width == 0 || height == 0 || width > 0x7fffffff || height > 0x7fffffff) {
      throw FileError("PNM: bad image size");
    }
    if (maxval_ == 0 || maxval_ > 65535) {
      throw FileError("PNM: unsupported depth (maximum value " + std::to_string(maxval_) +
                      "; 1 to 65535 are supported)");
    }
    info.format = Format::Pnm;
    info.width = static_cast<int32_t>(width);
    info.height = static_cast<int32_t>(height);
    info.channels = kind == '5' ? 1 : 3;
    info.bits = maxval_ > 255 ? 16 : 8;
    info.fileBits = info.bits;
    info.kind = kind == '5' ? "PGM grey" : "PPM colour";
    if (maxval_ != 255 && maxval_ != 65535) {
      info.kind += " (maximum value " + std::to_string(maxval_) + ")";
    }
  }

  const ImageInfo& Info() const override { return info; }

  void Decode(Picture* picture, const RowTick& tick) override {
    CheckLimits(info, limits_);
    Budget budget(info);
    picture->info = info;
    const int bytes = info.bits / 8;
    const size_t samples = static_cast<size_t>(info.width) * info.channels;
    budget.Take(PictureBytes(info) / static_cast<uint64_t>(info.height), "the row buffer");
    AllocatePicture(picture);
    std::vector<uint8_t> row(samples * bytes);
    const uint32_t full = info.bits == 16 ? 65535u : 255u;
    for (int32_t y = 0; y < info.height; ++y) {
      if (std::fread(row.data(), 1, row.size(), file_) != row.size()) {
        throw FileError(std::ferror(file_) ? "PNM: read error"
                                           : "PNM: the file ends too early (truncated)");
      }
      if (maxval_ != full) {
        for (size_t i = 0; i < samples; ++i) {
          uint32_t v = bytes == 1 ? row[i] : (uint32_t{row[2 * i]} << 8) | row[2 * i + 1];
          if (v > maxval_) v = maxval_;
          v = (v * full + maxval_ / 2) / maxval_;
          if (bytes == 1) {
            row[i] = static_cast<uint8_t>(v);
          } else {
            row[2 * i] = static_cast<uint8_t>(v >> 8);
            row[2 * i + 1] = static_cast<uint8_t>(v & 0xff);
          }
        }
      }
      StoreInterleavedRow(picture, y, row.data());
      tick(y, info.height);
    }
  }

  ImageInfo info;

 private:
  // A decimal number after whitespace and comments.
  uint64_t Number(const char* what) {
    int c = std::fgetc(file_);
    for (;;) {
      while (c != EOF && std::isspace(c)) c = std::fgetc(file_);
      if (c == '#') {
        while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file_);
        continue;
      }
      break;
    }
    if (c == EOF || !std::isdigit(c)) throw FileError(std::string("PNM: bad ") + what);
    uint64_t value = 0;
    while (c != EOF && std::isdigit(c)) {
      value = value * 10 + static_cast<uint64_t>(c - '0');
      if (value > 0xffffffffull) throw FileError(std::string("PNM: bad ") + what);
      c = std::fgetc(file_);
    }
    if (c != EOF) std::ungetc(c, file_);
    return value;
  }

  FILE* file_;
  Limits limits_;
  uint32_t maxval_ = 255;
};

}  // namespace

std::unique_ptr<Decoder> OpenPnm(FILE* file, const Limits& limits) {
  auto decoder = std::make_unique<PnmDecoder>(file, limits);
  decoder->Open();
  return decoder;
}

void EncodePnm(const Picture& picture, FILE* file, const RowTick& tick) {
  const Kasa& pixels = *picture.pixels;
  const int type = pixels.GetImageType();
  const bool grey =
      type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Gray16);
  const bool wide =
      type == static_cast<int>(ImageType::Rgb48) || type == static_cast<int>(ImageType::Gray16);
  const int32_t width = pixels.GetImageWidth();
  const int32_t height = pixels.GetImageHeight();
  if (std::fprintf(file, "P%c\n%d %d\n%d\n", grey ? '5' : '6', width, height, wide ? 65535 : 255) <
      0) {
    throw FileError("PNM: write error");
  }
  std::vector<uint8_t> row(static_cast<size_t>(width) * (grey ? 1 : 3) * (wide ? 2 : 1));
  for (int32_t y = 0; y < height; ++y) {
    LoadInterleavedRow(picture, y, false, row.data());
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size()) {
      throw FileError("PNM: write error (disk full?)");
    }
    tick(y, height);
  }
}

}  // namespace marlo::io
