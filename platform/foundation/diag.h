// SPDX-License-Identifier: Apache-2.0
// Diagnostics: a caller-owned container into which an operation records images, texts and
// overlay graphics of its inputs, intermediate stages and results, so that a person can see
// afterwards what happened. Recording is optional and selected by category flags; nothing
// is rendered or written here.
//
// Text is narrow UTF-8. A ccDiagObject is used by one thread at a time.
#ifndef PLATFORM_FOUNDATION_DIAG_H
#define PLATFORM_FOUNDATION_DIAG_H

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/graphics.h"
#include "platform/foundation/pel_buffer.h"

struct ccDiagDefs {
  // Categories of records, as bits of an operation's diagnostics flags.
  enum What : unsigned long {
    eRecordInput = 0x10000,         // the inputs: source image, parameters
    eRecordResult = 0x20000,        // the results, drawn over the input
    eRecordIntermediate = 0x40000,  // intermediate stages (neighbour links and the like)
    eRecordAll = eRecordInput | eRecordResult | eRecordIntermediate,
  };
  // The coordinate system that the positions of a recorded graphic list are in.
  enum CoordinateSystem {
    eScreenCoords = 0,  // pixels of the viewer's window
    eClientCoords =
        1,             // client coordinates of the record's image (its client-from-image transform)
    eImageCoords = 2,  // pixel coordinates of the record's image (pixel centres at integers)
  };
};

// One entry of a diagnostics object: a label, an annotation, an optional image, an
// optional text, and any number of graphic lists (sketches) to lay over the image.
class CCALIB_EXPORT ccDiagRecord {
 public:
  struct Sketch {
    ccGraphicList graphics;
    int coordinateSystem;  // a ccDiagDefs::CoordinateSystem
    std::string label;
  };

  // A record at the given nesting level (see ccDiagObject::level()).
  explicit ccDiagRecord(int level = 0) : level_(level) {}

  int level() const { return level_; }

  const std::string& label() const { return label_; }
  void label(const std::string& text) { label_ = text; }

  // Sets the record's annotation (a caption), replacing any earlier one.
  void recordAnnotation(const std::string& text) { annotation_ = text; }
  const std::string& annotation() const { return annotation_; }

  // Sets the record's image, replacing any earlier one. With `copy` false the record shares
  // the caller's pixels (it keeps them alive, and later changes to them show in the record);
  // with `copy` true it keeps its own copy of the window's pixels. Either way the record
  // keeps the image's window, offset and client transform. An unbound image is recorded as
  // unbound (hasImage() false).
  void image(const ccPelBuffer_const<unsigned char>& image, bool copy);
  bool hasImage() const { return image_.isBound(); }
  const ccPelBuffer_const<unsigned char>& image() const { return image_; }
  // True when the record holds its own copy of the pixels.
  bool imageIsCopy() const { return imageIsCopy_; }

  // Sets the record's text, replacing any earlier one.
  void text(const std::string& content) { text_ = content; }
  const std::string& text() const { return text_; }

  // Appends a graphic list (copied) whose positions are in `coordinateSystem`, a
  // ccDiagDefs::CoordinateSystem; throws ccBadArgument for any other value.
  void sketch(const ccGraphicList& graphics, int coordinateSystem, const std::string& label);
  const std::vector<Sketch>& sketches() const { return sketches_; }

 private:
  int level_;
  std::string label_;
  std::string annotation_;
  ccPelBuffer_const<unsigned char> image_;
  bool imageIsCopy_ = false;
  std::string text_;
  std::vector<Sketch> sketches_;
};

// The caller's diagnostics container: an ordered list of records, a current nesting level
// that new records take (raised by ccDiagIncrementLevel), and a switch that turns
// recording off without changing the flags passed to operations.
class CCALIB_EXPORT ccDiagObject {
 public:
  ccDiagObject() = default;
  ccDiagObject(const ccDiagObject&) = delete;  // level scopes refer to it
  ccDiagObject& operator=(const ccDiagObject&) = delete;

  // True when recording is enabled and `flags` ask for the category `what`
  // (flags & what != 0). Operations call it before they build what they would record.
  bool shouldRecord(unsigned long flags, unsigned long what) const {
    return enabled_ && (flags & what) != 0;
  }
  bool isEnabled() const { return enabled_; }
  void enable(bool on) { enabled_ = on; }

  // Appends an empty record at the current level and returns it. The reference stays valid
  // while the object lives and is not cleared, also across later additions.
  ccDiagRecord& addRecord();

  std::size_t size() const { return records_.size(); }
  bool empty() const { return records_.empty(); }
  const std::deque<ccDiagRecord>& records() const { return records_; }
  // The i-th record; throws ccBadArgument when i >= size().
  const ccDiagRecord& record(std::size_t i) const;
  // The most recently added record; throws ccBadArgument when there is none.
  ccDiagRecord& lastRecord();
  // Removes every record (the level stays).
  void clear() { records_.clear(); }

  // Current nesting level: 0, plus one for each live ccDiagIncrementLevel.
  int level() const { return level_; }

 private:
  friend class ccDiagIncrementLevel;
  std::deque<ccDiagRecord> records_;
  int level_ = 0;
  bool enabled_ = true;
};

// Raises the level of a diagnostics object while it lives, so that the records added in
// that time nest under the ones before. Made on a null pointer it does nothing.
class CCALIB_EXPORT ccDiagIncrementLevel {
 public:
  explicit ccDiagIncrementLevel(ccDiagObject& diag) : diag_(&diag) { ++diag_->level_; }
  explicit ccDiagIncrementLevel(ccDiagObject* diag) : diag_(diag) {
    if (diag_) ++diag_->level_;
  }
  ~ccDiagIncrementLevel() {
    if (diag_) --diag_->level_;
  }
  ccDiagIncrementLevel(const ccDiagIncrementLevel&) = delete;
  ccDiagIncrementLevel& operator=(const ccDiagIncrementLevel&) = delete;

 private:
  ccDiagObject* diag_;  // not owned
};

// Each appends one record at the current level and returns it; they record whatever they
// are given (the caller checks shouldRecord first). The pointer forms do nothing and return
// null for a null object.
//
// An image, labelled; `copy` as for ccDiagRecord::image.
CCALIB_EXPORT ccDiagRecord& cf_AddImage(ccDiagObject& diag,
                                        const ccPelBuffer_const<unsigned char>& image,
                                        const std::string& label, bool copy);
CCALIB_EXPORT ccDiagRecord* cf_AddImage(ccDiagObject* diag,
                                        const ccPelBuffer_const<unsigned char>& image,
                                        const std::string& label, bool copy);
// A text, labelled.
CCALIB_EXPORT ccDiagRecord& cf_AddText(ccDiagObject& diag, const std::string& text,
                                       const std::string& label);
CCALIB_EXPORT ccDiagRecord* cf_AddText(ccDiagObject* diag, const std::string& text,
                                       const std::string& label);
// A graphic list (copied) in the given ccDiagDefs::CoordinateSystem; the record and its one
// sketch carry the label. Throws ccBadArgument for an unknown coordinate system.
CCALIB_EXPORT ccDiagRecord& cf_AddGraphics(ccDiagObject& diag, const ccGraphicList& graphics,
                                           const std::string& label, int coordinateSystem);
CCALIB_EXPORT ccDiagRecord* cf_AddGraphics(ccDiagObject* diag, const ccGraphicList& graphics,
                                           const std::string& label, int coordinateSystem);

#endif  // PLATFORM_FOUNDATION_DIAG_H
