// SPDX-License-Identifier: Apache-2.0
// Blob parameters, the per-blob measurements computed on demand (boxes, regions, chain
// codes), and the scene's filtering, sorting and rendering.
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/foundation/exception.h"
#include "platform/foundation/pel_ops.h"
#include "platform/vision/blob.h"

namespace {

void requireMeasure(int m) {
  if (m < 0 || m >= ccBlob::eMeasureCount)
    throw ccBadArgument(L"Blob analysis: unknown measure number");
}

// Projects the four corners of every run onto the turned axes and keeps the extremes.
struct Extent {
  double umin = std::numeric_limits<double>::infinity();
  double umax = -std::numeric_limits<double>::infinity();
  double vmin = std::numeric_limits<double>::infinity();
  double vmax = -std::numeric_limits<double>::infinity();
  void add(const ccVector<2>& p, double c, double s) {
    double u = c * p.x() + s * p.y();
    double v = -s * p.x() + c * p.y();
    umin = std::min(umin, u);
    umax = std::max(umax, u);
    vmin = std::min(vmin, v);
    vmax = std::max(vmax, v);
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Parameters

void ccBlobParams::setSegmentationHardThresh(int threshold, bool invert) {
  if (threshold < 0 || threshold > 256)
    throw ccBadArgument(L"ccBlobParams: the hard threshold must lie in 0..256");
  segmentation_ = eHardThresh;
  low_ = high_ = threshold;
  softness_ = 0;
  invert_ = invert;
}

void ccBlobParams::setSegmentationSoftThresh(int low, int high, int softness, bool invert) {
  if (low < 0 || high > 255 || low > high) {
    throw ccBadArgument(L"ccBlobParams: the soft band needs 0 <= low <= high <= 255");
  }
  if (softness < 0 || softness > kMaxSoftness)
    throw ccBadArgument(L"ccBlobParams: softness must lie in 0..254");
  segmentation_ = eSoftThresh;
  low_ = low;
  high_ = high;
  softness_ = softness;
  invert_ = invert;
}

void ccBlobParams::connectivityCleanup(int mode) {
  if (mode < eCleanupNone || mode > eCleanupFill)
    throw ccBadArgument(L"ccBlobParams: unknown connectivity cleanup");
  cleanup_ = mode;
}

void ccBlobParams::connectivityMinPels(long n) {
  if (n < 0) throw ccBadArgument(L"ccBlobParams: the minimum pixel count cannot be negative");
  minPels_ = n;
}

void ccBlobParams::prefilterMinArea(double area) {
  if (!(area >= 0.0 && area < std::numeric_limits<double>::infinity())) {
    throw ccBadArgument(L"ccBlobParams: the pre-filter area must be finite and not negative");
  }
  prefilterMinArea_ = area;
}

void ccBlobParams::morph(int op) {
  if (op < eBlobMorphErode || op > eBlobMorphClose)
    throw ccBadArgument(L"ccBlobParams: unknown morphology step");
  morph_.push_back(op);
}

// ---------------------------------------------------------------------------------------------
// Chain codes

ccVector<2> ccBlobChainCode::start() const {
  return ccVector<2>(static_cast<double>(startPixel.x()) - 0.5,
                     static_cast<double>(startPixel.y()) - 0.5);
}

std::vector<ccVector<2>> ccBlobChainCode::vertices() const {
  std::vector<ccVector<2>> out;
  out.reserve(codes.size());
  ccVector<2> p = start();
  for (unsigned char c : codes) {
    if (c == eBlobDirEnd) break;
    out.push_back(p);
    switch (c) {
      case eBlobDirPosX:
        p += ccVector<2>(1, 0);
        break;
      case eBlobDirNegX:
        p += ccVector<2>(-1, 0);
        break;
      case eBlobDirPosY:
        p += ccVector<2>(0, 1);
        break;
      default:
        p += ccVector<2>(0, -1);
        break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Blob

double ccBlob::measure(int m) const {
  requireMeasure(m);
  return m_[m];
}

ccVector<2> ccBlob::centerOfMass() const {
  return scene_ && scene_->xform_ ? scene_->xform_->mapPoint(com_) : com_;
}

ccRect ccBlob::boundingBox(bool client, ccRadian angle) const {
  if (!scene_) return ccRect();
  const double c = std::cos(angle.toDouble()), s = std::sin(angle.toDouble());
  const cc2XformBase* xf = client ? scene_->xform_.get() : nullptr;
  Extent e;
  for (const ccBlobSceneDescription::Run* r = scene_->runsBegin(*this); r != scene_->runsEnd(*this);
       ++r) {
    const double x0 = r->x0 - 0.5, x1 = r->x1 + 0.5, y0 = r->y - 0.5, y1 = r->y + 0.5;
    ccVector<2> corners[4] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
    for (ccVector<2>& p : corners) e.add(xf ? xf->mapPoint(p) : p, c, s);
  }
  if (e.umin > e.umax) return ccRect();
  return ccRect(e.umin, e.vmin, e.umax - e.umin, e.vmax - e.vmin);
}

ccVector<2> ccBlob::center(bool client, ccRadian angle) const {
  return boxCenter(boundingBox(client, angle), angle);
}

ccVector<2> ccBlob::boxCenter(const ccRect& box, ccRadian angle) {
  const double c = std::cos(angle.toDouble()), s = std::sin(angle.toDouble());
  const double u = box.x() + 0.5 * box.width(), v = box.y() + 0.5 * box.height();
  return ccVector<2>(c * u - s * v, s * u + c * v);
}

ccRect ccBlob::boundingBoxPrincipal(bool client) const {
  ccRadian a = angle();
  if (client && scene_ && scene_->xform_) {
    // The principal direction mapped into the client frame at the centre of mass.
    ccXform<2> lin = scene_->xform_->linearAt(com_);
    a = lin.mapVector(ccVector<2>(1.0, a)).angle();
  }
  return boundingBox(client, a);
}

double ccBlob::aspectPrincipal(bool client) const {
  ccRect box = boundingBoxPrincipal(client);
  double lo = std::min(box.width(), box.height()), hi = std::max(box.width(), box.height());
  return hi > 0.0 ? lo / hi : 0.0;
}

ccPelRect ccBlob::imageBoundingBox() const {
  return pelBox_;
}

ccRLEBuffer ccBlob::region() const {
  if (!scene_) return ccRLEBuffer();
  const ccPelRect box = pelBox_;
  std::vector<ccRLEBuffer::Run> runs;
  std::vector<std::size_t> rowStart(1, 0);
  const ccBlobSceneDescription::Run* r = scene_->runsBegin(*this);
  const ccBlobSceneDescription::Run* end = scene_->runsEnd(*this);
  for (long y = box.y(); y < box.y() + box.height(); ++y) {
    std::int32_t next = 0;
    for (; r != end && r->y == y; ++r) {
      std::int32_t a = static_cast<std::int32_t>(r->x0 - box.x()),
                   b = static_cast<std::int32_t>(r->x1 - box.x());
      if (a > next) runs.push_back(ccRLEBuffer::Run{next, a - next, 0});
      runs.push_back(ccRLEBuffer::Run{a, b - a + 1, 1});
      next = b + 1;
    }
    if (next < box.width())
      runs.push_back(ccRLEBuffer::Run{next, static_cast<std::int32_t>(box.width() - next), 0});
    rowStart.push_back(runs.size());
  }
  return ccRLEBuffer(box, runs, rowStart);
}

ccBlobChainCode ccBlob::boundaryChainCode() const {
  // A mask of the blob over its box with a one-pixel margin, traced with the blob kept on the
  // right. At each lattice point the two pixels ahead decide: for an 8-connected blob turn
  // left when the pixel ahead-left belongs to it, go straight when only the one ahead-right
  // does, else turn right; for a 4-connected blob the ahead-left pixel only counts when the
  // ahead-right one is in the blob too.
  ccBlobChainCode out;
  if (!scene_ || runEnd_ == runBegin_) {
    out.codes.push_back(eBlobDirEnd);
    return out;
  }
  const ccPelRect box = pelBox_;
  const long mw = box.width() + 2, mh = box.height() + 2;
  std::vector<unsigned char> mask(static_cast<std::size_t>(mw * mh), 0);
  for (const ccBlobSceneDescription::Run* r = scene_->runsBegin(*this); r != scene_->runsEnd(*this);
       ++r) {
    unsigned char* row = mask.data() + (r->y - box.y() + 1) * mw;
    std::fill(row + (r->x0 - box.x() + 1), row + (r->x1 - box.x() + 2), 1);
  }
  // Mask lookup of pixel (i, j) in mask coordinates.
  auto in = [&](long i, long j) { return mask[static_cast<std::size_t>(j * mw + i)] != 0; };
  const bool eight = isForeground();

  const ccBlobSceneDescription::Run* first = scene_->runsBegin(*this);
  out.startPixel = ccPair<long>(first->x0, first->y);
  // Lattice point (i, j) is the upper-left corner of mask pixel (i, j).
  const long si = first->x0 - box.x() + 1, sj = first->y - box.y() + 1;
  long i = si, j = sj;
  int dir = eBlobDirPosX;
  // Direction vectors and, relative to a direction, the pixel ahead-left / ahead-right of the
  // lattice point (as offsets of the pixel's upper-left corner from the point).
  static const int kDx[4] = {1, -1, 0, 0};
  static const int kDy[4] = {0, 0, 1, -1};
  static const int kLeftOf[4] = {eBlobDirNegY, eBlobDirPosY, eBlobDirPosX, eBlobDirNegX};
  static const int kRightOf[4] = {eBlobDirPosY, eBlobDirNegY, eBlobDirNegX, eBlobDirPosX};
  static const int kAheadLeft[4][2] = {{0, -1}, {-1, 0}, {0, 0}, {-1, -1}};
  static const int kAheadRight[4][2] = {{0, 0}, {-1, -1}, {-1, 0}, {0, -1}};
  const std::size_t limit = static_cast<std::size_t>(4 * mw * mh) + 8;  // a closed walk is shorter
  do {
    out.codes.push_back(static_cast<unsigned char>(dir));
    i += kDx[dir];
    j += kDy[dir];
    bool l = in(i + kAheadLeft[dir][0], j + kAheadLeft[dir][1]);
    bool r = in(i + kAheadRight[dir][0], j + kAheadRight[dir][1]);
    if (l && (eight || r)) {
      dir = kLeftOf[dir];
    } else if (!r) {
      dir = kRightOf[dir];
    }
  } while ((i != si || j != sj || dir != eBlobDirPosX) && out.codes.size() < limit);
  out.codes.push_back(eBlobDirEnd);
  return out;
}

// ---------------------------------------------------------------------------------------------
// Scene

ccBlobSceneDescription::~ccBlobSceneDescription() = default;

void ccBlobSceneDescription::setFilter(int measure, double low, double high, bool exclude) {
  requireMeasure(measure);
  if (!(low <= high))
    throw ccBadArgument(L"ccBlobSceneDescription::setFilter: low must not exceed high");
  for (Filter& f : filters_) {
    if (f.measure == measure) {
      f = Filter{measure, low, high, exclude};
      return;
    }
  }
  filters_.push_back(Filter{measure, low, high, exclude});
}

void ccBlobSceneDescription::clearFilters() {
  filters_.clear();
}

void ccBlobSceneDescription::reset() {
  window_ = ccPelRect();
  xform_.reset();
  blobs_.clear();
  runs_.clear();
  filters_.clear();
  sortMeasure_ = -1;
  sortOrder_ = ccBlob::eAscending;
}

void ccBlobSceneDescription::setSort(int measure, int order) {
  requireMeasure(measure);
  if (order != ccBlob::eAscending && order != ccBlob::eDescending) {
    throw ccBadArgument(L"ccBlobSceneDescription::setSort: unknown sort order");
  }
  sortMeasure_ = measure;
  sortOrder_ = order;
}

void ccBlobSceneDescription::disableSort() {
  sortMeasure_ = -1;
}

bool ccBlobSceneDescription::passes(const ccBlob& b) const {
  for (const Filter& f : filters_) {
    double v = b.m_[f.measure];
    bool inside = v >= f.low && v <= f.high;
    if (inside == f.exclude) return false;
  }
  return true;
}

std::vector<const ccBlob*> ccBlobSceneDescription::allBlobs(bool filteredOnly) const {
  std::vector<const ccBlob*> out;
  out.reserve(blobs_.size());
  for (const ccBlob& b : blobs_) {
    if (!filteredOnly || passes(b)) out.push_back(&b);
  }
  if (sortMeasure_ >= 0) {
    const int m = sortMeasure_;
    if (sortOrder_ == ccBlob::eAscending) {
      std::stable_sort(out.begin(), out.end(),
                       [m](const ccBlob* a, const ccBlob* b) { return a->m_[m] < b->m_[m]; });
    } else {
      std::stable_sort(out.begin(), out.end(),
                       [m](const ccBlob* a, const ccBlob* b) { return a->m_[m] > b->m_[m]; });
    }
  }
  return out;
}

const ccBlob& ccBlobSceneDescription::blob(std::size_t i) const {
  if (i >= blobs_.size()) throw ccBadArgument(L"ccBlobSceneDescription::blob: index out of range");
  return blobs_[i];
}

ccPelBuffer<unsigned char> ccBlobSceneDescription::makeImage(bool filteredOnly,
                                                             unsigned char background) const {
  ccPelBuffer<unsigned char> out(window_);
  if (xform_) out.clientFromImageXformBase(xform_);
  if (window_.isNull()) return out;
  cfPelSet(out, background);
  for (const ccBlob& b : blobs_) {
    if (filteredOnly && !passes(b)) continue;
    for (const Run* r = runsBegin(b); r != runsEnd(b); ++r) {
      unsigned char* p = &out.at(r->x0, r->y);
      std::fill(p, p + (r->x1 - r->x0 + 1), 1);
    }
  }
  return out;
}

ccXform<2> ccBlobSceneDescription::clientFromImageXform() const {
  if (!xform_) return ccXform<2>();
  if (!xform_->isLinear())
    throw ccBadArgument(L"The analysed image's client transform is not linear");
  return xform_->linearAt(ccVector<2>());
}

// ---------------------------------------------------------------------------------------------
// Results

ccBlobResults::ccBlobResults() : scene_(new ccBlobSceneDescription) {}
ccBlobResults::~ccBlobResults() = default;
// A moved-from results object is left empty but usable.
ccBlobResults::ccBlobResults(ccBlobResults&& o)
    : scene_(std::move(o.scene_)), rle_(std::move(o.rle_)), scratch_(std::move(o.scratch_)) {
  o.scene_.reset(new ccBlobSceneDescription);
}
ccBlobResults& ccBlobResults::operator=(ccBlobResults&& o) {
  if (this != &o) {
    scene_ = std::move(o.scene_);
    rle_ = std::move(o.rle_);
    scratch_ = std::move(o.scratch_);
    o.scene_.reset(new ccBlobSceneDescription);
  }
  return *this;
}

ccRLEBuffer ccBlobResults::takeRLE() {
  ccRLEBuffer out(std::move(rle_));
  rle_ = ccRLEBuffer();
  return out;
}
