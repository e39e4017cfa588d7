// Coordinate types, grids, orthogonal operators, geometry, displacement
// tensors and atoms.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "foundation/message.h"
#include "foundation/rotation.h"
#include "symmetry/coords.h"

using namespace vantrel;

namespace {

const double pi = Util::pi();

Cell triclinic() { return Cell(Cell_descr(31.2, 47.9, 55.3, 81.0, 103.5, 97.2)); }
Cell hexagonal() { return Cell(Cell_descr(52.0, 52.0, 91.0, 90.0, 90.0, 120.0)); }

std::vector<Coord_orth> random_points(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> d(-20.0, 20.0);
  std::vector<Coord_orth> xs;
  for (int i = 0; i < n; ++i) xs.emplace_back(d(rng), d(rng), d(rng));
  return xs;
}

}  // namespace

// ---------------------------------------------------------------------------
// Grids and grid coordinates

TEST(GridCoords, RoundingToGridPointsTiesToEven) {
  EXPECT_TRUE(Coord_map(1.5, 2.5, -0.5).coord_grid() == Coord_grid(2, 2, 0));
  EXPECT_TRUE(Coord_map(1.6, -1.6, 0.4).coord_grid() == Coord_grid(2, -2, 0));
  EXPECT_TRUE(Coord_map(1.5, -0.5, -1.2).floor() == Coord_grid(1, -1, -2));
  const Grid g(10, 20, 30);
  EXPECT_TRUE(Coord_frac(0.25, 0.5, -0.05).coord_grid(g) == Coord_grid(2, 10, -2));
}

TEST(GridCoords, WalkVisitsEveryPointInIndexOrder) {
  const Grid g(3, 4, 5);
  EXPECT_EQ(g.size(), 60);
  Coord_grid c(0, 0, 0);
  int count = 0;
  for (; c.u() < g.nu(); c.next(g), ++count) {
    ASSERT_EQ(c.index(g), count);
    ASSERT_TRUE(g.deindex(count) == c);
    ASSERT_TRUE(g.in_grid(c));
  }
  EXPECT_EQ(count, g.size());
  EXPECT_TRUE(c == Coord_grid(3, 0, 0));
  EXPECT_FALSE(g.in_grid(c));
}

TEST(GridCoords, TextForms) {
  EXPECT_EQ(HKL(1, 2, 3).format(), "HKL = (   1,   2,   3)");
  EXPECT_EQ(Grid(48, 64, 100).format(), "Nuvw = (  48,  64, 100)");
  EXPECT_EQ(Coord_orth(1, 2.5, -3).format(), "xyz = (         1,       2.5,        -3)");
  EXPECT_EQ(Coord_reci_orth(0.5, 0, 0.25).format(), "x*y*z* = (   0.5,     0,  0.25)");
}

// ---------------------------------------------------------------------------
// Conversions through a cell

TEST(CellCoords, FractionalOrthogonalRoundTrip) {
  const Cell cell = triclinic();
  const Coord_orth x(12.3, -4.5, 33.3);
  EXPECT_TRUE(x.coord_frac(cell).coord_orth(cell).equals(x, 1e-10));
  const Coord_frac f(0.3, -0.2, 0.9);
  EXPECT_NEAR(f.lengthsq(cell), f.coord_orth(cell).lengthsq(), 1e-9);
}

TEST(CellCoords, ReciprocalPositionsGiveResolution) {
  const Cell cubic(Cell_descr(10, 10, 10, 90, 90, 90));
  EXPECT_NEAR(HKL(1, 0, 0).invresolsq(cubic), 0.01, 1e-15);
  EXPECT_NEAR(HKL(1, 2, 2).invresolsq(cubic), 0.09, 1e-15);

  const Cell cell = triclinic();
  for (const HKL& h : {HKL(1, 0, 0), HKL(3, -5, 7), HKL(-4, 2, 11)}) {
    const Coord_reci_orth s = h.coord_reci_orth(cell);
    EXPECT_NEAR(s.invresolsq(), h.invresolsq(cell), 1e-12);
    EXPECT_NEAR(h.coord_reci_frac().invresolsq(cell), h.invresolsq(cell), 1e-12);
    EXPECT_TRUE(s.coord_reci_frac(cell).hkl() == h);
    // A reflection's phase at a position is the same in both frames.
    const Coord_orth x(3.1, -7.7, 12.9);
    const Coord_frac f = x.coord_frac(cell);
    EXPECT_NEAR(Vec3<double>::dot(s, x), Vec3<double>::dot(Vec3<double>(h), f), 1e-10);
  }
}

