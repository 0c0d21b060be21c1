// SPDX-License-Identifier: Apache-2.0
// Run-length images: encoding, decoding and region operations.
#include "platform/foundation/rle_buffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/foundation/archive.h"

namespace {

// Largest pixel count (width x height) an archive may describe: keeps a hostile stream that
// claims a huge, cheaply encoded image from making image() allocate without bound.
constexpr std::uint64_t kMaxArchivedPixels = std::uint64_t{1} << 28;
// Largest side accepted anywhere, so that run starts and lengths fit 32-bit fields.
constexpr long kMaxSide = std::numeric_limits<std::int32_t>::max() / 2;

const ccRLEBuffer::Shape kLastShape = ccRLEBuffer::eShapeCross3;

cc_Instantiator gExemplar(typeid(ccRLEBuffer), &ccRLEBuffer::make);

void checkSize(const ccPelRect& window) {
  if (window.width() < 0 || window.height() < 0)
    throw ccPel::BadWindow(L"ccRLEBuffer: negative size");
  if (window.width() > kMaxSide || window.height() > kMaxSide) {
    throw ccPel::BadWindow(L"ccRLEBuffer: the window is too large");
  }
}

// Encodes one row of n pixels as runs and closes the row in the row table.
void appendRowTo(std::vector<ccRLEBuffer::Run>& runs, std::vector<std::size_t>& rowStart,
                 const unsigned char* p, long n) {
  long i = 0;
  while (i < n) {
    unsigned char v = p[i];
    long s = i;
    while (i < n && p[i] == v) ++i;
    runs.push_back(
        ccRLEBuffer::Run{static_cast<std::int32_t>(s), static_cast<std::int32_t>(i - s), v});
  }
  rowStart.push_back(runs.size());
}

// Decodes row runs into `out` (which holds the row's width).
void decodeRow(const ccRLEBuffer::Run* b, const ccRLEBuffer::Run* e, unsigned char* out) {
  for (const ccRLEBuffer::Run* r = b; r != e; ++r)
    std::memset(out + r->start, r->value, static_cast<std::size_t>(r->length));
}

}  // namespace

ccRLEBuffer::~ccRLEBuffer() = default;

ccPersistent* ccRLEBuffer::make() {
  return new ccRLEBuffer;
}

ccRLEBuffer::ccRLEBuffer(const ccPelBuffer_const<unsigned char>& image) {
  encode(image);
}

ccRLEBuffer::ccRLEBuffer(const ccPelRect& window, unsigned char value) {
  checkSize(window);
  x_ = window.x();
  y_ = window.y();
  width_ = window.width();
  height_ = window.height();
  rowStart_.assign(1, 0);
  rowStart_.reserve(static_cast<std::size_t>(height_) + 1);
  for (long j = 0; j < height_; ++j) {
    if (width_ > 0) runs_.push_back(Run{0, static_cast<std::int32_t>(width_), value});
    rowStart_.push_back(runs_.size());
  }
}

ccRLEBuffer::ccRLEBuffer(const ccPelRect& window, const std::vector<Run>& runs,
                         const std::vector<std::size_t>& rowStart) {
  assign(window, runs, rowStart);
}

void ccRLEBuffer::assign(const ccPelRect& window, const std::vector<Run>& runs,
                         const std::vector<std::size_t>& rowStart) try {
  checkSize(window);
  if (rowStart.size() != static_cast<std::size_t>(window.height()) + 1 || rowStart.front() != 0 ||
      rowStart.back() != runs.size()) {
    throw ccBadArgument(
        L"ccRLEBuffer: the row table does not match the window height and the runs");
  }
  std::vector<RowRange> rows(static_cast<std::size_t>(window.height()));
  for (std::size_t j = 0; j < rows.size(); ++j) {
    if (rowStart[j + 1] < rowStart[j])
      throw ccBadArgument(L"ccRLEBuffer: the row table is not increasing");
    rows[j] = RowRange(runs.data() + rowStart[j], runs.data() + rowStart[j + 1]);
  }
  assign(window, rows);
} catch (...) {
  makeDegenerate();
  throw;
}

