#include "calculations/sfweight.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>

#include "foundation/matrix.h"
#include "foundation/message.h"
#include "foundation/util.h"
#include "reflections/basis_fn.h"
#include "reflections/resolution_fn.h"

namespace vantrel {

namespace {

using datatypes::ABCD;
using datatypes::E_sigE;
using datatypes::F_phi;
using datatypes::F_sigF;
using datatypes::Flag;
using datatypes::Flag_bool;
using datatypes::Phi_fom;

constexpr int kMaxCycles = 25;
// A parameter may fall by at most this fraction of its value per cycle.
constexpr double kMaxDecrease = 0.25;
// Relative change of the target total at which the refinement stops.
constexpr double kStopChange = 1e-6;
// The normalisation splines need at least this many parameters.
constexpr int kMinNormParams = 12;
// ln cosh x = |x| - ln 2 to double precision beyond this |x|.
constexpr double kLogCoshSwitch = 10.0;
// Smallest variance d (on the normalised scale, E^2 about 1): a spline
// that dips to or below 0 gives a large but finite target and a gradient
// pushing the variance up, never NaN.
constexpr double kMinVariance = 1e-6;

// The number of spline parameters for nobs used reflections.
int spline_params(const int& nobs, const int& n_reflns, const int& n_params) {
  int np;
  if (n_params == 0) {
    np = nobs / n_reflns;
  } else if (n_reflns == 0) {
    return n_params;
  } else {
    // A smooth minimum of the data's count and the cap (below both).
    const double r = double(nobs) / n_reflns, p = n_params + 0.499;
    np = int(std::sqrt(r * r * p * p / (r * r + p * p)));
  }
  return np < 2 ? 2 : np;
}

// The variance d of Fo about s Fc: measurement 2 sigF^2 plus epsc w,
// floored at kMinVariance.
double variance(const double& sig, const double& epsc, const double& w) {
  return Util::max(2.0 * sig * sig + epsc * w, kMinVariance);
}

double prior_exponent(const double hl[4], const double& cosp, const double& sinp,
                      const double& cos2p, const double& sin2p) {
  return hl[0] * cosp + hl[1] * sinp + hl[2] * cos2p + hl[3] * sin2p;
}

// Solves a Newton block; a singular block (no reflection constrains some
// parameter) leaves the parameters where they are.
std::vector<double> newton_step(const Matrix<double>& h, const std::vector<double>& g) {
  std::vector<double> step = h.solve(g);
  for (const double& x : step)
    if (!std::isfinite(x)) return std::vector<double>(g.size(), 0.0);
  return step;
}

}  // namespace

template <class T>
SFweight_spline<T>::SFweight_spline(const int n_reflns, const int n_params, const int n_phases) {
  init(n_reflns, n_params, n_phases);
}

template <class T>
SFweight_spline<T>::SFweight_spline(HKL_data<F_phi<T>>& fb, HKL_data<F_phi<T>>& fd,
                                    HKL_data<Phi_fom<T>>& phiw, const HKL_data<F_sigF<T>>& fo,
                                    const HKL_data<F_phi<T>>& fc, const HKL_data<Flag>& usage,
                                    const int n_reflns, const int n_params) {
  init(n_reflns, n_params, 24);
  (*this)(fb, fd, phiw, fo, fc, usage);
}

template <class T>
void SFweight_spline<T>::init(const int n_reflns, const int n_params, const int n_phases) {
  if (n_reflns < 0 || n_params < 0 || (n_reflns == 0 && n_params == 0) || n_phases < 1)
    fatal("SFweight_spline: need n_reflns >= 0, n_params >= 0, not both 0, and n_phases >= 1");
  n_reflns_ = n_reflns;
  n_params_ = n_params;
  hlterms_.resize(n_phases);
  for (int i = 0; i < n_phases; ++i) {
    const double p = Util::twopi() * i / n_phases;
    hlterms_[i] = HLterms{std::cos(p), std::sin(p), std::cos(2.0 * p), std::sin(2.0 * p)};
  }
}

template <class T>
typename SFweight_spline<T>::TargetResult SFweight_spline<T>::targetfn0(const HKL_class cls,
                                                                        const F_sigF<T>& fo,
                                                                        const F_phi<T>& fc,
                                                                        const double& s,
                                                                        const double& w) const {
  const double epsc = cls.epsilon_centric();
  const double f_o = fo.f(), sig = fo.sigf(), f_c = fc.f();
  const double d = variance(sig, epsc, w);
  const double x = 2.0 * s * f_o * f_c / d;
  double c, i0, i1, i2;
  if (cls.centric()) {
    c = 0.5;
    i0 = std::fabs(x) < kLogCoshSwitch ? std::log(std::cosh(x)) : std::fabs(x) - std::log(2.0);
    i1 = std::tanh(x);
    i2 = 1.0 - i1 * i1;
  } else {
    c = 1.0;
    i0 = Util::sim_integ(x);
    i1 = Util::sim(x);
    i2 = Util::sim_deriv(x);
  }
  const double a = f_o * f_o + s * s * f_c * f_c;
  const double fofc = f_o * f_c, fc2 = f_c * f_c, fofc2 = fofc * fofc;
  const double d2 = d * d, d3 = d2 * d;
  TargetResult t;
  t.r = c * std::log(d) + a / d - i0;
  t.ds = 2.0 * s * fc2 / d - 2.0 * i1 * fofc / d;
  t.dw = epsc * (c / d - a / d2 + 2.0 * i1 * s * fofc / d2);
  t.dss = 2.0 * fc2 / d - 4.0 * i2 * fofc2 / d2;
  t.dww =
      epsc * epsc *
      (-c / d2 + 2.0 * a / d3 - 4.0 * i1 * s * fofc / d3 - 4.0 * i2 * s * s * fofc2 / (d2 * d2));
  t.dsw = epsc * (-2.0 * s * fc2 / d2 + 2.0 * i1 * fofc / d2 + 4.0 * i2 * s * fofc2 / d3);
  return t;
}

// With x_p = prior(p) + s q_p / d and q_p = u cos p + v sin p (u, v: the
// calculated structure factor times 2 Fo), the target is
// c ln d + a2/d - ln sum_p exp(x_p); ddw is the derivative of d by w. The
// sum is taken as max x + ln sum exp(x_p - max x), so strong priors cannot
// overflow it.
template <class T>
typename SFweight_spline<T>::TargetResult SFweight_spline<T>::prior_target(
    const HKL_class& cls, const ABCD<T>& hl, const double& u, const double& v, const double& s,
    const double& d, const double& a2, const double& b2, const double& ddw, const double& c) const {
  double coef[4] = {hl.a(), hl.b(), hl.c(), hl.d()};
  for (double& x : coef)
    if (Util::is_nan(x)) x = 0.0;
  // The phases summed: the whole table, or the two allowed centric phases.
  HLterms centric[2];
  const HLterms* terms = hlterms_.data();
  int n = int(hlterms_.size());
  if (cls.centric()) {
    const double p = cls.allowed_phase();
    const double cp = std::cos(p), sp = std::sin(p), c2 = std::cos(2.0 * p), s2 = std::sin(2.0 * p);
    centric[0] = HLterms{cp, sp, c2, s2};
    centric[1] = HLterms{-cp, -sp, c2, s2};
    terms = centric;
    n = 2;
  }
  double xmax = -std::numeric_limits<double>::infinity();
  for (int i = 0; i < n; ++i) {
    const HLterms& h = terms[i];
    const double q = u * h.cosp + v * h.sinp;
    xmax = Util::max(xmax, prior_exponent(coef, h.cosp, h.sinp, h.cos2p, h.sin2p) + s * q / d);
  }
  double sum = 0.0, s1 = 0.0, s2 = 0.0, sw = 0.0, sww = 0.0;
  const double d2 = d * d;
  for (int i = 0; i < n; ++i) {
    const HLterms& h = terms[i];
    const double q = u * h.cosp + v * h.sinp;
    const double e =
        std::exp(prior_exponent(coef, h.cosp, h.sinp, h.cos2p, h.sin2p) + s * q / d - xmax);
    sum += e;
    s1 += q * e / d;
    s2 += q * q * e / d2;
    sw += -s * q * e * ddw / d2;
    sww += e * ddw * ddw * (2.0 * d * s * q + s * s * q * q) / (d2 * d2);
  }
  TargetResult t;
  // c ln d is the log of the normalisation of the Gaussian of Fo about s Fc
  // (c = 1 in two dimensions, 1/2 for a centric reflection), as in
  // targetfn0. Without it a2/d - ln sum falls towards its limit as d grows,
  // so the target's minimum would lie at infinite variance; with it the
  // refined w stays at a finite, data-sized value. dw and dww carry its
  // derivatives, c/d and -c/d^2 times the chain factors.
  t.r = c * std::log(d) + a2 / d - (xmax + std::log(sum));
  t.ds = 2.0 * s * b2 / d - s1 / sum;
  t.dw = ddw * (c / d - a2 / d2) - sw / sum;
  t.dss = 2.0 * b2 / d - s2 / sum + (s1 / sum) * (s1 / sum);
  t.dww = ddw * ddw * (2.0 * a2 / (d2 * d) - c / d2) - sww / sum + (sw / sum) * (sw / sum);
  t.dsw = Util::nan();
  return t;
}

template <class T>
typename SFweight_spline<T>::TargetResult SFweight_spline<T>::targetfn1(
    const HKL_class cls, const F_sigF<T>& fo, const ABCD<T>& hl, const F_phi<T>& fc,
    const double& s, const double& w) const {
  const double epsc = cls.epsilon_centric();
  const double f_o = fo.f(), sig = fo.sigf(), f_c = fc.f(), phi = fc.phi();
  const double d = variance(sig, epsc, w);
  const double q0 = 2.0 * f_o * f_c;
  return prior_target(cls, hl, q0 * std::cos(phi), q0 * std::sin(phi), s, d,
                      f_o * f_o + s * s * f_c * f_c, f_c * f_c, epsc, cls.centric() ? 0.5 : 1.0);
}

template <class T>
typename SFweight_spline<T>::TargetResult SFweight_spline<T>::targetfn2(
    const HKL_class cls, const F_sigF<T>& fo, const ABCD<T>& hl, const F_phi<T>& fc,
    const double& s, const double& w) const {
  const double epsc = cls.epsilon_centric();
  const double f_o = fo.f(), f_c = fc.f(), phi = fc.phi();
  const double a0 = f_o * f_o / epsc, b0 = f_c * f_c / epsc, q0 = 2.0 * f_o * f_c / epsc;
  return prior_target(cls, hl, q0 * std::cos(phi), q0 * std::sin(phi), s,
                      Util::max(w, kMinVariance), a0 + s * s * b0, b0, 1.0,
                      cls.centric() ? 0.5 : 1.0);
}

template <class T>
template <class Target>
bool SFweight_spline<T>::evaluate(HKL_data<F_phi<T>>& fb, HKL_data<F_phi<T>>& fd,
                                  HKL_data<Phi_fom<T>>& phiw, const HKL_data<F_sigF<T>>& fo,
                                  const HKL_data<F_phi<T>>& fc, const HKL_data<Flag>& usage,
                                  const Target& target) {
  const HKL_info& hkls = fo.base_hkl_info();
  for (const HKL_data_base* list :
       {static_cast<const HKL_data_base*>(&fb), static_cast<const HKL_data_base*>(&fd),
        static_cast<const HKL_data_base*>(&phiw), static_cast<const HKL_data_base*>(&fc),
        static_cast<const HKL_data_base*>(&usage)})
    if (fo.is_null() || list->is_null() || &list->base_hkl_info() != &hkls)
      fatal("SFweight_spline: every data list must be over one reflection list");
  const int nrefl = hkls.num_reflections();

  // Working copies and the used reflections.
  HKL_data<F_sigF<T>> fo1(fo);
  HKL_data<F_phi<T>> fc1(fc);
  HKL_data<Flag_bool> used(hkls);
  for (int i = 0; i < nrefl; ++i)
    used[i] = Flag_bool(!fo1[i].missing() && !fc1[i].missing() && usage[i].flag() != 0);
  const int np = spline_params(used.num_obs(), n_reflns_, n_params_);
  int ne = np;
  while (ne < kMinNormParams) ne *= 2;
  const BasisFn_spline basis(used, np, 1.0);

  // Normalisation: ko(h) Eo^2 and kc(h) Ec^2 about 1.
  HKL_data<E_sigE<T>> eo(hkls), ec(hkls);
  for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next()) {
    const double root_eps = std::sqrt(double(ih.hkl_class().epsilon()));
    eo[ih] = E_sigE<T>(T(fo1[ih].f() / root_eps), T(1.0));
    ec[ih] = E_sigE<T>(T(fc1[ih].f() / root_eps), T(1.0));
  }
  const BasisFn_spline basis_o(eo, ne, 1.0), basis_c(ec, ne, 1.0);
  const TargetFn_scaleEsq<E_sigE<T>> target_o(eo), target_c(ec);
  const std::vector<double> ones(ne, 1.0);
  const ResolutionFn ko(hkls, basis_o, target_o, ones, 0.0, false);
  const ResolutionFn kc(hkls, basis_c, target_c, ones, 0.0, false);
  for (HKL_info::HKL_reference_index ih = hkls.first(); !ih.last(); ih.next()) {
    const double so = std::sqrt(ko.f(ih)), sc = std::sqrt(kc.f(ih));
    fo1[ih] = F_sigF<T>(T(fo1[ih].f() * so), T(fo1[ih].sigf() * so));
    fc1[ih].f() = T(fc1[ih].f() * sc);
  }

