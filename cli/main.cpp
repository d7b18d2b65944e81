// The marlo command-line tool.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "marlo.h"
#include "pipeline.h"
#include "progress.h"

int main(int argc, char** argv) {
  // Descriptors 0, 1 and 2 must be open before any file is: a closed one would be handed to the
  // next file opened (an input taken for standard output). A closed one is opened on /dev/null
  // the other way round, so that using it fails instead of losing data.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF &&
        open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) {
      return cli::kExitFailure;
    }
  }
  cli::InstallSignalHandlers();
  // The distortion effects report bad parameters through the message handler; the tool shows
  // that text as the file's error line.
  MarloSetMessageHandler(cli::MessageHook);
  std::vector<std::string> args(argv + 1, argv + argc);
  int status = cli::Main(args);
  if ((std::fflush(stdout) != 0 || std::ferror(stdout)) && status == cli::kExitOk) {
    std::fprintf(stderr, "marlo: cannot write to standard output\n");
    status = cli::kExitFailure;
  }
  return status;
}
