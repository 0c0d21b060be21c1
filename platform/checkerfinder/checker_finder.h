// SPDX-License-Identifier: Apache-2.0
/* Checkerboard vertex finder behind a small C interface, so that it can be called from C and
 * from other languages as well as from the calibration module. It finds the vertices of a
 * checkerboard (the X-junctions where four squares meet) in an 8-bit image, labels them with
 * integer grid indices and pairs each with its image position.
 *
 * How it works, in named steps (each step honours the caller's cancellation check):
 *   1. Candidates: an X-junction response on a 2x2-box pyramid (a ring of 16 samples of
 *      radius 3 pixels on each level, which scores point symmetry against edges, corners
 *      and blobs), non-maximum suppression, candidates merged across levels. No squares
 *      are segmented, so no margin, board size or threshold is assumed.
 *   2. Grid growth: from a seed candidate with four neighbours in a cross and the checker
 *      colour pattern around it, the grid grows vertex by vertex through local predictions
 *      (extrapolation of the last two steps along the row or column, which follows
 *      perspective and distortion, or completion of a parallelogram from labelled
 *      neighbours). A vertex is accepted only when a candidate lies near the prediction and
 *      the light and dark squares around it alternate as the checker pattern demands for
 *      its label. Gaps of up to two missing vertices in a row or column are bridged.
 *      Several seeds are tried, nearest the start point first; the largest grid wins.
 *   3. Sub-pixel refinement: each vertex moves to the point where the image gradients
 *      around it (smoothed, less their mean, which is the lighting's own gradient) are
 *      orthogonal to their offsets from it, a least-squares fit on the pixel grid with a
 *      smooth window of up to 14 px radius. Any point-symmetric junction satisfies it at
 *      its centre, so blur and perspective do not bias it.
 *   4. Checks: a vertex whose window is not point-symmetric, that moved too far in the
 *      refinement, or that lacks a neighbour on either grid axis is dropped, never
 *      relabelled. With the fiducial, vertices beside its dark bands are dropped too.
 *   5. Labels: with the fiducial, the plate's own labels, from the two light bars in their
 *      dark bands (found through a homography fitted to the vertices near the anchor;
 *      a mirrored plate does not match); otherwise (0, 0) at the vertex nearest the start
 *      point, label x along the grid axis (at that vertex) whose image direction has the
 *      larger |x| component, growing towards image +x, and label y along the other axis,
 *      growing towards image +y.
 *
 * Time: bounded by maxCandidates and maxSeeds; an image without a board costs the
 * candidate search and a few failed seeds, less than an image with one.
 *
 * Coordinates: the image frame of cimg_image8Const, where the centre of pixel (x, y) is the
 * point (x, y) and the window's upper-left pixel is (offsetX, offsetY).
 *
 * Errors: every function returns a 32-bit status. 0 is success; a status with bit 31 set is
 * a failure, 0x80000000 + 111 * 32 + code (facility 111), with the codes below.
 *
 * Exceptions: the functions never let an exception escape into the caller. When the
 * caller's cancellation check (or an allocation) throws inside the finder, the function
 * returns CCLFT_STATUS_INTERRUPTED (or CCLFT_STATUS_NO_MEMORY) and keeps the exception for
 * the calling thread; C++ callers take it back with cclftTakePendingException() (declared
 * in checker_finder_image.h) and rethrow it, so a cancellation reaches them unchanged.
 *
 * Thread safety: calls on different records may run on different threads at once. */
#ifndef PLATFORM_CHECKERFINDER_CHECKER_FINDER_H
#define PLATFORM_CHECKERFINDER_CHECKER_FINDER_H

#include <stddef.h>
#include <stdint.h>

#include "ccalib_export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ----- Statuses ------------------------------------------------------------------------ */

typedef uint32_t cclft_status;

