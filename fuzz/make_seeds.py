#!/usr/bin/env python3
"""Writes the hand-made seeds of fuzz/corpus/render and fuzz/corpus/dispatch.

Each seed spells out, in the order render_fuzzer.cpp and dispatch_fuzzer.cpp
read them, the choices of one interesting case, so fuzzing starts from real
renders (every overlay, both depths, in place, top-down rows, odd depths,
faults) instead of from empty inputs. Run it again after changing the order
in which a target reads its input; inputs the fuzzer found are kept apart
under names that do not start with "seed-".

    python3 fuzz/make_seeds.py
"""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


class Input:
    def __init__(self):
        self.data = bytearray()

    def u8(self, v):
        self.data += struct.pack("<B", v & 0xFF)
        return self

    def below(self, v):  # choices of up to 256 take one byte
        return self.u8(v)

    def i32(self, v):
        self.data += struct.pack("<i", v)
        return self

    def u32(self, v):
        self.data += struct.pack("<I", v & 0xFFFFFFFF)
        return self

    def double(self, v):
        self.data += struct.pack("<d", v)
        return self

    def string(self, text):
        raw = text.encode("latin-1") if isinstance(text, str) else text
        self.u8(len(raw))
        self.data += raw
        return self


# --- render -----------------------------------------------------------------

DEPTHS = {"byte": 0, "float": 1, "short": 4, "half": 5}
BYTES_PER_PIXEL = {"byte": 4, "float": 16, "short": 8, "half": 8}


def claim(i, x1, y1, w, h, depth="float", rows="tight", pad=0, data="real", upper=True,
          raw_x2=None, raw_rows=None, depth_string=None, stored=16):
    if -128 <= x1 <= 127:
        i.below(0).u8(x1)
    else:
        i.below(1).i32(x1)
    if -128 <= y1 <= 127:
        i.below(0).u8(y1)
    else:
        i.below(1).i32(y1)
    if raw_x2 is not None:
        i.below(0).i32(raw_x2)
    else:
        i.below(2).below(w)
    i.below(2).below(h)
    if depth_string is not None:
        i.below(6).string(depth_string).u8(1 if stored == 16 else 0)
    elif depth is None:
        i.below(7).u8(1 if stored == 16 else 0)
    else:
        i.below(DEPTHS[depth])
    bpp = stored if depth is None or depth_string is not None else BYTES_PER_PIXEL[depth]
    width = (raw_x2 if raw_x2 is not None else x1 + w) - x1
    if width * bpp > 0x7FFFFFFF:
        i.i32(0)  # the target reads a stand-in for the tight row length first
    if raw_rows is not None:
        i.below(1).i32(raw_rows)
    elif rows == "tight":
        i.below(5)
    elif rows == "topdown":
        i.below(2)
    elif rows == "padded":
        i.below(4).below(pad)
    elif rows == "short":
        i.below(3).below(pad)
    elif rows == "zero":
        i.below(0)
    i.below({"real": 3, "null": 0, "absent": 1, "wrongtype": 2}[data])
    i.below(1)  # an image is there
    i.below(1)  # four bounds
    i.u8(1 if upper else 0)


def render_tail(i, window="output", window_shape=3, time=0, switches=None, doubles=None, faults=None,
                context_filter=True, pixels=b""):
    if window == "output":
        i.below(3)
    elif window == "source":
        i.below(1)
    else:
        i.below(0)
        for v in window:
            i.i32(v)
    i.below(window_shape)
    if isinstance(time, float):
        i.below(0).double(time)
    else:
        i.below(1).u8(time)
    i.below(1).below(1)  # render scale 1, 1
    i.u8(1 if context_filter else 0)
    switches = switches or {}
    for name in ["ShowSkinTonePatches", "ShowSkinToneLine", "ShowMiddleGray", "LegalizeLevels",
                 "FalseColorMode", "GuideThirds", "GuideGolden", "GuideCrosshair", "Crop185",
                 "Crop235", "Crop239"]:
        v = switches.get(name)
        if v is None:
            i.below(3)
        elif v in (0, 1):
            i.below(v)
        else:
            i.below(2).i32(v)
    doubles = doubles or {}
    for name in ["CropOpacity", "LineThickness", "SkinLinePos", "GrayLinePos"]:
        v = doubles.get(name)
        if v is None:
            i.below(0)
        elif isinstance(v, list):
            i.below(3).below(len(v) - 1)
            for t, value in v:
                i.double(t).double(value)
        else:
            i.below(1).double(v)
    faults = faults or {}
    for key in ["withheld", "rejected", "failing_params"]:
        if key in faults:
            i.below(0).u32(faults[key])
        else:
            i.below(1)
    if "missing_suites" in faults:
        i.below(0).u8(faults["missing_suites"])
    else:
        i.below(1)
    i.below(0 if faults.get("reject_everything") else 1)
    i.data += pixels


