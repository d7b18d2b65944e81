// Interruption (Ctrl-C), the progress bar on standard error, and the per-thread context that the
// library's progress callback and message handler report into.
#ifndef MARLO_CLI_PROGRESS_H
#define MARLO_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "marlo.h"

namespace cli {

// Installs the handlers of the signals that end a run: SIGINT (Ctrl-C), SIGTERM, SIGHUP (a closed
// terminal), SIGQUIT and SIGPIPE (a closed output pipe, whose write also fails). The first one
// asks the work to stop, which removes the temporary files on its way out; a second one removes
// the temporary files still pending and exits with status 130 at once.
void InstallSignalHandlers();
// True once the user asked to stop.
bool InterruptRequested();
// Throws Interrupted when the user asked to stop.
void CheckInterrupt();

// One line on standard error, redrawn at most ten times a second: the current stage, the
// percentage of the whole run, and the elapsed time. Disabled when standard error is not a
// terminal or with --quiet; messages go through Print so that they do not mix with the bar.
class ProgressBar {
 public:
  ProgressBar(bool enabled, int files);
  ~ProgressBar();
  // Fraction (0..1) of file `slot` done, with a short label of what it is doing.
  void Update(int slot, double fraction, const char* stage);
  void FileDone(int slot);
  // Prints one line of text on standard error (a newline is added).
  void Print(const std::string& line);
  void Finish();

 private:
  void Draw(bool force);
  void Clear();

  bool enabled_;
  int files_;
  std::mutex mutex_;
  std::vector<double> fractions_;
  std::string stage_;
  int done_ = 0;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point lastDraw_;
};

// What the library's callbacks report into, one per thread running a file.
struct JobContext {
  ProgressBar* bar = nullptr;
  int slot = 0;
  // The part of the file's work that the running filter covers.
  double base = 0.0;
  double span = 1.0;
  const char* stage = "";
  bool aborted = false;  // the progress callback asked the filter to stop
  std::string messages;  // texts received through the message handler
};

// Sets the calling thread's context (null to clear).
void SetJobContext(JobContext* context);
JobContext* CurrentJobContext();

// The range passed to every filter; the callback turns values into fractions of it.
constexpr int32_t kProgressEnd = 1000;
int32_t MARLO_STDCALL ProgressHook(int32_t start, int32_t end, int32_t current);
// Receives the distortion effects' messages into the current job's context.
void MessageHook(const char* text);

}  // namespace cli

#endif  // MARLO_CLI_PROGRESS_H
