#include "calculations/sfcalc_obs.h"

#include <cmath>
#include <complex>

#include "calculations/edcalc.h"
#include "foundation/message.h"
#include "foundation/util.h"
#include "maps/xmap.h"
#include "reflections/basis_fn.h"
#include "reflections/conversions.h"
#include "reflections/resolution_fn.h"

namespace vantrel {

namespace {

// B of 20 A^2 added to every atom: it widens the narrowest Gaussians so
// that a grid of rate 1.5 samples the density without aliasing.
const double kUAdd = 20.0 / Util::eightpi2();
// B of 50 A^2 that smooths the sharp edge of the solvent mask.
const double kUMask = 50.0 / Util::eightpi2();
constexpr double kGridRate = 1.5;
constexpr double kMaskRadius = 2.5;
constexpr int kSearchCycles = 8;

// Fa + k Fs into every entry of fphi.
template <class T>
void combine(HKL_data<datatypes::F_phi<T>>& fphi, const HKL_data<datatypes::F_phi<T>>& fa,
             const HKL_data<datatypes::F_phi<T>>& fs, const T& k) {
  for (int i = 0; i < fphi.base_hkl_info().num_reflections(); ++i)
    fphi[i] = datatypes::F_phi<T>(std::complex<T>(fa[i]) + k * std::complex<T>(fs[i]));
}

}  // namespace

template <class T>
SFcalc_obs_bulk<T>::SFcalc_obs_bulk(HKL_data<datatypes::F_phi<T>>& fphi,
                                    const HKL_data<datatypes::F_sigF<T>>& fsig,
                                    const Atom_list& atoms, const int n_params)
    : nparams_(n_params) {
  (*this)(fphi, fsig, atoms);
}

template <class T>
bool SFcalc_obs_bulk<T>::operator()(HKL_data<datatypes::F_phi<T>>& fphi,
                                    const HKL_data<datatypes::F_sigF<T>>& fsig,
                                    const Atom_list& atoms) {
  if (fphi.is_null() || fsig.is_null() || &fphi.base_hkl_info() != &fsig.base_hkl_info())
    fatal("SFcalc_obs_bulk: calculated and observed data must be over one reflection list");
  const HKL_info& hkls = fsig.base_hkl_info();
  const Cell& cell = fsig.base_cell();

  // Every atom with the added B, as an anisotropic tensor. An atom whose
  // occupancy or displacement is missing would make the density NaN: it
  // loses its position, so that neither density nor mask includes it.
  Atom_list blurred(atoms);
  for (Atom& atom : blurred) {
    if (Util::is_nan(atom.coord_orth().x())) continue;
    U_aniso_orth u = atom.u_aniso_orth();
    if (u.is_null()) u = U_aniso_orth(atom.u_iso());
    if (Util::is_nan(atom.occupancy()) || Util::is_nan(u.mat00())) {
      atom.set_coord_orth(Coord_orth::null());
      continue;
    }
    atom.set_u_aniso_orth(u + U_aniso_orth(kUAdd, kUAdd, kUAdd, 0.0, 0.0, 0.0));
  }

  HKL_data<datatypes::F_phi<T>> fa(hkls, cell), fs(hkls, cell);
  const Grid_sampling grid(hkls.spacegroup(), cell, hkls.resolution(), kGridRate);
  Xmap<float> xmap(hkls.spacegroup(), cell, grid);

  const EDcalc_aniso<float> density(kMaskRadius);
  density(xmap, blurred);
  xmap.fft_to(fa);
  fa.compute(fa, datatypes::Compute_scale_u<datatypes::F_phi<T>>(1.0, kUAdd));

  const EDcalc_mask<float> mask(kMaskRadius);
  mask(xmap, blurred);
  for (Xmap_base::Map_reference_index ix = xmap.first(); !ix.last(); ix.next())
    xmap[ix] = 1.0f - xmap[ix];
  xmap.fft_to(fs);
  fs.compute(fs, datatypes::Compute_scale_u<datatypes::F_phi<T>>(1.0, -kUMask));

  // Interval search for the level: r[0], r[1], r[2] belong to k - step,
  // k, k + step; 0 marks a residual still to compute.
  const std::vector<double> start(nparams_, 1.0);
  const BasisFn_spline basis(hkls, nparams_, 1.0);
  const TargetFn_scaleF1F2<datatypes::F_phi<T>, datatypes::F_sigF<T>> target(fphi, fsig);
  double r[3] = {0.0, 0.0, 0.0};
  T k = T(0.35), step = T(0.35);
  for (int cycle = 0; cycle < kSearchCycles; ++cycle) {
    for (int j = 0; j < 3; ++j) {
      if (r[j] != 0.0) continue;
      combine(fphi, fa, fs, T(k + T(j - 1) * step));
      const ResolutionFn scale(hkls, basis, target, start, 0.0, false);
      double sum = 0.0;
      for (HKL_info::HKL_reference_index ih = fsig.first_data(); !ih.last(); fsig.next_data(ih)) {
        // A scale spline can dip below 0 where data are sparse: no scale.
        const double s = Util::max(scale.f(ih), 0.0);
        const double eps = ih.hkl_class().epsilon();
        sum += 2.0 / eps * std::fabs(std::sqrt(s) * double(fphi[ih].f()) - double(fsig[ih].f()));
      }
      r[j] = sum;
    }
    if (r[0] < r[1] && r[0] < r[2]) {
      r[1] = r[0];
      k -= step;
    } else if (r[2] < r[1] && r[2] < r[0]) {
      r[1] = r[2];
      k += step;
    }
    r[0] = r[2] = 0.0;
    step *= T(0.5);
  }
  combine(fphi, fa, fs, k);

  // The map still holds the solvent region; weigh each ASU point by the
  // share of the cell it stands for.
  double solvent = 0.0, total = 0.0;
  for (Xmap_base::Map_reference_index ix = xmap.first(); !ix.last(); ix.next()) {
    const double mult = xmap.multiplicity(ix.coord());
    solvent += xmap[ix] / mult;
    total += 1.0 / mult;
  }
  bulk_frac_ = solvent / total;
  bulk_scale_ = double(k);
  return true;
}

template class SFcalc_obs_bulk<float>;
template class SFcalc_obs_bulk<double>;

}  // namespace vantrel
