#!/usr/bin/env python3
"""Draws the panel tiles' own images into this folder: the arrow between a
job's input and its outputs (panel_jobarrow.png) and the scanner-button badge
of job tiles (panel_scan.png). Plain shapes, so they can be remade at any
time."""
import os

from make_panel_images import png

HERE = os.path.dirname(os.path.abspath(__file__))
CLEAR = (0, 0, 0, 0)
GRAY = (150, 150, 150, 255)
BADGE = (112, 112, 112, 255)
WHITE = (255, 255, 255, 255)


def arrow(u, v):
    """A right-pointing arrow: a shaft and a triangular head."""
    if 0.05 <= u <= 0.62 and 0.38 <= v <= 0.62:
        return GRAY
    if u > 0.58 and abs(v - 0.5) <= (1.0 - u) * 1.2 and u <= 0.98:
        return GRAY
    return CLEAR


def scan(u, v):
    """A round button with a white sheet-feed mark."""
    d = ((u - 0.5) ** 2 + (v - 0.5) ** 2) ** 0.5
    if d > 0.48:
        return CLEAR
    if 0.3 <= u <= 0.7 and (0.3 <= v <= 0.4 or 0.48 <= v <= 0.56 or 0.64 <= v <= 0.72):
        return WHITE
    return BADGE


def main():
    for name, (w, h, pixel) in {"panel_jobarrow.png": (40, 24, arrow), "panel_scan.png": (22, 22, scan)}.items():
        with open(os.path.join(HERE, name), "wb") as f:
            f.write(png(w, h, pixel))


if __name__ == "__main__":
    main()
