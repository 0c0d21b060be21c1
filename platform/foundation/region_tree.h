// SPDX-License-Identifier: Apache-2.0
// Polygonal regions and their rasterisation into 8-bit images: the checker-area mask is the
// convex hull of the board's corners filled into a pixel buffer.
#ifndef PLATFORM_FOUNDATION_REGION_TREE_H
#define PLATFORM_FOUNDATION_REGION_TREE_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/polyline.h"

// A region of the plane bounded by one closed polygon. Inside is decided by the even-odd
// rule, which for a simple polygon is its interior whatever the vertex order.
class CCALIB_EXPORT ccRegionTree {
 public:
  // The empty region.
  ccRegionTree() = default;
  // The region bounded by `boundary`, which must be closed and finite. A polygon of fewer than
  // 3 vertices bounds no area. `complement` true would ask for the outside of the polygon;
  // it is not supported and throws ccBadArgument, as do an open or non-finite boundary.
  ccRegionTree(const ccPolyline& boundary, bool complement);

  const ccPolyline& boundary() const { return boundary_; }

 private:
  ccPolyline boundary_;
};

// How cfRasterize treats a pixel whose centre lies exactly on the region's boundary.
enum ccRasterizeBoundaryMode {
  eBoundaryExclude = 0,   // not filled: only centres strictly inside
  eBoundaryHalfOpen = 1,  // the usual fill rule: filled on edges that have the region to their
                          // right (larger x) on a row, and on horizontal edges that have it
                          // below (larger y); two regions sharing an edge never both fill a pixel
  eBoundaryInclude = 2,   // filled: centres inside or on the boundary
};

// Sampling of cfRasterize: pixel (x, y) is tested at (x + sampleOffset.x, y + sampleOffset.y).
// The default (0, 0) tests pixel centres.
struct RasterizeSampParams {
  ccVector<2> sampleOffset;
};

// Sets to `value` every pixel of the image's window whose sample point (see
// RasterizeSampParams) lies inside `region`; other pixels are left unchanged. The region is
// given in the image frame of `image` (pixel (x, y) has its centre at (x, y)); the client
// transform is not used. Works by scanlines with exact edge crossings: on each pixel row the
// crossings of the boundary edges are computed (half-open in y so that shared vertices count
// once) and the spans between them are filled, with the boundary handled as
// `boundaryFillMode` says (a ccRasterizeBoundaryMode value).
// Throws ccPel::UnboundWindow for an unbound image, ccBadArgument for an unknown boundary mode
// or a non-finite sample offset.
CCALIB_EXPORT void cfRasterize(const ccRegionTree& region, ccPelBuffer<unsigned char>& image,
                               unsigned char value, int boundaryFillMode,
                               const RasterizeSampParams& params = RasterizeSampParams());

#endif  // PLATFORM_FOUNDATION_REGION_TREE_H
