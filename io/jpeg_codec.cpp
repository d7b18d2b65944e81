// JPEG through libjpeg-turbo: 8-bit grey and colour (YCbCr or RGB) in and out. CMYK files are
// refused. The ICC profile (APP2) and EXIF block (APP1) are carried. libjpeg's warnings about
// corrupt or truncated data are treated as errors, so a damaged file never comes out as a
// silently patched picture.
//
// libjpeg reports errors through error_exit, which here jumps back to the function that set
// the jump point; those functions keep no object with a destructor between the jump point and
// the libjpeg calls.
#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

#include "codecs.h"

namespace marlo::io {
namespace {

struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = "corrupt JPEG data";
};

void JpegErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// Level -1 is a warning about the data (corrupt or truncated): fatal here. Trace messages
// (levels 0 and above) are ignored.
void JpegEmitMessage(j_common_ptr info, int level) {
  if (level < 0) JpegErrorExit(info);
}

void JpegOutputMessage(j_common_ptr) {}

const uint8_t kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// An ICC profile is split over APP2 markers of at most 65,519 bytes each, numbered 1 to 255.
constexpr size_t kMaxJpegIcc = 255 * 65519;

class JpegDecoder : public Decoder {
 public:
  JpegDecoder(FILE* file, const Limits& limits) : file_(file), limits_(limits) {
    std::memset(&cinfo_, 0, sizeof cinfo_);
    cinfo_.err = jpeg_std_error(&error_.manager);
    error_.manager.error_exit = JpegErrorExit;
    error_.manager.emit_message = JpegEmitMessage;
    error_.manager.output_message = JpegOutputMessage;
  }
  ~JpegDecoder() override {
    if (created_) jpeg_destroy_decompress(&cinfo_);
    if (icc_) std::free(icc_);
  }

  void Open() {
    if (setjmp(error_.jump)) throw FileError(std::string("JPEG: ") + error_.message);
    ReadHeader();
  }

  const ImageInfo& Info() const override { return info; }

  void Decode(Picture* picture, const RowTick& tick) override {
    CheckLimits(info, limits_);
    Budget budget(info);
    picture->info = info;
    AllocatePicture(picture);
    // libjpeg's own memory: what is left of the budget, and for a file of several scans
    // (progressive) room for every DCT coefficient of the picture, 2 bytes per sample of each
    // component at its own resolution: at most twice the picture's bytes. Beyond it libjpeg
    // stops with JERR_NO_BACKING_STORE.
    uint64_t allowed = budget.Left();
    if (jpeg_has_multiple_scans(&cinfo_)) allowed += PictureBytes(info);
    cinfo_.mem->max_memory_to_use =
        static_cast<long>(std::min<uint64_t>(allowed, std::numeric_limits<long>::max()));
    picture_ = picture;
    tick_ = &tick;
    if (setjmp(error_.jump)) {
      if (error_.manager.msg_code == JERR_NO_BACKING_STORE) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "JPEG: the decoder needs more than the %.1f MB a %d x %d picture may use",
                      static_cast<double>(allowed) / 1048576.0, info.width, info.height);
        throw FileError(text);
      }
      throw FileError(std::string("JPEG: ") + error_.message);
    }
    ReadRows();
  }

  ImageInfo info;

 private:
  void ReadHeader() {
    jpeg_create_decompress(&cinfo_);
    created_ = true;
    jpeg_stdio_src(&cinfo_, file_);
    jpeg_save_markers(&cinfo_, JPEG_APP0 + 1, 0xffff);
    jpeg_save_markers(&cinfo_, JPEG_APP0 + 2, 0xffff);
    jpeg_read_header(&cinfo_, TRUE);
    info.format = Format::Jpeg;
    info.width = static_cast<int32_t>(cinfo_.image_width);
    info.height = static_cast<int32_t>(cinfo_.image_height);
    info.bits = 8;
    info.fileBits = cinfo_.data_precision;
    switch (cinfo_.jpeg_color_space) {
      case JCS_GRAYSCALE:
        info.channels = 1;
        info.kind = "grey";
        cinfo_.out_color_space = JCS_GRAYSCALE;
        break;
      case JCS_YCbCr:
      case JCS_RGB:
        info.channels = 3;
        info.kind = cinfo_.jpeg_color_space == JCS_RGB ? "RGB" : "YCbCr colour";
        cinfo_.out_color_space = JCS_EXT_BGR;  // the store's own pixel order
        break;
      default:
        throw FileError("JPEG: CMYK and other colour spaces than grey and RGB are not supported");
    }
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&cinfo_, &icc, &iccLength) && icc != nullptr) {
      icc_ = icc;
      info.icc.assign(icc, icc + iccLength);
    }
    for (jpeg_saved_marker_ptr m = cinfo_.marker_list; m != nullptr; m = m->next) {
      if (m->marker == JPEG_APP0 + 1 && m->data_length > sizeof kExifHeader &&
          std::memcmp(m->data, kExifHeader, sizeof kExifHeader) == 0) {
        info.exif.assign(m->data + sizeof kExifHeader, m->data + m->data_length);
        break;
      }
    }
  }

  void ReadRows() {
    jpeg_start_decompress(&cinfo_);
    if (static_cast<int32_t>(cinfo_.output_width) != info.width ||
        static_cast<int32_t>(cinfo_.output_height) != info.height ||
        cinfo_.output_components != info.channels) {
      throw FileError("JPEG: unexpected decoder output");
    }
    while (cinfo_.output_scanline < cinfo_.output_height) {
      const int32_t y = static_cast<int32_t>(cinfo_.output_scanline);
      JSAMPROW row = picture_->pixels->RowData(y);
      jpeg_read_scanlines(&cinfo_, &row, 1);
      (*tick_)(y, info.height);
    }
    jpeg_finish_decompress(&cinfo_);
  }

  FILE* file_;
  Limits limits_;
  jpeg_decompress_struct cinfo_;
  JpegError error_;
  bool created_ = false;
  JOCTET* icc_ = nullptr;
  Picture* picture_ = nullptr;
  const RowTick* tick_ = nullptr;
};

