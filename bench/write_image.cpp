// Writes the benchmark image of one type as a binary PNM file, so that other programs can be
// timed on exactly the pixels marlo's benchmarks use: marlo_bench_image TYPE FILE, with TYPE
// one of Rgb24, Gray8, Rgb48, Gray16.
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_images.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s Rgb24|Gray8|Rgb48|Gray16 FILE\n", argv[0]);
    return 2;
  }
  ImageType type = ImageType::Rgb24;
  bool known = false;
  for (ImageType t : {ImageType::Rgb24, ImageType::Gray8, ImageType::Rgb48, ImageType::Gray16}) {
    if (std::strcmp(argv[1], marlo::bench::TypeName(t)) == 0) {
      type = t;
      known = true;
    }
  }
  if (!known) {
    std::fprintf(stderr, "unknown type %s\n", argv[1]);
    return 2;
  }
  Kasa& image = marlo::bench::SourceImage(type);
  const bool colour = type == ImageType::Rgb24 || type == ImageType::Rgb48;
  const bool wide = type == ImageType::Rgb48 || type == ImageType::Gray16;
  const int spp = colour ? 3 : 1;
  const int bytes = wide ? 2 : 1;
  std::FILE* out = std::fopen(argv[2], "wb");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  std::fprintf(out, "P%d\n%d %d\n%d\n", colour ? 6 : 5, image.GetImageWidth(),
               image.GetImageHeight(), wide ? 65535 : 255);
  std::string row(static_cast<size_t>(image.GetImageWidth()) * spp * bytes, '\0');
  for (int32_t y = 0; y < image.GetImageHeight(); ++y) {
    const uint8_t* src = image.RowData(y);
    // PNM holds red, green, blue (most significant byte first); the store holds blue first.
    for (int32_t x = 0; x < image.GetImageWidth(); ++x) {
      for (int s = 0; s < spp; ++s) {
        const int from = colour ? 2 - s : 0;
        for (int b = 0; b < bytes; ++b) {
          row[(static_cast<size_t>(x) * spp + s) * bytes + b] =
              static_cast<char>(src[(static_cast<size_t>(x) * spp + from) * bytes + b]);
        }
      }
    }
    std::fwrite(row.data(), 1, row.size(), out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}