void ccRLEBuffer::assign(const ccPelRect& window, const std::vector<RowRange>& rows) try {
  checkSize(window);
  if (rows.size() != static_cast<std::size_t>(window.height())) {
    throw ccBadArgument(L"ccRLEBuffer: the row table does not match the window height");
  }
  std::size_t total = 0;
  for (const RowRange& r : rows) {
    if (r.second < r.first) throw ccBadArgument(L"ccRLEBuffer: a row range ends before it starts");
    total += static_cast<std::size_t>(r.second - r.first);
  }
  mutating();
  x_ = window.x();
  y_ = window.y();
  width_ = window.width();
  height_ = window.height();
  runs_.clear();
  runs_.reserve(total);
  rowStart_.assign(1, 0);
  rowStart_.reserve(rows.size() + 1);
  for (const RowRange& r : rows) {
    const std::size_t first = runs_.size();
    long next = 0;
    for (const Run* q = r.first; q != r.second; ++q) {
      if (q->start != next || q->length <= 0 || q->start + static_cast<long>(q->length) > width_) {
        throw ccBadArgument(L"ccRLEBuffer: the runs do not partition their row");
      }
      next = q->start + static_cast<long>(q->length);
      if (runs_.size() > first && runs_.back().value == q->value) {
        runs_.back().length += q->length;
      } else {
        runs_.push_back(*q);
      }
    }
    if (next != width_) throw ccBadArgument(L"ccRLEBuffer: the runs do not cover their row");
    rowStart_.push_back(runs_.size());
  }
} catch (...) {
  makeDegenerate();
  throw;
}

// Invalid runs leave the buffer degenerate rather than half-filled.
void ccRLEBuffer::makeDegenerate() {
  x_ = y_ = width_ = height_ = 0;
  runs_.clear();
  rowStart_.assign(1, 0);
}

void ccRLEBuffer::appendRow(const unsigned char* p, long n) {
  appendRowTo(runs_, rowStart_, p, n);
}

void ccRLEBuffer::encode(const ccPelBuffer_const<unsigned char>& image) {
  image.requireBound();
  checkSize(image.window());
  mutating();
  x_ = image.offset().x();
  y_ = image.offset().y();
  width_ = image.width();
  height_ = image.height();
  // Counting the runs first costs a quick pass over the pixels and spares a busy image the
  // copies (and twice the fresh memory) of a growing run array.
  std::size_t total = 0;
  for (long j = 0; j < height_ && width_ > 0; ++j) {
    const unsigned char* p = image.row(j);
    std::size_t changes = 1;
    for (long i = 1; i < width_; ++i) changes += p[i] != p[i - 1];
    total += changes;
  }
  runs_.clear();
  runs_.reserve(total);
  rowStart_.assign(1, 0);
  rowStart_.reserve(static_cast<std::size_t>(height_) + 1);
  for (long j = 0; j < height_; ++j) appendRow(image.row(j), width_);
}

ccPelBuffer<unsigned char> ccRLEBuffer::image() const {
  ccPelBuffer<unsigned char> out(window());
  for (long j = 0; j < height_; ++j) decodeRow(rowBegin(j), rowEnd(j), out.row(j));
  return out;
}

unsigned char ccRLEBuffer::value(long x, long y) const {
  if (!window().contains(x, y))
    throw ccPel::BadWindow(L"ccRLEBuffer::value: the pixel lies outside the window");
  const Run* b = rowBegin(y - y_);
  const Run* e = rowEnd(y - y_);
  long c = x - x_;
  const Run* r = std::upper_bound(b, e, c, [](long v, const Run& run) { return v < run.start; });
  return (r - 1)->value;
}

ccRLEBuffer ccRLEBuffer::map(const std::vector<unsigned char>& table) const {
  ccRLEBuffer out(*this);
  out.remap(table);
  return out;
}

void ccRLEBuffer::remap(const std::vector<unsigned char>& table) {
  for (const Run& r : runs_) {
    if (r.value >= table.size()) {
      throw ccBadArgument(L"ccRLEBuffer::map: the table has no entry for a value in the image");
    }
  }
  mutating();
  // Compacts in place: the write position never passes the read position.
  std::size_t w = 0;
  for (long j = 0; j < height_; ++j) {
    const std::size_t b = rowStart_[static_cast<std::size_t>(j)],
                      e = rowStart_[static_cast<std::size_t>(j) + 1];
    const std::size_t first = w;
    for (std::size_t k = b; k < e; ++k) {
      const Run r = runs_[k];
      const unsigned char v = table[r.value];
      if (w > first && runs_[w - 1].value == v) {
        runs_[w - 1].length += r.length;
      } else {
        runs_[w++] = Run{r.start, r.length, v};
      }
    }
    rowStart_[static_cast<std::size_t>(j)] = first;
  }
  rowStart_[static_cast<std::size_t>(height_)] = w;
  runs_.resize(w);
}

