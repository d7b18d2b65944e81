// End-to-end tests of the built `marlo`: files written and read with the codec libraries
// directly, the tool run as a separate process, exit statuses and left-over files checked.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <tiffio.h>

#include "test_files.h"

namespace clitest {
namespace {

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/marlo-cli-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(name));
    dir_ = name;
  }
  void TearDown() override {
    const std::string command = "rm -rf '" + dir_ + "'";
    ASSERT_EQ(0, std::system(command.c_str()));
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  RunResult Run(const std::vector<std::string>& args, const std::string& stdinPath = "") {
    return RunMarlo(args, dir_, stdinPath);
  }
  std::vector<std::string> Files() const {
    std::vector<std::string> names = ListDir(dir_);
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

void ExpectSamePixels(const Raw& a, const Raw& b) {
  ASSERT_EQ(a.width, b.width);
  ASSERT_EQ(a.height, b.height);
  ASSERT_EQ(a.channels, b.channels);
  ASSERT_EQ(a.alpha, b.alpha);
  ASSERT_EQ(a.bits, b.bits);
  ASSERT_EQ(a.samples.size(), b.samples.size());
  size_t differences = 0;
  for (size_t i = 0; i < a.samples.size(); ++i) differences += a.samples[i] != b.samples[i];
  EXPECT_EQ(0u, differences);
}

const std::vector<std::string> kNeutral = {"contrast",     "--contrast", "0",
                                           "--brightness", "0",          "-q"};

std::vector<std::string> With(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

struct Kind {
  int channels;
  bool alpha;
  int bits;
};

// ---- Round trips: pixels identical after a filter that changes nothing ---------------------

TEST_F(Cli, PngRoundTripsEveryKindUnchanged) {
  const Kind kinds[] = {{1, false, 8}, {3, false, 8}, {1, false, 16}, {3, false, 16},
                        {1, true, 8},  {3, true, 8},  {1, true, 16},  {3, true, 16}};
  int n = 0;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(::testing::Message()
                 << k.channels << " channels, alpha " << k.alpha << ", " << k.bits << " bits");
    const Raw in = Pattern(37, 5, k.channels, k.alpha, k.bits, static_cast<uint32_t>(++n));
    WritePng(Path("in.png"), in);
    const RunResult r = Run(With(kNeutral, {"in.png", "-o", "out.png"}));
    ASSERT_EQ(0, r.status) << r.err;
    ExpectSamePixels(in, ReadPng(Path("out.png")));
  }
}

TEST_F(Cli, TiffRoundTripsEveryKindUnchanged) {
  const Kind kinds[] = {
      {1, false, 8}, {3, false, 8}, {1, false, 16}, {3, false, 16}, {3, true, 16}};
  int n = 0;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(::testing::Message() << k.channels << " channels, " << k.bits << " bits");
    const Raw in = Pattern(33, 7, k.channels, k.alpha, k.bits, static_cast<uint32_t>(++n));
    WriteTiff(Path("in.tif"), in);
    const RunResult r = Run(With(kNeutral, {"in.tif", "-o", "out.tiff"}));
    ASSERT_EQ(0, r.status) << r.err;
    ExpectSamePixels(in, ReadTiff(Path("out.tiff")));
  }
}

TEST_F(Cli, InterlacedPngAndPlanarOrTiledTiffAreRead) {
  int n = 0;
  for (const Kind& k : {Kind{3, false, 8}, Kind{3, true, 16}, Kind{1, false, 16}}) {
    SCOPED_TRACE(::testing::Message()
                 << k.channels << " channels, alpha " << k.alpha << ", " << k.bits << " bits");
    const Raw in = Pattern(37, 21, k.channels, k.alpha, k.bits, static_cast<uint32_t>(++n));
    WritePng(Path("in.png"), in, true);
    RunResult r = Run(With(kNeutral, {"in.png", "-o", "out.png"}));
    ASSERT_EQ(0, r.status) << r.err;
    ExpectSamePixels(in, ReadPng(Path("out.png")));
    for (TiffLayout layout : {TiffLayout::Planar, TiffLayout::Tiles}) {
      SCOPED_TRACE(layout == TiffLayout::Planar ? "planar" : "tiles");
      WriteTiff(Path("in.tif"), in, layout);
      r = Run(With(kNeutral, {"in.tif", "-o", "out.png"}));
      ASSERT_EQ(0, r.status) << r.err;
      ExpectSamePixels(in, ReadPng(Path("out.png")));
    }
  }
}

TEST_F(Cli, PnmWithAnotherMaximumIsScaledToTheFullRange) {
  // Maximum 1023: 0 -> 0, 1023 -> 65535, 512 -> round(512 * 65535 / 1023) = 32800.
  WriteBytes(Path("ten.pgm"),
             {'P', '5', ' ', '3', ' ', '1', ' ', '1', '0', '2', '3', '\n', 0, 0, 3, 255, 2, 0});
  RunResult r = Run(With(kNeutral, {"ten.pgm", "-o", "out.png"}));
  ASSERT_EQ(0, r.status) << r.err;
  Raw out = ReadPng(Path("out.png"));
  EXPECT_EQ(16, out.bits);
  EXPECT_EQ((std::vector<uint16_t>{0, 65535, 32800}), out.samples);
  // Maximum 100 on 8 bits: 50 -> round(50 * 255 / 100) = 128 (127.5 rounds up).
  WriteBytes(Path("hundred.pgm"),
             {'P', '5', '\n', '2', ' ', '1', '\n', '1', '0', '0', '\n', 50, 100});
  r = Run(With(kNeutral, {"hundred.pgm", "-o", "out.png"}));
  ASSERT_EQ(0, r.status) << r.err;
  out = ReadPng(Path("out.png"));
  EXPECT_EQ(8, out.bits);
  EXPECT_EQ((std::vector<uint16_t>{128, 255}), out.samples);
}

TEST_F(Cli, PnmRoundTripsEveryKindUnchanged) {
  const Kind kinds[] = {{1, false, 8}, {3, false, 8}, {1, false, 16}, {3, false, 16}};
  int n = 0;
  for (const Kind& k : kinds) {
    SCOPED_TRACE(::testing::Message() << k.channels << " channels, " << k.bits << " bits");
    const Raw in = Pattern(31, 3, k.channels, false, k.bits, static_cast<uint32_t>(++n));
    WritePnm(Path("in.pnm"), in);
    const RunResult r =
        Run(With(kNeutral, {"in.pnm", "-o", k.channels == 1 ? "out.pgm" : "out.ppm"}));
    ASSERT_EQ(0, r.status) << r.err;
    ExpectSamePixels(in, ReadPnm(Path(k.channels == 1 ? "out.pgm" : "out.ppm")));
  }
}

TEST_F(Cli, JpegDecodesToTheLibraryPixelsAndEncodesCloseToThem) {
  for (int channels : {1, 3}) {
    SCOPED_TRACE(channels);
    Raw in = Pattern(40, 24, channels, false, 8, 7);
    // Smooth content, so that the lossy round trip stays close.
    for (size_t i = 0; i < in.samples.size(); ++i)
      in.samples[i] = static_cast<uint16_t>(60 + (i % 97));
    WriteJpeg(Path("in.jpg"), in, 90);
    const Raw decoded = ReadJpeg(Path("in.jpg"));
    RunResult r = Run(With(kNeutral, {"in.jpg", "-o", "out.png"}));
    ASSERT_EQ(0, r.status) << r.err;
    ExpectSamePixels(decoded, ReadPng(Path("out.png")));
    r = Run(With(kNeutral, {"out.png", "-o", "again.jpg", "--quality", "95"}));
    ASSERT_EQ(0, r.status) << r.err;
    const Raw again = ReadJpeg(Path("again.jpg"));
    ASSERT_EQ(decoded.samples.size(), again.samples.size());
    double total = 0;
    for (size_t i = 0; i < again.samples.size(); ++i) {
      total += std::abs(static_cast<int>(again.samples[i]) - static_cast<int>(decoded.samples[i]));
    }
    EXPECT_LT(total / static_cast<double>(again.samples.size()), 3.0);
  }
}

TEST_F(Cli, SixteenBitsIntoJpegAreRoundedAndNotedOnce) {
  Raw in = Pattern(16, 8, 3, false, 16, 3);
  for (auto& v : in.samples) v = static_cast<uint16_t>(v | 0x8000);  // keep it bright and smooth
  for (size_t i = 0; i < in.samples.size(); ++i)
    in.samples[i] = static_cast<uint16_t>(40000 + 13 * (i % 50));
  WritePng(Path("a.png"), in);
  WritePng(Path("b.png"), in);
  ASSERT_EQ(0, mkdir(Path("out").c_str(), 0777));
  const RunResult r = Run({"contrast", "a.png", "b.png", "-o", "out/", "--format", "jpeg"});
  ASSERT_EQ(0, r.status) << r.err;
  const size_t first = r.err.find("rounded to 8 bits");
  EXPECT_NE(std::string::npos, first) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("rounded to 8 bits", first + 1)) << r.err;
  const Raw out = ReadJpeg(Path("out/a.jpg"));
  EXPECT_EQ(8, out.bits);
  // 40000 / 257 is about 155.6.
  EXPECT_NEAR(156, out.samples[0], 3);
}

