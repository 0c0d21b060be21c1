// SPDX-License-Identifier: Apache-2.0
// Enumerations and error classes of the checkerboard vertex feature extraction
// (cfCalib2VertexFeatureExtract, ccCalib2VertexFeatureParams).
#ifndef CAL_CALIB_VERTEX_FEATURE_DEFS_H
#define CAL_CALIB_VERTEX_FEATURE_DEFS_H

#include <ostream>
#include <string>

#include "cal/calib/calib_defs.h"

struct CCALIB_EXPORT ccCalib2VertexFeatureDefs {
  enum Algorithm : int { eStandard = 0, eExhaustive = 1 };
  // How vertex labels are anchored: at the vertex nearest the image centre, nearest a
  // caller-given origin, or at the plate's fiducial mark.
  enum CorrespondMethod : int { eNone = 0, eUseOrigin = 1, eUseFiducial = 2 };

  // Base of every vertex feature extraction error.
  class CCALIB_EXPORT Errors : public ccExceptionWithString {
    CC_CALIB_ERROR_FAMILY_MEMBERS
  };

  class CCALIB_EXPORT BadParam : public Errors {
   public:
    explicit BadParam(const std::wstring& message = std::wstring());
    CC_CALIB_ERROR_MEMBERS(BadParam)
  };

  class CCALIB_EXPORT FailedCorrespondence : public Errors {
   public:
    explicit FailedCorrespondence(const std::wstring& message = std::wstring());
    CC_CALIB_ERROR_MEMBERS(FailedCorrespondence)
  };

  class CCALIB_EXPORT FiducialNotFound : public Errors {
   public:
    FiducialNotFound();

   protected:
    void message_(std::wostream& out) const override;
    CC_CALIB_ERROR_MEMBERS(FiducialNotFound)
  };
};

#endif  // CAL_CALIB_VERTEX_FEATURE_DEFS_H
