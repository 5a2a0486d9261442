#!/usr/bin/env python3
"""Writes the two stand-in loader images library/loaders/loader1.bin and loader2.bin.

The receiver's supplier provides the real loader images (the code that the
receiver's processor runs to program its flash). They are not part of this
repository. What this generator writes instead are placeholders of exactly the
sizes the XMODEM engine and its tests expect (3,576 and 2,720 bytes):

  * a plain text at the start that says the file is a stand-in and not a loader;
  * then a deterministic filler (a 32-bit xorshift sequence from a fixed seed,
    with 0x1A bytes replaced so that the XMODEM padding of the last block can
    always be told apart from image bytes).

The output depends on nothing but this file, so running it again gives the same
bytes. A receiver must never be sent these images: they contain no code.

Usage: make_loaders.py [OUTPUT_DIR]   (default: library/loaders next to tools/)
"""

import pathlib
import sys

IMAGES = [
    # (file name, size in bytes, seed)
    ("loader1.bin", 3576, 0x2F6B1D03),
    ("loader2.bin", 2720, 0x7C41A955),
]

NOTICE = (
    "STAND-IN LOADER IMAGE {number} ({size} bytes). THIS IS NOT A LOADER: it holds no "
    "receiver code and must never be sent to a receiver. It only has the size of the "
    "supplier's loader image so that the library can be built and its XMODEM engine "
    "tested. Embed the supplier's image for an installation "
    "(see library/loaders/README.md).\n"
)


def xorshift32(state):
    while True:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state


def make_image(number, size, seed):
    notice = NOTICE.format(number=number, size=f"{size:,}").encode("ascii")
    if len(notice) >= size:
        raise ValueError("notice does not fit the image")
    data = bytearray(notice)
    for value in xorshift32(seed):
        if len(data) == size:
            break
        byte = value & 0xFF
        data.append(0x1B if byte == 0x1A else byte)
    return bytes(data)


def main(argv):
    if len(argv) > 2:
        print(__doc__, file=sys.stderr)
        return 2
    default = pathlib.Path(__file__).resolve().parents[2] / "library" / "loaders"
    out_dir = pathlib.Path(argv[1]) if len(argv) == 2 else default
    out_dir.mkdir(parents=True, exist_ok=True)
    for number, (name, size, seed) in enumerate(IMAGES, start=1):
        image = make_image(number, size, seed)
        assert len(image) == size
        (out_dir / name).write_bytes(image)
        print(f"{out_dir / name}: {size} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