TEST_F(Cli, PalettePngBecomesRgbWithTheSameColours) {
  Raw in = Pattern(9, 4, 3, false, 8, 11);
  for (size_t i = 0; i < in.samples.size(); ++i)
    in.samples[i] = static_cast<uint16_t>((i / 3 % 5) * 50);
  WritePalettePng(Path("p.png"), in);
  const RunResult r = Run(With(kNeutral, {"p.png", "-o", "out.png"}));
  ASSERT_EQ(0, r.status) << r.err;
  ExpectSamePixels(in, ReadPng(Path("out.png")));
}

TEST_F(Cli, FormatsConvertWithoutLosingSixteenBits) {
  const Raw in = Pattern(21, 6, 3, false, 16, 5);
  WritePng(Path("in.png"), in);
  ASSERT_EQ(0, Run(With(kNeutral, {"in.png", "-o", "a.tif"})).status);
  ASSERT_EQ(0, Run(With(kNeutral, {"a.tif", "-o", "b.ppm"})).status);
  ASSERT_EQ(0, Run(With(kNeutral, {"b.ppm", "-o", "c.png"})).status);
  ExpectSamePixels(in, ReadPng(Path("c.png")));
}

TEST_F(Cli, StandardInputAndOutput) {
  const Raw in = Pattern(13, 4, 3, false, 8, 8);
  WritePng(Path("in.png"), in);
  const RunResult r = Run(With(kNeutral, {"-", "-o", "-"}), Path("in.png"));
  ASSERT_EQ(0, r.status) << r.err;
  WriteBytes(Path("out.png"), std::vector<uint8_t>(r.out.begin(), r.out.end()));
  ExpectSamePixels(in, ReadPng(Path("out.png")));
  const RunResult p = Run(With(kNeutral, {"-", "-o", "-", "--format", "pnm"}), Path("in.png"));
  ASSERT_EQ(0, p.status) << p.err;
  EXPECT_EQ(0u, p.out.rfind("P6\n13 4\n255\n", 0));
}

