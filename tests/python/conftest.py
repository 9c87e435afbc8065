import os

import numpy as np
import OpenImageIO as oiio
import pytest

import lenstrove

LENSTROVE = "com.Qel.Lenstrove.V111"


def read_image(path, fmt):
    """The file's pixels as OpenImageIO's Python module gives them: rows top first."""
    image = oiio.ImageInput.open(path)
    assert image, oiio.geterror()
    try:
        return image.read_image(format=fmt)
    finally:
        image.close()


def write_image(path, pixels, fmt):
    out = oiio.ImageOutput.create(path)
    layout = oiio.ImageSpec(pixels.shape[1], pixels.shape[0], pixels.shape[2], fmt)
    assert out.open(path, layout), out.geterror()
    assert out.write_image(pixels), out.geterror()
    out.close()


@pytest.fixture(scope="session")
def fx():
    return lenstrove.Plugin(LENSTROVE)


@pytest.fixture(scope="session")
def coffee():
    """600x400 RGB bytes."""
    return read_image(os.path.join(os.environ["LENSTROVE_TEST_DATA_DIR"], "coffee.png"), oiio.UINT8)


@pytest.fixture(scope="session")
def rgba_float(coffee):
    """Float RGBA with values above 1 and a varying alpha."""
    colour = coffee.astype(np.float32) / 255 * np.float32(1.5)
    alpha = np.linspace(0.25, 1, coffee.shape[1], dtype=np.float32)[None, :, None]
    return np.ascontiguousarray(np.concatenate([colour, np.broadcast_to(alpha, coffee.shape[:2] + (1,))], axis=2))
