#include "foundation/matrix.h"

#include <cmath>
#include <utility>

#include "foundation/message.h"

namespace vantrel {

namespace {

// One Jacobi rotation of the pair (u, v).
template <class T> inline void rotate(T& u, T& v, const T& s, const T& tau) {
  const T g = u;
  const T h = v;
  u = g - s * (h + tau * g);
  v = h + s * (g - tau * h);
}

}  // namespace

template <class T> std::vector<T> Matrix<T>::solve(const std::vector<T>& b) const {
  const int n = this->rows();
  if (n != this->cols()) fatal("Matrix.solve() matrix not square");
  if (std::size_t(n) != b.size()) fatal("Matrix.solve() matrix/vector mismatch");
  Matrix<T> a(*this);
  std::vector<T> x(b);
  for (int i = 0; i < n; ++i) {
    int piv = i;
    for (int k = i + 1; k < n; ++k)
      if (std::fabs(a(k, i)) > std::fabs(a(piv, i))) piv = k;
    if (piv != i) {
      for (int k = 0; k < n; ++k) std::swap(a(i, k), a(piv, k));
      std::swap(x[i], x[piv]);
    }
    const T p = a(i, i);
    for (int r = 0; r < n; ++r) {
      if (r == i) continue;
      const T f = a(r, i) / p;
      for (int k = i + 1; k < n; ++k) a(r, k) -= f * a(i, k);
      x[r] -= f * x[i];
    }
  }
  for (int i = 0; i < n; ++i) x[i] /= a(i, i);
  return x;
}

template <class T> std::vector<T> Matrix<T>::eigen(const bool sort) {
  const int n = this->rows();
  if (n != this->cols()) fatal("Matrix.eigen() matrix not square");
  Matrix<T>& a = *this;
  Matrix<T> v(n, n);
  std::vector<T> d(n), b(n), z(n);
  for (int p = 0; p < n; ++p) {
    v(p, p) = T(1);
    d[p] = b[p] = a(p, p);
  }

  for (int sweep = 1; sweep <= 50; ++sweep) {
    // Stop when the strict upper triangle is negligible against the diagonal.
    double off = 0.0, dg = 0.0;
    for (int p = 0; p < n - 1; ++p) {
      dg += std::fabs(a(p, p));
      for (int q = p + 1; q < n; ++q) off += std::fabs(a(p, q));
    }
    if (dg * 1e-12 >= off) break;

    for (int p = 0; p < n; ++p) z[p] = T(0);
    for (int p = 0; p < n - 1; ++p) {
      for (int q = p + 1; q < n; ++q) {
        const T g = a(p, q);
        if (g == T(0)) continue;
        const T h = d[q] - d[p];
        T t;
        if (std::fabs(g) > std::fabs(h) * 1e-12) {
          const T theta = T(0.5 * h / g);
          t = T(1.0 / (std::fabs(theta) + std::sqrt(theta * theta + 1.0)));
          if (theta < T(0)) t = -t;
        } else {
          t = g / h;
        }
        const T c = T(1.0 / std::sqrt(t * t + 1.0));
        const T s = t * c;
        const T tau = s / (T(1) + c);
        const T e = t * g;
        z[p] -= e;
        z[q] += e;
        d[p] -= e;
        d[q] += e;
        a(p, q) = T(0);
        for (int j = 0; j < p; ++j) rotate(a(j, p), a(j, q), s, tau);
        for (int j = p + 1; j < q; ++j) rotate(a(p, j), a(j, q), s, tau);
        for (int j = q + 1; j < n; ++j) rotate(a(p, j), a(q, j), s, tau);
        for (int j = 0; j < n; ++j) rotate(v(j, p), v(j, q), s, tau);
      }
    }
    for (int p = 0; p < n; ++p) {
      b[p] += z[p];
      d[p] = b[p];
    }
  }

  if (sort) {
    for (int p = 0; p < n; ++p) {
      int k = p;
      for (int j = p + 1; j < n; ++j)
        if (d[j] < d[k]) k = j;
      if (k != p) {
        std::swap(d[p], d[k]);
        for (int j = 0; j < n; ++j) std::swap(v(j, p), v(j, k));
      }
    }
  }
  a = v;
  return d;
}

template class Matrix<float>;
template class Matrix<double>;

}  // namespace vantrel
