#!/usr/bin/env python3
"""Renders the applet's icons from the switch artwork in TrayApp/res/art.

    scripts/make-icons.py [--preview PNG]

Writes TrayApp/res/icons/attached.ico (the program's icon group 107) and
not-attached.ico (the tray's 134). Each holds the 48, 32, 24 and 16 px images
at 16 and at 256 colours, a 128 px image at 32 bits, 48, 24 and 16 px images
at 32 bits and a 32 px image at 24 bits; not-attached.ico has no 128 px image.
The images up to 48 px are BMPs inside the ICO (palette images truly indexed,
with an AND mask), as the classic icon loader of every Windows version reads
them. The 128 px image is a PNG, which Windows reads from Vista on (the BMPs
serve the older versions): as a BMP it alone would weigh 67 KB, as a PNG about
1 KB. The PNG is written here, with no time stamp or other ancillary chunk, so
the same artwork always gives the same bytes.

Also writes icons/attached.group, the icon group directory that 108 (the
class's small icon) and 130 (the tray icon) are built from: it names the
images 1 to 13, which are 107's, so that the three groups share one set of
images in the program instead of carrying three copies. VarnelKVM.rc must
therefore keep 107 as its first ICON statement.

The .ico and .group files are committed, so a build never needs this script;
run it again after changing the artwork.

Needs python3 and ImageMagick with its SVG coder (convert; montage for
--preview; on Debian the SVG coder is in libmagickcore-6.q16-6-extra).
--preview writes a PNG that shows the 16 and 32 px images of each icon,
enlarged, on a light and on a dark background.

Functions: keep_state, render_rgba, quantize, nearest, vga_index, dib_image,
png_image, ico_file, group_file, icon_images, write_preview, main.
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import zlib

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
# Images stored as PNG rather than BMP.
PNG_IMAGES = [(128, 32)]

# icon file, artwork state, images, group directory file naming the images
# (or None). The resource compiler numbers the images of the ICON statements
# from 1, in order; the group names those of the first statement, 107.
ICON_FILES = [('attached.ico', 'attached', FULL_SET, 'attached.group'),
              ('not-attached.ico', 'detached', WITHOUT_128, None)]
FIRST_IMAGE_ID = 1

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


def png_image(size, rgba):
    """One icon image as a PNG: 8-bit straight-alpha RGBA, no ancillary chunks."""
    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body))

    # Every row unfiltered (filter byte 0): the artwork's flat areas compress
    # best as they are, better than with any of the predicting filters.
    rows = b''.join(b'\0' + b''.join(bytes(pixel) for pixel in rgba[y * size:(y + 1) * size])
                    for y in range(size))
    packer = zlib.compressobj(9, zlib.DEFLATED, 15, 9)
    return (b'\x89PNG\r\n\x1a\n' +
            chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', packer.compress(rows) + packer.flush()) +
            chunk(b'IEND', b''))


def directory_entry(size, bits):
    """Width, height, colour count, reserved, planes and bits of a directory entry."""
    return struct.pack('<BBBBHH', size % 256, size % 256, 16 if bits == 4 else 0, 0, 1, bits)


def ico_file(images):
    """An .ico file from (size, bits, image bytes) entries."""
    directory = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, bits, image in images:
        directory += directory_entry(size, bits) + struct.pack('<II', len(image), offset + len(data))
        data += image
    return directory + data


def group_file(images, first_id):
    """An icon group directory (RT_GROUP_ICON) naming the images from first_id on."""
    directory = struct.pack('<HHH', 0, 1, len(images))
    for index, (size, bits, image) in enumerate(images):
        directory += directory_entry(size, bits) + struct.pack('<IH', len(image), first_id + index)
    return directory


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
        if (size, bits) in PNG_IMAGES:
            images.append((size, bits, png_image(size, rendered[size])))
        else:
            images.append((size, bits, dib_image(size, bits, rendered[size])))
    return images


def write_preview(path):
    """The 16 and 32 px images of each icon, enlarged four times, on a light
    and on a dark background: one row per icon file."""
    with tempfile.TemporaryDirectory() as work:
        tiles = []
        for name, _, entries, _ in ICON_FILES:
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
    for name, state, entries, group in ICON_FILES:
        images = icon_images(state, entries)
        outputs = [(name, ico_file(images))]
        if group:
            outputs.append((group, group_file(images, FIRST_IMAGE_ID)))
        for output, data in outputs:
            with open(os.path.join(ICONS, output), 'wb') as handle:
                handle.write(data)
            print('wrote', os.path.relpath(os.path.join(ICONS, output), ROOT))
    if arguments.preview:
        write_preview(arguments.preview)
        print('wrote', arguments.preview)


if __name__ == '__main__':
    main()
