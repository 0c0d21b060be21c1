// SPDX-License-Identifier: Apache-2.0
// Checkerboard vertex feature parameters: setters' checks and the archive operator.
#include "cal/calibftr/vertex_feature_params.h"

#include <type_traits>

#include "platform/foundation/archive.h"

namespace {
constexpr unsigned char kParamsVersion = 2;
// Smallest accepted nominal tile size, pixels per axis.
constexpr double kMinTileSize = 10.0;
// Where an unknown params version is reported; a fixed place callers may match on.
constexpr const char* kUnknownVersionWhere = "cal/calibftr";
constexpr long kUnknownVersionLine = 139;

using Defs = ccCalib2VertexFeatureDefs;
}  // namespace

ccCalib2VertexFeatureParams::ccCalib2VertexFeatureParams() = default;

ccCalib2VertexFeatureParams::ccCalib2VertexFeatureParams(const ccVector<2>& physicalGridPitch,
                                                         Defs::CorrespondMethod labelMode)
    : physicalGridPitch_(physicalGridPitch), labelMode_(labelMode) {}

ccCalib2VertexFeatureParams::ccCalib2VertexFeatureParams(const ccVector<2>& physicalGridPitch,
                                                         const ccVector<2>& nominalTileSize,
                                                         Defs::CorrespondMethod labelMode)
    : nominalTileSize_(nominalTileSize),
      physicalGridPitch_(physicalGridPitch),
      labelMode_(labelMode) {}

void ccCalib2VertexFeatureParams::nominalTileSize(const ccVector<2>& size) {
  // Written so that a NaN fails the test.
  if (!(size.x() >= kMinTileSize && size.y() >= kMinTileSize))
    throw Defs::BadParam(L"Supplied nominal tile dimensions are too small.");
  nominalTileSize_ = size;
  setMask_ |= eNominalTileSizeSet;
}

void ccCalib2VertexFeatureParams::physicalGridPitch(const ccVector<2>& pitch) {
  if (!(pitch.x() > 0.0 && pitch.y() > 0.0))
    throw Defs::BadParam(L"An invalid grid pitch value was specified.");
  physicalGridPitch_ = pitch;
  setMask_ |= ePhysicalGridPitchSet;
}

void ccCalib2VertexFeatureParams::origin(const ccVector<2>& origin) {
  origin_ = origin;
  setMask_ |= eOriginSet;
}

void ccCalib2VertexFeatureParams::labelMode(Defs::CorrespondMethod mode) {
  const long m = static_cast<long>(mode);
  if (m < Defs::eNone || m > Defs::eUseFiducial) throw Defs::BadParam(L"Invalid mode specified.");
  labelMode_ = mode;
}

void ccCalib2VertexFeatureParams::precisionThreshold(double threshold) {
  if (!(threshold >= 0.0)) throw Defs::BadParam(L"precisionThreshold must be >= 0.0");
  precisionThreshold_ = threshold;
}

void ccCalib2VertexFeatureParams::algorithm(Defs::Algorithm algorithm) {
  const long a = static_cast<long>(algorithm);
  if (a != Defs::eStandard && a != Defs::eExhaustive) throw Defs::BadParam(L"invalid algorithm");
  algorithm_ = algorithm;
}

ccArchive& operator||(ccArchive& ar, ccCalib2VertexFeatureParams& p) {
  unsigned char version = kParamsVersion;
  ar || version;
  if (version > kParamsVersion)
    throw ccArchive::UnknownVersion(kUnknownVersionWhere, kUnknownVersionLine);

  // Enumerations travel as 32-bit unsigned words and are stored as read (an archive may
  // carry values outside the enumerations; the extraction copes with them).
  auto enumWord = [&ar](auto& value) {
    unsigned long word = static_cast<unsigned long>(static_cast<unsigned int>(value));
    ar || word;
    if (ar.isLoading())
      value = static_cast<std::remove_reference_t<decltype(value)>>(static_cast<int>(word));
  };

  // Loading goes into a copy that replaces the object only when the whole record was read,
  // so a truncated stream leaves the caller's parameters as they were.
  ccCalib2VertexFeatureParams loaded = p;
  ccCalib2VertexFeatureParams& q = ar.isLoading() ? loaded : p;
  ar || q.nominalTileSize_;
  ar || q.physicalGridPitch_;
  ar || q.origin_;
  enumWord(q.labelMode_);
  if (version >= 1) {
    ar || q.precisionThreshold_;
    ar || q.needBothCheckers_;
    ar || q.uniformLighting_;
  }
  if (version >= 2) enumWord(q.algorithm_);
  if (ar.isLoading()) p = loaded;
  return ar;
}
