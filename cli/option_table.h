// The tool's commands and options as plain data: every filter with its options, the options every
// filter takes, and the other commands. Each option has its names, the form and range of its
// value, its default and its help. The command line is parsed from this table, the manual page
// and the shell completions are generated from it at build time, and a second front end can read
// it (it depends on nothing but the standard library).
#ifndef MARLO_CLI_OPTION_TABLE_H
#define MARLO_CLI_OPTION_TABLE_H

#include <string>
#include <vector>

namespace cli {

enum class ValueKind {
  Flag,   // no value
  Int,    // one whole number in lo..hi
  Real,   // one number in lo..hi
  Ints,   // comma-separated whole numbers, as many as `counts` allows: the first in lo..hi, the
          // others in lo2..hi2
  Point,  // X,Y: column and row from the top left, each in 0..2147483647; checked against each
          // image's size
  Word,   // one of `words`
  Path,   // a file or directory name
};

struct OptionDecl {
  const char* names;  // "--strength", or a short and a long name: "-j,--jobs"
  ValueKind kind;
  const char* metavar;  // the value's placeholder: "S", "R,G,B"
  double lo, hi;        // Int, Real, Ints: the accepted range
  double lo2, hi2;      // Ints: the range of the second and later numbers
  int counts[2];        // Ints: the numbers of values accepted, e.g. {1, 3} or {3, 3}
  const char* value;    // the default as the option would give it; nullptr: none (the option is
                        // required, or its absence has a meaning of its own, told in `detail`)
  bool required;
  const char* help;    // what the option sets; the range and default follow it in --help
  const char* detail;  // more, after the range (may be empty)
  const char* words;   // Word: the accepted words, separated by '|'; the first ones shown in
                       // help up to `shownWords`
  int shownWords;
  const char* excludes;  // options that cannot be given with this one, separated by spaces
  const char* needs;     // options that must be given with this one
};

// What the tool must know about a filter besides its options.
enum FilterTraits : unsigned {
  kPlain = 0,        // takes every image type and leaves pixels where they are
  kColourOnly = 1,   // accepts 24/48-bit RGB only: grey pictures are turned into RGB first
  kMovesPixels = 2,  // a distortion: the alpha channel is moved with the pixels
};

struct FilterDecl {
  const char* name;        // the subcommand
  const char* exportName;  // the library export it calls
  const char* summary;     // one line for `marlo list`, --help and the manual
  unsigned traits;         // FilterTraits
  std::vector<OptionDecl> options;
  const char* oneOf;  // options of which at least one must be given, separated by spaces
  const char* rule;   // the line that says so when none is (empty without `oneOf`)
};

struct CommandDecl {
  const char* name;
  const char* summary;
  const char* operand;  // the positional arguments' placeholder ("FILE..."), or empty
  bool operandRequired;
  std::vector<OptionDecl> options;
};

// Every filter, in the order `marlo list` shows them.
const std::vector<FilterDecl>& FilterDecls();
// The options every filter takes (input, output, files and progress).
const std::vector<OptionDecl>& CommonOptionDecls();
// The placeholder of a filter's input files.
constexpr const char* kInputsOperand = "INPUT...";
// The commands other than filters: list, info, demo.
const std::vector<CommandDecl>& CommandDecls();
// The end of every --help, in paragraphs whose first word names them: chaining, files and exit
// statuses.
extern const char* const kHelpFooter;
// The word that joins filters into a chain.
constexpr const char* kChainWord = "then";

// The long name of an option ("--jobs" of "-j,--jobs"), and its short one ("-j", or empty).
std::string LongName(const OptionDecl& option);
std::string ShortName(const OptionDecl& option);
// The words of a Word option.
std::vector<std::string> Words(const OptionDecl& option);
// The accepted range as help shows it: "-100..100", "0.000001..100000", "H in -180..180, S and
// L in -100..100"; empty for options without one.
std::string RangeText(const OptionDecl& option);
// The whole help line: help, range, default or "required", detail.
std::string HelpText(const OptionDecl& option);

}  // namespace cli

#endif  // MARLO_CLI_OPTION_TABLE_H
