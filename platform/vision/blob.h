// SPDX-License-Identifier: Apache-2.0
// Blob analysis: segments an 8-bit image by a hard or soft threshold into connected
// components of both classes, arranges them in a containment tree and measures each one
// (area, centre of mass, moments, boxes, boundary). Dot centres and checker tiles come from
// here.
//
// Segmentation (ccBlobParams):
// - Hard threshold t: foreground is v >= t, or v < t when inverted. Every pixel weighs 1 for
//   its own component.
// - Soft threshold (low, high, softness): each pixel has a foreground weight
//   w = clamp((v - low) / (high - low), 0, 1) (a step at low when low == high), 1 - w when
//   inverted. Which pixels form which component is decided by the hard threshold in the
//   middle of the band: foreground is w >= 0.5 (inverted: w > 0.5 of the inverted weight, so
//   that the two polarities are exact complements).
// - Sub-pixel weights. Area and moments do not count pixels: near a boundary each pixel's
//   weight is w averaged over the pixel's footprint, with the grey level across the footprint
//   modelled as a plane through the pixel's value that changes along x (y) by the difference
//   between the pixel's two neighbours along x (y). On an anti-aliased step this gives the
//   pixel's coverage; on a blurred edge a linear weight ramp whose samples add up exactly. So
//   the centre of mass stays within about 0.02 pixel even when the band is only a fraction of
//   a pixel of edge wide, where the plain weight w would alias to about 0.1 pixel. Pixels
//   whose class (w = 0, 0 < w < 1, w = 1) equals that of their four edge neighbours keep
//   weight 0 or 1.
// - Fringe. A background pixel with a non-zero weight gives that weight to a foreground
//   component next to it (an edge neighbour first, then a corner neighbour) and keeps the
//   rest; a foreground pixel with a weight below 1 gives the missing part to a neighbouring
//   background component in the same way. Weight with no neighbour of the other class to go
//   to stays with the pixel's own component, so the areas of all blobs add up to the number
//   of pixels.
// - Morphology (morph) and connectivity cleanup change pixel classes after thresholding; a
//   pixel whose class they change weighs 1 for its new component.
//
// Components: foreground components are 8-connected, background components 4-connected, so
// that outlines never cross and the components form a tree. A component that touches the
// border of the analysed window has no parent; any other component's parent is the one that
// encloses it (the component of the pixel just above its first pixel). The direct children
// of a foreground blob are its holes; a blob inside a hole is a grandchild.
//
// Coordinates: all measures are in image-frame pixels (pixel (x, y) covers
// [x - 0.5, x + 0.5) x [y - 0.5, y + 0.5)); the functions with a `client` flag and
// centerOfMass() use the client coordinates of the analysed image when asked, through its
// client-from-image transform at the time of the analysis.
#ifndef PLATFORM_VISION_BLOB_H
#define PLATFORM_VISION_BLOB_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ccalib_export.h"
#include "platform/foundation/angle.h"
#include "platform/foundation/pel_buffer.h"
#include "platform/foundation/rect.h"
#include "platform/foundation/rle_buffer.h"
#include "platform/foundation/vector.h"
#include "platform/foundation/xform_base.h"

// Morphology steps on the binary segmentation, applied in the order added, before the
// components are labelled. All use the 3 x 3 square; pixels outside the window count as
// copies of the nearest window pixel, so shapes are not eaten from the window border.
enum ceBlobParamsMorphOp {
  eBlobMorphErode = 0,   // foreground shrinks by one pixel
  eBlobMorphDilate = 1,  // foreground grows by one pixel
  eBlobMorphOpen = 2,    // erode, then dilate: removes specks and thin spurs
  eBlobMorphClose = 3,   // dilate, then erode: fills pin holes and narrow gaps
};

