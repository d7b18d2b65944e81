// The filters the tool offers: each entry of the option table with the call of its export.
#ifndef MARLO_CLI_FILTERS_H
#define MARLO_CLI_FILTERS_H

#include <string>
#include <vector>

#include "marlo.h"
#include "marlo_io.h"
#include "option_table.h"
#include "options.h"

namespace cli {

// How a filter's export is called with its option values.
struct FilterEntry {
  const FilterDecl* decl;
  // Runs the export from `src` into `dst`, which holds a copy of `src` (same type, size and
  // pixels). Returns true when the export reported success.
  bool (*run)(const Values& v, Kasa* src, Kasa* dst, ProgressCallback callback);

  const char* name() const { return decl->name; }
  const char* exportName() const { return decl->exportName; }
  bool colourOnly() const { return (decl->traits & kColourOnly) != 0; }
  bool movesPixels() const { return (decl->traits & kMovesPixels) != 0; }
};

// One configured filter of a chain: its entry and the option values of its part of the command
// line, fixed once parsed; Run may be called from several threads at once.
class Filter {
 public:
  Filter(const FilterEntry* entry, Values values) : entry_(entry), values_(std::move(values)) {}
  // Checks the option combination after parsing; throws UsageError.
  void Finish() const;
  // Checks the options against an image's size before its pixels are read; throws UsageError.
  void CheckImage(const io::ImageInfo& info) const;
  bool Run(Kasa* src, Kasa* dst, ProgressCallback callback) const {
    return entry_->run(values_, src, dst, callback);
  }

 private:
  const FilterEntry* entry_;
  Values values_;
};

// Every filter, in the order of the table.
const std::vector<FilterEntry>& Filters();
const FilterEntry* FindFilter(const std::string& name);

}  // namespace cli

#endif  // MARLO_CLI_FILTERS_H
