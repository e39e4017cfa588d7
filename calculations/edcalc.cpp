#include "calculations/edcalc.h"

#include "foundation/util.h"
#include "maps/atomsf.h"

namespace vantrel {

namespace {

bool finite_position(const Coord_orth& x) {
  return !Util::is_nan(x.x()) && !Util::is_nan(x.y()) && !Util::is_nan(x.z());
}

bool finite_tensor(const U_aniso_orth& u) {
  for (int i = 0; i < 3; ++i)
    for (int j = i; j < 3; ++j)
      if (Util::is_nan(u(i, j))) return false;
  return true;
}

// Sets 1 at the points closer than the radius to the atom.
class Mask_painter {
 public:
  explicit Mask_painter(const double& radius) : radius_sq_(radius * radius) {}
  bool start(const Atom& atom) {
    centre_ = atom.coord_orth();
    return true;
  }
  template <class T> void paint(T& value, const Vec3<double>& p) const {
    const Vec3<double> d = p - centre_;
    if (Vec3<double>::dot(d, d) < radius_sq_) value = T(1);
  }
  static constexpr bool density = false;

 private:
  double radius_sq_;
  Vec3<double> centre_;
};

// Adds the atom's density. One shape function is re-initialised for every
// atom, so painting allocates nothing per atom.
class Density_painter {
 public:
  explicit Density_painter(const bool& aniso) : aniso_(aniso) {}
  // False for an atom whose occupancy or displacement is missing: its
  // density would be NaN everywhere in its box.
  bool start(const Atom& atom) {
    if (Util::is_nan(atom.occupancy())) return false;
    if (aniso_ && finite_tensor(atom.u_aniso_orth())) {
      shape_.init(atom.coord_orth(), atom.element(), atom.u_aniso_orth(), atom.occupancy());
      return true;
    }
    if (Util::is_nan(atom.u_iso())) return false;
    if (aniso_)
      shape_.init(atom.coord_orth(), atom.element(), U_aniso_orth(atom.u_iso()), atom.occupancy());
    else
      shape_.init(atom.coord_orth(), atom.element(), atom.u_iso(), atom.occupancy());
    return true;
  }
  template <class T> void paint(T& value, const Vec3<double>& p) const {
    value = T(double(value) + shape_.rho(Coord_orth(p)));
  }
  static constexpr bool density = true;

