// A 32-bit Windows host program, cross-built to check that Marlo.dll and its import library can
// be used the two ways a host has: linking the import library (every export is referenced here,
// so a declaration that does not match the exported symbol fails the link) and loading the
// library at run time, looking exports up by name or by ordinal.
#include <windows.h>

#include <cstdio>

#include "marlo.h"

// Every export through the import library, the unnamed hook and thread setters included (external
// linkage keeps the table, and so the imports, in the program).
extern const void* const kLinked[];
const void* const kLinked[] = {
    reinterpret_cast<const void*>(&ImageFocusInCircle),
    reinterpret_cast<const void*>(&AutoAdjustment),
    reinterpret_cast<const void*>(&AutoEnhancement),
    reinterpret_cast<const void*>(&AutoExposure),
    reinterpret_cast<const void*>(&BookEffect),
    reinterpret_cast<const void*>(&CBEnhancement),
    reinterpret_cast<const void*>(&ColorTintAddByHS),
    reinterpret_cast<const void*>(&ColorTintAddByRGB),
    reinterpret_cast<const void*>(&ColorTintRemove),
    reinterpret_cast<const void*>(&ConvexLens),
    reinterpret_cast<const void*>(&Despeckle),
    reinterpret_cast<const void*>(&HSLEnhancement),
    reinterpret_cast<const void*>(&ImageFocus),
    reinterpret_cast<const void*>(&LightAdjustment),
    reinterpret_cast<const void*>(&RemoveNoise),
    reinterpret_cast<const void*>(&RemoveRedEyeClr),
    reinterpret_cast<const void*>(&Saturation),
    reinterpret_cast<const void*>(&MarloSetMessageHandler),
    reinterpret_cast<const void*>(&MarloSetBusyHandler),
    reinterpret_cast<const void*>(&MarloSetThreads),
    reinterpret_cast<const void*>(&MarloGetThreads),
};

namespace {

int32_t __stdcall Report(int32_t start, int32_t end, int32_t current) {
  std::printf("%d..%d: %d\n", start, end, current);
  return 0;  // nonzero would stop the filter
}

// GetProcAddress returns a generic function pointer; the export's own type is cast on through
// void* (a direct cast between function pointer types draws -Wcast-function-type).
template <class Fn>
Fn Lookup(HMODULE module, const char* nameOrOrdinal) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, nameOrOrdinal)));
}

}  // namespace

int main() {
  Kasa src, dst;
  if (!src.CreateImage(static_cast<int>(ImageType::Rgb24), 64, 48, 0, nullptr, 0, 0, 15, 0, 0)) {
    return 1;
  }

  // Through the import library: an ordinary call.
  const int32_t contrast[3] = {20, 20, 20}, brightness[3] = {5, 5, 5};
  if (CBEnhancement(&src, &dst, contrast, brightness, &Report, 0, 100) != 1) return 2;

  // At run time: by name, or by ordinal (Saturation is 17).
  HMODULE marlo = LoadLibraryA("Marlo.dll");
  if (marlo == nullptr) return 3;
  using SaturationFn =
      int32_t(__stdcall*)(Kasa*, Kasa*, int32_t, ProgressCallback, int32_t, int32_t);
  auto byName = Lookup<SaturationFn>(marlo, "Saturation");
  auto byOrdinal = Lookup<SaturationFn>(marlo, MAKEINTRESOURCEA(17));
  if (byName == nullptr || byName != byOrdinal) return 4;
  const int32_t result = byName(&dst, &dst, 30, nullptr, 0, 100);
  FreeLibrary(marlo);

  std::printf("%u exports linked, Saturation returned %d\n",
              static_cast<unsigned>(sizeof(kLinked) / sizeof(kLinked[0])), result);
  return result == 1 ? 0 : 5;
}
