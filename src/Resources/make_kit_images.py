#!/usr/bin/env python3
"""Draws the widget kit's images into this folder: the image buttons' rows
with their forms, the busy spinner's frames, the alert images, the
preview's grips and cursors and the few single images the kit names. Plain shapes, so
the files can be remade at any time.

Every form has a colour of its own (normal #616161, _G #C8C8C8, _O #FFA200,
_C #3E3E3E, _S #36AB8B) and every glyph covers the image's centre pixel, so
a test can tell which form was drawn by sampling the centre."""
import math
import os

from make_panel_images import png

HERE = os.path.dirname(os.path.abspath(__file__))
CLEAR = (0, 0, 0, 0)

FORMS = {
    "": (0x61, 0x61, 0x61, 255),
    "_G": (0xC8, 0xC8, 0xC8, 255),
    "_O": (0xFF, 0xA2, 0x00, 255),
    "_C": (0x3E, 0x3E, 0x3E, 255),
    "_S": (0x36, 0xAB, 0x8B, 255),
}


def centre_dot(u, v):
    return abs(u - 0.5) < 0.09 and abs(v - 0.5) < 0.09


def arrow_right(u, v):
    return 0.3 <= u <= 0.72 and abs(v - 0.5) <= (0.72 - u) * 0.9


def arrow_left(u, v):
    return arrow_right(1 - u, v)


def arrow_up(u, v):
    return arrow_right(1 - v, u)


def arrow_down(u, v):
    return arrow_right(v, u)


def plus(u, v):
    return (abs(u - 0.5) < 0.08 and 0.2 < v < 0.8) or (abs(v - 0.5) < 0.08 and 0.2 < u < 0.8)


def minus(u, v):
    return abs(v - 0.5) < 0.08 and 0.2 < u < 0.8


def cross(u, v):
    return (abs(u - v) < 0.08 or abs(u - (1 - v)) < 0.08) and 0.2 < u < 0.8 and 0.2 < v < 0.8


def ring(u, v):
    return 0.28 < math.hypot(u - 0.5, v - 0.5) < 0.38


def grid(u, v):
    return 0.2 < u < 0.8 and 0.2 < v < 0.8 and (int((u - 0.2) * 10) % 3 != 2 and int((v - 0.2) * 10) % 3 != 2)


def thumbnail(u, v):
    return 0.25 < u < 0.75 and 0.2 < v < 0.8 and not (0.32 < u < 0.68 and 0.27 < v < 0.5)


def frame(u, v):
    return 0.18 < u < 0.82 and 0.18 < v < 0.82 and not (0.28 < u < 0.72 and 0.28 < v < 0.72)


def half_left(u, v):
    return frame(u, v) or (0.28 < u < 0.5 and 0.28 < v < 0.72)


def half_right(u, v):
    return frame(u, v) or (0.5 < u < 0.72 and 0.28 < v < 0.72)


def zoom(u, v):
    return ring(u, v) or (u > 0.72 and v > 0.72 and abs(u - v) < 0.08)


def rotate(direction):
    def shape(u, v):
        angle = math.atan2(v - 0.5, (u - 0.5) * direction)
        return ring(u, v) and angle > -2.2 or (0.5 < v < 0.62 and abs(u - (0.5 - 0.33 * direction)) < 0.12)
    return shape


def bars(u, v):
    return 0.2 < u < 0.8 and int(v * 10) % 3 == 0 and 0.15 < v < 0.85


def pencil(u, v):
    return abs(u - (1 - v)) < 0.1 and 0.2 < u < 0.8


def caution(u, v):
    inside = v > 0.15 and abs(u - 0.5) < (v - 0.15) * 0.6 and v < 0.85
    mark = abs(u - 0.5) < 0.05 and (0.35 < v < 0.65 or 0.72 < v < 0.78)
    return inside and not mark


def success(u, v):
    return math.hypot(u - 0.5, v - 0.5) < 0.38 and not (abs(v - 0.62 + (u - 0.45) * 0.9) < 0.05 and 0.3 < u < 0.75)


