"""One Python function per filter of the `marlo` tool, made from the tool's own table of filters
and options: the keyword arguments are the tool's long options, with the tool's ranges, defaults
and meaning, and the help texts are the tool's."""
import inspect
import textwrap

from . import _marlo
from ._files import Picture
from ._options import FORMS, default, kind, python_name, tool_messages, words


class _Filter:
    """A filter of the tool as the Python functions see it."""

    def __init__(self, info):
        self.tool_name = info["name"]
        self.name = self.tool_name.replace("-", "_")
        self.info = info
        self.options = {python_name(o["flag"]): o for o in info["options"]}

    def words(self, values):
        """The option words for keyword values; TypeError for an unknown or missing keyword or a
        value of the wrong type."""
        unknown = [k for k in values if k not in self.options]
        if unknown:
            raise TypeError("%s() got an unexpected keyword argument '%s'" % (self.name,
                                                                              unknown[0]))
        missing = [k for k, o in self.options.items() if o["required"] and values.get(k) is None]
        if missing:
            raise TypeError("%s() missing required keyword argument: %s" % (
                self.name, ", ".join("'%s'" % k for k in missing)))
        return words(self.options, values)

    def check(self, values):
        """The option words for `values`, checked as the tool checks them: TypeError or
        ValueError before any work."""
        result = self.words(values)
        with tool_messages():
            _marlo.check(self.tool_name, result, [])
        return result

    def apply(self, image, values, out=None, progress=None):
        words = self.words(values)
        with tool_messages():
            if not isinstance(image, Picture):
                return _marlo.apply(self.tool_name, image, words, out, progress)
            if out is not None:
                raise TypeError("out= takes an array; a Picture gives a new Picture")
            pixels = _marlo.apply(self.tool_name, image.pixels, words, None, progress)
            alpha = image.alpha
            if self.info["moves_pixels"] and alpha is not None:
                alpha = _marlo.apply(self.tool_name, alpha, words, None, progress)
            return Picture(pixels, alpha, image.icc, image.exif, image.format)


def _doc(f):
    info = f.info
    grey = ("A grey image is turned into RGB first, as the tool does: the result has the shape "
            "(H, W, 3)." if info["colour_only"] else "A grey image stays grey.")
    alpha = (" (its alpha channel is moved with the pixels)" if info["moves_pixels"] else "")
    summary = info["summary"][0].upper() + info["summary"][1:]
    lines = ["%s: the tool's `marlo %s` (library export %s)." % (summary, f.tool_name,
                                                                 info["export"]), "",
             "image: a numpy array of uint8 or uint16, (H, W) grey or (H, W, 3) red, green, "
             "blue, in any strides; or a marlo.Picture, which gives a new Picture%s. %s"
             % (alpha, grey)]
    for key, o in f.options.items():
        lines.append("%s: %s. %s." % (key, FORMS[kind(o)], o["help"]))
    lines += [
        "out: an array of the result's dtype and shape to write into (and return); by default "
        "a new array.",
        "progress: a callable f(done, total), called on this thread while the filter reports "
        "progress. An exception raised in it stops the filter where the filter can be stopped "
        "and propagates; Ctrl-C (KeyboardInterrupt) does the same. Nothing is written to out "
        "then.",
        "",
        "Returns the filtered image: a new array of the input's dtype, or out.",
        "Raises TypeError for an image or out of the wrong dtype or shape and for an argument "
        "of the wrong type; ValueError for a value outside its range, naming the argument and "
        "the accepted range (before any work); marlo.Error when the filter refuses the image.",
    ]
    wrapped = []
    for line in lines:
        wrapped += textwrap.wrap(line, 78, subsequent_indent="    ",
                                 break_on_hyphens=False) or [""]
    return "\n".join(wrapped)


def _function(f):
    P = inspect.Parameter
    params = [P("image", P.POSITIONAL_OR_KEYWORD)]
    params += [P(k, P.KEYWORD_ONLY, default=P.empty if o["required"] else default(o))
               for k, o in f.options.items()]
    params += [P("out", P.KEYWORD_ONLY, default=None), P("progress", P.KEYWORD_ONLY, default=None)]
    signature = inspect.Signature(params)

    def run(*args, **kwargs):
        try:
            bound = signature.bind(*args, **kwargs)
        except TypeError as e:
            raise TypeError("%s(): %s" % (f.name, e)) from None
        values = dict(bound.arguments)  # only the arguments given: the tool's defaults apply
        image = values.pop("image")
        out = values.pop("out", None)
        progress = values.pop("progress", None)
        return f.apply(image, values, out, progress)

    run.__name__ = run.__qualname__ = f.name
    run.__module__ = "marlo"
    run.__signature__ = signature
    run.__doc__ = _doc(f)
    return run


FILTERS = {info["name"].replace("-", "_"): _Filter(info) for info in _marlo.filters()}
FUNCTIONS = {name: _function(f) for name, f in FILTERS.items()}


def find(name):
    """The filter called `name` (a function name or the tool's subcommand); ValueError if none."""
    f = FILTERS.get(str(name).replace("-", "_"))
    if f is None:
        raise ValueError("unknown filter %r; the filters are %s" % (name, ", ".join(FILTERS)))
    return f
