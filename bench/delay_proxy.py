#!/usr/bin/python3
"""A link with a round-trip time, on loopback: forwards every TCP connection it accepts to a server and
holds every byte a fixed time in each direction, without any bandwidth limit.

    delay_proxy.py --target-port PORT --delay-ms 10     (listens on a free port of 127.0.0.1)

Prints "PORT n" when it listens, then serves until it is ended (SIGTERM). With 10 ms each way a client
sees a round trip of 20 ms, as to a server some way off; the bytes keep their order and their pieces, and
each piece leaves the proxy the delay after it arrived, however much is on the way at once. An end of
input on one side reaches the other side as late as the bytes before it.
"""

import argparse
import asyncio
import signal
import socket
import sys

LOOPBACK = "127.0.0.1"
# Bytes taken from a socket at once. Large enough that a message is never held up behind a read limit.
READ_SIZE = 256 * 1024


def no_delay(writer):
    # The proxy itself must add no wait of its own: small pieces leave at once, not when Nagle allows.
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def forward(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    delivery = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(READ_SIZE)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
        await delivery
    except (ConnectionError, OSError):
        delivery.cancel()
        raise


async def serve_connection(client_reader, client_writer, target_port, delay):
    try:
        server_reader, server_writer = await asyncio.open_connection(LOOPBACK, target_port)
    except OSError:
        client_writer.close()
        return
    no_delay(client_writer)
    no_delay(server_writer)
    try:
        await asyncio.gather(forward(client_reader, server_writer, delay),
                             forward(server_reader, client_writer, delay))
    except (ConnectionError, OSError):
        pass
    finally:
        for writer in (client_writer, server_writer):
            writer.close()


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--target-port", type=int, required=True)
    parser.add_argument("--delay-ms", type=float, default=10.0, help="delay in each direction")
    args = parser.parse_args()
    delay = args.delay_ms / 1000.0
    server = await asyncio.start_server(
        lambda reader, writer: serve_connection(reader, writer, args.target_port, delay), LOOPBACK, 0)
    print("PORT %d" % server.sockets[0].getsockname()[1], flush=True)
    stop = asyncio.Event()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set)
    async with server:
        await stop.wait()
    return 0


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
