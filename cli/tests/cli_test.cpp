// End-to-end tests of the built `marlo` beyond the files it writes (tool_golden_test.cpp):
// refusals with their status and line, leaving nothing behind; in-place and batch runs; list,
// info and help; interruption; the demo gallery.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "test_files.h"

namespace clitest {
namespace {

class Cli : public InTempDir {};

TEST_F(Cli, RefusalsNameTheProblemAndLeaveNothingBehind) {
  WritePng(Path("in.png"), Pattern(8, 6, 3, false, 8, 1));
  WritePng(Path("big.png"), Pattern(64, 64, 3, false, 8, 1));
  Bytes bytes = ReadBytes(Path("big.png"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(Path("cut.png"), bytes);
  WriteJpeg(Path("big.jpg"), Pattern(64, 64, 3, false, 8, 2), 90);
  bytes = ReadBytes(Path("big.jpg"));
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] = 0xff;
  bytes.resize(bytes.size() * 3 / 4);
  WriteBytes(Path("bad.jpg"), bytes);
  WriteBytes(Path("deep.tif"), TiffFile({{256, 3, {4}},
                                         {257, 3, {2}},
                                         {258, 3, {32}},
                                         {259, 3, {1}},
                                         {262, 3, {1}},
                                         {273, 4, {kDataOffset}},
                                         {277, 3, {1}},
                                         {278, 3, {2}},
                                         {279, 4, {32}}},
                                        Bytes(32)));
  WriteBytes(Path("deep.pgm"),
             {'P', '5', '\n', '1', ' ', '1', '\n', '7', '0', '0', '0', '0', '\n', 0, 0, 0});
  WriteBytes(Path("notes.png"), {'h', 'e', 'l', 'l', 'o'});
  WriteBytes(Path("plain"), {'x'});
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"contrast", "--contrast", "101"},
       2,
       "--contrast: value 101 is out of range; accepted range -100..100"},
      {{"contrast", "--brightness", "1,2"}, 2, "--brightness: '1,2' is not one or three"},
      {{"contrast", "--contrast", "ten"}, 2, "--contrast: 'ten' is not"},
      {{"contrast", "--bogus"}, 2, "--bogus"},
      {{"contrast", "--jobs", "0"}, 2, "--jobs"},
      {{"saturation", "--amount", "-101"},
       2,
       "--amount: value -101 is out of range; accepted range -100..100"},
      {{"white-balance", "--from", "500"},
       2,
       "--from: value 500 is out of range; accepted range 1000..25000"},
      {{"lens", "--at", "1,1", "--radius", "5", "--power", "5"},
       2,
       "--power: value 5 is out of range; accepted range 1..4"},
      {{"book", "--axis", "101"}, 2, "--axis: value 101 is out of range; accepted range 0..100"},
      {{"despeckle", "--threshold", "256"},
       2,
       "--threshold: value 256 is out of range; accepted range 0..255"},
      {{"tint", "--hue", "361"}, 2, "--hue: value 361 is out of range; accepted range 0..360"},
      {{"tint"}, 2, "tint: give the tint either as --rgb R,G,B or as --hue H"},
      {{"auto-exposure", "--strength", "1.5"},
       2,
       "--strength: value 1.5 is out of range; accepted range 0..1"},
      {{"hsl", "--red", "10,200,0"}, 2, "--red: value 200 is out of range"},
      {{"no-such-filter"}, 2, "unknown filter or command 'no-such-filter'"},
      {{"contrast", "then", "remove-cast", "--at", "8,2"},
       2,
       "--at: the point 8,2 lies outside the 8 x 6 image; accepted range 0..7,0..5"},
      {{"contrast", "then"}, 2, "unknown filter or command 'in.png'"},
      {{"contrast", "then", "then", "contrast"}, 2, "`then` must stand between two filters"},
      {{"contrast", "-o", "a.png", "then", "contrast"}, 2, "-o/--output given more than once"},
      {{"contrast", "in.png", "-o", "out.png", "then", "list"}, 2, "only filters can be chained"},
      {{"contrast", "--format", "gif"}, 2, "--format"},
      {{"book"}, 1, "in.png: book: Image error !"},
      {{"contrast", "--max-megapixels", "0.00004"},
       1,
       "in.png: the image is 8 x 6 (0.0 megapixels), more than the limit of 4e-05 megapixels"},
  };
  const std::vector<std::string> files = ListDir(dir_);
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "in.png") == args.end())
      args.insert(args.end(), {"in.png", "-o", "out.png"});
    const RunResult r = Run(args);
    EXPECT_EQ(c.status, r.status) << c.message << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(files, ListDir(dir_)) << c.message;
  }
  const Case inputs[] = {
      {{"nothing.png", "-o", "out.png"}, 1, "nothing.png: cannot open: No such file"},
      {{"cut.png", "-o", "out.png"}, 1, "cut.png: PNG: the file ends too early (truncated)"},
      {{"bad.jpg", "-o", "out.png"}, 1, "bad.jpg: JPEG: "},
      {{"deep.tif", "-o", "out.png"},
       1,
       "deep.tif: TIFF: unsupported depth of 32 bits per sample (8 and 16 are supported)"},
      {{"deep.pgm", "-o", "out.png"},
       1,
       "deep.pgm: PNM: unsupported depth (maximum value 70000; 1 to 65535 are supported)"},
      {{"notes.png", "-o", "out.png"}, 1, "notes.png: not a PNG, JPEG, TIFF or PNM file"},
      {{"in.png", "-o", "plain/out.png"}, 1, "in.png: cannot write in plain/: Not a directory"},
      {{"in.png", "-o", "missing/out.png"}, 1, "in.png: cannot write in missing/"},
      {{"in.png", "-o", "out.gif"}, 2, "cannot tell the output format of 'out.gif'"},
      {{"in.png", "-o", "in.png"}, 2, "in.png is an input file; use --in-place to overwrite it"},
      {{"in.png", "-o", "./in.png"}, 2, "is an input file"},
      {{"in.png", "-o", "./"}, 2, "is an input file"},
      {{"in.png", "big.png", "-o", "out.png"}, 2, "several input files need -o DIRECTORY/"},
      {{"-", "in.png", "-", "-o", "out/"}, 2, "standard input ('-') can be read only once"},
      {{"in.png"}, 2, "no output given: use -o FILE, -o DIRECTORY/ or --in-place"},
  };
  for (const Case& c : inputs) {
    std::vector<std::string> args = {"contrast"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = Run(args);
    EXPECT_EQ(c.status, r.status) << c.message << "\n" << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    EXPECT_EQ(files, ListDir(dir_)) << c.message;
  }
}

