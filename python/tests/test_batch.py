"""marlo.batch: on the local cores, and on a Dask cluster that loses a worker midway. Every
output must be the tool's file, byte for byte, and nothing else may be left in the folder."""
import logging
import os
import signal
import threading
import time

import numpy as np
import pytest

import marlo
from conftest import SANITIZED, run_tool

STEPS = [("auto_levels", {}), ("sharpen", {"strength": 40})]
TOOL_CHAIN = ["auto-levels", "then", "sharpen", "--strength", "40"]


def photographs(folder, count, size=(96, 128)):
    """Generated photographs: lit gradients with grain, every fifth grey, every seventh 16-bit."""
    os.makedirs(folder)
    rng = np.random.default_rng(18)
    y, x = np.mgrid[0:size[0], 0:size[1]]
    paths = []
    for i in range(count):
        light = (x * (1 + i % 4) + y * (2 + i % 3)) / (size[0] + size[1]) / 5
        rgb = np.stack([light * k for k in (0.9, 0.7 + i % 5 / 10, 0.5)], -1) * 200 + 20
        rgb += rng.normal(0, 6, rgb.shape)
        image = np.clip(rgb, 0, 255).astype(np.uint8)
        if i % 5 == 0:
            image = image[..., 1].copy()
        if i % 7 == 0:
            image = image.astype(np.uint16) * 257
        paths.append(os.path.join(folder, "photo%03d.png" % i))
        marlo.imwrite(paths[-1], image)
    return paths


def check(records, inputs, out, expected):
    """One record per input, each a success whose file is the tool's; nothing else in out."""
    assert [r.input for r in records] == inputs
    names = sorted(os.path.basename(p) for p in inputs)
    assert sorted(os.listdir(out)) == names
    for r in records:
        assert r.ok and r.error is None and r.seconds > 0, r
        with open(r.output, "rb") as a, open(os.path.join(expected, os.path.basename(r.input)),
                                             "rb") as b:
            assert a.read() == b.read(), r.output


def test_local_batch_writes_the_tools_files(tmp_path):
    inputs = photographs(str(tmp_path / "in"), 12)
    run_tool(*TOOL_CHAIN, *inputs, "-o", str(tmp_path / "tool") + "/")
    out = str(tmp_path / "out")
    check(marlo.batch(inputs, out, STEPS, workers=3), inputs, out, str(tmp_path / "tool"))
    # Failures are records too; the other files are written.
    tiny, broken = str(tmp_path / "tiny.png"), str(tmp_path / "broken.png")
    marlo.imwrite(tiny, np.zeros((10, 10), np.uint8))
    with open(broken, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\nnot a picture")
    records = marlo.batch([inputs[0], tiny, broken], tmp_path / "out2", [("book", {})])
    assert [r.ok for r in records] == [True, False, False]
    assert records[1].error == "book: Image error !" and records[2].error.startswith("PNG: ")
    assert os.listdir(tmp_path / "out2") == ["photo000.png"]
    with pytest.raises(ValueError, match="would both be written to"):
        marlo.batch([inputs[0], inputs[0]], tmp_path / "out3", STEPS)


@pytest.mark.skipif(SANITIZED, reason="worker processes do not run under the sanitizer runtime")
def test_dask_batch_survives_a_killed_worker(tmp_path):
    distributed = pytest.importorskip("distributed")
    inputs = photographs(str(tmp_path / "in"), 200, size=(240, 320))
    expected = str(tmp_path / "tool")
    run_tool(*TOOL_CHAIN, *inputs, "-o", expected + "/")
    out = str(tmp_path / "out")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=logging.CRITICAL) as cluster:
        with distributed.Client(cluster) as client:
            assert set(client.run(marlo.get_threads).values()) == {1}  # marlo's own threads
            victim = next(iter(client.run(os.getpid).values()))
            result = {}
            runner = threading.Thread(target=lambda: result.update(
                records=marlo.batch(inputs, out, STEPS, client)))
            runner.start()
            while runner.is_alive() and (not os.path.isdir(out) or len(os.listdir(out)) < 100):
                time.sleep(0.005)
            os.kill(victim, signal.SIGKILL)
            runner.join(600)
            # The worker was replaced, and the new one works with one thread too.
            assert victim not in client.run(os.getpid).values()
            assert set(client.run(marlo.get_threads).values()) == {1}
    check(result["records"], inputs, out, expected)