#define CCLFT_FACILITY 111u
#define CCLFT_STATUS_OK 0u
#define CCLFT_FAILURE(code) (0x80000000u + CCLFT_FACILITY * 32u + (code))
/* The image has no pixels (null data pointer). */
#define CCLFT_STATUS_UNBOUND_IMAGE CCLFT_FAILURE(1u)
/* The image view cannot be used (negative size or a stride shorter than a row). */
#define CCLFT_STATUS_BAD_IMAGE CCLFT_FAILURE(2u)
/* The fiducial was asked for and not found near the grid. */
#define CCLFT_STATUS_FIDUCIAL_NOT_FOUND CCLFT_FAILURE(3u)
/* No board: no grid of at least minVertices vertices was found. */
#define CCLFT_STATUS_NO_BOARD CCLFT_FAILURE(4u)
/* A parameter field is out of range, or a null record was passed. */
#define CCLFT_STATUS_BAD_PARAMS CCLFT_FAILURE(5u)
/* Memory ran out. */
#define CCLFT_STATUS_NO_MEMORY CCLFT_FAILURE(6u)
/* The caller's cancellation check stopped the run (see Exceptions above). */
#define CCLFT_STATUS_INTERRUPTED CCLFT_FAILURE(7u)

/* ----- Values -------------------------------------------------------------------------- */

/* A point or vector of the plane. */
typedef struct cmath_vect {
  double x;
  double y;
} cmath_vect;

/* A read-only view of 8-bit pixels; the finder never writes or keeps it. Pixel (x, y) of the
 * image frame, for offsetX <= x < offsetX + width and offsetY <= y < offsetY + height, is
 * data[(y - offsetY) * stride + (x - offsetX)]. */
typedef struct cimg_image8Const {
  const unsigned char* data; /* null: an unbound image */
  ptrdiff_t stride;          /* bytes between the starts of successive rows, >= width */
  int32_t width;
  int32_t height;
  int32_t offsetX; /* image-frame position of the upper-left pixel */
  int32_t offsetY;
} cimg_image8Const;

/* How labels are anchored (field labelMode). */
#define CCLFT_LABEL_FIDUCIAL 1
#define CCLFT_LABEL_START_POINT 2

/* Parameters. Fill with cclft_calibrationCheckerFinderParams_construct, then change fields.
 * The first five fields sit at fixed offsets (0, 8, 16, 24, 32). */
typedef struct cclft_calibrationCheckerFinderParams {
  /* offset 0: nonzero to find the fiducial and give the plate's own labels. Default 0. */
  int32_t useFiducial;
  int32_t reserved0; /* offset 4: keep 0 */
  /* offset 8: largest accepted standard deviation of a vertex position estimate, pixels;
   * vertices above it are dropped. +infinity (the default) keeps every vertex. >= 0. */
  double precisionThreshold;
  /* offsets 16 and 24: start point, image frame. For CCLFT_LABEL_START_POINT the vertex
   * nearest it gets label (0, 0). Seeds are tried nearest it first (of several boards in
   * view, the one with most vertices is reported). Default (0, 0). */
  cmath_vect startPoint;
  /* offset 32: CCLFT_LABEL_FIDUCIAL (the plate's labels; needs useFiducial) or
   * CCLFT_LABEL_START_POINT. Default CCLFT_LABEL_START_POINT. */
  int32_t labelMode;
  /* offset 36: most junction candidates kept (strongest first), bounding the time an image
   * full of texture can take. Default 4000; 16 to 1000000. */
  int32_t maxCandidates;
  /* offset 40: least light/dark contrast of a vertex, grey levels. Default 8; 1 to 255. */
  double minContrast;
  /* offset 48: fewest vertices a grid must have to count as a board. Default 6; >= 4. */
  int32_t minVertices;
  /* offset 52: most seeds tried for grid growth. Default 16; 1 to 1000. */
  int32_t maxSeeds;
  /* offset 56: standard deviation, pixels, that the weight takes as the floor of the
   * position error (the model error of a clean vertex). Default 0.02; > 0. */
  double weightSigmaFloor;
} cclft_calibrationCheckerFinderParams;

/* One vertex found: 104 bytes. */
typedef struct cclft_crspPair {
  double imageX; /* offset 0: image frame, pixels */
  double imageY; /* offset 8 */
  double gridX;  /* offset 16: label x, in squares (an integer value) */
  double gridY;  /* offset 24: label y */
  /* offset 32: estimated standard deviation of the position, pixels (the root of the mean
   * of the covariance's eigenvalues). */
  double sigma;
  /* offset 40: weight = s0^2 / (s0^2 + sigma^2) with s0 = weightSigmaFloor: the inverse
   * variance of the position, counting the floor s0 as a model error present in every
   * vertex, scaled so that a clean vertex (sigma << s0) has weight 1 and a vertex with
   * sigma = s0 weight 1/2. Use it as a least-squares weight. */
  double weight;
  int32_t labelX;  /* offset 48: the labels as integers */
  int32_t labelY;  /* offset 52 */
  double covXX;    /* offset 56: covariance of (imageX, imageY), pixels^2 */
  double covXY;    /* offset 64 */
  double covYY;    /* offset 72 */
  double contrast; /* offset 80: light minus dark grey level around the vertex */
  double stepX;    /* offset 88: local grid spacing (mean distance to neighbours), pixels */
  double reserved; /* offset 96 */
} cclft_crspPair;

