// End-to-end tests of the built `marlo` beyond the files it writes (tool_golden_test.cpp): every
// refusal with its status and line, leaving nothing behind; hostile files and file systems (closed
// descriptors among them), each made here; batches, list, info and help; the demo. Runs that read
// hostile files cannot map more than 1 GB, so a buffer sized from a header fails at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "test_files.h"

namespace clitest {
namespace {

constexpr int kAddressSpaceMb = 1024;

class Cli : public InTempDir {};

TEST_F(Cli, RefusalsNameTheProblemAndLeaveNothingBehind) {
  WritePng(Path("in.png"), Pattern(8, 6, 3, false, 8, 1));
  WritePng(Path("big.png"), Pattern(64, 64, 3, false, 8, 1));
  Bytes bytes = ReadBytes(Path("big.png"));
  WriteBytes(Path("cut.png"), Bytes(bytes.begin(), bytes.begin() + bytes.size() / 2));
  WriteJpeg(Path("big.jpg"), Pattern(64, 64, 3, false, 8, 2), 90);
  bytes = ReadBytes(Path("big.jpg"));
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] = 0xff;
  WriteBytes(Path("bad.jpg"), Bytes(bytes.begin(), bytes.begin() + bytes.size() * 3 / 4));
  WriteBytes(Path("deep.tif"), TiffFile(StripTags(4, 2, 1, 32, 1, 1, 32), Bytes(32)));
  WriteBytes(Path("deep.pgm"), {'P', '5', ' ', '1', ' ', '1', ' ', '7', '0', '0', '0', '0', '\n'});
  WriteBytes(Path("notes.png"), {'h', 'e', 'l', 'l', 'o'});
  WriteBytes(Path("plain"), {'x'});
  ASSERT_EQ(0, mkfifo(Path("fifo.png").c_str(), 0600));
  // Headers asking for huge buffers (TIFF deflate-compressed: libtiff takes any strip size of an
  // uncompressed file as damage); planar RGB whose green and blue strips are missing; a palette
  // of 16 colours where 256 are due.
  const Bytes idat = Deflate(Bytes(16, 0));
  WriteBytes(Path("wide.png"), PngFile({{"IHDR", Ihdr(2147483647, 1, 8, 0)}, {"IDAT", idat}}));
  WriteBytes(Path("long.png"), PngFile({{"IHDR", Ihdr(200000000, 1, 8, 2)}, {"IDAT", idat}}));
  WriteBytes(Path("samples.tif"), TiffFile(StripTags(100000, 1, 20000, 16, 1, 8, 8), Bytes(8)));
  const std::vector<TiffTag> tile = {{256, 4, {1}},     {257, 4, {1}},     {258, 3, {8}},
                                     {259, 3, {8}},     {262, 3, {1}},     {277, 3, {1}},
                                     {322, 4, {65536}}, {323, 4, {65536}}, {324, 4, {kDataOffset}},
                                     {325, 4, {4}}};  // one tile of 65536 x 65536
  WriteBytes(Path("tile.tif"), TiffFile(tile, Bytes(4)));
  std::vector<TiffTag> planar = StripTags(4, 2, 3, 8, 2, 1, 8),
                       palette = StripTags(4, 2, 1, 8, 3, 1, 8);
  planar.push_back({284, 3, {2}});
  palette.push_back({320, 3, std::vector<uint32_t>(48, 4096)});
  WriteBytes(Path("planar.tif"), TiffFile(planar, Bytes(8, 7)));
  WriteBytes(Path("palette.tif"), TiffFile(palette, Bytes(8, 7)));
  const std::tuple<const char*, int, const char*> cases[] = {
      {"contrast --contrast 101 in.png -o out.png", 2,
       "--contrast: value 101 is out of range; accepted range -100..100"},
      {"contrast --brightness 1,2 in.png -o out.png", 2, "--brightness: '1,2' is not one or three"},
      {"lens --at 1,1 --radius 5 --power 5 in.png -o out.png", 2, "--power: value 5 is out of"},
      {"auto-exposure --strength 1.5 in.png -o o.png", 2, "--strength: value 1.5 is out of range"},
      {"tint in.png -o out.png", 2, "tint: give the tint either as --rgb R,G,B or as --hue H"},
      {"hsl --red 10,200,0 in.png -o out.png", 2, "--red: value 200 is out of range"},
      {"no-such-filter in.png -o out.png", 2, "unknown filter or command 'no-such-filter'"},
      {"sharpn in.png -o out.png", 2, "unknown filter 'sharpn'; did you mean 'sharpen'?"},
      {"saturation --amout 3 in.png -o o.png", 2,
       "unknown option '--amout'; did you mean '--amount'?"},
      {"sharpen --strenght 4 in.png -o o.png", 2,
       "unknown option '--strenght'; did you mean '--strength'?"},
      {"-v", 2, "unknown option '-v'; did you mean '-V'?"},
      {"contrast -j 0 in.png -o out.png", 2, "-j: value 0 is out of range; accepted range 1..256"},
      {"contrast in.png -o x.png --format jpeg", 2,
       "--format jpeg contradicts the output name x.png"},
      {"contrast notes.png cut.png -o new/", 1, "marlo: 0 of 2 files done, 2 failed"},
      {"contrast then remove-cast --at 8,2 in.png -o out.png", 2,
       "--at: the point 8,2 lies outside the 8 x 6 image; accepted range 0..7,0..5"},
      {"contrast then then contrast in.png -o out.png", 2, "`then` must stand between two filters"},
      {"contrast -o a.png then contrast in.png -o b.png", 2, "-o/--output given more than once"},
      {"contrast in.png -o out.png then list", 2, "only filters can be chained"},
      {"book in.png -o out.png", 1, "in.png: book: Image error !"},
      {"contrast --max-megapixels 0.00004 in.png -o out.png", 1,
       "in.png: the image is 8 x 6 (0.0 megapixels), more than the limit of 4e-05 megapixels"},
      {"contrast nothing.png -o out.png", 1, "nothing.png: cannot open: No such file"},
      {"contrast cut.png -o out.png", 1, "cut.png: PNG: the file ends too early (truncated)"},
      {"contrast bad.jpg -o out.png", 1, "bad.jpg: JPEG: "},
      {"contrast deep.tif -o out.png", 1, "deep.tif: TIFF: unsupported depth of 32 bits per"},
      {"contrast deep.pgm -o out.png", 1, "deep.pgm: PNM: unsupported depth (maximum value 70000;"},
      {"contrast notes.png -o out.png", 1, "notes.png: not a PNG, JPEG, TIFF or PNM file"},
      {"contrast - -o out.png < /dev/zero", 1, "standard input: not a PNG, JPEG, TIFF or PNM"},
      {"contrast - -o out.png <&-", 1, "standard input: read error: Bad file descriptor"},
      {"contrast in.png -o - >&-", 1, "in.png: cannot write to standard output: Bad file desc"},
      {"list >&-", 1, "marlo: cannot write to standard output"},
      {"contrast in.png -o plain/out.png", 1, "in.png: cannot write in plain/: Not a directory"},
      {"contrast in.png -o fifo.png", 2, "fifo.png is not a regular file; marlo writes only"},
      {"contrast in.png -o out.gif", 2, "cannot tell the output format of 'out.gif'"},
      {"contrast in.png -o in.png", 2, "in.png is an input file; use --in-place to overwrite it"},
      {"contrast in.png big.png -o out.png", 2, "several input files need -o DIRECTORY/"},
      {"contrast - in.png - -o out/", 2, "standard input ('-') can be read only once"},
      {"contrast in.png", 2, "no output given: use -o FILE, -o DIRECTORY/ or --in-place"},
      {"contrast wide.png -o out.png", 1, "wide.png: PNG: Invalid IHDR data (Image width exceeds"},
      {"contrast long.png -o out.png", 1,
       "long.png: PNG: decoding a 200000000 x 1 picture may use 1160.4 MB (twice its decoded "
       "size plus 16 MB), but the row buffers would take 1716.6 MB"},
      {"contrast samples.tif -o out.png", 1,
       "samples.tif: TIFF: decoding a 100000 x 1 picture may use 16.4 MB (twice its decoded "
       "size plus 16 MB), but the row buffers would take 3814.9 MB"},
      {"contrast tile.tif -o out.png", 1,
       "tile.tif: TIFF: decoding a 1 x 1 picture may use 16.0 MB (twice its decoded size plus "
       "16 MB), but the tile buffer would take 4096.0 MB"},
      {"contrast planar.tif -o out.png", 1,
       "TIFF: damaged file (TIFFFetchStripThing: Incorrect count for \"StripOffsets\";"},
      {"contrast palette.tif -o out.png", 1,
       "TIFF: damaged file (TIFFReadDirectory: Incorrect count for \"ColorMap\"; tag ignored)"},
  };
  const std::vector<std::string> files = ListDir(dir_);
  for (const auto& [line, status, message] : cases) {
    const RunResult r = RunLine(line, kAddressSpaceMb);
    EXPECT_EQ(status, r.status) << line << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(message)) << r.err;
    EXPECT_EQ(files, ListDir(dir_)) << line;
  }
  struct stat st;
  EXPECT_TRUE(lstat(Path("fifo.png").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST_F(Cli, RedEyeRecoloursOnlyTheWindowAroundThePointOnBothDepths) {
  // A picture red all over: the 8-bit export would recolour all of it, the 16-bit one fills the
  // red region within 50 pixels of the point. Both windows are cut by the picture's edge.
  for (const int bits : {8, 16}) {
    Raw red = Pattern(160, 120, 3, false, bits, 1);
    for (size_t i = 0; i < red.samples.size(); ++i) {
      red.samples[i] = static_cast<uint16_t>((i % 3 ? 50 : 200) * (bits == 8 ? 1 : 257));
    }
    WritePng(Path("red.png"), red);
    ASSERT_EQ(0, RunLine("red-eye --at 130,20 red.png -o out.ppm").status);
    const Bytes out = ReadBytes(Path("out.ppm"));
    const size_t header =
        std::string(bits == 8 ? "P6\n160 120\n255\n" : "P6\n160 120\n65535\n").size();
    ASSERT_EQ(header + red.samples.size() * (bits / 8), out.size());
    std::set<std::vector<int>> inside, outside;
    for (size_t i = 0; i < red.samples.size(); i += 3) {
      const size_t x = i / 3 % 160, y = i / 3 / 160;
      std::vector<int> pixel;
      for (size_t c = i; c < i + 3; ++c) {
        pixel.push_back(bits == 8 ? out[header + c]
                                  : out[header + 2 * c] * 256 + out[header + 2 * c + 1]);
      }
      (x >= 80 && y <= 70 ? inside : outside).insert(pixel);
    }
    EXPECT_EQ((std::set<std::vector<int>>{{red.samples[0], red.samples[1], red.samples[2]}}),
              outside);
    const std::vector<int> recoloured =
        bits == 8 ? std::vector<int>{81, 48, 48} : std::vector<int>{25777, 12130, 12130};
    // Saturation to 60 %, lightness lowered by 41 % (70 % of the chroma 38550 / 65535) on 16 bits.
    EXPECT_EQ(std::set<std::vector<int>>{recoloured}, inside) << bits;
  }
}

TEST_F(Cli, ReplacingAFileKeepsItsPermissionBitsAndItsSetIdBitsOnlyForTheSameOwner) {
  WritePng(Path("in.png"), Pattern(10, 10, 1, false, 8, 4));
  ASSERT_EQ(0, RunLine("contrast in.png -o copy.png").status);
  for (const bool otherOwner : {false, geteuid() == 0}) {
    ASSERT_EQ(0, otherOwner ? chown(Path("in.png").c_str(), 12345, 12345) : 0);
    ASSERT_EQ(0, chmod(Path("in.png").c_str(), 06751));
    const RunResult r = RunLine("contrast --in-place in.png");
    ASSERT_EQ(0, r.status) << r.err;
    struct stat st;
    ASSERT_EQ(0, stat(Path("in.png").c_str(), &st));
    EXPECT_EQ(otherOwner ? 0751u : 06751u, st.st_mode & 07777) << otherOwner;
    EXPECT_EQ(ReadBytes(Path("copy.png")), ReadBytes(Path("in.png")));
  }
  EXPECT_EQ((std::vector<std::string>{"copy.png", "in.png"}), ListDir(dir_));
}

TEST_F(Cli, BatchCarriesOnPastACorruptFile) {
  for (int i = 0; i < 3; ++i) {
    WritePng(Path("good" + std::to_string(i) + ".png"),
             Pattern(20 + i, 10, 3, false, i == 1 ? 16 : 8, static_cast<uint32_t>(i)));
  }
  WriteBytes(Path("broken.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});
  const RunResult r = RunLine("contrast -j 2 good0.png broken.png good1.png good2.png -o out/");
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("marlo: broken.png: PNG: ")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("marlo: 3 of 4 files done, 1 failed")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"good0.png", "good1.png", "good2.png"}),
            ListDir(Path("out")));
}

TEST_F(Cli, ListInfoAndHelp) {
  RunResult r = RunLine("list");
  EXPECT_EQ(0, r.status);
  EXPECT_EQ(17, std::count(r.out.begin(), r.out.end(), '\n')) << r.out;  // a heading, 16 filters
  EXPECT_NE(std::string::npos, r.out.find("\ncontrast        CBEnhancement "));
  Raw meta = Pattern(7, 3, 1, true, 16, 1);
  meta.icc = TestIccProfile(true);
  meta.exif = TestExif();
  WritePng(Path("a.png"), meta);
  r = RunLine("info a.png missing.png");
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(
      "a.png: PNG, 7 x 3 (0.00 megapixels), grey+alpha, 16 bits per sample in the file\n"
      "  processed as Gray16 (16 bits per sample), with an alpha channel\n"
      "  ICC profile: 1024 bytes\n  EXIF: 26 bytes\n",
      r.out);
  EXPECT_NE(std::string::npos, r.err.find("missing.png: cannot open")) << r.err;
  for (const char* version : {"--version", "-V"}) {
    EXPECT_EQ("marlo 0.1.0\nlibmarlo 0.1.0, libmarlo-io 0.1.0, libkasa 0.1.0\n",
              RunLine(version).out);
  }
  r = RunLine("--help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Exit status")) << r.out;
  r = RunLine("contrast --help");
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("--brightness")) << r.out;
  EXPECT_EQ(2, RunLine("").status);
}

