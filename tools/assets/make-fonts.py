#!/usr/bin/python3
"""Makes the three embedded faces (Inter KA Regular, Medium, SemiBold) from Debian's fonts-inter.

Each face is Inter subset to the glyphs the editors can show, with tabular figures as the default
digits (readouts must not jitter while their values move), converted to TrueType outlines at 2048
units per em and renamed, so that it never clashes with an Inter the user has installed. JUCE 7
kerns only from a legacy 'kern' table, so the pair kerning of Inter's GPOS is flattened into one.

Usage: make-fonts.py <output folder> [<folder of Inter-*.otf>]
The output is the same bytes on every run (no time stamps, fixed tables).
"""

import sys
from pathlib import Path

from fontTools import subset
from fontTools.pens.cu2quPen import Cu2QuPen
from fontTools.pens.ttGlyphPen import TTGlyphPen
from fontTools.ttLib import TTFont, newTable
from fontTools.ttLib.scaleUpem import scale_upem
from fontTools.ttLib.tables._k_e_r_n import KernTable_format_0

FAMILY = "Inter KA"
WEIGHTS = [("Regular", 400), ("Medium", 500), ("SemiBold", 600)]
UNITS_PER_EM = 2048
# 1 January 2024, in seconds since 1904: a fixed date keeps the files reproducible.
FIXED_DATE = 3787257600
# Smaller pair adjustments move a glyph by less than a tenth of a pixel at the editors' sizes.
MIN_KERN_UNITS = 12

# Latin with its accents, the punctuation and symbols readouts and notes use.
CODEPOINTS = (
    list(range(0x20, 0x7F))
    + list(range(0xA0, 0x180))
    + list(range(0x2010, 0x2027))
    + list(range(0x2030, 0x203B))
    + [0x2044, 0x20AC, 0x2122, 0x2190, 0x2191, 0x2192, 0x2193, 0x2212, 0x2215, 0x221E, 0x2248,
       0x2260, 0x2264, 0x2265, 0x25B2, 0x25B6, 0x25BC, 0x25C0]
)


def tabular_digits(font):
    """The tabular glyph of each digit, as the font's 'tnum' feature substitutes it."""
    gsub = font["GSUB"].table
    mapping = {}
    for record in gsub.FeatureList.FeatureRecord:
        if record.FeatureTag != "tnum":
            continue
        for index in record.Feature.LookupListIndex:
            for table in gsub.LookupList.Lookup[index].SubTable:
                mapping.update(getattr(table, "mapping", {}) or {})
    return mapping


def flatten_kerning(font, glyphs):
    """Pair adjustments (x advance of the first glyph) of the 'kern' feature, for glyphs kept."""
    gpos = font["GPOS"].table
    pairs = {}
    for record in gpos.FeatureList.FeatureRecord:
        if record.FeatureTag != "kern":
            continue
        for index in record.Feature.LookupListIndex:
            lookup = gpos.LookupList.Lookup[index]
            tables = lookup.SubTable
            if lookup.LookupType == 9:  # extension lookups wrap the real ones
                tables = [t.ExtSubTable for t in tables]
            for table in tables:
                if table.LookupType != 2:
                    continue
                first_glyphs = table.Coverage.glyphs
                if table.Format == 1:
                    for first, pair_set in zip(first_glyphs, table.PairSet):
                        if first not in glyphs:
                            continue
                        for value in pair_set.PairValueRecord:
                            adv = getattr(value.Value1, "XAdvance", 0) if value.Value1 else 0
                            if value.SecondGlyph in glyphs and adv:
                                pairs.setdefault((first, value.SecondGlyph), adv)
                elif table.Format == 2:
                    class1 = table.ClassDef1.classDefs
                    class2 = table.ClassDef2.classDefs
                    seconds_by_class = {}
                    for g in glyphs:
                        seconds_by_class.setdefault(class2.get(g, 0), []).append(g)
                    for first in first_glyphs:
                        if first not in glyphs:
                            continue
                        row = table.Class1Record[class1.get(first, 0)]
                        for c2, record2 in enumerate(row.Class2Record):
                            adv = getattr(record2.Value1, "XAdvance", 0) if record2.Value1 else 0
                            if not adv:
                                continue
                            for second in seconds_by_class.get(c2, []):
                                pairs.setdefault((first, second), adv)
    return pairs


def to_truetype(font):
    """Replaces the CFF outlines by quadratic TrueType outlines (within 1 unit)."""
    order = font.getGlyphOrder()
    glyph_set = font.getGlyphSet()
    glyf = newTable("glyf")
    glyf.glyphOrder = order
    glyf.glyphs = {}
    for name in order:
        pen = TTGlyphPen(glyph_set)
        glyph_set[name].draw(Cu2QuPen(pen, max_err=1.0, reverse_direction=True))
        glyf.glyphs[name] = pen.glyph()
    font["glyf"] = glyf
    font["loca"] = newTable("loca")
    del font["CFF "]
    maxp = font["maxp"]
    maxp.tableVersion = 0x00010000
    for field in ("maxZones", "maxTwilightPoints", "maxStorage", "maxFunctionDefs",
                  "maxInstructionDefs", "maxStackElements", "maxSizeOfInstructions",
                  "maxComponentElements"):
        setattr(maxp, field, 0)
    maxp.maxZones = 1
    font["head"].glyphDataFormat = 0
    font["head"].indexToLocFormat = 0
    post = font["post"]
    post.formatType = 2.0
    post.extraNames = []
    post.mapping = {}
    post.glyphOrder = order
    font.sfntVersion = "\x00\x01\x00\x00"
    for name in order:
        font["glyf"][name].recalcBounds(font["glyf"])


