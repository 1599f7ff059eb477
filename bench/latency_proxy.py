"""A TCP relay on loopback that makes a link slow the way distance does:
every byte arrives DELAY_MS / 2 later in each direction (so a round trip
costs DELAY_MS more), while the bytes in flight keep flowing at full rate.

    latency_proxy.py UPSTREAM_PORT DELAY_MS STATE_FILE

Listens on a free loopback port and keeps "PORT CONNECTIONS" in STATE_FILE:
its port and how many connections it has relayed so far. Runs until killed.
"""
import asyncio
import os
import sys
import time


async def relay(reader, writer, delay):
    """Forwards reader to writer, each chunk `delay` seconds after it came."""
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            await queue.put((time.monotonic() + delay, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.close()
                return
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, asyncio.CancelledError):
        writer.close()


async def main():
    upstream_port, delay_ms, state_file = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
    one_way = delay_ms / 2000.0
    connections = 0
    port = 0

    def record():
        with open(state_file + ".new", "w") as f:
            f.write(f"{port} {connections}\n")
        os.replace(state_file + ".new", state_file)

    async def serve(client_reader, client_writer):
        nonlocal connections
        connections += 1
        record()
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(relay(client_reader, server_writer, one_way),
                             relay(server_reader, client_writer, one_way),
                             return_exceptions=True)

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    port = server.sockets[0].getsockname()[1]
    record()
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
