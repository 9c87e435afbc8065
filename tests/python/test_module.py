"""The lenstrove module: plug-ins found and described, arrays rendered."""
import os
import subprocess
import threading
import warnings

import numpy as np
import OpenImageIO as oiio
import pytest

import lenstrove
from conftest import LENSTROVE, read_image, write_image

GUIDES = dict(GuideThirds=True, Crop239=True, CropOpacity=0.6, ShowSkinToneLine=True, LineThickness=5.0)


def test_plugins_and_description(fx):
    found = {p["identifier"]: p for p in lenstrove.plugins()}
    assert found[LENSTROVE]["version"] == lenstrove.__version__ == "1.11"
    assert found[LENSTROVE]["file"].endswith("QelLenstrove.ofx")

    d = fx.describe()
    assert d["identifier"] == LENSTROVE and d["label"].strip() == "~ Qel Lenstrove ~"
    assert "filter" in d["contexts"] and d["depths"] == ["byte", "float"]
    params = {p["name"]: p for p in d["parameters"]}
    assert params["GuideThirds"] == dict(name="GuideThirds", type="boolean", label="Rule of Thirds",
                                         group="GroupGuides", default=False, animates=False)
    opacity = params["CropOpacity"]
    assert (opacity["type"], opacity["default"], opacity["minimum"], opacity["maximum"]) == ("double", 1.0, 0.0, 1.0)
    assert params["GroupCrops"]["type"] == "group" and params["GroupCrops"]["default"] is None

    # A folder given as one path, searched before the rest.
    tests = os.environ["LENSTROVE_TEST_PLUGIN_DIR"]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the folder holds plug-ins that fail on purpose
        listed = [p["identifier"] for p in lenstrove.plugins(search_path=tests)]
    assert "org.lenstrove.tests.AlwaysFails" in listed and listed.index("org.lenstrove.tests.AlwaysFails") < listed.index(LENSTROVE)


def test_errors_name_what_is_wrong(fx, coffee):
    assert issubclass(lenstrove.Error, ValueError)
    with pytest.raises(lenstrove.Error, match=r"unknown parameter 'Thirds' \(the plug-in has: .*GuideThirds"):
        fx.render(coffee, Thirds=True)
    with pytest.raises(lenstrove.Error, match=r"parameter 'GuideThirds' is a boolean: 'yes' is not true or false"):
        fx.render(coffee, GuideThirds="yes")
    with pytest.raises(lenstrove.Error, match=r"parameter 'CropOpacity' cannot take a set"):
        fx.render(coffee, CropOpacity={0.5})
    with pytest.raises(lenstrove.Error, match=r"parameter 'GuideThirds' does not animate"):
        fx.render(coffee, GuideThirds={0: True, 5: False})
    with pytest.raises(lenstrove.Error, match=r"key at 'a'"):
        fx.render(coffee, CropOpacity={"a": 0.5})
    for bad, message in [(coffee[:, :, 0], "shape 400x600 "), (coffee[:, :, :2], "shape 400x600x2 "),
                         (coffee.astype(np.float64), "float64"), (coffee.astype(np.int16), "int16"),
                         (coffee.astype(">u2"), "other byte order"), (coffee[:0], "nothing to render")]:
        with pytest.raises(lenstrove.Error, match=message):
            fx.render(bad)
    with pytest.raises(lenstrove.Error, match="alpha='linear'"):
        fx.render(coffee, alpha="linear")
    with pytest.raises(lenstrove.Error, match="time=nan is not a frame time"):
        fx.render(coffee, time=float("nan"))
    with pytest.raises(lenstrove.Error, match=r"unknown plug-in 'org.example.Nothing'.*lenstrove.plugins\(\)"):
        lenstrove.Plugin("org.example.Nothing")
    failing = lenstrove.Plugin("org.lenstrove.tests.AlwaysFails", search_path=[os.environ["LENSTROVE_TEST_PLUGIN_DIR"]])
    with pytest.raises(lenstrove.Error, match="answered kOfxStatFailed to OfxImageEffectActionRender"):
        failing.render(coffee)
    # Clamped values render, with a warning.
    with pytest.warns(UserWarning, match=r"CropOpacity=3 is outside its range 0..1; using 1"):
        clamped = fx.render(coffee, Crop239=True, CropOpacity=3)
    assert np.array_equal(clamped, fx.render(coffee, Crop239=True, CropOpacity=1.0))


def test_dtypes_and_layouts(fx, coffee, rgba_float):
    """Nothing switched on returns the picture as it was, whatever its dtype or layout."""
    rgba8 = np.ascontiguousarray(np.concatenate([coffee, coffee[:, :, :1]], axis=2))
    pictures = [coffee, rgba8, rgba_float, (rgba_float * 40000).astype(np.uint16), rgba_float.astype(np.float16)]
    for picture in pictures:
        padded = np.zeros((picture.shape[0] + 6, picture.shape[1] + 10, 4), picture.dtype)
        padded[3:-3, 5:-5, :picture.shape[2]] = picture
        layouts = [picture, picture[::-1], picture[:, ::-1], picture[::2, ::3], np.asfortranarray(picture),
                   padded[3:-3, 5:-5, :picture.shape[2]], picture[:, :, ::-1]]
        for layout in layouts:
            before = layout.copy()
            out = fx.render(layout)
            assert out.dtype == layout.dtype and out.shape == layout.shape and out.flags.c_contiguous
            assert np.array_equal(out, layout), (picture.dtype, layout.strides)
            assert np.array_equal(layout, before)

    # With guides drawn, every layout draws them in the same place.
    flipped = rgba_float[::-1]
    assert np.array_equal(fx.render(flipped, **GUIDES), fx.render(np.ascontiguousarray(flipped), **GUIDES))
    # Short and half pictures are rendered in float, then stored back.
    short_in = (rgba_float.clip(0, 1) * 65535).round().astype(np.uint16)
    short = fx.render(short_in, **GUIDES)
    drawn = fx.render((short_in / 65535).astype(np.float32), **GUIDES)
    assert not np.array_equal(short, short_in)
    assert np.abs(short / 65535 - drawn.clip(0, 1)).max() < 1.5 / 65535
    half_in = rgba_float.astype(np.float16)
    half = fx.render(half_in, **GUIDES)
    assert np.allclose(half, fx.render(half_in.astype(np.float32), **GUIDES), rtol=1e-3, atol=1e-4)


