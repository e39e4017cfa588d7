#include "maps/atomsf.h"

#include <cctype>
#include <cmath>

#include "foundation/message.h"
#include "foundation/util.h"

namespace vantrel {

namespace {

constexpr double kPi = Util::pi();
constexpr double kFourPi2 = 4.0 * Util::pi() * Util::pi();
// The anisotropic tensor is inflated until its determinant reaches this.
constexpr double kMinUDeterminant = 1.0e-20;
constexpr double kURegularisationStep = 0.01;

const Message_fatal message_missing_method("AtomShapeFn: missing method");

// The table row of a normalised name; fatal for a name not in the table.
const data::SFData* find_record(const String& name) {
  for (const data::SFData& rec : data::sfdata)
    if (name == rec.name) return &rec;
  fatal("Unknown atom type: <" + name + ">");
}

// Smallest eigenvalue of a symmetric matrix (trigonometric closed form).
double smallest_eigenvalue(const Mat33sym<double>& m) {
  const double offdiag = m.mat01() * m.mat01() + m.mat02() * m.mat02() + m.mat12() * m.mat12();
  const double q = (m.mat00() + m.mat11() + m.mat22()) / 3.0;
  const double d0 = m.mat00() - q, d1 = m.mat11() - q, d2 = m.mat22() - q;
  const double p = std::sqrt((d0 * d0 + d1 * d1 + d2 * d2 + 2.0 * offdiag) / 6.0);
  if (p == 0.0) return q;
  const Mat33sym<double> b(d0 / p, d1 / p, d2 / p, m.mat01() / p, m.mat02() / p, m.mat12() / p);
  const double r = Util::bound(-1.0, 0.5 * b.det(), 1.0);
  return q + 2.0 * p * std::cos(std::acos(r) / 3.0 + 2.0 * kPi / 3.0);
}

}  // namespace

AtomShapeFn::AtomShapeFn(const Coord_orth& xyz, const String& element, const double u_iso,
                         const double occ) {
  init(xyz, element, u_iso, occ);
}

AtomShapeFn::AtomShapeFn(const Coord_orth& xyz, const String& element, const U_aniso_orth& u_aniso,
                         const double occ) {
  init(xyz, element, u_aniso, occ);
}

AtomShapeFn::AtomShapeFn(const Atom& atom) { init(atom); }

String AtomShapeFn::normalise_name(const String& element) {
  String name;
  bool first_letter = true;
  for (const char ch : element) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (std::isspace(c)) continue;
    if (std::isalpha(c)) {
      name += char(first_letter ? std::toupper(c) : std::tolower(c));
      first_letter = false;
    } else {
      name += ch;
    }
  }
  return name;
}

void AtomShapeFn::init(const String& element, const double& u) {
  const data::SFData* rec = find_record(normalise_name(element));
  if (rec == nullptr) return;
  for (int i = 0; i < nterms; ++i) {
    coef_a[i] = rec->a[i];
    coef_b[i] = rec->b[i];
    // Real-space transform of a exp(-w s/4): a (4 pi/w)^1.5 exp(-4 pi^2 r^2/w).
    double width = rec->b[i] + Util::eightpi2() * u;
    if (width < min_width()) width = min_width();
    rho_b[i] = -kFourPi2 / width;
    rho_a[i] = rec->a[i] * std::pow(-rho_b[i] / kPi, 1.5);
  }
  u_iso = u;
}

void AtomShapeFn::init(const Coord_orth& xyz, const String& element, const double u,
                       const double occ) {
  isotropic = true;
  coord = xyz;
  occupancy = occ;
  rho_aniso_mats.clear();
  init(element, u);
}

void AtomShapeFn::init(const Coord_orth& xyz, const String& element, const U_aniso_orth& u,
                       const double occ) {
  isotropic = false;
  coord = xyz;
  occupancy = occ;
  u_aniso = u;
  const U_aniso_orth step(kURegularisationStep, kURegularisationStep, kURegularisationStep, 0.0,
                          0.0, 0.0);
  while (u_aniso.det() < kMinUDeterminant && !Util::is_nan(u_aniso.det())) u_aniso = u_aniso + step;
  init(element, u.u_iso());
  init_aniso_terms();
}

// Density terms of the anisotropic atom. Term i has the exponent matrix
// M_i = A_i^-1 with A_i = -2 U - b_i / (4 pi^2) I. Its amplitude is
// a_i / (pi^1.5 sqrt(det -A_i)), so that each term integrates to a_i; the
// isotropic fields describe the Gaussian with the same determinant. The
// eigenvalues of -A_i are kept at least min_width() / (4 pi^2).
void AtomShapeFn::init_aniso_terms() {
  rho_aniso_mats.resize(nterms);
  const double min_spread = min_width() / kFourPi2;
  for (int i = 0; i < nterms; ++i) {
    const double diag = -coef_b[i] / kFourPi2;
    Mat33sym<double> a(-2.0 * u_aniso.mat00() + diag, -2.0 * u_aniso.mat11() + diag,
                       -2.0 * u_aniso.mat22() + diag, -2.0 * u_aniso.mat01(),
                       -2.0 * u_aniso.mat02(), -2.0 * u_aniso.mat12());
    const double narrowest = smallest_eigenvalue(-1.0 * a);
    if (narrowest < min_spread) {
      const double lift = min_spread - narrowest;
      a = a - Mat33sym<double>(lift, lift, lift, 0.0, 0.0, 0.0);
    }
    rho_aniso_mats[i] = a.inverse();
    rho_b[i] = -1.0 / std::cbrt(-a.det());
    rho_a[i] = coef_a[i] * std::pow(-rho_b[i] / kPi, 1.5);
  }
}

