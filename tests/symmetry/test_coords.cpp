#include <gtest/gtest.h>

#include <random>

#include "foundation/message.h"
#include "foundation/rotation.h"
#include "support/testing.h"
#include "symmetry/atom.h"
#include "symmetry/coords.h"
#include "symmetry/rtop.h"
#include "symmetry/symop.h"

using namespace vantrel;

namespace {

const double pi = Util::pi();

Cell triclinic() { return Cell(Cell_descr(31.2, 47.9, 55.3, 81.0, 103.5, 97.2)); }

std::vector<Coord_orth> random_points(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> d(-20.0, 20.0);
  std::vector<Coord_orth> xs;
  for (int i = 0; i < n; ++i) xs.emplace_back(d(rng), d(rng), d(rng));
  return xs;
}

void expect_same_tensor(const Mat33sym<double>& a, const Mat33sym<double>& b, double tol) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(a(i, j), b(i, j), tol) << i << j;
}

}  // namespace

TEST(GridCoords, RoundingWalkIndexAndText) {
  EXPECT_TRUE(Coord_map(1.5, 2.5, -0.5).coord_grid() == Coord_grid(2, 2, 0));  // ties to even
  EXPECT_TRUE(Coord_map(1.6, -1.6, 0.4).coord_grid() == Coord_grid(2, -2, 0));
  EXPECT_TRUE(Coord_map(1.5, -0.5, -1.2).floor() == Coord_grid(1, -1, -2));
  const Grid g(3, 4, 5);
  Coord_grid c(0, 0, 0);
  int count = 0;
  for (; c.u() < g.nu(); c.next(g), ++count) {
    ASSERT_EQ(c.index(g), count);
    ASSERT_TRUE(g.deindex(count) == c);
  }
  EXPECT_EQ(count, g.size());
  EXPECT_TRUE(c == Coord_grid(3, 0, 0));
  EXPECT_TRUE(Coord_grid(-1, 9, -10).unit(g) == Coord_grid(2, 1, 0));
  EXPECT_EQ(HKL(1, 2, 3).format(), "HKL = (   1,   2,   3)");
  EXPECT_EQ(Grid(48, 64, 100).format(), "Nuvw = (  48,  64, 100)");
  EXPECT_EQ(Coord_orth(1, 2.5, -3).format(), "xyz = (         1,       2.5,        -3)");
  EXPECT_EQ(Coord_reci_orth(0.5, 0, 0.25).format(), "x*y*z* = (   0.5,     0,  0.25)");
}

TEST(CellCoords, FrameConversions) {
  const Cell cell = triclinic();
  const Coord_orth x(12.3, -4.5, 33.3);
  const Coord_frac f = x.coord_frac(cell);
  EXPECT_TRUE(f.coord_orth(cell).equals(x, 1e-10));
  EXPECT_NEAR(f.lengthsq(cell), x.lengthsq(), 1e-9);
  for (const HKL& h : {HKL(1, 0, 0), HKL(3, -5, 7), HKL(-4, 2, 11)}) {
    const Coord_reci_orth s = h.coord_reci_orth(cell);
    EXPECT_NEAR(s.invresolsq(), h.invresolsq(cell), 1e-12);
    // A reflection's phase at a position is the same in both frames.
    EXPECT_NEAR(Vec3<double>::dot(s, x), Vec3<double>::dot(Vec3<double>(h), f), 1e-10);
  }
}

TEST(RTopOrth, ProductInverseAndSuperposition) {
  const RTop<double> a(Rotation(Polar_ccp4(0.4, 1.1, 0.8)).matrix(), Vec3<double>(1, 2, 3));
  const RTop<double> b(Mat33<double>(1, 2, 0, 0, 1, 0, 3, 0, 1), Vec3<double>(-4, 0.5, 2));
  const Vec3<double> x(0.3, -1.7, 2.2);
  EXPECT_TRUE(((a * b) * x).equals(a * (b * x), 1e-12));
  EXPECT_FALSE(((b * a) * x).equals(a * (b * x), 1e-6));
  const RTop_orth op(a);
  EXPECT_TRUE((op.inverse() * (op * Coord_orth(x))).equals(x, 1e-12));
  EXPECT_TRUE(RTop_orth::null().is_null());
  // superposition recovers a known rotation and translation
  std::mt19937 rng(2024);
  const std::vector<Coord_orth> src = random_points(25, rng);
  for (const Polar_ccp4& polar :
       {Polar_ccp4(0.3, 0.2, 0.5), Polar_ccp4(1.2, -2.0, 2.9), Polar_ccp4(2.5, 1.0, pi)}) {
    const RTop_orth known(Rotation(polar).matrix(), Vec3<double>(4.0, -11.5, 7.25));
    std::vector<Coord_orth> tgt;
    for (const Coord_orth& p : src) tgt.push_back(known * p);
    const RTop_orth fit(src, tgt);
    EXPECT_TRUE(fit.rot().equals(known.rot(), 1e-9));
    EXPECT_TRUE(fit.trn().equals(known.trn(), 1e-8));
  }
  vantrel_testing::Quiet_messages quiet;  // lists of different lengths are fatal
  EXPECT_THROW(RTop_orth(std::vector<Coord_orth>(3), std::vector<Coord_orth>(4)), Message_fatal);
  EXPECT_EQ(quiet.text(), "RTop_orth: coordinate list size mismatch\n");
}

