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
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "export_calls.h"
#include "test_support.h"

namespace {

using marlo::test::CopyOf;
using marlo::test::Digest;
using marlo::test::ExportCall;
using marlo::test::ExportCalls;
using marlo::test::PatternImage;
using marlo::test::Scene;

// What the hooks saw during one call.
struct Trace {
  std::vector<int32_t> progress;  // start, end, current of each report
  std::vector<int> busy;
  std::string messages;
  int abortAt = 0;  // 1-based report that asks to stop; 0: none
};
thread_local Trace* t_trace = nullptr;

int32_t MARLO_STDCALL Record(int32_t start, int32_t end, int32_t current) {
  Trace& t = *t_trace;
  t.progress.insert(t.progress.end(), {start, end, current});
  return t.abortAt != 0 && static_cast<int>(t.progress.size() / 3) == t.abortAt ? 1 : 0;
}
void RecordBusy(int busy) {
  t_trace->busy.push_back(busy);
}
void RecordMessage(const char* text) {
  t_trace->messages += text;
  t_trace->messages += '\n';
}

enum class Mode { Empty, Existing, Larger, InPlace, Abort };
constexpr Mode kModes[] = {Mode::Empty, Mode::Existing, Mode::Larger, Mode::InPlace, Mode::Abort};

// Runs one call in one mode and adds everything it did to the digest.
void RunMode(const ExportCall& call, int variant, const Kasa& source, Mode mode, Digest& digest) {
  auto src = CopyOf(source);
  const auto type = static_cast<ImageType>(src->GetImageType());
  const int32_t w = src->GetImageWidth(), h = src->GetImageHeight();
  std::unique_ptr<Kasa> dst;
  switch (mode) {
    case Mode::Empty:
      dst = std::make_unique<Kasa>();
      break;
    case Mode::Existing:
    case Mode::Abort:
      dst = PatternImage(type, w, h, 99);
      break;
    case Mode::Larger:
      dst = PatternImage(type, w + 1, h + 2, 98);
      break;
    case Mode::InPlace:
      break;
  }
  Kasa* target = mode == Mode::InPlace ? src.get() : dst.get();
  Trace trace;
  trace.abortAt = mode == Mode::Abort ? 2 : 0;
  t_trace = &trace;
  const int32_t result = call.Run(src.get(), target, &Record, variant);
  t_trace = nullptr;
  digest.Number(static_cast<int>(mode));
  digest.Number(result);
  digest.Image(*target);
  if (target != src.get()) digest.Image(*src);
  digest.Number(static_cast<int64_t>(trace.progress.size()));
  for (int32_t v : trace.progress) digest.Number(v);
  digest.Number(static_cast<int64_t>(trace.busy.size()));
  for (int b : trace.busy) digest.Number(b);
  digest.Bytes(trace.messages.data(), trace.messages.size());
}

const char* TypeName(ImageType type) {
  switch (type) {
    case ImageType::Rgb24:
      return "Rgb24";
    case ImageType::Gray8:
      return "Gray8";
    case ImageType::Rgb48:
      return "Rgb48";
    case ImageType::Gray16:
      return "Gray16";
  }
  return "?";
}

// Every case: key -> digest.
std::map<std::string, uint64_t> ComputeDigests() {
  const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 6}, {6, 1}, {3, 3}, {13, 7}, {40, 27}};
  std::map<std::string, uint64_t> digests;
  const MarloBusyHandler busyBefore = MarloSetBusyHandler(&RecordBusy);
  const MarloMessageHandler messageBefore = MarloSetMessageHandler(&RecordMessage);
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
            key << call.name << '/' << TypeName(type) << '/' << w << 'x' << h << '/'
                << (content == 0 ? "scene" : "noise") << '/' << variant;
            digests[key.str()] = digest.value();
          }
        }
      }
    }
  }
  MarloSetBusyHandler(busyBefore);
  MarloSetMessageHandler(messageBefore);
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
