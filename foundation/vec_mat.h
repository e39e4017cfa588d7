// Small fixed-size vector and matrix values: Vec3, Mat33 and Mat33sym.
#ifndef VANTREL_FOUNDATION_VEC_MAT_H
#define VANTREL_FOUNDATION_VEC_MAT_H

#include <cmath>

#include "foundation/util.h"
#include "foundation/vstring.h"

namespace vantrel {

template <class T> class Mat33sym;

//! A 3-vector (x, y, z).  The default constructor leaves the elements unset.
template <class T = double> class Vec3 {
 public:
  Vec3() {}
  constexpr Vec3(const T& x, const T& y, const T& z) : v_{x, y, z} {}
  //! Element-wise conversion from a vector of another element type.
  template <class TT> explicit Vec3(const Vec3<TT>& v) : v_{T(v[0]), T(v[1]), T(v[2])} {}

  T& operator[](const int& i) { return v_[i]; }
  const T& operator[](const int& i) const { return v_[i]; }

  //! True when the Euclidean distance to v is at most tol.
  bool equals(const Vec3<T>& v, const T& tol) const {
    double s = 0.0;
    for (int i = 0; i < 3; ++i) {
      const double d = T(v_[i] - v.v_[i]);
      s += d * d;
    }
    return s <= double(tol) * double(tol);
  }
  //! Null when x is missing; y and z are not examined.
  bool is_null() const { return Util::is_nan(v_[0]); }

  static Vec3<T> zero() { return Vec3<T>(T(0), T(0), T(0)); }
  static Vec3<T> null() { return Vec3<T>(T(Util::nan()), T(0), T(0)); }

  //! The vector scaled to unit length (no guard for the zero vector).
  Vec3<T> unit() const {
    const T ss = v_[0] * v_[0] + v_[1] * v_[1] + v_[2] * v_[2];
    const T s = T(1.0 / std::sqrt(double(ss)));
    return Vec3<T>(v_[0] * s, v_[1] * s, v_[2] * s);
  }
  static T dot(const Vec3<T>& a, const Vec3<T>& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
  }
  static Vec3<T> cross(const Vec3<T>& a, const Vec3<T>& b) {
    return Vec3<T>(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
  }

  Vec3<T>& operator+=(const Vec3<T>& v) {
    for (int i = 0; i < 3; ++i) v_[i] += v.v_[i];
    return *this;
  }
  Vec3<T>& operator-=(const Vec3<T>& v) {
    for (int i = 0; i < 3; ++i) v_[i] -= v.v_[i];
    return *this;
  }

  //! "(x,y,z)", each number in a field of 10 with 4 significant digits.
  String format() const {
    return "(" + String(double(v_[0]), 10, 4) + "," + String(double(v_[1]), 10, 4) + "," +
           String(double(v_[2]), 10, 4) + ")";
  }

 private:
  T v_[3];
};

//! A row-major 3x3 matrix acting on column vectors.  The default
//! constructor leaves the elements unset.
template <class T = double> class Mat33 {
 public:
  Mat33() {}
  constexpr Mat33(const T& m00, const T& m01, const T& m02, const T& m10, const T& m11,
                  const T& m12, const T& m20, const T& m21, const T& m22)
      : m_{{m00, m01, m02}, {m10, m11, m12}, {m20, m21, m22}} {}
  //! The full matrix of a symmetric one.
  template <class TT> explicit Mat33(const Mat33sym<TT>& m);
  //! Element-wise conversion from a matrix of another element type.
  template <class TT> explicit Mat33(const Mat33<TT>& m) {
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) m_[i][j] = T(m(i, j));
  }

  T& operator()(const int& i, const int& j) { return m_[i][j]; }
  const T& operator()(const int& i, const int& j) const { return m_[i][j]; }

  T det() const {
    return m_[0][0] * (m_[1][1] * m_[2][2] - m_[1][2] * m_[2][1]) +
           m_[0][1] * (m_[1][2] * m_[2][0] - m_[1][0] * m_[2][2]) +
           m_[0][2] * (m_[1][0] * m_[2][1] - m_[1][1] * m_[2][0]);
  }
  //! Adjugate over determinant; a singular matrix gives non-finite elements.
  Mat33<T> inverse() const {
    const T d = det();
    return Mat33<T>((m_[1][1] * m_[2][2] - m_[1][2] * m_[2][1]) / d,
                    (m_[2][1] * m_[0][2] - m_[2][2] * m_[0][1]) / d,
                    (m_[0][1] * m_[1][2] - m_[0][2] * m_[1][1]) / d,
                    (m_[1][2] * m_[2][0] - m_[1][0] * m_[2][2]) / d,
                    (m_[2][2] * m_[0][0] - m_[2][0] * m_[0][2]) / d,
                    (m_[0][2] * m_[1][0] - m_[0][0] * m_[1][2]) / d,
                    (m_[1][0] * m_[2][1] - m_[1][1] * m_[2][0]) / d,
                    (m_[2][0] * m_[0][1] - m_[2][1] * m_[0][0]) / d,
                    (m_[0][0] * m_[1][1] - m_[0][1] * m_[1][0]) / d);
  }
  Mat33<T> transpose() const {
    return Mat33<T>(m_[0][0], m_[1][0], m_[2][0], m_[0][1], m_[1][1], m_[2][1], m_[0][2], m_[1][2],
                    m_[2][2]);
  }
  //! True when the Frobenius norm of the difference is at most tol.
  bool equals(const Mat33<T>& m, const T& tol) const {
    double s = 0.0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const double d = T(m_[i][j] - m.m_[i][j]);
        s += d * d;
      }
    return s <= double(tol) * double(tol);
  }
  //! Null when m00 is missing.
  bool is_null() const { return Util::is_nan(m_[0][0]); }