  // Starting values: s = 1, w fitted to the mean squared difference.
  param_s_.assign(np, 1.0);
  HKL_data<F_sigF<T>> diff(hkls);
  for (HKL_info::HKL_reference_index ih = used.first_data(); !ih.last(); used.next_data(ih)) {
    const double s = basis.f_s(ih.invresolsq(), param_s_);
    const double t =
        Util::sqr(fo1[ih].f() - std::sqrt(s) * fc1[ih].f()) / ih.hkl_class().epsilon_centric();
    diff[ih] = F_sigF<T>(T(t), T(t));
  }
  const TargetFn_meanFnth<F_sigF<T>> target_w(diff, 1.0);
  param_w_ = ResolutionFn(hkls, basis, target_w, param_w_, 0.0, false).params();
  for (int i = 0; i + 1 < np; ++i) param_w_[i] = Util::max(param_w_[i], 0.5 * param_w_[i + 1]);

  // Block-wise Newton refinement of s and w.
  std::vector<double> dfs(np);
  bool converged = false;
  double r_prev = 1e30;
  for (int cycle = 1; cycle <= kMaxCycles; ++cycle) {
    std::vector<double> gs(np, 0.0), gw(np, 0.0);
    Matrix<double> hs(np, np, 0.0), hw(np, np, 0.0);
    double r = 0.0;
    for (HKL_info::HKL_reference_index ih = used.first_data(); !ih.last(); used.next_data(ih)) {
      // The spline is linear in its parameters: its second derivatives
      // vanish, and only the value and gradient enter the sums.
      const BasisFn_base::Fderiv& fs = basis.fderiv_s(ih.invresolsq(), param_s_);
      const double s = fs.f;
      std::copy(fs.df.begin(), fs.df.end(), dfs.begin());
      const BasisFn_base::Fderiv& fw = basis.fderiv_s(ih.invresolsq(), param_w_);
      const TargetResult tr = target(ih.index(), ih.hkl_class(), fo1[ih], fc1[ih], s, fw.f);
      r += tr.r;
      for (int i = 0; i < np; ++i) {
        if (dfs[i] != 0.0) {
          gs[i] += tr.ds * dfs[i];
          for (int j = 0; j < np; ++j) hs(i, j) += dfs[i] * dfs[j] * tr.dss;
        }
        if (fw.df[i] != 0.0) {
          gw[i] += tr.dw * fw.df[i];
          for (int j = 0; j < np; ++j) hw(i, j) += fw.df[i] * fw.df[j] * tr.dww;
        }
      }
    }
    if (r_prev < r) {  // the total rose: keep the parameters that gave it
      converged = true;
      break;
    }
    const std::vector<double> ds = newton_step(hs, gs), dw = newton_step(hw, gw);
    for (int i = 0; i < np; ++i) {
      param_s_[i] -= Util::min(ds[i], kMaxDecrease * param_s_[i]);
      param_w_[i] -= Util::min(dw[i], kMaxDecrease * param_w_[i]);
    }
    // Relative change, so that a negative total (a very good model) stops
    // as a positive one does.
    if (std::fabs(r_prev - r) <= kStopChange * std::fabs(r_prev)) {
      converged = true;
      break;
    }
    r_prev = r;
  }

