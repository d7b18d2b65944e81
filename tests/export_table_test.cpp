// The export table of the 32-bit Windows library (frame/marlo.def) against the declarations in
// marlo.h: every filter under its name and ordinal, its __stdcall decoration matching the
// number of arguments it is declared with (4 bytes each), and the two hook setters at 18 and 19
// without names. The cross build links with this file, so a mismatch would otherwise show only
// there.
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>

#include "test_support.h"

namespace {

// Bytes of arguments a __stdcall function takes on 32-bit Windows: every argument is a pointer
// or a 32-bit value.
template <class R, class... A>
constexpr int ArgumentBytes(R(MARLO_STDCALL*)(A...)) {
  static_assert(((std::is_pointer_v<A> || sizeof(A) == 4) && ...), "an argument is not 32 bits");
  return static_cast<int>(4 * sizeof...(A));
}

struct DefEntry {
  std::string name;
  int bytes = -1;  // the @bytes decoration, -1 when there is none
  bool named = true;
};

// Ordinal -> entry, from the EXPORTS lines "Name[@bytes] @ordinal [NONAME]".
std::map<int, DefEntry> ReadDefinitionFile() {
  std::ifstream in(MARLO_DEF_FILE);
  EXPECT_TRUE(in.good()) << MARLO_DEF_FILE;
  std::map<int, DefEntry> entries;
  bool exports = false;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find(';'));
    std::istringstream words(line);
    std::string first;
    if (!(words >> first)) continue;
    if (first == "EXPORTS") {
      exports = true;
      continue;
    }
    if (!exports) continue;
    DefEntry e;
    const size_t at = first.find('@');
    e.name = first.substr(0, at);
    if (at != std::string::npos) e.bytes = std::stoi(first.substr(at + 1));
    std::string ordinal, flag;
    words >> ordinal;
    EXPECT_EQ('@', ordinal.empty() ? '\0' : ordinal[0]) << line;
    if (words >> flag) {
      EXPECT_EQ("NONAME", flag) << line;
      e.named = false;
    }
    const int n = std::stoi(ordinal.substr(1));
    EXPECT_EQ(0u, entries.count(n)) << "ordinal " << n << " twice";
    entries[n] = e;
  }
  return entries;
}

struct Expected {
  int ordinal;
  const char* name;
  int bytes;
};

TEST(ExportTable, FiltersByNameUnderTheirOrdinalsWithMatchingDecoration) {
  const Expected filters[] = {
      {1, "ImageFocusInCircle", ArgumentBytes(&ImageFocusInCircle)},
      {2, "AutoAdjustment", ArgumentBytes(&AutoAdjustment)},
      {3, "AutoEnhancement", ArgumentBytes(&AutoEnhancement)},
      {4, "AutoExposure", ArgumentBytes(&AutoExposure)},
      {5, "BookEffect", ArgumentBytes(&BookEffect)},
      {6, "CBEnhancement", ArgumentBytes(&CBEnhancement)},
      {7, "ColorTintAddByHS", ArgumentBytes(&ColorTintAddByHS)},
      {8, "ColorTintAddByRGB", ArgumentBytes(&ColorTintAddByRGB)},
      {9, "ColorTintRemove", ArgumentBytes(&ColorTintRemove)},
      {10, "ConvexLens", ArgumentBytes(&ConvexLens)},
      {11, "Despeckle", ArgumentBytes(&Despeckle)},
      {12, "HSLEnhancement", ArgumentBytes(&HSLEnhancement)},
      {13, "ImageFocus", ArgumentBytes(&ImageFocus)},
      {14, "LightAdjustment", ArgumentBytes(&LightAdjustment)},
      {15, "RemoveNoise", ArgumentBytes(&RemoveNoise)},
      {16, "RemoveRedEyeClr", ArgumentBytes(&RemoveRedEyeClr)},
      {17, "Saturation", ArgumentBytes(&Saturation)},
  };
  // Spot checks of the decoration against hand-counted arguments.
  EXPECT_EQ(36, filters[0].bytes);   // ImageFocusInCircle: nine arguments
  EXPECT_EQ(8, filters[1].bytes);    // AutoAdjustment: two images
  EXPECT_EQ(32, filters[11].bytes);  // HSLEnhancement: eight arguments

  const auto entries = ReadDefinitionFile();
  for (const Expected& f : filters) {
    const auto it = entries.find(f.ordinal);
    ASSERT_NE(entries.end(), it) << f.name;
    EXPECT_EQ(f.name, it->second.name) << "ordinal " << f.ordinal;
    EXPECT_EQ(f.bytes, it->second.bytes) << f.name;
    EXPECT_TRUE(it->second.named) << f.name;
  }

  // The hook setters (plain C functions, no decoration) by ordinal only; nothing else.
  ASSERT_EQ(19u, entries.size());
  EXPECT_EQ("MarloSetMessageHandler", entries.at(18).name);
  EXPECT_EQ("MarloSetBusyHandler", entries.at(19).name);
  for (int n : {18, 19}) {
    EXPECT_FALSE(entries.at(n).named) << n;
    EXPECT_EQ(-1, entries.at(n).bytes) << n;
  }
}

}  // namespace
