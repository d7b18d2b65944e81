"""Shared fixtures: the built tool (MARLO_TOOL) and the sample photographs (MARLO_SAMPLES)."""
import glob
import os
import subprocess

import pytest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOOL = os.environ.get("MARLO_TOOL", os.path.join(ROOT, "build", "cli", "marlo"))
SAMPLES = sorted(glob.glob(os.path.join(os.environ.get("MARLO_SAMPLES", os.path.join(
    ROOT, "samples")), "*.png")))
SANITIZED = os.environ.get("MARLO_SANITIZED") == "1"


def tool_words(name, options):
    """The tool's command line for a filter function's keyword arguments."""
    words = [name.replace("_", "-")]
    for key, value in options.items():
        text = ",".join(map(str, value)) if isinstance(value, tuple) else str(value)
        words += ["--" + key.rstrip("_").replace("_", "-"), text]
    return words


def run_tool(*words):
    subprocess.run([TOOL, *map(str, words), "-q"], check=True)


@pytest.fixture(scope="session")
def samples():
    assert len(SAMPLES) == 6, SAMPLES
    return SAMPLES
