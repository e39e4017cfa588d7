// Interpolation of crystallographic and box maps between grid points:
// trilinear (8 points) and tricubic (64 points).
#ifndef VANTREL_MAPS_INTERP_H
#define VANTREL_MAPS_INTERP_H

#include <cmath>

#include "maps/nxmap.h"
#include "maps/xmap.h"

namespace vantrel {

//! Trilinear interpolation from the 8 grid points around a position.
/*! On a crystallographic map every position is valid: the values come
  through symmetry by stepping one map reference. On a box map the caller
  keeps the position inside (see can_interp). Arithmetic is in the map's
  value type. Stateless; allocates nothing. */
class Interp_linear {
 public:
  //! True when floor(pos) and floor(pos) + 1 lie inside the box on every
  //! axis; false for a missing coordinate.
  template <class T>
  static bool can_interp(const NXmap<T>& map, const Coord_map& pos) {
    const Grid& g = map.grid();
    return inside(pos.u(), g.nu()) && inside(pos.v(), g.nv()) &&
           inside(pos.w(), g.nw());
  }

  template <class T>
  static void interp(const Xmap<T>& map, const Coord_map& pos, T& result) {
    const Coord_grid c = pos.floor();
    // The eight corners, each one step from the previous.
    Xmap_base::Map_reference_coord r(map, c);
    const T p000 = map[r];
    const T p001 = map[r.next_w()];
    const T p011 = map[r.next_v()];
    const T p010 = map[r.prev_w()];
    const T p110 = map[r.next_u()];
    const T p111 = map[r.next_w()];
    const T p101 = map[r.prev_v()];
    const T p100 = map[r.prev_w()];
    result = blend(pos, c, p000, p001, p010, p011, p100, p101, p110, p111);
  }

  template <class T>
  static void interp(const NXmap<T>& map, const Coord_map& pos, T& result) {
    const Coord_grid c = pos.floor();
    const int i = map.index(c);
    const int du = map.stride_u(), dv = map.stride_v(), dw = map.stride_w();
    result = blend(pos, c, map[i], map[i + dw], map[i + dv], map[i + dv + dw],
                   map[i + du], map[i + du + dw], map[i + du + dv],
                   map[i + du + dv + dw]);
  }

 private:
  static bool inside(const double& x, const int& n) {
    const double f = std::floor(x);
    return f >= 0.0 && f <= double(n - 2);  // a NaN fails both tests
  }

  // Blends the corner values p(a, b, c) along w, then v, then u.
  template <class T>
  static T blend(const Coord_map& pos, const Coord_grid& c, const T& p000,
                 const T& p001, const T& p010, const T& p011, const T& p100,
                 const T& p101, const T& p110, const T& p111) {
    const T fu = T(pos.u() - c.u()), fv = T(pos.v() - c.v()),
            fw = T(pos.w() - c.w());
    const T gu = T(1) - fu, gv = T(1) - fv, gw = T(1) - fw;
    const T r00 = gw * p000 + fw * p001, r01 = gw * p010 + fw * p011;
    const T r10 = gw * p100 + fw * p101, r11 = gw * p110 + fw * p111;
    const T s0 = gv * r00 + fv * r01, s1 = gv * r10 + fv * r11;
    return gu * s0 + fu * s1;
  }
};

//! Tricubic interpolation from the 4 x 4 x 4 grid points at offsets -1, 0,
//! +1, +2 from floor(pos) on each axis.
/*! The cubic convolution kernel with a = -0.5: the four weights sum to 1
  and reproduce grid values exactly at grid points. On a box map the caller
  keeps floor - 1 >= 0 and floor + 2 <= n - 1 on every axis. Stateless;
  allocates nothing. */
class Interp_cubic {
 public:
  template <class T>
  static void interp(const Xmap<T>& map, const Coord_map& pos, T& result) {
    const Coord_grid c = pos.floor();
    T wu[4], wv[4], ww[4];
    weights(pos, c, wu, wv, ww);
    // Gather first, so that the stepping and the arithmetic do not wait
    // on each other.
    T p[4][4][4];
    Xmap_base::Map_reference_coord ru(map, c - Coord_grid(1, 1, 1));
    for (int i = 0; i < 4; ++i) {
      Xmap_base::Map_reference_coord rv(ru);
      for (int j = 0; j < 4; ++j) {
        Xmap_base::Map_reference_coord rw(rv);
        for (int k = 0; k < 4; ++k) {
          p[i][j][k] = map[rw];
          if (k < 3) rw.next_w();
        }
        if (j < 3) rv.next_v();
      }
      if (i < 3) ru.next_u();
    }
    result = combine(p, wu, wv, ww);
  }

  template <class T>
  static void interp(const NXmap<T>& map, const Coord_map& pos, T& result) {
    const Coord_grid c = pos.floor();
    T wu[4], wv[4], ww[4];
    weights(pos, c, wu, wv, ww);
    const int du = map.stride_u(), dv = map.stride_v(), dw = map.stride_w();
    T p[4][4][4];
    const int base = map.index(c - Coord_grid(1, 1, 1));
    for (int i = 0; i < 4; ++i)
      for (int j = 0; j < 4; ++j)
        for (int k = 0; k < 4; ++k) p[i][j][k] = map[base + i * du + j * dv + k * dw];
    result = combine(p, wu, wv, ww);
  }

  //! The weights of offsets -1, 0, +1, +2 for the fraction t, computed in
  //! double and rounded to T.
  template <class T>
  static void weights(const T& t, T w[4]) {
    const double td = double(t), sd = double(T(1) - t);
    w[0] = T(-0.5 * td * sd * sd);
    w[1] = T(sd * (1.0 + td - 1.5 * td * td));
    w[2] = T(td * (1.0 + sd - 1.5 * sd * sd));
    w[3] = T(-0.5 * td * td * sd);
  }

 private:
  // Sums the values along w, then v, then u, each with its weights.
  template <class T>
  static T combine(const T (&p)[4][4][4], const T wu[4], const T wv[4], const T ww[4]) {
    T su = T(0);
    for (int i = 0; i < 4; ++i) {
      T sv = T(0);
      for (int j = 0; j < 4; ++j) {
        T sw = T(0);
        for (int k = 0; k < 4; ++k) sw += ww[k] * p[i][j][k];
        sv += sw * wv[j];
      }
      su += sv * wu[i];
    }
    return su;
  }

  template <class T>
  static void weights(const Coord_map& pos, const Coord_grid& c, T wu[4],
                      T wv[4], T ww[4]) {
    weights(T(pos.u() - c.u()), wu);
    weights(T(pos.v() - c.v()), wv);
    weights(T(pos.w() - c.w()), ww);
  }
};

}  // namespace vantrel

#endif
