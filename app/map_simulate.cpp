#include "app/map_simulate.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "foundation/message.h"
#include "foundation/statistics.h"
#include "foundation/util.h"
#include "reflections/basis_fn.h"
#include "reflections/conversions.h"
#include "reflections/resolution_fn.h"

using namespace vantrel;
using namespace vantrel::datatypes;

namespace {

typedef HKL_info::HKL_reference_index HRI;

// The normalisation of one data set: E scaled in place so that E^2 averages
// 1 at each resolution, the fitted scale function g ~ 1 / <E^2>, and the
// 1/d^2 of the present entries.
class Normalisation {
 public:
  Normalisation(HKL_data<E_sigE<float> >& e, const char* set_name)
      : basis_(e, 10, 2.0), params_(10, 1.0) {
    const HKL_info& list = e.base_hkl_info();
    TargetFn_scaleEsq<E_sigE<float> > target(e);
    params_ = ResolutionFn(list, basis_, target, params_, 0.0, false).params();
    // The spline can dip to or below zero where data are sparse; there the
    // smallest positive knot value stands in, so no reflection is lost to
    // the square root.
    floor_ = 0.0;
    for (const double p : params_)
      if (p > 0.0 && std::isfinite(p) && (floor_ == 0.0 || p < floor_)) floor_ = p;
    if (floor_ == 0.0)
      fatal(String("MapSimulate: the intensity fall-off of the ") + set_name +
            " data could not be fitted");
    for (HRI ih = list.first(); !ih.last(); ih.next()) {
      E_sigE<float>& v = e[ih];
      if (v.missing()) continue;
      const double k = std::sqrt(scale(ih.hkl().invresolsq(list.cell())));
      v.E() = float(v.E() * k);
      v.sigE() = float(v.sigE() * k);
      s_.push_back(ih.invresolsq());
    }
  }

  //! The fitted scale g at 1/d^2 = s, never below the positive floor.
  double scale(const double& s) const {
    const double g = basis_.f_s(s, params_);
    return g > floor_ ? g : floor_;
  }
  const std::vector<double>& s_list() const { return s_; }

 private:
  BasisFn_spline basis_;
  std::vector<double> params_;
  double floor_;
  std::vector<double> s_;
};

// Reflections with E present, by resolution rank (n bins of about equal
// counts) and class.
struct Bins {
  Bins(const HKL_data<E_sigE<float> >& e, const std::vector<double>& s_list, const int n)
      : acentric(n), centric(n) {
    Generic_ordinal ordinal;
    ordinal.init(s_list, 1000);
    const HKL_info& list = e.base_hkl_info();
    for (HRI ih = list.first(); !ih.last(); ih.next()) {
      if (e[ih].missing()) continue;
      const int b = std::min(int(std::floor(double(n) * ordinal.ordinal(ih.invresolsq()))), n - 1);
      (ih.hkl_class().centric() ? centric : acentric)[b].push_back(ih.index());
    }
  }
  MapSimulate::Bin_table acentric, centric;
};

// The reference entries of list ref take the figures of merit of the work
// entries of the same relative rank in wrk. With no work entry to take from,
// the reference entries keep their own.
void pair_by_rank(const std::vector<int>& ref, const std::vector<int>& wrk,
                  HKL_data<Phi_fom<float> >& ref_phi, const HKL_data<Phi_fom<float> >& wrk_phi) {
  if (wrk.empty()) return;
  const int n_ref = int(ref.size()), n_wrk = int(wrk.size());
  for (int i = 0; i < n_ref; ++i)
    ref_phi[ref[i]].fom() = wrk_phi[wrk[MapSimulate::rank_partner(i, n_ref, n_wrk)]].fom();
}

// The process-wide generator of the C library as a source of draws.
class Platform_rand : public Random_source {
 public:
  int draw() override { return std::rand(); }
};

// 0.001 times a draw reduced to [0, 1000).
double thousandths(Random_source& draws) { return 0.001 * double(draws.draw() % 1000); }

}  // namespace

MapSimulate::MapSimulate(int n_reso, int n_phase) : n_reso(n_reso), n_phase(n_phase) {
  if (n_reso < 1) fatal("MapSimulate: the number of resolution bins must be at least 1");
}

double MapSimulate::phase_error(const double& m, const bool& centric, Random_source& draws) {
  if (centric) return thousandths(draws) >= 0.5 * m + 0.5 ? Util::pi() : 0.0;
  // A figure of merit of 1 is an exact phase: every try is rejected and the
  // error is 0. The tries still take their draws, so that the reflections
  // after this one see the same part of the sequence as for any other m.
  if (m >= 1.0) {
    for (int attempt = 0; attempt < 100; ++attempt) {
      draws.draw();
      draws.draw();
    }
    return 0.0;
  }
  const double kappa = Util::invsim(m);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const double delta = Util::twopi() * thousandths(draws);
    const double p = std::exp(kappa * (std::cos(delta) - 1.0));
    if (p > thousandths(draws)) return delta;
  }
  return 0.0;
}

