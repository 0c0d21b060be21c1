// SPDX-License-Identifier: Apache-2.0
// Enumerations and error classes of the dot-grid calibration (cfCalibrationRun,
// ccGridCalibParams, ccGridCalibResults). Every failure of the calibration is one of these
// exceptions; each carries a fixed error number and can be archived and re-created by name.
#ifndef CAL_CALIB_CALIB_DEFS_H
#define CAL_CALIB_CALIB_DEFS_H

#include <ostream>
#include <string>

#include "ccalib_export.h"
#include "platform/foundation/exception.h"

class ccArchive;

// Declares the members every leaf error class has: copy operations, the error number, the
// rethrow-and-delete operation, archiving and the factory exemplar.
#define CC_CALIB_ERROR_MEMBERS(Name)                              \
 public:                                                          \
  Name(const Name&);                                              \
  Name& operator=(const Name&);                                   \
  ~Name() override;                                               \
  long errorNumber() const override;                              \
  [[noreturn]] void suicideAndRethrow() override;                 \
                                                                  \
 protected:                                                       \
  void dispatchSerialize(ccArchive& ar) override;                 \
                                                                  \
 private:                                                         \
  void serialize_(ccArchive& ar, unsigned char version) override; \
  static ccPersistent* make();                                    \
  static const cc_Instantiator sExemplar;

// Declares the body of an error family's base class `Errors`: the error number and the
// rethrow-and-delete operation every leaf defines, and the family's archive part.
#define CC_CALIB_ERROR_FAMILY_MEMBERS                                                \
 public:                                                                             \
  ~Errors() override;                                                                \
  /* Fixed number of the error class. */                                             \
  virtual long errorNumber() const = 0;                                              \
  /* For a heap-allocated error: copies it, deletes this object, throws the copy. */ \
  virtual void suicideAndRethrow() = 0;                                              \
                                                                                     \
 protected:                                                                          \
  explicit Errors(const std::wstring& message = std::wstring());                     \
  Errors(const Errors&) = default;                                                   \
  Errors& operator=(const Errors&) = default;                                        \
  void dispatchSerialize(ccArchive& ar) override;                                    \
                                                                                     \
 private:                                                                            \
  virtual void serialize_(ccArchive& ar, unsigned char version);

struct CCALIB_EXPORT ccCalibDefs {
  // Transform fitted by cfCalibrationRun.
  enum CalibType : int { eGridLinear = 1, eGridPolynomialOrder3 = 3, eGridPolynomialOrder5 = 5 };
  // Dot polarity assumed by the segmentation: inverted sets the blob tool's invert flag
  // (dark dots on a light ground), normal clears it (light dots on a dark ground), any
  // tries normal first and inverted when that fails.
  enum Polarity : int { ePolarityInverted = 0, ePolarityNormal = 1, ePolarityAny = 2 };

  // Base of every dot-grid calibration error.
  class CCALIB_EXPORT Errors : public ccExceptionWithString {
    CC_CALIB_ERROR_FAMILY_MEMBERS
  };

  // The neighbourhood of the grid's centre dot is not grid-like (grid rotated too far).
  class CCALIB_EXPORT GridAngleTooLarge : public Errors {
   public:
    GridAngleTooLarge();
    CC_CALIB_ERROR_MEMBERS(GridAngleTooLarge)
  };

  // The fitted transform is degenerate.
  class CCALIB_EXPORT InvalidMap : public Errors {
   public:
    InvalidMap();

   protected:
    void message_(std::wostream& out) const override;
    CC_CALIB_ERROR_MEMBERS(InvalidMap)
  };

  // The results hold no marker.
  class CCALIB_EXPORT MarkerNotFound : public Errors {
   public:
    MarkerNotFound();
    CC_CALIB_ERROR_MEMBERS(MarkerNotFound)
  };

  class CCALIB_EXPORT TooFewDotsFound : public Errors {
   public:
    TooFewDotsFound();

   protected:
    void message_(std::wostream& out) const override;
    CC_CALIB_ERROR_MEMBERS(TooFewDotsFound)
  };

  class CCALIB_EXPORT BadCorrespondence : public Errors {
   public:
    BadCorrespondence();

   protected:
    void message_(std::wostream& out) const override;
    CC_CALIB_ERROR_MEMBERS(BadCorrespondence)
  };

  class CCALIB_EXPORT BadParam : public Errors {
   public:
    explicit BadParam(const std::wstring& message = std::wstring());
    CC_CALIB_ERROR_MEMBERS(BadParam)
  };
};

#endif  // CAL_CALIB_CALIB_DEFS_H
