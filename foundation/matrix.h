// Rectangular tables (Array2d) and dense numeric matrices (Matrix) with
// symmetric eigen-decomposition and linear solve.
#ifndef VANTREL_FOUNDATION_MATRIX_H
#define VANTREL_FOUNDATION_MATRIX_H

#include <vector>

namespace vantrel {

//! A rows x cols table stored row by row: element (i, j) is data[i*cols + j].
template <class T> class Array2d {
 public:
  Array2d() : rows_(0), cols_(0) {}
  //! Value-initialised elements (0 for numbers, null for pointers).
  Array2d(const int& rows, const int& cols)
      : data_(std::size_t(rows) * cols), rows_(rows), cols_(cols) {}
  Array2d(const int& rows, const int& cols, const T& value)
      : data_(std::size_t(rows) * cols, value), rows_(rows), cols_(cols) {}

  //! New shape; every element value-initialised.
  void resize(const int& rows, const int& cols) { *this = Array2d(rows, cols); }
  //! New shape; every element equal to value.
  void resize(const int& rows, const int& cols, const T& value) {
    *this = Array2d(rows, cols, value);
  }

  T& operator()(const int& i, const int& j) { return data_[i * cols_ + j]; }
  const T& operator()(const int& i, const int& j) const { return data_[i * cols_ + j]; }
  const int& rows() const { return rows_; }
  const int& cols() const { return cols_; }

 private:
  std::vector<T> data_;
  int rows_;
  int cols_;
};

//! A dense row-major matrix of float or double.
template <class T> class Matrix : public Array2d<T> {
 public:
  Matrix() {}
  //! rows x cols zeros.
  Matrix(const int& rows, const int& cols) : Array2d<T>(rows, cols, T(0)) {}
  Matrix(const int& rows, const int& cols, T value) : Array2d<T>(rows, cols, value) {}

  //! The x with M x = b, by Gauss-Jordan elimination with partial pivoting.
  /*! The matrix is not changed. A non-square matrix or a b of the wrong
    length is a fatal error; a singular matrix gives non-finite values. */
  std::vector<T> solve(const std::vector<T>& b) const;

  //! Eigenvalues of this symmetric matrix by cyclic Jacobi rotations.
  /*! Reads the upper triangle and the diagonal only. The matrix is replaced
    by its eigenvectors, column k belonging to eigenvalue k; with sort the
    eigenvalues are in ascending order. A non-square matrix is fatal. */
  std::vector<T> eigen(const bool sort = true);
};

}  // namespace vantrel

#endif
