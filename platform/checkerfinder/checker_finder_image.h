// SPDX-License-Identifier: Apache-2.0
// C++ side of the checker finder's C interface: a C view of a pel buffer, and the way an
// exception thrown inside the finder (a cancellation, an allocation failure) comes back to
// a C++ caller.
#ifndef PLATFORM_CHECKERFINDER_CHECKER_FINDER_IMAGE_H
#define PLATFORM_CHECKERFINDER_CHECKER_FINDER_IMAGE_H

#include <exception>

#include "ccalib_export.h"
#include "platform/checkerfinder/checker_finder.h"
#include "platform/foundation/pel_buffer.h"

// A view of the window of `image` in its image frame (data null when unbound). The view
// shares the pixels: it is valid while the buffer's storage lives.
inline cimg_image8Const cc_Image(const ccPelBuffer_const<unsigned char>& image) {
  cimg_image8Const view{};
  view.data = image.isBound() ? image.row(0) : nullptr;
  view.stride = image.rowUpdate();
  view.width = static_cast<int32_t>(image.width());
  view.height = static_cast<int32_t>(image.height());
  view.offsetX = static_cast<int32_t>(image.offset().x());
  view.offsetY = static_cast<int32_t>(image.offset().y());
  return view;
}

// The exception that made the last call of the calling thread return
// CCLFT_STATUS_INTERRUPTED or CCLFT_STATUS_NO_MEMORY, and forgets it; null when there is
// none. A C++ caller rethrows it (std::rethrow_exception) so that, for example, a ccTimeout
// of ccAttention passes through the C interface unchanged.
CCALIB_EXPORT std::exception_ptr cclftTakePendingException();

// Number of result sets made and not yet freed, over all threads (leak checks in tests).
CCALIB_EXPORT long cclftLiveResultSets();

#endif  // PLATFORM_CHECKERFINDER_CHECKER_FINDER_IMAGE_H
