// SPDX-License-Identifier: Apache-2.0
// The Python module `ccalib`: dot-grid calibration and checkerboard vertex features on
// numpy images, the library's errors as a Python exception hierarchy, deadlines and
// cancellation.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <string>

#include "cal/calib/calib_defs.h"
#include "cal/calib/vertex_feature_defs.h"
#include "platform/foundation/archive.h"
#include "platform/foundation/exception.h"
#include "python/bindings.h"
#ifdef CCALIB_PY_IMAGEIO
#include "tools/imageio/image_io.h"
#endif

namespace ccalib_py {

ccPelBuffer<unsigned char> imageFromArray(const py::handle& obj) {
  if (!py::isinstance<py::array>(obj)) {
    throw py::type_error("the image must be a numpy array of dtype uint8, not " +
                         std::string(py::str(py::type::handle_of(obj).attr("__name__"))));
  }
  const py::array array = py::reinterpret_borrow<py::array>(obj);
  if (!array.dtype().is(py::dtype::of<std::uint8_t>())) {
    throw py::type_error("the image must have dtype uint8, not " +
                         std::string(py::str(array.dtype())));
  }
  if (array.ndim() != 2) {
    throw py::value_error("the image must be 2-D (rows, columns), not " +
                          std::to_string(array.ndim()) + "-D");
  }
  const long height = static_cast<long>(array.shape(0)), width = static_cast<long>(array.shape(1));
  if (width == 0 || height == 0) throw py::value_error("the image has no pixels");
  // Element access through the strides copies views, transposes and slices as they look.
  const auto pixels = py::reinterpret_borrow<py::array_t<std::uint8_t>>(array).unchecked<2>();
  ccPelBuffer<unsigned char> image(width, height);
  for (long y = 0; y < height; ++y) {
    unsigned char* row = image.row(y);
    for (long x = 0; x < width; ++x) row[x] = pixels(y, x);
  }
  return image;
}

std::optional<double> checkTimeout(const std::optional<double>& seconds) {
  if (seconds && std::isnan(*seconds))
    throw py::value_error("timeout must be a number of seconds, not NaN");
  return seconds;
}

py::array_t<double> pointsToArray(const std::vector<ccVector<2>>& points) {
  py::array_t<double> out({static_cast<py::ssize_t>(points.size()), py::ssize_t{2}});
  auto a = out.mutable_unchecked<2>();
  for (std::size_t i = 0; i < points.size(); ++i) {
    a(i, 0) = points[i].x();
    a(i, 1) = points[i].y();
  }
  return out;
}

std::vector<ccVector<2>> pointsFromArray(const py::handle& obj, bool& single) {
  const auto array = py::array_t<double, py::array::forcecast>::ensure(obj);
  if (!array) throw py::type_error("points must be an (N, 2) array of numbers");
  single = array.ndim() == 1;
  if (!(single && array.shape(0) == 2) && !(array.ndim() == 2 && array.shape(1) == 2)) {
    throw py::value_error("points must be an (N, 2) array or one (x, y) point");
  }
  std::vector<ccVector<2>> points;
  if (single) {
    const auto a = array.unchecked<1>();
    points.emplace_back(a(0), a(1));
  } else {
    const auto a = array.unchecked<2>();
    for (py::ssize_t i = 0; i < a.shape(0); ++i) points.emplace_back(a(i, 0), a(i, 1));
  }
  return points;
}

py::array_t<std::int64_t> labelsToArray(const std::vector<ccPair<long>>& labels) {
  py::array_t<std::int64_t> out({static_cast<py::ssize_t>(labels.size()), py::ssize_t{2}});
  auto a = out.mutable_unchecked<2>();
  for (std::size_t i = 0; i < labels.size(); ++i) {
    a(i, 0) = labels[i].x();
    a(i, 1) = labels[i].y();
  }
  return out;
}

namespace {

// The Python classes of the library's errors; made once, when the module is imported.
struct ErrorClasses {
  py::object error, parameter, notFound, timeout, badData, imageFile;
};

ErrorClasses& errorClasses() {
  static ErrorClasses* classes =
      new ErrorClasses();  // never freed: outlives the interpreter's teardown
  return *classes;
}

py::object makeErrorClass(py::module_& m, const char* name, const char* doc, py::tuple bases) {
  const std::string qualified = std::string("ccalib.") + name;
  PyObject* cls = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
  if (cls == nullptr) throw py::error_already_set();
  py::object result = py::reinterpret_steal<py::object>(cls);
  m.attr(name) = result;
  return result;
}

// Raises `cls` with the library's message and the library's class name as `kind`.
void raise(const py::object& cls, const ccException& e) {
  py::object instance = cls(py::str(e.what()));
  instance.attr("kind") = py::str(e.persistentTypeName());
  PyErr_SetObject(cls.ptr(), instance.ptr());
}

}  // namespace

void registerExceptions(py::module_& m) {
  ErrorClasses& c = errorClasses();
  const py::object exception = py::reinterpret_borrow<py::object>(PyExc_Exception);
  c.error = makeErrorClass(
      m, "Error", "Base of every error of the library. `kind` names the library's own error class.",
      py::make_tuple(exception));
  c.parameter =
      makeErrorClass(m, "ParameterError", "A parameter or option the library refuses.",
                     py::make_tuple(c.error, py::reinterpret_borrow<py::object>(PyExc_ValueError)));
  c.notFound = makeErrorClass(
      m, "NotFoundError",
      "The run found no usable grid, board or fiducial, or could not fit its transform.",
      py::make_tuple(c.error));
  c.timeout = makeErrorClass(
      m, "TimeoutError", "The deadline passed or the call was cancelled.",
      py::make_tuple(c.error, py::reinterpret_borrow<py::object>(PyExc_TimeoutError)));
  c.badData = makeErrorClass(m, "BadDataError", "Invalid data: a broken archive or image.",
                             py::make_tuple(c.error));
  c.imageFile = makeErrorClass(
      m, "ImageFileError", "An image file that cannot be read: missing, broken, too large.",
      py::make_tuple(c.badData, py::reinterpret_borrow<py::object>(PyExc_OSError)));

  py::register_exception_translator([](std::exception_ptr p) {
    if (!p) return;
    const ErrorClasses& k = errorClasses();
    try {
      std::rethrow_exception(p);
    } catch (const ccCalibDefs::BadParam& e) {
      raise(k.parameter, e);
    } catch (const ccCalib2VertexFeatureDefs::BadParam& e) {
      raise(k.parameter, e);
    } catch (const ccBadArgument& e) {
      raise(k.parameter, e);
    } catch (const ccPel::BadWindow& e) {
      raise(k.parameter, e);
    } catch (const ccCalibDefs::Errors& e) {
      raise(k.notFound, e);
    } catch (const ccCalib2VertexFeatureDefs::Errors& e) {
      raise(k.notFound, e);
    } catch (const ccMathError& e) {
      raise(k.notFound, e);
    } catch (const ccTimeout& e) {
      raise(k.timeout, e);
#ifdef CCALIB_PY_IMAGEIO
    } catch (const ccImageFileError& e) {
      raise(k.imageFile, e);
#endif
    } catch (const ccArchive::BadData& e) {
      raise(k.badData, e);
    } catch (const ccPel::UnboundWindow& e) {
      raise(k.badData, e);
    } catch (const ccException& e) {
      raise(k.error, e);
    }
  });
}

}  // namespace ccalib_py

