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
files, locally or on a Dask cluster. marlo.set_threads(n) sets how many threads each filter call
uses (1 at first); results are the same at every setting.
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

#: The highest thread setting.
MAX_THREADS = 256


def set_threads(n):
    """Sets how many threads each filter call uses from now on, and returns that number.

    n: int, 0..256. 1 (the default) works each call on the calling thread alone; 0 uses one
        thread per core; n > 1 uses n threads. The setting is process-wide and may be changed
        at any time; a call uses the setting as it was when it began.
    Results are the same at every setting, and progress callables are still called on the
    calling thread only. Python threads that call filters at once share the library's threads.
    Raises TypeError for a value that is not an int, ValueError outside 0..256.
    """
    if isinstance(n, bool) or not isinstance(n, int):
        raise TypeError("n must be an int, not %s" % type(n).__name__)
    if not 0 <= n <= MAX_THREADS:
        raise ValueError("n: value %d is out of range; accepted range 0..%d" % (n, MAX_THREADS))
    return _marlo.set_threads(n)


def get_threads():
    """The thread setting as last set by set_threads (1 at first, 0 for one per core)."""
    return _marlo.get_threads()


#: The filter functions' names, in the tool's order.
FILTERS = tuple(_FUNCTIONS)

__all__ = list(FILTERS) + ["Error", "Picture", "Record", "batch", "imread", "imwrite", "read",
                           "write", "FILTERS", "set_threads", "get_threads"]
