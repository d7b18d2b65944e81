// Options on the command line: the table's options declared on a CLI11 command with validators
// that refuse a value outside its range with a line naming the range, and the values read back.
#ifndef MARLO_CLI_OPTIONS_H
#define MARLO_CLI_OPTIONS_H

#include <CLI/CLI.hpp>
#include <cstdint>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "marlo_io.h"
#include "option_table.h"

namespace cli {

namespace io = marlo::io;

// A usage problem found after the command line was parsed (an option that does not fit the
// image, for example): exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A point "X,Y" (column, row from the top left).
struct Point {
  int32_t x = 0;
  int32_t y = 0;
};

// The values of a set of options: the text given on the command line, or the table's default.
// Bind declares the options on a command; Freeze, after parsing, records which were given.
class Values {
 public:
  void Bind(CLI::App* app, const std::vector<OptionDecl>& decls);
  void Freeze();

  bool Given(const std::string& name) const { return given_.count(name) != 0; }
  // The text given, else the default (empty when there is none).
  std::string Text(const std::string& name) const;
  int32_t Int(const std::string& name) const;
  double Real(const std::string& name) const;
  std::vector<int32_t> Ints(const std::string& name) const;
  Point ToPoint(const std::string& name) const;
  // Throws UsageError when the point option `name` lies outside the image.
  void CheckInside(const std::string& name, const io::ImageInfo& info) const;

 private:
  const std::vector<OptionDecl>* decls_ = nullptr;
  std::map<std::string, std::string> text_;  // by long name; bound to the command's options
  std::map<std::string, CLI::Option*> options_;
  std::set<std::string> given_;
};

}  // namespace cli

#endif  // MARLO_CLI_OPTIONS_H