class JpegEncoder {
 public:
  JpegEncoder(const Picture& picture, FILE* file, const WriteOptions& options, const RowTick& tick)
      : picture_(picture), file_(file), options_(options), tick_(tick) {
    std::memset(&cinfo_, 0, sizeof cinfo_);
    cinfo_.err = jpeg_std_error(&error_.manager);
    error_.manager.error_exit = JpegErrorExit;
    error_.manager.emit_message = JpegEmitMessage;
    error_.manager.output_message = JpegOutputMessage;
  }
  ~JpegEncoder() {
    if (created_) jpeg_destroy_compress(&cinfo_);
  }

  void Run() {
    const Kasa& pixels = *picture_.pixels;
    const int type = pixels.GetImageType();
    grey_ =
        type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Gray16);
    wide_ =
        type == static_cast<int>(ImageType::Rgb48) || type == static_cast<int>(ImageType::Gray16);
    if (picture_.info.icc.size() > kMaxJpegIcc && options_.onNote) {
      options_.onNote(Note::IccDropped,
                      "the ICC profile (" + std::to_string(picture_.info.icc.size()) +
                          " bytes) is larger than a JPEG can hold (" + std::to_string(kMaxJpegIcc) +
                          " bytes); it is left out");
    }
    if (wide_ && options_.onNote) {
      options_.onNote(Note::RoundedTo8Bits,
                      "JPEG holds 8 bits per sample; 16-bit pictures are rounded to 8 bits");
    }
    row_.assign(static_cast<size_t>(pixels.GetImageWidth()) * (grey_ ? 1 : 3), 0);
    const std::vector<uint8_t>& exif = picture_.info.exif;
    if (!exif.empty() && exif.size() + sizeof kExifHeader <= 65533) {
      exifMarker_.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
      exifMarker_.insert(exifMarker_.end(), exif.begin(), exif.end());
    }
    if (setjmp(error_.jump)) throw FileError(std::string("JPEG: ") + error_.message);
    Write();
  }

 private:
  void Write() {
    const Kasa& pixels = *picture_.pixels;
    jpeg_create_compress(&cinfo_);
    created_ = true;
    jpeg_stdio_dest(&cinfo_, file_);
    cinfo_.image_width = static_cast<JDIMENSION>(pixels.GetImageWidth());
    cinfo_.image_height = static_cast<JDIMENSION>(pixels.GetImageHeight());
    cinfo_.input_components = grey_ ? 1 : 3;
    cinfo_.in_color_space = grey_ ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&cinfo_);
    jpeg_set_quality(&cinfo_, options_.jpegQuality, TRUE);
    jpeg_start_compress(&cinfo_, TRUE);
    const ImageInfo& info = picture_.info;
    if (!exifMarker_.empty()) {
      jpeg_write_marker(&cinfo_, JPEG_APP0 + 1, exifMarker_.data(),
                        static_cast<unsigned int>(exifMarker_.size()));
    }
    if (!info.icc.empty() && info.icc.size() <= kMaxJpegIcc) {
      jpeg_write_icc_profile(&cinfo_, info.icc.data(), static_cast<unsigned int>(info.icc.size()));
    }
    const int32_t height = pixels.GetImageHeight();
    const size_t samples = row_.size();
    for (int32_t y = 0; y < height; ++y) {
      const uint8_t* in = pixels.RowData(y);
      JSAMPROW row;
      if (wide_) {
        // 16 bits to 8, rounded to nearest: v * 255 / 65535.
        for (size_t i = 0; i < samples; ++i) {
          const uint32_t v = (uint32_t{in[2 * i]} << 8) | in[2 * i + 1];
          row_[i] = static_cast<uint8_t>((v * 255u + 32767u) / 65535u);
        }
        row = row_.data();
      } else {
        row = const_cast<JSAMPROW>(in);
      }
      jpeg_write_scanlines(&cinfo_, &row, 1);
      tick_(y, height);
    }
    jpeg_finish_compress(&cinfo_);
  }

  const Picture& picture_;
  FILE* file_;
  const WriteOptions& options_;
  const RowTick& tick_;
  jpeg_compress_struct cinfo_;
  JpegError error_;
  bool created_ = false;
  bool grey_ = false;
  bool wide_ = false;
  std::vector<uint8_t> row_;
  std::vector<uint8_t> exifMarker_;
};

}  // namespace

std::unique_ptr<Decoder> OpenJpeg(FILE* file, const Limits& limits) {
  auto decoder = std::make_unique<JpegDecoder>(file, limits);
  decoder->Open();
  return decoder;
}

void EncodeJpeg(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick) {
  JpegEncoder encoder(picture, file, options, tick);
  encoder.Run();
}

}  // namespace marlo::io