TEST_F(Cli, ManualAndCompletionsListEveryFilterAndOptionThatHelpShows) {
  auto text = [](const char* name) { return ReadText(std::string(MARLO_DOCS) + "/" + name); };
  std::string man = text("marlo.1");
  for (size_t at = man.find("\\-"); at != std::string::npos; at = man.find("\\-", at))
    man.erase(at, 1);
  const std::string files[] = {man, text("marlo.bash"), text("_marlo"), text("marlo.fish")};
  auto has = [](const std::string& file, const std::string& word) {  // as a whole word
    auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; };
    for (size_t at = file.find(word); at != std::string::npos; at = file.find(word, at + 1)) {
      if (at > 0 && !part(file[at - 1]) && !part(file[at + word.size()])) return true;
    }
    return false;
  };
  std::istringstream list(RunLine("list").out);
  std::string filter;
  int filters = 0;
  for (std::getline(list, filter); list >> filter; list.ignore(1000, '\n'), ++filters) {
    for (const std::string& file : files) EXPECT_TRUE(has(file, filter)) << filter;
    std::istringstream help(RunLine(filter + " --help").out);
    for (std::string line; std::getline(help, line);) {
      if (line.rfind("  -", 0) != 0 || line.find("--help") != std::string::npos) continue;
      std::string names = line.substr(2, line.find(' ', 2) - 2);
      std::replace(names.begin(), names.end(), ',', ' ');
      for (const std::string& name : Words(names)) {
        for (int i = 0; i < 3; ++i) EXPECT_TRUE(has(files[i], name)) << i << " " << name;
        EXPECT_TRUE(
            has(files[3], (name[1] == '-' ? "-l " : "-s ") + name.substr(name[1] == '-' ? 2 : 1)))
            << name;
      }
    }
  }
  EXPECT_EQ(16, filters);
  // Tab completion in bash: filters, their options, the chain word and the next filter.
  std::ofstream(Path("complete.sh"))
      << "source " MARLO_DOCS
         "/marlo.bash\nfor line in 'marlo shar' 'marlo sharpen --str' "
         "'marlo sharpen a th' 'marlo sharpen a then sat'; do\n  COMP_WORDS=($line)\n"
         "  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))\n  _marlo\n  echo \"${COMPREPLY[*]}\"\ndone\n";
  FILE* pipe = popen(("bash " + Path("complete.sh")).c_str(), "r");
  char out[256] = {};
  out[fread(out, 1, sizeof out - 1, pipe)] = 0;
  pclose(pipe);
  EXPECT_STREQ("sharpen sharpen-circle\n--strength\nthen\nsaturation\n", out);
}

