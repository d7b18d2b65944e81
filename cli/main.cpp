// The marlo command-line tool.
#include <string>
#include <vector>

#include "commands.h"
#include "marlo.h"
#include "progress.h"

int main(int argc, char** argv) {
  cli::InstallSignalHandlers();
  // The distortion effects report bad parameters through the message handler; the tool shows
  // that text as the file's error line.
  MarloSetMessageHandler(cli::MessageHook);
  std::vector<std::string> args(argv + 1, argv + argc);
  return cli::Main(args);
}
