// A program outside the tree: brightens a 48-bit image through the installed library and, with
// the io library, writes it as PNM and reads it back.
#include <marlo.h>

#include <cstdio>
#ifdef MARLO_CONSUMER_IO
#include <marlo_io.h>
#endif

int main(int argc, char** argv) {
  Kasa src, dst;
  if (!src.CreateImage(static_cast<int>(ImageType::Rgb48), 3, 2, 0, nullptr, 0, 0, 15, 0, 0))
    return 1;
  src.SetPixelRGB(1, 1, 0x0000'1234'5678'9ABCLL);  // blue 0x1234, green 0x5678, red 0x9ABC
  const int32_t contrast[3] = {0, 0, 0};
  const int32_t brightness[3] = {50, 0, 0};
  if (CBEnhancement(&src, &dst, contrast, brightness, nullptr, 0, 100) != 1) return 2;
  int64_t v = 0;
#ifdef MARLO_CONSUMER_IO
  // The file named by the first argument holds the result; it is read back into a new image.
  namespace io = marlo::io;
  if (argc < 2) return 4;
  io::Picture picture;
  picture.pixels.reset(new Kasa);
  picture.pixels->CopyImage(&dst);
  io::Write(picture, io::Format::Pnm, argv[1]);
  io::Read(argv[1]).pixels->GetPixelRGB(1, 1, &v);
#else
  (void)argc;
  (void)argv;
  dst.GetPixelRGB(1, 1, &v);
#endif
  const unsigned red = static_cast<unsigned>(v & 0xFFFF);
  std::printf("red 0x9ABC -> 0x%04X\n", red);
  // Brightness 50 at slope 1 shifts red by half the range: it saturates at 65535.
  return (red == 0xFFFF && ((v >> 16) & 0xFFFF) == 0x5678) ? 0 : 3;
}
