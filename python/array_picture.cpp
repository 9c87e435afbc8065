#include "array_picture.h"

#include <climits>
#include <cstdlib>
#include <optional>

#include "session/error.h"

namespace py = pybind11;

namespace lenstrove::python {
namespace {

struct SampleKind {
  char kind;  // numpy's: 'u' unsigned, 'f' floating
  py::ssize_t size;
  session::SampleType sample;
  const char* name;
};

constexpr SampleKind kSampleKinds[] = {
    {'u', 1, session::SampleType::Byte, "uint8"},
    {'u', 2, session::SampleType::Short, "uint16"},
    {'f', 2, session::SampleType::Half, "float16"},
    {'f', 4, session::SampleType::Float, "float32"},
};

std::string DtypeText(const py::dtype& dtype) { return py::str(static_cast<const py::object&>(dtype)).cast<std::string>(); }

session::SampleType SampleOf(const py::dtype& dtype) {
  for (const SampleKind& k : kSampleKinds) {
    if (dtype.kind() != k.kind || dtype.itemsize() != k.size) continue;
    if (!dtype.attr("isnative").cast<bool>())
      throw session::Error("an array of " + DtypeText(dtype) + " is in the other byte order; give array.astype(numpy." +
                           k.name + ")");
    return k.sample;
  }
  throw session::Error("an array of " + DtypeText(dtype) + " cannot be rendered: give uint8, uint16, float16 or float32");
}

std::string ShapeText(const py::array& array) {
  std::string text;
  for (py::ssize_t i = 0; i < array.ndim(); ++i) text += (i ? "x" : "") + std::to_string(array.shape(i));
  return array.ndim() == 0 ? "a scalar" : text;
}

session::AlphaState AlphaOf(const std::string& alpha) {
  if (alpha == "straight") return session::AlphaState::Straight;
  if (alpha == "premultiplied") return session::AlphaState::Premultiplied;
  if (alpha == "opaque") return session::AlphaState::Opaque;
  throw session::Error("alpha='" + alpha + "' is not one of 'straight', 'premultiplied' or 'opaque'");
}

// Whether the session can read the array where it lies: the channels of a
// pixel and the pixels of a row side by side, and rows apart far enough
// not to overlap (a broadcast array's rows share memory).
bool ReadableInPlace(const py::array& array) {
  const py::ssize_t sample = array.itemsize(), pixel = sample * array.shape(2);
  return array.strides(2) == sample && array.strides(1) == pixel &&
         std::llabs(static_cast<long long>(array.strides(0))) >= pixel * array.shape(1);
}

}  // namespace

ArrayPicture SourcePicture(const py::array& array, const std::string& alpha) {
  const session::AlphaState state = AlphaOf(alpha);
  if (array.ndim() != 3 || (array.shape(2) != 3 && array.shape(2) != 4))
    throw session::Error("an array of shape " + ShapeText(array) +
                         " cannot be rendered: give height x width x 4 (RGBA) or x 3 (RGB)");
  if (array.shape(0) > INT_MAX || array.shape(1) > INT_MAX)
    throw session::Error("an array of shape " + ShapeText(array) + " is too large to render");
  ArrayPicture source;
  source.picture.sample = SampleOf(array.dtype());
  source.held = ReadableInPlace(array) ? array : py::array(py::module_::import("numpy").attr("ascontiguousarray")(array));
  source.picture.data = const_cast<void*>(source.held.data());
  source.picture.height = static_cast<int>(array.shape(0));
  source.picture.width = static_cast<int>(array.shape(1));
  source.picture.channels = static_cast<int>(array.shape(2));
  source.picture.rowStride = source.held.strides(0);
  source.picture.alpha = source.picture.channels == 3 ? session::AlphaState::Opaque : state;
  return source;
}

ArrayPicture OutputPicture(const py::array& source, const session::Picture& like) {
  ArrayPicture output;
  output.held = py::array(source.dtype(), {source.shape(0), source.shape(1), source.shape(2)});
  output.picture = like;
  output.picture.data = output.held.mutable_data();
  output.picture.rowStride = output.held.strides(0);
  return output;
}

}  // namespace lenstrove::python
