"""The filter functions: the tool's pixels and files, arrays of every shape, dtype and stride,
the documented errors, progress and interruption, threads and memory."""
import _thread
import inspect
import os
import threading
import tracemalloc

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import marlo
from conftest import SANITIZED, run_tool, tool_words

# Every filter, with options away from their defaults; the points lie inside every sample.
CASES = [
    ("auto_exposure", {}), ("auto_exposure", {"strength": 0.3}),
    ("auto_enhance", {"exposure": 1, "sharpen": 60}), ("auto_levels", {}),
    ("white_balance", {"from_": 3200, "to": 7500}),
    ("contrast", {"contrast": 20, "brightness": (5, 0, -5)}), ("saturation", {"amount": 30}),
    ("hsl", {"hue": 10, "saturation": -20, "lightness": 5, "red": (5, 10, -10),
             "blue": (-20, 0, 10)}),
    ("tint", {"rgb": (10, 0, -10)}), ("tint", {"hue": 30, "saturation": 0.25}),
    ("remove_cast", {"at": (200, 150)}), ("red_eye", {"at": (200, 150)}),
    ("despeckle", {"threshold": 20}), ("denoise", {}), ("sharpen", {"strength": 60}),
    ("sharpen_circle", {"at": (200, 150), "radius": 120, "strength": -50}),
    ("book", {"axis": 40, "fold": 50, "slant": 30}),
    ("lens", {"at": (200, 150), "radius": 100, "power": 3}),
]
COLOUR_ONLY = {"white_balance", "saturation", "hsl", "tint", "remove_cast", "red_eye"}
# Settings that change nothing.
IDENTITY = [("contrast", {"contrast": 0, "brightness": 0}), ("sharpen", {"strength": 0}),
            ("despeckle", {"threshold": 255}), ("sharpen_circle", {"at": (0, 0), "radius": 0}),
            ("white_balance", {"from_": 5000, "to": 5000}), ("tint", {"rgb": (0, 0, 0)})]


def call(name, image, **options):
    return getattr(marlo, name)(image, **options)


def test_one_function_per_filter_documented():
    assert {name for name, _ in CASES} == set(marlo.FILTERS)
    for name in marlo.FILTERS:
        f = getattr(marlo, name)
        doc = " ".join(f.__doc__.split())
        assert "marlo %s" % name.replace("_", "-") in doc and "grey" in doc and "Raises" in doc
        for key in inspect.signature(f).parameters:
            assert "%s: " % key in doc, (name, key)
    assert list(inspect.signature(marlo.white_balance).parameters) == [
        "image", "from_", "to", "out", "progress"]


@pytest.mark.parametrize("name,options", CASES, ids=["%s-%d" % (c[0], i) for i, c in
                                                      enumerate(CASES)])
def test_same_pixels_as_the_tool(name, options, samples, tmp_path):
    run_tool(*tool_words(name, options), *samples, "-o", str(tmp_path) + "/", "--format", "pnm")
    for sample in samples:
        stem = os.path.splitext(os.path.basename(sample))[0]
        expected = marlo.imread(tmp_path / (stem + ".pnm"))
        got = call(name, marlo.imread(sample), **options)
        assert got.dtype == expected.dtype and np.array_equal(got, expected), sample


EXIF = b"MM\x00\x2a\x00\x00\x00\x08" + bytes(range(40))


@pytest.mark.parametrize("suffix,bits,name,options,common", [
    (".png", 8, "book", {"fold": 40}, {"compression": 1, "png_filter": "adaptive"}),
    (".tif", 16, "lens", {"at": (60, 40), "radius": 30}, {"compression": 9}),
    (".jpg", 8, "contrast", {"contrast": 30}, {"quality": 80}),
    (".png", 16, "tint", {"hue": 200}, {})])
