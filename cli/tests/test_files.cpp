// Test-side image files, crafted files and the runner (see test_files.h).
#include "test_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// ---- PNG and TIFF, built byte by byte ---------------------------------------------------------

static void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

static void Put32Le(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void WritePng(const std::string& path, const Raw& image, int flags) {
  const bool palette = (flags & kPalette) != 0;
  const bool interlaced = (flags & kInterlaced) != 0;
  const int depth = palette ? 8 : image.bits;
  Bytes ihdr = Ihdr(image.width, image.height, depth,
                    palette ? 3 : (image.channels == 3 ? 2 : 0) | (image.alpha ? 4 : 0));
  ihdr[12] = interlaced ? 1 : 0;
  std::vector<std::pair<std::string, Bytes>> chunks = {{"IHDR", ihdr}};
  if (!image.icc.empty()) {
    Bytes iccp = {'t', 'e', 's', 't', 0, 0};
    const Bytes packed = Deflate(image.icc);
    iccp.insert(iccp.end(), packed.begin(), packed.end());
    chunks.push_back({"iCCP", iccp});
  }
  // A palette of the colours in the order they first appear; the pixels become their indices.
  Bytes colours, pixels;
  for (size_t i = 0; palette && i < image.samples.size(); i += 3) {
    const Bytes c = {static_cast<uint8_t>(image.samples[i]),
                     static_cast<uint8_t>(image.samples[i + 1]),
                     static_cast<uint8_t>(image.samples[i + 2])};
    size_t k = 0;
    while (k < colours.size() && !std::equal(c.begin(), c.end(), colours.begin() + k)) k += 3;
    if (k == colours.size()) colours.insert(colours.end(), c.begin(), c.end());
    pixels.push_back(static_cast<uint8_t>(k / 3));
  }
  if (palette) chunks.push_back({"PLTE", colours});
  if (flags & kTransparency) {
    Bytes trns;
    for (size_t k = 0; k < colours.size() / 3; ++k) trns.push_back(static_cast<uint8_t>(k * 61));
    for (int c = 0; !palette && c < image.channels; ++c) {
      trns.insert(trns.end(), {static_cast<uint8_t>(image.samples[c] >> 8),
                               static_cast<uint8_t>(image.samples[c])});
    }
    chunks.push_back({"tRNS", trns});
  }
  if (!image.exif.empty()) chunks.push_back({"eXIf", image.exif});
  // Rows of the whole image, or of each Adam7 pass, behind filter byte 0; samples of fewer than
  // 8 bits packed from the most significant bit.
  static const int kPasses[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                    {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  static const int kWhole[1][4] = {{0, 0, 1, 1}};
  Bytes rows;
  for (int p = 0; p < (interlaced ? 7 : 1); ++p) {
    const int* pass = interlaced ? kPasses[p] : kWhole[0];
    for (int y = pass[1]; y < image.height && pass[0] < image.width; y += pass[3]) {
      rows.push_back(0);
      int bits = 0;
      for (int x = pass[0]; x < image.width; x += pass[2]) {
        for (int c = 0; c < (palette ? 1 : image.Stride()); ++c) {
          const uint16_t v =
              palette ? pixels[static_cast<size_t>(y) * image.width + x] : image.At(x, y, c);
          if (depth == 16) rows.push_back(static_cast<uint8_t>(v >> 8));
          if (bits % 8 == 0) rows.push_back(0);
          rows.back() |= static_cast<uint8_t>(depth >= 8 ? v : v << (8 - depth - bits % 8));
          bits += depth >= 8 ? 8 : depth;
        }
      }
    }
  }
  chunks.push_back({"IDAT", Deflate(rows)});
  chunks.push_back({"IEND", {}});
  WriteBytes(path, PngFile(chunks));
}

void WriteTiff(const std::string& path, const Raw& image, TiffLayout layout, int photometric) {
  const bool planar = layout == TiffLayout::Planar;
  const bool tiled = layout == TiffLayout::Tiles;
  const int spp = image.Stride();
  const uint32_t side = tiled ? 16 : 3;  // tiles of 16 x 16, or strips of 3 rows
  // Every piece (strip of each plane, or tile) in turn, tiles padded with zeros; samples in
  // little-endian order, as the header says.
  Bytes data;
  std::vector<uint32_t> offsets, counts;
  for (int plane = 0; plane < (planar ? spp : 1); ++plane) {
    for (int top = 0; top < image.height; top += side) {
      for (int left = 0; left < image.width; left += tiled ? side : image.width) {
        offsets.push_back(kDataOffset + static_cast<uint32_t>(data.size()));
        const int bottom = tiled ? top + side : std::min<int>(top + side, image.height);
        for (int y = top; y < bottom; ++y) {
          for (int x = left; x < (tiled ? left + static_cast<int>(side) : image.width); ++x) {
            for (int c = planar ? plane : 0; c < (planar ? plane + 1 : spp); ++c) {
              const uint16_t v = x < image.width && y < image.height ? image.At(x, y, c) : 0;
              data.push_back(static_cast<uint8_t>(v));
              if (image.bits == 16) data.push_back(static_cast<uint8_t>(v >> 8));
            }
          }
        }
        counts.push_back(kDataOffset + static_cast<uint32_t>(data.size()) - offsets.back());
      }
    }
  }
  std::vector<TiffTag> tags = {{256, 4, {static_cast<uint32_t>(image.width)}},
                               {257, 4, {static_cast<uint32_t>(image.height)}},
                               {258, 3, std::vector<uint32_t>(spp, image.bits)},
                               {259, 3, {1}},
                               {262,
                                3,
                                {static_cast<uint32_t>(photometric >= 0      ? photometric
                                                       : image.channels == 3 ? 2
                                                                             : 1)}}};
  if (!tiled) tags.push_back({273, 4, offsets});
  tags.push_back({277, 3, {static_cast<uint32_t>(spp)}});
  if (!tiled) tags.insert(tags.end(), {{278, 4, {side}}, {279, 4, counts}});
  tags.push_back({284, 3, {planar ? 2u : 1u}});
  if (photometric == 3) {
    TiffTag map{320, 3, {}};
    for (uint32_t i = 0; i < 256; ++i) map.values.push_back(i * 257);
    for (uint32_t i = 0; i < 256; ++i) map.values.push_back((255 - i) * 257);
    for (uint32_t i = 0; i < 256; ++i) map.values.push_back(Mix(i) & 0xffff);
    tags.push_back(map);
  }
  if (tiled)
    tags.insert(tags.end(),
                {{322, 4, {side}}, {323, 4, {side}}, {324, 4, offsets}, {325, 4, counts}});
  if (image.alpha) tags.push_back({338, 3, {2}});
  if (!image.icc.empty()) tags.push_back({34675, 7, {image.icc.begin(), image.icc.end()}});
  WriteBytes(path, TiffFile(tags, data));
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
  const size_t extraAt = 10 + 12 * tags.size() + 4;
  std::vector<std::pair<size_t, uint32_t>> patches;  // where an offset into `data` goes
  for (const TiffTag& t : tags) {
    const size_t size = t.type == 3 ? 2 : t.type == 4 ? 4 : 1;
    file.insert(file.end(), {static_cast<uint8_t>(t.tag), static_cast<uint8_t>(t.tag >> 8),
                             static_cast<uint8_t>(t.type), 0});
    Put32Le(file, static_cast<uint32_t>(t.values.size()));
    const bool inline_ = size * t.values.size() <= 4;
    if (!inline_) Put32Le(file, static_cast<uint32_t>(extraAt + extra.size()));
    Bytes& out = inline_ ? file : extra;
    const size_t start = out.size();
    for (uint32_t v : t.values) {
      if (v >= kDataOffset)
        patches.push_back({(inline_ ? 0 : extraAt) + out.size(), v - kDataOffset});
      Put32Le(out, v);
      out.resize(out.size() - 4 + size);
    }
    if (inline_) out.resize(start + 4, 0);
  }
  Put32Le(file, 0);
  file.insert(file.end(), extra.begin(), extra.end());
  const uint32_t dataAt = static_cast<uint32_t>(file.size());
  for (const auto& [at, delta] : patches) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<uint8_t>((dataAt + delta) >> (8 * i));
  }
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

static std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t StartMarlo(const std::vector<std::string>& args, const std::string& cwd, int in, int out,
                 int err, int addressSpaceMb) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  if (chdir(cwd.c_str()) != 0) _exit(127);
  const int fds[3] = {in, out, err};
  for (int i = 0; i < 3; ++i) fds[i] < 0 ? close(i) : dup2(fds[i], i);
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
  std::vector<char*> argv = {const_cast<char*>(MARLO_EXE)};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(MARLO_EXE, argv.data());
  _exit(127);
}

int WaitMarlo(pid_t pid, long* peakKb) {
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  if (peakKb) *peakKb = usage.ru_maxrss;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

RunResult RunMarlo(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& stdinPath, int addressSpaceMb, int closedFd) {
  char outName[] = "/tmp/marlo-cli-test-out-XXXXXX";
  char errName[] = "/tmp/marlo-cli-test-err-XXXXXX";
  const int fds[3] = {open(stdinPath.empty() ? "/dev/null" : stdinPath.c_str(), O_RDONLY),
                      mkstemp(outName), mkstemp(errName)};
  RunResult r;
  r.status =
      WaitMarlo(StartMarlo(args, cwd, closedFd == 0 ? -1 : fds[0], closedFd == 1 ? -1 : fds[1],
                           closedFd == 2 ? -1 : fds[2], addressSpaceMb),
                &r.peakKb);
  for (int fd : fds) close(fd);
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
