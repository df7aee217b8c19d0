#!/usr/bin/env python3
"""Draws the settings window's button images into images/ as uncompressed
RGBA TIFF files: the tool strip's buttons (normal and disabled), the three
scan buttons in their six forms and the slider end buttons' pairs. Plain
shapes, so the files can be remade at any time.

Every form has a colour of its own, and every image covers its centre
pixel with it, so a test can tell which form was drawn by sampling the
centre: _N #616161, _S #36AB8B, _NF #FFA200, _SF #C77F00, _G #C8C8C8,
_C #3E3E3E. The help glyph is a question mark, which shows whether it was
mirrored."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "images")
CLEAR = (0, 0, 0, 0)

FORMS = {
    "_N": (0x61, 0x61, 0x61, 255),
    "_S": (0x36, 0xAB, 0x8B, 255),
    "_NF": (0xFF, 0xA2, 0x00, 255),
    "_SF": (0xC7, 0x7F, 0x00, 255),
    "_G": (0xC8, 0xC8, 0xC8, 255),
    "_C": (0x3E, 0x3E, 0x3E, 255),
}


def tiff(width, height, pixel):
    """A little-endian, uncompressed, one-strip RGBA TIFF (unassociated alpha)."""
    data = bytearray()
    for y in range(height):
        for x in range(width):
            data.extend(pixel((x + 0.5) / width, (y + 0.5) / height))
    entries = [
        (256, 4, 1, width),            # ImageWidth
        (257, 4, 1, height),           # ImageLength
        (258, 3, 4, None),             # BitsPerSample 8,8,8,8 (at an offset)
        (259, 3, 1, 1),                # Compression: none
        (262, 3, 1, 2),                # Photometric: RGB
        (273, 4, 1, None),             # StripOffsets
        (277, 3, 1, 4),                # SamplesPerPixel
        (278, 4, 1, height),           # RowsPerStrip
        (279, 4, 1, len(data)),        # StripByteCounts
        (284, 3, 1, 1),                # PlanarConfiguration: contiguous
        (338, 3, 1, 2),                # ExtraSamples: unassociated alpha
    ]
    ifd_offset = 8
    ifd_size = 2 + 12 * len(entries) + 4
    bits_offset = ifd_offset + ifd_size
    data_offset = bits_offset + 8
    out = bytearray(b"II*\x00" + struct.pack("<I", ifd_offset))
    out += struct.pack("<H", len(entries))
    for tag, kind, count, value in entries:
        if tag == 258:
            value = bits_offset
        elif tag == 273:
            value = data_offset
        if kind == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, kind, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, kind, count, value)
    out += struct.pack("<I", 0)
    out += struct.pack("<4H", 8, 8, 8, 8)
    out += data
    return bytes(out)


def centre_dot(u, v):
    return abs(u - 0.5) < 0.1 and abs(v - 0.5) < 0.1


def ring(u, v, r=0.26, w=0.07, cx=0.44, cy=0.44):
    return abs(math.hypot(u - cx, v - cy) - r) < w


def handle(u, v):
    return u > 0.62 and v > 0.62 and abs(u - v) < 0.08 and u < 0.88


def zoom_in(u, v):
    return ring(u, v) or handle(u, v) or (abs(u - 0.44) < 0.05 and abs(v - 0.44) < 0.15) or (
        abs(v - 0.44) < 0.05 and abs(u - 0.44) < 0.15)


def zoom_out(u, v):
    return ring(u, v) or handle(u, v) or (abs(v - 0.44) < 0.05 and abs(u - 0.44) < 0.15)


def selection(u, v):
    # A dashed frame: the crop selection.
    edge = (0.15 < u < 0.85 and 0.15 < v < 0.85) and not (0.24 < u < 0.76 and 0.24 < v < 0.76)
    return edge and (int(u * 12) + int(v * 12)) % 2 == 0


def glove(u, v):
    palm = math.hypot((u - 0.5) / 0.3, (v - 0.62) / 0.24) < 1
    fingers = any(abs(u - x) < 0.05 and 0.2 < v < 0.6 for x in (0.33, 0.44, 0.55, 0.66))
    return palm or fingers


def info(u, v):
    return abs(math.hypot(u - 0.5, v - 0.5) - 0.36) < 0.06 or (abs(u - 0.5) < 0.06 and (
        0.42 < v < 0.72 or 0.26 < v < 0.34))


def help_mark(u, v):
    # A question mark: a hook open to the left, its stem and its dot.
    hook = abs(math.hypot(u - 0.5, v - 0.34) - 0.17) < 0.06 and not (u < 0.5 and v > 0.34)
    stem = abs(u - 0.5) < 0.06 and 0.5 < v < 0.66
    dot = abs(u - 0.5) < 0.06 and 0.74 < v < 0.84
    return hook or stem or dot


def scan_face(u, v):
    # A rounded plate: the button's whole face, its title drawn on top.
    rx, ry = 0.06, 0.2
    dx = max(0.0, abs(u - 0.5) - (0.5 - rx))
    dy = max(0.0, abs(v - 0.5) - (0.5 - ry))
    return math.hypot(dx / rx, dy / ry) <= 1.0


def sun(big):
    def shape(u, v):
        r = math.hypot(u - 0.5, v - 0.5)
        core = r < (0.2 if big else 0.14)
        rays = big and 0.3 < r < 0.44 and int((math.degrees(math.atan2(v - 0.5, u - 0.5)) + 360) / 22.5) % 2 == 0
        return core or rays
    return shape


def contrast(big):
    def shape(u, v):
        r = math.hypot(u - 0.5, v - 0.5)
        if big:
            return r < 0.36 and (u < 0.5 or r > 0.28) or centre_dot(u, v)
        return abs(r - 0.3) < 0.06 or centre_dot(u, v)
    return shape


def glyph(shape, colour):
    def pixel(u, v):
        return colour if shape(u, v) or centre_dot(u, v) else CLEAR
    return pixel


# (base name, size, shape, forms)
IMAGES = [
    ("TPL_ZoomIn", (24, 24), zoom_in, ("_N", "_G")),
    ("TPL_ZoomOut", (24, 24), zoom_out, ("_N", "_G")),
    ("TPL_DragSwitch", (24, 24), selection, ("_N", "_G")),
    ("TPL_GloveSwitch", (24, 24), glove, ("_N", "_G")),
    ("TPL_Info", (24, 24), info, ("_N", "_G")),
    ("TPL_Help", (24, 24), help_mark, ("_N", "_G")),
    ("SPL_Scan", (120, 32), scan_face, ("_N", "_S", "_NF", "_SF", "_G", "_C")),
    ("DTL_Scan", (96, 28), scan_face, ("_N", "_S", "_NF", "_SF", "_G", "_C")),
    ("SPN_Scan", (96, 28), scan_face, ("_N", "_S", "_NF", "_SF", "_G", "_C")),
    # The brightness-low name is the resource's own spelling.
    ("SPL_BrightnessHi", (16, 16), sun(True), ("_N", "_G")),
    ("SPL_BirghtnessLow", (16, 16), sun(False), ("_N", "_G")),
    ("SPL_ContrastHi", (16, 16), contrast(True), ("_N", "_G")),
    ("SPL_ContrastLow", (16, 16), contrast(False), ("_N", "_G")),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for base, (w, h), shape, forms in IMAGES:
        for form in forms:
            with open(os.path.join(OUT, base + form + ".tiff"), "wb") as f:
                f.write(tiff(w, h, glyph(shape, FORMS[form])))


if __name__ == "__main__":
    main()
