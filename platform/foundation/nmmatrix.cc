// SPDX-License-Identifier: Apache-2.0
// Dense matrices and their singular value decomposition by one-sided Jacobi rotations
// (Hestenes' method: orthogonalise the columns of A by plane rotations accumulated in V).
#include "platform/foundation/nmmatrix.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <string>

#include "platform/foundation/exception.h"

namespace {

constexpr double kEps = std::numeric_limits<double>::epsilon();
// Upper bound on Jacobi sweeps; convergence is quadratic and takes well under 20 sweeps for
// any matrix met here, so the bound only stops a run on pathological rounding.
constexpr int kMaxJacobiSweeps = 80;

std::wstring sizeText(int r, int c) {
  return std::to_wstring(r) + L"x" + std::to_wstring(c);
}

void requireNonNegativeSize(int rows, int cols) {
  if (rows < 0 || cols < 0)
    throw ccBadArgument(L"A matrix size cannot be negative: " + sizeText(rows, cols));
}

// Orthonormal completion: a unit vector of length m orthogonal to the first `count` columns
// (column-major, each of length m) of `basis`, or false when they already span R^m.
bool completeBasis(const std::vector<double>& basis, int count, int m, std::vector<double>& out) {
  if (count >= m) return false;
  out.assign(static_cast<std::size_t>(m), 0.0);
  for (int k = 0; k < m; ++k) {
    std::fill(out.begin(), out.end(), 0.0);
    out[static_cast<std::size_t>(k)] = 1.0;
    // Two Gram-Schmidt passes keep the result orthogonal to working precision.
    for (int pass = 0; pass < 2; ++pass) {
      for (int c = 0; c < count; ++c) {
        const double* b = &basis[static_cast<std::size_t>(c) * m];
        double d = 0.0;
        for (int i = 0; i < m; ++i) d += b[i] * out[static_cast<std::size_t>(i)];
        for (int i = 0; i < m; ++i) out[static_cast<std::size_t>(i)] -= d * b[i];
      }
    }
    double norm = 0.0;
    for (double v : out) norm += v * v;
    norm = std::sqrt(norm);
    // A standard basis vector keeps at least 1/sqrt(m) of its length outside any proper
    // subspace for some k; 0.5/sqrt(m) leaves margin for rounding.
    if (norm > 0.5 / std::sqrt(static_cast<double>(m))) {
      for (double& v : out) v /= norm;
      return true;
    }
  }
  return false;
}

}  // namespace

ccNMMatrix::ccNMMatrix(int rows, int cols, double fill) : rows_(rows), cols_(cols) {
  requireNonNegativeSize(rows, cols);
  data_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), fill);
}

ccNMMatrix::ccNMMatrix(int rows, int cols, std::initializer_list<double> rowMajor)
    : rows_(rows), cols_(cols) {
  requireNonNegativeSize(rows, cols);
  if (rowMajor.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols)) {
    throw ccBadArgument(L"The element list does not fill a " + sizeText(rows, cols) + L" matrix");
  }
  data_.assign(rowMajor.begin(), rowMajor.end());
}

ccNMMatrix ccNMMatrix::identity(int n) {
  ccNMMatrix m(n, n);
  for (int i = 0; i < n; ++i) m(i, i) = 1.0;
  return m;
}

ccNMMatrix ccNMMatrix::diagonal(const std::vector<double>& d) {
  int n = static_cast<int>(d.size());
  ccNMMatrix m(n, n);
  for (int i = 0; i < n; ++i) m(i, i) = d[static_cast<std::size_t>(i)];
  return m;
}

double ccNMMatrix::element(int row, int col) const {
  if (row < 0 || col < 0 || row >= rows_ || col >= cols_) {
    throw ccBadArgument(L"Matrix index (" + std::to_wstring(row) + L", " + std::to_wstring(col) +
                        L") lies outside a " + sizeText(rows_, cols_) + L" matrix");
  }
  return (*this)(row, col);
}

void ccNMMatrix::element(int row, int col, double value) {
  element(row, col);  // bounds check
  (*this)(row, col) = value;
}

ccNMMatrix ccNMMatrix::transpose() const {
  ccNMMatrix t(cols_, rows_);
  for (int r = 0; r < rows_; ++r)
    for (int c = 0; c < cols_; ++c) t(c, r) = (*this)(r, c);
  return t;
}

ccNMMatrix ccNMMatrix::operator*(const ccNMMatrix& o) const {
  if (cols_ != o.rows_) {
    throw ccBadArgument(L"Cannot multiply a " + sizeText(rows_, cols_) + L" matrix by a " +
                        sizeText(o.rows_, o.cols_) + L" matrix");
  }
  ccNMMatrix p(rows_, o.cols_);
  for (int r = 0; r < rows_; ++r) {
    for (int k = 0; k < cols_; ++k) {
      double a = (*this)(r, k);
      if (a == 0.0) continue;
      for (int c = 0; c < o.cols_; ++c) p(r, c) += a * o(k, c);
    }
  }
  return p;
}

