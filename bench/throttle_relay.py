#!/usr/bin/env python3
"""A TCP relay that holds each direction to a link rate, for measuring clients as if they sat at a
branch office behind a slow link (a VPN of a few tens of Mbit/s).

    throttle_relay.py TARGET_HOST:TARGET_PORT [--mbit 50] [--listen-port 0]

Prints "relay listening on 127.0.0.1:PORT" once it accepts connections, then relays every
connection to TARGET, each direction paced to the rate (bytes leave no faster than the link
carries them; a burst of at most 64 KB). Runs until killed.
"""
import argparse
import asyncio
import time

CHUNK = 16 * 1024
BURST = 64 * 1024


async def pump(reader, writer, rate):
    # The link is free again at `free`; each chunk occupies it for len / rate seconds.
    free = time.monotonic()
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            now = time.monotonic()
            free = max(free, now - BURST / rate) + len(data) / rate
            if free > now:
                await asyncio.sleep(free - now)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        try:
            writer.close()
        except Exception:
            pass


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("target")
    parser.add_argument("--mbit", type=float, default=50.0)
    parser.add_argument("--listen-port", type=int, default=0)
    args = parser.parse_args()
    host, port = args.target.rsplit(":", 1)
    rate = args.mbit * 1e6 / 8

    async def serve(client_reader, client_writer):
        server_reader, server_writer = await asyncio.open_connection(host, int(port))
        await asyncio.gather(pump(client_reader, server_writer, rate), pump(server_reader, client_writer, rate))

    server = await asyncio.start_server(serve, "127.0.0.1", args.listen_port)
    print("relay listening on 127.0.0.1:%d" % server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
