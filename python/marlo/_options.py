"""The tool's options as keyword arguments: names, the Python forms of their values, and the
tool's messages in Python's terms. The options, their ranges and defaults come from the tool's
own option table (marlo._marlo.filters() and common_options())."""
import contextlib
import keyword
import numbers
import re

from . import _marlo

# What each kind of option takes in Python, for the help texts.
FORMS = {
    "int": "int",
    "real": "float",
    "point": "(x, y) of ints",
    "triple": "(a, b, c) of ints",
    "int_or_triple": "int for every channel, or (red, green, blue) of ints",
    "word": "str",
}


def python_name(flag):
    """The keyword argument of a tool option: `-` as `_`, a trailing `_` after a Python keyword."""
    name = flag.replace("-", "_")
    return name + "_" if keyword.iskeyword(name) else name


def python_text(text):
    """A message of the tool with its options named as keyword arguments."""
    return re.sub(r"--([a-z][a-z0-9-]*)", lambda m: python_name(m.group(1)), text)


@contextlib.contextmanager
def tool_messages():
    """Turns the tool's refusal of an option into a ValueError in Python's terms."""
    try:
        yield
    except _marlo.OptionError as e:
        raise ValueError(python_text(str(e))) from None


def kind(option):
    """The Python form of an option's value: a key of FORMS."""
    if option["kind"] == "ints":
        return {(2, 2): "point", (3, 3): "triple"}.get(tuple(option["counts"]), "int_or_triple")
    return option["kind"]


def default(option):
    """The option's default as a Python value, or None when it has none."""
    text = option["default"]
    if text is None:
        return None
    k = kind(option)
    if k == "real":
        return float(text)
    if k == "word":
        return text
    values = tuple(int(v) for v in text.split(","))
    return values[0] if len(values) == 1 and k in ("int", "int_or_triple") else values


def _integer(key, value):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an int, not %s" % (key, type(value).__name__))
    return str(int(value))


def text(key, option, value):
    """The option's text for a Python value; TypeError for a value of the wrong type."""
    k = kind(option)
    if k == "int" or (k == "int_or_triple" and not isinstance(value, (tuple, list))):
        return _integer(key, value)
    if k == "real":
        if isinstance(value, bool) or not isinstance(value, numbers.Real):
            raise TypeError("%s must be a number, not %s" % (key, type(value).__name__))
        return repr(float(value))
    if k == "word":
        if not isinstance(value, str):
            raise TypeError("%s must be a str, not %s" % (key, type(value).__name__))
        return value
    count = 2 if k == "point" else 3
    if not isinstance(value, (tuple, list)) or len(value) != count:
        raise TypeError("%s must be a tuple of %d ints, not %r" % (key, count, value))
    return ",".join(_integer(key, v) for v in value)


def words(options, values):
    """The option words ("--flag=text") for keyword values of `options` ({keyword: option});
    None leaves an option to its default."""
    return ["--%s=%s" % (options[key]["flag"], text(key, options[key], value))
            for key, value in values.items() if value is not None]


COMMON = {python_name(o["flag"]): o for o in _marlo.common_options()}


def common_words(**values):
    """Words of the tool's common options (quality, compression, png_filter, max_megapixels,
    format), checked by the tool: TypeError or ValueError."""
    result = words({k: COMMON[k] for k in values}, values)
    with tool_messages():
        _marlo.check("", [], result)
    return result


def common_help(key):
    return "%s: %s, or None; %s." % (key, FORMS[kind(COMMON[key])], COMMON[key]["help"])
