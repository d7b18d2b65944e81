// TIFF through libtiff: 8 and 16-bit grey (black or white is zero) and RGB, contiguous or planar,
// in strips or tiles, with an optional alpha channel; 8-bit palette images become RGB. Output is
// deflate-compressed with the horizontal predictor. The ICC profile is carried; the EXIF
// directory of a TIFF is neither read nor written (see the README).
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstring>

#include "codecs.h"

namespace marlo::io {
namespace {

// libtiff's messages. Warnings that mean the file is damaged count as errors: those about the
// strip or tile offsets and byte counts or the colour map, which libtiff patches (it would read
// pixels from wherever the patched offsets point, or read a palette image as grey), and every
// warning while pixels are decoded, except an LZW strip without its end code (as some writers
// leave them).
struct TiffMessages {
  std::string last;    // the last error
  std::string damage;  // the first warning that means damage
  bool decoding = false;
};

int TiffError(TIFF*, void* data, const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  auto* messages = static_cast<TiffMessages*>(data);
  if (messages) messages->last = module ? std::string(module) + ": " + text : text;
  return 1;
}

int TiffWarning(TIFF*, void* data, const char* module, const char* format, va_list args) {
  auto* messages = static_cast<TiffMessages*>(data);
  if (!messages || !messages->damage.empty()) return 1;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  static const char* const kFields[] = {"StripOffsets",   "StripByteCounts", "TileOffsets",
                                        "TileByteCounts", "ColorMap",        "Colormap"};
  bool damage = messages->decoding && !std::strstr(text, "not terminated with EOI code");
  for (const char* field : kFields) damage = damage || std::strstr(text, field) != nullptr;
  if (damage) messages->damage = module ? std::string(module) + ": " + text : text;
  return 1;
}

// Opens a TIFF on a duplicate of the file's descriptor (libtiff closes what it opened). libtiff
// refuses any single allocation above `maxAlloc` (0: no limit).
TIFF* OpenOnFile(FILE* file, const char* mode, TiffMessages* messages, uint64_t maxAlloc) {
  std::fflush(file);
  const int fd = dup(fileno(file));
  if (fd < 0) throw FileError("cannot duplicate the file descriptor");
  if (lseek(fd, 0, SEEK_SET) < 0) {
    close(fd);
    throw FileError("cannot seek in the file (a TIFF needs a seekable file)");
  }
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(options, TiffError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(options, TiffWarning, messages);
  if (maxAlloc > 0) {
    TIFFOpenOptionsSetMaxSingleMemAlloc(
        options, static_cast<tmsize_t>(std::min<uint64_t>(maxAlloc, INT64_MAX)));
  }
  TIFF* tif = TIFFFdOpenExt(fd, "image", mode, options);
  TIFFOpenOptionsFree(options);
  if (!tif) {
    close(fd);
    throw FileError(
        "TIFF: " + (messages->last.empty() ? std::string("cannot open the file") : messages->last));
  }
  return tif;
}

void SwapToBigEndian16(uint8_t* data, size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    uint16_t v;
    std::memcpy(&v, data + 2 * i, 2);  // machine order
    data[2 * i] = static_cast<uint8_t>(v >> 8);
    data[2 * i + 1] = static_cast<uint8_t>(v & 0xff);
  }
}

void BigEndianToMachine16(uint8_t* data, size_t samples) {
  for (size_t i = 0; i < samples; ++i) {
    const uint16_t v = static_cast<uint16_t>((data[2 * i] << 8) | data[2 * i + 1]);
    std::memcpy(data + 2 * i, &v, 2);
  }
}

class TiffDecoder : public Decoder {
 public:
  TiffDecoder(FILE* file, const Limits& limits) : file_(file), limits_(limits) {}
  ~TiffDecoder() override {
    if (tif_) TIFFClose(tif_);
  }

