// Inside the io library: the codecs, one per file (png_codec.cpp, ...), and the row conversions
// they share. The public interface is marlo_io.h.
#ifndef MARLO_IO_CODECS_H
#define MARLO_IO_CODECS_H

#include <cstdio>
#include <memory>

#include "marlo_io.h"

namespace marlo::io {

// Reads the header of `file` (positioned at its start; kept open by the caller until the
// decoder is gone) in the format its first bytes name. Throws FileError.
std::unique_ptr<Decoder> OpenDecoder(FILE* file, const Limits& limits);

std::unique_ptr<Decoder> OpenPng(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenJpeg(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenTiff(FILE* file, const Limits& limits);
std::unique_ptr<Decoder> OpenPnm(FILE* file, const Limits& limits);
void EncodePng(const Picture& picture, FILE* file, const RowTick& tick);
void EncodeJpeg(const Picture& picture, FILE* file, const WriteOptions& options,
                const RowTick& tick);
void EncodeTiff(const Picture& picture, FILE* file, const RowTick& tick);
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
