// SPDX-License-Identifier: Apache-2.0
// Error classes of both calibration operations: numbers, messages, archive format and the
// factory exemplars that register every leaf class when the library loads.
//
// Archive format of every error object, from the leaf inwards: one version byte 0 for the
// leaf, one version byte 0 for the family base, then the exception's message.
#include "cal/calib/calib_defs.h"
#include "cal/calib/vertex_feature_defs.h"
#include "platform/foundation/archive.h"

// Defines the members declared by CC_CALIB_ERROR_MEMBERS for one leaf class;
// `QualifiedName` names the class in version errors.
#define CC_DEFINE_CALIB_ERROR(Scope, Name, Number, QualifiedName)        \
  Scope::Name::Name(const Name& other) : Errors(other) {}                \
  Scope::Name& Scope::Name::operator=(const Name& other) {               \
    Errors::operator=(other);                                            \
    return *this;                                                        \
  }                                                                      \
  Scope::Name::~Name() = default;                                        \
  long Scope::Name::errorNumber() const {                                \
    return Number;                                                       \
  }                                                                      \
  void Scope::Name::suicideAndRethrow() {                                \
    Name local(*this);                                                   \
    delete this;                                                         \
    throw local;                                                         \
  }                                                                      \
  void Scope::Name::dispatchSerialize(ccArchive& ar) {                   \
    if (haveVisited(ar, this, sizeof(*this))) return;                    \
    unsigned char version = 0;                                           \
    ar || version;                                                       \
    Name::serialize_(ar, version);                                       \
    setVisited(ar, this, sizeof(*this));                                 \
  }                                                                      \
  void Scope::Name::serialize_(ccArchive& ar, unsigned char version) {   \
    if (version != 0) throw ccArchive::UnknownVersion(QualifiedName, 0); \
    Errors::dispatchSerialize(ar);                                       \
  }                                                                      \
  ccPersistent* Scope::Name::make() {                                    \
    return new Name;                                                     \
  }                                                                      \
  const cc_Instantiator Scope::Name::sExemplar(typeid(Scope::Name), &Scope::Name::make);

// Defines the family base's archive part (its own version byte, then the exception).
#define CC_DEFINE_ERROR_FAMILY(Scope, QualifiedName)                                     \
  Scope::Errors::Errors(const std::wstring& message) : ccExceptionWithString(message) {} \
  Scope::Errors::~Errors() = default;                                                    \
  void Scope::Errors::dispatchSerialize(ccArchive& ar) {                                 \
    if (haveVisited(ar, this, sizeof(Errors))) return;                                   \
    unsigned char version = 0;                                                           \
    ar || version;                                                                       \
    Errors::serialize_(ar, version);                                                     \
    setVisited(ar, this, sizeof(Errors));                                                \
  }                                                                                      \
  void Scope::Errors::serialize_(ccArchive& ar, unsigned char version) {                 \
    if (version != 0) throw ccArchive::UnknownVersion(QualifiedName, 0);                 \
    ccException::dispatchSerialize(ar);                                                  \
  }

CC_DEFINE_ERROR_FAMILY(ccCalibDefs, "ccCalibDefs::Errors")
CC_DEFINE_ERROR_FAMILY(ccCalib2VertexFeatureDefs, "ccCalib2VertexFeatureDefs::Errors")

ccCalibDefs::GridAngleTooLarge::GridAngleTooLarge() : Errors() {}
ccCalibDefs::InvalidMap::InvalidMap() : Errors() {}
ccCalibDefs::MarkerNotFound::MarkerNotFound() : Errors() {}
ccCalibDefs::TooFewDotsFound::TooFewDotsFound() : Errors() {}
ccCalibDefs::BadCorrespondence::BadCorrespondence() : Errors() {}
ccCalibDefs::BadParam::BadParam(const std::wstring& message) : Errors(message) {}
ccCalib2VertexFeatureDefs::BadParam::BadParam(const std::wstring& message) : Errors(message) {}
ccCalib2VertexFeatureDefs::FailedCorrespondence::FailedCorrespondence(const std::wstring& message)
    : Errors(message) {}
ccCalib2VertexFeatureDefs::FiducialNotFound::FiducialNotFound() : Errors() {}

void ccCalibDefs::InvalidMap::message_(std::wostream& out) const {
  out << L"The map computed from the corresponding points is invalid";
}
void ccCalibDefs::TooFewDotsFound::message_(std::wostream& out) const {
  out << L"An insufficient number of Dots were found to perform the calibration";
}
void ccCalibDefs::BadCorrespondence::message_(std::wostream& out) const {
  out << L"A valid grid pitch or pair of points defining the X and Y axes could not be found in "
         L"the "
         L"detected calibration dots";
}
void ccCalib2VertexFeatureDefs::FiducialNotFound::message_(std::wostream& out) const {
  out << L"The expected fiducial target could not be located.";
}

CC_DEFINE_CALIB_ERROR(ccCalibDefs, GridAngleTooLarge, 0x10003900, "ccCalibDefs::GridAngleTooLarge")
CC_DEFINE_CALIB_ERROR(ccCalibDefs, InvalidMap, 0x10003901, "ccCalibDefs::InvalidMap")
CC_DEFINE_CALIB_ERROR(ccCalibDefs, MarkerNotFound, 0x10003902, "ccCalibDefs::MarkerNotFound")
CC_DEFINE_CALIB_ERROR(ccCalibDefs, TooFewDotsFound, 0x10003903, "ccCalibDefs::TooFewDotsFound")
CC_DEFINE_CALIB_ERROR(ccCalibDefs, BadCorrespondence, 0x10003904, "ccCalibDefs::BadCorrespondence")
CC_DEFINE_CALIB_ERROR(ccCalibDefs, BadParam, 0x10003910, "ccCalibDefs::BadParam")
CC_DEFINE_CALIB_ERROR(ccCalib2VertexFeatureDefs, BadParam, 0x10003920,
                      "ccCalib2VertexFeatureDefs::BadParam")
CC_DEFINE_CALIB_ERROR(ccCalib2VertexFeatureDefs, FailedCorrespondence, 0x10003921,
                      "ccCalib2VertexFeatureDefs::FailedCorrespondence")
CC_DEFINE_CALIB_ERROR(ccCalib2VertexFeatureDefs, FiducialNotFound, 0x10003922,
                      "ccCalib2VertexFeatureDefs::FiducialNotFound")
