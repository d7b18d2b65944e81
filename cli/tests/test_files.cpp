#include "test_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <jpeglib.h>

#ifndef MARLO_EXE
#error "MARLO_EXE must name the built tool"
#endif

namespace clitest {

static uint32_t Mix(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

Raw Pattern(int width, int height, int channels, bool alpha, int bits, uint32_t salt) {
  Raw r;
  r.width = width;
  r.height = height;
  r.channels = channels;
  r.alpha = alpha;
  r.bits = bits;
  const size_t n = static_cast<size_t>(width) * height * r.Stride();
  r.samples.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t v = Mix(salt * 2654435761u + static_cast<uint32_t>(i));
    r.samples[i] = static_cast<uint16_t>(v & ((1u << bits) - 1));
  }
  return r;
}

// ---- PNG ------------------------------------------------------------------------------------

static void PngFail(png_structp png, png_const_charp text) {
  std::fprintf(stderr, "test PNG error: %s\n", text);
  png_longjmp(png, 1);
}

void WritePng(const std::string& path, const Raw& image, int flags) {
  const bool palette = (flags & kPalette) != 0;
  const bool interlaced = (flags & kInterlaced) != 0;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<png_color> colours;
  std::vector<uint8_t> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw std::runtime_error("libpng failed writing " + path);
  }
  png_init_io(png, f);
  const int stride = image.Stride();
  const int bytes = image.bits == 16 ? 2 : 1;
  if (palette) {
    for (size_t i = 0; i + 2 < image.samples.size(); i += 3) {
      png_color c{static_cast<png_byte>(image.samples[i]),
                  static_cast<png_byte>(image.samples[i + 1]),
                  static_cast<png_byte>(image.samples[i + 2])};
      bool found = false;
      for (const png_color& k : colours) {
        found = found || (k.red == c.red && k.green == c.green && k.blue == c.blue);
      }
      if (!found) colours.push_back(c);
    }
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
  } else {
    const int colour = image.channels == 1
                           ? (image.alpha ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY)
                           : (image.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    png_set_IHDR(png, info, image.width, image.height, image.bits, colour,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  }
  if (flags & kTransparency) {
    std::vector<png_byte> alphas(colours.size());
    for (size_t k = 0; k < alphas.size(); ++k) alphas[k] = static_cast<png_byte>(k * 61);
    png_color_16 first{};
    first.gray = image.samples[0];
    first.red = image.samples[0];
    first.green = image.channels == 3 ? image.samples[1] : 0;
    first.blue = image.channels == 3 ? image.samples[2] : 0;
    png_set_tRNS(png, info, palette ? alphas.data() : nullptr,
                 palette ? static_cast<int>(alphas.size()) : 0, palette ? nullptr : &first);
  }
  if (!image.icc.empty()) {
    png_set_iCCP(png, info, "test", 0, image.icc.data(),
                 static_cast<png_uint_32>(image.icc.size()));
  }
  if (!image.exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(image.exif.size()),
                   const_cast<png_bytep>(image.exif.data()));
  }
  png_write_info(png, info);
  if (image.bits < 8) png_set_packing(png);
  const int passes = interlaced ? png_set_interlace_handling(png) : 1;
  const size_t rowBytes = palette ? static_cast<size_t>(image.width)
                                  : static_cast<size_t>(image.width) * stride * bytes;
  rows.resize(rowBytes);
  for (int pass = 0; pass < passes; ++pass)
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        if (palette) {
          const size_t i = (static_cast<size_t>(y) * image.width + x) * 3;
          for (size_t k = 0; k < colours.size(); ++k) {
            if (colours[k].red == image.samples[i] && colours[k].green == image.samples[i + 1] &&
                colours[k].blue == image.samples[i + 2]) {
              rows[x] = static_cast<uint8_t>(k);
            }
          }
          continue;
        }
        for (int c = 0; c < stride; ++c) {
          const uint16_t v = image.At(x, y, c);
          uint8_t* p = &rows[(static_cast<size_t>(x) * stride + c) * bytes];
          if (bytes == 2) {
            p[0] = static_cast<uint8_t>(v >> 8);
            p[1] = static_cast<uint8_t>(v & 0xff);
          } else {
            p[0] = static_cast<uint8_t>(v);
          }
        }
      }
      png_write_row(png, rows.data());
    }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

void WritePalettePng(const std::string& path, const Raw& image) {
  WritePng(path, image, kPalette);
}

