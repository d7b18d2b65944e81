// Peak memory of each export: for every export and accepted type, the source and a destination
// holding a copy of it are made resident first; then the kernel's peak-resident mark is reset
// (clear_refs 5), the export runs once, and the rise of the peak over the resident size before
// the call is the filter's own working memory (line buffers, tables, planes). Prints one line per
// export and type: name, type, image MB, working MB, and the working memory as a share of one
// image.
//
// marlo_bench_memory [--json]
#include <malloc.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "bench_images.h"
#include "export_calls.h"

namespace {

// A field of /proc/self/status in kB (VmRSS, VmHWM), or -1.
long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
      return std::stol(line.substr(length + 1));
    }
  }
  return -1;
}

bool ResetPeak() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

double ImageMegabytes(Kasa& image) {
  return static_cast<double>(image.GetLineBytes()) * image.GetImageHeight() / 1048576.0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  // Large blocks always come from their own mappings and freed memory goes back to the system,
  // so that one call's freed buffers are not resident, uncounted, for the next.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024);
  if (!ResetPeak() || StatusKb("VmHWM") < 0) {
    std::fprintf(stderr, "marlo_bench_memory: the peak-resident mark cannot be reset here\n");
    return 1;
  }
  if (json) std::printf("[\n");
  bool first = true;
  for (const auto& call : marlo::test::ExportCalls()) {
    for (ImageType type : marlo::test::kAllTypes) {
      if (!call.Accepts(type)) continue;
      Kasa& src = marlo::bench::SourceFor(call.name, type);
      Kasa dst;
      dst.CopyImage(&src);  // resident: CopyImage writes every byte
      malloc_trim(0);
      const long before = StatusKb("VmRSS");
      ResetPeak();
      call.Run(&src, &dst, nullptr, 0);
      const long peak = StatusKb("VmHWM");
      const double image = ImageMegabytes(src);
      const double working = static_cast<double>(peak > before ? peak - before : 0) / 1024.0;
      if (json) {
        std::printf("%s  {\"name\": \"%s/%s\", \"image_mb\": %.1f, \"working_mb\": %.1f}",
                    first ? "" : ",\n", call.name, marlo::bench::TypeName(type), image, working);
      } else {
        std::printf("%-20s %-7s image %6.1f MB  working %7.1f MB  (%.2f images)\n", call.name,
                    marlo::bench::TypeName(type), image, working, working / image);
      }
      first = false;
    }
  }
  if (json) std::printf("\n]\n");
  return 0;
}