TEST_F(Cli, AnIccProfileTooLargeForJpegIsLeftOutAndSaid) {
  Raw picture = Pattern(8, 8, 3, false, 8, 1);
  for (const size_t size : {size_t{255 * 65519}, size_t{255 * 65519 + 1}}) {
    picture.icc = TestIccProfile(false, size);
    WriteTiff(Path("in.tif"), picture);
    const RunResult r = RunLine("contrast in.tif -o out.jpg");
    EXPECT_EQ(0, r.status) << r.err;
    const bool fits = size == 255 * 65519;
    EXPECT_EQ(fits ? ""
                   : "marlo: note: the ICC profile (16707346 bytes) is larger than a JPEG "
                     "can hold (16707345 bytes); it is left out\n",
              r.err);
    const RunResult info = RunLine("info out.jpg");
    EXPECT_EQ(0, info.status) << info.err;
    EXPECT_NE(std::string::npos,
              info.out.find(fits ? "ICC profile: 16707345 bytes" : "ICC profile: none"));
  }
}

TEST_F(Cli, TextChunksAreSkippedUninflated) {
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
    chunks.insert(chunks.end(), {{"IDAT", Deflate(Bytes(20, 0))}, {"IEND", {}}});
    WriteBytes(Path("text.png"), PngFile(chunks));
    _exit(0);
  }
  wait(nullptr);
  const RunResult r = RunLine("contrast text.png -o out.png", kAddressSpaceMb);
  EXPECT_EQ(0, r.status) << r.err;
