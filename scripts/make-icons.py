#!/usr/bin/env python3
"""Draws Tarvex's icons and link cursor into res/ (standard library only, byte-for-byte reproducible).

res/Tarvex.ico     window icon: a processor chip whose die shows three load bars (16, 24, 32, 48 px)
res/Processor.ico  list row image: the plain chip with a blue die (16, 32 px)
res/LinkHand.cur   link pointer: a pointing hand, hot spot on the finger tip (32 px)

Every picture is a signed-distance drawing sampled 4 x 4 times per pixel, written as 32-bit BGRA images
with an AND mask, so old and new systems show the same thing.
"""
import math
import os
import struct
import sys

SUPER = 4


def rounded_box(px, py, x0, y0, x1, y1, r):
    """Signed distance from (px, py) to a box with rounded corners (negative inside)."""
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - r, (y1 - y0) / 2.0 - r
    qx, qy = abs(px - cx) - hx, abs(py - cy) - hy
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    inside = min(max(qx, qy), 0.0)
    return outside + inside - r


def render(size, shade):
    """shade(x, y) -> (r, g, b, a) in 0..1 for a point in a 0..1 square; returns rows of RGBA bytes."""
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPER):
                for sx in range(SUPER):
                    u = (x + (sx + 0.5) / SUPER) / size
                    v = (y + (sy + 0.5) / SUPER) / size
                    r, g, b, a = shade(u, v)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUPER * SUPER
            alpha = acc[3] / n
            if alpha > 0:
                color = [acc[i] / acc[3] for i in range(3)]
            else:
                color = [0.0, 0.0, 0.0]
            row.append(tuple(int(round(c * 255)) for c in color) + (int(round(alpha * 255)),))
        rows.append(row)
    return rows


def hex_color(text):
    return tuple(int(text[i:i + 2], 16) / 255.0 for i in (1, 3, 5))


def chip_shader(size, die, bars):
    """A chip body with pins on all four sides; the die is one colour or carries three load bars."""
    body = hex_color("#2E3A48")
    body_edge = hex_color("#1B232C")
    pin = hex_color("#C9CED6")
    bar_colors = [hex_color("#3FB950"), hex_color("#F0A020"), hex_color("#E5484D")]
    bar_heights = [0.45, 0.70, 0.95]
    pins = 3 if size >= 24 else 2
    pixel = 1.0 / size

    def shade(u, v):
        # Pins: short stubs sticking out of the body on each side.
        for i in range(pins):
            t = (i + 0.5) / pins
            center = 0.28 + t * 0.44
            w = 0.055 if size >= 24 else 0.08
            for (a, b) in ((u, v), (v, u)):
                if abs(b - center) < w and (0.05 < a < 0.2 or 0.8 < a < 0.95):
                    return pin + (1.0,)
        d = rounded_box(u, v, 0.15, 0.15, 0.85, 0.85, 0.08)
        if d > 0:
            return (0.0, 0.0, 0.0, 0.0)
        if d > -1.2 * pixel:
            return body_edge + (1.0,)
        dd = rounded_box(u, v, 0.28, 0.28, 0.72, 0.72, 0.04)
        if dd > 0:
            return body + (1.0,)
        if not bars:
            # The die: a soft vertical gradient so it does not look flat at 32 px.
            top, bottom = hex_color("#6CB6FF"), hex_color("#2F6FD0")
            t = (v - 0.28) / 0.44
            return tuple(top[i] + (bottom[i] - top[i]) * t for i in range(3)) + (1.0,)
        # Die with three bars rising left to right: the load the program puts on the processors.
        inner = hex_color("#0F151C")
        left, width, gap = 0.32, 0.10, 0.03
        for i in range(3):
            x0 = left + i * (width + gap)
            top = 0.68 - 0.36 * bar_heights[i]
            if x0 <= u < x0 + width and top <= v < 0.68:
                return bar_colors[i] + (1.0,)
        return inner + (1.0,)

    return shade


def hand_shader(size):
    """A pointing hand: white with a dark outline, index finger up, tip near the top left."""
    fill = (1.0, 1.0, 1.0)
    line = (0.05, 0.05, 0.05)
    unit = 1.0 / size

    def hand(u, v):
        x, y = u * size, v * size
        parts = [
            rounded_box(x, y, 9.0, 1.0, 13.5, 17.0, 2.25),   # index finger
            rounded_box(x, y, 13.0, 10.0, 17.5, 19.0, 2.25),  # middle finger
            rounded_box(x, y, 16.5, 11.0, 21.0, 20.0, 2.25),  # ring finger
            rounded_box(x, y, 20.0, 12.0, 24.0, 21.0, 2.0),   # little finger
            rounded_box(x, y, 9.0, 14.0, 24.0, 27.0, 3.5),    # palm
            rounded_box(x, y, 4.0, 15.0, 11.0, 19.5, 2.25),   # thumb
        ]
        # The thumb joins the palm on a slant.
        parts.append(rounded_box(x, y, 6.5, 17.0, 12.0, 23.0, 2.5))
        return min(parts)

    def shade(u, v):
        d = hand(u, v)
        if d < -1.0:
            return fill + (1.0,)
        if d < 0.25:
            return line + (1.0,)
        return (0.0, 0.0, 0.0, 0.0)

    del unit
    return shade


def dib(rows):
    """BITMAPINFOHEADER + bottom-up BGRA pixels + AND mask (set where fully transparent)."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    for row in reversed(rows):
        for r, g, b, a in row:
            pixels += bytes((b, g, r, a))
    mask = bytearray()
    stride = ((size + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return bytes(header + pixels + mask)


def icon_file(images, cursor_hotspots=None):
    """images: list of (size, rows). cursor_hotspots: list of (x, y) for a .cur file, else None."""
    kind = 2 if cursor_hotspots else 1
    out = bytearray(struct.pack("<HHH", 0, kind, len(images)))
    blobs = [dib(rows) for _, rows in images]
    offset = 6 + 16 * len(images)
    for i, ((size, _), blob) in enumerate(zip(images, blobs)):
        dim = 0 if size >= 256 else size
        if cursor_hotspots:
            hx, hy = cursor_hotspots[i]
            out += struct.pack("<BBBBHHII", dim, dim, 0, 0, hx, hy, len(blob), offset)
        else:
            out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    for blob in blobs:
        out += blob
    return bytes(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    res = os.path.join(root, "res")
    outputs = {
        "Tarvex.ico": icon_file([(s, render(s, chip_shader(s, None, True))) for s in (16, 24, 32, 48)]),
        "Processor.ico": icon_file([(s, render(s, chip_shader(s, None, False))) for s in (16, 32)]),
        "LinkHand.cur": icon_file([(32, render(32, hand_shader(32)))], cursor_hotspots=[(11, 1)]),
    }
    for name, data in outputs.items():
        path = os.path.join(res, name)
        with open(path, "wb") as f:
            f.write(data)
        print("make-icons: wrote %s (%d bytes)" % (os.path.relpath(path, root), len(data)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
