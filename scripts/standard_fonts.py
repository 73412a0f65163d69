#!/usr/bin/env python3
"""Writes src/dedediruzurud/standard_font_metrics.cpp: the widths and characters
of the 14 standard PDF fonts, from the metric (.afm) files of Debian's
fonts-urw-base35, whose fonts have the standard fonts' widths.

usage: standard_fonts.py [--afm-dir DIR] [--check FILE | --out FILE]
  --out FILE    write the table (default: standard output)
  --check FILE  compare FILE with the table made now: exit 0 when equal, 1
                when not (with the first difference), 77 when the metric
                files are not installed (apt-get install fonts-urw-base35)

The text fonts use PDF's WinAnsiEncoding (Windows code page 1252 with PDF's
glyph names); Symbol and ZapfDingbats their built-in encodings, whose codes
the metric files give and whose characters come from Adobe's mapping tables
for those fonts as Perl's Encode module ships them (AdobeSymbol,
AdobeZdingbat).
"""
import argparse
import os
import re
import subprocess
import sys

AFM_DIR = "/usr/share/fonts/type1/urw-base35"

# PDF name, metric file, encoding ("win" or the Perl encoding of the
# built-in one).
FONTS = [
    ("Helvetica", "NimbusSans-Regular", "win"),
    ("Helvetica-Bold", "NimbusSans-Bold", "win"),
    ("Helvetica-Oblique", "NimbusSans-Italic", "win"),
    ("Helvetica-BoldOblique", "NimbusSans-BoldItalic", "win"),
    ("Times-Roman", "NimbusRoman-Regular", "win"),
    ("Times-Bold", "NimbusRoman-Bold", "win"),
    ("Times-Italic", "NimbusRoman-Italic", "win"),
    ("Times-BoldItalic", "NimbusRoman-BoldItalic", "win"),
    ("Courier", "NimbusMonoPS-Regular", "win"),
    ("Courier-Bold", "NimbusMonoPS-Bold", "win"),
    ("Courier-Oblique", "NimbusMonoPS-Italic", "win"),
    ("Courier-BoldOblique", "NimbusMonoPS-BoldItalic", "win"),
    ("Symbol", "StandardSymbolsPS", "AdobeSymbol"),
    ("ZapfDingbats", "D050000L", "AdobeZdingbat"),
]

FIRST_CODE = 32

# WinAnsiEncoding's glyph names for codes 32..255 ("" where it has none).
WIN_ANSI_NAMES = """
space exclam quotedbl numbersign dollar percent ampersand quotesingle parenleft parenright asterisk plus
comma hyphen period slash zero one two three four five six seven eight nine colon semicolon less equal
greater question at A B C D E F G H I J K L M N O P Q R S T U V W X Y Z bracketleft backslash
bracketright asciicircum underscore grave a b c d e f g h i j k l m n o p q r s t u v w x y z braceleft
bar braceright asciitilde -
Euro - quotesinglbase florin quotedblbase ellipsis dagger daggerdbl circumflex perthousand Scaron
guilsinglleft OE - Zcaron - - quoteleft quoteright quotedblleft quotedblright bullet endash emdash tilde
trademark scaron guilsinglright oe - zcaron Ydieresis
space exclamdown cent sterling currency yen brokenbar section dieresis copyright ordfeminine
guillemotleft logicalnot hyphen registered macron degree plusminus twosuperior threesuperior acute mu
paragraph periodcentered cedilla onesuperior ordmasculine guillemotright onequarter onehalf
threequarters questiondown
Agrave Aacute Acircumflex Atilde Adieresis Aring AE Ccedilla Egrave Eacute Ecircumflex Edieresis
Igrave Iacute Icircumflex Idieresis Eth Ntilde Ograve Oacute Ocircumflex Otilde Odieresis multiply
Oslash Ugrave Uacute Ucircumflex Udieresis Yacute Thorn germandbls agrave aacute acircumflex atilde
adieresis aring ae ccedilla egrave eacute ecircumflex edieresis igrave iacute icircumflex idieresis eth
ntilde ograve oacute ocircumflex otilde odieresis divide oslash ugrave uacute ucircumflex udieresis
yacute thorn ydieresis
""".split()
assert len(WIN_ANSI_NAMES) == 256 - FIRST_CODE


def read_afm(path):
    """Header values and, by glyph name, (code, width, box)."""
    header, glyphs = {}, {}
    with open(path, encoding="latin-1") as f:
        for line in f:
            m = re.match(r"C (-?\d+) ; WX (\d+) ; N (\S+) ; B (-?\d+) (-?\d+) (-?\d+) (-?\d+)", line)
            if m:
                glyphs[m.group(3)] = (int(m.group(1)), int(m.group(2)), tuple(int(m.group(k)) for k in range(4, 8)))
            elif " " in line:
                key, value = line.rstrip("\n").split(" ", 1)
                header.setdefault(key, value)
    return header, glyphs


def adobe_encoding(name):
    """Code -> character, and every character -> code (aliases included),
    of one of Perl's Adobe encodings."""
    script = ('use Encode; my $e = shift; for $c (32..255) { my $s = decode($e, chr($c), Encode::FB_QUIET);'
              ' printf "d %d %d\\n", $c, ord($s) if length $s } for $u (32..0xFFFF) { next if $u >= 0xD800'
              ' && $u <= 0xDFFF; my $s = encode($e, chr($u), Encode::FB_QUIET); printf "e %d %d\\n", $u, ord($s)'
              ' if length $s }')
    out = subprocess.run(["perl", "-e", script, name], check=True, capture_output=True, text=True).stdout
    decode, encode = {}, {}
    for line in out.split("\n"):
        if line:
            kind, a, b = line.split()
            (decode if kind == "d" else encode)[int(a)] = int(b)
    return decode, encode


