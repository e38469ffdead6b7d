#!/usr/bin/env python3
"""Renders the applet's icons from the switch artwork in TrayApp/res/art.

    scripts/make-icons.py [--preview PNG]

Writes TrayApp/res/icons/attached.ico (the program's icon groups 107 and
108, and the tray's 130) and not-attached.ico (the tray's 134). Each holds
the 48, 32, 24 and 16 px images at 16 and at 256 colours, a 128 px image at
32 bits, 48, 24 and 16 px images at 32 bits and a 32 px image at 24 bits;
not-attached.ico has no 128 px image. Every image is a BMP inside the ICO
(palette images truly indexed, with an AND mask), as the classic icon loader
of every Windows version reads them. The .ico files are committed, so a build
never needs this script; run it again after changing the artwork.

Needs python3 and ImageMagick (convert; montage for --preview). --preview
writes a PNG that shows the 16 and 32 px images of each icon, enlarged, on a
light and on a dark background.

Functions: keep_state, render_rgba, quantize, nearest, vga_index, dib_image,
ico_file, icon_images, write_preview, main.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
ART = os.path.join(ROOT, 'TrayApp', 'res', 'art')
ICONS = os.path.join(ROOT, 'TrayApp', 'res', 'icons')

# Artwork for each size: the 16 px images have their own pixel-grid drawing.
LARGE_ART = 'switch.svg'
SMALL_ART = 'switch-16.svg'
SMALL_ART_SIZE = 16
# Each image is drawn this many times larger and averaged down, which gives
# exact coverage anti-aliasing on the pixel grid.
SUPERSAMPLE = 8
# Palette images have a one-bit mask: a pixel is opaque from this alpha on.
OPAQUE_FROM = 128

# (size, bits per pixel) in the order the icon files hold them.
FULL_SET = [(48, 4), (32, 4), (24, 4), (16, 4),
            (48, 8), (32, 8), (24, 8), (16, 8),
            (128, 32), (48, 32), (24, 32), (16, 32),
            (32, 24)]
WITHOUT_128 = [entry for entry in FULL_SET if entry != (128, 32)]

# icon file, artwork state, images
ICON_FILES = [('attached.ico', 'attached', FULL_SET),
              ('not-attached.ico', 'detached', WITHOUT_128)]

# The 16 colours every display since VGA shows without dithering.
VGA_PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
               (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
               (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
               (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def keep_state(svg_text, state):
    """The artwork with only the group of one state ("attached"/"detached")."""
    other = 'detached' if state == 'attached' else 'attached'
    pattern = re.compile(r'\s*<g id="%s">.*?</g>' % other, re.S)
    result, count = pattern.subn('', svg_text)
    if count != 1 or ('<g id="%s">' % state) not in result:
        sys.exit('artwork lacks the groups "attached" and "detached"')
    return result


def render_rgba(svg_text, size):
    """size x size straight-alpha RGBA bytes, top row first."""
    # Draw at SUPERSAMPLE times the size by setting the outer size (the
    # viewBox maps the artwork's grid onto it), then average down.
    big = size * SUPERSAMPLE
    svg_text, count = re.subn(r'(<svg\b[^>]*?)\swidth="[^"]*"\s+height="[^"]*"',
                              r'\1 width="%d" height="%d"' % (big, big), svg_text, count=1)
    viewbox = re.search(r'viewBox="0 0 ([0-9.]+) ([0-9.]+)"', svg_text)
    if count != 1 or not viewbox:
        sys.exit('artwork lacks width, height and viewBox="0 0 W H" on its <svg> element')
    # ImageMagick's own renderer fills a pixel when its top-left corner lies
    # inside a shape; moving the artwork by half a pixel fills exactly the
    # pixels whose centres are inside, so edges on the grid stay sharp.
    grid = float(viewbox.group(1))
    shift = 0.5 * grid / big
    svg_text = svg_text.replace(viewbox.group(0), 'viewBox="%g %g %s %s"' % (
        shift, shift, viewbox.group(1), viewbox.group(2)))
    with tempfile.TemporaryDirectory() as work:
        source = os.path.join(work, 'art.svg')
        with open(source, 'w', encoding='utf-8') as handle:
            handle.write(svg_text)
        pixels = subprocess.run(
            ['convert', '+antialias', '-background', 'none', 'MSVG:' + source,
             '-scale', '%dx%d!' % (size, size), '-depth', '8', 'RGBA:-'],
            check=True, stdout=subprocess.PIPE).stdout
    if len(pixels) != size * size * 4:
        sys.exit('convert gave %d bytes for a %d px image' % (len(pixels), size))
    return [tuple(pixels[i:i + 4]) for i in range(0, len(pixels), 4)]


def quantize(colours, limit):
    """Median cut: at most `limit` representative colours for the given ones."""
    boxes = [sorted(set(colours))]
    while len(boxes) < limit:
        # Split the box with the widest channel range at its median.
        best, best_range, best_channel = None, 0, 0
        for index, box in enumerate(boxes):
            for channel in range(3):
                values = [c[channel] for c in box]
                spread = max(values) - min(values)
                if len(box) > 1 and spread > best_range:
                    best, best_range, best_channel = index, spread, channel
        if best is None:
            break
        box = sorted(boxes.pop(best), key=lambda c: c[best_channel])
        half = len(box) // 2
        boxes += [box[:half], box[half:]]
    palette = []
    for box in boxes:
        palette.append(tuple(sum(c[channel] for c in box) // len(box) for channel in range(3)))
    return palette


def nearest(palette, colour):
    return min(range(len(palette)),
               key=lambda i: sum((palette[i][k] - colour[k]) ** 2 for k in range(3)))


def vga_index(colour):
    return nearest(VGA_PALETTE, colour)


def dib_image(size, bits, rgba):
    """One icon image: BITMAPINFOHEADER, palette, XOR bitmap and AND mask."""
    opaque = [pixel[3] >= OPAQUE_FROM for pixel in rgba]
    if bits == 32:
        opaque = [pixel[3] > 0 for pixel in rgba]

    if bits == 4:
        palette = VGA_PALETTE
        indices = [vga_index(p[:3]) if o else 0 for p, o in zip(rgba, opaque)]
    elif bits == 8:
        # Index 0 stays black: the colour under a transparent pixel must be 0.
        used = [p[:3] for p, o in zip(rgba, opaque) if o]
        palette = [(0, 0, 0)] + quantize(used, 255) if used else [(0, 0, 0)]
        cache = {}
        indices = []
        for pixel, is_opaque in zip(rgba, opaque):
            if not is_opaque:
                indices.append(0)
                continue
            colour = pixel[:3]
            if colour not in cache:
                cache[colour] = 1 + nearest(palette[1:], colour)
            indices.append(cache[colour])
        palette = palette + [(0, 0, 0)] * (256 - len(palette))
    else:
        palette = []

    def row_bytes(bit_count):
        return ((size * bit_count + 31) // 32) * 4

    xor = bytearray()
    for y in reversed(range(size)):   # bottom-up rows
        row = bytearray()
        if bits == 32:
            for x in range(size):
                r, g, b, a = rgba[y * size + x]
                row += bytes((b, g, r, a))
        elif bits == 24:
            for x in range(size):
                r, g, b, _ = rgba[y * size + x] if opaque[y * size + x] else (0, 0, 0, 0)
                row += bytes((b, g, r))
        elif bits == 8:
            row += bytes(indices[y * size:(y + 1) * size])
        else:
            line = indices[y * size:(y + 1) * size]
            for x in range(0, size, 2):
                row.append((line[x] << 4) | (line[x + 1] if x + 1 < size else 0))
        row += bytes(row_bytes(bits) - len(row))
        xor += row

    mask = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes(1))
        for x in range(size):
            if not opaque[y * size + x]:
                row[x // 8] |= 0x80 >> (x % 8)
        mask += row

    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    colour_table = b''.join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    return header + colour_table + bytes(xor) + bytes(mask)


def ico_file(images):
    """An .ico file from (size, bits, image bytes) entries."""
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, bits, image in images:
        colours = 16 if bits == 4 else 0
        directory += struct.pack('<BBBBHHII', size % 256, size % 256, colours, 0, 1, bits,
                                 len(image), offset + len(data))
        data += image
    return directory + data


def icon_images(state, entries):
    """Renders and encodes every image of one icon file."""
    sources = {}
    for name in (LARGE_ART, SMALL_ART):
        with open(os.path.join(ART, name), encoding='utf-8') as handle:
            sources[name] = keep_state(handle.read(), state)
    rendered = {}
    images = []
    for size, bits in entries:
        if size not in rendered:
            if size == SMALL_ART_SIZE:
                rendered[size] = render_rgba(sources[SMALL_ART], size)
            else:
                rendered[size] = render_rgba(sources[LARGE_ART], size)
        images.append((size, bits, dib_image(size, bits, rendered[size])))
    return images


def write_preview(path):
    """The 16 and 32 px images of each icon, enlarged four times, on a light
    and on a dark background: one row per icon file."""
    with tempfile.TemporaryDirectory() as work:
        tiles = []
        for name, _, entries in ICON_FILES:
            for index, (size, bits) in enumerate(entries):
                if size not in (16, 32):
                    continue
                for background in ('#f0f0f0', '#202020'):
                    tile = os.path.join(work, '%03d.png' % len(tiles))
                    subprocess.run(['convert', '-background', background,
                                    '%s[%d]' % (os.path.join(ICONS, name), index), '-flatten',
                                    '-scale', '400%', '-gravity', 'center', '-extent', '136x136',
                                    tile], check=True)
                    tiles.append(tile)
        subprocess.run(['montage'] + tiles + ['-tile', '12x', '-geometry', '+2+2',
                                             '-background', '#808080', path], check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--preview', help='also write a PNG preview of the 16 and 32 px images')
    arguments = parser.parse_args()

    os.makedirs(ICONS, exist_ok=True)
    for name, state, entries in ICON_FILES:
        with open(os.path.join(ICONS, name), 'wb') as handle:
            handle.write(ico_file(icon_images(state, entries)))
        print('wrote', os.path.relpath(os.path.join(ICONS, name), ROOT))
    if arguments.preview:
        write_preview(arguments.preview)
        print('wrote', arguments.preview)


if __name__ == '__main__':
    main()
