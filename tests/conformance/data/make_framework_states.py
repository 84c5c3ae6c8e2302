#!/usr/bin/env python3
"""Writes the framework-format state files the conformance suite loads.

These are states as the framework's own CLAP wrapper saved them before our
module entry layer existed, byte for byte:

    "__dpf_parameters_begin__" NUL
    for each parameter in index order, trigger parameters left out:
        symbol NUL value NUL
    "__dpf_parameters_end__" NUL
    0xFE NUL

A value is written in the "C" locale: integer-hinted parameters as a whole
number (printf "%d" of the rounded value), all others as printf "%.12g" of the
float value widened to double (so 0.3 appears as 0.300000011921).

Run from this folder: python3 make_framework_states.py
"""
import struct


def float_text(value):
    as_float = struct.unpack("<f", struct.pack("<f", value))[0]
    return "%.12g" % as_float


def state(entries):
    out = b"__dpf_parameters_begin__\0"
    for symbol, text in entries:
        out += symbol.encode() + b"\0" + text.encode() + b"\0"
    out += b"__dpf_parameters_end__\0"
    out += b"\xfe\0"
    return out


# Radeda: "retrigger" (index 4) is a trigger and is not saved.
RADEDA = [
    ("active", float_text(1.0)),
    ("bpm", "%d" % 133),
    ("beats", "%d" % 3),
    ("division", "%d" % 8),
    ("attack", float_text(0.3)),
    ("hold", float_text(0.6)),
    ("release", float_text(0.25)),
    ("varispeed", float_text(1.0)),
    ("speed", float_text(1.5)),
]

ZIVAZ = [
    ("downsample", "%d" % 6),
    ("noisebias", float_text(0.7)),
    ("prenoise", float_text(0.1)),
    ("postnoise", float_text(0.35)),
    ("distort", float_text(0.8)),
    ("postclip", float_text(0.45)),
]

if __name__ == "__main__":
    for name, entries in (("radeda", RADEDA), ("zivaz", ZIVAZ)):
        with open("%s-framework-state.bin" % name, "wb") as f:
            f.write(state(entries))
