// A progress callback that re-creates or empties the source or the destination while a filter
// runs ends the call with the failure result; no filter reads or writes beyond the images (the
// sanitizer build checks that).
#include "export_calls.h"
#include "test_support.h"

namespace {

struct Change {
  Kasa* image;  // the image the callback replaces
  int kind;     // 0 larger, 1 smaller, 2 the other depth, 3 emptied
  int at;       // at this report (from 1)
  int reports = 0;
  bool done = false;
};
thread_local Change* t_change = nullptr;

int32_t MARLO_STDCALL Replace(int32_t, int32_t, int32_t) {
  Change& c = *t_change;
  if (++c.reports != c.at) return 0;
  c.done = true;
  const int type = c.image->GetImageType();
  const int32_t w = c.image->GetImageWidth(), h = c.image->GetImageHeight();
  const int other = type == 1 ? 9 : type == 9 ? 1 : type == 5 ? 10 : 5;
  if (c.kind == 3) {
    c.image->DeleteImage(1);
  } else {
    c.image->CreateImage(c.kind == 2 ? other : type,
                         c.kind == 0   ? 2 * w + 3
                         : c.kind == 1 ? 1
                                       : w,
                         c.kind == 0   ? h + 5
                         : c.kind == 1 ? 1
                                       : h,
                         0, nullptr, 0, 0, 15, 0, 0);
  }
  return 0;
}

TEST(ProgressCallback, ReplacingAnImageEndsTheCallWithTheFailureResult) {
  for (const auto& call : marlo::test::ExportCalls()) {
    if (!call.takesCallback()) continue;
    const int32_t failure = call.failure;
    for (ImageType type : marlo::test::kAllTypes) {
      if (!call.Accepts(type)) continue;
      for (int target = 0; target < 2; ++target) {
        for (int kind = 0; kind < 4; ++kind) {
          for (int at = 1; at <= 2; ++at) {
            auto src = marlo::test::PatternImage(type, 9, 7, 3);
            auto dst = marlo::test::PatternImage(type, 9, 7, 4);
            Change change{target == 0 ? src.get() : dst.get(), kind, at};
            t_change = &change;
            const int32_t result = call.Run(src.get(), dst.get(), &Replace, 0);
            const std::string what = std::string(call.name) + " type " +
                                     std::to_string(static_cast<int>(type)) + " image " +
                                     std::to_string(target) + " change " + std::to_string(kind) +
                                     " at " + std::to_string(at);
            EXPECT_TRUE(change.done || at > 1) << what << ": no report";
            if (change.done) {
              EXPECT_EQ(failure, result) << what;
            }
          }
        }
      }
    }
  }
}

}  // namespace
