// The tool's option table (cli/option_table.h) as the Python module uses it: filters and common
// options configured from option words exactly as the command line parses them, so that every
// keyword argument has the range, default and meaning of the tool's option.
#ifndef MARLO_PYTHON_TOOL_H
#define MARLO_PYTHON_TOOL_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters.h"
#include "jobs.h"

namespace marlo_py {

// An option value the tool refuses, or options that do not go together. The text is the tool's,
// naming options by their long names ("--strength: value 500 is out of range; accepted range
// -100..400").
class OptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The values of `decls` set by `words` (each "--name=value"), checked by the tool's validators
// and rules (required options, exclusions, options that need others). Throws OptionError.
cli::Values ParseOptions(const std::vector<cli::OptionDecl>& decls,
                         const std::vector<std::string>& words);

// The filter called `name` (the subcommand) configured from `words`; *entry receives its entry.
// Throws OptionError for an unknown filter or refused options.
std::unique_ptr<cli::Filter> Configure(const std::string& name,
                                       const std::vector<std::string>& words,
                                       const cli::FilterEntry** entry);

// Throws OptionError when an option of `filter` does not fit an image of this size (a point
// outside it).
void CheckImage(const cli::Filter& filter, int32_t width, int32_t height);

// The run's settings from words of the tool's common options (--quality, --compression,
// --png-filter, --max-megapixels, --format), each from the table's default when not given, as
// the tool takes them. Throws OptionError.
cli::Settings SettingsFrom(const std::vector<std::string>& words);

// The file library's write options for `settings`, as the tool writes its outputs.
cli::io::WriteOptions WriteOptionsFor(const cli::Settings& settings);

}  // namespace marlo_py

#endif  // MARLO_PYTHON_TOOL_H
