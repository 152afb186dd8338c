#!/usr/bin/env python3
"""A plain dump client for comparison in bench_transfer: the tool's side of the loader dialogue
with select() and os.read(), reading whatever the line hands over at each wake-up.

    select_client.py DEVICE FIRST COUNT

Prints "ok WALL CPU WAKEUPS" for the transfer (from the download request to the total), or
"failed REASON"; exit status 0 when the dump went through with every sum and the total right.
"""

import os
import resource
import select
import sys
import termios
import time
import tty

FRAME = 1032
BLOCK = 1024


def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def main():
    device, first, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    fd = os.open(device, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    tty.setraw(fd)
    attributes = termios.tcgetattr(fd)
    attributes[4] = attributes[5] = termios.B115200
    termios.tcsetattr(fd, termios.TCSANOW, attributes)
    buffer = bytearray()
    wakeups = 0

    def fill(wanted, timeout=10.0):
        nonlocal wakeups
        deadline = time.monotonic() + timeout
        while len(buffer) < wanted:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([fd], [], [], left)[0]:
                raise RuntimeError("timeout")
            wakeups += 1
            buffer.extend(os.read(fd, 65536))

    def line():
        while b"\n" not in buffer:
            fill(len(buffer) + 1)
        end = buffer.index(b"\n")
        text = bytes(buffer[:end]).rstrip(b"\r")
        del buffer[: end + 1]
        return text

    # Break-in until the loader speaks, then its questions.
    last_break = 0.0
    while b"\n" not in buffer:
        if time.monotonic() - last_break >= 0.5:
            os.write(fd, b"\x1f")
            last_break = time.monotonic()
        if select.select([fd], [], [], 0.1)[0]:
            buffer.extend(os.read(fd, 65536))
    armed = False
    while True:
        text = line()
        if text.endswith(b"BL_FLASH_END"):
            os.write(fd, b"KDATA")
        elif text.startswith(b"REQUEST_VERSION:"):
            os.write(fd, b"ack")
        elif text == b"REQDATA_START_BLOCK":
            os.write(fd, b"%04d" % first)
        elif text == b"REQDATA_BLOCK":
            os.write(fd, b"%04d" % count)
            armed = True
        elif text == b"ack" and armed:
            break

    start_wall, start_cpu, wakeups = time.monotonic(), cpu(), 0
    os.write(fd, b"REQUEST_DOWNLOAD\r")
    total = 0
    for block in range(first, first + count):
        os.write(fd, b"REQUEST_1024DOWN:%d\r" % block)
        fill(FRAME)
        frame = bytes(buffer[:FRAME])
        del buffer[:FRAME]
        data_sum = sum(frame[:BLOCK])
        if data_sum % 256 != frame[BLOCK]:
            print("failed bad sum at block %d" % block)
            return 1
        total += data_sum
        os.write(fd, b"1024DOWN_SUCCESS:%d\r" % block)
    os.write(fd, b"REQUEST_TOTALCRC\r")
    fill(1)
    if buffer[0] != total % 256:
        print("failed total")
        return 1
    os.write(fd, b"DOWN_SUCCESS\r")
    print("ok %.6f %.6f %d" % (time.monotonic() - start_wall, cpu() - start_cpu, wakeups))
    os.close(fd)
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (OSError, RuntimeError) as error:
        print("failed %s" % error)
        sys.exit(1)
