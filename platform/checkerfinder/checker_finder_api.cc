// SPDX-License-Identifier: Apache-2.0
// The checker finder's C interface: records, statuses, and the fence that keeps C++
// exceptions from crossing into C callers (they are parked per thread instead).
#include <atomic>
#include <cmath>
#include <exception>
#include <new>
#include <vector>

#include "platform/checkerfinder/checker_finder.h"
#include "platform/checkerfinder/checker_finder_image.h"
#include "platform/checkerfinder/finder_run.h"

struct cstd_vector_cclft_crspPair {
  std::vector<cclft_crspPair> items;
};

struct cclft_calibrationCheckerFinderResultSet {
  cstd_vector_cclft_crspPair pairs;
};

namespace {

// Defaults of the finder's own fields (see checker_finder.h).
constexpr int32_t kDefaultMaxCandidates = 4000;
constexpr double kDefaultMinContrast = 8.0;
constexpr int32_t kDefaultMinVertices = 6;
constexpr int32_t kDefaultMaxSeeds = 16;
constexpr double kDefaultWeightSigmaFloor = 0.02;

thread_local std::exception_ptr tPendingException;
std::atomic<long> gLiveResultSets{0};

bool validParams(const cclft_calibrationCheckerFinderParams& p) {
  if (!(p.precisionThreshold >= 0.0)) return false;
  if (!std::isfinite(p.startPoint.x) || !std::isfinite(p.startPoint.y)) return false;
  if (p.labelMode != CCLFT_LABEL_FIDUCIAL && p.labelMode != CCLFT_LABEL_START_POINT) return false;
  if (p.labelMode == CCLFT_LABEL_FIDUCIAL && p.useFiducial == 0) return false;
  if (p.maxCandidates < 16 || p.maxCandidates > 1000000) return false;
  if (!(p.minContrast >= 1.0 && p.minContrast <= 255.0)) return false;
  if (p.minVertices < 4) return false;
  if (p.maxSeeds < 1 || p.maxSeeds > 1000) return false;
  if (!(p.weightSigmaFloor > 0.0) || !std::isfinite(p.weightSigmaFloor)) return false;
  return true;
}

}  // namespace

std::exception_ptr cclftTakePendingException() {
  std::exception_ptr e = tPendingException;
  tPendingException = nullptr;
  return e;
}

long cclftLiveResultSets() {
  return gLiveResultSets.load();
}

