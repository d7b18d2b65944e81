#!/usr/bin/python3
"""Times the Python package on marlo's 6000 x 4000 8-bit RGB benchmark image and prints the
figures as JSON: every filter called from Python (megapixels per second of CPU time, the same
parameters as marlo_bench gives each export), the two conversion passes (GB/s of array bytes),
and the throughput of two Python threads against one on the same calls (wall time; the lock is
released while a filter works).

Usage: PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py [--quick] [IMAGE]
IMAGE is the benchmark image as written by marlo_bench_image (bench/compare passes it); without
it a deterministic image of the same size is made here. bench/compare runs this script and
writes its figures into bench/RESULTS.md beside the C++ and OpenCV ones.
"""
import json
import sys
import threading
import time

import numpy as np

import marlo

QUICK = "--quick" in sys.argv
REPEATS = 2 if QUICK else 5

# Each export with the parameters marlo_bench times it with, as the function's keywords.
CALLS = [
    ("AutoAdjustment", "auto_levels", {}),
    ("AutoEnhancement", "auto_enhance", {"exposure": 1.0, "sharpen": 60}),
    ("AutoExposure", "auto_exposure", {"strength": 1.0}),
    ("BookEffect", "book", {"axis": 45, "fold": 20, "slant": 30}),
    ("CBEnhancement", "contrast", {"contrast": (30, 20, 10), "brightness": (5, -5, 10)}),
    ("ColorTintAddByHS", "tint", {"hue": 30, "saturation": 0.4}),
    ("ColorTintAddByRGB", "tint", {"rgb": (35, -10, -40)}),
    ("ColorTintRemove", "remove_cast", {"at": (3000, 2000)}),
    ("ConvexLens", "lens", {"at": (3000, 2000), "radius": 3700, "power": 2}),
    ("Despeckle", "despeckle", {"threshold": 4}),
    ("HSLEnhancement", "hsl", {"hue": 10, "saturation": 5, "lightness": -5, "red": (0, 30, 10),
                               "yellow": (20, 0, 0), "green": (0, -10, 0), "cyan": (-30, 0, 20),
                               "blue": (0, -20, 0), "magenta": (15, 0, -10)}),
    ("ImageFocus", "sharpen", {"strength": 80}),
    ("ImageFocusInCircle", "sharpen_circle", {"at": (3000, 2000), "radius": 3606,
                                              "strength": 150}),
    ("LightAdjustment", "white_balance", {"from_": 3200, "to": 6500}),
    ("RemoveNoise", "denoise", {}),
    ("RemoveRedEyeClr", "red_eye", {"at": (2200, 1800)}),
    ("Saturation", "saturation", {"amount": 40}),
]
# Filters whose two-thread throughput is measured: one of each kind of work.
SCALING = ["contrast", "hsl", "sharpen", "denoise", "auto_levels", "despeckle"]


def bench_image(path):
    if path:
        return marlo.imread(path)
    y, x = np.mgrid[0:4000, 0:6000].astype(np.float32)
    rng = np.random.default_rng(6000)
    rgb = np.stack([x / 6000 * 200, y / 4000 * 180 + 40 * np.sin(x / 97), (x + y) / 10000 * 255],
                   -1)
    return np.clip(rgb + rng.normal(0, 4, rgb.shape), 0, 255).astype(np.uint8)


def with_cast(image):
    """The image with the mild warm cast marlo_bench paints around (3000, 2000)."""
    cast = image.copy()
    cast[1999:2002, 2999:3002] = (120, 110, 100)
    return cast


def with_pupils(image):
    """The image with red discs of radius 45 every 400 pixels, as marlo_bench paints them."""
    painted = image.copy()
    y, x = np.mgrid[0:image.shape[0], 0:image.shape[1]]
    disc = ((x % 400) - 200) ** 2 + ((y % 400) - 200) ** 2 <= 45 * 45
    shade = (x + y) % 40
    painted[disc] = np.stack([190 + shade, 40 + shade // 2, np.full_like(shade, 45)],
                             -1)[disc].astype(np.uint8)
    return painted


def best_cpu_seconds(fn, repeats=REPEATS):
    best = None
    for _ in range(repeats):
        t0 = time.process_time()
        fn()
        t = time.process_time() - t0
        best = t if best is None or t < best else best
    return best


def call_figures(image):
    """{export: MP/s} for every filter called from Python on the whole image."""
    megapixels = image.shape[0] * image.shape[1] / 1e6
    sources = {"ColorTintRemove": with_cast(image), "RemoveRedEyeClr": with_pupils(image)}
    figures = {}
    for export, name, options in CALLS:
        source = sources.get(export, image)
        out = np.empty_like(source)
        fn = getattr(marlo, name)
        fn(source, out=out, **options)  # the first touch of out
        figures[export] = megapixels / best_cpu_seconds(lambda: fn(source, out=out, **options))
    return figures


def conversion_figures(image):
    """GB/s of array bytes into the store and back, for 8-bit and 16-bit RGB and grey."""
    figures = {}
    for label, array in [("8-bit RGB", image), ("16-bit RGB", image.astype(np.uint16) * 257),
                         ("8-bit grey", np.ascontiguousarray(image[..., 1])),
                         ("16-bit grey", image[..., 1].astype(np.uint16) * 257)]:
        into, back = marlo._marlo.conversion_seconds(array, REPEATS)
        figures[label] = {"in": array.nbytes / into / 1e9, "out": array.nbytes / back / 1e9}
    return figures


def thread_figures(image, calls=4 if QUICK else 8):
    """For each filter of SCALING: calls per second from two Python threads over one, each
    thread making `calls` calls on a 2000 x 1500 part of the image."""
    part = np.ascontiguousarray(image[:1500, :2000])
    figures = {}
    for name in SCALING:
        fn = getattr(marlo, name)

        def work():
            out = np.empty_like(part)
            for _ in range(calls):
                fn(part, out=out)

        work()
        rates = []
        for count in (1, 2):
            best = None
            for _ in range(2 if QUICK else 3):
                threads = [threading.Thread(target=work) for _ in range(count)]
                t0 = time.perf_counter()
                for t in threads:
                    t.start()
                for t in threads:
                    t.join()
                t = time.perf_counter() - t0
                best = t if best is None or t < best else best
            rates.append(count * calls / best)
        figures[name] = rates[1] / rates[0]
    return figures


def main():
    paths = [a for a in sys.argv[1:] if not a.startswith("--")]
    image = bench_image(paths[0] if paths else None)
    figures = {"calls": call_figures(image), "conversions": conversion_figures(image),
               "threads": thread_figures(image)}
    json.dump(figures, sys.stdout, indent=1)
    print()


if __name__ == "__main__":
    main()