Raw ReadPng(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot read " + path);
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, nullptr);
  png_infop info = png_create_info_struct(png);
  Raw r;
  std::vector<uint8_t> row;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    throw std::runtime_error("libpng failed reading " + path);
  }
  png_init_io(png, f);
  png_read_info(png, info);
  const int colour = png_get_color_type(png, info);
  r.width = static_cast<int>(png_get_image_width(png, info));
  r.height = static_cast<int>(png_get_image_height(png, info));
  r.bits = png_get_bit_depth(png, info);
  r.channels = (colour & PNG_COLOR_MASK_COLOR) ? 3 : 1;
  r.alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0;
  if (colour == PNG_COLOR_TYPE_PALETTE) throw std::runtime_error("palette output");
  png_charp name;
  int compression;
  png_bytep profile;
  png_uint_32 length;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length)) {
    r.icc.assign(profile, profile + length);
  }
  png_bytep exif;
  png_uint_32 exifLength;
  if (png_get_eXIf_1(png, info, &exifLength, &exif)) r.exif.assign(exif, exif + exifLength);
  const int stride = r.Stride();
  const int bytes = r.bits / 8;
  row.resize(static_cast<size_t>(r.width) * stride * bytes);
  r.samples.resize(static_cast<size_t>(r.width) * r.height * stride);
  for (int y = 0; y < r.height; ++y) {
    png_read_row(png, row.data(), nullptr);
    for (size_t i = 0; i < static_cast<size_t>(r.width) * stride; ++i) {
      r.samples[static_cast<size_t>(y) * r.width * stride + i] =
          bytes == 2 ? static_cast<uint16_t>((row[2 * i] << 8) | row[2 * i + 1]) : row[i];
    }
  }
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return r;
}

// ---- JPEG -----------------------------------------------------------------------------------

struct JpegFail {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

static void JpegExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegFail*>(info->err)->jump, 1);
}

static void WriteJpegTo(const std::string& path, FILE* f, const Raw& image, int quality,
                        bool progressive, std::vector<uint8_t>& row, std::vector<uint8_t>& exif) {
  jpeg_compress_struct c;
  JpegFail err;
  c.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    std::fclose(f);
    throw std::runtime_error("libjpeg failed writing " + path);
  }
  jpeg_create_compress(&c);
  jpeg_stdio_dest(&c, f);
  c.image_width = static_cast<JDIMENSION>(image.width);
  c.image_height = static_cast<JDIMENSION>(image.height);
  c.input_components = image.channels;
  c.in_color_space = image.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  if (!image.exif.empty()) {
    jpeg_write_marker(&c, JPEG_APP0 + 1, exif.data(), static_cast<unsigned>(exif.size()));
  }
  if (!image.icc.empty()) {
    jpeg_write_icc_profile(&c, image.icc.data(), static_cast<unsigned>(image.icc.size()));
  }
  for (int y = 0; y < image.height; ++y) {
    for (size_t i = 0; i < row.size(); ++i) {
      row[i] = static_cast<uint8_t>(image.samples[static_cast<size_t>(y) * row.size() + i]);
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

void WriteJpeg(const std::string& path, const Raw& image, int quality, bool progressive) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::vector<uint8_t> row(static_cast<size_t>(image.width) * image.channels);
  std::vector<uint8_t> exif = {'E', 'x', 'i', 'f', 0, 0};
  exif.insert(exif.end(), image.exif.begin(), image.exif.end());
  WriteJpegTo(path, f, image, quality, progressive, row, exif);
}

Raw ReadJpeg(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot read " + path);
  jpeg_decompress_struct d;
  JpegFail err;
  d.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  Raw r;
  std::vector<uint8_t> row;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    std::fclose(f);
    throw std::runtime_error("libjpeg failed reading " + path);
  }
  jpeg_create_decompress(&d);
  jpeg_stdio_src(&d, f);
  jpeg_save_markers(&d, JPEG_APP0 + 1, 0xffff);
  jpeg_save_markers(&d, JPEG_APP0 + 2, 0xffff);
  jpeg_read_header(&d, TRUE);
  JOCTET* icc = nullptr;
  unsigned iccLength = 0;
  if (jpeg_read_icc_profile(&d, &icc, &iccLength)) {
    r.icc.assign(icc, icc + iccLength);
    std::free(icc);
  }
  for (jpeg_saved_marker_ptr m = d.marker_list; m; m = m->next) {
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 &&
        std::memcmp(m->data, "Exif\0", 6) == 0) {
      r.exif.assign(m->data + 6, m->data + m->data_length);
    }
  }
  d.out_color_space = d.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&d);
  r.width = static_cast<int>(d.output_width);
  r.height = static_cast<int>(d.output_height);
  r.channels = d.output_components;
  r.bits = 8;
  row.resize(static_cast<size_t>(r.width) * r.channels);
  while (d.output_scanline < d.output_height) {
    JSAMPROW p = row.data();
    jpeg_read_scanlines(&d, &p, 1);
    r.samples.insert(r.samples.end(), row.begin(), row.end());
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  std::fclose(f);
  return r;
}