  // Output, always written, from the final parameters.
  for (int i = 0; i < nrefl; ++i) {
    fb[i].set_null();
    fd[i].set_null();
    phiw[i].set_null();
  }
  for (HKL_info::HKL_reference_index ih = fc1.first_data(); !ih.last(); fc1.next_data(ih)) {
    const HKL_class cls = ih.hkl_class();
    const double s = basis.f_s(ih.invresolsq(), param_s_);
    const double w = basis.f_s(ih.invresolsq(), param_w_);
    const double f_o = fo1[ih].f(), sig = fo1[ih].sigf(), f_c = fc1[ih].f();
    const double x = 2.0 * s * f_o * f_c / variance(sig, cls.epsilon_centric(), w);
    const T phi = fc1[ih].phi();
    const T m = T(cls.centric() ? std::tanh(x) : Util::sim(x));
    phiw[ih] = Phi_fom<T>(phi, m);
    // The coefficients are stored, then put on the observed scale: two
    // roundings to T, as every entry of the lists gets.
    const double scale = 1.0 / std::sqrt(ko.f(ih));
    const T fb_norm = T(fo1[ih].missing() ? s * f_c : 2.0 * m * f_o - s * f_c);
    const T fd_norm = T(fo1[ih].missing() ? 0.0 : m * f_o - s * f_c);
    fb[ih] = F_phi<T>(T(fb_norm * scale), phi);
    fd[ih] = F_phi<T>(T(fd_norm * scale), phi);
  }
  return converged;
}

