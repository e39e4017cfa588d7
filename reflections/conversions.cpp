#include "reflections/conversions.h"

namespace vantrel {
namespace datatypes {

namespace {

// The exponent of a phase probability is clamped so that exp never overflows.
double clamped_exp(const double& x) { return std::exp(Util::bound(-50.0, x, 50.0)); }

// 0.5 sqrt(s1^2 + s2^2 + 2 cov), the cov term dropped when it is missing.
double mean_sigma(const double& s1, const double& s2, const double& cov) {
  const double var = s1 * s1 + s2 * s2;
  return 0.5 * std::sqrt(Util::is_nan(cov) ? var : var + 2.0 * cov);
}

}  // namespace

template <class dtype> Compute_phifom_from_abcd<dtype>::Compute_phifom_from_abcd() {
  for (int i = 0; i < 144; ++i) {
    costab_[i] = std::cos(Util::d2rad(5.0 * i));
    sintab_[i] = std::sin(Util::d2rad(5.0 * i));
  }
}

template <class dtype>
Phi_fom<dtype> Compute_phifom_from_abcd<dtype>::operator()(const HRI& ih,
                                                           const ABCD<dtype>& abcd) const {
  if (abcd.missing()) return Phi_fom<dtype>();
  const double a = abcd.a(), b = abcd.b(), c = abcd.c(), d = abcd.d();
  double sum_cos = 0.0, sum_sin = 0.0, sum = 0.0;
  const HKL_class& cls = ih.hkl_class();
  if (!cls.centric()) {
    for (int i = 0; i < 72; ++i) {
      const double p =
          clamped_exp(a * costab_[i] + b * sintab_[i] + c * costab_[2 * i] + d * sintab_[2 * i]);
      sum_cos += costab_[i] * p;
      sum_sin += sintab_[i] * p;
      sum += p;
    }
  } else {
    // The two allowed phases phi0 and phi0 + pi: exp(+-x) with x at phi0.
    const int j = Util::mod(int(std::nearbyint(Util::rad2d(cls.allowed_phase()) / 5.0)), 36);
    const double p = clamped_exp(a * costab_[j] + b * sintab_[j]);
    const double q = p - 1.0 / p;
    sum_cos = costab_[j] * q;
    sum_sin = sintab_[j] * q;
    sum = p + 1.0 / p;
  }
  const std::complex<double> z(sum_cos / sum, sum_sin / sum);
  return Phi_fom<dtype>(dtype(std::arg(z)), dtype(std::abs(z)));
}

template <class dtype>
ABCD<dtype> Compute_abcd_from_phifom<dtype>::operator()(const HRI& ih,
                                                        const Phi_fom<dtype>& phifom) const {
  if (phifom.missing()) return ABCD<dtype>();
  const dtype limit = dtype(0.9999);
  const double m = phifom.fom() < limit ? phifom.fom() : limit;
  const double x =
      ih.hkl_class().centric() ? 0.5 * std::log((1.0 + m) / (1.0 - m)) : Util::invsim(m);
  const dtype xd = dtype(x);
  const double phi = phifom.phi();
  return ABCD<dtype>(dtype(xd * std::cos(phi)), dtype(xd * std::sin(phi)), dtype(0), dtype(0));
}

template <class dtype>
F_sigF<dtype> Compute_FsigF<dtype, F_sigF_ano<dtype> >::operator()(
    const HRI&, const F_sigF_ano<dtype>& ano) const {
  const bool has_pl = !Util::is_nan(ano.f_pl()), has_mi = !Util::is_nan(ano.f_mi());
  if (!has_pl && !has_mi) return F_sigF<dtype>();
  if (!has_mi) return F_sigF<dtype>(ano.f_pl(), ano.sigf_pl());
  if (!has_pl) return F_sigF<dtype>(ano.f_mi(), ano.sigf_mi());
  const dtype f = dtype(0.5 * (double(ano.f_pl()) + double(ano.f_mi())));
  if (Util::is_nan(ano.sigf_pl())) return F_sigF<dtype>(f, ano.sigf_mi());
  if (Util::is_nan(ano.sigf_mi())) return F_sigF<dtype>(f, ano.sigf_pl());
  return F_sigF<dtype>(f, dtype(mean_sigma(ano.sigf_pl(), ano.sigf_mi(), ano.cov())));
}

template <class dtype>
F_sigF<dtype> Compute_mean_fsigf_from_fsigfano<dtype>::operator()(
    const HRI&, const F_sigF_ano<dtype>& ano) const {
  if (Util::is_nan(ano.f_pl())) return F_sigF<dtype>(ano.f_mi(), ano.sigf_mi());
  if (Util::is_nan(ano.f_mi())) return F_sigF<dtype>(ano.f_pl(), ano.sigf_pl());
  return F_sigF<dtype>(dtype(0.5 * (double(ano.f_pl()) + double(ano.f_mi()))),
                       dtype(mean_sigma(ano.sigf_pl(), ano.sigf_mi(), ano.cov())));
}

template <class dtype>
F_sigF<dtype> Compute_diff_fsigf_from_fsigfano<dtype>::operator()(
    const HRI&, const F_sigF_ano<dtype>& ano) const {
  if (Util::is_nan(ano.f_pl()) || Util::is_nan(ano.f_mi())) return F_sigF<dtype>();
  const double s1 = ano.sigf_pl(), s2 = ano.sigf_mi(), cov = ano.cov();
  const double var = s1 * s1 + s2 * s2;
  return F_sigF<dtype>(dtype(double(ano.f_pl()) - double(ano.f_mi())),
                       dtype(std::sqrt(Util::is_nan(cov) ? var : var - 2.0 * cov)));
}

template class Compute_phifom_from_abcd<float>;
template class Compute_phifom_from_abcd<double>;
template class Compute_abcd_from_phifom<float>;
template class Compute_abcd_from_phifom<double>;
template class Compute_FsigF<float, F_sigF_ano<float> >;
template class Compute_FsigF<double, F_sigF_ano<double> >;
template class Compute_mean_fsigf_from_fsigfano<float>;
template class Compute_mean_fsigf_from_fsigfano<double>;
template class Compute_diff_fsigf_from_fsigfano<float>;
template class Compute_diff_fsigf_from_fsigfano<double>;

}  // namespace datatypes
}  // namespace vantrel