/* The list of pairs of a result set. */
typedef struct cstd_vector_cclft_crspPair cstd_vector_cclft_crspPair;
/* Results of one run; reusable for several runs. */
typedef struct cclft_calibrationCheckerFinderResultSet cclft_calibrationCheckerFinderResultSet;

/* ----- Functions ----------------------------------------------------------------------- */

/* Sets every field of *params to its default. CCLFT_STATUS_BAD_PARAMS for a null pointer. */
CCALIB_EXPORT cclft_status
cclft_calibrationCheckerFinderParams_construct(cclft_calibrationCheckerFinderParams* params);
/* Ends the use of a parameter record (it holds no resources). */
CCALIB_EXPORT cclft_status
cclft_calibrationCheckerFinderParams_destruct(cclft_calibrationCheckerFinderParams* params);

/* Makes an empty result set in *resultSet; the caller frees it with _destruct. */
CCALIB_EXPORT cclft_status cclft_calibrationCheckerFinderResultSet_construct(
    cclft_calibrationCheckerFinderResultSet** resultSet);
/* Frees a result set made by _construct; null is accepted. */
CCALIB_EXPORT cclft_status cclft_calibrationCheckerFinderResultSet_destruct(
    cclft_calibrationCheckerFinderResultSet* resultSet);
/* The list of pairs of a result set; it lives as long as the result set. */
CCALIB_EXPORT cclft_status cclft_calibrationCheckerFinderResultSet_getPairs(
    const cclft_calibrationCheckerFinderResultSet* resultSet,
    const cstd_vector_cclft_crspPair** pairs);

/* Finds and labels the vertices of the board in `image`. On success the result set holds
 * one pair per vertex, ordered by label y, then label x. On failure it is empty. Statuses:
 * UNBOUND_IMAGE, BAD_IMAGE, BAD_PARAMS, NO_BOARD, FIDUCIAL_NOT_FOUND, NO_MEMORY,
 * INTERRUPTED. */
CCALIB_EXPORT cclft_status cclft_calibrationCheckerFinder_run(
    const cimg_image8Const* image, const cclft_calibrationCheckerFinderParams* params,
    cclft_calibrationCheckerFinderResultSet* resultSet);

/* Number of pairs, and a pointer to the first (null when there are none). */
CCALIB_EXPORT cclft_status
cstd_vector_cclft_crspPair_getSize(const cstd_vector_cclft_crspPair* pairs, size_t* size);
CCALIB_EXPORT cclft_status cstd_vector_cclft_crspPair_getBeginConst(
    const cstd_vector_cclft_crspPair* pairs, const cclft_crspPair** begin);

#ifdef __cplusplus
}
#endif

/* The record layouts are part of the interface. */
#ifdef __cplusplus
#define CCLFT_STATIC_ASSERT static_assert
#else
#define CCLFT_STATIC_ASSERT _Static_assert
#endif
CCLFT_STATIC_ASSERT(offsetof(cclft_calibrationCheckerFinderParams, useFiducial) == 0, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_calibrationCheckerFinderParams, precisionThreshold) == 8,
                    "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_calibrationCheckerFinderParams, startPoint) == 16, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_calibrationCheckerFinderParams, labelMode) == 32, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_calibrationCheckerFinderParams, minContrast) == 40, "layout");
CCLFT_STATIC_ASSERT(sizeof(cclft_calibrationCheckerFinderParams) == 64, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_crspPair, gridX) == 16, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_crspPair, gridY) == 24, "layout");
CCLFT_STATIC_ASSERT(offsetof(cclft_crspPair, weight) == 40, "layout");
CCLFT_STATIC_ASSERT(sizeof(cclft_crspPair) == 104, "layout");

#endif /* PLATFORM_CHECKERFINDER_CHECKER_FINDER_H */
