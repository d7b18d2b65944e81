// Hostile files and file systems: each kind of attack tried on the built tool, with files or
// set-ups made here. Memory attacks run in a process that cannot map more than 1 GB, so a
// buffer sized from a header fails at once instead of exhausting the machine. The TIFF headers
// are deflate-compressed: libtiff takes any strip size of an uncompressed file as damage.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "test_files.h"

namespace clitest {
namespace {

constexpr int kAddressSpaceMb = 1024;

class Hostile : public InTempDir {
 protected:
  // Feeds `head` and then zeros without end into a FIFO named `name` while marlo reads it as
  // standard input; returns the run once marlo has stopped reading.
  RunResult RunOnEndlessStream(const std::vector<std::string>& args, const std::string& head) {
    signal(SIGPIPE, SIG_IGN);
    const std::string fifo = Path("stream");
    EXPECT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::thread writer([&] {
      const int fd = open(fifo.c_str(), O_WRONLY);
      const Bytes zeros(1 << 16);
      bool ok = write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size());
      while (ok) ok = write(fd, zeros.data(), zeros.size()) > 0;
      close(fd);
    });
    const RunResult r = Run(args, fifo, kAddressSpaceMb);
    writer.join();
    unlink(fifo.c_str());
    return r;
  }
};

TEST_F(Hostile, HeadersAskingForHugeBuffersAreRefusedBeforeAnyIsAllocated) {
  const Bytes idat = Deflate(Bytes(16, 0));
  const Bytes iend;
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  const Case cases[] = {
      {"wide.png", PngFile({{"IHDR", Ihdr(2147483647, 1, 8, 0)}, {"IDAT", idat}, {"IEND", iend}}),
       "wide.png: PNG: Invalid IHDR data (Image width exceeds user limit in IHDR)"},
      {"long-rows.png",
       PngFile({{"IHDR", Ihdr(200000000, 1, 8, 2)}, {"IDAT", idat}, {"IEND", iend}}),
       "long-rows.png: PNG: decoding a 200000000 x 1 picture may use 1160.4 MB (twice its "
       "decoded size plus 16 MB), but the row buffers would take 1716.6 MB"},
      {"samples.tif",
       TiffFile({{256, 4, {100000}},
                 {257, 4, {1}},
                 {258, 3, {16}},
                 {259, 3, {8}},
                 {262, 3, {1}},
                 {273, 4, {kDataOffset}},
                 {277, 3, {20000}},
                 {278, 4, {1}},
                 {279, 4, {8}}},
                Bytes(8)),
       "samples.tif: TIFF: decoding a 100000 x 1 picture may use 16.4 MB (twice its decoded "
       "size plus 16 MB), but the row buffers would take 3814.9 MB"},
      {"tile.tif",
       TiffFile({{256, 4, {1}},
                 {257, 4, {1}},
                 {258, 3, {8}},
                 {259, 3, {8}},
                 {262, 3, {1}},
                 {277, 3, {1}},
                 {322, 4, {65536}},
                 {323, 4, {65536}},
                 {324, 4, {kDataOffset}},
                 {325, 4, {1}}},
                Bytes(4)),
       "tile.tif: TIFF: decoding a 1 x 1 picture may use 16.0 MB (twice its decoded size plus 16 "
       "MB), but the tile buffer would take 4096.0 MB"},
  };
  for (const Case& c : cases) {
    WriteBytes(Path(c.name), c.bytes);
    const RunResult r = Run({"contrast", c.name, "-o", "out.png"}, "", kAddressSpaceMb);
    EXPECT_EQ(1, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
  }
  EXPECT_EQ((std::vector<std::string>{"long-rows.png", "samples.tif", "tile.tif", "wide.png"}),
            ListDir(dir_));
}

TEST_F(Hostile, TextChunksAreSkippedUninflated) {
  // Eight compressed text chunks of 60 MiB each around a 4 x 4 picture, made in a child
  // process: the run's peak resident size starts from this one's.
  if (fork() == 0) {
    const Bytes bomb = Deflate(Bytes(60 << 20, 0));
    std::vector<std::pair<std::string, Bytes>> chunks = {{"IHDR", Ihdr(4, 4, 8, 0)}};
    for (int i = 0; i < 8; ++i) {
      Bytes text = {'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
      if (i % 2) text.insert(text.begin() + 8, {1, 0, 0});  // iTXt: compressed, no language
      text.insert(text.end(), bomb.begin(), bomb.end());
      chunks.push_back({i % 2 ? "iTXt" : "zTXt", text});
    }
    chunks.push_back({"IDAT", Deflate(Bytes(20, 0))});
    chunks.push_back({"IEND", {}});
    WriteBytes(Path("text.png"), PngFile(chunks));
    _exit(0);
  }
  wait(nullptr);
  const auto started = std::chrono::steady_clock::now();
  const RunResult r = Run({"contrast", "text.png", "-o", "out.png"}, "", kAddressSpaceMb);
  EXPECT_EQ(0, r.status) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
#ifndef MARLO_SANITIZED
  EXPECT_LT(r.peakKb, 40 << 10);
#endif
}

TEST_F(Hostile, StreamsAreReadAsTheyArriveAndATiffOnlyUpToTheLimit) {
  RunResult r = Run({"contrast", "-", "-o", "out.png"}, "/dev/zero", kAddressSpaceMb);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("standard input: not a PNG, JPEG, TIFF or PNM file"));
  r = RunOnEndlessStream({"contrast", "-", "-o", "out.png", "--max-megapixels", "0.1"},
                         std::string("II*\0", 4));
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("standard input: a TIFF that is not a regular file is "
                                          "held in a temporary file, and this one is longer "
                                          "than the 16.8 MB the limit allows"))
      << r.err;
  r = RunOnEndlessStream({"contrast", "-", "-o", "out.png"}, "P5 100000 100000 255\n");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("standard input: the image is 100000 x 100000")) << r.err;
  EXPECT_TRUE(ListDir(dir_).empty());
}