#ifndef MARLO_SANITIZED
  EXPECT_LT(r.peakKb, 40 << 10);
#endif
}

TEST_F(Cli, EndlessStreamsStopAtTheHeaderOrTheLimit) {
  signal(SIGPIPE, SIG_IGN);
  const std::pair<std::string, const char*> cases[] = {
      {std::string("II*\0", 4),
       "standard input: a TIFF that is not a regular file is held in a temporary file, and this "
       "one is longer than the 16.8 MB the limit allows"},
      {"P5 100000 100000 255\n", "standard input: the image is 100000 x 100000"}};
  for (const auto& [head, message] : cases) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const int err = open(Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const pid_t pid = StartMarlo(Words("contrast - -o out.png --max-megapixels 0.1"), dir_, fds[0],
                                 err, err, kAddressSpaceMb);
    close(fds[0]);
    close(err);
    const Bytes zeros(1 << 16);
    bool open = write(fds[1], head.data(), head.size()) > 0;
    while (open) open = write(fds[1], zeros.data(), zeros.size()) > 0;
    close(fds[1]);
    EXPECT_EQ(1, WaitMarlo(pid));
    EXPECT_NE(std::string::npos, ReadText(Path("err")).find(message)) << ReadText(Path("err"));
  }
  EXPECT_EQ((std::vector<std::string>{"err"}), ListDir(dir_));
}

