// PNG through libpng: 1- to 16-bit grey, RGB, palette, grey+alpha and RGBA in; 8/16-bit grey or
// RGB, with or without alpha, out. The ICC profile (iCCP) and EXIF block (eXIf) are carried.
//
// libpng reports errors by longjmp. Every function that calls into libpng sets the jump point
// itself and keeps no object with a destructor between the jump point and the libpng calls; on
// return through the jump it throws FileError with libpng's message.
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

#include "codecs.h"

namespace marlo::io {
namespace {

struct PngErrorState {
  char message[256] = "corrupt PNG data";
  char warning[128] = "";  // the first warning, which says why a header is invalid
};

void PngError(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  if (std::strcmp(text, "Invalid IHDR data") == 0 && state->warning[0] != '\0') {
    std::snprintf(state->message, sizeof state->message, "%s (%s)", text, state->warning);
  } else {
    std::snprintf(state->message, sizeof state->message, "%s", text);
  }
  png_longjmp(png, 1);
}

void PngWarning(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  if (state->warning[0] == '\0') std::snprintf(state->warning, sizeof state->warning, "%s", text);
}

void PngRead(png_structp png, png_bytep data, size_t length) {
  FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
  if (std::fread(data, 1, length, file) != length) {
    png_error(png, std::ferror(file) ? "read error" : "the file ends too early (truncated)");
  }
}

void PngWrite(png_structp png, png_bytep data, size_t length) {
  FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, length, file) != length) png_error(png, "write error (disk full?)");
}

void PngFlush(png_structp png) {
  FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
  std::fflush(file);
}

class PngDecoder : public Decoder {
 public:
  PngDecoder(FILE* file, const Limits& limits) : file_(file), limits_(limits) {}
  ~PngDecoder() override {
    if (png_) png_destroy_read_struct(&png_, &info_, nullptr);
  }

