#include <cstdio>
#include "commands.h"
namespace cli {
int RunDemo(const std::string&, const std::string&, bool) {
  std::fprintf(stderr, "marlo: demo not ready\n");
  return 1;
}
}  // namespace cli
