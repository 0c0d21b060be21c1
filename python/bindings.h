// SPDX-License-Identifier: Apache-2.0
// Shared pieces of the Python module: image conversion, the call guard that releases the
// interpreter and arms the library's deadline, and the registration functions of the
// module's parts.
#ifndef PYTHON_BINDINGS_H
#define PYTHON_BINDINGS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/attention.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/vector.h"

namespace ccalib_py {

namespace py = pybind11;

// A cancellation flag shared between Python threads and a running call.
struct CancelToken {
  ccAttention::CancelToken flag = ccAttention::makeToken();
};

// Copies a 2-D uint8 array (any strides) into a new image at offset (0, 0). Throws
// TypeError for another dtype or a non-array, ValueError for another number of dimensions
// or an empty image.
ccPelBuffer<unsigned char> imageFromArray(const py::handle& obj);

// Checks a timeout in seconds (None: no deadline) before any work: a NaN is refused with
// ValueError; a negative or zero timeout expires at the library's first check.
std::optional<double> checkTimeout(const std::optional<double>& seconds);

// Runs `work` with the interpreter released, inside the library's attention scope for the
// given deadline and cancel token (either may be absent).
template <class Work>
void runReleased(const std::optional<double>& timeout, const CancelToken* cancel, Work&& work) {
  const ccAttention::CancelToken token = cancel != nullptr ? cancel->flag : nullptr;
  py::gil_scoped_release release;
  if (!timeout) {
    ccAttention::Scope scope(token);
    work();
    return;
  }
  // Past about 30 years the deadline is taken as none: the nanosecond clock cannot hold it.
  const double seconds = *timeout;
  const auto limit = seconds > 1e9
                         ? std::chrono::steady_clock::duration::max()
                         : std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                               std::chrono::duration<double>(seconds));
  ccAttention::Scope scope(limit, token);
  work();
}

// An (N, 2) float64 array of points.
py::array_t<double> pointsToArray(const std::vector<ccVector<2>>& points);
// Points from an (N, 2) array-like (or a single (2,) point, then `single` is set).
std::vector<ccVector<2>> pointsFromArray(const py::handle& obj, bool& single);
// An (N, 2) int64 array of labels.
py::array_t<std::int64_t> labelsToArray(const std::vector<ccPair<long>>& labels);

void registerExceptions(py::module_& m);
void registerDotGrid(py::module_& m);
void registerVertexFeatures(py::module_& m);

}  // namespace ccalib_py

#endif  // PYTHON_BINDINGS_H
