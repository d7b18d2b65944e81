// Whole-image regression: every export on every image type, several sizes, two kinds of
// content and each parameter set of the shared table, run into an empty destination, an
// existing one, a larger one, in place, and with an abort at the second report. A case's digest
// covers the result codes, every stored byte of the destination and the source afterwards, the
// progress reports, the busy-hook calls and the messages. The expected digests were recorded
// from a build whose results were checked case by case against the filters' definitions; any
// change of an output byte, a result code or a report shows here as a changed digest.
//
// To record the table again (only after a deliberate change of results):
//   MARLO_GOLDEN_RECORD=1 ./marlo_tests --gtest_filter='Golden.*'
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "test_support.h"

namespace {

using namespace marlo::test;

enum class Mode { Empty, Existing, Larger, InPlace, Abort };
constexpr Mode kModes[] = {Mode::Empty, Mode::Existing, Mode::Larger, Mode::InPlace, Mode::Abort};

// Runs one call in one mode and adds everything it did to the digest: the result, the images,
// each report (start, end, current), the busy-hook calls and the messages.
void RunMode(const ExportCall& call, int variant, const Kasa& source, Mode mode, Digest& digest) {
  auto src = CopyOf(source);
  const auto type = static_cast<ImageType>(src->GetImageType());
  const int32_t w = src->GetImageWidth(), h = src->GetImageHeight();
  auto dst = mode == Mode::Empty    ? std::make_unique<Kasa>()
             : mode == Mode::Larger ? PatternImage(type, w + 1, h + 2, 98)
                                    : PatternImage(type, w, h, 99);
  Kasa* target = mode == Mode::InPlace ? src.get() : dst.get();
  Recorder recorder(mode == Mode::Abort ? 2 : 0);
  const int32_t result = call.Run(src.get(), target, &Recorder::Callback, variant);
  digest.Number(static_cast<int>(mode));
  digest.Number(result);
  digest.Image(*target);
  if (target != src.get()) digest.Image(*src);
  digest.Number(static_cast<int64_t>(recorder.calls().size() * 3));
  for (const auto& c : recorder.calls()) {
    for (int32_t v : c) digest.Number(v);
  }
  digest.Number(static_cast<int64_t>(recorder.busy().size()));
  for (int b : recorder.busy()) digest.Number(b);
  for (const std::string& text : recorder.texts())
    digest.Bytes((text + '\n').data(), text.size() + 1);
}

// Every case: key -> digest.
std::map<std::string, uint64_t> ComputeDigests() {
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 6}, {6, 1}, {3, 3}, {13, 7}, {40, 27}};
  const char* names[] = {"", "Rgb24", "", "", "", "Gray8", "", "", "", "Rgb48", "Gray16"};
  std::map<std::string, uint64_t> digests;
  for (const ExportCall& call : ExportCalls()) {
    for (ImageType type : marlo::test::kAllTypes) {
      for (const auto& [w, h] : sizes) {
        for (int content = 0; content < 2; ++content) {
          const uint32_t salt = static_cast<uint32_t>(w * 31 + h) * 4 + static_cast<uint32_t>(type);
          auto source = content == 0 ? Scene(type, w, h, salt) : PatternImage(type, w, h, salt);
          for (int variant = 0; variant < call.variants; ++variant) {
            Digest digest;
            for (Mode mode : kModes) RunMode(call, variant, *source, mode, digest);
            std::ostringstream key;
            key << call.name << '/' << names[static_cast<int>(type)] << '/' << w << 'x' << h << '/'
                << (content == 0 ? "scene" : "noise") << '/' << variant;
            digests[key.str()] = digest.value();
          }
        }
      }
    }
  }
  return digests;
}

TEST(Golden, EveryExportTypeSizeAndModeMatchesTheRecordedDigests) {
  const std::map<std::string, uint64_t> actual = ComputeDigests();
  if (std::getenv("MARLO_GOLDEN_RECORD") != nullptr) {
    std::ofstream out(MARLO_GOLDEN_FILE);
    for (const auto& [key, value] : actual) out << key << ' ' << std::hex << value << '\n';
    GTEST_SKIP() << "recorded " << actual.size() << " digests into " << MARLO_GOLDEN_FILE;
  }
  std::ifstream in(MARLO_GOLDEN_FILE);
  ASSERT_TRUE(in.good()) << MARLO_GOLDEN_FILE;
  std::map<std::string, uint64_t> expected;
  std::string key;
  uint64_t value;
  while (in >> key >> std::hex >> value) expected[key] = value;
  EXPECT_EQ(expected.size(), actual.size());
  int mismatches = 0;
  for (const auto& [k, v] : actual) {
    const auto it = expected.find(k);
    if (it == expected.end() || it->second != v) {
      if (++mismatches <= 20) ADD_FAILURE() << "digest differs: " << k;
    }
  }
  EXPECT_EQ(0, mismatches) << "of " << actual.size() << " cases";
}

}  // namespace