  static Mat33<T> identity() {
    return Mat33<T>(T(1), T(0), T(0), T(0), T(1), T(0), T(0), T(0), T(1));
  }
  //! NaN in m00, zeros elsewhere.
  static Mat33<T> null() {
    return Mat33<T>(T(Util::nan()), T(0), T(0), T(0), T(0), T(0), T(0), T(0), T(0));
  }

  //! Three lines "|m00,m01,m02|" ... with no newline after the last.
  String format() const {
    String s;
    for (int i = 0; i < 3; ++i) {
      if (i > 0) s += "\n";
      s += "|" + String(double(m_[i][0]), 10, 4) + "," + String(double(m_[i][1]), 10, 4) + "," +
           String(double(m_[i][2]), 10, 4) + "|";
    }
    return s;
  }

 private:
  T m_[3][3];
};

//! A symmetric 3x3 matrix held as m00, m11, m22, m01, m02, m12.  The
//! default constructor leaves the elements unset.
template <class T = double> class Mat33sym {
 public:
  Mat33sym() {}
  Mat33sym(const T& m00, const T& m11, const T& m22, const T& m01, const T& m02, const T& m12)
      : m00_(m00), m11_(m11), m22_(m22), m01_(m01), m02_(m02), m12_(m12) {}
  //! The upper triangle (diagonal included) of a full matrix.
  template <class TT>
  explicit Mat33sym(const Mat33<TT>& m)
      : m00_(T(m(0, 0))),
        m11_(T(m(1, 1))),
        m22_(T(m(2, 2))),
        m01_(T(m(0, 1))),
        m02_(T(m(0, 2))),
        m12_(T(m(1, 2))) {}

  const T& mat00() const { return m00_; }
  const T& mat11() const { return m11_; }
  const T& mat22() const { return m22_; }
  const T& mat01() const { return m01_; }
  const T& mat02() const { return m02_; }
  const T& mat12() const { return m12_; }

  //! Element (i, j) = (j, i); an index other than 0 or 1 is taken as 2.
  const T& operator()(const int& i, const int& j) const {
    switch (i) {
      case 0: return j == 0 ? m00_ : (j == 1 ? m01_ : m02_);
      case 1: return j == 0 ? m01_ : (j == 1 ? m11_ : m12_);
      default: return j == 0 ? m02_ : (j == 1 ? m12_ : m22_);
    }
  }

  T det() const {
    return m00_ * (m11_ * m22_ - m12_ * m12_) + m01_ * (m12_ * m02_ - m22_ * m01_) +
           m02_ * (m12_ * m01_ - m11_ * m02_);
  }
  //! Adjugate over determinant; a singular matrix gives non-finite elements.
  Mat33sym<T> inverse() const {
    const T d = det();
    return Mat33sym<T>((m11_ * m22_ - m12_ * m12_) / d, (m22_ * m00_ - m02_ * m02_) / d,
                       (m11_ * m00_ - m01_ * m01_) / d, (m12_ * m02_ - m22_ * m01_) / d,
                       (m12_ * m01_ - m11_ * m02_) / d, (m02_ * m01_ - m12_ * m00_) / d);
  }
  //! The quadratic form v^T M v.
  T quad_form(const Vec3<T>& v) const {
    return m00_ * v[0] * v[0] + m11_ * v[1] * v[1] + m22_ * v[2] * v[2] +
           T(2) * (m01_ * v[0] * v[1] + m02_ * v[0] * v[2] + m12_ * v[1] * v[2]);
  }
  //! The symmetric positive square root S, with S S = M, from the
  //! eigen-decomposition M = V diag(l) V^T as V diag(sqrt l) V^T.  A
  //! clearly negative eigenvalue gives non-finite elements.
  Mat33<T> sqrt() const;
  //! Null when m00 is missing.
  bool is_null() const { return Util::is_nan(m00_); }

  static Mat33sym<T> identity() { return Mat33sym<T>(T(1), T(1), T(1), T(0), T(0), T(0)); }
  static Mat33sym<T> null() { return Mat33sym<T>(T(Util::nan()), T(0), T(0), T(0), T(0), T(0)); }

  //! The three-line form of the full matrix.
  String format() const { return Mat33<T>(*this).format(); }

 private:
  T m00_, m11_, m22_, m01_, m02_, m12_;
};

