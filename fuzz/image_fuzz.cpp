// Decodes one file of a single format through the io library's codecs, as `marlo` does:
// the header first, the size limit checked before any pixel is decoded, then the pixels. Any
// outcome other than a picture of the announced size or a FileError is a finding, as is a
// crash, a leak or undefined behaviour. The format is chosen at compile time (FUZZ_FORMAT).
//
// The limit of 4 megapixels gives every decode the tool's memory budget at that limit: at most
// 2 x 32 MiB + 16 MiB (a JPEG of several scans 3 x 12 MiB + 16 MiB). scripts/reliability.sh runs
// these targets with -malloc_limit_mb=96, so any larger allocation is reported as a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "codecs.h"

namespace {

// Small enough for the fuzzer to stay fast, large enough for every header path.
constexpr double kMaxMegapixels = 4.194304;

std::unique_ptr<marlo::io::Decoder> Open(FILE* file, const marlo::io::Limits& limits) {
#if FUZZ_FORMAT == 0
  return marlo::io::OpenPng(file, limits);
#elif FUZZ_FORMAT == 1
  return marlo::io::OpenJpeg(file, limits);
#elif FUZZ_FORMAT == 2
  return marlo::io::OpenTiff(file, limits);
#else
  return marlo::io::OpenPnm(file, limits);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A real file descriptor (the TIFF reader works on one), held in memory.
  const int fd = memfd_create("fuzz-input", 0);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return 0;
  }
  try {
    marlo::io::Limits limits;
    limits.maxMegapixels = kMaxMegapixels;
    std::unique_ptr<marlo::io::Decoder> decoder = Open(file, limits);
    const marlo::io::ImageInfo& info = decoder->Info();
    if (info.width < 1 || info.height < 1) {
      std::fprintf(stderr, "a header announced %d x %d without an error\n", info.width,
                   info.height);
      std::abort();
    }
    marlo::io::Picture picture;
    decoder->Decode(&picture, [](int32_t, int32_t) {});  // refuses larger pictures first
    if (!picture.pixels || picture.pixels->GetImageWidth() != info.width ||
        picture.pixels->GetImageHeight() != info.height) {
      std::fprintf(stderr, "decoded picture does not have the announced size\n");
      std::abort();
    }
  } catch (const marlo::io::FileError&) {
    // A clear error for a corrupt, truncated or unsupported file: the expected outcome.
  }
  std::fclose(file);
  return 0;
}