void ccRLEBuffer::mask(const ccRLEBuffer& m, int maskValue, int setValue, bool invert) {
  if (maskValue < 0 || maskValue > 255 || setValue < 0 || setValue > 255) {
    throw ccBadArgument(L"ccRLEBuffer::mask: values must lie in 0..255");
  }
  ccPelRect common = window() & m.window();
  if (common.isNull()) return;
  mutating();
  std::vector<unsigned char> row(static_cast<std::size_t>(width_));
  std::vector<Run> runs;
  std::vector<std::size_t> rowStart(1, 0);
  runs.reserve(runs_.size());
  const long dx = m.x_ - x_;  // mask column 0 in this buffer's columns
  for (long j = 0; j < height_; ++j) {
    long y = y_ + j;
    if (y < common.y() || y >= common.y() + common.height()) {
      runs.insert(runs.end(), rowBegin(j), rowEnd(j));
      rowStart.push_back(runs.size());
      continue;
    }
    decodeRow(rowBegin(j), rowEnd(j), row.data());
    for (const Run* r = m.rowBegin(y - m.y_); r != m.rowEnd(y - m.y_); ++r) {
      bool hit = (r->value == maskValue) != invert;
      if (!hit) continue;
      long a = std::max<long>(0, r->start + dx);
      long b = std::min<long>(width_, r->start + dx + r->length);
      if (b > a) std::memset(row.data() + a, setValue, static_cast<std::size_t>(b - a));
    }
    appendRowTo(runs, rowStart, row.data(), width_);
  }
  runs_.swap(runs);
  rowStart_.swap(rowStart);
}

ccRLEBuffer ccRLEBuffer::gmorphMax(int shape) const {
  if (shape < 0 || shape > kLastShape)
    throw ccBadArgument(L"ccRLEBuffer::gmorphMax: unknown shape");
  if (degen()) return *this;
  const bool horizontal = shape != eShapeVertical3;
  const bool vertical = shape != eShapeHorizontal3;
  const std::size_t w = static_cast<std::size_t>(width_);
  // Rows of the input (decoded), their horizontal maxima, and the output row.
  std::vector<unsigned char> above(w), cur(w), below(w), hcur(w), habove(w), hbelow(w), out(w);
  auto hmax = [&](const std::vector<unsigned char>& in, std::vector<unsigned char>& res) {
    if (!horizontal) {
      res = in;
      return;
    }
    for (std::size_t i = 0; i < w; ++i) {
      unsigned char v = in[i];
      if (i > 0) v = std::max(v, in[i - 1]);
      if (i + 1 < w) v = std::max(v, in[i + 1]);
      res[i] = v;
    }
  };
  ccRLEBuffer result;
  result.x_ = x_;
  result.y_ = y_;
  result.width_ = width_;
  result.height_ = height_;
  result.runs_.reserve(runs_.size());
  decodeRow(rowBegin(0), rowEnd(0), cur.data());
  for (long j = 0; j < height_; ++j) {
    if (j + 1 < height_) decodeRow(rowBegin(j + 1), rowEnd(j + 1), below.data());
    hmax(cur, hcur);
    out = shape == eShapeCross3 ? cur : hcur;
    if (vertical) {
      // The cross takes only the pixel straight above and below; the square their rows' maxima.
      const std::vector<unsigned char>& up = shape == eShapeCross3 ? above : habove;
      if (j > 0) {
        if (shape != eShapeCross3) hmax(above, habove);
        for (std::size_t i = 0; i < w; ++i) out[i] = std::max(out[i], up[i]);
      }
      if (j + 1 < height_) {
        if (shape != eShapeCross3) hmax(below, hbelow);
        const std::vector<unsigned char>& dn = shape == eShapeCross3 ? below : hbelow;
        for (std::size_t i = 0; i < w; ++i) out[i] = std::max(out[i], dn[i]);
      }
      if (shape == eShapeCross3) {
        for (std::size_t i = 0; i < w; ++i) out[i] = std::max(out[i], hcur[i]);
      }
    }
    result.appendRow(out.data(), width_);
    above.swap(cur);
    cur.swap(below);
  }
  return result;
}

ccRLEBuffer ccRLEBuffer::rewindow(const ccPelRect& window, unsigned char fill) const {
  checkSize(window);
  ccRLEBuffer out(window, fill);
  ccPelRect common = this->window() & window;
  if (common.isNull()) return out;
  std::vector<unsigned char> row(static_cast<std::size_t>(window.width()));
  std::vector<unsigned char> src(static_cast<std::size_t>(width_));
  out.runs_.clear();
  out.rowStart_.assign(1, 0);
  for (long j = 0; j < window.height(); ++j) {
    long y = window.y() + j;
    std::fill(row.begin(), row.end(), fill);
    if (y >= common.y() && y < common.y() + common.height()) {
      decodeRow(rowBegin(y - y_), rowEnd(y - y_), src.data());
      std::memcpy(row.data() + (common.x() - window.x()), src.data() + (common.x() - x_),
                  static_cast<std::size_t>(common.width()));
    }
    out.appendRow(row.data(), window.width());
  }
  return out;
}