def spinner_frame(i):
    """Twelve spokes; spoke i is dark and the ones behind it fade."""
    def pixel(u, v):
        dx, dy = u - 0.5, v - 0.5
        r = math.hypot(dx, dy)
        if not 0.22 < r < 0.46:
            return CLEAR
        angle = (math.degrees(math.atan2(dx, -dy)) + 360) % 360
        spoke = int((angle + 15) // 30) % 12
        if abs(((angle + 15) % 30) - 15) > 6:
            return CLEAR
        age = (i - spoke) % 12
        g = min(0x3E + age * 18, 0xE0)
        return (g, g, g, 255)
    return pixel


def glyph(shape, colour, dot=True):
    def pixel(u, v):
        return colour if shape(u, v) or (dot and centre_dot(u, v)) else CLEAR
    return pixel


# Image button rows: base name, glyph, forms.
BUTTONS = [
    ("btn_arrow_R", arrow_right, ("", "_G", "_O")),
    ("btn_arrow_L", arrow_left, ("", "_G", "_O")),
    ("btn_select_all", frame, ("", "_O", "_C")),
    ("btn_select_even", half_right, ("", "_O", "_C")),
    ("btn_select_odd", half_left, ("", "_O", "_C")),
    ("btn_zoom_fit", zoom, ("", "_O")),
    ("btn_grid", grid, ("", "_G", "_O")),
    ("btn_thumbnail", thumbnail, ("", "_G", "_O")),
    ("btn_select_prev", arrow_up, ("", "_G", "_O")),
    ("btn_select_next", arrow_down, ("", "_G", "_O")),
    ("panel_continue", bars, ("", "_S")),
    ("panel_delayedit", pencil, ("", "_S")),
    ("bmp_rotL", rotate(-1), ("",)),
    ("bmp_rotR", rotate(1), ("",)),
    ("bmp_close", cross, ("", "_O")),
    ("popup_delete", cross, ("", "_O")),
    ("btn_output_add", plus, ("", "_G", "_O")),
    ("btn_output_del", minus, ("", "_G", "_O")),
    ("btn_output_up", arrow_up, ("", "_G", "_O")),
    ("btn_output_down", arrow_down, ("", "_G", "_O")),
    # The preview's grips.
    ("btm_deskew_grip", rotate(1), ("", "_O")),
    ("btn_trim_grip", plus, ("", "_O")),
]

def double_arrow(u, v):
    """A horizontal two-headed arrow."""
    return (abs(v - 0.5) < 0.06 and 0.15 < u < 0.85) or (abs(v - 0.5) < min(u, 1 - u) - 0.1 and min(u, 1 - u) < 0.3)


def transposed(shape):
    return lambda u, v: shape(v, u)


def diagonal(flip):
    def shape(u, v):
        x = 1 - u if flip else u
        return (abs(x - v) < 0.07 and 0.15 < v < 0.85) or ((x < 0.35 and v < 0.35) or (x > 0.65 and v > 0.65)) and abs(x - v) < 0.2
    return shape


# Single images: name, size, glyph.
SINGLES = [
    # The preview's cursors.
    ("skewcorsour", 24, rotate(1)),
    ("TPL_DragMouseCross_N", 24, plus),
    ("TPL_DragMouseH_N", 24, double_arrow),
    ("TPL_DragMouseV_N", 24, transposed(double_arrow)),
    ("TPL_DragMouseULtoBR_N", 24, diagonal(False)),
    ("TPL_DragMouseURtoBL_N", 24, diagonal(True)),
    ("panel_edit", 16, pencil),
    ("btn_create_plus", 12, plus),
    ("btn_create_drop", 10, arrow_down),
    ("btn_expandor", 12, arrow_right),
    ("general_32", 32, frame),
    ("icn_plugin", 32, grid),
    # The preferences toolbar's General and Maintenance items.
    ("32pix_general", 32, lambda u, v: switches(u, v)),
    ("maintenance", 32, lambda u, v: spanner(u, v)),
]


def switches(u, v):
    """Three setting rows, each with its knob."""
    rows = (0.25, 0.5, 0.75)
    knobs = (0.35, 0.5, 0.65)
    for row, knob in zip(rows, knobs):
        if abs(v - row) < 0.04 and 0.12 < u < 0.88:
            return True
        if abs(v - row) < 0.1 and abs(u - knob) < 0.08:
            return True
    return False


def spanner(u, v):
    """A diagonal handle with an open ring at its head."""
    handle = abs((u - v)) < 0.1 and 0.35 < u < 0.88
    d = math.hypot(u - 0.3, v - 0.3)
    ring = 0.1 < d < 0.22 and not (u < 0.3 and v < 0.3 and abs(u - v) < 0.12)
    return handle or ring or (abs(u - 0.5) < 0.09 and abs(v - 0.5) < 0.09)


def document(u, v):
    """A page with a folded top-right corner."""
    inside = 0.2 < u < 0.8 and 0.1 < v < 0.9 and (u - 0.6) < (v - 0.1)
    edge = inside and (u < 0.27 or u > 0.73 or v < 0.17 or v > 0.83 or (u - 0.6) > (v - 0.17))
    band = inside and 0.45 < v < 0.62
    return edge or band


def folder(u, v):
    """A folder with a tab."""
    return (0.1 < u < 0.9 and 0.3 < v < 0.85) or (0.1 < u < 0.45 and 0.2 < v <= 0.3)


# The menu images of the file formats (a page with a band of the format's
# colour) and of the save place.
FILE_ICONS = [
    ("icn_pdf", document, (0xD0, 0x30, 0x30, 255)),
    ("icn_tiff", document, (0x30, 0x70, 0xC0, 255)),
    ("icn_jpeg", document, (0x36, 0xAB, 0x8B, 255)),
    ("icn_png", document, (0x8A, 0x4F, 0xC0, 255)),
    ("icn_folder", folder, (0x5A, 0x9B, 0xD5, 255)),
]


def write(name, size, pixel):
    with open(os.path.join(HERE, name + ".png"), "wb") as f:
        f.write(png(size, size, pixel))


def main():
    for base, shape, forms in BUTTONS:
        for form in forms:
            write(base + form, 24, glyph(shape, FORMS[form]))
    for name, size, shape in SINGLES:
        write(name, size, glyph(shape, FORMS[""]))
    for name, shape, colour in FILE_ICONS:
        write(name, 32, glyph(shape, colour))
    write("bmp_caution", 48, glyph(caution, FORMS["_O"], dot=False))
    write("bmp_success", 48, glyph(success, FORMS["_S"], dot=False))
    for i in range(12):
        write(f"anim_spinnder{i}", 32, spinner_frame(i))


if __name__ == "__main__":
    main()
