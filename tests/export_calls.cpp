#include "export_calls.h"

#include <cmath>
#include <initializer_list>
#include <type_traits>

namespace marlo::test {

namespace {

// Bytes of arguments a __stdcall function takes on 32-bit Windows: every argument is a pointer
// or a 32-bit value.
template <class R, class... A>
constexpr int ArgumentBytes(R(MARLO_STDCALL*)(A...)) {
  static_assert(((std::is_pointer_v<A> || sizeof(A) == 4) && ...), "an argument is not 32 bits");
  return static_cast<int>(4 * sizeof...(A));
}

template <class T>
T Pick(int variant, std::initializer_list<T> values) {
  return values.begin()[variant];
}

// Half the diagonal, rounded: a circle about the centre of this radius covers the image.
int32_t HalfDiagonal(int32_t w, int32_t h) {
  return static_cast<int32_t>(
      std::sqrt(static_cast<double>(w) * w + static_cast<double>(h) * h) / 2 + 0.5);
}

// Parameter set `v` of the integer parameters, given as one list of values per parameter.
void Ints(Args& a, int v, std::initializer_list<std::initializer_list<int32_t>> values) {
  int k = 0;
  for (const auto& list : values) a.n[k++] = list.begin()[v];
}

void Arrays(Args& a, std::initializer_list<std::initializer_list<int32_t>> rows) {
  int r = 0;
  for (const auto& row : rows) std::copy(row.begin(), row.end(), a.a[r++]);
}

using R = Reports;
using D = Destination;

}  // namespace

int32_t ExportCall::Run(Kasa* src, Kasa* dst, ProgressCallback cb, int variant) const {
  const bool none = src == nullptr || src->IsEmpty();
  Args args;
  args.cb = cb;
  set(variant, none ? 8 : src->GetImageWidth(), none ? 8 : src->GetImageHeight(), args);
  return call(src, dst, args);
}

const std::vector<ExportCall>& ExportCalls() {
  static const std::vector<ExportCall> calls = {
      {"AutoAdjustment", 2, ArgumentBytes(&AutoAdjustment), false, R::None, D::Cover, 0, 1,
       [](int, auto, auto, Args&) {}, [](auto s, auto d, auto&) { return AutoAdjustment(s, d); }},
      {"AutoEnhancement", 3, ArgumentBytes(&AutoEnhancement), false, R::OwnRule, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.f = Pick(v, {1.0f, 0.4f, 0.0f});
         a.n[0] = Pick(v, {60, 0, -70000});
       },
       [](auto s, auto d, auto& a) {
         return AutoEnhancement(s, d, a.f, a.n[0], a.cb, a.start, a.end);
       }},
      {"AutoExposure", 4, ArgumentBytes(&AutoExposure), false, R::OwnRule, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.n[0] = Pick(v, {0, 1, 1});
         a.f = Pick(v, {1.0f, 0.4f, 1.7f});
       },
       [](auto s, auto d, auto& a) {
         return AutoExposure(s, d, a.n[0], a.f, a.cb, a.start, a.end);
       }},
      {"BookEffect", 5, ArgumentBytes(&BookEffect), false, R::None, D::Match, 0, 4,
       [](int v, auto, auto, Args& a) {
         Ints(a, v, {{45, 0, 100, 101}, {20, 100, 0, 10}, {30, 0, 100, 10}});
       },
       [](auto s, auto d, auto& a) {
         return BookEffect(s, d, static_cast<uint32_t>(a.n[0]), static_cast<uint32_t>(a.n[1]),
                           static_cast<uint32_t>(a.n[2]));
       }},
      {"CBEnhancement", 6, ArgumentBytes(&CBEnhancement), false, R::PerRow, D::Create, 0, 3,
       [](int v, auto, auto, Args& a) {
         using L = std::initializer_list<int32_t>;
         Arrays(a, {Pick(v, {L{30, 20, 10}, L{0, 0, 0}, L{-100, 100, -40}}),
                    Pick(v, {L{5, -5, 10}, L{0, 0, 0}, L{-60, 255, 100}})});
       },
       [](auto s, auto d, auto& a) {
         return CBEnhancement(s, d, a.a[0], a.a[1], a.cb, a.start, a.end);
       }},
      {"ColorTintAddByHS", 7, ArgumentBytes(&ColorTintAddByHS), true, R::PerRow, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.n[0] = Pick(v, {30, 200, 359});
         a.f = Pick(v, {0.4f, 1.0f, 0.0f});
       },
       [](auto s, auto d, auto& a) {
         return ColorTintAddByHS(s, d, a.n[0], a.f, a.cb, a.start, a.end);
       }},
      {"ColorTintAddByRGB", 8, ArgumentBytes(&ColorTintAddByRGB), true, R::PerRow, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         Ints(a, v, {{35, 0, 255}, {-10, 0, -255}, {-40, 0, 100}});
       },
       [](auto s, auto d, auto& a) {
         return ColorTintAddByRGB(s, d, a.n[0], a.n[1], a.n[2], a.cb, a.start, a.end);
       }},
      {"ColorTintRemove", 9, ArgumentBytes(&ColorTintRemove), true, R::PerRow, D::Create, 0, 3,
       [](int v, int32_t w, int32_t h, Args& a) {
         Ints(a, v, {{w / 2, 0, w - 1}, {h / 2, 0, h - 1}});
       },
       [](auto s, auto d, auto& a) {
         return ColorTintRemove(s, d, a.n[0], a.n[1], a.cb, a.start, a.end);
       }},
      {"ConvexLens", 10, ArgumentBytes(&ConvexLens), false, R::None, D::Overlap, 0, 4,
       [](int v, int32_t w, int32_t h, Args& a) {
         Ints(a, v,
              {{w / 2, 0, w / 3, w / 2},
               {h / 2, 0, h - 1, h / 2},
               {(w + h) * 37 / 100, w + h, 2, 3},
               {2, 4, 1, 5}});
       },
       [](auto s, auto d, auto& a) {
         return ConvexLens(s, d, static_cast<uint32_t>(a.n[0]), static_cast<uint32_t>(a.n[1]),
                           static_cast<uint32_t>(a.n[2]), static_cast<uint32_t>(a.n[3]));
       }},
      {"Despeckle", 11, ArgumentBytes(&Despeckle), false, R::PerRow, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.n[0] = Pick(v, {4, -1, 300});
       },
       [](auto s, auto d, auto& a) { return Despeckle(s, d, a.n[0], a.cb, a.start, a.end); }},
      {"HSLEnhancement", 12, ArgumentBytes(&HSLEnhancement), true, R::PerRow, D::Create, 0, 3,
       [](int v, auto, auto, Args& a) {
         using L = std::initializer_list<int32_t>;
         Arrays(a, {Pick(v, {L{10, 0, 20, 0, -30, 0, 15}, L{}, L{400, -90, 180, 45, 0, -200, 30}}),
                    Pick(v, {L{5, 30, 0, -10, 0, -20, 0}, L{}, L{-100, 60, 100, -50, 20, 0, 150}}),
                    Pick(v, {L{-5, 10, 0, 0, 20, 0, -10}, L{}, L{40, -100, 60, 0, -30, 90, 200}})});
       },
       [](auto s, auto d, auto& a) {
         return HSLEnhancement(s, d, a.a[0], a.a[1], a.a[2], a.cb, a.start, a.end);
       }},
      {"ImageFocus", 13, ArgumentBytes(&ImageFocus), false, R::PerRow, D::Match, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.n[0] = Pick(v, {60, -50, 70000});
       },
       [](auto s, auto d, auto& a) { return ImageFocus(s, d, a.n[0], a.cb, a.start, a.end); }},
      {"ImageFocusInCircle", 1, ArgumentBytes(&ImageFocusInCircle), false, R::PerRow, D::Rebuild, 0,
       3,
       [](int v, int32_t w, int32_t h, Args& a) {
         Ints(a, v,
              {{w / 2, 0, w / 3}, {h / 2, 0, h / 2}, {HalfDiagonal(w, h), w, 2}, {150, -60, 30}});
       },
       [](auto s, auto d, auto& a) {
         return ImageFocusInCircle(s, d, a.n[0], a.n[1], a.n[2], a.n[3], a.cb, a.start, a.end);
       }},
      {"LightAdjustment", 14, ArgumentBytes(&LightAdjustment), true, R::PerRow, D::Match, 1, 3,
       [](int v, auto, auto, Args& a) {
         Ints(a, v, {{3200, 6500, 5000}, {6500, 3200, 5000}});
       },
       [](auto s, auto d, auto& a) {
         return LightAdjustment(s, d, a.n[0], a.n[1], a.cb, a.start, a.end);
       }},
      {"RemoveNoise", 15, ArgumentBytes(&RemoveNoise), false, R::None, D::Cover, 0, 1,
       [](int, auto, auto, Args&) {}, [](auto s, auto d, auto&) { return RemoveNoise(s, d); }},
      {"RemoveRedEyeClr", 16, ArgumentBytes(&RemoveRedEyeClr), true, R::OwnRule, D::Create, 0, 3,
       [](int v, int32_t w, int32_t h, Args& a) {
         Ints(a, v, {{w * 11 / 30, 0, w - 1}, {h * 9 / 20, 0, h / 3}});
       },
       [](auto s, auto d, auto& a) {
         return RemoveRedEyeClr(s, d, a.n[0], a.n[1], a.cb, a.start, a.end);
       }},
      {"Saturation", 17, ArgumentBytes(&Saturation), true, R::PerRow, D::Create, 0, 3,
       [](int v, auto, auto, Args& a) {
         a.n[0] = Pick(v, {40, -100, 100});
       },
       [](auto s, auto d, auto& a) { return Saturation(s, d, a.n[0], a.cb, a.start, a.end); }},
  };
  return calls;
}

}  // namespace marlo::test
