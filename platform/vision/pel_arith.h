// Pixel-wise addition and subtraction of 8-bit images that saturate at the ends of the
// pixel range instead of wrapping, used to remove and re-centre an image background.
#ifndef PLATFORM_VISION_PEL_ARITH_H
#define PLATFORM_VISION_PEL_ARITH_H

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"

// a(p) = min(a(p) + b(p), 255) for every pixel p of the image frame where the windows of a
// and b overlap; pixels of a outside the overlap are left as they are. a may be
// b. Throws ccPel::UnboundWindow when either image is unbound, ccBadArgument when the
// windows do not overlap.
CCALIB_EXPORT void cf_PelAddClamp(ccPelBuffer<unsigned char>& a,
                                  const ccPelBuffer_const<unsigned char>& b);

// a(p) = clamp(a(p) - b(p) + offset, 0, 255) over the overlap of the windows, as above.
// offset is in grey levels and may be negative; with offset 127 an unchanged pixel
// (a == b) becomes 127 and the signed difference is kept around mid grey. Throws as
// cf_PelAddClamp.
CCALIB_EXPORT void cf_PelSubClamp(ccPelBuffer<unsigned char>& a,
                                  const ccPelBuffer_const<unsigned char>& b, int offset = 0);

#endif  // PLATFORM_VISION_PEL_ARITH_H