def test_files_byte_identical_to_the_tools(suffix, bits, name, options, common, samples,
                                           tmp_path):
    pixels = marlo.imread(samples[-1])[100:220, 50:210]  # 8-bit RGB
    pixels = pixels.astype(np.uint16) * 257 if bits == 16 else pixels
    grey = pixels[..., 1].copy()
    alpha = None if suffix == ".jpg" else grey[::-1].copy()
    icc = b"" if suffix == ".png" else b"profile" * 30
    source = str(tmp_path / ("in" + suffix))
    marlo.write(source, marlo.Picture(grey if name == "tint" else pixels, alpha, icc, EXIF))
    picture = marlo.read(source)
    assert picture.icc == icc and picture.exif == (b"" if suffix == ".tif" else EXIF)
    assert picture.format == {".png": "png", ".tif": "tiff", ".jpg": "jpeg"}[suffix]
    run_tool(*tool_words(name, options), *tool_words("", common)[1:], source, "-o",
             tmp_path / ("tool" + suffix))
    marlo.write(tmp_path / ("py" + suffix), call(name, picture, **options), **common)
    with open(tmp_path / ("tool" + suffix), "rb") as a, open(tmp_path / ("py" + suffix), "rb") as b:
        assert a.read() == b.read()


@st.composite
def images(draw, max_side=48):
    """Arrays of both dtypes (and big-endian uint16), grey or RGB, from 1 x 1, as views with
    steps, flips, transposition and reversed channels."""
    dtype = np.dtype(draw(st.sampled_from(["u1", "<u2", ">u2"])))
    h, w = draw(st.integers(1, max_side)), draw(st.integers(1, max_side))
    rgb = draw(st.booleans())
    sy, sx = draw(st.integers(1, 3)), draw(st.integers(1, 3))
    base = draw(hnp.arrays(dtype, (h * sy, w * sx) + ((3,) if rgb else ()),
                           elements=st.integers(0, 2 ** (8 * dtype.itemsize) - 1)))
    view = base[::sy, ::sx]
    if draw(st.booleans()):
        view = view[::-1]
    if draw(st.booleans()):
        view = view.swapaxes(0, 1)
    if rgb and draw(st.booleans()):
        view = view[..., ::-1]
    return view


@settings(max_examples=60, deadline=None)
@given(images())
def test_any_shape_dtype_and_strides(image):
    h, w = image.shape[:2]
    plain = np.ascontiguousarray(image, dtype=image.dtype.newbyteorder("="))
    for name, options in CASES:
        options = {k: (0, 0) if k == "at" else v for k, v in options.items()}
        if name == "book" and (w < 40 or h <= 20):
            with pytest.raises(marlo.Error, match="book: Image error !"):
                call(name, image, **options)
            continue
        got = call(name, image, **options)
        grey_to_rgb = image.ndim == 2 and name in COLOUR_ONLY
        assert got.shape == image.shape + ((3,) if grey_to_rgb else ()), name
        assert got.dtype == np.dtype(image.dtype.name) and got.flags.c_contiguous
        assert np.array_equal(got, call(name, plain, **options)), name
    out = np.zeros((h, 2 * w, 3), np.dtype(image.dtype.name))[:, ::-2]
    if image.ndim == 3:
        assert call("contrast", image, out=out) is out and np.array_equal(out, image)


@settings(max_examples=40, deadline=None)
@given(images())
def test_identity_settings_change_nothing(image):
    for name, options in IDENTITY:
        expected = image if image.ndim == 3 or name not in COLOUR_ONLY else np.stack([image] * 3,
                                                                                      -1)
        assert np.array_equal(call(name, image, **options), expected), name


@pytest.fixture(scope="module")
def photo(samples):
    return marlo.imread(samples[-1])  # 8-bit RGB, 512 x 600


