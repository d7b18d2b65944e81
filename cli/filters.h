// The table of filters the tool offers: subcommand name, export, options with their ranges, and
// how each export is called.
#ifndef MARLO_CLI_FILTERS_H
#define MARLO_CLI_FILTERS_H

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "marlo.h"
#include "marlo_io.h"

namespace CLI {
class App;
}

namespace cli {

namespace io = marlo::io;

// A usage problem found after the command line was parsed (an option that does not fit the
// image, for example): exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One configured filter of a chain. Its option values are bound by AddOptions and fixed once
// the command line is parsed; Run may then be called from several threads at once.
class Filter {
 public:
  virtual ~Filter() = default;
  // Declares the subcommand's options on `app`.
  virtual void AddOptions(CLI::App* app) = 0;
  // Checks option combinations after parsing; throws UsageError.
  virtual void Finish() {}
  // Checks the options against an image's size before its pixels are read; throws UsageError.
  virtual void CheckImage(const io::ImageInfo&) const {}
  // Runs the export from `src` into `dst`, which holds a copy of `src` (same type, size and
  // pixels). Returns true when the export reported success.
  virtual bool Run(Kasa* src, Kasa* dst, ProgressCallback callback) const = 0;
};

// What the tool must know about a filter besides its options.
enum FilterTraits : unsigned {
  kPlain = 0,        // takes every image type and leaves pixels where they are
  kColourOnly = 1,   // accepts 24/48-bit RGB only: grey pictures are turned into RGB first
  kMovesPixels = 2,  // a distortion: the alpha channel is moved with the pixels
};

struct FilterEntry {
  const char* name;        // the subcommand
  const char* exportName;  // the library export it calls
  const char* summary;     // one line for `marlo list` and --help
  unsigned traits;         // FilterTraits
  std::function<std::unique_ptr<Filter>()> make;

  bool colourOnly() const { return (traits & kColourOnly) != 0; }
  bool movesPixels() const { return (traits & kMovesPixels) != 0; }
};

// Every filter, in the order `marlo list` shows them.
const std::vector<FilterEntry>& Filters();
const FilterEntry* FindFilter(const std::string& name);

}  // namespace cli

#endif  // MARLO_CLI_FILTERS_H
