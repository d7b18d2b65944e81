"""Image files through marlo's file library: the tool's formats, size limit and atomic writes."""
import numbers
import os

from . import _marlo

# The tool's limits for its common options --quality and --max-megapixels.
QUALITY = (1, 100, 92)
MEGAPIXELS = (0.000001, 100000.0, 200.0)


def check_quality(quality):
    if isinstance(quality, bool) or not isinstance(quality, numbers.Integral):
        raise TypeError("quality must be an int, not %s" % type(quality).__name__)
    if not QUALITY[0] <= quality <= QUALITY[1]:
        raise ValueError("quality: value %d is out of range; accepted range %d..%d"
                         % (quality, QUALITY[0], QUALITY[1]))
    return int(quality)


def check_megapixels(value):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("max_megapixels must be a number, not %s" % type(value).__name__)
    if not MEGAPIXELS[0] <= value <= MEGAPIXELS[1]:
        raise ValueError("max_megapixels: value %r is out of range; accepted range 0.000001..100000"
                         % value)
    return float(value)


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


def read(path, *, max_megapixels=200):
    """Reads an image file (PNG, JPEG, TIFF or binary PNM, recognised by its content) into a
    Picture with its alpha channel, ICC profile and EXIF block.

    max_megapixels: 0.000001..100000 (default 200, as the tool's --max-megapixels); a larger
        picture is refused before its pixels are decoded, and decoding keeps to the memory
        budget that follows from it.
    Raises marlo.Error naming the file and the problem (missing, unreadable, damaged,
    unsupported or too large); Ctrl-C stops the reading (KeyboardInterrupt).
    """
    pixels, alpha, icc, exif, details = _marlo.read(os.fsdecode(path),
                                                    check_megapixels(max_megapixels))
    names = {"PNG": "png", "JPEG": "jpeg", "TIFF": "tiff", "PNM": "pnm"}
    return Picture(pixels, alpha, icc, exif, names.get(details["format"]))


def write(path, picture, *, quality=92, format=None):
    """Writes a Picture as the tool writes its outputs, byte for byte: to a temporary file beside
    the target, renamed into place only when complete (on any failure nothing is left behind).

    The format comes from the name's extension (.png, .jpg/.jpeg, .tif/.tiff, .pnm/.ppm/.pgm),
    else from format ("png", "jpeg", "tiff" or "pnm"). PNG, TIFF and PNM keep 16 bits; JPEG
    rounds 16-bit samples to 8 bits; JPEG and PNM drop the alpha channel.
    quality: JPEG quality 1..100 (default 92, as the tool's --quality).
    Raises TypeError for arrays of the wrong dtype or shape, ValueError for a bad quality or
    format, marlo.Error when the file cannot be written.
    """
    if not isinstance(picture, Picture):
        raise TypeError("picture must be a marlo.Picture, not %s (imwrite takes an array)"
                        % type(picture).__name__)
    _marlo.write(os.fsdecode(path), picture.pixels, picture.alpha, bytes(picture.icc),
                 bytes(picture.exif), format, check_quality(quality))


def imread(path, *, max_megapixels=200):
    """Reads an image file into a numpy array: (H, W, 3) red, green, blue or (H, W) grey, uint8,
    or uint16 for 16-bit files. An alpha channel, ICC profile and EXIF are left out (see
    marlo.read). max_megapixels and errors as marlo.read."""
    return read(path, max_megapixels=max_megapixels).pixels


def imwrite(path, array, *, quality=92, format=None):
    """Writes a numpy array (uint8 or uint16, (H, W) or (H, W, 3) red, green, blue) to an image
    file, atomically, as marlo.write does."""
    write(path, Picture(array), quality=quality, format=format)