// ---------------------------------------------------------------------------
// Operators

TEST(RTopOrth, ProductIsComposition) {
  const RTop<double> a(Rotation(Polar_ccp4(0.4, 1.1, 0.8)).matrix(), Vec3<double>(1, 2, 3));
  const RTop<double> b(Mat33<double>(1, 2, 0, 0, 1, 0, 3, 0, 1), Vec3<double>(-4, 0.5, 2));
  const Vec3<double> x(0.3, -1.7, 2.2);
  EXPECT_TRUE(((a * b) * x).equals(a * (b * x), 1e-12));
  EXPECT_FALSE(((b * a) * x).equals(a * (b * x), 1e-6));
}

TEST(RTopOrth, IdentityInverseAndNull) {
  EXPECT_TRUE(RTop_orth::identity().inverse().rot().equals(Mat33<double>::identity(), 0.0));
  const RTop_frac f = RTop_orth::identity().rtop_frac(triclinic());
  EXPECT_TRUE(f.rot().equals(Mat33<double>::identity(), 1e-12));
  EXPECT_TRUE(RTop_orth::null().is_null());

  const RTop_orth op(Rotation(Polar_ccp4(1.0, 2.0, 2.5)).matrix(), Vec3<double>(5, -6, 7));
  const Coord_orth x(1, 2, 3);
  EXPECT_TRUE((op.inverse() * (op * x)).equals(x, 1e-12));
}

TEST(RTopOrth, SuperpositionRecoversRotationAndTranslation) {
  std::mt19937 rng(2024);
  const std::vector<Coord_orth> src = random_points(25, rng);

  const RTop_orth self(src, src);
  EXPECT_TRUE(self.rot().equals(Mat33<double>::identity(), 1e-10));
  EXPECT_TRUE(self.trn().equals(Vec3<double>::zero(), 1e-9));

  for (const Polar_ccp4& polar : {Polar_ccp4(0.3, 0.2, 0.5), Polar_ccp4(1.2, -2.0, 2.9),
                                  Polar_ccp4(2.5, 1.0, pi)}) {
    const RTop_orth known(Rotation(polar).matrix(), Vec3<double>(4.0, -11.5, 7.25));
    std::vector<Coord_orth> tgt;
    for (const Coord_orth& x : src) tgt.push_back(known * x);
    const RTop_orth fit(src, tgt);
    EXPECT_TRUE(fit.rot().equals(known.rot(), 1e-9));
    EXPECT_TRUE(fit.trn().equals(known.trn(), 1e-8));
  }
}

TEST(RTopOrth, SuperpositionOfNoisyPointsIsTheLeastSquaresFit) {
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0.0, 0.3);
  const std::vector<Coord_orth> src = random_points(40, rng);
  const RTop_orth known(Rotation(Polar_ccp4(0.9, 0.4, 1.7)).matrix(), Vec3<double>(1, 2, 3));
  std::vector<Coord_orth> tgt;
  for (const Coord_orth& x : src)
    tgt.push_back(known * x + Coord_orth(noise(rng), noise(rng), noise(rng)));
  const RTop_orth fit(src, tgt);
  const auto rss = [&](const RTop_orth& op) {
    double s = 0.0;
    for (std::size_t i = 0; i < src.size(); ++i) s += (op * src[i] - tgt[i]).lengthsq();
    return s;
  };
  // Small perturbations of the fit do not reduce the residual.
  const double best = rss(fit);
  for (const Polar_ccp4& tweak : {Polar_ccp4(0.0, 0.0, 0.002), Polar_ccp4(pi / 2, 0.0, 0.002),
                                  Polar_ccp4(pi / 2, pi / 2, -0.002)}) {
    const RTop_orth turned(RTop<double>(Rotation(tweak).matrix()) * fit);
    EXPECT_GT(rss(turned), best);
  }
  const RTop_orth shifted(fit.rot(), fit.trn() + Vec3<double>(0.01, 0, 0));
  EXPECT_GT(rss(shifted), best);
}