  void Open() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error_, PngError, PngWarning);
    if (!png_) throw FileError("cannot start the PNG reader");
    info_ = png_create_info_struct(png_);
    if (!info_) throw FileError("cannot start the PNG reader");
    if (setjmp(png_jmpbuf(png_))) throw FileError(std::string("PNG: ") + error_.message);
    png_set_read_fn(png_, file_, PngRead);
    // libpng's own limits: no side longer than the pixel limit allows, no ancillary chunk
    // larger than the budget's slack. The ancillary chunks nothing here uses (text, which can
    // inflate to gigabytes, and the others) are skipped unread; eXIf, which libpng would
    // allocate at any length a file gives, is read as an unknown chunk, within the limit.
    const double side = std::min(limits_.maxMegapixels * 1e6, double{PNG_UINT_31_MAX});
    const png_uint_32 maxSide = side < 1 ? 1 : static_cast<png_uint_32>(side);
    png_set_user_limits(png_, maxSide, maxSide);
    png_set_chunk_malloc_max(png_, kBudgetSlack);
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_AS_DEFAULT,
                                reinterpret_cast<png_const_bytep>("iCCP"), 1);
    png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_ALWAYS,
                                reinterpret_cast<png_const_bytep>("eXIf"), 1);
    png_set_benign_errors(png_, 1);
    png_read_info(png_, info_);
    ReadHeader();
  }

  const ImageInfo& Info() const override { return info; }

  void Decode(Picture* picture, const RowTick& tick) override {
    CheckLimits(info, limits_);
    Budget budget(info);
    picture->info = info;
    // libpng's current and previous row and ours, or the whole image when interlaced (no row is
    // complete before the last pass), all at the decoded layout.
    const uint64_t rowBytes = PictureBytes(info) / static_cast<uint64_t>(info.height);
    budget.Take(Product({3, rowBytes + 64}), "the row buffers");
    if (interlaced_) {
      budget.Take(Product({rowBytes + sizeof(png_bytep), static_cast<uint64_t>(info.height)}),
                  "the interlaced image");
    }
    AllocatePicture(picture);
    picture_ = picture;
    tick_ = &tick;
    if (setjmp(png_jmpbuf(png_))) throw FileError(std::string("PNG: ") + error_.message);
    Expand();
    ReadRows();
  }

  ImageInfo info;

 private:
  void ReadHeader() {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png_, info_, &width, &height, &depth, &colour, &interlace, nullptr, nullptr);
    if (width > 0x7fffffffu || height > 0x7fffffffu) throw FileError("PNG: image too large");
    info.format = Format::Png;
    info.width = static_cast<int32_t>(width);
    info.height = static_cast<int32_t>(height);
    info.fileBits = depth;
    const bool trns = png_get_valid(png_, info_, PNG_INFO_tRNS) != 0;
    switch (colour) {
      case PNG_COLOR_TYPE_GRAY:
        info.kind = trns ? "grey with transparency" : "grey";
        info.channels = 1;
        info.alpha = trns;
        break;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        info.kind = "grey+alpha";
        info.channels = 1;
        info.alpha = true;
        break;
      case PNG_COLOR_TYPE_PALETTE:
        info.kind = trns ? "palette with transparency" : "palette";
        info.channels = 3;
        info.alpha = trns;
        break;
      case PNG_COLOR_TYPE_RGB:
        info.kind = trns ? "RGB with transparency" : "RGB";
        info.channels = 3;
        info.alpha = trns;
        break;
      case PNG_COLOR_TYPE_RGB_ALPHA:
        info.kind = "RGBA";
        info.channels = 3;
        info.alpha = true;
        break;
      default:
        throw FileError("PNG: unsupported colour type " + std::to_string(colour));
    }
    info.bits = (depth == 16 && colour != PNG_COLOR_TYPE_PALETTE) ? 16 : 8;
    colour_ = colour;
    depth_ = depth;
    interlaced_ = interlace != PNG_INTERLACE_NONE;
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png_, info_, &name, &compression, &profile, &profileLength) &&
        profile != nullptr && profileLength > 0) {
      info.icc.assign(profile, profile + profileLength);
    }
    // The first eXIf chunk that starts with a byte order ("MM" or "II").
    png_unknown_chunkp chunks = nullptr;
    const int count = png_get_unknown_chunks(png_, info_, &chunks);
    for (int i = 0; i < count && info.exif.empty(); ++i) {
      const png_unknown_chunk& c = chunks[i];
      if (std::memcmp(c.name, "eXIf", 4) == 0 && c.size >= 2 && c.data[0] == c.data[1] &&
          (c.data[0] == 'M' || c.data[0] == 'I')) {
        info.exif.assign(c.data, c.data + c.size);
      }
    }
  }

  // Transformations: everything to 8 or 16 bits per sample, palettes to RGB, transparency to an
  // alpha channel. 16-bit samples stay most significant byte first.
  void Expand() {
    if (colour_ == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png_);
    if (colour_ == PNG_COLOR_TYPE_GRAY && depth_ < 8) png_set_expand_gray_1_2_4_to_8(png_);
    if (png_get_valid(png_, info_, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png_);
    passes_ = png_set_interlace_handling(png_);
    png_read_update_info(png_, info_);
    const int channels = png_get_channels(png_, info_);
    const size_t rowBytes = png_get_rowbytes(png_, info_);
    if (channels != info.channels + (info.alpha ? 1 : 0) ||
        png_get_bit_depth(png_, info_) != info.bits ||
        rowBytes != PictureBytes(info) / static_cast<uint64_t>(info.height)) {
      throw FileError("PNG: unsupported sample layout");
    }
    if (passes_ > 1) {
      whole_.assign(rowBytes * static_cast<size_t>(info.height), 0);
      rows_.resize(static_cast<size_t>(info.height));
      for (int32_t y = 0; y < info.height; ++y) rows_[y] = &whole_[rowBytes * y];
    } else {
      row_.assign(rowBytes, 0);
    }
  }

  void ReadRows() {
    if (passes_ > 1) {
      png_read_image(png_, rows_.data());
      for (int32_t y = 0; y < info.height; ++y) {
        StoreInterleavedRow(picture_, y, rows_[y]);
        (*tick_)(y, info.height);
      }
    } else {
      for (int32_t y = 0; y < info.height; ++y) {
        png_read_row(png_, row_.data(), nullptr);
        StoreInterleavedRow(picture_, y, row_.data());
        (*tick_)(y, info.height);
      }
    }
    png_read_end(png_, nullptr);
  }

  FILE* file_;
  Limits limits_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  PngErrorState error_;
  int colour_ = 0;
  int depth_ = 8;
  bool interlaced_ = false;
  int passes_ = 1;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> whole_;
  std::vector<png_bytep> rows_;
  Picture* picture_ = nullptr;
  const RowTick* tick_ = nullptr;
};