TEST_F(Cli, EverySignalThatEndsARunStopsItAndLeavesNothing) {
  // SIGINT while standard input is read (half a PNG has come) and while the filters run; every
  // signal while the output is written (once its temporary file exists).
  WritePnm(Path("big.ppm"), Pattern(2000, 1500, 3, false, 16, 2));
  WritePng(Path("in.png"), Pattern(64, 64, 3, false, 8, 1));
  const Bytes png = ReadBytes(Path("in.png"));
  std::string chain = "contrast big.ppm -o out.png";
  for (int i = 0; i < 400; ++i) chain += i % 2 ? " then contrast --contrast 5" : " then contrast";
  enum Stage { kReading, kFiltering, kWriting };
  const std::pair<int, Stage> cases[] = {
      {SIGINT, kReading}, {SIGINT, kFiltering}, {SIGINT, kWriting}, {SIGTERM, kWriting},
      {SIGHUP, kWriting}, {SIGQUIT, kWriting},  {SIGPIPE, kWriting}};
  const int null = open("/dev/null", O_RDWR);
  for (const auto& [signal, stage] : cases) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    const std::string line = stage == kReading     ? "contrast - -o out.png"
                             : stage == kFiltering ? chain
                                                   : "contrast big.ppm -o out.png";
    const pid_t pid = StartMarlo(Words(line), dir_, stage == kReading ? fds[0] : null, null, null);
    close(fds[0]);
    if (stage == kReading) {
      ASSERT_EQ(static_cast<ssize_t>(png.size() / 2), write(fds[1], png.data(), png.size() / 2));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(stage == kFiltering ? 1000 : 300));
    for (int i = 0; i < 4000 && stage == kWriting && ListDir(dir_).size() < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, signal);
    EXPECT_EQ(130, WaitMarlo(pid)) << signal << " " << stage;
    close(fds[1]);
    EXPECT_EQ((std::vector<std::string>{"big.ppm", "in.png"}), ListDir(dir_)) << signal;
  }
  close(null);
}