void AtomShapeFn::init(const Atom& atom) {
  const double occ = Util::is_nan(atom.occupancy()) ? 1.0 : atom.occupancy();
  if (atom.u_aniso_orth().is_null()) {
    const double u = Util::is_nan(atom.u_iso()) ? 0.001 : atom.u_iso();
    init(atom.coord_orth(), atom.element(), u, occ);
  } else {
    init(atom.coord_orth(), atom.element(), atom.u_aniso_orth(), occ);
  }
}

double AtomShapeFn::form_factor(const double& invresolsq) const {
  double sum = 0.0;
  for (int i = 0; i < 5; ++i) sum += coef_a[i] * std::exp(-0.25 * coef_b[i] * invresolsq);
  return sum + coef_a[5];
}

double AtomShapeFn::f(const double& invresolsq) const {
  return occupancy * std::exp(-0.25 * Util::eightpi2() * u_iso * invresolsq) *
         form_factor(invresolsq);
}

double AtomShapeFn::f(const Coord_reci_orth& rfl) const {
  const double invresolsq = Vec3<double>::dot(rfl, rfl);
  if (isotropic) return f(invresolsq);
  return occupancy * std::exp(-Util::twopi2() * u_aniso.quad_form(rfl)) * form_factor(invresolsq);
}

double AtomShapeFn::rho(const double& rsq) const {
  double sum = 0.0;
  for (int i = 0; i < nterms; ++i) sum += rho_a[i] * std::exp(rho_b[i] * rsq);
  return occupancy * sum;
}

double AtomShapeFn::rho(const Coord_orth& xyz) const {
  const Vec3<double> d = xyz - coord;
  if (isotropic) return rho(Vec3<double>::dot(d, d));
  double sum = 0.0;
  for (int i = 0; i < nterms; ++i) sum += rho_a[i] * std::exp(rho_aniso_mats[i].quad_form(d));
  return occupancy * sum;
}

AtomShapeFn::TermSums AtomShapeFn::term_sums(const double& rsq) const {
  TermSums s;
  for (int i = 0; i < nterms; ++i) {
    const double b = rho_b[i], br = b * rsq;
    const double t = rho_a[i] * std::exp(br);
    s.s0 += t;
    s.s1 += b * t;
    s.s2 += b * b * t;
    s.su += b * t * (br + 1.5);
    s.suu += b * b * t * ((b * b) * (rsq * rsq) + 5.0 * b * rsq + 3.75);
  }
  return s;
}

bool AtomShapeFn::gradient_at(const Coord_orth& xyz, double& rho_value, std::vector<double>& grad,
                              Vec3<double>& d, TermSums& s) const {
  if (!isotropic) fatal(message_missing_method.text());
  d = xyz - coord;
  s = term_sums(Vec3<double>::dot(d, d));
  const double derivs[5] = {-2.0 * occupancy * s.s1 * d[0], -2.0 * occupancy * s.s1 * d[1],
                            -2.0 * occupancy * s.s1 * d[2], 2.0 * occupancy * s.su, s.s0};
  if (grad.size() < gradient_params_.size()) grad.resize(gradient_params_.size(), 0.0);
  for (std::size_t k = 0; k < gradient_params_.size(); ++k) grad[k] = derivs[gradient_params_[k]];
  rho_value = occupancy * s.s0;
  return true;
}

bool AtomShapeFn::rho_grad(const Coord_orth& xyz, std::vector<double>& grad) const {
  double rho_value;
  return rho_grad(xyz, rho_value, grad);
}

bool AtomShapeFn::rho_grad(const Coord_orth& xyz, double& rho_value,
                           std::vector<double>& grad) const {
  Vec3<double> d;
  TermSums s;
  return gradient_at(xyz, rho_value, grad, d, s);
}

bool AtomShapeFn::rho_curv(const Coord_orth& xyz, double& rho_value, std::vector<double>& grad,
                           Matrix<double>& curv) const {
  Vec3<double> d;
  TermSums s;
  if (!gradient_at(xyz, rho_value, grad, d, s)) return false;
  // Second derivatives over (x, y, z, U, occupancy); the mixed terms of U
  // with position and with occupancy are not provided (NaN).
  double q[5][5];
  for (int j = 0; j < 3; ++j) {
    for (int k = 0; k < 3; ++k) q[j][k] = 4.0 * occupancy * s.s2 * d[j] * d[k];
    q[j][j] = 2.0 * occupancy * (2.0 * s.s2 * (d[j] * d[j]) + s.s1);
    q[j][Uiso] = q[Uiso][j] = Util::nan();
    q[j][Occ] = q[Occ][j] = -2.0 * s.s1 * d[j];
  }
  q[Uiso][Uiso] = 4.0 * occupancy * s.suu;
  q[Uiso][Occ] = q[Occ][Uiso] = Util::nan();
  q[Occ][Occ] = 0.0;
  const int n = int(gradient_params_.size());
  for (int k = 0; k < n; ++k)
    for (int l = 0; l < n; ++l) curv(k, l) = q[gradient_params_[k]][gradient_params_[l]];
  return true;
}

AtomSF::AtomSF(const String& element, const double u_iso, const double occ) {
  init(element, u_iso, occ);
}

AtomSF::AtomSF(const String& element, const U_aniso_orth& u_aniso, const double occ) {
  init(element, u_aniso, occ);
}

void AtomSF::init(const String& element, const double u_iso, const double occ) {
  AtomShapeFn::init(Coord_orth(0.0, 0.0, 0.0), element, u_iso, occ);
}

void AtomSF::init(const String& element, const U_aniso_orth& u_aniso, const double occ) {
  AtomShapeFn::init(Coord_orth(0.0, 0.0, 0.0), element, u_aniso, occ);
}

}  // namespace vantrel
