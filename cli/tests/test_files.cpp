// Test-side image files, crafted files and the runner (see test_files.h).
#include "test_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
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
  Bytes rows;
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

// ---- JPEG -----------------------------------------------------------------------------------

struct JpegFail {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

static void JpegExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegFail*>(info->err)->jump, 1);
}

static void WriteJpegTo(const std::string& path, FILE* f, const Raw& image, int quality,
                        bool progressive, Bytes& row, Bytes& exif) {
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
  Bytes row(static_cast<size_t>(image.width) * image.channels);
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
  exif.insert(exif.end(), image.exif.begin(), image.exif.end());
  WriteJpegTo(path, f, image, quality, progressive, row, exif);
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
    Bytes tile(16 * 16 * static_cast<size_t>(stride) * bytes);
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
    Bytes plane(static_cast<size_t>(image.width) * bytes);
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
  Bytes row8(n);
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

// ---- Files, metadata, the runner -------------------------------------------------------------

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

static void Put32(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v >> 24);
  b[at + 1] = static_cast<uint8_t>(v >> 16);
  b[at + 2] = static_cast<uint8_t>(v >> 8);
  b[at + 3] = static_cast<uint8_t>(v);
}

Bytes TestIccProfile(bool grey, size_t size) {
  // The tail filled with arbitrary bytes: libpng ignores iCCP chunks that compress to very few
  // bytes.
  Bytes p(size, 0);
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

Bytes TestExif() {
  // Big-endian TIFF header, one IFD with one entry (Orientation = 1), no next IFD.
  return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 1, 0, 0, 0, 0, 0, 0};
}

static void Put32Le(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes PngFile(const std::vector<std::pair<std::string, Bytes>>& chunks) {
  Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  for (const auto& [type, data] : chunks) {
    Bytes chunk(4);
    Put32(chunk, 0, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    const uint32_t crc = static_cast<uint32_t>(crc32(0, chunk.data() + 4, chunk.size() - 4));
    chunk.resize(chunk.size() + 4);
    Put32(chunk, chunk.size() - 4, crc);
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  return file;
}

Bytes Ihdr(uint32_t width, uint32_t height, int depth, int colour) {
  Bytes data(13, 0);
  Put32(data, 0, width);
  Put32(data, 4, height);
  data[8] = static_cast<uint8_t>(depth);
  data[9] = static_cast<uint8_t>(colour);
  return data;
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  compress2(out.data(), &size, data.data(), data.size(), 9);
  out.resize(size);
  return out;
}

Bytes TiffFile(const std::vector<TiffTag>& tags, const Bytes& data) {
  Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0, static_cast<uint8_t>(tags.size()), 0};
  Bytes extra;
  const uint32_t extraAt = static_cast<uint32_t>(10 + 12 * tags.size() + 4);
  for (const TiffTag& t : tags) {
    Bytes values;
    for (uint32_t v : t.values) {
      Put32Le(values, v);
      if (t.type == 3) values.resize(values.size() - 2);
    }
    file.insert(file.end(), {static_cast<uint8_t>(t.tag), static_cast<uint8_t>(t.tag >> 8),
                             static_cast<uint8_t>(t.type), 0});
    Put32Le(file, static_cast<uint32_t>(t.values.size()));
    if (values.size() > 4) {
      Put32Le(file, extraAt + static_cast<uint32_t>(extra.size()));
      extra.insert(extra.end(), values.begin(), values.end());
    } else {
      values.resize(4, 0);
      file.insert(file.end(), values.begin(), values.end());
    }
  }
  Put32Le(file, 0);
  file.insert(file.end(), extra.begin(), extra.end());
  Bytes placeholder, offset;
  Put32Le(placeholder, kDataOffset);
  Put32Le(offset, static_cast<uint32_t>(file.size()));
  for (auto at = file.begin();
       (at = std::search(at, file.end(), placeholder.begin(), placeholder.end())) != file.end();) {
    at = std::copy(offset.begin(), offset.end(), at);
  }
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

static std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath, int addressSpaceMb) {
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
    if (addressSpaceMb > 0) {
#ifdef MARLO_SANITIZED
      const char* options = std::getenv("ASAN_OPTIONS");
      const std::string limit =
          std::string(options ? options : "") +
          ":allocator_may_return_null=1:max_allocation_size_mb=" + std::to_string(addressSpaceMb);
      setenv("ASAN_OPTIONS", limit.c_str(), 1);
#else
      const rlim_t bytes = static_cast<rlim_t>(addressSpaceMb) << 20;
      const rlimit limit{bytes, bytes};
      setrlimit(RLIMIT_AS, &limit);
#endif
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MARLO_EXE));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MARLO_EXE, argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  close(outFd);
  close(errFd);
  RunResult r;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = Slurp(outName);
  r.err = Slurp(errName);
  r.peakKb = usage.ru_maxrss;
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
  std::sort(names.begin(), names.end());
  return names;
}

void InTempDir::SetUp() {
  char name[] = "/tmp/marlo-cli-test-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(name));
  dir_ = name;
}

void InTempDir::TearDown() {
  ASSERT_EQ(0, std::system(("rm -rf '" + dir_ + "'").c_str()));
}

}  // namespace clitest