void MapSimulate::fill_from_neighbours(Bin_table& bins, const int& n_min) {
  const int n = int(bins.size());
  Bin_table filled = bins;
  for (int b = 0; b < n; ++b)
    for (int d = 1; int(filled[b].size()) < n_min && d<n; d = d> 0 ? -d : 1 - d)
      if (b + d >= 0 && b + d < n)
        filled[b].insert(filled[b].end(), bins[b + d].begin(), bins[b + d].end());
  bins.swap(filled);
}

bool MapSimulate::operator()(HKL_data<F_sigF<float> >& sim_f, HKL_data<ABCD<float> >& sim_hl,
                             const HKL_data<F_sigF<float> >& ref_f,
                             const HKL_data<ABCD<float> >& ref_hl,
                             const HKL_data<F_sigF<float> >& wrk_f,
                             const HKL_data<ABCD<float> >& wrk_hl) const {
  Platform_rand draws;
  return (*this)(sim_f, sim_hl, ref_f, ref_hl, wrk_f, wrk_hl, draws);
}

bool MapSimulate::operator()(HKL_data<F_sigF<float> >& sim_f, HKL_data<ABCD<float> >& sim_hl,
                             const HKL_data<F_sigF<float> >& ref_f,
                             const HKL_data<ABCD<float> >& ref_hl,
                             const HKL_data<F_sigF<float> >& wrk_f,
                             const HKL_data<ABCD<float> >& wrk_hl, Random_source& draws) const {
  const HKL_info& ref_list = ref_f.base_hkl_info();
  const HKL_info& wrk_list = wrk_f.base_hkl_info();

  // Phases and normalised amplitudes of both sets.
  HKL_data<Phi_fom<float> > ref_phi(ref_list), wrk_phi(wrk_list);
  ref_phi.compute(ref_hl, Compute_phifom_from_abcd<float>());
  wrk_phi.compute(wrk_hl, Compute_phifom_from_abcd<float>());
  HKL_data<E_sigE<float> > ref_e(ref_list), wrk_e(wrk_list);
  ref_e.compute(ref_f, Compute_EsigE_from_FsigF<float>());
  wrk_e.compute(wrk_f, Compute_EsigE_from_FsigF<float>());
  const Normalisation ref_norm(ref_e, "reference");
  const Normalisation wrk_norm(wrk_e, "work");

  // Reference amplitudes on the work data's intensity fall-off; the volume
  // ratio keeps intensities per unit cell comparable.
  const double volume_ratio = ref_list.cell().volume() / wrk_list.cell().volume();
  for (HRI ih = ref_list.first(); !ih.last(); ih.next()) {
    const F_sigF<float>& f = ref_f[ih];
    if (f.missing()) continue;
    const double s = ih.hkl().invresolsq(ref_list.cell());
    const double k = std::sqrt(volume_ratio * ref_norm.scale(s) / wrk_norm.scale(s));
    sim_f[ih] = F_sigF<float>(float(k * f.f()), float(k * f.sigf()));
  }

  // Bins of equal resolution rank in each set. A work centric bin too small
  // to give a rank distribution borrows from its neighbours, and one still
  // empty takes the acentric reflections of its bin.
  Bins ref_bins(ref_e, ref_norm.s_list(), n_reso);
  Bins wrk_bins(wrk_e, wrk_norm.s_list(), n_reso);
  fill_from_neighbours(wrk_bins.centric, n_phase);
  for (int b = 0; b < n_reso; ++b)
    if (wrk_bins.centric[b].empty()) wrk_bins.centric[b] = wrk_bins.acentric[b];

  // Figures of merit paired by E rank within each bin and class.
  for (int b = 0; b < n_reso; ++b) {
    std::sort(ref_bins.acentric[b].begin(), ref_bins.acentric[b].end(), EMagCompare(ref_e));
    std::sort(ref_bins.centric[b].begin(), ref_bins.centric[b].end(), EMagCompare(ref_e));
    std::sort(wrk_bins.acentric[b].begin(), wrk_bins.acentric[b].end(), EMagCompare(wrk_e));
    std::sort(wrk_bins.centric[b].begin(), wrk_bins.centric[b].end(), EMagCompare(wrk_e));
  }
  for (int b = 0; b < n_reso; ++b) {
    pair_by_rank(ref_bins.acentric[b], wrk_bins.acentric[b], ref_phi, wrk_phi);
    pair_by_rank(ref_bins.centric[b], wrk_bins.centric[b], ref_phi, wrk_phi);
  }

  // Phase errors matching each figure of merit; a missing phase or figure
  // of merit counts as figure of merit 0 (a missing phase stays missing).
  for (HRI ih = ref_list.first(); !ih.last(); ih.next()) {
    Phi_fom<float>& p = ref_phi[ih];
    const double m = p.missing() ? 0.0 : double(p.fom());
    p.phi() = float(p.phi() + phase_error(m, ih.hkl_class().centric(), draws));
  }

  sim_hl.compute(ref_phi, Compute_abcd_from_phifom<float>());
  return true;
}
