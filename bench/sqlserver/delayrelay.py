#!/usr/bin/env python3
"""Relays TCP connections on loopback to a port, holding every piece of data
for a fixed time in each direction: a round-trip time where the kernel has no
netem to give one.

Usage: delayrelay.py TARGET_PORT ONE_WAY_MS

Listens on a free loopback port and prints "PORT <n>" as its first line;
ends when its stdin closes. Data keeps its order and is not throttled: only
delayed. One thread waits on every socket at once and sends each piece when
it is due, so that no hand-over between threads adds to the delay.
"""
import collections
import os
import select
import socket
import sys
import time


def main():
    target, delay = int(sys.argv[1]), float(sys.argv[2]) / 1000.0
    listener = socket.socket()
    listener.bind(('127.0.0.1', 0))
    listener.listen(16)
    print('PORT %d' % listener.getsockname()[1], flush=True)
    peer = {}                                  # socket -> the socket its data goes to
    due = collections.defaultdict(collections.deque)  # destination -> (time, data), in order
    stdin = sys.stdin.fileno()
    while True:
        now = time.monotonic()
        waits = [q[0][0] - now for q in due.values() if q]
        timeout = max(0.0, min(waits)) if waits else None
        readable, _, _ = select.select([listener, stdin] + list(peer), [], [], timeout)
        for s in readable:
            if s == stdin:
                if not os.read(stdin, 4096):
                    os._exit(0)
            elif s is listener:
                client, _ = listener.accept()
                server = socket.create_connection(('127.0.0.1', target))
                for c in (client, server):
                    c.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
                peer[client], peer[server] = server, client
            else:
                try:
                    data = s.recv(1 << 18)
                except OSError:
                    data = b''
                due[peer[s]].append((time.monotonic() + delay, data))
                if not data:
                    del peer[s]
        now = time.monotonic()
        for dst, q in list(due.items()):
            while q and q[0][0] <= now:
                _, data = q.popleft()
                try:
                    if data:
                        dst.setblocking(True)
                        dst.sendall(data)
                    else:
                        dst.shutdown(socket.SHUT_WR)
                except OSError:
                    q.clear()
            if not q:
                del due[dst]


if __name__ == '__main__':
    main()
