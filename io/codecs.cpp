// Format recognition, dispatch, and the row conversions shared by the codecs.
#include "codecs.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace marlo::io {

const char* FormatName(Format format) {
  switch (format) {
    case Format::Png:
      return "PNG";
    case Format::Jpeg:
      return "JPEG";
    case Format::Tiff:
      return "TIFF";
    case Format::Pnm:
      return "PNM";
  }
  return "?";
}

static std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

const char* FormatExtension(Format format) {
  switch (format) {
    case Format::Png:
      return "png";
    case Format::Jpeg:
      return "jpg";
    case Format::Tiff:
      return "tif";
    case Format::Pnm:
      return "pnm";
  }
  return "png";
}

bool FormatFromName(const std::string& name, Format* format) {
  const std::string n = Lower(name);
  if (n == "png") {
    *format = Format::Png;
  } else if (n == "jpg" || n == "jpeg" || n == "jpe") {
    *format = Format::Jpeg;
  } else if (n == "tif" || n == "tiff") {
    *format = Format::Tiff;
  } else if (n == "pnm" || n == "ppm" || n == "pgm") {
    *format = Format::Pnm;
  } else {
    return false;
  }
  return true;
}

bool FormatFromExtension(const std::string& path, Format* format) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  return FormatFromName(path.substr(dot + 1), format);
}

Format Recognise(const uint8_t* magic, size_t got) {
  if (got == 0) throw FileError("the file is empty");
  static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (got >= 8 && std::memcmp(magic, kPng, 8) == 0) return Format::Png;
  if (got >= 3 && magic[0] == 0xff && magic[1] == 0xd8 && magic[2] == 0xff) return Format::Jpeg;
  if (got >= 4 && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                   (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42) ||
                   (magic[0] == 'I' && magic[1] == 'I' && magic[2] == 43 && magic[3] == 0) ||
                   (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 43))) {
    return Format::Tiff;
  }
  if (got >= 2 && magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '7') return Format::Pnm;
  throw FileError("not a PNG, JPEG, TIFF or PNM file");
}

std::unique_ptr<Decoder> OpenDecoder(FILE* file, Format format, const Limits& limits) {
  switch (format) {
    case Format::Png:
      return OpenPng(file, limits);
    case Format::Jpeg:
      return OpenJpeg(file, limits);
    case Format::Tiff:
      return OpenTiff(file, limits);
    case Format::Pnm:
      return OpenPnm(file, limits);
  }
  throw FileError("unknown format");
}

uint64_t Product(std::initializer_list<uint64_t> factors) {
  uint64_t product = 1;
  for (uint64_t f : factors) {
    if (f != 0 && product > UINT64_MAX / f) return UINT64_MAX;
    product *= f;
  }
  return product;
}

uint64_t PictureBytes(const ImageInfo& info) {
  return Product({static_cast<uint64_t>(info.width), static_cast<uint64_t>(info.height),
                  static_cast<uint64_t>(info.channels + (info.alpha ? 1 : 0)),
                  static_cast<uint64_t>(info.bits / 8)});
}

uint64_t LargestPictureBytes(const Limits& limits) {
  const double bytes = limits.maxMegapixels * 1e6 * 8;
  return bytes >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(bytes);
}

Budget::Budget(const ImageInfo& info)
    : info_(info),
      limit_(Product({2, PictureBytes(info)}) + kBudgetSlack),
      used_(PictureBytes(info)) {}

void Budget::Take(uint64_t bytes, const char* what) {
  if (bytes <= limit_ - used_) {
    used_ += bytes;
    return;
  }
  char text[320];
  std::snprintf(text, sizeof text,
                "%s: decoding a %d x %d picture may use %.1f MB (twice its decoded size plus %d "
                "MB), but %s would take %.1f MB",
                FormatName(info_.format), info_.width, info_.height,
                static_cast<double>(limit_) / 1048576.0, static_cast<int>(kBudgetSlack >> 20), what,
                static_cast<double>(bytes) / 1048576.0);
  throw FileError(text);
}

void CheckLimits(const ImageInfo& info, const Limits& limits) {
  const double megapixels = static_cast<double>(info.Pixels()) / 1e6;
  if (megapixels > limits.maxMegapixels) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "the image is %d x %d (%.1f megapixels), more than the limit of %g "
                  "megapixels (see --max-megapixels)",
                  info.width, info.height, megapixels, limits.maxMegapixels);
    throw FileError(text);
  }
}

void Encode(const Picture& picture, Format format, FILE* file, const WriteOptions& options,
            const RowTick& tickOrEmpty) {
  const RowTick tick = tickOrEmpty ? tickOrEmpty : [](int32_t, int32_t) {};
  switch (format) {
    case Format::Png:
      EncodePng(picture, file, options, tick);
      break;
    case Format::Jpeg:
      EncodeJpeg(picture, file, options, tick);
      break;
    case Format::Tiff:
      EncodeTiff(picture, file, options, tick);
      break;
    case Format::Pnm:
      EncodePnm(picture, file, tick);
      break;
  }
  if ((format == Format::Jpeg || format == Format::Pnm) && picture.alpha && options.onNote) {
    options.onNote(Note::AlphaDropped, std::string(FormatName(format)) +
                                           " has no alpha channel; the alpha channel is dropped");
  }
}