def test_bad_arguments_raise_the_documented_exceptions(photo, samples, tmp_path):
    img = photo
    read_only = np.zeros_like(img)
    read_only.flags.writeable = False
    cases = [
        (lambda: marlo.sharpen(img.astype(np.float32)), TypeError, "uint8 or uint16, not float32"),
        (lambda: marlo.sharpen(img.astype(np.int16)), TypeError, "uint8 or uint16"),
        (lambda: marlo.sharpen(img > 9), TypeError, "uint8 or uint16, not bool"),
        (lambda: marlo.sharpen(img[..., :2]), TypeError, r"\(H, W, 3\).*not \(600, 512, 2\)"),
        (lambda: marlo.sharpen(img[0, 0]), TypeError, r"not \(3,\)"),
        (lambda: marlo.sharpen(img[None]), TypeError, "shape"),
        (lambda: marlo.sharpen(img[:0]), TypeError, "H, W >= 1"),
        (lambda: marlo.sharpen(img.tolist()), TypeError, "numpy array, not list"),
        (lambda: marlo.sharpen(img, strength=2.0), TypeError, "strength must be an int"),
        (lambda: marlo.sharpen(img, strength=True), TypeError, "not bool"),
        (lambda: marlo.sharpen(img, sharpness=3), TypeError, "unexpected keyword .*sharpness"),
        (lambda: marlo.contrast(img, brightness=(1, 2)), TypeError, "tuple of 3 ints"),
        (lambda: marlo.white_balance(img), TypeError, "missing .*'from_'"),
        (lambda: marlo.sharpen(img, out=np.zeros(img.shape, np.uint16)), TypeError, "out must"),
        (lambda: marlo.saturation(img[..., 0], amount=5, out=img[..., 0]), TypeError, "out must"),
        (lambda: marlo.sharpen(img, progress=3), TypeError, "callable"),
        (lambda: marlo.sharpen(img, out=read_only), ValueError, "read-only"),
        (lambda: marlo.sharpen(img, strength=401), ValueError,
         "^strength: value 401 is out of range; accepted range -100..400$"),
        (lambda: marlo.contrast(img, contrast=(0, 101, 0)), ValueError,
         "^contrast: value 101 is out of range; accepted range -100..100$"),
        (lambda: marlo.white_balance(img, from_=999), ValueError, "^from_: .* 1000..25000$"),
        (lambda: marlo.auto_exposure(img, strength=float("nan")), ValueError, "strength: .*0..1"),
        (lambda: marlo.hsl(img, green=(0, 0, -101)), ValueError, "green: .*-100..100"),
        (lambda: marlo.lens(img, at=(512, 0), radius=5), ValueError,
         "^at: the point 512,0 lies outside the 512 x 600 image; accepted range 0..511,0..599$"),
        (lambda: marlo.tint(img, rgb=(1, 2, 3), hue=10), ValueError, "rgb excludes hue"),
        (lambda: marlo.book(img[:20]), marlo.Error, "^book: Image error !$"),
        (lambda: marlo.imread(tmp_path / "none.png"), marlo.Error, "none.png: "),
        (lambda: marlo.imread(samples[0], max_megapixels=0.01), marlo.Error, "more than the limit"),
        (lambda: marlo.imwrite(tmp_path / "x.gif", img), ValueError, "cannot tell the output"),
        (lambda: marlo.imwrite(tmp_path / "x.png", img, quality=0), ValueError,
         "quality: .*1..100"),
        (lambda: marlo.imwrite(tmp_path / "x.png", img, compression=10), ValueError,
         "^compression: value 10 is out of range; accepted range 0..9$"),
        (lambda: marlo.imwrite(tmp_path / "x.png", img, png_filter="best"), ValueError,
         "png_filter: 'best' is not none, sub, up, average, paeth or adaptive"),
        (lambda: marlo.imwrite(tmp_path / "x.png", img, format="jpeg"), ValueError,
         "not the format of the name"),
        (lambda: marlo.write(tmp_path / "x.png", marlo.Picture(img, img)), TypeError, "alpha must"),
        (lambda: marlo.batch([samples[0]], tmp_path, [("sharpen", {"strength": 999})]),
         ValueError, "^strength: value 999"),
        (lambda: marlo.batch([samples[0]], tmp_path, [("blur", {})]), ValueError, "unknown filter"),
    ]
    for run, kind, text in cases:
        with pytest.raises(kind, match=text):
            run()
    assert issubclass(marlo.Error, RuntimeError)
    assert os.listdir(tmp_path) == []  # nothing written, no batch folder made


