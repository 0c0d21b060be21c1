// SPDX-License-Identifier: Apache-2.0
// Grey-scale erosion and dilation with small structuring elements: a chain of 3 x 3
// elements applied one after another, as used to thicken edge maps.
//
// Cancellation: ccAttention::check() once per row of every element pass; on ccTimeout the
// destination is left as it was.
#ifndef PLATFORM_VISION_MORPHOLOGY_H
#define PLATFORM_VISION_MORPHOLOGY_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

struct ccGMorphDefs {
  // Shape of a 3 x 3 structuring element, centred on the pixel being computed.
  enum ElementType {
    eCross = 0,           // the pixel and its four edge neighbours
    eHorizontalLine = 1,  // the pixel and its left and right neighbours
    eSquare = 2,          // the full 3 x 3 neighbourhood
    eVerticalLine = 3,    // the pixel and its upper and lower neighbours
  };
};

// One 3 x 3 structuring element.
class CCALIB_EXPORT ccGMorph3x3Element {
 public:
  // Throws ccBadArgument for a value outside ccGMorphDefs::ElementType.
  explicit ccGMorph3x3Element(ccGMorphDefs::ElementType type);

  ccGMorphDefs::ElementType type() const { return type_; }
  // True when offset (dx, dy), each in -1..1, belongs to the element.
  bool contains(int dx, int dy) const;

 private:
  ccGMorphDefs::ElementType type_;
};

// A structuring element made of 3 x 3 elements applied in sequence (their Minkowski sum).
//
// Output window: every element has a reach of one pixel on each side, whatever its shape,
// so the result covers the source window shrunk by n pixels on every side (n = number of
// elements), in the same image frame. Only source pixels are read; no border values are
// invented. To keep the source window, pad the source by n pixels first (with 255 for an
// erosion that should not eat in from the border, 0 for a dilation).
class CCALIB_EXPORT ccGMorphElement {
 public:
  // Throws ccBadArgument for an empty list.
  explicit ccGMorphElement(const std::vector<ccGMorph3x3Element>& elements);
  explicit ccGMorphElement(const ccGMorph3x3Element& element);

  const std::vector<ccGMorph3x3Element>& elements() const { return elements_; }
  // Pixels lost on each side of the window.
  long reach() const { return static_cast<long>(elements_.size()); }

  // dst(p) = minimum of src over the element placed at p. An unbound dst gets new pixels over
  // the shrunk window with src's client transform; a bound dst must have the shrunk size and
  // keeps its own offset and transform. dst may share pixels with src. Throws
  // ccPel::UnboundWindow for an unbound src, ccPel::BadWindow when src is too small to leave
  // a pixel, ccBadArgument for a bound dst of another size.
  void erode(const ccPelBuffer_const<unsigned char>& src, ccPelBuffer<unsigned char>& dst) const;
  // As erode, with the maximum.
  void dilate(const ccPelBuffer_const<unsigned char>& src, ccPelBuffer<unsigned char>& dst) const;

 private:
  std::vector<ccGMorph3x3Element> elements_;
};

#endif  // PLATFORM_VISION_MORPHOLOGY_H