// ---- TIFF -----------------------------------------------------------------------------------

void WriteTiff(const std::string& path, const Raw& image, TiffLayout layout, int photometric) {
  TIFF* t = TIFFOpen(path.c_str(), "w");
  if (!t) throw std::runtime_error("cannot write " + path);
  const int stride = image.Stride();
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(image.bits));
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(stride));
  TIFFSetField(
      t, TIFFTAG_PHOTOMETRIC,
      photometric ? photometric : (image.channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB));
  if (photometric == PHOTOMETRIC_PALETTE) {
    std::vector<uint16_t> map(3 * 256);
    for (int i = 0; i < 256; ++i) {
      map[i] = static_cast<uint16_t>(i * 257);
      map[256 + i] = static_cast<uint16_t>((255 - i) * 257);
      map[512 + i] = static_cast<uint16_t>(Mix(static_cast<uint32_t>(i)));
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512);
  }
  TIFFSetField(t, TIFFTAG_PLANARCONFIG,
               layout == TiffLayout::Planar ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  if (layout == TiffLayout::Tiles) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(t, TIFFTAG_TILELENGTH, 16u);
  } else {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3u);
  }
  if (image.alpha) {
    const uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (!image.icc.empty()) {
    TIFFSetField(t, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(image.icc.size()), image.icc.data());
  }
  const size_t n = static_cast<size_t>(image.width) * stride;
  const int bytes = image.bits / 8;
  if (layout == TiffLayout::Tiles) {
    // Tiles of 16 x 16 pixels, the ones at the right and bottom edges padded.
    std::vector<uint8_t> tile(16 * 16 * static_cast<size_t>(stride) * bytes);
    for (int top = 0; top < image.height; top += 16) {
      for (int left = 0; left < image.width; left += 16) {
        std::fill(tile.begin(), tile.end(), 0);
        for (int y = top; y < std::min(image.height, top + 16); ++y) {
          for (int x = left; x < std::min(image.width, left + 16); ++x) {
            for (int c = 0; c < stride; ++c) {
              const uint16_t v = image.At(x, y, c);
              const size_t at = ((static_cast<size_t>(y - top) * 16 + (x - left)) * stride + c);
              if (bytes == 2) {
                std::memcpy(&tile[at * 2], &v, 2);
              } else {
                tile[at] = static_cast<uint8_t>(v);
              }
            }
          }
        }
        if (TIFFWriteTile(t, tile.data(), static_cast<uint32_t>(left), static_cast<uint32_t>(top),
                          0, 0) < 0) {
          TIFFClose(t);
          throw std::runtime_error("libtiff failed writing " + path);
        }
      }
    }
    TIFFClose(t);
    return;
  }
  if (layout == TiffLayout::Planar) {
    std::vector<uint8_t> plane(static_cast<size_t>(image.width) * bytes);
    for (int c = 0; c < stride; ++c) {
      for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
          const uint16_t v = image.At(x, y, c);
          if (bytes == 2) {
            std::memcpy(&plane[static_cast<size_t>(x) * 2], &v, 2);
          } else {
            plane[static_cast<size_t>(x)] = static_cast<uint8_t>(v);
          }
        }
        if (TIFFWriteScanline(t, plane.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(c)) <
            0) {
          TIFFClose(t);
          throw std::runtime_error("libtiff failed writing " + path);
        }
      }
    }
    TIFFClose(t);
    return;
  }
  std::vector<uint8_t> row8(n);
  std::vector<uint16_t> row16(n);
  for (int y = 0; y < image.height; ++y) {
    for (size_t i = 0; i < n; ++i) {
      row8[i] = static_cast<uint8_t>(image.samples[y * n + i]);
      row16[i] = image.samples[y * n + i];
    }
    void* p = image.bits == 16 ? static_cast<void*>(row16.data()) : row8.data();
    if (TIFFWriteScanline(t, p, static_cast<uint32_t>(y), 0) < 0) {
      TIFFClose(t);
      throw std::runtime_error("libtiff failed writing " + path);
    }
  }
  TIFFClose(t);
}