class CCALIB_EXPORT ccBlobParams {
 public:
  enum Segmentation { eHardThresh = 0, eSoftThresh = 1 };
  // What connectivity cleanup does with components (of either class) smaller than
  // connectivityMinPels() pixels.
  enum Cleanup {
    eCleanupNone = 0,   // nothing
    eCleanupPrune = 1,  // left out of the results; pixels and other blobs stay as they are
    eCleanupFill = 2,   // merged into the enclosing component (or, for a component touching
                        // the window border, into an adjacent one): small holes are filled
                        // and specks removed
  };
  static constexpr int kMaxSoftness = 254;  // levels 0..softness+1 must fit a byte

  // Hard threshold 128, not inverted; no cleanup (minimum 0 pixels); no morphology; the
  // run-length image is not kept; no pre-filter.
  ccBlobParams() = default;

  // threshold in 0..256 (256: nothing is foreground unless inverted). Throws ccBadArgument.
  void setSegmentationHardThresh(int threshold, bool invert);
  // 0 <= low <= high <= 255, 0 <= softness <= kMaxSoftness. Throws ccBadArgument.
  void setSegmentationSoftThresh(int low, int high, int softness, bool invert);

  Segmentation segmentation() const { return segmentation_; }
  // The hard threshold, or the low end of the soft band.
  int thresh() const { return low_; }
  // The hard threshold again, or the high end of the soft band.
  int hiThresh() const { return high_; }
  // Intermediate levels of the soft segmentation image (0 for a hard threshold).
  int softness() const { return softness_; }
  bool invert() const { return invert_; }

  // mode is a Cleanup value; throws ccBadArgument otherwise.
  void connectivityCleanup(int mode);
  int connectivityCleanup() const { return cleanup_; }
  // n >= 0; throws ccBadArgument otherwise.
  void connectivityMinPels(long n);
  long connectivityMinPels() const { return minPels_; }

  // Appends a morphology step (a ceBlobParamsMorphOp value); throws ccBadArgument otherwise.
  void morph(int op);
  const std::vector<int>& morphOps() const { return morph_; }
  void clearMorph() { morph_.clear(); }

  // Keep the segmentation as a run-length image in the results (ccBlobResults::rle()).
  void keepRLE(bool keep) { keepRLE_ = keep; }
  bool keepRLE() const { return keepRLE_; }

  // Pre-filter by area, for a caller that keeps only blobs of at least `area` (eArea, soft
  // area in pixels) anyway: the components below it are dropped before their records and
  // measures are built, so the analysis costs in proportion to what is kept rather than to
  // the number of specks. 0 (the default) keeps every component.
  // What stays is exact: every blob of area >= `area` is there with the measures, region,
  // boundary and parent() it has without the pre-filter, eHoles and eDepth included (they
  // count dropped components too). The ancestors of a kept blob are kept whatever their
  // area. What changes: the dropped blobs are missing from the scene and from the
  // firstChild() / nextSibling() lists, and index() numbers the kept blobs. Cleanup
  // (connectivityCleanup) acts first; the pre-filter chooses among the blobs it leaves.
  // Throws ccBadArgument unless 0 <= area < infinity.
  void prefilterMinArea(double area);
  double prefilterMinArea() const { return prefilterMinArea_; }

 private:
  Segmentation segmentation_ = eHardThresh;
  int low_ = 128;
  int high_ = 128;
  int softness_ = 0;
  bool invert_ = false;
  int cleanup_ = eCleanupNone;
  long minPels_ = 0;
  std::vector<int> morph_;
  bool keepRLE_ = false;
  double prefilterMinArea_ = 0.0;
};

// Directions of a boundary chain code: one unit step along a pixel edge.
enum ceBlobDirection {
  eBlobDirPosX = 0,
  eBlobDirNegX = 1,
  eBlobDirPosY = 2,
  eBlobDirNegY = 3,
  eBlobDirEnd = 4,  // end mark, always the last code
};

