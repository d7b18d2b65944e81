// Running a chain of filters over files: reading, size limit, filtering with progress and
// interruption, writing, batches in parallel.
#ifndef MARLO_CLI_PIPELINE_H
#define MARLO_CLI_PIPELINE_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "filters.h"
#include "jobs.h"

namespace cli {

// Exit statuses of the tool.
enum ExitStatus { kExitOk = 0, kExitFailure = 1, kExitUsage = 2, kExitInterrupted = 130 };

struct ChainStep {
  const FilterEntry* entry;
  std::unique_ptr<Filter> filter;
};

using Chain = std::vector<ChainStep>;

// The outcome of one file.
struct FileResult {
  ExitStatus status = kExitOk;
  std::string message;  // the one-line error, without the "marlo: " prefix
  double seconds = 0;   // time spent in the filters
};

// Processes every input of `settings` through `chain` and prints errors and, for several
// files, a summary line. Returns the exit status.
int RunChain(const Chain& chain, const Settings& settings);

// Reads `input`, runs the chain and writes `output` in `format` (without one, in the input's
// own format); used by the batch and by the demo. `bar` may be null.
class ProgressBar;
FileResult ProcessFile(const Chain& chain, const Settings& settings, const std::string& input,
                       const std::string& output, std::optional<io::Format> format,
                       ProgressBar* bar, int slot);

}  // namespace cli

#endif  // MARLO_CLI_PIPELINE_H
