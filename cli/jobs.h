// The run's settings from the command line, and the plan made from them before any file is read:
// which file each input is written to, and in which format.
#ifndef MARLO_CLI_JOBS_H
#define MARLO_CLI_JOBS_H

#include <optional>
#include <string>
#include <vector>

#include "filters.h"

namespace cli {

// The common options of the whole chain (the defaults here are the table's).
struct Settings {
  std::vector<std::string> inputs;
  std::string output;          // a file, a directory (several inputs, or ending in '/'), or '-'
  bool inPlace = false;        // writing over an input is allowed
  bool quiet = false;          // no progress bar, no notes
  int jobs = 0;                // files processed at once; 0: one per core, at most one per file
  int threads = 0;             // threads per file; 0: the cores divided among the files at once
  double maxMegapixels = 200;  // larger images are refused before their pixels are decoded
  int quality = 92;            // JPEG quality
  int compression = -1;        // deflate level of PNG and TIFF; -1: io::kRunLengthDeflate
  std::string pngFilter = "paeth";  // the PNG row filter
  std::string format;               // output format when the name does not say (or for '-')
};

struct Job {
  std::string input;                 // a path, or "-" for standard input
  std::string output;                // a path, or "-" for standard output
  std::optional<io::Format> format;  // none: the input's own format
};

// One job per input: -o FILE, -o - (one input), -o DIRECTORY/ (each input under its own name,
// with the --format extension when given), or over the input itself with --in-place. Throws
// UsageError for a plan that cannot work (no input, no output, an input that would be
// overwritten without --in-place, two inputs onto one output, an output that exists and is not
// a regular file, --format naming another format than the output's extension, ...) and
// io::FileError when the output directory cannot be created. The directory is made only once
// the plan holds; `createdDirectory` receives its name (empty when it existed already), for the
// caller to remove when the batch leaves it empty.
std::vector<Job> PlanJobs(const Settings& settings, std::string* createdDirectory = nullptr);

}  // namespace cli

#endif  // MARLO_CLI_JOBS_H