def render_seed(name, source, output, alias=None, **tail):
    i = Input()
    claim(i, **source)
    claim(i, **output)
    if alias == "inplace":
        i.below(0)
    elif isinstance(alias, int):
        i.below(1).below(alias)
    else:
        i.below(2)
    render_tail(i, **tail)
    return name, bytes(i.data)


ALL_ON = {n: 1 for n in ["ShowSkinTonePatches", "ShowSkinToneLine", "ShowMiddleGray", "GuideThirds",
                          "GuideGolden", "GuideCrosshair", "Crop235"]}
FLOAT_PIXELS = struct.pack("<16f", 0.2, 0.5, 0.9, 1.0, 1.5, -0.25, 0.0, 0.5, float("nan"), 0.4, 0.45, 1.0,
                           float("inf"), float("-inf"), 0.55, 0.0)
BYTE_PIXELS = bytes(range(0, 256, 7))

RENDER_SEEDS = [
    render_seed("seed-float-all-overlays", dict(x1=0, y1=0, w=40, h=30), dict(x1=0, y1=0, w=40, h=30),
                switches=ALL_ON, pixels=FLOAT_PIXELS),
    render_seed("seed-byte-false-color-crop", dict(x1=-5, y1=3, w=37, h=21, depth="byte"),
                dict(x1=-5, y1=3, w=37, h=21, depth="byte"),
                switches={"FalseColorMode": 1, "Crop185": 1, "GuideThirds": 1}, doubles={"CropOpacity": 0.5},
                pixels=BYTE_PIXELS),
    render_seed("seed-byte-legalize-inplace", dict(x1=0, y1=0, w=64, h=16, depth="byte"),
                dict(x1=0, y1=0, w=64, h=16, depth="byte"), alias="inplace",
                switches={"LegalizeLevels": 1, "Crop239": 1}, pixels=BYTE_PIXELS),
    render_seed("seed-float-overlap-shifted", dict(x1=0, y1=0, w=20, h=10), dict(x1=0, y1=0, w=20, h=10),
                alias=16, switches={"FalseColorMode": 1}, pixels=FLOAT_PIXELS),
    render_seed("seed-float-top-down-rows", dict(x1=10, y1=-20, w=50, h=40, rows="topdown"),
                dict(x1=10, y1=-20, w=50, h=40, rows="topdown", upper=False), switches=ALL_ON,
                pixels=FLOAT_PIXELS),
    render_seed("seed-padded-rows-tile", dict(x1=0, y1=0, w=30, h=30, rows="padded", pad=100),
                dict(x1=0, y1=0, w=30, h=30, rows="padded", pad=36), window=[5, 5, 25, 20],
                switches={"GuideGolden": 1, "ShowMiddleGray": 1}),
    render_seed("seed-byte-source-float-output", dict(x1=0, y1=0, w=8, h=4, depth="byte", rows="padded", pad=120),
                dict(x1=0, y1=0, w=8, h=4, depth="float"), switches={"LegalizeLevels": 1}),
    render_seed("seed-short-depth-padded", dict(x1=0, y1=0, w=8, h=4, depth="short", rows="padded", pad=100),
                dict(x1=0, y1=0, w=8, h=4, depth="short", rows="padded", pad=100)),
    render_seed("seed-no-depth-wide-rows", dict(x1=0, y1=0, w=8, h=4, depth=None, stored=4, rows="padded",
                                                pad=100),
                dict(x1=0, y1=0, w=8, h=4, depth=None, stored=4, rows="padded", pad=100)),
    render_seed("seed-odd-depth-string", dict(x1=0, y1=0, w=9, h=9, depth_string="OfxBitDepthFloatX", stored=16),
                dict(x1=0, y1=0, w=9, h=9, depth_string="\xffFloat\x00", stored=4)),
    render_seed("seed-rows-too-short", dict(x1=0, y1=0, w=16, h=8, rows="short", pad=3),
                dict(x1=0, y1=0, w=16, h=8, rows="short", pad=0)),
    render_seed("seed-zero-row-bytes", dict(x1=0, y1=0, w=16, h=8, rows="zero"), dict(x1=0, y1=0, w=16, h=8)),
    render_seed("seed-extreme-bounds", dict(x1=-2147483648, y1=-2147483648, w=0, h=2, raw_x2=2147483647,
                                            raw_rows=64),
                dict(x1=2147483600, y1=2147483640, w=40, h=7), switches=ALL_ON),
    render_seed("seed-window-extremes", dict(x1=0, y1=0, w=12, h=12), dict(x1=0, y1=0, w=12, h=12),
                window=[-2147483648, -2147483648, 2147483647, 2147483647], switches=ALL_ON),
    render_seed("seed-null-data", dict(x1=0, y1=0, w=12, h=12, data="null"), dict(x1=0, y1=0, w=12, h=12,
                                                                                  data="absent")),
    render_seed("seed-nan-and-infinite-parameters", dict(x1=0, y1=0, w=24, h=24), dict(x1=0, y1=0, w=24, h=24),
                switches=dict(ALL_ON, Crop185=-7),
                doubles={"CropOpacity": float("nan"), "LineThickness": float("inf"),
                         "SkinLinePos": -1e300, "GrayLinePos": [(0.0, 1e308), (10.0, -1e308)]},
                time=float("nan")),
    render_seed("seed-huge-thickness-keys", dict(x1=0, y1=0, w=24, h=24, depth="byte"),
                dict(x1=0, y1=0, w=24, h=24, depth="byte"), switches=ALL_ON,
                doubles={"LineThickness": [(0.0, 0.0), (5.0, 1e9)], "CropOpacity": -3.0}, time=3),
    render_seed("seed-missing-parameter-suite", dict(x1=0, y1=0, w=10, h=10), dict(x1=0, y1=0, w=10, h=10),
                switches=ALL_ON, faults={"missing_suites": 4}),
    render_seed("seed-withheld-and-rejected", dict(x1=0, y1=0, w=10, h=10), dict(x1=0, y1=0, w=10, h=10),
                switches=ALL_ON, faults={"withheld": 0x19, "rejected": 0x1010, "failing_params": 0x30003}),
    render_seed("seed-host-rejects-everything", dict(x1=0, y1=0, w=10, h=10), dict(x1=0, y1=0, w=10, h=10),
                faults={"reject_everything": True}),
    render_seed("seed-window-as-doubles", dict(x1=0, y1=0, w=10, h=10), dict(x1=0, y1=0, w=10, h=10),
                window_shape=1, switches=ALL_ON),
]