def win_ansi():
    """Code -> glyph name and character -> code of WinAnsiEncoding."""
    names, chars = {}, {}
    for code in range(FIRST_CODE, 256):
        name = WIN_ANSI_NAMES[code - FIRST_CODE]
        if name == "-":
            continue
        names[code] = name
        chars[ord(bytes([code]).decode("cp1252"))] = code
    return names, chars


def font_entry(pdf_name, afm, encoding, afm_dir):
    header, glyphs = read_afm(os.path.join(afm_dir, afm + ".afm"))
    if encoding == "win":
        names, chars = win_ansi()
    else:
        decode, chars = adobe_encoding(encoding)
        by_code = {g[0]: n for n, g in glyphs.items() if g[0] >= FIRST_CODE}
        names = {c: by_code[c] for c in decode if c in by_code}
        chars = {u: c for u, c in chars.items() if c in names}
    widths = [glyphs[names[c]][1] if c in names else 0 for c in range(FIRST_CODE, 256)]
    bbox = [int(v) for v in header["FontBBox"].split()]
    # Ascent and descent as font metrics define them: the top of "d" and the
    # bottom of "p"; the box for the two symbol fonts.
    ascent = glyphs["d"][2][3] if "d" in names.values() else bbox[3]
    descent = glyphs["p"][2][1] if "p" in names.values() else bbox[1]
    return {"name": pdf_name, "afm": afm, "win": encoding == "win", "widths": widths, "chars": sorted(chars.items()),
            "cap": int(header["CapHeight"]), "x": int(header["XHeight"]), "ascent": ascent, "descent": descent,
            "bbox": bbox, "angle": float(header["ItalicAngle"]), "fixed": header["IsFixedPitch"] == "true"}


def c_array(values, per_line, indent="    "):
    lines = [", ".join(values[k:k + per_line]) for k in range(0, len(values), per_line)]
    return "".join(indent + line + ",\n" for line in lines)


def generate(afm_dir):
    fonts = [font_entry(*f, afm_dir) for f in FONTS]
    out = ["// Generated by scripts/standard_fonts.py from the metric files of fonts-urw-base35;\n"
           "// do not edit. Regenerate with\n"
           "//   python3 scripts/standard_fonts.py --out src/dedediruzurud/standard_font_metrics.cpp\n"
           "// tests/CMakeLists.txt checks this file against the installed metric files.\n"
           '#include "standard_fonts.h"\n\nnamespace {\n\n'
           "// Advance widths in thousandths of the text size, codes %d..255 (0: no character).\n" % FIRST_CODE]
    width_tables, char_tables = [], []
    for f in fonts:
        if f["widths"] not in [w for w, _ in width_tables]:
            width_tables.append((f["widths"], "W_" + f["name"].replace("-", "_").upper()))
            out.append("constexpr uint16_t %s[STANDARD_CODE_COUNT] = {\n%s};\n"
                       % (width_tables[-1][1], c_array([str(w) for w in f["widths"]], 16)))
        f["widths_name"] = [n for w, n in width_tables if w == f["widths"]][0]
    out.append("\n// Each encoding's characters and their codes, by character.\n")
    for f in fonts:
        if f["chars"] not in [c for c, _ in char_tables]:
            char_tables.append((f["chars"], "WIN_ANSI" if f["win"] else "CHARS_" + f["name"].upper()))
            pairs = ["{0x%04X, %d}" % (u, c) for u, c in f["chars"]]
            out.append("constexpr standard_char %s[] = {\n%s};\n" % (char_tables[-1][1], c_array(pairs, 6)))
        f["chars_name"] = [n for c, n in char_tables if c == f["chars"]][0]
    out.append("\n}  // namespace\n\nconst standard_font STANDARD_FONTS[STANDARD_FONT_COUNT] = {\n")
    for f in fonts:
        out.append('    {"%s", %s, %s, %s, sizeof %s / sizeof %s[0], %d, %d, %d, %d, {%s}, %s, %s},\n' % (
            f["name"], "true" if f["win"] else "false", f["widths_name"], f["chars_name"], f["chars_name"],
            f["chars_name"], f["cap"], f["x"], f["ascent"], f["descent"], ", ".join(str(v) for v in f["bbox"]),
            repr(f["angle"]), "true" if f["fixed"] else "false"))
    out.append("};\n")
    return "".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--afm-dir", default=AFM_DIR)
    ap.add_argument("--check")
    ap.add_argument("--out")
    args = ap.parse_args()
    if not os.path.exists(os.path.join(args.afm_dir, FONTS[0][1] + ".afm")):
        print("standard_fonts: no metric files in %s (apt-get install fonts-urw-base35); skipped" % args.afm_dir)
        return 77
    text = generate(args.afm_dir)
    if args.check:
        with open(args.check, encoding="utf-8") as f:
            committed = f.read()
        if committed == text:
            print("standard_fonts: %s matches the metric files" % args.check)
            return 0
        for k, (a, b) in enumerate(zip(committed.split("\n"), text.split("\n"))):
            if a != b:
                print("standard_fonts: %s line %d differs:\n  committed: %s\n  metrics:   %s" % (args.check, k + 1, a, b))
                break
        else:
            print("standard_fonts: %s differs in length" % args.check)
        return 1
    if args.out:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)
    else:
        sys.stdout.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