ccNMMatrix ccNMMatrix::operator*(double s) const {
  ccNMMatrix p = *this;
  for (double& v : p.data_) v *= s;
  return p;
}

ccNMMatrix ccNMMatrix::operator+(const ccNMMatrix& o) const {
  if (rows_ != o.rows_ || cols_ != o.cols_) {
    throw ccBadArgument(L"Cannot add a " + sizeText(rows_, cols_) + L" and a " +
                        sizeText(o.rows_, o.cols_) + L" matrix");
  }
  ccNMMatrix s = *this;
  for (std::size_t i = 0; i < data_.size(); ++i) s.data_[i] += o.data_[i];
  return s;
}

ccNMMatrix ccNMMatrix::operator-(const ccNMMatrix& o) const {
  return *this + o * -1.0;
}

double ccNMMatrix::maxAbs() const {
  double m = 0.0;
  for (double v : data_) m = std::max(m, std::fabs(v));
  return m;
}

void ccNMMatrix::decompose(ccNMMatrix& U, std::vector<double>& W, ccNMMatrix& V) const {
  const int m = rows_, n = cols_;
  for (double v : data_) {
    if (!std::isfinite(v))
      throw ccMathError(L"Cannot decompose a matrix that holds a non-finite element");
  }
  const std::size_t um = static_cast<std::size_t>(m), un = static_cast<std::size_t>(n);

  // Column-major working copies: g holds the columns of A V, v the columns of V.
  std::vector<double> g(um * un), v(un * un, 0.0);
  for (int r = 0; r < m; ++r)
    for (int c = 0; c < n; ++c)
      g[static_cast<std::size_t>(c) * um + static_cast<std::size_t>(r)] = (*this)(r, c);
  for (int i = 0; i < n; ++i)
    v[static_cast<std::size_t>(i) * un + static_cast<std::size_t>(i)] = 1.0;

  // Columns count as orthogonal when |gi . gj| <= tol |gi| |gj|; the tolerance allows for the
  // rounding of an m-term dot product.
  const double tol = 2.0 * kEps * std::max(1, m);
  for (int sweep = 0; sweep < kMaxJacobiSweeps; ++sweep) {
    bool rotated = false;
    for (int i = 0; i + 1 < n; ++i) {
      double* gi = &g[static_cast<std::size_t>(i) * um];
      for (int j = i + 1; j < n; ++j) {
        double* gj = &g[static_cast<std::size_t>(j) * um];
        double alpha = 0.0, beta = 0.0, gamma = 0.0;
        for (int k = 0; k < m; ++k) {
          alpha += gi[k] * gi[k];
          beta += gj[k] * gj[k];
          gamma += gi[k] * gj[k];
        }
        if (gamma == 0.0 || std::fabs(gamma) <= tol * std::sqrt(alpha * beta)) continue;
        rotated = true;
        double zeta = (beta - alpha) / (2.0 * gamma);
        double t = (zeta >= 0.0 ? 1.0 : -1.0) / (std::fabs(zeta) + std::sqrt(1.0 + zeta * zeta));
        double c = 1.0 / std::sqrt(1.0 + t * t), s = c * t;
        for (int k = 0; k < m; ++k) {
          double a = gi[k], b = gj[k];
          gi[k] = c * a - s * b;
          gj[k] = s * a + c * b;
        }
        double* vi = &v[static_cast<std::size_t>(i) * un];
        double* vj = &v[static_cast<std::size_t>(j) * un];
        for (int k = 0; k < n; ++k) {
          double a = vi[k], b = vj[k];
          vi[k] = c * a - s * b;
          vj[k] = s * a + c * b;
        }
      }
    }
    if (!rotated) break;
  }

  std::vector<double> norms(un);
  for (int j = 0; j < n; ++j) {
    const double* gj = &g[static_cast<std::size_t>(j) * um];
    double s = 0.0;
    for (int k = 0; k < m; ++k) s += gj[k] * gj[k];
    norms[static_cast<std::size_t>(j)] = std::sqrt(s);
  }
  std::vector<int> order(un);
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return norms[static_cast<std::size_t>(a)] > norms[static_cast<std::size_t>(b)];
  });

  W.assign(un, 0.0);
  U = ccNMMatrix(m, n);
  V = ccNMMatrix(n, n);
  const double wMax = n > 0 ? norms[static_cast<std::size_t>(order[0])] : 0.0;
  // Below this a column of A V is rounding noise: its direction is meaningless, so the
  // column of U is completed instead of normalised (the reconstruction error stays below
  // the noise level itself).
  const double negligible = kEps * std::max(m, n) * wMax;

  std::vector<double> basis;  // accepted columns of U, column-major
  basis.reserve(um * un);
  std::vector<int> basisColumn;
  for (int j = 0; j < n; ++j) {
    int src = order[static_cast<std::size_t>(j)];
    double w = norms[static_cast<std::size_t>(src)];
    W[static_cast<std::size_t>(j)] = w;
    for (int k = 0; k < n; ++k)
      V(k, j) = v[static_cast<std::size_t>(src) * un + static_cast<std::size_t>(k)];
    if (w > negligible && w > 0.0) {
      const double* gs = &g[static_cast<std::size_t>(src) * um];
      for (int k = 0; k < m; ++k) basis.push_back(gs[k] / w);
      basisColumn.push_back(j);
    }
  }
  // Completion for the negligible columns, in singular-value order, while room is left.
  std::vector<double> extra;
  int accepted = static_cast<int>(basisColumn.size());
  for (int j = accepted; j < n; ++j) {
    if (!completeBasis(basis, static_cast<int>(basisColumn.size()), m, extra)) break;
    basis.insert(basis.end(), extra.begin(), extra.end());
    basisColumn.push_back(j);
  }
  for (std::size_t c = 0; c < basisColumn.size(); ++c)
    for (int k = 0; k < m; ++k) U(k, basisColumn[c]) = basis[c * um + static_cast<std::size_t>(k)];
}

