// The command line: subcommands, chaining, list, info and demo.
#ifndef MARLO_CLI_COMMANDS_H
#define MARLO_CLI_COMMANDS_H

#include <string>
#include <vector>

namespace cli {

// Runs the tool with the arguments after the program name; returns the exit status.
int Main(const std::vector<std::string>& args);

// Parses one filter chain given as command-line words (as after `marlo`) and runs it; used by
// Main and by the demo. Returns the exit status; errors are printed on standard error.
int RunCommandLine(const std::vector<std::string>& args);

// `marlo demo`: writes the gallery into `dir`; `samples` is the folder of sample photos (empty:
// the built-in search). Returns the exit status.
int RunDemo(const std::string& dir, const std::string& samples, bool quiet);

}  // namespace cli

#endif  // MARLO_CLI_COMMANDS_H
