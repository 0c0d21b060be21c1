// SPDX-License-Identifier: Apache-2.0
// Straight-line geometry: segments, infinite lines in point-direction and angle-distance
// form, and the orthogonal least-squares line fit used on caliper edge points.
//
// All coordinates are of one frame chosen by the caller. Angles follow ccVector<2>::angle():
// direction (cos a, sin a). "Left" of a direction d is the side of d.perp() = (-d.y, d.x).
#ifndef PLATFORM_FOUNDATION_LINES_H
#define PLATFORM_FOUNDATION_LINES_H

#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/angle.h"
#include "platform/foundation/vector.h"

// A segment from p1 to p2. A degenerate segment (p1 == p2) is a valid value.
class CCALIB_EXPORT ccLineSeg {
 public:
  ccLineSeg() = default;
  ccLineSeg(const ccVector<2>& p1, const ccVector<2>& p2) : p1_(p1), p2_(p2) {}

  const ccVector<2>& p1() const { return p1_; }
  const ccVector<2>& p2() const { return p2_; }
  void p1(const ccVector<2>& p) { p1_ = p; }
  void p2(const ccVector<2>& p) { p2_ = p; }

  double length() const { return p1_.distance(p2_); }
  ccVector<2> midpoint() const { return (p1_ + p2_) * 0.5; }
  // Angle of p2 - p1 (0 for a degenerate segment).
  ccRadian angle() const { return (p2_ - p1_).angle(); }
  bool isDegenerate() const { return p1_ == p2_; }

  // The point of the segment nearest to p.
  ccVector<2> nearestPoint(const ccVector<2>& p) const;
  double distance(const ccVector<2>& p) const { return nearestPoint(p).distance(p); }

  bool operator==(const ccLineSeg& o) const { return p1_ == o.p1_ && p2_ == o.p2_; }
  bool operator!=(const ccLineSeg& o) const { return !(*this == o); }

 private:
  ccVector<2> p1_;
  ccVector<2> p2_;
};

// An infinite, directed line through a point.
class CCALIB_EXPORT ccLine {
 public:
  // The x axis.
  ccLine() = default;
  // The line through `point` along `direction`, which is stored normalised. Throws
  // ccBadArgument when the direction is zero or either argument is not finite.
  ccLine(const ccVector<2>& direction, const ccVector<2>& point);
  // The line through `point` at angle `angle`.
  ccLine(ccRadian angle, const ccVector<2>& point);

  // Unit direction.
  const ccVector<2>& direction() const { return dir_; }
  const ccVector<2>& point() const { return point_; }
  ccRadian angle() const { return dir_.angle(); }

  // Distance of p from the line, positive on the left of the direction.
  double signedDistance(const ccVector<2>& p) const { return dir_.cross(p - point_); }
  double distance(const ccVector<2>& p) const;
  // The foot of the perpendicular from p.
  ccVector<2> project(const ccVector<2>& p) const { return point_ + dir_ * dir_.dot(p - point_); }

  // The crossing point: exactly one point, or none when the lines are parallel or
  // coincident (sine of the angle between them at most ccFLine::kParallelSine).
  std::vector<ccVector<2>> intersection(const ccLine& other) const;

 private:
  ccVector<2> dir_{1.0, 0.0};
  ccVector<2> point_;
};

// A directed line in angle-distance form: with angle t and distance d, the point (x, y)
// lies on the line when cos(t) y - sin(t) x - d = 0. The left-hand side is the point's
// signed distance (positive on the left of the direction (cos t, sin t)), and |d| is the
// distance of the line from the origin.
class CCALIB_EXPORT ccFLine {
 public:
  // Lines whose directions make an angle with sine at most this are treated as parallel by
  // intersection(): their crossing would lie beyond 1e12 times their distance from each
  // other, where a double no longer carries a meaningful position.
  static constexpr double kParallelSine = 1e-12;

  // The x axis.
  ccFLine() = default;
  // Angle and distance as defined above. Throws ccBadArgument when either is not finite.
  ccFLine(ccRadian angle, double distance);
  // The line through `point` with direction `angle` (a ccDegree converts implicitly).
  // Throws ccBadArgument when an argument is not finite.
  ccFLine(const ccVector<2>& point, ccRadian angle);
  // The line through the segment, directed from p1 to p2. Throws ccBadArgument for a
  // degenerate or non-finite segment.
  explicit ccFLine(const ccLineSeg& segment);
  explicit ccFLine(const ccLine& line);

  // The angle as given (not normalised).
  ccRadian angle() const { return angle_; }
  double cosAngle() const { return cos_; }
  double sinAngle() const { return sin_; }
  double distance() const { return distance_; }
  // Unit direction (cos t, sin t) and left normal (-sin t, cos t).
  ccVector<2> direction() const { return ccVector<2>(cos_, sin_); }
  ccVector<2> normal() const { return ccVector<2>(-sin_, cos_); }
  // The point of the line nearest the origin.
  ccVector<2> point() const { return normal() * distance_; }

  double signedDistance(const ccVector<2>& p) const {
    return cos_ * p.y() - sin_ * p.x() - distance_;
  }
  double distanceTo(const ccVector<2>& p) const;
  ccVector<2> project(const ccVector<2>& p) const { return p - normal() * signedDistance(p); }

  // The crossing point: a list with exactly one point, or an empty list when the lines are
  // parallel or coincident (see kParallelSine).
  std::vector<ccVector<2>> intersection(const ccFLine& other) const;

 private:
  ccRadian angle_;
  double cos_ = 1.0;
  double sin_ = 0.0;
  double distance_ = 0.0;
};

// Orthogonal (total) least-squares line fit: the line minimising the sum of squared
// perpendicular distances, through the centroid along the major axis of the points' scatter.
// Points are either passed whole or added one by one and then fitted.
//
// The fitted line is directed along the data: its direction makes a non-negative dot product
// with (last point - first point). The error is the root-mean-square perpendicular distance
// of the points from the fitted line, in the points' units.
//
// A fit fails (returns false, outputs untouched) when there are fewer than 2 points, a point
// is not finite, all points coincide, or the scatter has no preferred direction (its two
// principal spreads agree to a relative 1e-12, as for the corners of a square).
class CCALIB_EXPORT ccLSLineFitter {
 public:
  ccLSLineFitter() = default;

  void addPoint(const ccVector<2>& p) { points_.push_back(p); }
  void addPoints(const std::vector<ccVector<2>>& points) {
    points_.insert(points_.end(), points.begin(), points.end());
  }
  void clear() { points_.clear(); }
  int numPoints() const { return static_cast<int>(points_.size()); }

  // Fits the added points.
  bool fit(ccFLine& line) const;
  bool fitAndError(ccFLine& line, double& error) const;
  // Fits `points`, ignoring any added points.
  bool fitAndError(const std::vector<ccVector<2>>& points, ccFLine& line, double& error) const;

 private:
  std::vector<ccVector<2>> points_;
};

#endif  // PLATFORM_FOUNDATION_LINES_H
