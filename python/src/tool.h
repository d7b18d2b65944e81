// The tool's filter table (cli/filters.h) as the Python module reads it: each subcommand's options
// with their kinds, and filters configured from option words exactly as the command line parses
// them, so that every keyword argument has the range, default and meaning of the tool's option.
#ifndef MARLO_PYTHON_TOOL_H
#define MARLO_PYTHON_TOOL_H

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "filters.h"

namespace CLI {
class App;
}

namespace marlo_py {

// An option value the tool refuses, or options that do not go together. The text is the tool's,
// naming options by their long flags ("--strength: value 500 is out of range; accepted range
// -100..400").
class OptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How a Python value is written as the option's text.
enum class OptionKind {
  Int,          // one whole number
  Real,         // one number
  Point,        // X,Y
  Triple,       // three whole numbers
  IntOrTriple,  // one whole number for all channels, or three
};

struct OptionInfo {
  std::string flag;  // the long name without dashes ("from", "red")
  OptionKind kind;
  bool required;
  std::string help;      // the tool's help text: meaning, range and default
  std::string typeName;  // the tool's value form ("X,Y", "C|R,G,B")
};

struct FilterInfo {
  const cli::FilterEntry* entry;
  std::vector<OptionInfo> options;
};

// Every filter of the tool, in its order, with its options.
const std::vector<FilterInfo>& FilterTable();

// A filter whose options are set: Run may be called any number of times, from any thread.
class ConfiguredFilter {
 public:
  ConfiguredFilter(const cli::FilterEntry* entry, const std::vector<std::string>& words);
  ~ConfiguredFilter();
  const cli::FilterEntry& entry() const { return *entry_; }
  cli::Filter& filter() const { return *filter_; }
  // Moves the filter out (into a chain); the object must outlive it.
  std::unique_ptr<cli::Filter> Release() { return std::move(filter_); }
  // Throws OptionError when an option does not fit an image of this size (a point outside it).
  void CheckImage(int32_t width, int32_t height) const;

 private:
  const cli::FilterEntry* entry_;
  std::unique_ptr<CLI::App> app_;
  std::unique_ptr<cli::Filter> filter_;
};

// The filter named `name` (the subcommand, "sharpen-circle") configured from `words`, each
// "--flag=value". Throws OptionError for an unknown filter or a refused option.
std::unique_ptr<ConfiguredFilter> Configure(const std::string& name,
                                            const std::vector<std::string>& words);

}  // namespace marlo_py

#endif  // MARLO_PYTHON_TOOL_H
