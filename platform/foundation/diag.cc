// SPDX-License-Identifier: Apache-2.0
// Diagnostics records and the functions that append them.
#include "platform/foundation/diag.h"

#include "platform/foundation/pel_ops.h"

namespace {

void requireCoordinateSystem(int coordinateSystem) {
  if (coordinateSystem < ccDiagDefs::eScreenCoords || coordinateSystem > ccDiagDefs::eImageCoords) {
    throw ccBadArgument(L"Unknown diagnostics coordinate system");
  }
}

}  // namespace

void ccDiagRecord::image(const ccPelBuffer_const<unsigned char>& image, bool copy) {
  if (copy && image.isBound()) {
    image_ = cfPelCopy(image);
    imageIsCopy_ = true;
  } else {
    image_ = image;
    imageIsCopy_ = false;
  }
}

void ccDiagRecord::sketch(const ccGraphicList& graphics, int coordinateSystem,
                          const std::string& label) {
  requireCoordinateSystem(coordinateSystem);
  sketches_.push_back(Sketch{graphics, coordinateSystem, label});
}

ccDiagRecord& ccDiagObject::addRecord() {
  records_.emplace_back(level_);
  return records_.back();
}

const ccDiagRecord& ccDiagObject::record(std::size_t i) const {
  if (i >= records_.size()) throw ccBadArgument(L"Diagnostics record index out of range");
  return records_[i];
}

ccDiagRecord& ccDiagObject::lastRecord() {
  if (records_.empty()) throw ccBadArgument(L"The diagnostics object holds no record");
  return records_.back();
}

ccDiagRecord& cf_AddImage(ccDiagObject& diag, const ccPelBuffer_const<unsigned char>& image,
                          const std::string& label, bool copy) {
  ccDiagRecord record(diag.level());
  record.label(label);
  record.image(image, copy);
  ccDiagRecord& added = diag.addRecord();
  added = std::move(record);
  return added;
}

ccDiagRecord* cf_AddImage(ccDiagObject* diag, const ccPelBuffer_const<unsigned char>& image,
                          const std::string& label, bool copy) {
  return diag ? &cf_AddImage(*diag, image, label, copy) : nullptr;
}

ccDiagRecord& cf_AddText(ccDiagObject& diag, const std::string& text, const std::string& label) {
  ccDiagRecord& added = diag.addRecord();
  added.label(label);
  added.text(text);
  return added;
}

ccDiagRecord* cf_AddText(ccDiagObject* diag, const std::string& text, const std::string& label) {
  return diag ? &cf_AddText(*diag, text, label) : nullptr;
}

ccDiagRecord& cf_AddGraphics(ccDiagObject& diag, const ccGraphicList& graphics,
                             const std::string& label, int coordinateSystem) {
  ccDiagRecord record(diag.level());
  record.label(label);
  record.sketch(graphics, coordinateSystem, label);
  ccDiagRecord& added = diag.addRecord();
  added = std::move(record);
  return added;
}

ccDiagRecord* cf_AddGraphics(ccDiagObject* diag, const ccGraphicList& graphics,
                             const std::string& label, int coordinateSystem) {
  return diag ? &cf_AddGraphics(*diag, graphics, label, coordinateSystem) : nullptr;
}
