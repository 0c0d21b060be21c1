// SPDX-License-Identifier: Apache-2.0
/* Compiled as C: the finder's header must be plain C, and a C caller can run the finder. */
#include <stddef.h>

#include "platform/checkerfinder/checker_finder.h"

_Static_assert(offsetof(cclft_crspPair, imageY) == 8, "pair layout");
_Static_assert(offsetof(cclft_calibrationCheckerFinderParams, startPoint) + sizeof(double) == 24,
               "start point y at 24");

cclft_status cclftCheckFromC(const unsigned char* pixels, int width, int height);

cclft_status cclftCheckFromC(const unsigned char* pixels, int width, int height) {
  cclft_calibrationCheckerFinderParams params;
  cclft_calibrationCheckerFinderResultSet* results = NULL;
  cimg_image8Const image;
  cclft_status status = cclft_calibrationCheckerFinderParams_construct(&params);
  if (status != CCLFT_STATUS_OK) return status;
  status = cclft_calibrationCheckerFinderResultSet_construct(&results);
  if (status != CCLFT_STATUS_OK) return status;
  image.data = pixels;
  image.stride = width;
  image.width = width;
  image.height = height;
  image.offsetX = 0;
  image.offsetY = 0;
  params.startPoint.x = 0.5 * width;
  params.startPoint.y = 0.5 * height;
  status = cclft_calibrationCheckerFinder_run(&image, &params, results);
  cclft_calibrationCheckerFinderResultSet_destruct(results);
  cclft_calibrationCheckerFinderParams_destruct(&params);
  return status;
}