extern "C" {

cclft_status cclft_calibrationCheckerFinderParams_construct(
    cclft_calibrationCheckerFinderParams* params) {
  if (params == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  *params = cclft_calibrationCheckerFinderParams{};
  params->useFiducial = 0;
  params->precisionThreshold = INFINITY;
  params->startPoint = cmath_vect{0.0, 0.0};
  params->labelMode = CCLFT_LABEL_START_POINT;
  params->maxCandidates = kDefaultMaxCandidates;
  params->minContrast = kDefaultMinContrast;
  params->minVertices = kDefaultMinVertices;
  params->maxSeeds = kDefaultMaxSeeds;
  params->weightSigmaFloor = kDefaultWeightSigmaFloor;
  return CCLFT_STATUS_OK;
}

cclft_status cclft_calibrationCheckerFinderParams_destruct(
    cclft_calibrationCheckerFinderParams* params) {
  return params == nullptr ? CCLFT_STATUS_BAD_PARAMS : CCLFT_STATUS_OK;
}

cclft_status cclft_calibrationCheckerFinderResultSet_construct(
    cclft_calibrationCheckerFinderResultSet** resultSet) {
  if (resultSet == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  *resultSet = new (std::nothrow) cclft_calibrationCheckerFinderResultSet;
  if (*resultSet == nullptr) return CCLFT_STATUS_NO_MEMORY;
  ++gLiveResultSets;
  return CCLFT_STATUS_OK;
}

cclft_status cclft_calibrationCheckerFinderResultSet_destruct(
    cclft_calibrationCheckerFinderResultSet* resultSet) {
  if (resultSet != nullptr) {
    delete resultSet;
    --gLiveResultSets;
  }
  return CCLFT_STATUS_OK;
}

cclft_status cclft_calibrationCheckerFinderResultSet_getPairs(
    const cclft_calibrationCheckerFinderResultSet* resultSet,
    const cstd_vector_cclft_crspPair** pairs) {
  if (resultSet == nullptr || pairs == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  *pairs = &resultSet->pairs;
  return CCLFT_STATUS_OK;
}

cclft_status cstd_vector_cclft_crspPair_getSize(const cstd_vector_cclft_crspPair* pairs,
                                                size_t* size) {
  if (pairs == nullptr || size == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  *size = pairs->items.size();
  return CCLFT_STATUS_OK;
}

cclft_status cstd_vector_cclft_crspPair_getBeginConst(const cstd_vector_cclft_crspPair* pairs,
                                                      const cclft_crspPair** begin) {
  if (pairs == nullptr || begin == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  *begin = pairs->items.empty() ? nullptr : pairs->items.data();
  return CCLFT_STATUS_OK;
}

cclft_status cclft_calibrationCheckerFinder_run(
    const cimg_image8Const* image, const cclft_calibrationCheckerFinderParams* params,
    cclft_calibrationCheckerFinderResultSet* resultSet) {
  using namespace cclft_internal;
  tPendingException = nullptr;
  if (image == nullptr || params == nullptr || resultSet == nullptr) return CCLFT_STATUS_BAD_PARAMS;
  resultSet->pairs.items.clear();
  if (image->data == nullptr) return CCLFT_STATUS_UNBOUND_IMAGE;
  if (image->width < 0 || image->height < 0 || image->stride < image->width)
    return CCLFT_STATUS_BAD_IMAGE;
  if (!validParams(*params)) return CCLFT_STATUS_BAD_PARAMS;

  GrayView view{image->data, image->stride, image->width, image->height};
  FinderSettings settings;
  settings.useFiducial = params->useFiducial != 0;
  settings.labelFromStartPoint = params->labelMode == CCLFT_LABEL_START_POINT;
  settings.precisionThreshold = params->precisionThreshold;
  settings.startPoint =
      Vec(params->startPoint.x - image->offsetX, params->startPoint.y - image->offsetY);
  settings.maxCandidates = params->maxCandidates;
  settings.minContrast = params->minContrast;
  settings.minVertices = params->minVertices;
  settings.maxSeeds = params->maxSeeds;
  settings.weightSigmaFloor = params->weightSigmaFloor;

  std::vector<FoundVertex> found;
  Outcome outcome;
  try {
    outcome = cfRunCheckerFinder(view, settings, found);
  } catch (const std::bad_alloc&) {
    tPendingException = std::current_exception();
    return CCLFT_STATUS_NO_MEMORY;
  } catch (...) {
    tPendingException = std::current_exception();
    return CCLFT_STATUS_INTERRUPTED;
  }
  if (outcome == Outcome::eNoBoard) return CCLFT_STATUS_NO_BOARD;
  if (outcome == Outcome::eNoFiducial) return CCLFT_STATUS_FIDUCIAL_NOT_FOUND;

  try {
    std::vector<cclft_crspPair>& out = resultSet->pairs.items;
    out.reserve(found.size());
    const double floor2 = settings.weightSigmaFloor * settings.weightSigmaFloor;
    for (const FoundVertex& v : found) {
      cclft_crspPair p{};
      p.imageX = v.pos.x() + image->offsetX;
      p.imageY = v.pos.y() + image->offsetY;
      p.gridX = v.labelX;
      p.gridY = v.labelY;
      p.sigma = v.sigma;
      p.weight = floor2 / (floor2 + v.sigma * v.sigma);
      p.labelX = v.labelX;
      p.labelY = v.labelY;
      p.covXX = v.covXX;
      p.covXY = v.covXY;
      p.covYY = v.covYY;
      p.contrast = v.contrast;
      p.stepX = v.spacing;
      out.push_back(p);
    }
  } catch (const std::bad_alloc&) {
    resultSet->pairs.items.clear();
    tPendingException = std::current_exception();
    return CCLFT_STATUS_NO_MEMORY;
  }
  return CCLFT_STATUS_OK;
}

}  // extern "C"
