// SPDX-License-Identifier: Apache-2.0
// Parameters of the checkerboard vertex feature extraction: the plate (tile size in the
// image, physical pitch, origin), how vertex labels are anchored, and algorithm switches.
// A plain value class, persisted through operator|| rather than as a ccPersistent.
#ifndef CAL_CALIBFTR_VERTEX_FEATURE_PARAMS_H
#define CAL_CALIBFTR_VERTEX_FEATURE_PARAMS_H

#include <limits>

#include "cal/calib/vertex_feature_defs.h"
#include "ccalib_export.h"
#include "platform/foundation/vector.h"

class ccArchive;

class CCALIB_EXPORT ccCalib2VertexFeatureParams {
 public:
  // Bits of setMask(): which setters were called.
  enum SetBits : unsigned { eOriginSet = 4, eNominalTileSizeSet = 8, ePhysicalGridPitchSet = 16 };

  // Every member at its default: tile size (20, 20), pitch (1, 1), origin (0, 0), eNone,
  // no precision filter (+infinity), both checkers needed, uniform lighting, eStandard.
  ccCalib2VertexFeatureParams();
  // The given pitch and label mode, the rest default. No argument is checked.
  ccCalib2VertexFeatureParams(const ccVector<2>& physicalGridPitch,
                              ccCalib2VertexFeatureDefs::CorrespondMethod labelMode);
  // The given pitch (first), tile size (second) and label mode, the rest default. No
  // argument is checked: a tile size below 10 is stored as given.
  ccCalib2VertexFeatureParams(const ccVector<2>& physicalGridPitch,
                              const ccVector<2>& nominalTileSize,
                              ccCalib2VertexFeatureDefs::CorrespondMethod labelMode);

  // Expected size of one checker tile in the image, pixels.
  const ccVector<2>& nominalTileSize() const { return nominalTileSize_; }
  // Size of one tile on the plate in the caller's units; plate position = label * pitch.
  const ccVector<2>& physicalGridPitch() const { return physicalGridPitch_; }
  // For eUseOrigin: client position of the plate point with label (0, 0).
  const ccVector<2>& origin() const { return origin_; }
  ccCalib2VertexFeatureDefs::CorrespondMethod labelMode() const { return labelMode_; }
  // Largest accepted corner fit residual; +infinity switches the filter off.
  double precisionThreshold() const { return precisionThreshold_; }
  // Whether a corner must be measured from both checkers that meet at it.
  bool needBothCheckers() const { return needBothCheckers_; }
  // Whether the image is evenly lit (chooses the tile detection variant).
  bool uniformLighting() const { return uniformLighting_; }
  ccCalib2VertexFeatureDefs::Algorithm algorithm() const { return algorithm_; }
  // Setter bits (SetBits); not archived, read by nothing in the library.
  unsigned setMask() const { return setMask_; }

  // The setters below throw ccCalib2VertexFeatureDefs::BadParam and leave the object
  // unchanged when the value is refused.
  void nominalTileSize(const ccVector<2>& size);                     // both >= 10 (NaN refused)
  void physicalGridPitch(const ccVector<2>& pitch);                  // both > 0 (NaN refused)
  void origin(const ccVector<2>& origin);                            // any value
  void labelMode(ccCalib2VertexFeatureDefs::CorrespondMethod mode);  // 0 .. 2
  void precisionThreshold(double threshold);                         // >= 0 (NaN refused)
  void needBothCheckers(bool need) { needBothCheckers_ = need; }
  void uniformLighting(bool uniform) { uniformLighting_ = uniform; }
  void algorithm(ccCalib2VertexFeatureDefs::Algorithm algorithm);  // 0 or 1

 private:
  friend CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccCalib2VertexFeatureParams& p);

  ccVector<2> nominalTileSize_{20.0, 20.0};
  ccVector<2> physicalGridPitch_{1.0, 1.0};
  ccVector<2> origin_;
  ccCalib2VertexFeatureDefs::CorrespondMethod labelMode_ = ccCalib2VertexFeatureDefs::eNone;
  unsigned setMask_ = 0;
  double precisionThreshold_ = std::numeric_limits<double>::infinity();
  bool needBothCheckers_ = true;
  bool uniformLighting_ = true;
  ccCalib2VertexFeatureDefs::Algorithm algorithm_ = ccCalib2VertexFeatureDefs::eStandard;
};

// Writes (storing) or reads (loading) the parameters: version byte (written as 2), tile
// size, pitch, origin, label mode (32 bits); from version 1 precision threshold and the two
// switches; from version 2 the algorithm (32 bits). Items an older stream lacks keep their
// values; values are stored as read, without the setters' checks. Version 3 and above throw
// ccArchive::UnknownVersion before anything is changed.
CCALIB_EXPORT ccArchive& operator||(ccArchive& ar, ccCalib2VertexFeatureParams& p);

#endif  // CAL_CALIBFTR_VERTEX_FEATURE_PARAMS_H
