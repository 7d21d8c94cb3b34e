#!/usr/bin/env python3
"""Linux end of a serial line for the Windows tests under Wine.

    pty_peer.py TCP_PORT LINK

Makes a kernel pty, points LINK (one of the prefix's COM port paths) at its
slave and connects to the Windows test on 127.0.0.1:TCP_PORT, which cannot
open a pty itself. Commands from the test, one byte each:
  W <u32 n> <n bytes>   write the bytes to the line (no answer)
  R <u32 n> <u32 ms>    read up to n bytes from the line, waiting at most ms in
                        all; answer <u32 k> <k bytes>
  H                     hang up: close the master (the port's device is gone)
The peer ends when the test closes the connection.
"""
import os
import select
import socket
import struct
import sys
import time
import tty


def recv_exactly(conn, n):
    data = b""
    while len(data) < n:
        chunk = conn.recv(n - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_line(master, n, ms):
    data = b""
    end = time.monotonic() + ms / 1000.0
    while len(data) < n and master is not None:
        left = end - time.monotonic()
        if left <= 0 or not select.select([master], [], [], left)[0]:
            break
        try:
            data += os.read(master, n - len(data))
        except OSError:
            break
    return data


def main():
    tcp_port, link = int(sys.argv[1]), sys.argv[2]
    master, slave = os.openpty()
    tty.setraw(slave)
    slave_name = os.ttyname(slave)
    tmp = link + ".new"
    if os.path.lexists(tmp):
        os.unlink(tmp)
    os.symlink(slave_name, tmp)
    os.replace(tmp, link)
    conn = socket.create_connection(("127.0.0.1", tcp_port))
    try:
        while True:
            op = conn.recv(1)
            if not op:
                break
            if op == b"W":
                (n,) = struct.unpack("<I", recv_exactly(conn, 4))
                data = recv_exactly(conn, n)
                view = memoryview(data)
                while master is not None and view:
                    view = view[os.write(master, view):]
            elif op == b"R":
                n, ms = struct.unpack("<II", recv_exactly(conn, 8))
                data = read_line(master, n, ms)
                conn.sendall(struct.pack("<I", len(data)) + data)
            elif op == b"H":
                os.close(master)
                os.close(slave)
                master = slave = None
    finally:
        # The next test's peer may have taken the link over already.
        if os.path.islink(link) and os.readlink(link) == slave_name:
            os.unlink(link)


if __name__ == "__main__":
    main()