TEST_F(Cli, ContrastChangesPixelsAsTheLibraryLineSays) {
  // Brightness +100 at contrast 0 turns every sample to full scale; -100 to zero.
  const Raw in = Pattern(11, 3, 3, true, 16, 9);
  WritePng(Path("in.png"), in);
  ASSERT_EQ(0, Run({"contrast", "--brightness", "100,0,-100", "in.png", "-o", "out.png"}).status);
  const Raw out = ReadPng(Path("out.png"));
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      EXPECT_EQ(65535, out.At(x, y, 0));
      EXPECT_EQ(in.At(x, y, 1), out.At(x, y, 1));
      EXPECT_EQ(0, out.At(x, y, 2));
      EXPECT_EQ(in.At(x, y, 3), out.At(x, y, 3)) << "alpha passes through unchanged";
    }
  }
}

// ---- Errors: status, one line naming the file, nothing left behind -------------------------

TEST_F(Cli, MissingFile) {
  const RunResult r = Run({"contrast", "nothing.png", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("nothing.png")) << r.err;
  EXPECT_TRUE(Files().empty());
}

TEST_F(Cli, TruncatedPng) {
  WritePng(Path("in.png"), Pattern(64, 64, 3, false, 8, 1));
  std::vector<uint8_t> bytes = ReadBytes(Path("in.png"));
  bytes.resize(bytes.size() / 2);
  WriteBytes(Path("cut.png"), bytes);
  const RunResult r = Run({"contrast", "cut.png", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("cut.png")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("truncated")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"cut.png", "in.png"}), Files());
}