  void Open() {
    tif_ = OpenOnFile(file_, "rm", &messages_, LargestPictureBytes(limits_) + kBudgetSlack);
    CheckDamage();
    uint32_t width = 0, height = 0;
    uint16_t bits = 1, spp = 1, photometric = PHOTOMETRIC_MINISBLACK, planar = PLANARCONFIG_CONTIG;
    uint16_t format = SAMPLEFORMAT_UINT, compression = COMPRESSION_NONE;
    TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric)) {
      photometric = spp >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    }
    if (width == 0 || height == 0 || width > 0x7fffffffu || height > 0x7fffffffu) {
      throw FileError("TIFF: bad image size");
    }
    info.format = Format::Tiff;
    info.width = static_cast<int32_t>(width);
    info.height = static_cast<int32_t>(height);
    info.fileBits = bits;
    bits_ = bits;
    spp_ = spp;
    planar_ = planar;
    if (!TIFFIsCODECConfigured(compression)) {
      throw FileError("TIFF: unsupported compression (scheme " + std::to_string(compression) + ")");
    }
    if (format != SAMPLEFORMAT_UINT) {
      throw FileError("TIFF: unsupported sample format (only unsigned integer samples)");
    }
    if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
      TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
      photometric = PHOTOMETRIC_RGB;
    }
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetField(tif_, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    switch (photometric) {
      case PHOTOMETRIC_MINISBLACK:
      case PHOTOMETRIC_MINISWHITE:
        colourSamples_ = 1;
        invert_ = photometric == PHOTOMETRIC_MINISWHITE;
        info.kind = invert_ ? "grey (white is zero)" : "grey";
        break;
      case PHOTOMETRIC_RGB:
        colourSamples_ = 3;
        info.kind = "RGB";
        break;
      case PHOTOMETRIC_PALETTE:
        colourSamples_ = 1;
        palette_ = true;
        info.kind = "palette";
        break;
      default:
        throw FileError("TIFF: unsupported photometric interpretation " +
                        std::to_string(photometric));
    }
    if (bits != 8 && bits != 16) {
      throw FileError("TIFF: unsupported depth of " + std::to_string(bits) +
                      " bits per sample (8 and 16 are supported)");
    }
    if (palette_ && bits != 8) throw FileError("TIFF: unsupported palette depth");
    if (spp < colourSamples_) throw FileError("TIFF: too few samples per pixel");
    if (spp > colourSamples_ && extraCount > 0 && extraKinds != nullptr &&
        (extraKinds[0] == EXTRASAMPLE_ASSOCALPHA || extraKinds[0] == EXTRASAMPLE_UNASSALPHA)) {
      info.alpha = true;
      info.kind += "+alpha";
    }
    if (palette_) {
      if (!TIFFGetField(tif_, TIFFTAG_COLORMAP, &mapRed_, &mapGreen_, &mapBlue_)) {
        throw FileError("TIFF: palette image without a colour map");
      }
      info.channels = 3;
      info.bits = 8;
    } else {
      info.channels = colourSamples_;
      info.bits = bits;
    }
    tiled_ = TIFFIsTiled(tif_) != 0;
    if (tiled_ && planar_ == PLANARCONFIG_SEPARATE) {
      throw FileError("TIFF: planar tiled images are not supported");
    }
    uint32_t iccLength = 0;
    void* icc = nullptr;
    if (TIFFGetField(tif_, TIFFTAG_ICCPROFILE, &iccLength, &icc) && icc && iccLength > 0) {
      info.icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + iccLength);
    }
  }

  const ImageInfo& Info() const override { return info; }

  void Decode(Picture* picture, const RowTick& tick) override {
    CheckLimits(info, limits_);
    Budget budget(info);
    TakeBuffers(&budget);
    picture->info = info;
    AllocatePicture(picture);
    messages_.decoding = true;
    if (tiled_) {
      DecodeTiled(picture, tick);
    } else if (planar_ == PLANARCONFIG_SEPARATE) {
      DecodePlanar(picture, tick);
    } else {
      for (int32_t y = 0; y < info.height; ++y) {
        if (TIFFReadScanline(tif_, fileRow_.data(), static_cast<uint32_t>(y), 0) < 0) Fail(y);
        CheckDamage();
        EmitRow(picture, y);
        tick(y, info.height);
      }
    }
  }

  ImageInfo info;

 private:
  void CheckDamage() const {
    if (!messages_.damage.empty()) throw FileError("TIFF: damaged file (" + messages_.damage + ")");
  }

  [[noreturn]] void Fail(int32_t y) {
    throw FileError("TIFF: cannot read row " + std::to_string(y) +
                    (messages_.last.empty() ? std::string() : " (" + messages_.last + ")"));
  }

  // Sizes the buffers of the file's layout from its header and counts them against the budget
  // before any is allocated: a row of every sample the file stores per pixel (contiguous
  // strips: at least libtiff's scanline) and a row of the samples kept; then one strip of each
  // used plane (planar), or one tile and a band of whole rows as tall as a tile or the picture.
  void TakeBuffers(Budget* budget) {
    const uint64_t width = static_cast<uint64_t>(info.width);
    const uint64_t height = static_cast<uint64_t>(info.height);
    const uint64_t bytes = static_cast<uint64_t>(bits_ / 8);
    const uint64_t pixelBytes = Product({static_cast<uint64_t>(spp_), bytes});
    uint64_t fileRow = Product({width, pixelBytes});
    if (!tiled_ && planar_ != PLANARCONFIG_SEPARATE) {
      fileRow = std::max(fileRow, TIFFScanlineSize64(tif_));
    }
    const uint64_t outRow = PictureBytes(info) / height;
    budget->Take(fileRow + outRow, "the row buffers");
    if (tiled_) {
      TIFFGetField(tif_, TIFFTAG_TILEWIDTH, &tileWidth_);
      TIFFGetField(tif_, TIFFTAG_TILELENGTH, &tileHeight_);
      const uint64_t tileSize = TIFFTileSize64(tif_);
      if (tileWidth_ == 0 || tileHeight_ == 0 ||
          tileSize < Product({tileWidth_, tileHeight_, pixelBytes})) {
        throw FileError("TIFF: bad tile size");
      }
      budget->Take(tileSize, "the tile buffer");
      const uint64_t bandRows = std::min<uint64_t>(tileHeight_, height);
      budget->Take(Product({width, pixelBytes, bandRows}), "the band of tiles");
      tile_.assign(static_cast<size_t>(tileSize), 0);
      band_.assign(static_cast<size_t>(width * pixelBytes * bandRows), 0);
    } else if (planar_ == PLANARCONFIG_SEPARATE) {
      TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip_);
      if (rowsPerStrip_ == 0 || rowsPerStrip_ > height)
        rowsPerStrip_ = static_cast<uint32_t>(height);
      const uint64_t stripSize = TIFFStripSize64(tif_);
      if (stripSize < Product({width, bytes, rowsPerStrip_}))
        throw FileError("TIFF: bad strip size");
      const uint64_t used = static_cast<uint64_t>(colourSamples_ + (info.alpha ? 1 : 0));
      budget->Take(Product({used, stripSize}), "the strip buffers");
      strips_.assign(static_cast<size_t>(used),
                     std::vector<uint8_t>(static_cast<size_t>(stripSize)));
    }
    fileRow_.assign(static_cast<size_t>(fileRow), 0);
    outRow_.assign(static_cast<size_t>(outRow), 0);
  }

  // One plane per sample, in strips: strip k of every plane is read (each strip is compressed
  // on its own, so this needs no other random access) and its rows interleaved.
  void DecodePlanar(Picture* picture, const RowTick& tick) {
    const uint32_t height = static_cast<uint32_t>(info.height);
    const uint32_t stripsPerPlane = (height + rowsPerStrip_ - 1) / rowsPerStrip_;
    const int bytes = bits_ / 8;
    const size_t width = static_cast<size_t>(info.width);
    for (uint32_t k = 0; k < stripsPerPlane; ++k) {
      const uint32_t top = k * rowsPerStrip_;
      for (size_t s = 0; s < strips_.size(); ++s) {
        const uint32_t strip = static_cast<uint32_t>(s) * stripsPerPlane + k;
        if (TIFFReadEncodedStrip(tif_, strip, strips_[s].data(),
                                 static_cast<tmsize_t>(strips_[s].size())) < 0) {
          Fail(static_cast<int32_t>(top));
        }
      }
      CheckDamage();
      const uint32_t rows = std::min(rowsPerStrip_, height - top);
      for (uint32_t r = 0; r < rows; ++r) {
        for (size_t s = 0; s < strips_.size(); ++s) {
          const uint8_t* plane = &strips_[s][r * width * bytes];
          for (size_t x = 0; x < width; ++x) {
            std::memcpy(&fileRow_[(x * spp_ + s) * bytes], &plane[x * bytes], bytes);
          }
        }
        EmitRow(picture, static_cast<int32_t>(top + r));
        tick(static_cast<int32_t>(top + r), info.height);
      }
    }
  }

  void DecodeTiled(Picture* picture, const RowTick& tick) {
    const size_t pixelBytes = static_cast<size_t>(spp_) * (bits_ / 8);
    const size_t width = static_cast<size_t>(info.width);
    const uint32_t height = static_cast<uint32_t>(info.height);
    for (uint32_t top = 0; top < height; top += tileHeight_) {
      const uint32_t rows = std::min(tileHeight_, height - top);
      for (uint32_t left = 0; left < width; left += tileWidth_) {
        if (TIFFReadTile(tif_, tile_.data(), left, top, 0, 0) < 0) Fail(static_cast<int32_t>(top));
        CheckDamage();
        const size_t columns = std::min<size_t>(tileWidth_, width - left);
        for (size_t r = 0; r < rows; ++r) {
          std::memcpy(&band_[(r * width + left) * pixelBytes], &tile_[r * tileWidth_ * pixelBytes],
                      columns * pixelBytes);
        }
      }
      for (uint32_t r = 0; r < rows; ++r) {
        std::memcpy(fileRow_.data(), &band_[size_t{r} * width * pixelBytes], width * pixelBytes);
        EmitRow(picture, static_cast<int32_t>(top + r));
        tick(static_cast<int32_t>(top + r), info.height);
      }
    }
  }

  // fileRow_ holds spp_ samples per pixel in machine order; outRow_ gets the interleaved
  // colour (and alpha) samples, most significant byte first.
  void EmitRow(Picture* picture, int32_t y) {
    const int bytes = bits_ / 8;
    const size_t width = static_cast<size_t>(info.width);
    const int outSamples = info.channels + (info.alpha ? 1 : 0);
    if (palette_) {
      for (size_t x = 0; x < width; ++x) {
        const uint8_t index = fileRow_[x * spp_];
        uint8_t* o = &outRow_[x * outSamples];
        o[0] = static_cast<uint8_t>(mapRed_[index] >> 8);
        o[1] = static_cast<uint8_t>(mapGreen_[index] >> 8);
        o[2] = static_cast<uint8_t>(mapBlue_[index] >> 8);
        if (info.alpha) o[3] = fileRow_[x * spp_ + 1];
      }
    } else {
      for (size_t x = 0; x < width; ++x) {
        std::memcpy(&outRow_[x * outSamples * bytes], &fileRow_[x * spp_ * bytes],
                    static_cast<size_t>(outSamples) * bytes);
      }
      if (invert_) {
        for (size_t x = 0; x < width; ++x) {
          uint8_t* s = &outRow_[x * outSamples * bytes];
          if (bytes == 1) {
            s[0] = static_cast<uint8_t>(255 - s[0]);
          } else {
            uint16_t v;
            std::memcpy(&v, s, 2);
            v = static_cast<uint16_t>(65535 - v);
            std::memcpy(s, &v, 2);
          }
        }
      }
      if (bytes == 2) SwapToBigEndian16(outRow_.data(), width * outSamples);
    }
    StoreInterleavedRow(picture, y, outRow_.data());
  }

  FILE* file_;
  Limits limits_;
  TIFF* tif_ = nullptr;
  TiffMessages messages_;
  int bits_ = 8;
  int spp_ = 1;
  int colourSamples_ = 1;
  uint16_t planar_ = PLANARCONFIG_CONTIG;
  bool invert_ = false;
  bool palette_ = false;
  bool tiled_ = false;
  uint16_t* mapRed_ = nullptr;
  uint16_t* mapGreen_ = nullptr;
  uint16_t* mapBlue_ = nullptr;
  uint32_t tileWidth_ = 0;
  uint32_t tileHeight_ = 0;
  uint32_t rowsPerStrip_ = 0;
  std::vector<uint8_t> fileRow_;
  std::vector<uint8_t> outRow_;
  std::vector<uint8_t> tile_;
  std::vector<uint8_t> band_;
  std::vector<std::vector<uint8_t>> strips_;
};

}  // namespace

