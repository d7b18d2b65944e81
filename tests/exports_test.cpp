// Every export exists under its plain name. Exports whose filter is not built yet refuse every
// call with their failure result and touch nothing; each filter removes its line here when it
// is built.
#include <functional>
#include <string>

#include "test_support.h"

namespace {

struct PendingExport {
  const char* name;
  int32_t failure;
  std::function<int32_t(Kasa*, Kasa*)> call;
};

std::vector<PendingExport> Pending() {
  return {
      {"HSLEnhancement", 0,
       [](Kasa* s, Kasa* d) {
         const int32_t h[7] = {10}, sat[7] = {10}, l[7] = {10};
         return HSLEnhancement(s, d, h, sat, l, nullptr, 0, 100);
       }},
  };
}

TEST(Exports, FiltersNotYetBuiltRefuseAndTouchNothing) {
  for (const auto& e : Pending()) {
    auto src = marlo::test::PatternImage(ImageType::Rgb24, 6, 6, 1);
    auto dst = marlo::test::PatternImage(ImageType::Rgb24, 6, 6, 2);
    auto srcBefore = marlo::test::CopyOf(*src);
    auto dstBefore = marlo::test::CopyOf(*dst);
    EXPECT_EQ(e.failure, e.call(src.get(), dst.get())) << e.name;
    EXPECT_TRUE(marlo::test::SameBytes(*srcBefore, *src)) << e.name;
    EXPECT_TRUE(marlo::test::SameBytes(*dstBefore, *dst)) << e.name;
    EXPECT_EQ(e.failure, e.call(nullptr, nullptr)) << e.name;
  }
}

}  // namespace
