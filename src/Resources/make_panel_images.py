#!/usr/bin/env python3
"""Draws the input panel's icons (icn_*.icns) and its small setting images
(panel_*.png) into this folder: plain shapes, so the files can be remade at
any time. An ICNS file holds one 128x128 PNG ("ic07") and one 256x256 PNG
("ic08")."""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def png(width, height, pixel):
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows.extend(pixel(x / width, y / height))
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(rows), 9))
            + chunk(b"IEND", b""))


CLEAR = (0, 0, 0, 0)
EDGE = (60, 60, 60, 255)
PAPER = (250, 250, 250, 255)


def page(fill, bars):
    """A sheet with a picture area coloured by mode and 1-3 bars for the resolution band."""
    def pixel(u, v):
        if not (0.18 <= u <= 0.82 and 0.08 <= v <= 0.92):
            return CLEAR
        if u < 0.21 or u > 0.79 or v < 0.11 or v > 0.89:
            return EDGE
        if 0.28 <= u <= 0.72 and 0.18 <= v <= 0.55:
            return fill(u, v)
        for i in range(bars):
            top = 0.62 + i * 0.09
            if top <= v <= top + 0.05 and 0.28 <= u <= 0.72:
                return EDGE
        return PAPER
    return pixel


def colour(u, v):
    return (int(255 * u), int(255 * (1 - v)), int(255 * (1 - u)), 255)


def gray(u, v):
    g = int(230 * u)
    return (g, g, g, 255)


def black_white(u, v):
    return (0, 0, 0, 255) if (int(u * 12) + int(v * 12)) % 2 else (255, 255, 255, 255)


def auto(u, v):
    return colour(u, v) if u < 0.5 else black_white(u, v)


def icns(pixel):
    elements = b""
    for tag, size in ((b"ic07", 128), (b"ic08", 256)):
        data = png(size, size, pixel)
        elements += tag + struct.pack(">I", len(data) + 8) + data
    return b"icns" + struct.pack(">I", len(elements) + 8) + elements


def sheets(count, offset, mark=None):
    def pixel(u, v):
        for i in range(count):
            x0, y0 = 0.15 + i * offset, 0.1 + i * offset
            if x0 <= u <= x0 + 0.5 and y0 <= v <= y0 + 0.7:
                if u < x0 + 0.04 or u > x0 + 0.46 or v < y0 + 0.04 or v > y0 + 0.66:
                    return EDGE
                if mark and i == count - 1:
                    return mark(u - x0, v - y0)
                return PAPER
        return CLEAR
    return pixel


def lines(u, v):
    return EDGE if 0.12 < u < 0.38 and int(v * 20) % 3 == 0 and 0.1 < v < 0.6 else PAPER


def cross(u, v):
    return (200, 40, 40, 255) if abs(u - v * 0.7) < 0.04 or abs(u - (0.7 - v) * 0.7) < 0.04 else PAPER


def tilted(u, v):
    def pixel(x, y):
        xr, yr = x + (y - 0.5) * 0.3, y - (x - 0.5) * 0.3
        if 0.2 <= xr <= 0.8 and 0.15 <= yr <= 0.85:
            return EDGE if xr < 0.24 or xr > 0.76 or yr < 0.19 or yr > 0.81 else PAPER
        return CLEAR
    return pixel(u, v)


def letter_a(u, v):
    if not (0.2 <= u <= 0.8 and 0.15 <= v <= 0.85):
        return CLEAR
    left = abs(u - (0.5 - (v - 0.15) * 0.4)) < 0.05
    right = abs(u - (0.5 + (v - 0.15) * 0.4)) < 0.05
    bar = abs(v - 0.6) < 0.04 and 0.35 < u < 0.65
    return EDGE if left or right or bar else CLEAR


def main():
    modes = {"A": auto, "C": colour, "G": gray, "B": black_white}
    bands = {"600": 3, "300": 2, "150": 1}
    for letter, fill in modes.items():
        for band, bars in bands.items():
            with open(os.path.join(HERE, f"icn_{letter}{band}.icns"), "wb") as f:
                f.write(icns(page(fill, bars)))
    small = {
        "panel_blankskip.png": sheets(2, 0.2, cross),
        "panel_simplex.png": sheets(1, 0.0, lines),
        "panel_duplex.png": sheets(2, 0.2, lines),
        "panel_folio.png": sheets(2, 0.3),
        "panel_deskew.png": tilted,
        "panel_textdir.png": letter_a,
    }
    for name, pixel in small.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(png(32, 32, pixel))


if __name__ == "__main__":
    main()