 private:
  bool aniso_;
  AtomShapeFn shape_;
};

// Paints every atom over its box on a crystallographic map; returns the
// number of atoms skipped.
template <class T, class Painter>
int paint_xmap(Xmap<T>& xmap, const Atom_list& atoms, const double& radius, Painter& painter) {
  xmap = T(0);
  const Grid_range box(xmap.cell(), xmap.grid_sampling(), radius);
  // Each point's position is the grid-to-orthogonal matrix times its grid
  // coordinate; the u and v terms are summed once per line, in the order of
  // the full product, so a point at exactly the radius is decided alike
  // wherever its box starts.
  const Mat33<double>& m = xmap.operator_grid_orth().rot();
  int skipped = 0;
  for (const Atom& atom : atoms) {
    if (!finite_position(atom.coord_orth()) || !painter.start(atom)) {
      ++skipped;
      continue;
    }
    const Coord_grid centre = xmap.coord_map(atom.coord_orth()).coord_grid();
    const Coord_grid corner = centre + box.min(), last = centre + box.max();
    // The reference is stepped incrementally: a fresh symmetry search is
    // needed only where a step leaves the asymmetric unit.
    Xmap_base::Map_reference_coord ru(xmap, corner);
    for (int u = corner.u();;) {
      Xmap_base::Map_reference_coord rv = ru;
      for (int v = corner.v();;) {
        Xmap_base::Map_reference_coord rw = rv;
        const double ax = m(0, 0) * u + m(0, 1) * v, ay = m(1, 0) * u + m(1, 1) * v,
                     az = m(2, 0) * u + m(2, 1) * v;
        for (int w = corner.w();;) {
          painter.paint(xmap[rw],
                        Vec3<double>(ax + m(0, 2) * w, ay + m(1, 2) * w, az + m(2, 2) * w));
          if (++w > last.w()) break;
          rw.next_w();
        }
        if (++v > last.v()) break;
        rv.next_v();
      }
      if (++u > last.u()) break;
      ru.next_u();
    }
  }
  if (Painter::density)
    for (Xmap_base::Map_reference_index ix = xmap.first(); !ix.last(); ix.next()) {
      const int mult = xmap.multiplicity(ix.coord());
      if (mult != 1) xmap[ix] = xmap[ix] * T(mult);
    }
  return skipped;
}

// Paints every atom over its box on a box map, passing over the points
// outside the map; returns the number of atoms skipped.
template <class T, class Painter>
int paint_nxmap(NXmap<T>& nxmap, const Atom_list& atoms, const double& radius, Painter& painter) {
  nxmap = T(0);
  const Coord_grid half =
      Coord_map(nxmap.orth_to_grid().rot() * Vec3<double>(radius, radius, radius)).coord_grid();
  const Grid_range map_range(
      Coord_grid(0, 0, 0),
      Coord_grid(nxmap.grid().nu() - 1, nxmap.grid().nv() - 1, nxmap.grid().nw() - 1));
  int skipped = 0;
  for (const Atom& atom : atoms) {
    if (!finite_position(atom.coord_orth()) || !painter.start(atom)) {
      ++skipped;
      continue;
    }
    const Coord_grid c = nxmap.coord_map(atom.coord_orth()).coord_grid();
    const Coord_grid lo = c - half, hi = c + half;
    for (int u = lo.u(); u <= hi.u(); ++u)
      for (int v = lo.v(); v <= hi.v(); ++v)
        for (int w = lo.w(); w <= hi.w(); ++w) {
          const Coord_grid g(u, v, w);
          if (!map_range.in_grid(g)) continue;
          painter.paint(nxmap[nxmap.index(g)], nxmap.grid_to_orth() * Coord_map(g));
        }
  }
  return skipped;
}

}  // namespace

template <class T> bool EDcalc_mask<T>::operator()(Xmap<T>& xmap, const Atom_list& atoms) const {
  Mask_painter painter(this->radius_);
  this->num_skipped_ = paint_xmap(xmap, atoms, this->radius_, painter);
  return true;
}

template <class T> bool EDcalc_mask<T>::operator()(NXmap<T>& nxmap, const Atom_list& atoms) const {
  Mask_painter painter(this->radius_);
  this->num_skipped_ = paint_nxmap(nxmap, atoms, this->radius_, painter);
  return true;
}

template <class T> bool EDcalc_iso<T>::operator()(Xmap<T>& xmap, const Atom_list& atoms) const {
  Density_painter painter(false);
  this->num_skipped_ = paint_xmap(xmap, atoms, this->radius_, painter);
  return true;
}

template <class T> bool EDcalc_iso<T>::operator()(NXmap<T>& nxmap, const Atom_list& atoms) const {
  Density_painter painter(false);
  this->num_skipped_ = paint_nxmap(nxmap, atoms, this->radius_, painter);
  return true;
}

template <class T> bool EDcalc_aniso<T>::operator()(Xmap<T>& xmap, const Atom_list& atoms) const {
  Density_painter painter(true);
  this->num_skipped_ = paint_xmap(xmap, atoms, this->radius_, painter);
  return true;
}

template <class T> bool EDcalc_aniso<T>::operator()(NXmap<T>& nxmap, const Atom_list& atoms) const {
  Density_painter painter(true);
  this->num_skipped_ = paint_nxmap(nxmap, atoms, this->radius_, painter);
  return true;
}

template class EDcalc_mask<float>;
template class EDcalc_mask<double>;
template class EDcalc_iso<float>;
template class EDcalc_iso<double>;
template class EDcalc_aniso<float>;
template class EDcalc_aniso<double>;

}  // namespace vantrel
