#include "frame/frame.h"

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace marlo {

bool IsSupportedType(int type) {
  return type == static_cast<int>(ImageType::Gray8) || type == static_cast<int>(ImageType::Rgb24) ||
         type == static_cast<int>(ImageType::Gray16) || type == static_cast<int>(ImageType::Rgb48);
}

bool IsColorType(int type) {
  return type == static_cast<int>(ImageType::Rgb24) || type == static_cast<int>(ImageType::Rgb48);
}

bool IsType(const Kasa* image, ImageType type) {
  return image != nullptr && image->GetImageType() == static_cast<int>(type);
}

void SwapSampleBytes(void* sample, uint16_t size) {
  auto* b = static_cast<uint8_t*>(sample);
  if (size == 2) {
    const uint8_t t = b[0];
    b[0] = b[1];
    b[1] = t;
  } else if (size == 4) {
    uint8_t t = b[0];
    b[0] = b[3];
    b[3] = t;
    t = b[1];
    b[1] = b[2];
    b[2] = t;
  }
}

void SwapSamples16(uint16_t* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    samples[i] = static_cast<uint16_t>((samples[i] >> 8) | (samples[i] << 8));
  }
}

bool CpuHasAvx2() {
#if defined(MARLO_AVX2_VARIANTS)
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has;
#else
  return false;
#endif
}

int SamplesPerPixel(const Kasa& image) {
  const int type = image.GetImageType();
  return (type == static_cast<int>(ImageType::Rgb24) || type == static_cast<int>(ImageType::Rgb48))
             ? 3
             : 1;
}

template <>
size_t RowSamples<Depth8>(const Kasa& image) {
  return static_cast<size_t>(image.GetImageWidth()) * static_cast<size_t>(SamplesPerPixel(image));
}

template <>
size_t RowSamples<Depth16>(const Kasa& image) {
  return static_cast<size_t>(image.GetLineBytes() / 2);
}

template <>
void ReadRow<Depth8>(Kasa& image, int32_t y, uint8_t* row) {
  const int32_t last = image.GetImageWidth() - 1;
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Get24bitHorLine(0, last, y, row, nullptr);
  } else {
    image.GetGrayHorLine(0, last, y, row, nullptr);
  }
}

template <>
void WriteRow<Depth8>(Kasa& image, int32_t y, uint8_t* row) {
  const int32_t last = image.GetImageWidth() - 1;
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Put24bitHorLine(0, last, y, row);
  } else {
    image.PutGrayHorLine(0, last, y, row);
  }
}

namespace {

// Stored 16-bit samples (most significant byte first) to machine order and back, in one pass
// between the image's memory and a row buffer. Written so that the compiler vectorises them.
void LoadSamples16(const uint8_t* stored, uint16_t* row, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint16_t v;
    std::memcpy(&v, stored + 2 * i, 2);
    row[i] = static_cast<uint16_t>((v >> 8) | (v << 8));
  }
}

void StoreSamples16(const uint16_t* row, uint8_t* stored, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const auto v = static_cast<uint16_t>((row[i] >> 8) | (row[i] << 8));
    std::memcpy(stored + 2 * i, &v, 2);
  }
}

}  // namespace

template <>
void ReadRow<Depth16>(Kasa& image, int32_t y, uint16_t* row) {
  const uint8_t* stored = image.RowData(y);
  const size_t n = RowSamples<Depth16>(image);
  if (stored == nullptr) {
    SwapSamples16(row, n);  // as a refused line read followed by the swap always did
    return;
  }
  LoadSamples16(stored, row, n);
}

template <>
void WriteRow<Depth16>(Kasa& image, int32_t y, uint16_t* row) {
  uint8_t* stored = image.RowData(y);
  if (stored != nullptr) StoreSamples16(row, stored, RowSamples<Depth16>(image));
}

template <>
void WritePixels<Depth8>(Kasa& image, int32_t y, int32_t x0, int32_t x1, uint8_t* row) {
  if (image.GetImageType() == static_cast<int>(ImageType::Rgb24)) {
    image.Put24bitHorLine(x0, x1, y, row + 3 * static_cast<size_t>(x0));
  } else {
    image.PutGrayHorLine(x0, x1, y, row + x0);
  }
}

template <>
void WritePixels<Depth16>(Kasa& image, int32_t y, int32_t x0, int32_t x1, uint16_t* row) {
  uint8_t* stored = image.RowData(y);
  if (stored == nullptr || x0 < 0 || x1 < x0 || x1 >= image.GetImageWidth()) return;
  const size_t spp = static_cast<size_t>(SamplesPerPixel(image));
  const size_t first = spp * static_cast<size_t>(x0);
  const size_t n = spp * (static_cast<size_t>(x1) - static_cast<size_t>(x0) + 1);
  StoreSamples16(row + first, stored + 2 * first, n);
}

bool SameGeometry(const Kasa& a, const Kasa& b) {
  return !a.IsEmpty() && !b.IsEmpty() && a.GetImageType() == b.GetImageType() &&
         a.GetImageWidth() == b.GetImageWidth() && a.GetImageHeight() == b.GetImageHeight();
}

Status PrepareDestination(Kasa* src, Kasa* dst, bool (*accepts)(int type)) {
  if (src == nullptr || dst == nullptr || src->IsEmpty() || !accepts(src->GetImageType())) {
    return Status::Refused;
  }
  if (dst->IsEmpty()) {
    if (!dst->CreateImage(src->GetImageType(), src->GetImageWidth(), src->GetImageHeight(), 0,
                          nullptr, 0, 0, 15, 0, 0)) {
      return Status::NoMemory;
    }
    return Status::Ok;
  }
  return SameGeometry(*src, *dst) ? Status::Ok : Status::Refused;
}