TEST_F(Hostile, OnlyRegularFilesAreReplacedAndOnlyTheirPermissionBitsKept) {
  WritePng(Path("in.png"), Pattern(8, 6, 3, false, 8, 1));
  ASSERT_EQ(0, mkfifo(Path("fifo.png").c_str(), 0600));
  const RunResult r = Run({"contrast", "in.png", "-o", "fifo.png"});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("marlo: fifo.png is not a regular file; marlo writes "
                                          "only regular files (standard output: -o -)"))
      << r.err;
  struct stat st;
  ASSERT_EQ(0, lstat(Path("fifo.png").c_str(), &st));
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // Set-user-id and set-group-id stay while the owner and group do; as root, a file of another
  // owner keeps only its permission bits.
  WriteBytes(Path("out.png"), {0});
  for (const bool otherOwner : {false, geteuid() == 0}) {
    ASSERT_EQ(0, otherOwner ? chown(Path("out.png").c_str(), 12345, 12345) : 0);
    ASSERT_EQ(0, chmod(Path("out.png").c_str(), 06751));
    ASSERT_EQ(0, Run({"contrast", "in.png", "-o", "out.png"}).status);
    ASSERT_EQ(0, stat(Path("out.png").c_str(), &st));
    EXPECT_EQ(otherOwner ? 0751u : 06751u, st.st_mode & 07777) << otherOwner;
  }
}

TEST_F(Hostile, ClosedStandardDescriptorsAreNeverTakenForFiles) {
  WritePng(Path("in.png"), Pattern(8, 6, 3, false, 8, 1));
  const Bytes original = ReadBytes(Path("in.png"));
  RunResult r = Run({"contrast", "in.png", "-o", "-"}, "", 0, 1);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("marlo: in.png: cannot write to standard output: Bad file descriptor"));
  EXPECT_EQ(original, ReadBytes(Path("in.png")));
  r = Run({"list"}, "", 0, 1);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("marlo: cannot write to standard output\n", r.err);
  r = Run({"contrast", "-", "-o", "out.png"}, "", 0, 0);
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos,
            r.err.find("marlo: standard input: read error: Bad file descriptor"));
  EXPECT_EQ(0, Run({"contrast", "in.png", "-o", "out.png"}, "", 0, 2).status);
  EXPECT_EQ((std::vector<std::string>{"in.png", "out.png"}), ListDir(dir_));
}