TEST(RTopOrth, SuperpositionOfListsOfDifferentLengthIsFatal) {
  std::ostringstream sink;
  Message::set_stream(sink);
  const std::vector<Coord_orth> a(3, Coord_orth(0, 0, 0)), b(4, Coord_orth(0, 0, 0));
  EXPECT_THROW(RTop_orth(a, b), Message_fatal);
  Message::set_stream(std::cerr);
  EXPECT_EQ(sink.str(), "RTop_orth: coordinate list size mismatch\n");
}

// ---------------------------------------------------------------------------
// Geometry

TEST(Geometry, LengthAngleTorsion) {
  const Coord_orth x1(1, 0, 0), x2(0, 0, 0), x3(0, 0, 1), x4(0, 1, 1);
  EXPECT_NEAR(Coord_orth::torsion(x1, x2, x3, x4), pi / 2, 1e-12);
  EXPECT_NEAR(Coord_orth::torsion(x1, x2, x3, Coord_orth(0, -1, 1)), -pi / 2, 1e-12);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(x1, x2, x3, Coord_orth(-1, 0, 1))), pi, 1e-12);
  EXPECT_NEAR(Coord_orth::torsion(x1, x2, x3, Coord_orth(2, 0, 1)), 0.0, 1e-12);

  EXPECT_NEAR(Coord_orth::angle(x1, x2, x3), pi / 2, 1e-12);
  EXPECT_TRUE(Util::is_nan(Coord_orth::angle(x1, x1, x3)));
  EXPECT_NEAR(Coord_orth::length(x1, x4), std::sqrt(3.0), 1e-15);
  EXPECT_EQ(Coord_orth::length(x4, x4), 0.0);
}

TEST(Geometry, PlacementReproducesInternalCoordinates) {
  std::mt19937 rng(99);
  for (int trial = 0; trial < 20; ++trial) {
    const std::vector<Coord_orth> p = random_points(4, rng);
    const double len = Coord_orth::length(p[2], p[3]);
    const double ang = Coord_orth::angle(p[1], p[2], p[3]);
    const double tor = Coord_orth::torsion(p[0], p[1], p[2], p[3]);
    const Coord_orth placed(p[0], p[1], p[2], len, ang, tor);
    EXPECT_TRUE(placed.equals(p[3], 1e-9));
  }
  // Torsion pi with angle 2pi/3: in the plane of the others, trans to x1.
  const Coord_orth x1(1, 1, 0), x2(0, 0, 0), x3(0, 1.5, 0);
  const Coord_orth x4(x1, x2, x3, 1.5, 2 * pi / 3, pi);
  EXPECT_NEAR(x4.z(), 0.0, 1e-12);
  EXPECT_LT(x4.x(), 0.0);
  EXPECT_NEAR(Coord_orth::length(x3, x4), 1.5, 1e-12);
  EXPECT_NEAR(Coord_orth::angle(x2, x3, x4), 2 * pi / 3, 1e-12);
}

// ---------------------------------------------------------------------------
// Miller indices under symmetry

TEST(HKLSymmetry, TransformAndPhaseShift) {
  const Symop op(RTop_frac(String("-y,x-y,z+1/3")));
  const HKL h(2, -3, 5);
  const HKL hr = h.transform(Isymop(op, Grid(24, 24, 24)));
  // (h R).x equals h.(R x) for any x: the reflection follows the operator.
  const Vec3<double> x(0.11, 0.27, -0.4);
  EXPECT_NEAR(Vec3<double>::dot(Vec3<double>(hr), x),
              Vec3<double>::dot(Vec3<double>(h), op.rot() * x), 1e-12);
  EXPECT_TRUE(h.transform(op) == hr);
  EXPECT_NEAR(h.sym_phase_shift(op), -2 * pi * 5.0 / 3.0, 1e-12);
  EXPECT_TRUE(-h == HKL(-2, 3, -5));
}

