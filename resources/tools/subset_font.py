#!/usr/bin/env python3
"""Builds the program's embedded font from Debian's Noto Sans CJK Medium.

Takes the Simplified Chinese face out of the collection, keeps only the
glyphs the interface can show (printable ASCII, Latin-1, common punctuation
and every character of the translation files) and names it
"Noto Sans SC Medium".

usage: subset_font.py COLLECTION.ttc OUT.ttf FILE.ts [FILE.ts ...]
"""
import sys
import xml.etree.ElementTree as ET

from fontTools.subset import Options, Subsetter
from fontTools.ttLib import TTCollection


def interface_text(ts_files):
    chars = {chr(c) for c in range(0x20, 0x7F)}
    chars |= {chr(c) for c in range(0xA0, 0x100)}
    chars |= set("\u2026\u2013\u2014\u2018\u2019\u201c\u201d\u00b7\u00d7\u2190\u2191\u2192\u2193")
    chars |= set("\u3001\u3002\uff0c\uff1a\uff1b\uff01\uff1f\uff08\uff09\u300a\u300b\u3010\u3011")
    for path in ts_files:
        for node in ET.parse(path).getroot().iter():
            if node.tag in ("source", "translation") and node.text:
                chars |= set(node.text)
    return "".join(sorted(chars))


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    collection, out, ts_files = sys.argv[1], sys.argv[2], sys.argv[3:]
    fonts = TTCollection(collection).fonts
    face = next(f for f in fonts
                if "SC" in f["name"].getDebugName(1) and "Mono" not in f["name"].getDebugName(1))

    options = Options()
    options.layout_features = ["*"]
    options.name_IDs = ["*"]
    options.notdef_outline = True
    subsetter = Subsetter(options)
    subsetter.populate(text=interface_text(ts_files))
    subsetter.subset(face)

    names = face["name"]
    for record in list(names.names):
        if record.nameID in (16, 17, 21, 22):
            names.removeNames(nameID=record.nameID)
    for name_id, value in ((1, "Noto Sans SC Medium"), (2, "Regular"),
                           (4, "Noto Sans SC Medium"), (6, "NotoSansSC-Medium")):
        names.setName(value, name_id, 3, 1, 0x409)
        names.setName(value, name_id, 1, 0, 0)
    face.save(out)


if __name__ == "__main__":
    main()