TEST_F(Hostile, AnIccProfileTooLargeForJpegIsLeftOutAndSaid) {
  Raw picture = Pattern(8, 8, 3, false, 8, 1);
  for (const size_t size : {size_t{255 * 65519}, size_t{255 * 65519 + 1}}) {
    picture.icc = TestIccProfile(false, size);
    WriteTiff(Path("in.tif"), picture);
    const RunResult r = Run({"contrast", "in.tif", "-o", "out.jpg"});
    EXPECT_EQ(0, r.status) << r.err;
    const bool fits = size == 255 * 65519;
    EXPECT_EQ(fits ? ""
                   : "marlo: note: the ICC profile (16707346 bytes) is larger than a JPEG "
                     "can hold (16707345 bytes); it is left out\n",
              r.err);
    const RunResult info = Run({"info", "out.jpg"});
    EXPECT_EQ(0, info.status) << info.err;
    EXPECT_NE(std::string::npos,
              info.out.find(fits ? "ICC profile: 16707345 bytes" : "ICC profile: none"));
  }
}

TEST_F(Hostile, DamagedTiffFilesAreRefusedNotPatched) {
  // Planar RGB whose green and blue strips are missing; a palette with 16 colours of 256.
  const std::vector<TiffTag> header = {{256, 3, {4}},           {257, 3, {2}}, {259, 3, {1}},
                                       {273, 4, {kDataOffset}}, {278, 3, {2}}, {279, 4, {8}}};
  std::vector<TiffTag> planar = header, palette = header;
  planar.insert(planar.begin() + 2, {258, 3, {8, 8, 8}});
  planar.insert(planar.begin() + 4, {262, 3, {2}});
  planar.insert(planar.begin() + 6, {277, 3, {3}});
  planar.push_back({284, 3, {2}});
  palette.insert(palette.begin() + 2, {258, 3, {8}});
  palette.insert(palette.begin() + 4, {262, 3, {3}});
  palette.insert(palette.begin() + 6, {277, 3, {1}});
  palette.push_back({320, 3, std::vector<uint32_t>(48, 4096)});
  WriteBytes(Path("planar.tif"), TiffFile(planar, Bytes(8, 7)));
  WriteBytes(Path("palette.tif"), TiffFile(palette, Bytes(8, 7)));
  const std::pair<const char*, const char*> cases[] = {
      {"planar.tif",
       "TIFF: damaged file (TIFFFetchStripThing: Incorrect count for "
       "\"StripOffsets\"; tag ignored)"},
      {"palette.tif",
       "TIFF: damaged file (TIFFReadDirectory: Incorrect count for \"ColorMap\"; tag ignored)"}};
  for (const auto& [name, message] : cases) {
    const RunResult r = Run({"contrast", name, "-o", "out.png"});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find(message)) << r.err;
  }
  EXPECT_EQ((std::vector<std::string>{"palette.tif", "planar.tif"}), ListDir(dir_));
}

TEST_F(Hostile, EverySignalThatEndsARunRemovesItsTemporaryFile) {
  WritePnm(Path("big.ppm"), Pattern(2000, 1500, 3, false, 16, 2));
  const int null = open("/dev/null", O_RDWR);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    const pid_t pid = StartMarlo({"contrast", "big.ppm", "-o", "out.png"}, dir_, null, null, null);
    // The signal arrives while the output is written: once its temporary file exists.
    for (int i = 0; i < 4000 && ListDir(dir_).size() < 2; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, signal);
    EXPECT_EQ(130, WaitMarlo(pid)) << signal;
    EXPECT_EQ((std::vector<std::string>{"big.ppm"}), ListDir(dir_)) << signal;
  }
  close(null);
}

}  // namespace
}  // namespace clitest