std::vector<unsigned long> ccRLEBuffer::histogram() const {
  std::vector<unsigned long> h(256, 0);
  for (const Run& r : runs_) h[r.value] += static_cast<unsigned long>(r.length);
  return h;
}

std::vector<unsigned long> ccRLEBuffer::histogramUnder(
    const ccPelBuffer_const<unsigned char>& image) const {
  image.requireBound();
  std::vector<unsigned long> h(256, 0);
  const ccPelRect win = image.window();
  for (long j = 0; j < height_; ++j) {
    long y = y_ + j;
    for (const Run* r = rowBegin(j); r != rowEnd(j); ++r) {
      if (r->value == 0) continue;
      long a = x_ + r->start, b = a + r->length;  // [a, b) in the image frame
      if (y < win.y() || y >= win.y() + win.height() || a < win.x() || b > win.x() + win.width()) {
        throw ccPel::BadWindow(
            L"ccRLEBuffer::histogramUnder: the region reaches outside the image");
      }
      const unsigned char* p = &image.at(a, y);
      for (long i = 0; i < b - a; ++i) ++h[p[i]];
    }
  }
  return h;
}

std::size_t ccRLEBuffer::countNonZero() const {
  std::size_t n = 0;
  for (const Run& r : runs_) {
    if (r.value != 0) n += static_cast<std::size_t>(r.length);
  }
  return n;
}

bool ccRLEBuffer::operator==(const ccRLEBuffer& o) const {
  if (window() != o.window() || runs_.size() != o.runs_.size() || rowStart_ != o.rowStart_)
    return false;
  for (std::size_t k = 0; k < runs_.size(); ++k) {
    const Run &a = runs_[k], &b = o.runs_[k];
    if (a.start != b.start || a.length != b.length || a.value != b.value) return false;
  }
  return true;
}

void ccRLEBuffer::dispatchSerialize(ccArchive& ar) {
  if (haveVisited(ar, this, sizeof(ccRLEBuffer))) return;
  unsigned char version = 0;
  ar || version;
  if (version != 0) throw ccArchive::UnknownVersion("ccRLEBuffer", version);
  ccPersistent::dispatchSerialize(ar);
  long x = x_, y = y_, w = width_;
  ar || x;
  ar || y;
  // Every row carries at least its 4-byte run count, which bounds the height by the stream.
  std::uint32_t h = ar.exchangeCount(static_cast<std::size_t>(height_), 4);
  ar || w;
  if (ar.isStoring()) {
    for (long j = 0; j < height_; ++j) {
      ar.exchangeCount(static_cast<std::size_t>(rowEnd(j) - rowBegin(j)), 5);
      for (const Run* r = rowBegin(j); r != rowEnd(j); ++r) {
        std::int32_t len = r->length;
        unsigned char v = r->value;
        ar || len;
        ar || v;
      }
    }
    setVisited(ar, this, sizeof(ccRLEBuffer));
    return;
  }
  if (w < 0 || w > kMaxSide || static_cast<std::uint64_t>(w) * h > kMaxArchivedPixels) {
    throw ccArchive::BadData(L"ccRLEBuffer: the archived image size is invalid");
  }
  std::vector<Run> runs;
  std::vector<std::size_t> rowStart(1, 0);
  rowStart.reserve(static_cast<std::size_t>(h) + 1);
  for (std::uint32_t j = 0; j < h; ++j) {
    std::uint32_t n = ar.exchangeCount(0, 5);
    if (n > static_cast<std::uint64_t>(w))
      throw ccArchive::BadData(L"ccRLEBuffer: a row holds too many runs");
    long next = 0;
    for (std::uint32_t k = 0; k < n; ++k) {
      std::int32_t len = 0;
      unsigned char v = 0;
      ar || len;
      ar || v;
      if (len <= 0 || len > w - next)
        throw ccArchive::BadData(L"ccRLEBuffer: a run does not fit its row");
      if (k > 0 && runs.back().value == v) {
        runs.back().length += len;  // keep adjacent runs distinct
      } else {
        runs.push_back(Run{static_cast<std::int32_t>(next), len, v});
      }
      next += len;
    }
    if (next != w) throw ccArchive::BadData(L"ccRLEBuffer: the runs do not cover their row");
    rowStart.push_back(runs.size());
  }
  mutating();
  x_ = x;
  y_ = y;
  width_ = w;
  height_ = static_cast<long>(h);
  runs_.swap(runs);
  rowStart_.swap(rowStart);
  setVisited(ar, this, sizeof(ccRLEBuffer));
}