TEST_F(Cli, CorruptJpeg) {
  Raw in = Pattern(64, 64, 3, false, 8, 2);
  WriteJpeg(Path("in.jpg"), in, 90);
  std::vector<uint8_t> bytes = ReadBytes(Path("in.jpg"));
  // Damage the entropy-coded data, and cut the end off.
  for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 40; ++i) bytes[i] = 0xff;
  bytes.resize(bytes.size() * 3 / 4);
  WriteBytes(Path("bad.jpg"), bytes);
  const RunResult r = Run({"contrast", "bad.jpg", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("bad.jpg: JPEG")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"bad.jpg", "in.jpg"}), Files());
}

TEST_F(Cli, UnsupportedDepth) {
  // A 32-bit TIFF and a PNM with a maximum above 65535.
  TIFF* t = TIFFOpen(Path("deep.tif").c_str(), "w");
  ASSERT_NE(nullptr, t);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 4u);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, 2u);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 32);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  uint32_t row[4] = {1, 2, 3, 4};
  TIFFWriteScanline(t, row, 0, 0);
  TIFFWriteScanline(t, row, 1, 0);
  TIFFClose(t);
  RunResult r = Run({"contrast", "deep.tif", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("deep.tif: TIFF: unsupported depth of 32 bits")) << r.err;
  WriteBytes(Path("deep.pgm"),
             {'P', '5', '\n', '1', ' ', '1', '\n', '7', '0', '0', '0', '0', '\n', 0, 0, 0});
  r = Run({"contrast", "deep.pgm", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("deep.pgm: PNM: unsupported depth")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"deep.pgm", "deep.tif"}), Files());
}

TEST_F(Cli, NotAnImage) {
  WriteBytes(Path("notes.png"), {'h', 'e', 'l', 'l', 'o'});
  const RunResult r = Run({"contrast", "notes.png", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("notes.png: not a PNG, JPEG, TIFF or PNM file")) << r.err;
}

TEST_F(Cli, BadOptionValuesAreUsageErrorsNamingOptionAndRange) {
  WritePng(Path("in.png"), Pattern(8, 8, 3, false, 8, 1));
  struct Case {
    std::vector<std::string> args;
    std::string expected;
  };
  const Case cases[] = {
      {{"contrast", "--contrast", "101"},
       "--contrast: value 101 is out of range; accepted range -100..100"},
      {{"contrast", "--brightness", "1,2"}, "--brightness"},
      {{"contrast", "--contrast", "ten"}, "--contrast: 'ten' is not"},
      {{"contrast", "--contrast", "5", "--bogus"}, "--bogus"},
      {{"contrast", "--jobs", "0"}, "--jobs"},
      {{"saturation", "--amount", "-101"},
       "--amount: value -101 is out of range; accepted range -100..100"},
      {{"white-balance", "--from", "500", "--to", "6500"},
       "--from: value 500 is out of range; accepted range 1000..25000"},
      {{"lens", "--at", "1,1", "--radius", "5", "--power", "5"},
       "--power: value 5 is out of range; accepted range 1..4"},
      {{"book", "--axis", "101"}, "--axis: value 101 is out of range; accepted range 0..100"},
      {{"despeckle", "--threshold", "256"},
       "--threshold: value 256 is out of range; accepted range 0..255"},
      {{"tint", "--hue", "361"}, "--hue: value 361 is out of range; accepted range 0..360"},
      {{"auto-exposure", "--strength", "1.5"},
       "--strength: value 1.5 is out of range; accepted range 0..1"},
      {{"hsl", "--red", "10,200,0"}, "--red"},
      {{"no-such-filter"}, "unknown filter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    const RunResult r = Run(With(c.args, {"in.png", "-o", "out.png"}));
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.expected)) << r.err;
  }
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
}

