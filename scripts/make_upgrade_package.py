#!/usr/bin/env python3
"""Builds a USB upgrade package for a trial on the simulated board.

    scripts/make_upgrade_package.py OUT.ZEL [--app FILE] [--fpga0 FILE] [--fpga1 FILE]
                                            [--font FILE]... [--version Y.M.D.H.S.F]
                                            [--publish N] [--controller 0x6C52]

--app     the application program, installed as /data/app/zelT71N (restart 300 ticks later)
--fpga0   a sending-card program (raw bytes; the 64-byte program head is added) for FPGA 0
--fpga1   the same for FPGA 1
--font    an OSD font file as the video chip's flash keeps it (35-byte head first: "P", the
          encoding in byte 5 (0 CJK, 1 ASCII), the glyph width in byte 17 and the dot size
          (0x20, 0x40), which with the encoding chooses the font's place, in byte 18)
--version the children's version (default 99.1.1.0.0.0, newer than any installed one)
--publish 128 skips children whose version is already installed; any other value installs all

Layout (little-endian): a 49-byte head (file type, file version, publish type at 2, u16
controller type at 18, u16 child count at 47), 21-byte child heads (type 7/8 FPGA 0/1 program,
10 application, 13 font; u32 length; u32 offset; six version bytes; u32 flash address; u16
sector count), then the children's data.

On the simulated board the stick is the directory $ZEL_ROOT/mnt/usb1/: put the package into
$ZEL_ROOT/mnt/usb1/ZEL-T71/ (the folder of the setting "usbupgradedir"), open the communication
page's USB tab and press OK.
"""
import argparse
import struct
import sys


def program_child(data):
    head = bytearray(64)
    head[16] = 1
    struct.pack_into("<I", head, 31, len(data))
    return bytes(head) + data


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("out")
    ap.add_argument("--app")
    ap.add_argument("--fpga0")
    ap.add_argument("--fpga1")
    ap.add_argument("--font", action="append", default=[])
    ap.add_argument("--version", default="99.1.1.0.0.0")
    ap.add_argument("--publish", type=int, default=0)
    ap.add_argument("--controller", type=lambda s: int(s, 0), default=0x6C52)
    a = ap.parse_args()

    version = bytes(int(v) for v in a.version.split("."))
    if len(version) != 6:
        sys.exit("--version takes six numbers: year.month.day.hardware.software.function")

    def read(path):
        with open(path, "rb") as f:
            return f.read()

    children = []
    if a.app:
        children.append((10, read(a.app)))
    if a.fpga0:
        children.append((7, program_child(read(a.fpga0))))
    if a.fpga1:
        children.append((8, program_child(read(a.fpga1))))
    for font in a.font:
        children.append((13, read(font)))
    if not children:
        sys.exit("nothing to pack: give --app, --fpga0, --fpga1 or --font")

    head = bytearray(49)
    head[0], head[1], head[2] = 1, 1, a.publish
    struct.pack_into("<H", head, 18, a.controller)
    struct.pack_into("<H", head, 47, len(children))
    offset = 49 + 21 * len(children)
    heads, data = bytearray(), bytearray()
    for kind, body in children:
        heads += struct.pack("<BII", kind, len(body), offset) + version + struct.pack("<IH", 0, 0)
        data += body
        offset += len(body)
    with open(a.out, "wb") as f:
        f.write(bytes(head) + bytes(heads) + bytes(data))
    print("%s: %d children, %d bytes" % (a.out, len(children), 49 + len(heads) + len(data)))


if __name__ == "__main__":
    main()