ccNMMatrix ccNMMatrix::solveLeastSquares(const ccNMMatrix& B, double relativeRankTolerance) const {
  if (B.rows_ != rows_) {
    throw ccBadArgument(L"The right-hand side has " + std::to_wstring(B.rows_) +
                        L" rows, the matrix " + std::to_wstring(rows_));
  }
  if (rows_ < cols_) {
    throw ccMathError(L"Least squares needs at least as many equations as unknowns (" +
                      std::to_wstring(rows_) + L" < " + std::to_wstring(cols_) + L")");
  }
  const int m = rows_, n = cols_, k = B.cols_;
  // Householder QR first: R (n x n) has the singular values of A, and the Jacobi sweeps then
  // run on n rows instead of m. Columns are held contiguously (column-major) for the
  // reflections.
  const std::size_t um = static_cast<std::size_t>(m);
  std::vector<double> a(um * static_cast<std::size_t>(n + k));  // columns of A, then of B
  for (int i = 0; i < m; ++i) {
    for (int c = 0; c < n; ++c)
      a[static_cast<std::size_t>(c) * um + static_cast<std::size_t>(i)] = (*this)(i, c);
    for (int c = 0; c < k; ++c)
      a[static_cast<std::size_t>(n + c) * um + static_cast<std::size_t>(i)] = B(i, c);
  }
  for (int j = 0; j < n; ++j) {
    double* x = &a[static_cast<std::size_t>(j) * um];
    double norm = 0.0;
    for (int i = j; i < m; ++i) norm += x[i] * x[i];
    norm = std::sqrt(norm);
    if (norm == 0.0) continue;
    // Reflect x[j..m) onto alpha e_j with v = x - alpha e_j; alpha takes the sign that avoids
    // cancellation.
    const double alpha = x[j] > 0.0 ? -norm : norm;
    const double vj = x[j] - alpha;
    const double vv = vj * vj + (norm * norm - x[j] * x[j]);
    if (!(vv > 0.0)) continue;
    for (int c = j + 1; c < n + k; ++c) {
      double* y = &a[static_cast<std::size_t>(c) * um];
      double d = vj * y[j];
      for (int i = j + 1; i < m; ++i) d += x[i] * y[i];
      d *= 2.0 / vv;
      y[j] -= d * vj;
      for (int i = j + 1; i < m; ++i) y[i] -= d * x[i];
    }
    x[j] = alpha;
  }
  ccNMMatrix rTop(n, n), bTop(n, k);
  for (int i = 0; i < n; ++i) {
    for (int c = i; c < n; ++c)
      rTop(i, c) = a[static_cast<std::size_t>(c) * um + static_cast<std::size_t>(i)];
    for (int c = 0; c < k; ++c)
      bTop(i, c) = a[static_cast<std::size_t>(n + c) * um + static_cast<std::size_t>(i)];
  }

  ccNMMatrix U, V;
  std::vector<double> W;
  rTop.decompose(U, W, V);
  if (n > 0 && !(W.back() > relativeRankTolerance * W.front())) {
    throw ccMathError(L"The least-squares system is rank deficient");
  }
  ccNMMatrix utb = U.transpose() * bTop;
  for (int i = 0; i < utb.rows_; ++i)
    for (int c = 0; c < utb.cols_; ++c) utb(i, c) /= W[static_cast<std::size_t>(i)];
  return V * utb;
}