TEST_F(Cli, PointOutsideTheImageIsAUsageErrorBeforeDecoding) {
  WritePng(Path("in.png"), Pattern(8, 6, 3, false, 8, 1));
  const RunResult r =
      Run({"contrast", "in.png", "-o", "x.png", "then", "remove-cast", "--at", "8,2"});
  // remove-cast may not be built yet: then the run is refused before reading (status 1).
  if (r.err.find("not built") == std::string::npos) {
    EXPECT_EQ(2, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("--at: the point 8,2 lies outside the 8 x 6 image"))
        << r.err;
  } else {
    EXPECT_EQ(1, r.status);
  }
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
}

TEST_F(Cli, UnwritableOutput) {
  WritePng(Path("in.png"), Pattern(8, 8, 3, false, 8, 1));
  WriteBytes(Path("plain"), {'x'});
  RunResult r = Run({"contrast", "in.png", "-o", "plain/out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("in.png: cannot write")) << r.err;
  r = Run({"contrast", "in.png", "-o", "missing-dir/out.png"});
  EXPECT_EQ(1, r.status);
  r = Run({"contrast", "in.png", "-o", "out.unknown"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ((std::vector<std::string>{"in.png", "plain"}), Files());
}

TEST_F(Cli, ImagesAboveTheSizeLimitAreRefusedBeforeDecoding) {
  WritePng(Path("in.png"), Pattern(100, 100, 3, false, 8, 1));
  RunResult r = Run({"contrast", "in.png", "-o", "out.png", "--max-megapixels", "0.005"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("more than the limit of 0.005 megapixels")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
  r = Run({"contrast", "in.png", "-o", "out.png", "--max-megapixels", "0.01"});
  EXPECT_EQ(0, r.status) << r.err;
}

// ---- Overwriting the input ----------------------------------------------------------------------

TEST_F(Cli, InPlaceIsNeededToOverwriteTheInput) {
  const Raw in = Pattern(10, 10, 1, false, 8, 4);
  WritePng(Path("in.png"), in);
  const std::vector<uint8_t> before = ReadBytes(Path("in.png"));
  RunResult r = Run({"contrast", "--brightness", "-100", "in.png", "-o", "in.png"});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("--in-place")) << r.err;
  r = Run({"contrast", "--brightness", "-100", "in.png", "-o", "./in.png"});
  EXPECT_EQ(2, r.status);
  r = Run({"contrast", "--brightness", "-100", "in.png", "-o", "./"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(before, ReadBytes(Path("in.png")));
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
  r = Run({"contrast", "--brightness", "-100", "--in-place", "in.png"});
  EXPECT_EQ(0, r.status) << r.err;
  const Raw out = ReadPng(Path("in.png"));
  EXPECT_TRUE(
      std::all_of(out.samples.begin(), out.samples.end(), [](uint16_t v) { return v == 0; }));
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
}

// ---- Batch -------------------------------------------------------------------------------------

TEST_F(Cli, BatchCarriesOnPastACorruptFile) {
  std::vector<Raw> inputs;
  for (int i = 0; i < 3; ++i) {
    inputs.push_back(Pattern(20 + i, 10, 3, false, i == 1 ? 16 : 8, static_cast<uint32_t>(i)));
    WritePng(Path("good" + std::to_string(i) + ".png"), inputs.back());
  }
  WriteBytes(Path("broken.png"), {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0, 0});
  const RunResult r = Run(With(
      kNeutral, {"-j", "2", "good0.png", "broken.png", "good1.png", "good2.png", "-o", "out/"}));
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("broken.png:")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("3 of 4 files done, 1 failed")) << r.err;
  std::vector<std::string> written = ListDir(Path("out"));
  std::sort(written.begin(), written.end());
  EXPECT_EQ((std::vector<std::string>{"good0.png", "good1.png", "good2.png"}), written);
  for (int i = 0; i < 3; ++i) {
    ExpectSamePixels(inputs[i], ReadPng(Path("out/good" + std::to_string(i) + ".png")));
  }
}

// ---- Chaining ----------------------------------------------------------------------------------

TEST_F(Cli, ChainEqualsSeparateRunsInOrder) {
  const Raw in = Pattern(23, 9, 3, false, 16, 12);
  WritePng(Path("in.png"), in);
  ASSERT_EQ(0, Run({"contrast", "--contrast", "40", "in.png", "-o", "step1.png"}).status);
  ASSERT_EQ(0,
            Run({"contrast", "--brightness", "30,0,-30", "step1.png", "-o", "step2.png"}).status);
  const RunResult r = Run({"contrast", "--contrast", "40", "then", "contrast", "--brightness",
                           "30,0,-30", "in.png", "-o", "chained.png"});
  ASSERT_EQ(0, r.status) << r.err;
  ExpectSamePixels(ReadPng(Path("step2.png")), ReadPng(Path("chained.png")));
  // The other order gives another picture.
  ASSERT_EQ(0, Run({"contrast", "--brightness", "30,0,-30", "then", "contrast", "--contrast", "40",
                    "in.png", "-o", "reversed.png"})
                   .status);
  EXPECT_NE(ReadPng(Path("step2.png")).samples, ReadPng(Path("reversed.png")).samples);
  EXPECT_EQ(
      (std::vector<std::string>{"chained.png", "in.png", "reversed.png", "step1.png", "step2.png"}),
      Files());
}

TEST_F(Cli, ChainSyntaxErrors) {
  WritePng(Path("in.png"), Pattern(4, 4, 3, false, 8, 1));
  EXPECT_EQ(2, Run({"contrast", "then", "in.png", "-o", "o.png"}).status);
  EXPECT_EQ(2, Run({"contrast", "then", "then", "contrast", "in.png", "-o", "o.png"}).status);
  EXPECT_EQ(2,
            Run({"contrast", "-o", "a.png", "then", "contrast", "in.png", "-o", "b.png"}).status);
  EXPECT_EQ(2, Run({"contrast", "in.png", "-o", "o.png", "then", "list"}).status);
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
}

// ---- Metadata ----------------------------------------------------------------------------------

TEST_F(Cli, IccAndExifAreCarriedBetweenPngAndJpeg) {
  Raw in = Pattern(16, 16, 3, false, 8, 3);
  in.icc = TestIccProfile(false);
  in.exif = TestExif();
  WritePng(Path("in.png"), in);
  ASSERT_EQ(in.icc, ReadPng(Path("in.png")).icc) << "the test profile must be accepted by libpng";
  RunResult r = Run(With(kNeutral, {"in.png", "-o", "out.jpg"}));
  ASSERT_EQ(0, r.status) << r.err;
  Raw jpeg = ReadJpeg(Path("out.jpg"));
  EXPECT_EQ(in.icc, jpeg.icc);
  EXPECT_EQ(in.exif, jpeg.exif);
  r = Run(With(kNeutral, {"out.jpg", "-o", "back.png"}));
  ASSERT_EQ(0, r.status) << r.err;
  Raw png = ReadPng(Path("back.png"));
  EXPECT_EQ(in.icc, png.icc);
  EXPECT_EQ(in.exif, png.exif);
  r = Run(With(kNeutral, {"back.png", "-o", "out.tif"}));
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(in.icc, ReadTiff(Path("out.tif")).icc);
  r = Run({"info", "back.png"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos,
            r.out.find("ICC profile: " + std::to_string(in.icc.size()) + " bytes"));
  EXPECT_NE(std::string::npos, r.out.find("EXIF: " + std::to_string(in.exif.size()) + " bytes"));
}

TEST_F(Cli, IccOfATiffAndAGreyJpegIsCarried) {
  Raw in = Pattern(12, 12, 1, false, 16, 3);
  in.icc = TestIccProfile(true);
  WriteTiff(Path("in.tif"), in);
  ASSERT_EQ(0, Run(With(kNeutral, {"in.tif", "-o", "out.png"})).status);
  EXPECT_EQ(in.icc, ReadPng(Path("out.png")).icc);
  Raw grey = Pattern(12, 12, 1, false, 8, 4);
  grey.icc = TestIccProfile(true);
  grey.exif = TestExif();
  WriteJpeg(Path("g.jpg"), grey, 90);
  ASSERT_EQ(0, Run(With(kNeutral, {"g.jpg", "-o", "g2.jpg"})).status);
  const Raw out = ReadJpeg(Path("g2.jpg"));
  EXPECT_EQ(grey.icc, out.icc);
  EXPECT_EQ(grey.exif, out.exif);
}

// ---- list, info, help
// ----------------------------------------------------------------------------

TEST_F(Cli, ListShowsEveryFilterAndItsExport) {
  const RunResult r = Run({"list"});
  EXPECT_EQ(0, r.status);
  for (const char* name : {"auto-exposure", "auto-enhance", "auto-levels", "white-balance",
                           "contrast", "saturation", "hsl", "tint", "remove-cast", "red-eye",
                           "despeckle", "denoise", "sharpen", "sharpen-circle", "book", "lens"}) {
    EXPECT_NE(std::string::npos, r.out.find(std::string("\n") + name + " ")) << name;
  }
  EXPECT_NE(std::string::npos, r.out.find("\ncontrast        CBEnhancement                      contrast"));
}

TEST_F(Cli, InfoReportsSizeTypeAndDepth) {
  WritePng(Path("a.png"), Pattern(7, 3, 1, true, 16, 1));
  const RunResult r = Run({"info", "a.png", "missing.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.out.find("a.png: PNG, 7 x 3")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("grey+alpha, 16 bits")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Gray16")) << r.out;
  EXPECT_NE(std::string::npos, r.err.find("missing.png")) << r.err;
}

TEST_F(Cli, HelpDocumentsExitStatusesAndChaining) {
  RunResult r = Run({"--help"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("Exit status")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("then")) << r.out;
  r = Run({"contrast", "--help"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("--brightness")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("-100..100")) << r.out;
  EXPECT_EQ(2, Run({}).status);
}

// ---- Interruption ---------------------------------------------------------------------------

// Starts marlo in the background; returns its pid.
pid_t Spawn(const std::vector<std::string>& args, const std::string& cwd, int stdinFd) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    dup2(stdinFd, 0);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(MARLO_EXE));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(MARLO_EXE, argv.data());
    _exit(127);
  }
  return pid;
}

int WaitStatus(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Cli, CtrlCWhileReadingLeavesNothingAndExits130) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  const pid_t pid = Spawn({"contrast", "-", "-o", "out.png"}, dir_, fds[0]);
  close(fds[0]);
  // Half a PNG: the tool waits for the rest.
  WritePng(Path("in.png"), Pattern(64, 64, 3, false, 8, 1));
  const std::vector<uint8_t> bytes = ReadBytes(Path("in.png"));
  ASSERT_EQ(static_cast<ssize_t>(bytes.size() / 2), write(fds[1], bytes.data(), bytes.size() / 2));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  EXPECT_EQ(130, WaitStatus(pid));
  close(fds[1]);
  EXPECT_EQ((std::vector<std::string>{"in.png"}), Files());
}

TEST_F(Cli, CtrlCDuringTheFiltersLeavesNothingAndExits130) {
  // A picture big enough that a long chain takes seconds.
  Raw in;
  in.width = 2000;
  in.height = 1500;
  in.channels = 3;
  in.bits = 16;
  in.samples.assign(static_cast<size_t>(in.width) * in.height * 3, 0);
  for (size_t i = 0; i < in.samples.size(); ++i) in.samples[i] = static_cast<uint16_t>(i * 7919);
  WritePnm(Path("big.ppm"), in);
  std::vector<std::string> args;
  for (int i = 0; i < 400; ++i) {
    if (i) args.push_back("then");
    args.insert(args.end(), {"contrast", "--contrast", i % 2 ? "5" : "-5"});
  }
  args.insert(args.end(), {"big.ppm", "-o", "out.png"});
  const int null = open("/dev/null", O_RDONLY);
  const auto started = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(args, dir_, null);
  close(null);
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  kill(pid, SIGINT);
  EXPECT_EQ(130, WaitStatus(pid));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ((std::vector<std::string>{"big.ppm"}), Files());
}

}  // namespace
}  // namespace clitest

namespace clitest {
namespace {

TEST_F(Cli, DemoWritesAGalleryWhoseEveryImageLoads) {
  const RunResult r = Run({"demo", "gallery", "--samples", MARLO_SAMPLES, "-q"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.out.find("gallery/index.html")) << r.out;
  const std::vector<uint8_t> bytes = ReadBytes(Path("gallery/index.html"));
  const std::string html(bytes.begin(), bytes.end());
  for (const char* name : {"auto-exposure", "auto-enhance", "auto-levels", "white-balance",
                           "contrast", "saturation", "hsl", "tint", "remove-cast", "red-eye",
                           "despeckle", "denoise", "sharpen", "sharpen-circle", "book", "lens"}) {
    EXPECT_NE(std::string::npos, html.find(std::string("<h2>") + name + "</h2>")) << name;
  }
  EXPECT_NE(std::string::npos, html.find("marlo contrast --contrast 25 --brightness 5 samples/"));
  size_t images = 0;
  for (size_t at = html.find("<img src=\""); at != std::string::npos;
       at = html.find("<img src=\"", at + 1)) {
    const size_t start = at + 10;
    const std::string src = html.substr(start, html.find('"', start) - start);
    SCOPED_TRACE(src);
    const Raw image = ReadPng(Path("gallery/" + src));
    EXPECT_GT(image.width, 0);
    ++images;
  }
  EXPECT_GE(images, 4u);
}

}  // namespace
}  // namespace clitest

namespace clitest {
namespace {

// ---- Distortions move the alpha channel with the pixels ----------------------------------------

TEST_F(Cli, DistortionsMoveAlphaWithThePixels) {
  for (int bits : {8, 16}) {
    SCOPED_TRACE(bits);
    // Alpha equals red everywhere, so after any remapping of whole pixels it still must.
    Raw in = Pattern(64, 48, 3, true, bits, static_cast<uint32_t>(bits));
    for (size_t i = 0; i < in.samples.size(); i += 4) in.samples[i + 3] = in.samples[i];
    WritePng(Path("in.png"), in);
    const std::vector<std::vector<std::string>> runs = {
        {"lens", "--at", "30,20", "--radius", "18", "--power", "4"},
        {"book", "--axis", "40", "--fold", "50", "--slant", "30"}};
    for (const auto& args : runs) {
      SCOPED_TRACE(args[0]);
      const RunResult r = Run(With(args, {"in.png", "-o", "out.png"}));
      ASSERT_EQ(0, r.status) << r.err;
      const Raw out = ReadPng(Path("out.png"));
      ASSERT_TRUE(out.alpha);
      size_t moved = 0, mismatched = 0;
      for (size_t i = 0; i < out.samples.size(); i += 4) {
        mismatched += out.samples[i + 3] != out.samples[i];
        moved += out.samples[i + 3] != in.samples[i + 3];
      }
      EXPECT_EQ(0u, mismatched);
      EXPECT_GT(moved, 0u) << "the effect changed nothing";
    }
  }
}

TEST_F(Cli, EffectMessagesBecomeTheErrorLine) {
  WritePng(Path("small.png"), Pattern(30, 30, 3, false, 8, 1));
  const RunResult r = Run({"book", "small.png", "-o", "out.png"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("small.png: book: Image error !")) << r.err;
  EXPECT_EQ((std::vector<std::string>{"small.png"}), Files());
}

TEST_F(Cli, ColourFiltersTurnGreyPicturesIntoRgb) {
  const Raw in = Pattern(9, 5, 1, false, 16, 2);
  WritePng(Path("grey.png"), in);
  const RunResult r = Run({"saturation", "--amount", "50", "grey.png", "-o", "out.png"});
  ASSERT_EQ(0, r.status) << r.err;
  const Raw out = ReadPng(Path("out.png"));
  ASSERT_EQ(3, out.channels);
  ASSERT_EQ(16, out.bits);
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(in.At(x, y, 0), out.At(x, y, c));
    }
  }
}

}  // namespace
}  // namespace clitest