# --- dispatch ---------------------------------------------------------------


def dispatch_seed(name, suites=0, null_fetch=False, reject_all=False, steps=()):
    i = Input()
    i.u8(suites)
    i.below(0 if null_fetch else 1)
    i.below(0 if reject_all else 1)
    i.u8(0)  # no rejected functions
    i.u8(0)  # no withheld properties
    i.u8(0)  # no failing parameter
    i.below(len(steps) - 1 if steps else 0)
    for step in steps:
        i.data += step
    return name, bytes(i.data)


def call(action_index=None, action=None, handle=1, in_args=0, out_args=0):
    i = Input()
    i.below(0)
    if action is not None:
        i.below(0).string(action)
    elif action_index is None:
        i.below(1)
    else:
        i.below(2).below(action_index)
    i.below(handle)
    for args in (in_args, out_args):
        i.below(args)
        if args >= 3:
            i.u8(1).below(0).u8(0).u8(0).u8(0)
    return bytes(i.data)


def step(kind, *choices):
    i = Input()
    i.below(kind)
    for c in choices:
        i.below(c)
    return bytes(i.data)


DISPATCH_SEEDS = [
    dispatch_seed("seed-every-action-on-descriptor", steps=[call(a, handle=1, in_args=3) for a in range(8)]),
    dispatch_seed("seed-render-through-dispatch", steps=[step(4, 0), call(11, handle=3, in_args=3),
                                                        step(5, 0, 7, 9, 1, 1, 1)]),
    dispatch_seed("seed-null-and-garbage", steps=[call(None, handle=0), call(action="OfxActionLoad\x00x", handle=6),
                                                 call(2, handle=8, in_args=1, out_args=2), call(11, handle=5)]),
    dispatch_seed("seed-missing-suites", suites=7, steps=[step(2), step(3, 0), call(11, handle=2)]),
    dispatch_seed("seed-null-fetch-suite", null_fetch=True, steps=[step(2), step(3, 1), step(4, 0)]),
    dispatch_seed("seed-host-rejects-everything", reject_all=True,
                  steps=[step(2), step(3, 0), step(4, 0), step(5, 0, 4, 4, 0, 1, 1)]),
]


def main():
    for folder, seeds in (("render", RENDER_SEEDS), ("dispatch", DISPATCH_SEEDS)):
        path = os.path.join(HERE, "corpus", folder)
        os.makedirs(path, exist_ok=True)
        for name, data in seeds:
            with open(os.path.join(path, name), "wb") as f:
                f.write(data)


if __name__ == "__main__":
    main()