template <class T>
template <class TT>
Mat33<T>::Mat33(const Mat33sym<TT>& m)
    : m_{{T(m.mat00()), T(m.mat01()), T(m.mat02())},
         {T(m.mat01()), T(m.mat11()), T(m.mat12())},
         {T(m.mat02()), T(m.mat12()), T(m.mat22())}} {}

// Vector arithmetic.

template <class T> Vec3<T> operator+(const Vec3<T>& a, const Vec3<T>& b) {
  return Vec3<T>(a[0] + b[0], a[1] + b[1], a[2] + b[2]);
}
template <class T> Vec3<T> operator-(const Vec3<T>& a, const Vec3<T>& b) {
  return Vec3<T>(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
}
template <class T> Vec3<T> operator-(const Vec3<T>& v) { return Vec3<T>(-v[0], -v[1], -v[2]); }
template <class T> Vec3<T> operator*(const T& s, const Vec3<T>& v) {
  return Vec3<T>(s * v[0], s * v[1], s * v[2]);
}
template <class T> Vec3<T> operator*(const Vec3<T>& v, const T& s) {
  return Vec3<T>(v[0] * s, v[1] * s, v[2] * s);
}
//! Exact element-wise comparison (meant for integer vectors).
template <class T> bool operator==(const Vec3<T>& a, const Vec3<T>& b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}
template <class T> bool operator!=(const Vec3<T>& a, const Vec3<T>& b) { return !(a == b); }

// Matrix arithmetic.

//! Matrix times column vector.
template <class T> Vec3<T> operator*(const Mat33<T>& m, const Vec3<T>& v) {
  return Vec3<T>(m(0, 0) * v[0] + m(0, 1) * v[1] + m(0, 2) * v[2],
                 m(1, 0) * v[0] + m(1, 1) * v[1] + m(1, 2) * v[2],
                 m(2, 0) * v[0] + m(2, 1) * v[1] + m(2, 2) * v[2]);
}
//! Row vector times matrix, v^T M (as Miller indices transform).
template <class T> Vec3<T> operator*(const Vec3<T>& v, const Mat33<T>& m) {
  return Vec3<T>(v[0] * m(0, 0) + v[1] * m(1, 0) + v[2] * m(2, 0),
                 v[0] * m(0, 1) + v[1] * m(1, 1) + v[2] * m(2, 1),
                 v[0] * m(0, 2) + v[1] * m(1, 2) + v[2] * m(2, 2));
}
template <class T> Mat33<T> operator*(const Mat33<T>& a, const Mat33<T>& b) {
  Mat33<T> r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = a(i, 0) * b(0, j) + a(i, 1) * b(1, j) + a(i, 2) * b(2, j);
  return r;
}
template <class T> Mat33<T> operator+(const Mat33<T>& a, const Mat33<T>& b) {
  Mat33<T> r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = a(i, j) + b(i, j);
  return r;
}
template <class T> Mat33<T> operator-(const Mat33<T>& a, const Mat33<T>& b) {
  Mat33<T> r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = a(i, j) - b(i, j);
  return r;
}
template <class T> Mat33<T> operator-(const Mat33<T>& m) {
  Mat33<T> r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = -m(i, j);
  return r;
}
template <class T> Mat33<T> operator*(const T& s, const Mat33<T>& m) {
  Mat33<T> r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r(i, j) = s * m(i, j);
  return r;
}
//! Exact element-wise comparison (meant for integer matrices).
template <class T> bool operator==(const Mat33<T>& a, const Mat33<T>& b) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (a(i, j) != b(i, j)) return false;
  return true;
}
template <class T> bool operator!=(const Mat33<T>& a, const Mat33<T>& b) { return !(a == b); }

// Symmetric matrix arithmetic.

template <class T> Mat33sym<T> operator+(const Mat33sym<T>& a, const Mat33sym<T>& b) {
  return Mat33sym<T>(a.mat00() + b.mat00(), a.mat11() + b.mat11(), a.mat22() + b.mat22(),
                     a.mat01() + b.mat01(), a.mat02() + b.mat02(), a.mat12() + b.mat12());
}
template <class T> Mat33sym<T> operator-(const Mat33sym<T>& a, const Mat33sym<T>& b) {
  return Mat33sym<T>(a.mat00() - b.mat00(), a.mat11() - b.mat11(), a.mat22() - b.mat22(),
                     a.mat01() - b.mat01(), a.mat02() - b.mat02(), a.mat12() - b.mat12());
}
template <class T> Mat33sym<T> operator*(const T& s, const Mat33sym<T>& m) {
  return Mat33sym<T>(s * m.mat00(), s * m.mat11(), s * m.mat22(), s * m.mat01(), s * m.mat02(),
                     s * m.mat12());
}

}  // namespace vantrel

#endif
