// Inside the io library: the codecs, one per file (png_codec.cpp, ...), and the row conversions
// they share. The public interface is marlo_io.h.
#ifndef MARLO_IO_CODECS_H
#define MARLO_IO_CODECS_H

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>

#include "marlo_io.h"

namespace marlo::io {

// The format whose signature begins `magic` (the first `got` bytes of a file, up to
// kMagicBytes); throws FileError when there is none.
constexpr size_t kMagicBytes = 8;
Format Recognise(const uint8_t* magic, size_t got);

// Reads the header of `file` (positioned at its start; kept open by the caller until the
// decoder is gone) in `format`. Throws FileError.
std::unique_ptr<Decoder> OpenDecoder(FILE* file, Format format, const Limits& limits);

// Memory. Decoding a picture may allocate, besides small fixed amounts, twice the picture's
// decoded bytes plus kBudgetSlack: the picture itself, and buffers (rows, strips, tiles, bands,
// the whole image of an interlaced PNG, metadata) up to its size again plus the slack. Every
// buffer whose size comes from the file is counted before it is allocated.
constexpr uint64_t kBudgetSlack = uint64_t{16} << 20;
// The product of the factors, or UINT64_MAX when it does not fit.
uint64_t Product(std::initializer_list<uint64_t> factors);
// width x height x (channels + alpha) x bytes per sample, as decoded.
uint64_t PictureBytes(const ImageInfo& info);
// The largest picture the limits let through: 8 bytes (RGBA, 16 bits) per allowed pixel.
uint64_t LargestPictureBytes(const Limits& limits);

class Budget {
 public:
  // The budget for decoding `info`, the picture's own bytes already counted.
  explicit Budget(const ImageInfo& info);
  // Counts `bytes` about to be allocated for `what` ("the tile buffer"); throws FileError with
  // a line naming both sizes when they do not fit in what is left.
  void Take(uint64_t bytes, const char* what);
  uint64_t Left() const { return limit_ - used_; }

 private:
  const ImageInfo& info_;
  uint64_t limit_;
  uint64_t used_ = 0;
};

std::unique_ptr<Decoder> OpenPng(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenJpeg(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenTiff(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenPnm(FILE* file, const Limits& limits);
void EncodePng(const Picture& picture, FILE* file, const WriteOptions& options,
               const RowTick& tick);
void EncodeJpeg(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick);
void EncodeTiff(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick);
void EncodePnm(const Picture& picture, FILE* file, const RowTick& tick);

// Helpers shared by the codecs.
int KasaType(int channels, int bits);
// Creates the picture's Kasa images from its info (pixels, and alpha when info.alpha).
void AllocatePicture(Picture* picture);
// Splits an interleaved row of `channels` (+1 when alpha) samples in file order (R, G, B or
// grey; 16-bit samples most significant byte first) into the picture's rows at y.
void StoreInterleavedRow(Picture* picture, int32_t y, const uint8_t* row);
// The other way round: builds an interleaved row (R, G, B[, A] or grey[, A], 16-bit samples
// most significant byte first) from row y of the picture.
void LoadInterleavedRow(const Picture& picture, int32_t y, bool withAlpha, uint8_t* row);

// Temporary files that RemovePendingFiles removes. Register returns a slot for Unregister.
int RegisterTempFile(const std::string& path);
void UnregisterTempFile(int slot);

}  // namespace marlo::io

#endif  // MARLO_IO_CODECS_H