template <class T>
bool SFweight_spline<T>::operator()(HKL_data<F_phi<T>>& fb, HKL_data<F_phi<T>>& fd,
                                    HKL_data<Phi_fom<T>>& phiw, const HKL_data<F_sigF<T>>& fo,
                                    const HKL_data<F_phi<T>>& fc, const HKL_data<Flag>& usage) {
  return evaluate(fb, fd, phiw, fo, fc, usage,
                  [this](const int&, const HKL_class& cls, const F_sigF<T>& o, const F_phi<T>& c,
                         const double& s, const double& w) { return targetfn0(cls, o, c, s, w); });
}

template <class T>
bool SFweight_spline<T>::operator()(HKL_data<F_phi<T>>& fb, HKL_data<F_phi<T>>& fd,
                                    HKL_data<Phi_fom<T>>& phiw, const HKL_data<F_sigF<T>>& fo,
                                    const HKL_data<ABCD<T>>& hl, const HKL_data<F_phi<T>>& fc,
                                    const HKL_data<Flag>& usage) {
  if (hl.is_null() || fo.is_null() || &hl.base_hkl_info() != &fo.base_hkl_info())
    fatal("SFweight_spline: every data list must be over one reflection list");
  return evaluate(
      fb, fd, phiw, fo, fc, usage,
      [this, &hl](const int& i, const HKL_class& cls, const F_sigF<T>& o, const F_phi<T>& c,
                  const double& s, const double& w) { return targetfn1(cls, o, hl[i], c, s, w); });
}

