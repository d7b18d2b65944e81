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
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "frame/threads.h"
#include "test_support.h"

namespace {

using namespace marlo::test;

enum class Mode { Empty, Existing, Larger, InPlace, Abort };
constexpr Mode kModes[] = {Mode::Empty, Mode::Existing, Mode::Larger, Mode::InPlace, Mode::Abort};

// At a thread count above 1: an abort at several reports, into an existing destination and in
// place, gives the one-thread result and reports, and every row the one-thread run changed holds
// what that run wrote there (rows after the aborting report may hold results too).
void ExpectAbortsAsOnOneThread(const ExportCall& call, int variant, const Kasa& source) {
  const int32_t count = MarloGetThreads();
  for (int abortAt : {2, 4}) {
    for (bool inPlace : {false, true}) {
      std::unique_ptr<Kasa> src[2], dst[2];
      int32_t result[2];
      std::vector<ProgressCall> calls[2];
      for (int run = 0; run < 2; ++run) {
        MarloSetThreads(run == 0 ? 1 : count);
        src[run] = CopyOf(source);
        dst[run] =
            PatternImage(TypeOf(source), source.GetImageWidth(), source.GetImageHeight(), 99);
        Recorder recorder(abortAt);
        result[run] = call.Run(src[run].get(), inPlace ? src[run].get() : dst[run].get(),
                               &Recorder::Callback, variant);
        calls[run] = recorder.calls();
      }
      const std::string what = std::string(call.name) + " abort at " + std::to_string(abortAt) +
                               (inPlace ? " in place" : "");
      EXPECT_EQ(result[0], result[1]) << what;
      EXPECT_EQ(calls[0], calls[1]) << what;
      const auto original = inPlace ? CopyOf(source)
                                    : PatternImage(TypeOf(source), source.GetImageWidth(),
                                                   source.GetImageHeight(), 99);
      Kasa* out[2] = {inPlace ? src[0].get() : dst[0].get(), inPlace ? src[1].get() : dst[1].get()};
      const size_t bytes = static_cast<size_t>(original->GetLineBytes());
      for (int32_t y = 0; y < original->GetImageHeight(); ++y) {
        if (std::memcmp(out[0]->RowData(y), original->RowData(y), bytes) != 0) {
          EXPECT_EQ(0, std::memcmp(out[0]->RowData(y), out[1]->RowData(y), bytes))
              << what << " row " << y;
        }
      }
    }
  }
  MarloSetThreads(count);
}

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
  // Above one thread the abort is checked apart: rows after the aborting report may differ.
  const int32_t count = MarloGetThreads();
  if (mode == Mode::Abort && count != 1 && h > 2) {  // more than one band
    ExpectAbortsAsOnOneThread(call, variant, source);
    MarloSetThreads(1);
  }
  Recorder recorder(mode == Mode::Abort ? 2 : 0);
  const int32_t result = call.Run(src.get(), target, &Recorder::Callback, variant);
  MarloSetThreads(count);
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

// Every case: key -> digest. MARLO_GOLDEN_ONLY=text keeps the cases whose key holds the text
// (the slow sanitizer builds run a slice).
const char* const kOnlyVariable = "MARLO_GOLDEN_ONLY";

std::map<std::string, uint64_t> ComputeDigests() {
  const std::string only = std::getenv(kOnlyVariable) != nullptr ? std::getenv(kOnlyVariable) : "";
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
            std::ostringstream key;
            key << call.name << '/' << names[static_cast<int>(type)] << '/' << w << 'x' << h << '/'
                << (content == 0 ? "scene" : "noise") << '/' << variant;
            if (key.str().find(only) == std::string::npos) continue;
            Digest digest;
            for (Mode mode : kModes) RunMode(call, variant, *source, mode, digest);
            digests[key.str()] = digest.value();
          }
        }
      }
    }
  }
  return digests;
}

// Compares every case with the recorded digests.
void ExpectRecordedDigests(const std::map<std::string, uint64_t>& actual) {
  std::ifstream in(MARLO_GOLDEN_FILE);
  ASSERT_TRUE(in.good()) << MARLO_GOLDEN_FILE;
  std::map<std::string, uint64_t> expected;
  std::string key;
  uint64_t value;
  while (in >> key >> std::hex >> value) expected[key] = value;
  if (std::getenv(kOnlyVariable) == nullptr) {
    EXPECT_EQ(expected.size(), actual.size());
  }
  int mismatches = 0;
  for (const auto& [k, v] : actual) {
    const auto it = expected.find(k);
    if (it == expected.end() || it->second != v) {
      if (++mismatches <= 20) ADD_FAILURE() << "digest differs: " << k;
    }
  }
  EXPECT_EQ(0, mismatches) << "of " << actual.size() << " cases";
}

TEST(Golden, EveryExportTypeSizeAndModeMatchesTheRecordedDigests) {
  const std::map<std::string, uint64_t> actual = ComputeDigests();
  if (std::getenv("MARLO_GOLDEN_RECORD") != nullptr) {
    std::ofstream out(MARLO_GOLDEN_FILE);
    for (const auto& [key, value] : actual) out << key << ' ' << std::hex << value << '\n';
    GTEST_SKIP() << "recorded " << actual.size() << " digests into " << MARLO_GOLDEN_FILE;
  }
  ExpectRecordedDigests(actual);
}

// The same cases split over 2, 3 and 8 threads in bands of 2 rows (so that every image of more
// than two rows is split, in bands that do not divide most heights) give the same digests.
class GoldenThreads : public testing::TestWithParam<int32_t> {};

TEST_P(GoldenThreads, MatchTheRecordedDigests) {
  MarloSetThreads(GetParam());
  marlo::SetBandRowsForTesting(2);
  const std::map<std::string, uint64_t> actual = ComputeDigests();
  MarloSetThreads(1);
  marlo::SetBandRowsForTesting(0);
  ExpectRecordedDigests(actual);
}

INSTANTIATE_TEST_SUITE_P(Counts, GoldenThreads, testing::Values(2, 3, 8));

}  // namespace