int KasaType(int channels, int bits) {
  if (channels == 1) {
    return static_cast<int>(bits == 16 ? ImageType::Gray16 : ImageType::Gray8);
  }
  return static_cast<int>(bits == 16 ? ImageType::Rgb48 : ImageType::Rgb24);
}

void AllocatePicture(Picture* picture) {
  const ImageInfo& info = picture->info;
  picture->pixels = std::make_unique<Kasa>();
  if (!picture->pixels->CreateImage(KasaType(info.channels, info.bits), info.width, info.height, 0,
                                    nullptr, 0, 0, 15, 0, 0)) {
    throw FileError("not enough memory for a " + std::to_string(info.width) + " x " +
                    std::to_string(info.height) + " image");
  }
  picture->alpha.reset();
  if (info.alpha) {
    picture->alpha = std::make_unique<Kasa>();
    if (!picture->alpha->CreateImage(KasaType(1, info.bits), info.width, info.height, 0, nullptr, 0,
                                     0, 15, 0, 0)) {
      throw FileError("not enough memory for the alpha channel");
    }
  }
}

// Kasa rows hold RGB pixels as blue, green, red; 16-bit samples most significant byte first,
// which is also the order of PNG, PNM and of the interleaved rows used here.
void StoreInterleavedRow(Picture* picture, int32_t y, const uint8_t* row) {
  const ImageInfo& info = picture->info;
  const int bytes = info.bits / 8;
  const int channels = info.channels;
  const int stride = (channels + (info.alpha ? 1 : 0)) * bytes;
  uint8_t* out = picture->pixels->RowData(y);
  uint8_t* alpha = picture->alpha ? picture->alpha->RowData(y) : nullptr;
  const int32_t width = info.width;
  if (channels == 1) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * stride;
      std::memcpy(out + static_cast<size_t>(x) * bytes, p, bytes);
      if (alpha) std::memcpy(alpha + static_cast<size_t>(x) * bytes, p + bytes, bytes);
    }
  } else {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = row + static_cast<size_t>(x) * stride;
      uint8_t* q = out + static_cast<size_t>(x) * 3 * bytes;
      std::memcpy(q, p + 2 * bytes, bytes);      // blue
      std::memcpy(q + bytes, p + bytes, bytes);  // green
      std::memcpy(q + 2 * bytes, p, bytes);      // red
      if (alpha) std::memcpy(alpha + static_cast<size_t>(x) * bytes, p + 3 * bytes, bytes);
    }
  }
}

void LoadInterleavedRow(const Picture& picture, int32_t y, bool withAlpha, uint8_t* row) {
  const Kasa& pixels = *picture.pixels;
  const bool grey = pixels.GetImageType() == static_cast<int>(ImageType::Gray8) ||
                    pixels.GetImageType() == static_cast<int>(ImageType::Gray16);
  const int bytes = pixels.GetBitCount() / (grey ? 1 : 3) / 8;
  const int channels = grey ? 1 : 3;
  const bool alphaOut = withAlpha && picture.alpha;
  const int stride = (channels + (alphaOut ? 1 : 0)) * bytes;
  const uint8_t* in = pixels.RowData(y);
  const uint8_t* alpha = alphaOut ? picture.alpha->RowData(y) : nullptr;
  const int32_t width = pixels.GetImageWidth();
  for (int32_t x = 0; x < width; ++x) {
    uint8_t* p = row + static_cast<size_t>(x) * stride;
    if (grey) {
      std::memcpy(p, in + static_cast<size_t>(x) * bytes, bytes);
    } else {
      const uint8_t* q = in + static_cast<size_t>(x) * 3 * bytes;
      std::memcpy(p, q + 2 * bytes, bytes);
      std::memcpy(p + bytes, q + bytes, bytes);
      std::memcpy(p + 2 * bytes, q, bytes);
    }
    if (alpha) std::memcpy(p + channels * bytes, alpha + static_cast<size_t>(x) * bytes, bytes);
  }
}

std::unique_ptr<Kasa> GreyToRgb(const Kasa& grey) {
  const bool wide = grey.GetImageType() == static_cast<int>(ImageType::Gray16);
  auto rgb = std::make_unique<Kasa>();
  const int32_t width = grey.GetImageWidth();
  const int32_t height = grey.GetImageHeight();
  if (!rgb->CreateImage(static_cast<int>(wide ? ImageType::Rgb48 : ImageType::Rgb24), width, height,
                        0, nullptr, 0, 0, 15, 0, 0)) {
    throw FileError("not enough memory to turn the grey picture into RGB");
  }
  const int bytes = wide ? 2 : 1;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = grey.RowData(y);
    uint8_t* out = rgb->RowData(y);
    for (int32_t x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c) {
        std::memcpy(out + (static_cast<size_t>(x) * 3 + c) * bytes,
                    in + static_cast<size_t>(x) * bytes, bytes);
      }
    }
  }
  return rgb;
}

}  // namespace marlo::io
