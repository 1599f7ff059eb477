"""Runs a Windows test program on the windowed-test desktop (a virtual X
screen with a window manager), where it may create real top-level windows;
the build's shared prefix has no display. Exits with the program's code.

    on_desktop.py --build BUILD PROGRAM [ARGS...]
"""
import argparse
import subprocess
import sys
import tempfile

from test_support import settings
from test_support.desktop import Desktop


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("program")
    parser.add_argument("args", nargs=argparse.REMAINDER)
    options = parser.parse_args()
    build = settings.load(options.build)
    with tempfile.TemporaryDirectory() as work, Desktop(build.window_prefix(), work) as desktop:
        program = desktop.wine(options.program, *options.args, stdout=None)
        try:
            return program.wait(timeout=240)
        except subprocess.TimeoutExpired:
            program.kill()
            print("the program did not end within 240 s")
            return 1


if __name__ == "__main__":
    sys.exit(main())
