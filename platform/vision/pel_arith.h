// SPDX-License-Identifier: Apache-2.0
// Clamped pixel arithmetic of 8-bit images for background removal: the difference of an
// image and its background as a signed image, and the addition of a grey level that turns
// it back into an ordinary image centred on that level.
//
// Signed images hold values -128 .. 127 as two's complement bytes (-1 is stored as 255).
// An image that has been background-subtracted is one; an image read from a file is not.
#ifndef PLATFORM_VISION_PEL_ARITH_H
#define PLATFORM_VISION_PEL_ARITH_H

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

// Largest limit cf_PelSubClamp accepts: the signed range is -128 .. 127.
constexpr int kPelSubClampMaxLimit = 127;

// a(p) = clamp(a(p) - b(p), -limit, limit), written as a signed pixel, for every pixel p of
// the image frame where the windows of a and b overlap; pixels of a outside the overlap are
// left as they are. a and b are ordinary (unsigned) images on entry; a is a signed image
// afterwards. An unchanged pixel (a == b) becomes 0. a may be b. Throws
// ccPel::UnboundWindow when either image is unbound, ccBadArgument when the windows do not
// overlap or limit lies outside [0, kPelSubClampMaxLimit].
CCALIB_EXPORT void cf_PelSubClamp(ccPelBuffer<unsigned char>& a,
                                  const ccPelBuffer_const<unsigned char>& b, int limit);

// a(p) = clamp(a(p) + b(p), 0, 255) over the overlap of the windows, where a(p) is read as
// a signed pixel (as cf_PelSubClamp leaves it) and b(p) as an ordinary grey level; a is an
// ordinary image afterwards. Adding a constant 128 to the result of cf_PelSubClamp with
// limit 127 gives 128 + the difference, in 1 .. 255: pixels equal to their background come
// out mid grey. Throws as cf_PelSubClamp for unbound or disjoint images.
CCALIB_EXPORT void cf_PelAddClamp(ccPelBuffer<unsigned char>& a,
                                  const ccPelBuffer_const<unsigned char>& b);

#endif  // PLATFORM_VISION_PEL_ARITH_H
