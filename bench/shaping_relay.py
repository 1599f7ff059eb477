"""A TCP relay on loopback in front of a server, for benchmarks that need a
link worse than loopback: it drops each connection once it has sent a
number of bytes, or paces what it sends to a rate, or both.

    shaping_relay.py UPSTREAM_PORT STATE_FILE [--drop-after BYTES] [--rate BYTES_PER_S]

Run as a script it listens on a free loopback port, writes "PORT" to
STATE_FILE and runs until killed. Imported, ShapingRelay starts the same on
daemon threads and counts in `sent` every byte it passed to the clients.
"""
import argparse
import socket
import threading
import time


class ShapingRelay:
    def __init__(self, upstream_port, drop_after=None, rate=None):
        self.upstream = upstream_port
        self.drop_after = drop_after
        self.rate = rate
        self.sent = 0
        self.lock = threading.Lock()
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            client, _ = self.listener.accept()
            threading.Thread(target=self.serve, args=(client,), daemon=True).start()

    def serve(self, client):
        upstream = socket.create_connection(("127.0.0.1", self.upstream))

        def requests():
            try:
                while data := client.recv(65536):
                    upstream.sendall(data)
            except OSError:
                pass

        threading.Thread(target=requests, daemon=True).start()
        budget = self.drop_after if self.drop_after is not None else float("inf")
        # Paced answers go in small pieces, so that the rate holds within a
        # small object too.
        piece = 16384 if self.rate else 65536
        try:
            while budget > 0 and (data := upstream.recv(int(min(piece, budget)))):
                client.sendall(data)
                budget -= len(data)
                with self.lock:
                    self.sent += len(data)
                if self.rate:
                    time.sleep(len(data) / self.rate)
        except OSError:
            pass
        # Shut down first: a close alone would wait for the reading thread.
        for s in (client, upstream):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("upstream_port", type=int)
    parser.add_argument("state_file")
    parser.add_argument("--drop-after", type=int)
    parser.add_argument("--rate", type=int)
    args = parser.parse_args()
    relay = ShapingRelay(args.upstream_port, args.drop_after, args.rate)
    with open(args.state_file, "w") as state:
        state.write(f"{relay.port}\n")
    threading.Event().wait()


if __name__ == "__main__":
    main()
