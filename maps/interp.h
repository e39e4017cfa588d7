// Interpolation of crystallographic and box maps between grid points:
// trilinear (8 points) and tricubic (64 points).
#ifndef VANTREL_MAPS_INTERP_H
#define VANTREL_MAPS_INTERP_H

#include <cmath>

#include "maps/nxmap.h"
#include "maps/xmap.h"

namespace vantrel {

namespace interp_detail {

// The N x N x N values of a crystallographic map from the grid point that
// operator sym takes onto the storage index ref on, u slowest (centre: the
// index of the block's point nearest its centre), read directly from
// storage: the operator turns each step along u, v or w into a fixed
// storage step. The indices are right when every point so reached is an
// asymmetric-unit point: each point is then one step from another ASU
// point, and such a step stays inside the ASU box with its one-point
// border. Otherwise false, and p is unchanged.
template <int N, class T>
bool gather_direct(const Xmap<T>& map, const int& ref, const int& centre, const int& sym,
                   T (&p)[N][N][N]) {
  const int du = map.storage_step_u(sym);
  const int dv = map.storage_step_v(sym);
  const int dw = map.storage_step_w(sym);
  if (map.block_in_asu(centre, sym, N)) {  // most blocks: no test per point
    const T* values = &map.get_data(ref);
    // Steps of +1 or -1 along w (most operators) read whole lines at once.
    if (dw == 1) {
      for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j) {
          const T* line = values + i * du + j * dv;
          for (int k = 0; k < N; ++k) p[i][j][k] = line[k];
        }
    } else if (dw == -1) {
      for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j) {
          const T* line = values + i * du + j * dv - (N - 1);
          for (int k = 0; k < N; ++k) p[i][j][k] = line[N - 1 - k];
        }
    } else {
      for (int i = 0; i < N; ++i)
        for (int j = 0; j < N; ++j)
          for (int k = 0; k < N; ++k) p[i][j][k] = values[i * du + j * dv + k * dw];
    }
    return true;
  }
  // Near the edge of the ASU: each point tested.
  int index[N * N * N];
  bool in_asu = true;  // tested for all points at once: no branch per point
  int n = 0;
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j)
      for (int k = 0; k < N; ++k, ++n) {
        index[n] = ref + i * du + j * dv + k * dw;
        in_asu &= map.is_asu_index(index[n]);
      }
  if (!in_asu) return false;
  const T* values = &map.get_data(0);
  T* out = &p[0][0][0];
  for (n = 0; n < N * N * N; ++n) out[n] = values[index[n]];
  return true;
}

// The same values by stepping one map reference through symmetry, one grid
// step at a time: from the reference, at the block's point (h, h, h), back
// to its first point, then along w, turning back along v, then along u.
template <int N, class T>
void gather_by_steps(const Xmap<T>& map, Xmap_base::Map_reference_coord ref, T (&p)[N][N][N]) {
  for (int s = 0; s < (N - 1) / 2; ++s) ref.prev_u().prev_v().prev_w();
  int j = 0, k = 0, dj = 1, dk = 1;
  for (int i = 0; i < N; ++i) {
    for (int jj = 0; jj < N; ++jj) {
      for (int kk = 0; kk < N; ++kk) {
        p[i][j][k] = map[ref];
        if (kk + 1 < N) {
          k += dk;
          if (dk > 0)
            ref.next_w();
          else
            ref.prev_w();
        }
      }
      dk = -dk;
      if (jj + 1 < N) {
        j += dj;
        if (dj > 0)
          ref.next_v();
        else
          ref.prev_v();
      }
    }
    dj = -dj;
    if (i + 1 < N) ref.next_u();
  }
}

// The same values from a P1 map, each axis wrapped around the cell.
template <int N, class T>
void gather_wrapped(const Xmap<T>& map, const Coord_grid& c, T (&p)[N][N][N]) {
  const Grid_sampling& g = map.grid_sampling();
  const Grid_range& box = map.grid_storage();
  int iu[N], iv[N], iw[N];
  for (int i = 0; i < N; ++i) {
    iu[i] = (Util::mod(c.u() + i, g.nu()) - box.min().u()) * box.nv() * box.nw();
    iv[i] = (Util::mod(c.v() + i, g.nv()) - box.min().v()) * box.nw();
    iw[i] = Util::mod(c.w() + i, g.nw()) - box.min().w();
  }
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j)
      for (int k = 0; k < N; ++k) p[i][j][k] = map.get_data(iu[i] + iv[j] + iw[k]);
}

// p[i][j][k] = the map value at c + (i, j, k), any c: one lookup of the
// block's point c + (N-1)/2 on each axis, the nearest to its centre (so
// that the block fits around that point's image wherever it can), then
// fixed storage steps, or steps through symmetry where the block leaves the
// asymmetric unit. Any operator taking that point to its ASU point gives
// the same values: those of the images of the same points.
template <int N, class T> void gather(const Xmap<T>& map, const Coord_grid& c, T (&p)[N][N][N]) {
  const int h = (N - 1) / 2;
  int index, sym;
  map.find_image(c + Coord_grid(h, h, h), index, sym);
  const int ref =
      index - h * (map.storage_step_u(sym) + map.storage_step_v(sym) + map.storage_step_w(sym));
  if (gather_direct(map, ref, index, sym, p)) return;
  if (map.num_sym() == 1) {  // P1: the cell is the ASU, so a block only wraps around it
    gather_wrapped(map, c, p);
    return;
  }
  // Start from the image already found: no second symmetry search.
  gather_by_steps(map, Xmap_base::Map_reference_coord(map, c + Coord_grid(h, h, h), index, sym), p);
}