// The outer boundary of a blob as a closed walk along pixel edges. It starts at the upper-left
// corner of startPixel, the blob's first pixel in raster order (topmost row, then leftmost),
// with a step in +x, and keeps the blob on its right-hand side as seen in the image (y down).
// The polygon of its vertices encloses exactly the blob's pixels together with its holes,
// and its shoelace area 0.5 * sum(prev.x * cur.y - prev.y * cur.x) is positive and equals that
// pixel count. Where two pixels of an 8-connected blob touch only at a corner, the walk
// passes that corner twice.
struct CCALIB_EXPORT ccBlobChainCode {
  ccPair<long> startPixel;
  std::vector<unsigned char> codes;  // ceBlobDirection values, ending with eBlobDirEnd

  // The start point: (startPixel.x - 0.5, startPixel.y - 0.5).
  ccVector<2> start() const;
  // The polygon: one vertex per code before the end mark, the first at start().
  std::vector<ccVector<2>> vertices() const;
};

class ccBlobSceneDescription;
struct ccBlobScratch;

// One connected component. Blobs are owned by their scene description; pointers to them stay
// valid for the life of the ccBlobResults that holds the scene.
class CCALIB_EXPORT ccBlob {
 public:
  // Measure numbers for measure(), setFilter() and setSort().
  enum Measure {
    eLabel = 0,          // 1 for a foreground component, 0 for a background one
    eArea = 1,           // soft area (sum of weights), pixels
    ePixelCount = 2,     // number of the blob's own pixels
    ePerimeter = 3,      // pixel edges between the blob and anything else, outer and holes
    eHoles = 4,          // number of direct children
    eCenterOfMassX = 5,  // centre of mass, image frame
    eCenterOfMassY = 6,
    eAngle = 7,              // principal axis angle, radians, (-pi/2, pi/2]
    eInertiaMin = 8,         // second central moments along the principal axes, per unit area
    eInertiaMax = 9,         //   (px^2): 8 across the principal axis, 9 along it
    eAspect = 10,            // aspectPrincipal(false)
    eElongation = 11,        // principal box length / width (>= 1)
    ePrincipalLength = 12,   // principal box extent along the principal axis, pixels
    ePrincipalWidth = 13,    // principal box extent across it
    eDepth = 14,             // depth in the containment tree, 0 for a top-level blob
    eNotClipped = 15,        // 1 when the blob does not touch the window border, else 0
    ePrincipalCenterX = 16,  // centre of the principal box, image frame
    ePrincipalCenterY = 17,
    eBoundMinX = 18,  // image-aligned bounding box (see below)
    eBoundMaxX = 19,
    eBoundMinY = 20,
    eBoundMaxY = 21,
    eBoundWidth = 22,   // 19 - 18
    eBoundHeight = 23,  // 21 - 20
    eMeasureCount = 24,
  };
  // Measures 18 to 21 are the pixel edges of the blob's own pixels (a blob covering columns
  // 3..7 has min x 2.5 and max x 7.5), widened by its fringe: a pixel of the other class that
  // gives the blob weight w moves the box edge on its side to w beyond the pixel edge it
  // shares with the blob's side (min x to x + 0.5 - w, and so on). With a hard threshold the
  // box is exactly the pixel edges.

  enum SortOrder { eAscending = 0, eDescending = 1 };

  // An empty blob (no pixels, no scene; boxes are null); real ones come from cfBlobAnalysis.
  ccBlob() = default;

  // The value of measure m (a Measure). Throws ccBadArgument for an unknown number.
  double measure(int m) const;
  double area() const { return m_[eArea]; }
  bool isForeground() const { return m_[eLabel] != 0.0; }
  long pixelCount() const { return static_cast<long>(m_[ePixelCount]); }

  // Centre of mass of the soft weights, in client coordinates (image coordinates when the
  // analysed image's client transform is the identity).
  ccVector<2> centerOfMass() const;
  // Principal axis of the soft second moments in the image frame (y down), (-pi/2, pi/2],
  // turning from +x towards +y. Equal principal moments (no preferred direction) give 0.
  ccRadian angle() const { return ccRadian(m_[eAngle]); }