std::unique_ptr<Decoder> OpenTiff(FILE* file, const Limits& limits) {
  auto decoder = std::make_unique<TiffDecoder>(file, limits);
  decoder->Open();
  return decoder;
}

void EncodeTiff(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick) {
  TiffMessages messages;
  TIFF* tif = OpenOnFile(file, "w", &messages, 0);
  struct Closer {
    TIFF* tif;
    ~Closer() {
      if (tif) TIFFClose(tif);
    }
  } closer{tif};
  const Kasa& pixels = *picture.pixels;
  const int type = pixels.GetImageType();
  const bool grey =
      type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Gray16);
  const int bits =
      (type == static_cast<int>(ImageType::Rgb48) || type == static_cast<int>(ImageType::Gray16))
          ? 16
          : 8;
  const int samples = (grey ? 1 : 3) + (picture.alpha ? 1 : 0);
  const uint32_t width = static_cast<uint32_t>(pixels.GetImageWidth());
  const uint32_t height = static_cast<uint32_t>(pixels.GetImageHeight());
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(bits));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(samples));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (options.deflateLevel >= 0) {
    TIFFSetField(tif, TIFFTAG_ZIPQUALITY, std::min(options.deflateLevel, 9));
  }
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  if (picture.alpha) {
    const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (!picture.info.icc.empty()) {
    TIFFSetField(tif, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(picture.info.icc.size()),
                 picture.info.icc.data());
  }
  std::vector<uint8_t> row(static_cast<size_t>(width) * samples * (bits / 8));
  for (uint32_t y = 0; y < height; ++y) {
    LoadInterleavedRow(picture, static_cast<int32_t>(y), true, row.data());
    if (bits == 16) BigEndianToMachine16(row.data(), static_cast<size_t>(width) * samples);
    if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) {
      throw FileError("TIFF: cannot write row " + std::to_string(y) +
                      (messages.last.empty() ? std::string() : " (" + messages.last + ")"));
    }
    tick(static_cast<int32_t>(y), static_cast<int32_t>(height));
  }
  closer.tif = nullptr;
  if (!TIFFFlush(tif)) {
    TIFFClose(tif);
    throw FileError("TIFF: cannot finish the file" +
                    (messages.last.empty() ? std::string() : " (" + messages.last + ")"));
  }
  TIFFClose(tif);
}

}  // namespace marlo::io