Status CheckCoveringDestination(const Kasa* src, const Kasa* dst) {
  if (src == nullptr || dst == nullptr || src->IsEmpty() || dst->IsEmpty()) {
    return Status::Refused;
  }
  if (dst->GetImageType() != src->GetImageType() || dst->GetImageWidth() < src->GetImageWidth() ||
      dst->GetImageHeight() < src->GetImageHeight()) {
    return Status::Refused;
  }
  return Status::Ok;
}

Progress::Progress(ProgressCallback callback, int32_t start, int32_t end, int32_t rows)
    : callback_(callback),
      start_(start),
      end_(end),
      position_(start),
      accumulator_(static_cast<float>(start)),
      step_(0.0f) {
  // (end - start - 1) converted to single precision and divided by the row count; the quotient
  // is stored in single precision. The difference is formed in 64 bits: for ranges that do not
  // fit 32 bits a wrapped difference would turn a falling range into a rising one.
  const int64_t range = static_cast<int64_t>(end) - static_cast<int64_t>(start) - 1;
  const float divisor = static_cast<float>(rows);
  step_ = static_cast<float>(static_cast<float>(range) / divisor);
}

void Progress::Begin() {
  if (callback_ != nullptr) callback_(start_, end_, start_);
}

bool Progress::Step() {
  if (callback_ == nullptr) return true;
  accumulator_ = static_cast<float>(accumulator_ + step_);
  const float next = static_cast<float>(static_cast<int64_t>(position_) + 1);
  if (next < accumulator_) {
    // The truncated accumulator, capped at end. Values beyond the 32-bit range are above end.
    int32_t current = end_;
    if (accumulator_ < 2147483648.0f) {
      const int64_t t = static_cast<int64_t>(accumulator_);
      if (t < end_) current = static_cast<int32_t>(t);
    }
    // Once the cap has reported end, rounding drift of the accumulator over very many rows must
    // not report end again: every report is above the one before.
    if (current <= position_) return true;
    position_ = current;
    if (callback_(start_, end_, current) != 0) return false;
  }
  return true;
}

void Progress::Finish() {
  if (callback_ != nullptr && position_ != end_) callback_(start_, end_, end_);
}

namespace {

#if defined(_WIN32)

// On Windows the hooks default to the platform's own: the system wait cursor while a long filter
// runs, and a modal message box for the messages.

// The cursor belongs to the calling thread, so what it showed before is kept per thread. Only the
// outermost busy period of a thread changes the cursor, so nested periods restore the right one.
thread_local int t_busyDepth = 0;
thread_local HCURSOR t_cursorBefore = nullptr;

void DefaultBusyHandler(int busy) {
  if (busy != 0) {
    if (t_busyDepth++ == 0) {
      // IDC_WAIT (32514), spelled out so that it is the ANSI form whatever UNICODE says.
      t_cursorBefore = SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32514)));
    }
  } else if (t_busyDepth > 0 && --t_busyDepth == 0) {
    SetCursor(t_cursorBefore);
    t_cursorBefore = nullptr;
  }
}

// A modal box with an OK button and the exclamation icon. It belongs to the thread's active window
// when there is one (MB_APPLMODAL), else it disables every window of the thread (MB_TASKMODAL).
// Its caption is the host program's name: its file name without folder and extension.
void DefaultMessageHandler(const char* text) {
  char caption[MAX_PATH + 1] = {};
  const char* title = nullptr;  // "Error" when the name cannot be had
  const DWORD length = GetModuleFileNameA(nullptr, caption, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    char* name = caption;
    for (char* p = caption; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
    }
    if (char* dot = std::strrchr(name, '.')) *dot = '\0';
    if (*name != '\0') title = name;
  }
  HWND owner = GetActiveWindow();
  const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
  MessageBoxA(owner, text != nullptr ? text : "", title, MB_OK | MB_ICONEXCLAMATION | modality);
}

std::atomic<MarloMessageHandler> g_messageHandler{&DefaultMessageHandler};
std::atomic<MarloBusyHandler> g_busyHandler{&DefaultBusyHandler};

#else

void DefaultMessageHandler(const char* text) {
  std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
}

std::atomic<MarloMessageHandler> g_messageHandler{&DefaultMessageHandler};
std::atomic<MarloBusyHandler> g_busyHandler{nullptr};

#endif

}  // namespace

BusyScope::BusyScope() : handler_(g_busyHandler.load()) {
  if (handler_ != nullptr) handler_(1);
}

BusyScope::~BusyScope() {
  if (handler_ != nullptr) handler_(0);
}

void ShowMessage(const char* text) {
  MarloMessageHandler handler = g_messageHandler.load();
  if (handler != nullptr) handler(text);
}

}  // namespace marlo

extern "C" {

MarloMessageHandler MarloSetMessageHandler(MarloMessageHandler handler) {
  return marlo::g_messageHandler.exchange(handler != nullptr ? handler
                                                             : &marlo::DefaultMessageHandler);
}

MarloBusyHandler MarloSetBusyHandler(MarloBusyHandler handler) {
  return marlo::g_busyHandler.exchange(handler);
}

}  // extern "C"
