"""Batches: one chain of filters over many files, on the local cores or on a Dask cluster."""
import collections
import concurrent.futures
import glob
import os
import time

from . import _marlo
from ._filters import find
from ._options import COMMON, common_words, default, tool_messages

Record = collections.namedtuple("Record", "input output ok error seconds")
Record.__doc__ = """The outcome of one input of a batch.

input, output: the paths; ok: True when the output was written; error: None, or the reason it
was not (the tool's message); seconds: the time the file took (reading, filtering, writing)."""


def _remove_leftovers(output):
    """Removes the temporary files of earlier attempts at `output` (a worker killed while it
    wrote), which are named as the file library names them."""
    folder, name = os.path.split(output)
    pattern = os.path.join(glob.escape(folder), "." + glob.escape(name) + ".marlo-??????")
    for path in glob.glob(pattern):
        try:
            os.remove(path)
        except OSError:
            pass


def run_file(job, chain, common):
    """One file of a batch: read, every step, written atomically. A task run again (after its
    worker died) writes the same bytes."""
    source, output, format = job
    start = time.perf_counter()
    _remove_leftovers(output)
    ok, message, _ = _marlo.process(source, output, format, chain, common)
    return Record(source, output, ok, None if ok else message, time.perf_counter() - start)


def batch(inputs, output_dir, steps, client=None, *, quality=default(COMMON["quality"]),
          compression=None, png_filter=default(COMMON["png_filter"]), format=None,
          max_megapixels=default(COMMON["max_megapixels"]), workers=None):
    """Runs a chain of filters over many files, each written into output_dir as the tool's
    `marlo STEP then STEP ... INPUTS -o output_dir/` writes it (same names, same bytes).

    inputs: paths of image files. Two inputs with the same name are refused (ValueError).
    output_dir: created when missing. With a cluster it must be a folder that every worker
        sees at the same path (a shared file system), and so must the inputs.
    steps: [(filter, {keyword: value}), ...], e.g. [("auto_levels", {}), ("sharpen",
        {"strength": 40})]; each filter is a function name or the tool's subcommand, with the
        keyword arguments of its function. Checked before any file is touched (TypeError,
        ValueError).
    client: None runs the files on this machine's cores (`workers` threads, default one per
        core); a dask.distributed.Client runs each file as one task on its cluster.
    quality, compression, png_filter: as marlo.write; format: "png", "jpeg", "tiff" or "pnm"
        for every output (default: each input's own format); max_megapixels: as marlo.read.

    Each task reads its file, runs the steps and writes the result to a temporary file that is
    renamed into place when complete, so an output is either whole or absent. A task that runs
    again after its worker died (Dask reschedules it) removes what the dead attempt left and
    writes the same bytes.

    Returns one Record(input, output, ok, error, seconds) per input, in the order of inputs.
    """
    inputs = [os.fsdecode(p) for p in inputs]
    chain = []
    for step in steps:
        name, values = step if isinstance(step, (tuple, list)) else (step, {})
        f = find(name)
        chain.append((f.tool_name, f.check(dict(values))))
    common = common_words(quality=quality, compression=compression, png_filter=png_filter,
                          format=format, max_megapixels=max_megapixels)
    if not inputs:
        return []
    output_dir = os.fsdecode(output_dir)
    os.makedirs(output_dir, exist_ok=True)
    with tool_messages():
        jobs = _marlo.plan(inputs, output_dir, common)
    settings = dict(chain=chain, common=common)
    if client is None:
        with concurrent.futures.ThreadPoolExecutor(workers or os.cpu_count() or 1) as pool:
            futures = [pool.submit(run_file, job, **settings) for job in jobs]
            try:
                return [f.result() for f in futures]
            except BaseException:
                pool.shutdown(cancel_futures=True)
                raise
    futures = client.map(run_file, jobs, pure=False, **settings)
    records = []
    for job, future in zip(jobs, futures):
        try:
            records.append(future.result())
        except Exception as e:  # the task could not be run (its workers kept dying)
            records.append(Record(job[0], job[1], False, "%s: %s" % (type(e).__name__, e), 0.0))
    return records
