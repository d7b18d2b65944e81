// Test-side image files, crafted files and the runner (see test_files.h).
#include "test_files.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <jpeglib.h>

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
  Raw r{width, height, channels, alpha, bits, {}, {}, {}};
  r.samples.resize(static_cast<size_t>(width) * height * r.Stride());
  for (size_t i = 0; i < r.samples.size(); ++i) {
    const uint32_t v = Mix(salt * 2654435761u + static_cast<uint32_t>(i));
    r.samples[i] = static_cast<uint16_t>(v & ((1u << bits) - 1));
  }
  return r;
}

// 256 colours: the red, the green, then the blue values, 16 bits each.
static const std::vector<uint32_t>& PaletteMap() {
  static const std::vector<uint32_t> map = [] {
    std::vector<uint32_t> m;
    for (uint32_t i = 0; i < 768; ++i) {
      m.push_back(i < 256 ? i * 257 : i < 512 ? (511 - i) * 257 : Mix(i - 512) & 0xffff);
    }
    return m;
  }();
  return map;
}

static Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

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
  if (!image.icc.empty())
    chunks.push_back({"iCCP", Bytes{'t', 'e', 's', 't', 0, 0} + Deflate(image.icc)});
  Bytes colours, alphas;
  for (uint32_t k = 0; k < 256; ++k) {
    for (int c = 0; c < 3; ++c)
      colours.push_back(static_cast<uint8_t>(PaletteMap()[256 * c + k] >> 8));
    alphas.push_back(static_cast<uint8_t>(k * 61));
  }
  if (palette) chunks.push_back({"PLTE", colours});
  if (flags & kTransparency) {
    Bytes trns = palette ? alphas : Bytes();
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
        for (int c = 0; c < image.Stride(); ++c) {
          const uint16_t v = image.At(x, y, c);
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
  const uint32_t kind = photometric >= 0 ? photometric : image.channels == 3 ? 2 : 1;
  const uint32_t w = image.width, h = image.height, samples = spp, planes = planar ? 2 : 1;
  std::vector<TiffTag> tags = {{256, 4, {w}},    {257, 4, {h}},       {259, 3, {1}},
                               {262, 3, {kind}}, {277, 3, {samples}}, {284, 3, {planes}}};
  tags.push_back({258, 3, std::vector<uint32_t>(spp, image.bits)});
  if (tiled) {
    tags.insert(tags.end(),
                {{322, 4, {side}}, {323, 4, {side}}, {324, 4, offsets}, {325, 4, counts}});
  } else {
    tags.insert(tags.end(), {{273, 4, offsets}, {278, 4, {side}}, {279, 4, counts}});
  }
  if (kind == 3) tags.push_back({320, 3, PaletteMap()});
  if (image.alpha) tags.push_back({338, 3, {2}});
  if (!image.icc.empty()) tags.push_back({34675, 7, {image.icc.begin(), image.icc.end()}});
  WriteBytes(path, TiffFile(tags, data));
}

void WriteJpeg(const std::string& path, const Raw& image, int quality, bool progressive) {
  Bytes row(static_cast<size_t>(image.width) * image.channels);
  Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
  exif.insert(exif.end(), image.exif.begin(), image.exif.end());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct c;
  jpeg_error_mgr err;  // libjpeg's own: a failure ends the test program
  c.err = jpeg_std_error(&err);
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

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
  const Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

Bytes TestIccProfile(bool grey, size_t size) {
  // Size, CMM, version 2.1, class, colour space, connection space, signature, the D50 illuminant;
  // one tag, the media white point. Arbitrary bytes after it: libpng drops tiny iCCP chunks.
  Bytes p(size, 0);
  for (size_t i = 164; i < size; ++i) p[i] = static_cast<uint8_t>(Mix(static_cast<uint32_t>(i)));
  const uint32_t words[] = {8,   0x02100000, 68,  0xF6D6, 72,  0x10000, 76,  0xD32D,  128, 1,
                            136, 144,        140, 20,     152, 0xF6D6,  156, 0x10000, 160, 0xD32D};
  Put32(p, 0, static_cast<uint32_t>(size));
  const std::pair<size_t, const char*> names[] = {
      {4, "test"},   {12, "mntr"}, {16, grey ? "GRAY" : "RGB "}, {20, "XYZ "}, {36, "acsp"},
      {132, "wtpt"}, {144, "XYZ "}};
  for (size_t i = 0; i < std::size(words); i += 2) Put32(p, words[i], words[i + 1]);
  for (const auto& [at, name] : names) std::memcpy(&p[at], name, 4);
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

Bytes TiffFile(std::vector<TiffTag> tags, const Bytes& data) {
  std::sort(tags.begin(), tags.end(),
            [](const TiffTag& a, const TiffTag& b) { return a.tag < b.tag; });
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

std::vector<TiffTag> StripTags(uint32_t width, uint32_t height, uint32_t spp, uint32_t bits,
                               uint32_t photometric, uint32_t compression, uint32_t bytes) {
  const std::vector<uint32_t> depths(spp <= 4 ? spp : 1, bits);
  return {{256, 4, {width}},       {257, 4, {height}},      {259, 3, {compression}},
          {262, 3, {photometric}}, {273, 4, {kDataOffset}}, {277, 3, {spp}},
          {278, 4, {height}},      {279, 4, {bytes}},       {258, 3, depths}};
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
  r.out = ReadText(outName);
  r.err = ReadText(errName);
  unlink(outName);
  unlink(errName);
  return r;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code missing;
  for (const auto& e : std::filesystem::directory_iterator(dir, missing)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

RunResult InTempDir::RunLine(const std::string& line, int addressSpaceMb) const {
  std::vector<std::string> args = Words(line);
  const auto redirect = std::find(args.begin(), args.end(), "<");
  const std::string in = redirect == args.end() ? "" : *(redirect + 1);
  if (redirect != args.end()) args.erase(redirect, redirect + 2);
  const std::string last = args.empty() ? "" : args.back();
  const int closed = last == "<&-" ? 0 : last == ">&-" ? 1 : -1;
  if (closed >= 0) args.pop_back();
  return RunMarlo(args, dir_, in, addressSpaceMb, closed);
}

void InTempDir::SetUp() {
  char name[] = "/tmp/marlo-cli-test-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(name));
  dir_ = name;
}

void InTempDir::TearDown() {
  std::filesystem::remove_all(dir_);
}

}  // namespace clitest
