// SPDX-License-Identifier: Apache-2.0
// Polygons and polylines: area and moments, convexity, bounding boxes, distances between
// outlines, convex hulls and clipping by a convex polygon. Tile outlines and fiducial zones
// of the checkerboard detection are held and compared as ccPolyline.
//
// Orientation: "positive" means a positive shoelace area 0.5 * sum(prev.x * cur.y -
// prev.y * cur.x); that is counter-clockwise in a y-up frame and clockwise on screen in an
// image frame with y pointing down.
#ifndef PLATFORM_FOUNDATION_POLYLINE_H
#define PLATFORM_FOUNDATION_POLYLINE_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/angle.h"
#include "platform/foundation/lines.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform.h"

// A vertex list, open or closed. The closed flag decides whether the last vertex joins the
// first in the boundary (segments, nearestPoints, length). The area functions (signedArea,
// area, centroid, principalMomentsArea, isConvex) always treat the vertex list as a closed
// polygon.
class CCALIB_EXPORT ccPolyline {
 public:
  // Result of nearestPoints().
  struct NearestPoints {
    ccVector<2> onThis;   // point on this polyline's boundary
    ccVector<2> onOther;  // point on the other polyline's boundary
    double distance = 0.0;
  };
  // Result of principalMomentsArea(): central second moments of area about the two
  // principal axes, in squared units times area (length^4). m1 <= m2. m1 is the moment
  // about the axis through the centroid at `angle`, the long axis: the integral of the squared
  // distance from that axis; m2 the moment about the perpendicular axis. `angle` lies in
  // (-pi/2, pi/2]. For a w x h rectangle with w >= h: m1 = w h^3 / 12, m2 = w^3 h / 12,
  // angle along the w side.
  struct PrincipalMoments {
    double m1 = 0.0;
    double m2 = 0.0;
    ccRadian angle;
  };

  ccPolyline() = default;
  ccPolyline(const std::vector<ccVector<2>>& vertices, bool closed)
      : vertices_(vertices), closed_(closed) {}

  const std::vector<ccVector<2>>& vertices() const { return vertices_; }
  void vertices(const std::vector<ccVector<2>>& v) { vertices_ = v; }
  int numVertices() const { return static_cast<int>(vertices_.size()); }
  const ccVector<2>& vertex(int i) const { return vertices_[static_cast<std::size_t>(i)]; }
  void addVertex(const ccVector<2>& p) { vertices_.push_back(p); }
  bool closed() const { return closed_; }
  void closed(bool c) { closed_ = c; }
  bool isEmpty() const { return vertices_.empty(); }
  void clear() { vertices_.clear(); }

  // Number of boundary segments: n - 1 when open, n when closed (0 below 2 vertices).
  int numSegments() const;
  // Boundary segment i, from vertex i to vertex i + 1 (wrapping when closed).
  ccLineSeg segment(int i) const;
  // Length of the boundary.
  double length() const;

  // Shoelace area over the closed vertex list; 0 below 3 vertices.
  double signedArea() const;
  double area() const;
  // Smallest axis-aligned rectangle holding every vertex; the null rectangle when empty.
  ccRect boundingBox() const;
  // True for a convex polygon of positive orientation: at least 3 vertices, positive area,
  // no right turn, and a boundary that winds once. Collinear and repeated vertices are
  // allowed (a turn counts as straight when its cross product is within 1e-12 of the product
  // of the edge lengths). A convex polygon listed in the negative order fails.
  bool isConvex() const;
  // Area centroid. For a polygon of (numerically) zero area, the mean of the vertices.
  // Throws ccBadArgument when there are no vertices.
  ccVector<2> centroid() const;
  PrincipalMoments principalMomentsArea() const;

  // The closest pair of points between the two boundaries (open or closed as flagged) and
  // their distance; distance 0, at a crossing point, when the boundaries touch or cross. A
  // polygon lying wholly inside another without touching it has a positive distance.
  // Throws ccBadArgument when either polyline has no vertices.
  NearestPoints nearestPoints(const ccPolyline& other) const;

  // Every vertex mapped through x; the closed flag is kept.
  ccPolyline mapped(const ccXform<2>& x) const;

  bool operator==(const ccPolyline& o) const {
    return closed_ == o.closed_ && vertices_ == o.vertices_;
  }
  bool operator!=(const ccPolyline& o) const { return !(*this == o); }

 private:
  std::vector<ccVector<2>> vertices_;
  bool closed_ = false;
};

inline ccPolyline operator*(const ccXform<2>& x, const ccPolyline& p) {
  return p.mapped(x);
}

// Convex hull by Andrew's monotone chain, O(n log n). The hull vertices come in the order of
// positive shoelace area (so a closed ccPolyline of them passes isConvex()), starting from the
// lowest-x (then lowest-y) point, without repeated or collinear vertices. Fewer than 3
// distinct points, or all points on a line, give the distinct extreme points (0, 1 or 2).
// Throws ccBadArgument when a point is not finite.
CCALIB_EXPORT std::vector<ccVector<2>> cfConvexHull(const std::vector<ccVector<2>>& points);

// Clips the closed polygon `subject` (which may be non-convex) by the closed convex polygon
// `clip` (either orientation), by Sutherland-Hodgman: the subject is cut successively by the
// inner half-plane of every clip edge, points on an edge counting as inside. The result is
// a closed polygon holding exactly the intersection, with the subject's orientation, so its
// signedArea() is the signed intersection area. When the subject is not convex and the
// intersection has several pieces, they come joined by bridging edges that run along the clip
// boundary forth and back; those edges enclose no area. An intersection of zero area gives
// an empty or degenerate polygon (area 0).
// Throws ccBadArgument when the clip polygon is not convex (in either orientation) or a
// vertex is not finite.
CCALIB_EXPORT ccPolyline cfClipPolygon(const ccPolyline& subject, const ccPolyline& clip);

#endif  // PLATFORM_FOUNDATION_POLYLINE_H