def rename(font, weight_name, weight_class):
    full = f"{FAMILY} {weight_name}"
    postscript = f"InterKA-{weight_name}"
    name = font["name"]
    keep = {0, 13, 14}  # the copyright and the licence stay, as the licence asks
    name.names = [r for r in name.names if r.nameID in keep and r.platformID == 3]
    for name_id, text in ((1, FAMILY), (2, weight_name), (3, f"{postscript};4.0"), (4, full),
                          (5, "Version 4.000; subset for mosslight"), (6, postscript),
                          (16, FAMILY), (17, weight_name)):
        name.setName(text, name_id, 3, 1, 0x409)
    font["OS/2"].usWeightClass = weight_class
    font["OS/2"].fsSelection = (font["OS/2"].fsSelection & ~0b1100001) | (
        0b1000000 if weight_name == "Regular" else 0)
    font["head"].macStyle = 0
    font["head"].created = FIXED_DATE
    font["head"].modified = FIXED_DATE


def make_face(source, weight_name, weight_class, out_dir):
    font = TTFont(source, recalcTimestamp=False)
    tnum = tabular_digits(font)
    cmap = font.getBestCmap()

    options = subset.Options()
    options.layout_features = ["kern"]
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.notdef_outline = True
    options.glyph_names = True
    options.hinting = False
    options.recalc_timestamp = False
    subsetter = subset.Subsetter(options)
    wanted = [c for c in CODEPOINTS if c in cmap]
    subsetter.populate(unicodes=wanted, glyphs=[tnum[cmap[c]] for c in range(0x30, 0x3A)])
    subsetter.subset(font)

    # Tabular figures become the plain digits.
    for table in font["cmap"].tables:
        for c in range(0x30, 0x3A):
            if c in table.cmap:
                table.cmap[c] = tnum[table.cmap[c]]

    kept = set(font.getGlyphOrder())
    pairs = flatten_kerning(font, kept)
    for tag in ("GPOS", "GSUB", "GDEF"):
        if tag in font:
            del font[tag]

    to_truetype(font)
    scale_upem(font, UNITS_PER_EM)
    rename(font, weight_name, weight_class)

    # Kerning scaled with the outlines; a format 0 subtable holds at most 10920 pairs.
    factor = UNITS_PER_EM / 2816.0
    scaled = {p: round(v * factor) for p, v in pairs.items()}
    # Pairs between the letters, digits and punctuation of plain text, big enough to see.
    plain = {font_cmap_name for c, font_cmap_name in font.getBestCmap().items()
             if c < 0x7F or c in (0x2013, 0x2014, 0x2019, 0x201C, 0x201D, 0xB7, 0xB0)}
    scaled = {p: v for p, v in scaled.items()
              if abs(v) >= MIN_KERN_UNITS and p[0] in plain and p[1] in plain}
    if scaled:
        kern = newTable("kern")
        kern.version = 0
        table = KernTable_format_0()
        table.version = 0
        table.coverage = 1
        table.format = 0
        table.kernTable = dict(sorted(scaled.items(), key=lambda kv: abs(kv[1]),
                                      reverse=True)[:10920])
        kern.kernTables = [table]
        font["kern"] = kern

    target = out_dir / f"InterKA-{weight_name}.ttf"
    font.save(target, reorderTables=True)
    return target, len(font.getGlyphOrder()), len(scaled)


def write_licence(copyright_file, target):
    """The SIL Open Font License text, as Debian's package carries it, for shipping beside the faces."""
    lines = Path(copyright_file).read_text(encoding="utf-8").splitlines()
    holder = next(l.split(":", 1)[1].strip() for l in lines if l.startswith("Copyright:"))
    start = lines.index("License: OFL-1.1") + 1
    body = []
    for line in lines[start:]:
        if not line.startswith(" "):
            break
        body.append("" if line.strip() == "." else line[1:])
    text = (f"Copyright {holder}\n\n"
            "The faces InterKA-Regular.ttf, InterKA-Medium.ttf and InterKA-SemiBold.ttf are a\n"
            "subset of Inter, renamed \"Inter KA\", and are licensed under the SIL Open Font\n"
            "License, Version 1.1:\n\n" + "\n".join(body) + "\n")
    Path(target).write_text(text, encoding="utf-8")


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: make-fonts.py <output folder> [<folder of Inter-*.otf>]")
    out_dir = Path(sys.argv[1])
    source_dir = Path(sys.argv[2] if len(sys.argv) > 2 else "/usr/share/fonts/opentype/inter")
    out_dir.mkdir(parents=True, exist_ok=True)
    for weight_name, weight_class in WEIGHTS:
        source = source_dir / f"Inter-{weight_name}.otf"
        if not source.exists():
            sys.exit(f"error: {source} not found (Debian package fonts-inter)")
        target, glyphs, pairs = make_face(source, weight_name, weight_class, out_dir)
        print(f"{target}: {glyphs} glyphs, {pairs} kerning pairs, {target.stat().st_size} bytes")
    write_licence("/usr/share/doc/fonts-inter/copyright", out_dir / "OFL.txt")


if __name__ == "__main__":
    main()