TEST_F(Cli, DemoWritesAGalleryWhoseEveryImageLoadsThroughNoLink) {
  // Links planted where the gallery's files go are replaced, never written through; a linked
  // folder is refused.
  WriteBytes(Path("victim"), {'v'});
  ASSERT_EQ(0, mkdir(Path("gallery").c_str(), 0777));
  ASSERT_EQ(0, mkdir(Path("gallery/before").c_str(), 0777));
  ASSERT_EQ(0, symlink("../../victim", Path("gallery/before/cameraman-gray8.png").c_str()));
  ASSERT_EQ(0, symlink("../victim", Path("gallery/index.html").c_str()));
  ASSERT_EQ(0, mkdir(Path("linked").c_str(), 0777));
  ASSERT_EQ(0, symlink("..", Path("linked/after").c_str()));
  RunResult r = RunLine("demo linked -q --samples " MARLO_SAMPLES);
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("marlo: demo: linked/after is not a directory of its own\n", r.err);
  r = RunLine("demo gallery -q --samples " MARLO_SAMPLES);
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("v", ReadText(Path("victim")));
  EXPECT_EQ((std::vector<std::string>{"gallery", "linked", "victim"}), ListDir(dir_));
  EXPECT_NE(std::string::npos, r.out.find("gallery/index.html")) << r.out;
  const std::string html = ReadText(Path("gallery/index.html"));
  EXPECT_NE(std::string::npos, html.find("marlo contrast --contrast 25 --brightness 5 samples/"));
  std::vector<std::string> images = {"info"};
  for (size_t at = html.find("<img src=\""); at != std::string::npos;
       at = html.find("<img src=\"", at + 1)) {
    images.push_back("gallery/" + html.substr(at + 10, html.find('"', at + 10) - at - 10));
  }
  EXPECT_EQ(17u * 2 + 3 * 2, images.size() - 1);  // before and after per run, and 3 crops
  EXPECT_NE(std::string::npos, html.find("hold no red pupil"));
  const RunResult info = Run(images);
  EXPECT_EQ(0, info.status) << info.err;
  // In a browser, at two window widths: the pictures that did not load, the elements wider than
  // the window, and the before/after pairs not side by side.
  if (std::system("command -v chromium >/dev/null") != 0) GTEST_SKIP() << "no chromium";
  std::ofstream(Path("gallery/check.html"))
      << html.substr(0, html.rfind("</body>"))
      << "<script>onload = () => { const all = (s) => [...document.querySelectorAll(s)];"
         "const top = (e) => e.getBoundingClientRect().top; document.body.innerHTML = '<pre>' + "
         "[all('img').filter((i) => !i.naturalWidth).length, all('*').filter((e) => "
         "e.getBoundingClientRect().right > document.documentElement.clientWidth).length, "
         "all('.pair').filter((p) => top(p.children[0]) != top(p.children[1])).length] + "
         "'</pre>'; }</script></body></html>\n";
  for (const std::string width : {"1280", "640"}) {
    FILE* pipe = popen(("chromium --headless --no-sandbox --disable-gpu "
                        "--disable-background-networking --disable-component-update "
                        "--disable-sync --no-first-run --user-data-dir=" +
                        Path("profile") + " --window-size=" + width +
                        ",900 --virtual-time-budget=20000 --dump-dom "
                        "file://" +
                        Path("gallery/check.html") + " 2>/dev/null")
                           .c_str(),
                       "r");
    std::string dom(1 << 16, '\0');
    dom.resize(fread(&dom[0], 1, dom.size(), pipe));
    pclose(pipe);
    EXPECT_NE(std::string::npos, dom.find("<pre>0,0,0</pre>")) << width << "\n" << dom;
  }
}

}  // namespace
}  // namespace clitest