TEST(GridSymmetry, IntegerOperatorMovesGridPoints) {
  const Grid g(12, 12, 18);
  const Isymop op(Symop(RTop_frac(String("-y,x-y,z+1/3"))), g);
  EXPECT_TRUE(Coord_grid(1, 2, 3).transform(op) == Coord_grid(-2, -1, 9));
}

// ---------------------------------------------------------------------------
// Displacement tensors

TEST(UAniso, IsotropicValueAndFrames) {
  EXPECT_NEAR(U_aniso_orth(0.25).u_iso(), 0.25, 1e-9);
  EXPECT_TRUE(Util::is_nan(U_aniso_orth(-0.2, 0.3, 0.3, 0, 0, 0).u_iso()));

  const Cell cell = triclinic();
  const U_aniso_orth u(0.31, 0.22, 0.45, 0.05, -0.02, 0.07);
  const U_aniso_orth back = u.u_aniso_frac(cell).u_aniso_orth(cell);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(back(i, j), u(i, j), 1e-12);

  const U_aniso_orth sum = u + U_aniso_orth(0.1);
  EXPECT_DOUBLE_EQ(sum(0, 0), 0.41);
  EXPECT_DOUBLE_EQ(sum(0, 1), 0.05);
}

// The fractional transform must agree with the orthogonal one in a cell
// whose fractional rotations are not orthonormal.
TEST(UAniso, FractionalTransformMatchesOrthogonalFrame) {
  const Cell cell = hexagonal();
  const U_aniso_orth u(0.31, 0.22, 0.45, 0.05, -0.02, 0.07);
  for (const char* text : {"-y,x-y,z+1/3", "y,x,-z", "x-y,x,z+1/6"}) {
    SCOPED_TRACE(text);
    const RTop_frac op(text);
    const U_aniso_orth via_orth = u.transform(op.rtop_orth(cell));
    const U_aniso_orth via_frac = u.u_aniso_frac(cell).transform(op).u_aniso_orth(cell);
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(via_frac(i, j), via_orth(i, j), 1e-12);
  }
  // An isotropic tensor is invariant under the threefold axis.
  const U_aniso_frac iso = U_aniso_orth(0.3).u_aniso_frac(cell);
  const U_aniso_frac turned = iso.transform(RTop_frac(String("-y,x-y,z")));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(turned(i, j), iso(i, j), 1e-15);
}

// ---------------------------------------------------------------------------
// Atoms

TEST(Atoms, NullAtomAndTransform) {
  const Atom null = Atom::null();
  EXPECT_TRUE(null.is_null());
  EXPECT_TRUE(null.element().empty());
  EXPECT_TRUE(null.u_aniso_orth().is_null());
  EXPECT_TRUE(Util::is_nan(null.occupancy()));
  EXPECT_TRUE(Util::is_nan(null.u_iso()));

  const RTop_orth op(Rotation(Polar_ccp4(pi / 2, 0, pi / 2)).matrix(), Vec3<double>(1, 0, 0));
  Atom a;
  a.set_element("Fe");
  a.set_coord_orth(Coord_orth(1, 2, 3));
  a.set_occupancy(0.5);
  a.set_u_iso(0.2);
  Atom b = a;
  b.transform(op);  // quarter turn about x, then shift along x
  EXPECT_TRUE(b.coord_orth().equals(Coord_orth(2, -3, 2), 1e-12));
  EXPECT_TRUE(b.u_aniso_orth().is_null());
  EXPECT_EQ(b.occupancy(), 0.5);

  a.set_u_aniso_orth(U_aniso_orth(0.1, 0.2, 0.3, 0, 0, 0));
  a.transform(op);
  EXPECT_NEAR(a.u_aniso_orth()(1, 1), 0.3, 1e-12);
  EXPECT_NEAR(a.u_aniso_orth()(2, 2), 0.2, 1e-12);
}
