#!/usr/bin/env python3
"""Lets clients start together: answers GET /<round>/<n> once n requests
naming the same round are waiting, all at once (an empty 200 each).

A client that has asked is already running (its start-up is over), so what
it does next starts within a fraction of a millisecond of the others.
Prints its port, then serves until killed. Usage: start_together.py
"""
import socket

ANSWER = b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"


def read_target(connection):
    head = b""
    while b"\r\n\r\n" not in head and len(head) < 8192:
        data = connection.recv(4096)
        if not data:
            break
        head += data
    parts = head.split(b" ")
    return parts[1].decode("ascii", "replace") if len(parts) > 1 else ""


def main():
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    print(server.getsockname()[1], flush=True)
    waiting = {}  # round -> connections
    while True:
        connection, _ = server.accept()
        connection.settimeout(10)
        try:
            target = read_target(connection).strip("/").split("/")
            group, needed = target[0], int(target[1])
        except (OSError, ValueError, IndexError):
            connection.close()
            continue
        waiting.setdefault(group, []).append(connection)
        if len(waiting[group]) >= needed:
            for c in waiting[group]:
                try:
                    c.sendall(ANSWER)
                except OSError:
                    pass  # that client gave up; the others go on
            for c in waiting.pop(group):
                c.close()


if __name__ == "__main__":
    main()