template <class T> void SFweight_spline<T>::debug() const {
  const double delta = 1e-6;
  const Spacegroup p1(Spacegroup::P1);
  const F_sigF<T> fo(T(10.0), T(0.0));
  const F_phi<T> fc(T(15.0), T(0.0));
  const ABCD<T> hl(T(0.0), T(0.0), T(0.0), T(0.0));
  for (int block = 0; block < 2; ++block) {
    auto tf = [&](const HKL_class& cls, const double& s, const double& w) {
      return block == 0 ? targetfn0(cls, fo, fc, s, w) : targetfn2(cls, fo, hl, fc, s, w);
    };
    for (const HKL& hkl : {HKL(0, 0, 0), HKL(1, 0, 0)}) {
      const HKL_class cls(p1, hkl);
      std::cout << "\nCentric? " << cls.centric() << " epsc " << double(cls.epsilon_centric())
                << "\n";
      for (double w = 10.0; w < 1000.0; w *= 3.0)
        for (double s = 0.4; s < 2.0; s *= 2.0) {
          const TargetResult r00 = tf(cls, s, w), r01 = tf(cls, s, w + delta),
                             r10 = tf(cls, s + delta, w), r11 = tf(cls, s + delta, w + delta);
          std::cout << w << " " << s << "\t" << r00.r << " " << r01.r << " " << r10.r << " "
                    << r11.r << "\n"
                    << (r10.r - r00.r) / delta << "\t" << r00.ds << "\n"
                    << (r01.r - r00.r) / delta << "\t" << r00.dw << "\n"
                    << (r10.ds - r00.ds) / delta << "\t" << r00.dss << "\n"
                    << (r01.dw - r00.dw) / delta << "\t" << r00.dww << "\n"
                    << (r01.ds - r00.ds) / delta << "\t" << r00.dsw << "\n"
                    << (r10.dw - r00.dw) / delta << "\t" << r00.dsw << "\n";
        }
    }
  }
}

template class SFweight_spline<float>;
template class SFweight_spline<double>;

}  // namespace vantrel