namespace {

using namespace ccalib_py;

#ifdef CCALIB_PY_IMAGEIO
py::array_t<std::uint8_t> readImage(const std::string& path) {
  ccPelBuffer<unsigned char> image;
  {
    py::gil_scoped_release release;
    image = cfReadImage(path);
  }
  py::array_t<std::uint8_t> out(
      {static_cast<py::ssize_t>(image.height()), static_cast<py::ssize_t>(image.width())});
  auto a = out.mutable_unchecked<2>();
  for (long y = 0; y < image.height(); ++y) {
    const unsigned char* row = image.row(y);
    for (long x = 0; x < image.width(); ++x) a(y, x) = row[x];
  }
  return out;
}
#endif

}  // namespace

PYBIND11_MODULE(ccalib, m) {
  m.doc() =
      "Camera calibration on numpy images: dot-grid calibration (calibration_run_robust, "
      "calibration_run) and checkerboard vertex features (vertex_feature_extract).";
  registerExceptions(m);

  py::class_<CancelToken>(
      m, "CancelToken",
      "Cancels the calls it is given to (cancel=token) from any thread. A raised token "
      "stays raised.")
      .def(py::init<>())
      .def(
          "cancel", [](CancelToken& t) { t.flag->store(true); },
          "Makes every call using this token raise TimeoutError.")
      .def_property_readonly("cancelled", [](const CancelToken& t) { return t.flag->load(); });

#ifdef CCALIB_PY_IMAGEIO
  m.def(
      "read_image", &readImage, py::arg("path"),
      "Reads a PGM, PNG or JPEG file as a 2-D uint8 grey image (colour is converted with Rec. 601 "
      "luma). Raises ImageFileError when the file cannot be read.");
#endif

  registerDotGrid(m);
  registerVertexFeatures(m);
}