def test_progress_abort_and_ctrl_c(photo):
    seen = []
    marlo.sharpen(photo, progress=lambda done, total: seen.append((done, total)))
    assert seen[0] == (0, 1000) and seen[-1] == (1000, 1000)
    assert all(a[0] < b[0] for a, b in zip(seen, seen[1:]))

    # A filter called from inside another's progress: both results as when called alone.
    nested = []
    outer = marlo.contrast(photo, contrast=10, progress=lambda d, t: nested.append(
        marlo.sharpen(photo[::-1], strength=70)) if d > 500 and not nested else None)
    assert np.array_equal(outer, marlo.contrast(photo, contrast=10))
    assert np.array_equal(nested[0], marlo.sharpen(photo[::-1], strength=70))

    def stop(done, total):
        seen.append(done)
        if done >= 300:
            raise LookupError("stop")

    out = np.zeros_like(photo)
    for name in ["sharpen", "contrast", "auto_exposure"]:
        seen.clear()
        with pytest.raises(LookupError, match="stop"):
            call(name, photo, out=out, progress=stop)
        # Not called again once it raised; nothing reaches out, also from a filter that cannot
        # be stopped and runs to its end.
        assert seen[-1] >= 300 and sum(done >= 300 for done in seen) == 1 and not out.any()

    def interrupt(done, total):
        seen.append(done)
        if len(seen) == 3:
            _thread.interrupt_main()

    seen.clear()
    with pytest.raises(KeyboardInterrupt):
        marlo.despeckle(photo, out=out, progress=interrupt)
    assert 3 <= len(seen) < 10 and not out.any()
    big = np.full((2000, 6000, 3), 100, np.uint8)
    out = np.zeros_like(big)
    timer = threading.Timer(0.005, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):  # Ctrl-C without a progress callable
        marlo.sharpen(big, out=out)
    timer.join()
    assert not out.any()


def test_eight_threads_give_the_results_of_one(photo):
    image = photo[:256, :256]
    assert marlo.get_threads() == 1
    expected = [call(name, image, **options) for name, options in CASES]
    progress_threads = set()
    failures = []

    def work():
        for (name, options), want in zip(CASES, expected):
            got = call(name, image, progress=lambda d, t: progress_threads.add(
                threading.get_ident()), **options)
            if not np.array_equal(got, want):
                failures.append((marlo.get_threads(), name))

    # Eight Python threads at once, with the library's threads at 1 and at 3.
    callers = {threading.get_ident()}
    try:
        for count in (1, 3):
            assert marlo.set_threads(count) == count and marlo.get_threads() == count
            threads = [threading.Thread(target=work) for i in range(8)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
                callers.add(t.ident)
            work()
        assert marlo.set_threads(0) >= 1 and marlo.get_threads() == 0
    finally:
        marlo.set_threads(1)
    assert failures == []
    # Progress is reported on each calling thread only.
    assert callers >= progress_threads and len(progress_threads) >= 9
    for bad, kind in [(-1, ValueError), (257, ValueError), (2.0, TypeError), (True, TypeError)]:
        with pytest.raises(kind, match="n: value -1 is out of range; accepted range 0..256"
                           if bad == -1 else "n"):
            marlo.set_threads(bad)
    assert marlo.get_threads() == 1


@pytest.mark.skipif(SANITIZED, reason="the sanitizer runtime keeps freed memory in quarantine")
def test_a_thousand_calls_do_not_grow_memory(photo, tmp_path):
    image = photo[:64, :64]
    picture = marlo.Picture(image, image[..., 0].copy())

    def calls():
        marlo.sharpen(image, strength=40, progress=lambda d, t: None)
        marlo.hsl(image[..., 0], hue=10)
        marlo.lens(picture, at=(9, 9), radius=8)
        for bad in (lambda: marlo.sharpen(image, strength=999), lambda: marlo.book(image[:20]),
                    lambda: marlo.sharpen(image, progress=lambda d, t: 1 / 0)):
            with pytest.raises((ValueError, marlo.Error, ZeroDivisionError)):
                bad()

    def rss():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")

    for _ in range(200):
        calls()
    tracemalloc.start()
    traced, resident = tracemalloc.get_traced_memory()[0], rss()
    for _ in range(1000):
        calls()
    grown = tracemalloc.get_traced_memory()[0] - traced
    tracemalloc.stop()
    assert grown < 32 * 1024 and rss() - resident < 2 * 1024 * 1024, (grown, rss() - resident)