  // The blob's extent in a frame turned by `angle`: x and width along (cos a, sin a), y and
  // height along (-sin a, cos a), taken over the corners of the blob's own pixels. With
  // `client` the corners are first mapped into client coordinates and the angle is a client
  // angle.
  ccRect boundingBox(bool client, ccRadian angle) const;
  // The centre of boundingBox(client, angle), turned back into image (or client) coordinates.
  ccVector<2> center(bool client, ccRadian angle) const;
  // boundingBox along the principal axis (angle(); its direction mapped into the client frame
  // with `client`).
  ccRect boundingBoxPrincipal(bool client) const;
  // Shorter over longer side of boundingBoxPrincipal (<= 1): about 1 for a disc, small for a
  // thin bar.
  double aspectPrincipal(bool client) const;

  // The pixel window spanned by the blob's own pixels.
  ccPelRect imageBoundingBox() const;
  // 1 on the blob's own pixels, 0 elsewhere, over imageBoundingBox() (with that offset).
  ccRLEBuffer region() const;
  // The outer boundary (see ccBlobChainCode).
  ccBlobChainCode boundaryChainCode() const;

  // Containment tree; null where there is none. Siblings come in discovery order.
  const ccBlob* parent() const { return parent_; }
  const ccBlob* firstChild() const { return firstChild_; }
  const ccBlob* nextSibling() const { return nextSibling_; }

  // Position in discovery order (raster order of each blob's first pixel), from 0.
  std::size_t index() const { return index_; }
  // The scene that owns the blob (its window and client transform); null for an empty blob.
  const ccBlobSceneDescription* scene() const { return scene_; }

 private:
  friend class ccBlobSceneDescription;
  friend struct ccBlobBuilder;

  // The centre of a box from boundingBox(..., angle), turned back by angle.
  static ccVector<2> boxCenter(const ccRect& box, ccRadian angle);

  const ccBlobSceneDescription* scene_ = nullptr;
  std::size_t index_ = 0;
  double m_[eMeasureCount] = {};
  ccVector<2> com_;  // image frame
  const ccBlob* parent_ = nullptr;
  const ccBlob* firstChild_ = nullptr;
  const ccBlob* nextSibling_ = nullptr;
  std::size_t runBegin_ = 0;  // the blob's own runs in the scene's run table
  std::size_t runEnd_ = 0;
  ccPelRect pelBox_;
};

// All blobs of one analysis with a filter and sort selection over them. Filters and sort
// only choose what allBlobs(true) and makeImage(true, ...) return; the blobs stay.
class CCALIB_EXPORT ccBlobSceneDescription {
 public:
  // One run of a blob's own pixels in the image frame: row y, columns x0..x1 (inclusive).
  struct Run {
    std::int32_t y;
    std::int32_t x0;
    std::int32_t x1;
  };

  ccBlobSceneDescription(const ccBlobSceneDescription&) = delete;
  ccBlobSceneDescription& operator=(const ccBlobSceneDescription&) = delete;
  ~ccBlobSceneDescription();

  // Keeps blobs whose measure lies in [low, high] (exclude false) or outside it (exclude
  // true). Filters on different measures all apply; a second filter on the same measure
  // replaces the first. Throws ccBadArgument for an unknown measure or low > high.
  void setFilter(int measure, double low, double high, bool exclude);
  void clearFilters();
  // Sorts by a measure, order 0 ascending, 1 descending; ties keep discovery order. Throws
  // ccBadArgument for an unknown measure or order.
  void setSort(int measure, int order);
  // Discovery order (raster order of each blob's first pixel); the default.
  void disableSort();

