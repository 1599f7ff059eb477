"""What CMake wrote about a Windows build for the Python tests
(<build>/test_settings.json, from test_support/test_settings.json.in)."""
import json
from pathlib import Path
from urllib.parse import urlsplit

from test_support.wine import Prefix


def rgb(text):
    """"E8765C" as (0xE8, 0x76, 0x5C)."""
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


class Settings:
    def __init__(self, values):
        self.values = values
        self.source = Path(values["source_dir"])
        self.build = Path(values["build_dir"])
        self.bin = Path(values["bin_dir"])
        self.launcher_name = values["launcher_name"]
        # The release server this build's launchers ask.
        self.release_base_url = values["release_base_url"]
        self.release_port = urlsplit(self.release_base_url).port or 80
        self.wine_run_sh = Path(values["wine_run_sh"])
        self.serve_sh = Path(values["serve_sh"])
        self.publisher = Path(values["publisher"]) if values["publisher"] else None
        self.test_key = Path(values["test_key"])
        layout = values["layout"]
        self.client_size = tuple(layout["client_size"])
        self.button = tuple(layout["button"])
        self.status_line = tuple(layout["status_line"])
        self.status_text = rgb(values["colours"]["status_text"])
        self.error_text = rgb(values["colours"]["error_text"])

    def program(self, name):
        """A program of this build: "with_env" is bin/with_env.exe."""
        return self.bin / (name if name.endswith(".exe") else f"{name}.exe")

    @property
    def launcher(self):
        return self.bin / self.launcher_name

    def launcher_of_version(self, version):
        """A launcher built with another version (window/CMakeLists.txt)."""
        return self.bin / f"launcher-{version}" / self.launcher_name

    def wine_prefix(self):
        """The build's shared prefix, the one CTest runs programs in."""
        return Prefix(self.wine_run_sh, self.values["wine_prefix"], self.values["wine_home"])

    def window_prefix(self):
        """The windowed tests' prefix (Wine binds a prefix's desktop process
        to the X display it first started on, so they have one of their
        own)."""
        return Prefix(self.wine_run_sh, self.values["window_prefix"], self.values["window_home"])

    def client_size_at(self, dpi):
        return tuple(side * dpi // 96 for side in self.client_size)


def load(build):
    """The settings of the Windows build in the folder `build`."""
    return Settings(json.loads((Path(build) / "test_settings.json").read_text()))