def test_keys_and_time(fx, coffee):
    ramp = dict(Crop239=True, CropOpacity={0: 0.0, 10: 1.0})
    assert np.array_equal(fx.render(coffee, time=5, **ramp), fx.render(coffee, Crop239=True, CropOpacity=0.5))
    assert np.array_equal(fx.render(coffee, time=0, **ramp), fx.render(coffee, Crop239=True, CropOpacity=0.0))
    assert np.array_equal(fx.render(coffee, 20, **ramp), fx.render(coffee, Crop239=True, CropOpacity=1.0))
    # numpy scalars are numbers like any other.
    assert np.array_equal(fx.render(coffee, Crop239=np.bool_(True), CropOpacity=np.float32(0.5)),
                          fx.render(coffee, time=5, **ramp))


@pytest.mark.skipif("LENSTROVE_SUPPORT_PLUGIN_DIR" not in os.environ, reason="the standard's support library is absent")
def test_values_of_every_kind(coffee):
    gain = lenstrove.Plugin("org.lenstrove.sdk.Gain", search_path=[os.environ["LENSTROVE_SUPPORT_PLUGIN_DIR"]])
    params = {p["name"]: p for p in gain.describe()["parameters"]}
    assert params["Channels"]["options"] == ["RGBA", "RGB", "Alpha"] and params["Channels"]["default"] == "RGBA"
    assert params["Tint"]["default"] == (1.0, 1.0, 1.0, 1.0) and params["Centre"]["default_is_fraction_of_frame"]
    assert params["Note"]["default"] == "hello"
    out = gain.render(coffee, Gain=1, Channels="rgb", Tint=(1, 0.5, 0.25), Lift=[0, 0, 0], Centre=(300, 200),
                      Scale=np.array([1.0, 1.0, 1.0]), Note="from Python", Offset={0: (0, 0), 10: (8, 8)})
    assert out.shape == coffee.shape
    with pytest.raises(lenstrove.Error, match=r"parameter 'Tint' is an RGBA colour: \(1, 2\) is not three or four numbers"):
        gain.render(coffee, Tint=(1, 2))
    with pytest.raises(lenstrove.Error, match=r"parameter 'Channels' is a choice: 'Blue' is not an option's number"):
        gain.render(coffee, Channels="Blue")
    # A plug-in's own failure carries what it posted.
    messages = lenstrove.Plugin("org.lenstrove.sdk.Messages", search_path=[os.environ["LENSTROVE_SUPPORT_PLUGIN_DIR"]])
    with pytest.raises(lenstrove.Error, match="cannot render frame") as raised:
        messages.render(coffee, time=3, Warn=False, Fail=True)
    assert "cannot render frame" in raised.value.plugin_message


def test_threads_share_a_plugin(fx, coffee, rgba_float):
    """Renders with different settings at once, each as it renders alone."""
    settings = [dict(GuideThirds=True), dict(Crop185=True, CropOpacity=0.3), dict(FalseColorMode=True), {}]
    pictures = [coffee, rgba_float]
    expected = {(s, p): fx.render(pictures[p], **settings[s]) for s in range(4) for p in range(2)}
    assert len({expected[s, 0].tobytes() for s in range(4)}) == 4
    failures = []

    def work(seed):
        for i in range(24):
            s, p = (seed + i) % 4, (seed * i) % 2
            if not np.array_equal(fx.render(pictures[p], **settings[s]), expected[s, p]):
                failures.append((seed, s, p))

    threads = [threading.Thread(target=work, args=(seed,)) for seed in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


@pytest.mark.skipif("LENSTROVE_COMMAND" not in os.environ, reason="the command is not built")
def test_identical_to_the_command(fx, coffee, rgba_float, tmp_path):
    settings = ["GuideThirds=on", "Crop239=on", "CropOpacity=0.6", "ShowSkinToneLine=on", "LineThickness=5"]
    float_input = str(tmp_path / "in.exr")
    write_image(float_input, rgba_float, oiio.FLOAT)
    data = os.environ["LENSTROVE_TEST_DATA_DIR"]
    for source, name, fmt, array, alpha in [(os.path.join(data, "coffee.png"), "out.png", oiio.UINT8, coffee, "straight"),
                                            (float_input, "out.exr", oiio.FLOAT, rgba_float, "premultiplied")]:
        output = str(tmp_path / name)
        subprocess.run([os.environ["LENSTROVE_COMMAND"], "render", "-q", source, output] + settings, check=True)
        from_command = read_image(output, fmt)
        from_python = fx.render(array, alpha=alpha, **GUIDES)
        assert from_python.dtype == from_command.dtype and not np.array_equal(from_python, array)
        assert np.array_equal(from_python, from_command), name
