// Atomic X-ray scattering factors and electron densities, from the
// five-Gaussian form-factor table, smeared by isotropic or anisotropic
// displacement parameters and scaled by occupancy.
#ifndef VANTREL_MAPS_ATOMSF_H
#define VANTREL_MAPS_ATOMSF_H

#include <vector>

#include "foundation/matrix.h"
#include "foundation/vec_mat.h"
#include "foundation/vstring.h"
#include "symmetry/atom.h"

namespace vantrel {

namespace data {

//! Form factor of one element or ion: f(s) = sum a_i exp(-b_i s/4) + c,
//! s = 1/d^2. a holds a1..a5 and c, b holds b1..b5 and d (always 0).
struct SFData {
  char name[8];
  double a[6];
  double b[6];
};

constexpr int sfdata_size = 212;
//! Waasmaier & Kirfel (1995): neutral atoms H..Cf, then ions, Cval, Siva.
extern const SFData sfdata[sfdata_size];

}  // namespace data

//! Scattering factor and electron density of one atom.
/*! All table work (name lookup, normalisations, matrix inverses) happens in
  init; every evaluation is allocation-free. Widths b_i + 8 pi^2 U are kept
  at least min_width() so that the density stays finite for U = 0 and for
  the negative widths of some table rows. An anisotropic tensor whose
  determinant is below 1e-20 is inflated by 0.01 on the diagonal until it
  is not. Each density term of an anisotropic atom is normalised on its own
  width tensor, so that the density integrates to f at s = 0 and is the
  Fourier transform of f(h); rho(rsq) of such an atom is the isotropic
  Gaussian with the same determinant. */
class AtomShapeFn {
 public:
  //! Parameter selectors for rho_grad and rho_curv.
  enum TYPE { X = 0, Y = 1, Z = 2, Uiso = 3, Occ = 4 };

  AtomShapeFn() = default;
  AtomShapeFn(const Coord_orth& xyz, const String& element, const double u_iso = 0.0,
              const double occ = 1.0);
  AtomShapeFn(const Coord_orth& xyz, const String& element, const U_aniso_orth& u_aniso,
              const double occ = 1.0);
  explicit AtomShapeFn(const Atom& atom);

  //! Isotropic atom.
  void init(const Coord_orth& xyz, const String& element, const double u_iso = 0.0,
            const double occ = 1.0);
  //! Anisotropic atom.
  void init(const Coord_orth& xyz, const String& element, const U_aniso_orth& u_aniso,
            const double occ = 1.0);
  //! From an atom: a missing occupancy is 1, a missing anisotropic U gives
  //! the isotropic form, a missing isotropic U is 0.001.
  void init(const Atom& atom);
  //! Coefficient set-up alone for an element and isotropic U; the position,
  //! occupancy and form (isotropic or not) stay as they are.
  void init(const String& element, const double& u_iso);

  //! Isotropic scattering factor at s = 1/d^2 (A^-2).
  double f(const double& invresolsq) const;
  //! Scattering factor at a reciprocal-space position.
  double f(const Coord_reci_orth& rfl) const;
  //! Isotropic density at squared distance rsq (A^2) from the atom.
  double rho(const double& rsq) const;
  //! Density at a position.
  double rho(const Coord_orth& xyz) const;

  //! Density derivatives for the selected parameters (isotropic atoms).
  bool rho_grad(const Coord_orth& xyz, std::vector<double>& grad) const;
  bool rho_grad(const Coord_orth& xyz, double& rho, std::vector<double>& grad) const;
  //! Density, derivatives and second derivatives (isotropic atoms); curv
  //! must be at least as large as the selector count in both dimensions.
  bool rho_curv(const Coord_orth& xyz, double& rho, std::vector<double>& grad,
                Matrix<double>& curv) const;

  //! The parameters (TYPE values) that rho_grad and rho_curv report, in order.
  std::vector<int>& gradient_params() { return gradient_params_; }
  const std::vector<int>& gradient_params() const { return gradient_params_; }

  //! Smallest Gaussian width b + 8 pi^2 U (A^2) used for densities.
  static constexpr double min_width() { return 1.0e-4; }
  //! The element name as the table writes it: blanks dropped, the first
  //! letter upper case, later letters lower case ("fe2+" -> "Fe2+").
  static String normalise_name(const String& element);

 private:
  static constexpr int nterms = 6;
  void init_aniso_terms();
  //! The unsmeared form factor sum a_i exp(-b_i s/4) + c.
  double form_factor(const double& invresolsq) const;
  // Sums over the terms t_i = rho_a_i exp(rho_b_i rsq) that the density
  // and its derivatives are made of.
  struct TermSums {
    double s0 = 0.0;   // sum t
    double s1 = 0.0;   // sum b t
    double s2 = 0.0;   // sum b^2 t
    double su = 0.0;   // sum b t (b rsq + 1.5)
    double suu = 0.0;  // sum b^2 t (b^2 rsq^2 + 5 b rsq + 3.75)
  };
  TermSums term_sums(const double& rsq) const;
  //! Density and selected derivatives at xyz, with the offset d from the
  //! atom and the term sums s; false (after the fatal message) for an
  //! anisotropic atom.
  bool gradient_at(const Coord_orth& xyz, double& rho_value, std::vector<double>& grad,
                   Vec3<double>& d, TermSums& s) const;

  Coord_orth coord = Coord_orth(0.0, 0.0, 0.0);
  U_aniso_orth u_aniso = U_aniso_orth(0.0, 0.0, 0.0, 0.0, 0.0, 0.0);
  double u_iso = 0.0;
  double occupancy = 1.0;
  double coef_a[nterms] = {};
  double coef_b[nterms] = {};
  double rho_a[nterms] = {};
  double rho_b[nterms] = {};
  std::vector<Mat33sym<double>> rho_aniso_mats;
  bool isotropic = true;
  std::vector<int> gradient_params_;
};

//! The shape function of an atom at the origin.
class AtomSF : public AtomShapeFn {
 public:
  AtomSF(const String& element, const double u_iso = 0.0, const double occ = 1.0);
  AtomSF(const String& element, const U_aniso_orth& u_aniso, const double occ = 1.0);
  void init(const String& element, const double u_iso = 0.0, const double occ = 1.0);
  void init(const String& element, const U_aniso_orth& u_aniso, const double occ = 1.0);

  double f_iso(const double& invresolsq) const { return AtomShapeFn::f(invresolsq); }
  double f_aniso(const Coord_reci_orth& rfl) const { return AtomShapeFn::f(rfl); }
  double rho_iso(const double& rsq) const { return AtomShapeFn::rho(rsq); }
  double rho_aniso(const Coord_orth& xyz) const { return AtomShapeFn::rho(xyz); }
};

}  // namespace vantrel

#endif
