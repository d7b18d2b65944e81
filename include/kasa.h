// kasa.h - the image store used by the marlo filters.
//
// A Kasa object holds one image (or nothing). Callers read and write it through the line and
// pixel operations below, every one of which checks what it is given: a position, row or column
// range outside the image, an unknown type or a null buffer makes the operation do nothing and
// return 0 (readers of single pixels then return 0 and store 0 through their result pointer).
// No member reads or writes outside the image's own memory, whatever a caller passes. Callers
// that move whole rows may also take the stored bytes of a row (RowData) and stay within them;
// in the marlo library only the frame's row module (frame/rows.h) does.
//
// Image types (GetImageType):
//   Rgb24  (1): three 8-bit samples per pixel.
//   Gray8  (5): one 8-bit sample per pixel.
//   Rgb48  (9): three 16-bit samples per pixel.
//   Gray16 (10): one 16-bit sample per pixel.
//
// Memory layout of a row (GetHorLine / PutHorLine, RowData): GetLineBytes() bytes, the pixel
// bytes rounded up to a multiple of 4 (as in device-independent bitmaps), so odd widths carry
// padding at the end of the row. 24-bit pixels are stored blue, green, red. 16-bit samples are
// stored most significant byte first; a 48-bit pixel is blue, green, red.
//
// Pixel packings (GetPixel / SetPixel / GetPixelRGB / SetPixelRGB). "24-bit packing" means
// red * 65536 + green * 256 + blue; "48-bit packing" means red in bits 0-15, green in bits
// 16-31 and blue in bits 32-47 of a 64-bit value, each a number in machine order.
//
//   type    GetPixel result       GetPixel *value       GetPixelRGB result     GetPixelRGB *value
//   Rgb24   24-bit packing        24-bit packing        24-bit packing         24-bit packing
//   Gray8   sample (bits 0-7)     sample                24-bit, r = g = b = v  24-bit, r = g = b
//   Rgb48   24-bit packing of     48-bit packing        24-bit packing of      48-bit packing
//           the high bytes                              the high bytes
//   Gray16  sample (bits 0-15)    sample                24-bit packing of the  48-bit packing,
//                                                       high byte, r = g = b   r = g = b = v
//
//   SetPixel(value):    Rgb24 24-bit packing; Gray8 bits 0-7; Gray16 bits 0-15;
//                       Rgb48 48-bit packing (the same value GetPixel stores through *value).
//   SetPixelRGB(value): Rgb24 24-bit packing; Rgb48 48-bit packing; Gray8 the rounded mean
//                       (r + g + b + 1) / 3 of a 24-bit packing; Gray16 the rounded mean of a
//                       48-bit packing. A grey value read with GetPixelRGB and written back with
//                       SetPixelRGB is therefore unchanged.
// So GetPixel/SetPixel and the pointer form of GetPixelRGB/SetPixelRGB move every pixel of every
// type at full precision; only the 32-bit results of 16-bit images drop the low bytes.
#ifndef KASA_H
#define KASA_H

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#if defined(KASA_BUILDING)
#define KASA_API __declspec(dllexport)
#else
#define KASA_API __declspec(dllimport)
#endif
#else
#define KASA_API __attribute__((visibility("default")))
#endif

enum class ImageType : int { Rgb24 = 1, Gray8 = 5, Rgb48 = 9, Gray16 = 10 };

struct RgbQuad {
  uint8_t blue, green, red, reserved;
};

class KASA_API Kasa {
 public:
  Kasa();  // an empty image
  ~Kasa();
  Kasa(const Kasa&) = delete;
  Kasa& operator=(const Kasa&) = delete;

  // Size in pixels; 0 when empty.
  int32_t GetImageWidth() const;
  int32_t GetImageHeight() const;
  // One of the ImageType values; 0 when empty.
  int GetImageType() const;
  // Nonzero when the object holds no image.
  int IsEmpty() const;
  // Bits per pixel: 24, 8, 48 or 16; 0 when empty.
  int GetBitCount() const;
  // Bytes of one stored row, padding included; 0 when empty.
  int32_t GetLineBytes() const;

  // 24-bit rows of an Rgb24 image: x1 - x0 + 1 triplets blue, green, red of row y, columns x0 to
  // x1. `extra` is unused and may be null. Result 1, or 0 (nothing copied) for another type or a
  // range outside the image.
  int Get24bitHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer, uint8_t* extra);
  int Put24bitHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer);
  // 8-bit grey rows of a Gray8 image: one byte per pixel, columns x0 to x1 of row y.
  int GetGrayHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer, uint8_t* extra);
  int PutGrayHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer);
  // Raw rows of any type: exactly GetLineBytes() bytes as stored (padding included).
  int GetHorLine(int32_t y, uint8_t* buffer);
  int PutHorLine(int32_t y, uint8_t* buffer);
  // Raw pixels x0 to x1 of row y (their bytes as stored, no padding).
  int PutHorLine(int32_t x0, int32_t x1, int32_t y, uint8_t* buffer);

  // Single pixels; see the packing table at the top of this file. `value` may be null.
  uint32_t GetPixel(int32_t x, int32_t y, int64_t* value);
  int SetPixel(int32_t x, int32_t y, int64_t value);
  uint32_t GetPixelRGB(int32_t x, int32_t y, int64_t* value);
  int SetPixelRGB(int32_t x, int32_t y, int64_t value);

  // Creates an image of the given type and size with every byte zero, replacing what the object
  // held. Refused (result 0, the object unchanged) for a type other than 1, 5, 9, 10, a size
  // below 1, a size whose row or image byte count does not fit (see MaxImageBytes), or when the
  // memory cannot be had. The other arguments are accepted and ignored.
  int CreateImage(int type, int32_t width, int32_t height, int bits, RgbQuad* palette, uint32_t,
                  uint32_t, int, int, int);
  // Empties the object; the argument is ignored.
  void DeleteImage(int mode);
  // Both make this object an exact copy of `source` (type, size, every byte of every row). Given
  // the object itself they change nothing and return 1; given a null or empty source, or when
  // memory cannot be had, they return 0 and change nothing. An object that already holds as
  // many bytes of pixel memory as the source keeps that memory and is copied into (no
  // allocation, so that cannot fail).
  int GenerateImage(Kasa* source, int, int, int);
  int CopyImage(Kasa* source);

  // The stored bytes of row y: GetLineBytes() of them, laid out as above, valid until the
  // object's image is replaced (CreateImage, GenerateImage, CopyImage, DeleteImage). Null when y
  // is outside the image or the object is empty. The library's row module and the image codecs
  // move whole rows through it.
  uint8_t* RowData(int32_t y);
  const uint8_t* RowData(int32_t y) const;

  // The largest image, in bytes of pixel memory, that CreateImage accepts (4 GiB; on a 32-bit
  // system also no more than the address space, SIZE_MAX bytes).
  static constexpr int64_t MaxImageBytes() { return int64_t{1} << 32; }

 private:
  bool Contains(int32_t x, int32_t y) const;
  bool ContainsRange(int32_t x0, int32_t x1, int32_t y) const;
  void Release();

  int type_;
  int32_t width_;
  int32_t height_;
  int32_t lineBytes_;
  int bitCount_;
  uint8_t* bits_;
};

#endif  // KASA_H