TEST(Geometry, InternalCoordinatesAndPlacement) {
  const Coord_orth x1(1, 0, 0), x2(0, 0, 0), x3(0, 0, 1), x4(0, 1, 1);
  EXPECT_NEAR(Coord_orth::torsion(x1, x2, x3, x4), pi / 2, 1e-12);
  EXPECT_NEAR(Coord_orth::torsion(x1, x2, x3, Coord_orth(0, -1, 1)), -pi / 2, 1e-12);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(x1, x2, x3, Coord_orth(-1, 0, 1))), pi, 1e-12);
  EXPECT_NEAR(Coord_orth::angle(x1, x2, x3), pi / 2, 1e-12);
  EXPECT_TRUE(Util::is_nan(Coord_orth::angle(x1, x1, x3)));
  EXPECT_NEAR(Coord_orth::length(x1, x4), std::sqrt(3.0), 1e-15);
  std::mt19937 rng(99);
  for (int trial = 0; trial < 20; ++trial) {
    const std::vector<Coord_orth> p = random_points(4, rng);
    const double len = Coord_orth::length(p[2], p[3]);
    const double ang = Coord_orth::angle(p[1], p[2], p[3]);
    const double tor = Coord_orth::torsion(p[0], p[1], p[2], p[3]);
    EXPECT_TRUE(Coord_orth(p[0], p[1], p[2], len, ang, tor).equals(p[3], 1e-9));
  }
  // torsion pi: in the plane of the others, trans to the first
  const Coord_orth a(1, 1, 0), c(0, 1.5, 0), trans(a, x2, c, 1.5, 2 * pi / 3, pi);
  EXPECT_TRUE(std::fabs(trans.z()) < 1e-12 && trans.x() < 0.0);
  EXPECT_NEAR(Coord_orth::angle(x2, c, trans), 2 * pi / 3, 1e-12);
}

TEST(Symmetry, ReflectionsAndGridPointsFollowTheOperator) {
  const Symop op(RTop_frac(String("-y,x-y,z+1/3")));
  const HKL h(2, -3, 5);
  const HKL hr = h.transform(Isymop(op, Grid(24, 24, 24)));
  // (h R).x equals h.(R x)
  const Vec3<double> x(0.11, 0.27, -0.4);
  EXPECT_NEAR(Vec3<double>::dot(Vec3<double>(hr), x),
              Vec3<double>::dot(Vec3<double>(h), op.rot() * x), 1e-12);
  EXPECT_TRUE(h.transform(op) == hr);
  EXPECT_NEAR(h.sym_phase_shift(op), -2 * pi * 5.0 / 3.0, 1e-12);
  EXPECT_TRUE(Coord_grid(1, 2, 3).transform(Isymop(op, Grid(12, 12, 18))) == Coord_grid(-2, -1, 9));
}

// Fractional R.U.R^T agrees with the orthogonal transform in a hexagonal cell.
TEST(UAniso, FramesAndFractionalTransform) {
  EXPECT_NEAR(U_aniso_orth(0.25).u_iso(), 0.25, 1e-9);
  EXPECT_TRUE(Util::is_nan(U_aniso_orth(-0.2, 0.3, 0.3, 0, 0, 0).u_iso()));
  const U_aniso_orth u(0.31, 0.22, 0.45, 0.05, -0.02, 0.07);
  expect_same_tensor(u.u_aniso_frac(triclinic()).u_aniso_orth(triclinic()), u, 1e-12);
  const Cell cell(Cell_descr(52.0, 52.0, 91.0, 90.0, 90.0, 120.0));
  for (const char* text : {"-y,x-y,z+1/3", "y,x,-z", "x-y,x,z+1/6"}) {
    SCOPED_TRACE(text);
    const RTop_frac op{String(text)};
    expect_same_tensor(u.u_aniso_frac(cell).transform(op).u_aniso_orth(cell),
                       u.transform(op.rtop_orth(cell)), 1e-12);
  }
}

TEST(Atoms, NullAtomAndTransform) {
  const Atom null = Atom::null();
  EXPECT_TRUE(null.is_null());
  EXPECT_TRUE(null.u_aniso_orth().is_null() && Util::is_nan(null.occupancy()));
  const RTop_orth op(Rotation(Polar_ccp4(pi / 2, 0, pi / 2)).matrix(), Vec3<double>(1, 0, 0));
  Atom a;
  a.set_coord_orth(Coord_orth(1, 2, 3));
  a.set_u_iso(0.2);
  Atom b = a;
  b.transform(op);  // quarter turn about x, then shift along x
  EXPECT_TRUE(b.coord_orth().equals(Coord_orth(2, -3, 2), 1e-12));
  EXPECT_TRUE(b.u_aniso_orth().is_null());
  a.set_u_aniso_orth(U_aniso_orth(0.1, 0.2, 0.3, 0, 0, 0));
  a.transform(op);
  expect_same_tensor(a.u_aniso_orth(), U_aniso_orth(0.1, 0.3, 0.2, 0, 0, 0), 1e-12);
}
