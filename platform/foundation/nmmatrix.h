// SPDX-License-Identifier: Apache-2.0
// Dense matrices of doubles with run-time size, and the singular value decomposition that the
// homogeneous corner fit and the least-squares transform fits are built on.
#ifndef PLATFORM_FOUNDATION_NMMATRIX_H
#define PLATFORM_FOUNDATION_NMMATRIX_H

#include <initializer_list>
#include <vector>

#include "ccalib_export.h"

// A rows x cols matrix stored row-major. Sizes may be 0. Element indices are 0-based.
class CCALIB_EXPORT ccNMMatrix {
 public:
  // The 0 x 0 matrix.
  ccNMMatrix() = default;
  // A rows x cols matrix with every element `fill`. Throws ccBadArgument for a negative size.
  ccNMMatrix(int rows, int cols, double fill = 0.0);
  // A rows x cols matrix from its elements in row-major order. Throws ccBadArgument when the
  // number of elements is not rows * cols.
  ccNMMatrix(int rows, int cols, std::initializer_list<double> rowMajor);

  static ccNMMatrix identity(int n);
  // The square matrix with `d` on its diagonal.
  static ccNMMatrix diagonal(const std::vector<double>& d);

  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Checked access: throws ccBadArgument for an index outside the matrix.
  double element(int row, int col) const;
  void element(int row, int col, double value);
  // Unchecked access; the index must lie inside the matrix.
  double operator()(int row, int col) const {
    return data_[static_cast<std::size_t>(row) * cols_ + col];
  }
  double& operator()(int row, int col) {
    return data_[static_cast<std::size_t>(row) * cols_ + col];
  }

  ccNMMatrix transpose() const;
  // Matrix product; throws ccBadArgument when the inner sizes differ.
  ccNMMatrix operator*(const ccNMMatrix& other) const;
  ccNMMatrix operator*(double s) const;
  // Sum and difference; throw ccBadArgument when the sizes differ.
  ccNMMatrix operator+(const ccNMMatrix& other) const;
  ccNMMatrix operator-(const ccNMMatrix& other) const;
  // Largest absolute element (0 for an empty matrix).
  double maxAbs() const;

  // Singular value decomposition A = U * diag(W) * V^T of this m x n matrix, by one-sided
  // (Hestenes) Jacobi rotations, which give small singular values to high relative accuracy.
  //   W: n values, non-negative, sorted in decreasing order.
  //   V: n x n, orthonormal; column j is the right singular vector of W[j].
  //   U: m x n. When m >= n its columns are orthonormal (columns of zero or negligible singular
  //      values are completed to an orthonormal set). When m < n at least n - m singular values
  //      are 0: the first m columns of U are orthonormal and the columns of the zero singular
  //      values beyond them are 0. V still spans all of R^n, so the null space of a wide
  //      matrix is available as the trailing columns of V.
  // Throws ccMathError when an element is not finite.
  void decompose(ccNMMatrix& U, std::vector<double>& W, ccNMMatrix& V) const;

  // The least-squares solution X (n x k) of A X = B for this m x n matrix A (m >= n) and an
  // m x k right-hand side B, through the singular value decomposition. Throws ccMathError
  // when A is rank deficient, that is its smallest singular value is at most
  // relativeRankTolerance times its largest, and ccBadArgument when the sizes disagree.
  ccNMMatrix solveLeastSquares(const ccNMMatrix& B, double relativeRankTolerance) const;

 private:
  int rows_ = 0;
  int cols_ = 0;
  std::vector<double> data_;
};

#endif  // PLATFORM_FOUNDATION_NMMATRIX_H
