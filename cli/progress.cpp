#include "progress.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "marlo_io.h"

namespace cli {
namespace {

std::atomic<int> g_signals{0};

extern "C" void OnSignal(int) {
  if (g_signals.fetch_add(1) >= 1) {
    // Second signal: the work has not stopped quickly enough. Remove what would be left
    // behind and leave at once (only async-signal-safe calls here).
    marlo::io::RemovePendingFiles();
    _exit(130);
  }
}

thread_local JobContext* t_context = nullptr;

std::string Elapsed(std::chrono::steady_clock::duration d) {
  const long seconds =
      static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(d).count());
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

}  // namespace

void InstallSignalHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns so the work can stop
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
    sigaction(signal, &action, nullptr);
}

bool InterruptRequested() {
  return g_signals.load() > 0;
}

void CheckInterrupt() {
  if (InterruptRequested()) throw marlo::io::Interrupted();
}

ProgressBar::ProgressBar(bool enabled, int files)
    : enabled_(enabled),
      files_(files),
      fractions_(static_cast<size_t>(files > 0 ? files : 1), 0.0),
      start_(std::chrono::steady_clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() {
  Finish();
}

void ProgressBar::Update(int slot, double fraction, const char* stage) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot >= 0 && static_cast<size_t>(slot) < fractions_.size()) {
    fractions_[slot] = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
  }
  stage_ = stage;
  Draw(false);
}

void ProgressBar::FileDone(int slot) {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (slot >= 0 && static_cast<size_t>(slot) < fractions_.size()) fractions_[slot] = 1.0;
  ++done_;
  Draw(false);
}

void ProgressBar::Print(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  Clear();
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  if (enabled_) Draw(true);
}

void ProgressBar::Finish() {
  if (!enabled_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  Clear();
  enabled_ = false;
}

void ProgressBar::Clear() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
  }
}

void ProgressBar::Draw(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  // Nothing for the first half second: quick runs stay silent.
  if (now - start_ < std::chrono::milliseconds(500)) return;
  lastDraw_ = now;
  double sum = 0;
  for (double f : fractions_) sum += f;
  const double whole = sum / static_cast<double>(fractions_.size());
  const int width = 30;
  const int filled = static_cast<int>(whole * width);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(width - filled), '.');
  char text[160];
  if (files_ > 1) {
    std::snprintf(text, sizeof text, "\r\033[K[%s] %3d%%  %s  %d/%d files  %s", bar.c_str(),
                  static_cast<int>(whole * 100), Elapsed(now - start_).c_str(), done_, files_,
                  stage_.c_str());
  } else {
    std::snprintf(text, sizeof text, "\r\033[K[%s] %3d%%  %s  %s", bar.c_str(),
                  static_cast<int>(whole * 100), Elapsed(now - start_).c_str(), stage_.c_str());
  }
  std::fputs(text, stderr);
  std::fflush(stderr);
  drawn_ = true;
}

void SetJobContext(JobContext* context) {
  t_context = context;
}
JobContext* CurrentJobContext() {
  return t_context;
}

int32_t MARLO_STDCALL ProgressHook(int32_t, int32_t, int32_t current) {
  JobContext* job = t_context;
  if (job) {
    if (job->bar) {
      double f = static_cast<double>(current) / kProgressEnd;
      if (f < 0) f = 0;
      if (f > 1) f = 1;
      job->bar->Update(job->slot, job->base + job->span * f, job->stage);
    }
    if (InterruptRequested()) {
      job->aborted = true;
      return 1;
    }
  }
  return InterruptRequested() ? 1 : 0;
}

void MessageHook(const char* text) {
  JobContext* job = t_context;
  if (job) {
    if (!job->messages.empty()) job->messages += "; ";
    job->messages += text ? text : "";
  } else {
    std::fprintf(stderr, "marlo: %s\n", text ? text : "");
  }
}

}  // namespace cli