// p[i][j][k] = the box map value at c + (i, j, k); no bounds test.
template <int N, class T> void gather(const NXmap<T>& map, const Coord_grid& c, T (&p)[N][N][N]) {
  const int du = map.stride_u(), dv = map.stride_v(), dw = map.stride_w();
  const int base = map.index(c);
  for (int i = 0; i < N; ++i)
    for (int j = 0; j < N; ++j)
      for (int k = 0; k < N; ++k) p[i][j][k] = map[base + i * du + j * dv + k * dw];
}

// Where the position may be read: false for a non-finite one. On a
// crystallographic map a far position comes back into the cell, where
// floor() fits an int and the fraction keeps its digits; on a box map
// such a position lies outside any box and is false too.
inline bool far(const double& x) { return !(std::fabs(x) < 1048576.0); }  // 2^20 grid steps

template <class T> bool usable(const Xmap<T>& map, Coord_map& pos) {
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(pos[i])) return false;
    if (far(pos[i])) pos[i] = Util::mod(pos[i], double(map.grid_sampling()[i]));
  }
  return true;
}

template <class T> bool usable(const NXmap<T>&, const Coord_map& pos) {
  return !far(pos[0]) && !far(pos[1]) && !far(pos[2]);  // a NaN is far
}

// The fractional part of pos beyond grid point c, axis by axis, computed in
// T: a float map subtracts the position rounded to float.
template <class T> void fractions(const Coord_map& pos, const Coord_grid& c, T f[3]) {
  f[0] = T(pos.u()) - T(c.u());
  f[1] = T(pos.v()) - T(c.v());
  f[2] = T(pos.w()) - T(c.w());
}

}  // namespace interp_detail

//! Trilinear interpolation from the 8 grid points around a position.
/*! M is Xmap<T> or NXmap<T>. On a crystallographic map every position is
  valid: values come through symmetry. On a box map the caller keeps the
  position inside (see can_interp). Arithmetic is in the map's value type.
  Stateless; allocates nothing. */
class Interp_linear {
 public:
  //! True when floor(pos) and floor(pos) + 1 lie inside the box on every
  //! axis; false for a missing coordinate.
  template <class T> static bool can_interp(const NXmap<T>& map, const Coord_map& pos) {
    const Grid& g = map.grid();
    return inside(pos.u(), g.nu()) && inside(pos.v(), g.nv()) && inside(pos.w(), g.nw());
  }

  //! Blends the corner values along w, then v, then u. A missing value
  //! (NaN) for a non-finite position.
  template <class M, class T> static void interp(const M& map, Coord_map pos, T& result) {
    if (!interp_detail::usable(map, pos)) {
      result = T(Util::nan());
      return;
    }
    const Coord_grid c = pos.floor();
    T p[2][2][2], f[3];
    interp_detail::gather(map, c, p);
    interp_detail::fractions(pos, c, f);
    T s[2];
    for (int i = 0; i < 2; ++i) {
      const T r0 = (T(1) - f[2]) * p[i][0][0] + f[2] * p[i][0][1];
      const T r1 = (T(1) - f[2]) * p[i][1][0] + f[2] * p[i][1][1];
      s[i] = (T(1) - f[1]) * r0 + f[1] * r1;
    }
    result = (T(1) - f[0]) * s[0] + f[0] * s[1];
  }

 private:
  static bool inside(const double& x, const int& n) {
    const double f = std::floor(x);
    return f >= 0.0 && f <= double(n - 2);  // a NaN fails both tests
  }
};

//! Tricubic interpolation from the 4 x 4 x 4 grid points at offsets -1, 0,
//! +1, +2 from floor(pos) on each axis.
/*! The cubic convolution kernel with a = -0.5: the four weights sum to 1
  and reproduce grid values exactly at grid points. M is Xmap<T> or
  NXmap<T>; on a box map the caller keeps floor - 1 >= 0 and floor + 2 <=
  n - 1 on every axis. Stateless; allocates nothing. */
class Interp_cubic {
 public:
  //! Sums the values along w, then v, then u, each with its weights. A
  //! missing value (NaN) for a non-finite position.
  template <class M, class T> static void interp(const M& map, Coord_map pos, T& result) {
    if (!interp_detail::usable(map, pos)) {
      result = T(Util::nan());
      return;
    }
    const Coord_grid c = pos.floor();
    T p[4][4][4], f[3], wu[4], wv[4], ww[4];
    interp_detail::gather(map, c - Coord_grid(1, 1, 1), p);
    interp_detail::fractions(pos, c, f);
    weights(f[0], wu);
    weights(f[1], wv);
    weights(f[2], ww);
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
    result = su;
  }

  //! The weights of offsets -1, 0, +1, +2 for the fraction t, computed in
  //! double and rounded to T.
  template <class T> static void weights(const T& t, T w[4]) {
    const double td = double(t), sd = double(T(1) - t);
    const double td2 = td * td, sd2 = sd * sd;
    w[0] = T(-0.5 * td * sd2);
    w[1] = T(sd * (1.0 + td - 1.5 * td2));
    w[2] = T(td * (1.0 + sd - 1.5 * sd2));
    w[3] = T(-0.5 * td2 * sd);
  }
};

}  // namespace vantrel

#endif
