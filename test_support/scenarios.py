"""The command line of a scenario runner (a script of named scenarios run in
sequence, each checked as a player would see it):

    RUNNER --build BUILD_DIR [--keep DIR] [SCENARIO...]

runs the named scenarios (all by default) with the build's settings, in a
work folder that is removed after a pass and kept after a failure, or kept
in DIR with --keep. Exits 0 only when every scenario passed.
"""
import argparse
import shutil
import sys
import tempfile
import time
from pathlib import Path

from test_support import settings
from test_support.checks import Failure, Timeout


def main(description, scenarios, session):
    """`scenarios`: {name: function of the session's value}. `session`: a
    function (settings, work folder) returning a context manager whose value
    every scenario gets (a desktop they share, or the settings and folder
    alone)."""
    prog = Path(sys.argv[0]).stem
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the Windows build folder (its test_settings.json)")
    parser.add_argument("--keep", help="keep the work folder (screenshots, logs) here")
    parser.add_argument("scenarios", nargs="*", metavar="SCENARIO", help=", ".join(scenarios))
    args = parser.parse_args()
    unknown = set(args.scenarios) - set(scenarios)
    if unknown:
        parser.error(f"unknown scenario: {', '.join(sorted(unknown))}")
    if args.keep:
        work = Path(args.keep)
        shutil.rmtree(work, ignore_errors=True)
        work.mkdir(parents=True)
    else:
        work = Path(tempfile.mkdtemp(prefix=f"{prog}-"))
    started = time.monotonic()
    print(f"{prog} in {work}", flush=True)
    try:
        with session(settings.load(args.build), work) as value:
            for name in args.scenarios or scenarios:
                print(f"{prog}: {name}", flush=True)
                scenarios[name](value)
    except (Failure, Timeout) as problem:
        print(f"FAILED: {problem} (screenshots and logs in {work})", flush=True)
        return 1
    print(f"passed in {time.monotonic() - started:.0f} s", flush=True)
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0
