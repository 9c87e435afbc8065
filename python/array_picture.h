#ifndef LENSTROVE_PYTHON_ARRAY_PICTURE_H
#define LENSTROVE_PYTHON_ARRAY_PICTURE_H

// numpy arrays as the render session's pictures: height x width x 3 or 4
// samples of uint8, uint16, float16 or float32, rows top first, as numpy
// and OpenImageIO hold them.

#include <pybind11/numpy.h>

#include <string>

#include "session/picture.h"

namespace lenstrove::python {

struct ArrayPicture {
  session::Picture picture;
  // The array the picture views: the caller's own when its pixels lie as
  // the session reads them (any row stride, negative too), else a packed
  // copy. It keeps the pixels alive while the render runs.
  pybind11::array held;
};

// Throws session::Error for an array of another shape or dtype. `alpha`
// is "straight", "premultiplied" or "opaque"; RGB is always opaque.
ArrayPicture SourcePicture(const pybind11::array& array, const std::string& alpha);

// A new packed array of the source's shape and dtype, and the picture that
// writes into it.
ArrayPicture OutputPicture(const pybind11::array& source, const session::Picture& like);

}  // namespace lenstrove::python

#endif
