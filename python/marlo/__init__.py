"""marlo: photographic enhancement filters for numpy arrays, image files and batches of files.

    import marlo
    img = marlo.imread("photo.jpg")      # H x W x 3 uint8 RGB, H x W grey, uint16 for 16-bit
    out = marlo.auto_levels(img)
    out = marlo.contrast(out, contrast=20, brightness=(5, 0, 0))
    marlo.imwrite("out.jpg", out, quality=92)

One function per filter of the `marlo` tool, named after its subcommand (`-` as `_`), with the
tool's long options as keyword arguments: same ranges, defaults and meaning (help(marlo.FILTER)
lists them). Files are read and written as the tool reads and writes them (marlo.read,
marlo.write, marlo.imread, marlo.imwrite), and marlo.batch runs a chain of filters over many
files, locally or on a Dask cluster.
"""
from . import _marlo
from ._batch import Record, batch
from ._files import Picture, imread, imwrite, read, write
from ._filters import FILTERS as _FILTERS
from ._filters import FUNCTIONS as _FUNCTIONS

Error = _marlo.Error
Error.__module__ = "marlo"
Error.__doc__ = ("A filter refused its image, or a file could not be read or written; the text "
                 "gives the reason.")

globals().update(_FUNCTIONS)

#: The filter functions' names, in the tool's order.
FILTERS = tuple(_FUNCTIONS)

__all__ = list(FILTERS) + ["Error", "Picture", "Record", "batch", "imread", "imwrite", "read",
                           "write", "FILTERS"]
