#!/usr/bin/env python3
"""Peer for the interoperability test: talks to our driver through pySerial.

Usage: pyserial_peer.py DEVICE BAUD[,BAUD...]
For every baud rate: set it, send "hello <baud>\\n" and all 256 byte values,
expect "reply <baud>\\n" and the byte values reversed. Exit 0 on success.
"""
import sys

import serial


def main():
    device, bauds = sys.argv[1], [int(b) for b in sys.argv[2].split(",")]
    port = serial.Serial(device, bauds[0], timeout=5)
    for baud in bauds:
        port.baudrate = baud
        if port.baudrate != baud:
            print("baud rate not applied: %d" % port.baudrate, file=sys.stderr)
            return 1
        port.write(b"hello %d\n" % baud + bytes(range(256)))
        port.flush()
        expected = b"reply %d\n" % baud + bytes(range(255, -1, -1))
        got = port.read(len(expected))
        if got != expected:
            print("at %d baud got %r" % (baud, got[:40]), file=sys.stderr)
            return 1
    port.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
