// The tool's files, byte for byte: every filter, with parameters that change the picture, on the
// sample photographs and on small files of every input kind the tool reads, written as PNG,
// JPEG, TIFF and PNM. A row's digest (SHA-256) covers each run's exit status, lines on standard
// error and standard output, and every file written; tool_golden.txt holds the digests of a
// build whose files were checked against independently written and read ones.
//
// To record the table again (only after a deliberate change of the tool's files):
//   MARLO_TOOL_GOLDEN_RECORD=1 ./marlo_cli_tests --gtest_filter='*ToolGolden*' | grep '^golden '
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "test_files.h"

namespace clitest {
namespace {

struct GoldenRow {
  const char* filter;
  const char* onSamples;  // options for the sample photographs
  const char* onKinds;    // options for the small files (41 x 29)
};

const GoldenRow kRows[] = {
    {"auto-exposure", "", "--strength 0.7"},
    {"auto-enhance", "--exposure 0.5 --sharpen 30", "--exposure 1"},
    {"auto-levels", "", ""},
    {"white-balance", "--from 5000 --to 6500", "--from 9000 --to 4000"},
    {"contrast", "--contrast 25 --brightness 5", "--contrast -30,10,60"},
    {"saturation", "--amount 50", "--amount -70"},
    {"hsl", "--yellow 10,40,0 --blue 0,40,-10", "--hue 40 --lightness -20"},
    {"tint", "--rgb 0,10,30", "--hue 35 --saturation 0.4"},
    {"remove-cast", "--at 160,210", "--at 20,14"},
    {"red-eye", "--at 256,256", "--at 20,14"},
    {"despeckle", "--threshold 16", "--threshold 40"},
    {"denoise", "", ""},
    {"sharpen", "--strength 80", "--strength -60"},
    {"sharpen-circle", "--at 256,180 --radius 120 --strength 150",
     "--at 20,14 --radius 10 --strength 150"},
    {"book", "--axis 50 --fold 30 --slant 20", "--axis 40 --fold 60"},
    {"lens", "--at 256,200 --radius 150 --power 3", "--at 20,14 --radius 12 --power 4"},
};

// Small files of every kind the tool reads, written into `dir`.
void WriteKinds(const std::string& dir) {
  uint32_t salt = 0;
  auto raw = [&salt](int channels, bool alpha, int bits) {
    return Pattern(41, 29, channels, alpha, bits, ++salt);
  };
  auto withMeta = [](Raw r, bool exif) {  // an ICC profile, and an EXIF block
    r.icc = TestIccProfile(r.channels == 1);
    if (exif) r.exif = TestExif();
    return r;
  };
  auto add = [&dir](const std::string& name) { return dir + "/" + name; };
  for (int bits : {1, 2, 4, 8, 16}) {
    WritePng(add("png-grey" + std::to_string(bits) + ".png"), raw(1, false, bits));
  }
  WritePng(add("png-palette.png"), raw(1, false, 8), kPalette);
  WritePng(add("png-palette-trns.png"), raw(1, false, 8), kPalette | kTransparency);
  WritePng(add("png-grey8-trns.png"), raw(1, false, 8), kTransparency);
  WritePng(add("png-rgb16-trns.png"), raw(3, false, 16), kTransparency);
  for (int bits : {8, 16}) {
    const std::string b = std::to_string(bits);
    WritePng(add("png-rgb" + b + ".png"), raw(3, false, bits));
    WritePng(add("png-greya" + b + ".png"), raw(1, true, bits));
    WritePng(add("png-rgba" + b + ".png"), raw(3, true, bits));
    WritePng(add("png-rgba" + b + "-adam7.png"), raw(3, true, bits), kInterlaced);
  }
  WritePng(add("png-meta.png"), withMeta(raw(3, false, 8), true));
  for (int channels : {1, 3}) {
    const std::string c = channels == 1 ? "grey" : "colour";
    WriteJpeg(add("jpeg-" + c + ".jpg"), raw(channels, false, 8), 90);
    WriteJpeg(add("jpeg-" + c + "-progressive.jpg"), raw(channels, false, 8), 75, true);
    WriteJpeg(add("jpeg-" + c + "-meta.jpg"), withMeta(raw(channels, false, 8), true), 85);
  }
  for (int bits : {8, 16}) {
    const std::string b = std::to_string(bits);
    WriteTiff(add("tiff-grey" + b + ".tif"), raw(1, false, bits));
    WriteTiff(add("tiff-rgb" + b + ".tif"), raw(3, false, bits));
    WriteTiff(add("tiff-rgba" + b + ".tif"), raw(3, true, bits));
    WriteTiff(add("tiff-greya" + b + "-planar.tif"), raw(1, true, bits), TiffLayout::Planar);
    WriteTiff(add("tiff-rgb" + b + "-planar.tif"), raw(3, false, bits), TiffLayout::Planar);
    WriteTiff(add("tiff-rgba" + b + "-tiles.tif"), raw(3, true, bits), TiffLayout::Tiles);
    WriteTiff(add("tiff-grey" + b + "-tiles.tif"), raw(1, false, bits), TiffLayout::Tiles);
    WriteTiff(add("tiff-white" + b + ".tif"), raw(1, false, bits), TiffLayout::Strips, 0);
  }
  WriteTiff(add("tiff-palette.tif"), raw(1, false, 8), TiffLayout::Strips, 3);
  WriteTiff(add("tiff-meta.tif"), withMeta(raw(3, false, 16), false));
  for (int bits : {8, 16}) {
    const std::string b = std::to_string(bits);
    WritePnm(add("pnm-grey" + b + ".pgm"), raw(1, false, bits));
    WritePnm(add("pnm-rgb" + b + ".ppm"), raw(3, false, bits));
  }
  WritePnm(add("pnm-grey-1023.pgm"), raw(1, false, 16), 1023);
  WritePnm(add("pnm-rgb-100.ppm"), raw(3, false, 8), 100);
}

std::string Sha256(const std::string& path) {
  const std::string command = "sha256sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  char text[65] = {};
  const bool ok = pipe && std::fread(text, 1, 64, pipe) == 64;
  if (pipe) pclose(pipe);
  return ok ? std::string(text) : std::string("sha256sum failed");
}

std::map<std::string, std::string> RecordedRows() {
  std::map<std::string, std::string> rows;
  std::ifstream in(MARLO_TOOL_GOLDEN);
  for (std::string key, value; in >> key >> value;) rows[key] = value;
  return rows;
}

// One run of the tool: its arguments, and standard input (empty: none).
using ToolRun = std::pair<std::vector<std::string>, std::string>;

// Runs each command in `dir`; returns their statuses and the SHA-256 of each one's status, lines
// on standard error (sorted: files finish in any order) and standard output, then of every file
// written (all but the inputs in s/ and k/). `errors` collects standard error.
std::string DigestOfRuns(const std::string& dir, const std::vector<ToolRun>& runs,
                         std::string* errors) {
  std::ofstream out(dir + "/blob", std::ios::binary);
  std::string statuses;
  for (const auto& [args, in] : runs) {
    const RunResult r = RunMarlo(args, dir, in);
    statuses += std::to_string(r.status);
    *errors += r.err;
    std::vector<std::string> lines;
    std::istringstream err(r.err);
    for (std::string line; std::getline(err, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    out << "status " << r.status << "\n";
    for (const std::string& line : lines) out << line << "\n";
    out << r.out;
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    const std::string name = e.path().lexically_relative(dir);
    if (e.is_regular_file() && name != "blob" && name.rfind("s/", 0) && name.rfind("k/", 0)) {
      files.push_back(name);
    }
  }
  std::sort(files.begin(), files.end());
  for (const std::string& f : files) {
    const Bytes bytes = ReadBytes(dir + "/" + f);
    out << f << " " << bytes.size() << "\n";
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  out.close();
  return statuses + ":" + Sha256(dir + "/blob");
}

class ToolGolden : public InTempDir, public ::testing::WithParamInterface<size_t> {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    ASSERT_EQ(0, mkdir((dir_ + "/s").c_str(), 0777));
    ASSERT_EQ(0, mkdir((dir_ + "/k").c_str(), 0777));
    for (const char* s : {"cameraman-gray8.png", "indoor-warm-cast-rgb8.png",
                          "landscape-autumn-rgb8.png", "night-underexposed-rgb16.png",
                          "portrait-astronaut-rgb8.png", "portrait-grainy-rgb8.png"}) {
      ASSERT_EQ(
          0, symlink((std::string(MARLO_SAMPLES) + "/" + s).c_str(), (dir_ + "/s/" + s).c_str()));
      samples_.push_back(std::string("s/") + s);
    }
    WriteKinds(dir_ + "/k");
    for (const std::string& k : ListDir(dir_ + "/k")) kinds_.push_back("k/" + k);
  }

  void Check(const std::string& key, const std::vector<ToolRun>& runs) {
    std::string errors;
    const std::string digest = DigestOfRuns(dir_, runs, &errors);
    if (std::getenv("MARLO_TOOL_GOLDEN_RECORD")) {
      std::printf("golden %s %s\n", key.c_str(), digest.c_str());
      return;
    }
    static const std::map<std::string, std::string> recorded = RecordedRows();
    const auto it = recorded.find(key);
    EXPECT_TRUE(it != recorded.end() && it->second == digest)
        << key << ": got " << digest << ", recorded "
        << (it == recorded.end() ? std::string("nothing") : it->second) << "\n"
        << errors;
  }

  std::vector<std::string> samples_, kinds_;
};

TEST_P(ToolGolden, FilesOfEveryFilterAndFormatAreUnchanged) {
  const GoldenRow& row = kRows[GetParam()];
  std::vector<ToolRun> runs;
  for (const bool onSamples : {true, false}) {
    const std::vector<std::string>& inputs = onSamples ? samples_ : kinds_;
    for (const std::string format : {"png", "jpeg", "tiff", "pnm"}) {
      std::vector<std::string> args =
          Words(row.filter + std::string(" ") + (onSamples ? row.onSamples : row.onKinds));
      args.insert(args.end(), inputs.begin(), inputs.end());
      args.insert(args.end(), {"-j", "2", "--format", format, "-o",
                               (onSamples ? "out-samples-" : "out-kinds-") + format + "/"});
      runs.push_back({args, ""});
    }
  }
  Check(row.filter, runs);
}

TEST_F(ToolGolden, ChainsStreamsQualityAndNamedOutputs) {
  std::vector<std::string> chain = Words("auto-levels then saturation --amount 30 then sharpen");
  chain.insert(chain.end(), samples_.begin(), samples_.end());
  chain.insert(chain.end(), {"--strength", "40", "-o", "chain/"});
  std::vector<std::string> quality = Words("sharpen --quality 40 --format jpeg -o quality/");
  quality.insert(quality.end(), kinds_.begin(), kinds_.end());
  Check("misc",
        {{chain, ""},
         {quality, ""},
         {Words("contrast --contrast 20 - -o - --format tiff"),
          dir_ + "/s/night-underexposed-rgb16.png"},
         {Words("hsl --hue 90 k/tiff-rgba16-tiles.tif -o one.pgm"), ""},
         {Words("lens --at 5,5 --radius 9 k/png-greya8.png -o two.tiff"), ""},
         {Words("sharpen --compression 9 --png-filter adaptive k/png-rgba16.png -o 9.png"), ""},
         {Words("sharpen --compression 1 --png-filter up k/png-grey8.png -o 1.png"), ""},
         {Words("sharpen --compression 0 k/tiff-rgb8.tif -o 0.tif --png-filter none"), ""}});
}

INSTANTIATE_TEST_SUITE_P(EveryFilter, ToolGolden, ::testing::Range<size_t>(0, std::size(kRows)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           std::string name = kRows[info.param].filter;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

}  // namespace
}  // namespace clitest