  // The filtered blobs (filteredOnly) or all of them, sorted when a sort is set. The
  // pointers are owned by the scene.
  std::vector<const ccBlob*> allBlobs(bool filteredOnly) const;
  std::size_t numBlobs() const { return blobs_.size(); }
  // Blob i in discovery order; throws ccBadArgument when i is out of range.
  const ccBlob& blob(std::size_t i) const;

  // An image over the analysed window, 1 on the own pixels of the included blobs (the
  // filtered ones, or all) and `background` elsewhere, with the analysed image's client
  // transform.
  ccPelBuffer<unsigned char> makeImage(bool filteredOnly, unsigned char background) const;

  // The analysed window and the analysed image's client transform.
  ccPelRect window() const { return window_; }
  cc2XformBasePtrh clientFromImageXformBase() const { return xform_; }
  // Throws ccBadArgument when the transform is not linear.
  ccXform<2> clientFromImageXform() const;

  // Own-pixel runs of a blob, sorted by row and column.
  const Run* runsBegin(const ccBlob& b) const { return runs_.data() + b.runBegin_; }
  const Run* runsEnd(const ccBlob& b) const { return runs_.data() + b.runEnd_; }

 private:
  friend class ccBlobResults;
  friend class ccBlob;
  friend struct ccBlobBuilder;
  ccBlobSceneDescription() = default;

  bool passes(const ccBlob& b) const;
  // Empties the scene for a new analysis (keeping the storage).
  void reset();

  struct Filter {
    int measure;
    double low;
    double high;
    bool exclude;
  };

  ccPelRect window_;
  cc2XformBasePtrh xform_;
  std::vector<ccBlob> blobs_;
  std::vector<Run> runs_;
  std::vector<Filter> filters_;
  int sortMeasure_ = -1;  // -1: discovery order
  int sortOrder_ = ccBlob::eAscending;
};

// What cfBlobAnalysis produces. Movable, not copyable (blobs point into it).
class CCALIB_EXPORT ccBlobResults {
 public:
  ccBlobResults();
  ~ccBlobResults();
  ccBlobResults(ccBlobResults&& other);
  ccBlobResults& operator=(ccBlobResults&& other);
  ccBlobResults(const ccBlobResults&) = delete;
  ccBlobResults& operator=(const ccBlobResults&) = delete;

  ccBlobSceneDescription& connectedBlobs() { return *scene_; }
  const ccBlobSceneDescription& connectedBlobs() const { return *scene_; }

  // The segmentation as levels at the analysed window's offset, when the parameters asked to
  // keep it (degenerate otherwise): soft thresholds give iRound(w * (softness + 1)) of the
  // (inverted) foreground weight, 0..softness+1; hard thresholds 1 for foreground, 0 else.
  // It shows the thresholding before morphology and cleanup.
  const ccRLEBuffer& rle() const { return rle_; }
  // Moves the run-length image out, leaving a degenerate one: for a caller that keeps it
  // beyond the results without a copy.
  ccRLEBuffer takeRLE();

 private:
  friend struct ccBlobBuilder;
  std::unique_ptr<ccBlobSceneDescription> scene_;
  ccRLEBuffer rle_;
  std::shared_ptr<ccBlobScratch> scratch_;  // working storage reused by the next analysis
};

// Segments the window of `image`, labels and measures its components into `results`
// (replacing what it held, filters and sort included; pointers to earlier blobs become
// invalid). Reusing one results object for many analyses reuses its memory. Throws
// ccPel::UnboundWindow for an unbound image, ccPel::BadWindow for an empty window,
// ccBadArgument for inconsistent parameters, and ccTimeout when the calling thread's
// ccAttention deadline passes or its token is raised (checked once per image row and per few
// thousand components). On an exception the results are empty.
CCALIB_EXPORT void cfBlobAnalysis(const ccPelBuffer_const<unsigned char>& image,
                                  const ccBlobParams& params, ccBlobResults& results);

#endif  // PLATFORM_VISION_BLOB_H
