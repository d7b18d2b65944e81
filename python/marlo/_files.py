"""Image files through marlo's file library: the tool's formats, options, size limit and atomic
writes."""
import os

from . import _marlo
from ._options import COMMON, common_help, common_words, default

_FORMATS = {"PNG": "png", "JPEG": "jpeg", "TIFF": "tiff", "PNM": "pnm"}


class Picture:
    """A picture as a file holds it.

    pixels: numpy array, (H, W) grey or (H, W, 3) red, green, blue; uint8, or uint16 for 16-bit
        files.
    alpha: None, or an (H, W) array of the pixels' dtype.
    icc: the ICC profile (bytes, empty when none); written into PNG, JPEG and TIFF.
    exif: the EXIF block (bytes, empty when none); written into PNG and JPEG.
    format: the format the picture was read from ("png", "jpeg", "tiff" or "pnm"), or None.

    Every filter function also takes a Picture and returns a new one, filtered as the tool
    filters a file (the distortion effects move the alpha channel with the pixels), so that
    marlo.write(path, marlo.sharpen(marlo.read(src), strength=40)) writes the same bytes as
    `marlo sharpen --strength 40 src -o path`.
    """

    __slots__ = ("pixels", "alpha", "icc", "exif", "format")

    def __init__(self, pixels, alpha=None, icc=b"", exif=b"", format=None):
        self.pixels = pixels
        self.alpha = alpha
        self.icc = bytes(icc)
        self.exif = bytes(exif)
        self.format = format

    def __repr__(self):
        return "marlo.Picture(%s %s%s, icc %d bytes, exif %d bytes, format %r)" % (
            getattr(self.pixels, "dtype", "?"), getattr(self.pixels, "shape", "?"),
            ", with alpha" if self.alpha is not None else "", len(self.icc), len(self.exif),
            self.format)


def read(path, *, max_megapixels=default(COMMON["max_megapixels"])):
    words = common_words(max_megapixels=max_megapixels)
    pixels, alpha, icc, exif, name = _marlo.read(os.fsdecode(path), words)
    return Picture(pixels, alpha, icc, exif, _FORMATS.get(name))


def write(path, picture, *, quality=default(COMMON["quality"]), compression=None,
          png_filter=default(COMMON["png_filter"]), format=None):
    if not isinstance(picture, Picture):
        raise TypeError("picture must be a marlo.Picture, not %s (imwrite takes an array)"
                        % type(picture).__name__)
    words = common_words(quality=quality, compression=compression, png_filter=png_filter,
                         format=format)
    _marlo.write(os.fsdecode(path), picture.pixels, picture.alpha, bytes(picture.icc),
                 bytes(picture.exif), words)


def imread(path, *, max_megapixels=default(COMMON["max_megapixels"])):
    """Reads an image file into a numpy array: (H, W, 3) red, green, blue or (H, W) grey, uint8,
    or uint16 for 16-bit files. An alpha channel, ICC profile and EXIF are left out (see
    marlo.read). max_megapixels and errors as marlo.read."""
    return read(path, max_megapixels=max_megapixels).pixels


def imwrite(path, array, *, quality=default(COMMON["quality"]), compression=None,
            png_filter=default(COMMON["png_filter"]), format=None):
    """Writes a numpy array (uint8 or uint16, (H, W) or (H, W, 3) red, green, blue) to an image
    file, atomically; the options as marlo.write."""
    write(path, Picture(array), quality=quality, compression=compression,
          png_filter=png_filter, format=format)


read.__doc__ = """Reads an image file (PNG, JPEG, TIFF or binary PNM, recognised by its
content) into a Picture with its alpha channel, ICC profile and EXIF block, as the tool reads it.

%s A larger picture is refused before its pixels are decoded, and decoding keeps to the memory
    budget that follows from the limit.
Raises marlo.Error naming the file and the problem (missing, unreadable, damaged, unsupported
or too large); Ctrl-C stops the reading (KeyboardInterrupt).""" % common_help("max_megapixels")

write.__doc__ = """Writes a Picture as the tool writes its outputs, byte for byte: to a
temporary file beside the target, renamed into place only when complete (on any failure nothing
is left behind).

The format comes from the name's extension (.png, .jpg/.jpeg, .tif/.tiff, .pnm/.ppm/.pgm), else
from format. PNG, TIFF and PNM keep 16 bits; JPEG rounds 16-bit samples to 8 bits; JPEG and PNM
drop the alpha channel. The options are the tool's:
%s
%s
%s
%s
Raises TypeError for arrays of the wrong dtype or shape, ValueError for a bad option, marlo.Error
when the file cannot be written; Ctrl-C stops the writing (KeyboardInterrupt).""" % tuple(
    common_help(k) for k in ("quality", "compression", "png_filter", "format"))
