#!/usr/bin/env python3
"""Draws the busy animation (a ring of twelve dots, one bright dot running
round) and writes it as an animated GIF, with no library beyond Python's.

usage: make_waiting_gif.py OUT.gif
"""
import math
import struct
import sys

SIZE = 96
FRAMES = 12
# Palette: transparent, then shades from light grey-blue to the brand colour.
PALETTE = [(255, 255, 255), (214, 226, 232), (176, 201, 212), (130, 168, 186),
           (84, 134, 158), (40, 102, 130), (0, 75, 106), (0, 75, 106)]


def frame_pixels(step):
    pixels = bytearray(SIZE * SIZE)
    centre = SIZE / 2
    for dot in range(12):
        angle = 2 * math.pi * dot / 12 - math.pi / 2
        cx = centre + 34 * math.cos(angle)
        cy = centre + 34 * math.sin(angle)
        age = (step - dot) % 12          # 0: the bright head, then a fading tail
        shade = max(1, 6 - age // 2)
        radius = 7.5 if age == 0 else 6.0
        for y in range(int(cy - radius) - 1, int(cy + radius) + 2):
            for x in range(int(cx - radius) - 1, int(cx + radius) + 2):
                if 0 <= x < SIZE and 0 <= y < SIZE and (x + .5 - cx) ** 2 + (y + .5 - cy) ** 2 <= radius ** 2:
                    pixels[y * SIZE + x] = shade
    return bytes(pixels)


def lzw(data, min_code_size=3):
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code, size = end + 1, min_code_size + 1
    out, bits, nbits = bytearray(), 0, 0

    def emit(code):
        nonlocal bits, nbits
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8

    emit(clear)
    word = b""
    for byte in data:
        candidate = word + bytes([byte])
        if candidate in table:
            word = candidate
            continue
        emit(table[word])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear)
            table = {bytes([i]): i for i in range(clear)}
            next_code, size = end + 1, min_code_size + 1
        word = bytes([byte])
    if word:
        emit(table[word])
    emit(end)
    if nbits:
        out.append(bits & 0xFF)
    return bytes(out)


def blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    return bytes(out + b"\x00")


def main():
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", SIZE, SIZE, 0xF2, 0, 0)  # global table of 8 colours
    for r, g, b in PALETTE:
        out += bytes([r, g, b])
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00"  # loop for ever
    for step in range(FRAMES):
        out += b"\x21\xF9\x04\x09" + struct.pack("<H", 8) + b"\x00\x00"  # 80 ms, index 0 clear
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, SIZE, SIZE, 0)
        out += b"\x03" + blocks(lzw(frame_pixels(step)))
    out += b"\x3B"
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
