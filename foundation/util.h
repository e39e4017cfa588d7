// Missing values (NaN), mathematical constants, the Bessel-ratio functions of
// phase probability and small numeric helpers (min, max, clamp, wrap-into-range
// modulo, mirror index, sorted copy).
#ifndef VANTREL_FOUNDATION_UTIL_H
#define VANTREL_FOUNDATION_UTIL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <type_traits>

namespace vantrel {

//! Static numeric utilities; the class holds no data of its own.
/*! Missing values are quiet NaNs. A value is missing when all its exponent
  bits are set, so infinities count as missing too. The NaN values and the
  tests are compile-time constants: they are valid in every static
  initialiser, whatever the order of initialisation. */
class Util {
 public:
  constexpr Util() = default;

  // --- missing values -----------------------------------------------------
  static constexpr float nanf_ = __builtin_bit_cast(float, std::uint32_t(0x7fc00000u));
  static constexpr double nand_ = __builtin_bit_cast(double, std::uint64_t(0x7ff8000000000000ull));
  static constexpr double nan_ = nand_;

  static constexpr float nanf() { return nanf_; }
  static constexpr double nand() { return nand_; }
  static constexpr double nan() { return nan_; }

  static constexpr bool is_nan(const float& f) {
    return (__builtin_bit_cast(std::uint32_t, f) & 0x7f800000u) == 0x7f800000u;
  }
  static constexpr bool is_nan(const double& d) {
    return (__builtin_bit_cast(std::uint64_t, d) & 0x7ff0000000000000ull) == 0x7ff0000000000000ull;
  }

  // --- constants ------------------------------------------------------------
  static constexpr double onepi_ = 3.141592653589793;
  static constexpr double twopi_ = 6.283185307179586;
  static constexpr double twopi2_ = 19.739208802178716;
  static constexpr double eightpi2_ = 78.95683520871486;
  static constexpr double d2rad_ = 0.017453292519943295;

  static constexpr double pi() { return onepi_; }
  static constexpr double twopi() { return twopi_; }
  static constexpr double twopi2() { return twopi2_; }
  static constexpr double eightpi2() { return eightpi2_; }

  // Rational approximation of I1(x)/I0(x) and of its integral.
  static constexpr double sim_a = 1.639294;
  static constexpr double sim_b = 3.553967;
  static constexpr double sim_c = 2.228716;
  static constexpr double sim_d = 3.524142;
  static constexpr double sim_e = 7.107935;
  static constexpr double sim_A = -1.28173889903;
  static constexpr double sim_B = 0.69231689903;
  static constexpr double sim_C = -1.33099462667;
  static constexpr double sim_g = 2.13643992379;
  static constexpr double sim_p = 0.04613803811;
  static constexpr double sim_q = 1.82167089029;
  static constexpr double sim_r = -0.7481794749;

  // --- Bessel functions -----------------------------------------------------
  //! I1(x)/I0(x), odd in x.
  static double sim(const double& x);
  //! Inverse of sim, for -1 < y < 1.
  static double invsim(const double& y);
  //! Integral of sim, even in x (about 0.0082563 at 0).
  static double sim_integ(const double& x);
  //! Derivative of the rational form of sim, even in x.
  static double sim_deriv(const double& x);
  //! Derivative of sim by the Bessel recurrence 1 - s^2 - s/x.
  static double sim_deriv_recur(const double& x);
  //! Modified Bessel function I0 (Abramowitz and Stegun 9.8.1, 9.8.2).
  static double bessel_i0(const double& x);

  // --- angles ---------------------------------------------------------------
  static constexpr double d2rad(const double& x) { return x * d2rad_; }
  static constexpr double rad2d(const double& x) { return x / d2rad_; }

  // --- small numeric templates ----------------------------------------------
  template <class T> static constexpr T max(const T& a, const T& b) { return a > b ? a : b; }
  template <class T> static constexpr T min(const T& a, const T& b) { return a < b ? a : b; }
  //! Clamps x to [lo, hi]; the upper test comes first.
  template <class T> static constexpr T bound(const T& lo, const T& x, const T& hi) {
    return x >= hi ? hi : (x <= lo ? lo : x);
  }
  template <class T> static void swap(T& a, T& b) {
    T c = a;
    a = b;
    b = c;
  }
  //! Exchanges a and b through the scratch c, which ends holding the old a.
  template <class T> static void swap(T& a, T& b, T& c) {
    c = a;
    a = b;
    b = c;
  }
  template <class T> static constexpr T sqr(const T& x) { return x * x; }
  //! x wrapped into [0, n) for n > 0: % and fmod keep the sign of x, this
  //! does not. Values already in range return at once (the common case, one
  //! unsigned comparison for integers).
  template <class T> static constexpr T mod(const T& x, const T& n) {
    if constexpr (std::is_floating_point<T>::value) {
      if (x >= T(0) && x < n) return x;
      const T r = std::fmod(x, n);
      return r < T(0) ? r + n : r;
    } else {
      typedef std::make_unsigned_t<T> U;
      if (U(x) < U(n)) return x;
      const T r = x % n;
      return r < T(0) ? r + n : r;
    }
  }
  //! The index of -i on an axis of n points, (n - i) mod n, for 0 <= i < n.
  static constexpr int mirror(const int& i, const int& n) { return i == 0 ? 0 : n - i; }
  //! The container with its elements in ascending order.
  template <class C> static C sorted(C c) {
    std::sort(c.begin(), c.end());
    return c;
  }
  //! Floor of the square root, computed in double precision.
  template <class T> static T isqrt(const T& x) { return T(std::floor(std::sqrt(double(x)))); }
};

}  // namespace vantrel

#endif
