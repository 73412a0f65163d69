#!/usr/bin/env python3
"""What a TrueType label costs against Helvetica.

Numbers one document through dedediruzurud_number with the label
"Page {n} of {total}" in Helvetica, then in a TrueType font (embedded as a
subset), and a Cyrillic label in the same font; prints the median wall time
of ROUNDS runs (interleaved) and each output's size against Helvetica's.
Not a test: the figures depend on the machine and on what else runs.

    bench/label_fonts.py --lib build/libdedediruzurud.so [--pdf FILE] [--font FILE] [--rounds N]

The default document is the R reference manual (fullrefman.pdf, about 2,400
pages) where bench/compare.py caches it; any large PDF will do.
"""
import argparse
import ctypes
import os
import statistics
import tempfile
import time

c_int, c_uint, c_double, c_char_p = ctypes.c_int, ctypes.c_uint, ctypes.c_double, ctypes.c_char_p


class Options(ctypes.Structure):
    """dedediruzurud_options, field for field as include/dedediruzurud.h declares it."""
    _fields_ = [("size", c_uint), ("flags", c_uint), ("position", c_int), ("font_size", c_int),
                ("red", c_int), ("green", c_int), ("blue", c_int), ("first_number", c_int),
                ("start_page", c_int), ("end_page", c_int), ("total_mode", c_int), ("total", c_int),
                ("font_index", c_int), ("format", c_char_p), ("font", c_char_p),
                ("margin_x", c_double), ("margin_y", c_double), ("opacity", c_double)]


def options(fmt, font):
    o = Options(size=ctypes.sizeof(Options), font_size=12, first_number=1, opacity=1.0)
    o.format, o.font = fmt.encode(), font.encode() if font else None
    return o


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--lib", required=True)
    ap.add_argument("--pdf", default=os.path.expanduser("~/.cache/dedediruzurud-bench/fullrefman.pdf"))
    ap.add_argument("--font", default="/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf")
    ap.add_argument("--rounds", type=int, default=5)
    a = ap.parse_args()
    lib = ctypes.CDLL(a.lib)
    lib.dedediruzurud_number.argtypes = [c_char_p, c_char_p, ctypes.POINTER(Options), c_char_p, ctypes.c_size_t]
    cases = [("Helvetica", options("Page {n} of {total}", None)),
             ("TrueType", options("Page {n} of {total}", a.font)),
             ("TrueType, Cyrillic", options("Страница {n} из {total}", a.font))]
    times = {name: [] for name, _ in cases}
    sizes = {}
    err = ctypes.create_string_buffer(1024)
    with tempfile.TemporaryDirectory() as tmp:
        for _ in range(a.rounds):
            for name, o in cases:
                out = os.path.join(tmp, "out.pdf")
                t = time.perf_counter()
                pages = lib.dedediruzurud_number(a.pdf.encode(), out.encode(), ctypes.byref(o), err, len(err))
                times[name].append(time.perf_counter() - t)
                if not pages:
                    raise SystemExit(f"{name}: {err.value.decode()}")
                sizes[name] = os.path.getsize(out)
    base_t, base_s = statistics.median(times["Helvetica"]), sizes["Helvetica"]
    print(f"{a.pdf}: {pages} pages, median of {a.rounds}")
    for name, _ in cases:
        t = statistics.median(times[name])
        print(f"  {name:20s} {t:7.3f} s ({100 * (t / base_t - 1):+5.1f} %)  {sizes[name]:>11,d} bytes "
              f"({sizes[name] - base_s:+,d})")


if __name__ == "__main__":
    main()
