// SPDX-License-Identifier: Apache-2.0
// Linear polymorphic transform.
#include "platform/foundation/xform_base.h"

#include "platform/foundation/archive.h"

namespace {
// Registered so that archives can re-create linear transforms held by handle.
const cc_Instantiator kLinearExemplar(typeid(cc2XformLinear), [] {
  return static_cast<ccPersistent*>(new cc2XformLinear);
});
}  // namespace

cc2XformBase::~cc2XformBase() = default;
cc2XformLinear::~cc2XformLinear() = default;

cc2XformBasePtrh cc2XformLinear::inverseBase() const {
  if (xform_.isSingular())
    throw ccMathError(L"The linear transform is singular and has no inverse");
  return std::make_shared<cc2XformLinear>(xform_.inverse());
}

cc2XformBasePtrh cc2XformLinear::clone() const {
  return std::make_shared<cc2XformLinear>(*this);
}

cc2XformBasePtrh cc2XformLinear::composedAfter(const ccXform<2>& left) const {
  return std::make_shared<cc2XformLinear>(left * xform_);
}

cc2XformBasePtrh cc2XformLinear::operator*(const cc2XformBase& other) const {
  return other.composedAfter(xform_);
}

void cc2XformLinear::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(*this))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("cc2XformLinear", version);
  ccPersistent::dispatchSerialize(ar);
  if (ar.isLoading()) mutating();
  ar || xform_;
  setVisited(ar, this, sizeof(*this));
}
