"""nginx serving a release tree on loopback through tools/nginx/serve.sh,
optionally throttled per connection, and its request log."""
import contextlib
import fcntl
import os
import re
import signal
import subprocess
import tempfile
from pathlib import Path

from test_support.checks import wait_until


def port_lock_path(port):
    """The machine-wide lock of a release port: test runs of several
    checkouts take turns instead of answering each other's launchers."""
    return Path(tempfile.gettempdir()) / f"stonewake-release-port-{port}.lock"


@contextlib.contextmanager
def holding_port(port):
    """Holds a release port's lock: while it is held no test release server
    answers there (a launcher of that port stays offline)."""
    with open(port_lock_path(port), "w") as lock:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"waiting for port {port}: another test run serves releases there", flush=True)
            fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            yield
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


class ReleaseServer:
    """Serves `tree` with nginx; nginx keeps its state (configuration, logs)
    in `state`. As a context manager it serves from entry to exit."""

    def __init__(self, settings, tree, state, rate=None, latest_rate=None, port=None, cert=None, key=None,
                 path=None):
        """`rate` and `latest_rate` limit each connection to objects/ and
        to latest/ (nginx limit_rate values: "200k", "150"; None or "0" for
        no limit). `port`: by default the one the build's launchers ask,
        held under its machine-wide lock while serving; 0 for any free port
        (a program told the address, no lock). With `cert` and `key` it
        serves https://localhost:PORT; with `path` ("/releases/stonewake")
        the tree is served under that path."""
        self.serve_sh = str(settings.serve_sh)
        self.port = settings.release_port if port is None else port
        self.tree = Path(tree)
        self.state = Path(state)
        self.rates = {"STONEWAKE_NGINX_RATE": rate, "STONEWAKE_NGINX_LATEST_RATE": latest_rate}
        self.fixed = {"STONEWAKE_NGINX_CERT": cert, "STONEWAKE_NGINX_KEY": key, "STONEWAKE_NGINX_PATH": path}
        self.base_url = None
        self._port_lock = None

    def __enter__(self):
        if self.port:
            self._port_lock = holding_port(self.port)
            self._port_lock.__enter__()
        try:
            self.start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        if self._port_lock:
            self._port_lock.__exit__(None, None, None)
            self._port_lock = None

    def start(self, rate=None, latest_rate=None):
        """(Re)starts serving; given rates replace the earlier ones. The
        first start on any port keeps that port for later starts."""
        if rate is not None:
            self.rates["STONEWAKE_NGINX_RATE"] = rate
        if latest_rate is not None:
            self.rates["STONEWAKE_NGINX_LATEST_RATE"] = latest_rate
        env = dict(os.environ)
        env.update({name: str(value) for name, value in {**self.rates, **self.fixed}.items() if value})
        port = [str(self.port)] if self.port else []
        out = subprocess.run([self.serve_sh, "start", str(self.tree), str(self.state), *port], env=env,
                             check=True, stdout=subprocess.PIPE, text=True, timeout=60)
        self.base_url = out.stdout.strip()
        self.port = int(re.match(r"https?://[^/]+:(\d+)", self.base_url).group(1))

    def stop(self):
        subprocess.run([self.serve_sh, "stop", str(self.state)], check=False, timeout=60)

    def requests(self):
        """Request paths in the order nginx logged them."""
        try:
            text = (self.state / "access.log").read_text()
        except FileNotFoundError:
            return []
        return re.findall(r'"GET (\S+) HTTP', text)

    def object_requests(self):
        return [path for path in self.requests() if path.startswith("/objects/")]

    def clear_log(self):
        """Starts a fresh request log (nginx reopens it on USR1)."""
        log = self.state / "access.log"
        if log.exists():
            log.unlink()
        pid = int((self.state / "nginx.pid").read_text().strip())
        os.kill(pid, signal.SIGUSR1)
        wait_until(log.exists, "nginx to reopen its log", 10, interval=0.05)