class PngEncoder {
 public:
  PngEncoder(const Picture& picture, FILE* file, const WriteOptions& options, const RowTick& tick)
      : picture_(picture), file_(file), options_(options), tick_(tick) {}
  ~PngEncoder() {
    if (png_) png_destroy_write_struct(&png_, &info_);
  }

  void Run() {
    const Kasa& pixels = *picture_.pixels;
    const int type = pixels.GetImageType();
    grey_ =
        type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Gray16);
    bits_ =
        (type == static_cast<int>(ImageType::Rgb48) || type == static_cast<int>(ImageType::Gray16))
            ? 16
            : 8;
    const int channels = (grey_ ? 1 : 3) + (picture_.alpha ? 1 : 0);
    row_.assign(static_cast<size_t>(pixels.GetImageWidth()) * channels * (bits_ / 8), 0);
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, &error_, PngError, PngWarning);
    if (!png_) throw FileError("cannot start the PNG writer");
    info_ = png_create_info_struct(png_);
    if (!info_) throw FileError("cannot start the PNG writer");
    if (setjmp(png_jmpbuf(png_))) throw FileError(std::string("PNG: ") + error_.message);
    Write();
  }

 private:
  void Write() {
    const Kasa& pixels = *picture_.pixels;
    png_set_write_fn(png_, file_, PngWrite, PngFlush);
    png_set_benign_errors(png_, 1);
    static const int kFilters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                                   PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
    const int filter = static_cast<int>(options_.pngFilter);
    if (filter < 0 || filter > static_cast<int>(PngFilter::Adaptive)) {
      throw FileError("PNG: unknown row filter " + std::to_string(filter));
    }
    png_set_filter(png_, PNG_FILTER_TYPE_BASE, kFilters[filter]);
    if (options_.deflateLevel < 0) {
      png_set_compression_strategy(png_, Z_RLE);
    } else {
      png_set_compression_level(png_, std::min(options_.deflateLevel, 9));
    }
    const int colour = grey_ ? (picture_.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                             : (picture_.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    png_set_IHDR(png_, info_, static_cast<png_uint_32>(pixels.GetImageWidth()),
                 static_cast<png_uint_32>(pixels.GetImageHeight()), bits_, colour,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const ImageInfo& info = picture_.info;
    if (!info.icc.empty()) {
      png_set_iCCP(png_, info_, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, info.icc.data(),
                   static_cast<png_uint_32>(info.icc.size()));
    }
    if (!info.exif.empty()) {
      png_set_eXIf_1(png_, info_, static_cast<png_uint_32>(info.exif.size()),
                     const_cast<png_bytep>(info.exif.data()));
    }
    png_write_info(png_, info_);
    const int32_t height = pixels.GetImageHeight();
    for (int32_t y = 0; y < height; ++y) {
      LoadInterleavedRow(picture_, y, true, row_.data());
      png_write_row(png_, row_.data());
      tick_(y, height);
    }
    png_write_end(png_, info_);
  }

  const Picture& picture_;
  FILE* file_;
  const WriteOptions& options_;
  const RowTick& tick_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
  PngErrorState error_;
  bool grey_ = false;
  int bits_ = 8;
  std::vector<uint8_t> row_;
};

}  // namespace

std::unique_ptr<Decoder> OpenPng(FILE* file, const Limits& limits) {
  auto decoder = std::make_unique<PngDecoder>(file, limits);
  decoder->Open();
  return decoder;
}

void EncodePng(const Picture& picture, FILE* file, const WriteOptions& options,
               const RowTick& tick) {
  PngEncoder encoder(picture, file, options, tick);
  encoder.Run();
}

}  // namespace marlo::io