Raw ReadTiff(const std::string& path) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (!t) throw std::runtime_error("cannot read " + path);
  Raw r;
  uint32_t w = 0, h = 0;
  uint16_t bits = 0, spp = 0, photometric = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetField(t, TIFFTAG_SAMPLESPERPIXEL, &spp);
  TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric);
  r.width = static_cast<int>(w);
  r.height = static_cast<int>(h);
  r.bits = bits;
  r.channels = photometric == PHOTOMETRIC_RGB ? 3 : 1;
  r.alpha = spp > r.channels;
  uint32_t iccLength = 0;
  void* icc = nullptr;
  if (TIFFGetField(t, TIFFTAG_ICCPROFILE, &iccLength, &icc)) {
    r.icc.assign(static_cast<uint8_t*>(icc), static_cast<uint8_t*>(icc) + iccLength);
  }
  std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(t)));
  const size_t n = static_cast<size_t>(w) * spp;
  for (uint32_t y = 0; y < h; ++y) {
    TIFFReadScanline(t, row.data(), y, 0);
    for (size_t i = 0; i < n; ++i) {
      uint16_t v;
      if (bits == 16) {
        std::memcpy(&v, &row[2 * i], 2);
      } else {
        v = row[i];
      }
      r.samples.push_back(v);
    }
  }
  TIFFClose(t);
  return r;
}

// ---- PNM ------------------------------------------------------------------------------------

void WritePnm(const std::string& path, const Raw& image, int maxval) {
  if (maxval == 0) maxval = image.bits == 16 ? 65535 : 255;
  std::ofstream out(path, std::ios::binary);
  out << (image.channels == 1 ? "P5" : "P6") << "\n# test\n"
      << image.width << " " << image.height << "\n"
      << maxval << "\n";
  for (uint16_t sample : image.samples) {
    const uint16_t v = static_cast<uint16_t>(sample % (maxval + 1));
    if (maxval > 255) out.put(static_cast<char>(v >> 8));
    out.put(static_cast<char>(v & 0xff));
  }
}

Raw ReadPnm(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  Raw r;
  in >> magic >> r.width >> r.height >> maxval;
  in.get();
  r.channels = magic == "P5" ? 1 : 3;
  r.bits = maxval > 255 ? 16 : 8;
  const size_t n = static_cast<size_t>(r.width) * r.height * r.channels;
  for (size_t i = 0; i < n; ++i) {
    int v = in.get();
    if (r.bits == 16) v = (v << 8) | in.get();
    r.samples.push_back(static_cast<uint16_t>(v));
  }
  if (!in) throw std::runtime_error("short PNM " + path);
  return r;
}

// ---- Files, metadata, the runner -------------------------------------------------------------

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

static void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 24);
  b[at + 1] = static_cast<uint8_t>(v >> 16);
  b[at + 2] = static_cast<uint8_t>(v >> 8);
  b[at + 3] = static_cast<uint8_t>(v);
}

std::vector<uint8_t> TestIccProfile(bool grey) {
  // 1 KiB with the tail filled with arbitrary bytes: libpng ignores iCCP chunks that compress
  // to very few bytes.
  std::vector<uint8_t> p(1024, 0);
  for (size_t i = 164; i < p.size(); ++i)
    p[i] = static_cast<uint8_t>(Mix(static_cast<uint32_t>(i)));
  Put32(p, 0, static_cast<uint32_t>(p.size()));
  std::memcpy(&p[4], "test", 4);
  Put32(p, 8, 0x02100000);  // version 2.1
  std::memcpy(&p[12], "mntr", 4);
  std::memcpy(&p[16], grey ? "GRAY" : "RGB ", 4);
  std::memcpy(&p[20], "XYZ ", 4);
  std::memcpy(&p[36], "acsp", 4);
  // D50 illuminant
  Put32(p, 68, 0x0000F6D6);
  Put32(p, 72, 0x00010000);
  Put32(p, 76, 0x0000D32D);
  Put32(p, 128, 1);  // one tag: the media white point
  std::memcpy(&p[132], "wtpt", 4);
  Put32(p, 136, 144);
  Put32(p, 140, 20);
  std::memcpy(&p[144], "XYZ ", 4);
  Put32(p, 152, 0x0000F6D6);
  Put32(p, 156, 0x00010000);
  Put32(p, 160, 0x0000D32D);
  return p;
}

std::vector<uint8_t> TestExif() {
  // Big-endian TIFF header, one IFD with one entry (Orientation = 1), no next IFD.
  return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
}

static std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath) {
  char outName[] = "/tmp/marlo-cli-test-out-XXXXXX";
  char errName[] = "/tmp/marlo-cli-test-err-XXXXXX";
  const int outFd = mkstemp(outName);
  const int errFd = mkstemp(errName);
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    const int in = open(stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY);
    dup2(in, 0);
    dup2(outFd, 1);
    dup2(errFd, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MARLO_EXE));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MARLO_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  close(outFd);
  close(errFd);
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(outName);
  r.err = Slurp(errName);
  unlink(outName);
  unlink(errName);
  return r;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (!d) return names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  return names;
}

}  // namespace clitest