TEST_F(Cli, InPlaceReplacesTheInputWithWhatAnOutputWouldHold) {
  WritePng(Path("in.png"), Pattern(10, 10, 1, false, 8, 4));
  ASSERT_EQ(0, Run({"contrast", "--brightness", "-50", "in.png", "-o", "copy.png"}).status);
  const RunResult r = Run({"contrast", "--brightness", "-50", "--in-place", "in.png"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(ReadBytes(Path("copy.png")), ReadBytes(Path("in.png")));
  EXPECT_EQ((std::vector<std::string>{"copy.png", "in.png"}), ListDir(dir_));
}

TEST_F(Cli, BatchCarriesOnPastACorruptFile) {
  for (int i = 0; i < 3; ++i) {
    WritePng(Path("good" + std::to_string(i) + ".png"),
             Pattern(20 + i, 10, 3, false, i == 1 ? 16 : 8, static_cast<uint32_t>(i)));
  }
  WriteBytes(Path("broken.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});
  const RunResult r = Run(
      {"contrast", "-j", "2", "good0.png", "broken.png", "good1.png", "good2.png", "-o", "out/"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("marlo: broken.png: PNG: ")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("marlo: 3 of 4 files done, 1 failed")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"good0.png", "good1.png", "good2.png"}),
            ListDir(Path("out")));
}

TEST_F(Cli, ListInfoAndHelp) {
  RunResult r = Run({"list"});
  EXPECT_EQ(0, r.status);
  for (const char* name : {"auto-exposure", "auto-enhance", "auto-levels", "white-balance",
                           "contrast", "saturation", "hsl", "tint", "remove-cast", "red-eye",
                           "despeckle", "denoise", "sharpen", "sharpen-circle", "book", "lens"}) {
    EXPECT_NE(std::string::npos, r.out.find(std::string("\n") + name + " ")) << name;
  }
  EXPECT_NE(std::string::npos, r.out.find("\ncontrast        CBEnhancement "));
  Raw meta = Pattern(7, 3, 1, true, 16, 1);
  meta.icc = TestIccProfile(true);
  meta.exif = TestExif();
  WritePng(Path("a.png"), meta);
  r = Run({"info", "a.png", "missing.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(
      "a.png: PNG, 7 x 3 (0.00 megapixels), grey+alpha, 16 bits per sample in the file\n"
      "  processed as Gray16 (16 bits per sample), with an alpha channel\n"
      "  ICC profile: 1024 bytes\n  EXIF: 26 bytes\n",
      r.out);
  EXPECT_NE(std::string::npos, r.err.find("missing.png: cannot open")) << r.err;
  r = Run({"--help"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Exit status")) << r.out;
  r = Run({"contrast", "--help"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("--brightness")) << r.out;
  EXPECT_EQ(2, Run({}).status);
}

TEST_F(Cli, CtrlCWhileReadingOrFilteringLeavesNothingAndExits130) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  const int null = open("/dev/null", O_RDWR);
  pid_t pid = StartMarlo({"contrast", "-", "-o", "out.png"}, dir_, fds[0], null, null);
  close(fds[0]);
  // Half a PNG: the tool waits for the rest.
  WritePng(Path("in.png"), Pattern(64, 64, 3, false, 8, 1));
  const Bytes bytes = ReadBytes(Path("in.png"));
  ASSERT_EQ(static_cast<ssize_t>(bytes.size() / 2), write(fds[1], bytes.data(), bytes.size() / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  EXPECT_EQ(130, WaitMarlo(pid));
  close(fds[1]);
  // A picture big enough that a long chain takes seconds.
  WritePnm(Path("big.ppm"), Pattern(2000, 1500, 3, false, 16, 2));
  std::vector<std::string> args;
  for (int i = 0; i < 400; ++i) {
    if (i) args.push_back("then");
    args.insert(args.end(), {"contrast", "--contrast", i % 2 ? "5" : "-5"});
  }
  args.insert(args.end(), {"big.ppm", "-o", "out.png"});
  const auto started = std::chrono::steady_clock::now();
  pid = StartMarlo(args, dir_, null, null, null);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  kill(pid, SIGINT);
  EXPECT_EQ(130, WaitMarlo(pid));
  close(null);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ((std::vector<std::string>{"big.ppm", "in.png"}), ListDir(dir_));
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
  RunResult r = Run({"demo", "linked", "--samples", MARLO_SAMPLES, "-q"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("marlo: demo: linked/after is not a directory of its own\n", r.err);
  r = Run({"demo", "gallery", "--samples", MARLO_SAMPLES, "-q"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(Bytes{'v'}, ReadBytes(Path("victim")));
  EXPECT_EQ((std::vector<std::string>{"gallery", "linked", "victim"}), ListDir(dir_));
  EXPECT_NE(std::string::npos, r.out.find("gallery/index.html")) << r.out;
  const Bytes bytes = ReadBytes(Path("gallery/index.html"));
  const std::string html(bytes.begin(), bytes.end());
  EXPECT_NE(std::string::npos, html.find("marlo contrast --contrast 25 --brightness 5 samples/"));
  std::vector<std::string> images = {"info"};
  for (size_t at = html.find("<img src=\""); at != std::string::npos;
       at = html.find("<img src=\"", at + 1)) {
    const size_t start = at + 10;
    images.push_back("gallery/" + html.substr(start, html.find('"', start) - start));
  }
  EXPECT_EQ(18u * 2, images.size() - 1);  // a before and an after picture per run
  const RunResult info = Run(images);
  EXPECT_EQ(0, info.status) << info.err;
}

}  // namespace
}  // namespace clitest
