#include "foundation/vec_mat.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "foundation/matrix.h"

namespace vantrel {

template <class T> Mat33<T> Mat33sym<T>::sqrt() const {
  Matrix<double> v(3, 3);
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j) v(i, j) = double((*this)(i, j));
  const std::vector<double> lambda = v.eigen(false);

  // Eigenvalues that are zero within rounding are taken as zero, so that a
  // positive semi-definite matrix keeps a finite root.
  double scale = 0.0;
  for (const double l : lambda) scale = std::max(scale, std::fabs(l));
  double root[3];
  for (int k = 0; k < 3; ++k)
    root[k] = std::fabs(lambda[k]) <= 1e-14 * scale ? 0.0 : std::sqrt(lambda[k]);

  Mat33<T> s;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      s(i, j) = T(v(i, 0) * root[0] * v(j, 0) + v(i, 1) * root[1] * v(j, 1) +
                  v(i, 2) * root[2] * v(j, 2));
  return s;
}

template Mat33<float> Mat33sym<float>::sqrt() const;
template Mat33<double> Mat33sym<double>::sqrt() const;

}  // namespace vantrel
