#!/usr/bin/env python3
"""Relays TCP connections on loopback to a port, holding every piece of data
for a fixed time in each direction: a round-trip time where the kernel has no
netem to give one.

Usage: delayrelay.py TARGET_PORT ONE_WAY_MS

Listens on a free loopback port and prints "PORT <n>" as its first line;
ends when its stdin closes. Data keeps its order and is not throttled: only
delayed.
"""
import os
import queue
import socket
import sys
import threading
import time


def carry(src, dst, delay):
    pieces = queue.Queue()

    def read():
        while True:
            try:
                data = src.recv(1 << 16)
            except OSError:
                data = b''
            pieces.put((time.monotonic() + delay, data))
            if not data:
                return

    threading.Thread(target=read, daemon=True).start()
    while True:
        due, data = pieces.get()
        wait = due - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        try:
            if not data:
                dst.shutdown(socket.SHUT_WR)
                return
            dst.sendall(data)
        except OSError:
            return


def main():
    target, delay = int(sys.argv[1]), float(sys.argv[2]) / 1000.0
    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(16)
    print('PORT %d' % listener.getsockname()[1], flush=True)

    def watch_stdin():
        sys.stdin.read()
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    while True:
        client, _ = listener.accept()
        server = socket.create_connection(('127.0.0.1', target))
        for s in (client, server):
            s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=carry, args=(client, server, delay), daemon=True).start()
        threading.Thread(target=carry, args=(server, client, delay), daemon=True).start()


if __name__ == '__main__':
    main()
