#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <sstream>

#include "maps/nxmap.h"
#include "maps/xmap.h"

using namespace vantrel;

namespace {

const Cell cell_orthorhombic(Cell_descr(30.0, 40.0, 50.0, 90.0, 90.0, 90.0));
const Cell cell_monoclinic(Cell_descr(30.0, 40.0, 50.0, 90.0, 105.0, 90.0));

Spacegroup spacegroup(const char* symbol) { return Spacegroup(Spgr_descr(symbol)); }

void expect_near(const Vec3<double>& a, const Vec3<double>& b, const double tol) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tol) << "component " << i;
}

// rtop with the given rotation about z (radians) and translation.
RTop_orth rotation_z(const double angle, const Vec3<double>& trn) {
  const double c = std::cos(angle), s = std::sin(angle);
  return RTop_orth(Mat33<double>(c, -s, 0, s, c, 0, 0, 0, 1), trn);
}

// Box map 6 x 5 x 4 placed in its own frame: 0.7 A spacing, origin at
// box point (2, 2, 2).
NXmap<float> free_box() {
  const double k = 1.0 / 0.7;
  return NXmap<float>(Grid(6, 5, 4), RTop<double>(Mat33<double>(k, 0, 0, 0, k, 0, 0, 0, k),
                                                 Vec3<double>(2, 2, 2)));
}

}  // namespace

// Built by a static initialiser: a box map must not depend on the order in
// which the library's statics are set up.
const NXmap<float> static_box;

TEST(NXmap, DefaultIsNullAndEmpty) {
  for (NXmap<float> map : {static_box, NXmap<float>()}) {
    EXPECT_TRUE(map.is_null());
    EXPECT_EQ(map.grid(), Grid(0, 0, 0));
    EXPECT_EQ(map.stride_u() + map.stride_v() + map.stride_w(), 0);
    EXPECT_EQ(map = 2.0f, 2.0f);  // nothing to set on an empty box
  }
  EXPECT_FALSE(free_box().is_null());
  EXPECT_TRUE(NX_operator().is_null());
  EXPECT_FALSE(NX_operator(cell_orthorhombic,
                           Grid_sampling(spacegroup("P 1"), cell_orthorhombic, Resolution(3.0)),
                           free_box(), RTop_orth::identity())
                   .is_null());
}

TEST(NXmap, BoxCutFromCrystalGridStartsAtTheLowerCorner) {
  const Grid_sampling sampling(spacegroup("P 1"), cell_monoclinic, Resolution(2.5));
  const Grid_range range(Coord_grid(-2, 0, 5), Coord_grid(3, 4, 12));
  const NXmap<float> box(cell_monoclinic, sampling, range);
  EXPECT_EQ(box.grid(), Grid(6, 5, 8));
  for (const Coord_grid& c : {Coord_grid(-2, 0, 5), Coord_grid(1, 3, 7), Coord_grid(3, 4, 12)}) {
    const Coord_orth x = c.coord_frac(sampling).coord_orth(cell_monoclinic);
    expect_near(box.coord_map(x), Coord_map(c - range.min()), 1e-9);
    expect_near(box.coord_orth(Coord_map(c - range.min())), x, 1e-9);
  }
  EXPECT_EQ(box.get_data(Coord_grid(5, 4, 7)), 0.0f);
}

TEST(NXmap, ReinitKeepsStoredValuesAndZeroesNewOnes) {
  NXmap<float> map(Grid(2, 2, 2), RTop<double>(Mat33<double>::identity(), Vec3<double>::zero()));
  map = 1.0f;
  map.init(Grid(3, 3, 3), RTop<double>(Mat33<double>::identity(), Vec3<double>::zero()));
  for (int i = 0; i < 27; ++i) EXPECT_EQ(map[i], i < 8 ? 1.0f : 0.0f) << "index " << i;
  map.set_data(Coord_grid(0, 1, 2), 5.0f);
  EXPECT_EQ(map[5], 5.0f);  // (u nv + v) nw + w: w fastest
}

// A box cut from the crystal grid is an integer shift of it; box values
// copied from the crystal map through the operator read back, through the
// operator the other way, as the crystal's values.
TEST(NX_operator, MapsPointsBetweenCrystalAndBoxBothWays) {
  const Spacegroup sg = spacegroup("P 21 21 21");
  const Grid_sampling sampling(sg, cell_orthorhombic, Resolution(2.5));
  Xmap<float> xmap(sg, cell_orthorhombic, sampling);
  for (auto ix = xmap.first(); !ix.last(); ix.next()) xmap[ix] = float(ix.index() % 97);
  const Grid_range range(Coord_grid(-4, -1, 3), Coord_grid(6, 7, 30));
  NXmap<float> box(cell_orthorhombic, sampling, range);
  const NX_operator op(xmap, box, RTop_orth::identity());

  EXPECT_TRUE(op.x_to_nx_is_int() && op.x_to_nx_is_trn());
  EXPECT_TRUE(op.nx_to_x_is_int() && op.nx_to_x_is_trn());
  EXPECT_EQ(op.xgrid_to_nxgrid_int().rot(), Mat33<int>::identity());
  EXPECT_EQ(op.xgrid_to_nxgrid_int().trn(), Vec3<int>(4, 1, -3));
  EXPECT_EQ(op.nxgrid_to_xgrid_int().trn(), Vec3<int>(-4, -1, 3));
  std::ostringstream out;
  std::streambuf* old = std::cout.rdbuf(out.rdbuf());
  op.debug();
  std::cout.rdbuf(old);
  EXPECT_EQ(out.str().rfind(" X->NX is int? 1\n X->NX is trn? 1\n|", 0), 0u);
  EXPECT_NE(out.str().find("\n NX->X is int? 1\n NX->X is trn? 1\n|"), std::string::npos);

  for (Coord_grid b(0, 0, 0); b.u() < box.grid().nu(); b.next(box.grid()))
    box.set_data(b, xmap.get_data(op.xmap_coord_grid(b)));
  for (Coord_grid x = range.min(); x.u() <= range.max().u(); x.next(range)) {
    const Coord_grid b = op.nxmap_coord_grid(x);
    ASSERT_TRUE(box.in_map(b)) << x.format();
    EXPECT_EQ(box.get_data(b), xmap.get_data(x)) << x.format();
    expect_near(op.nxmap_coord_map(x.coord_frac(sampling)), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_frac(Coord_map(b)), x.coord_frac(sampling), 1e-12);
    expect_near(op.nxmap_coord_map(x), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_map(b), Coord_map(x), 1e-9);
  }
}

TEST(NX_operator, GeneralPlacementMatchesTheComposedOperators) {
  const Grid_sampling sampling(spacegroup("P 1"), cell_monoclinic, Resolution(2.0));
  const NXmap<float> box = free_box();
  const RTop_orth rtop = rotation_z(0.4, Vec3<double>(3.0, -2.0, 7.5));
  const NX_operator op(cell_monoclinic, sampling, box, rtop);
  EXPECT_FALSE(op.x_to_nx_is_int());
  EXPECT_FALSE(op.nx_to_x_is_int());
  for (const Coord_grid& b : {Coord_grid(0, 0, 0), Coord_grid(5, 4, 3), Coord_grid(2, 1, 3)}) {
    const Coord_frac f = (rtop * box.coord_orth(Coord_map(b))).coord_frac(cell_monoclinic);
    expect_near(op.xmap_coord_frac(Coord_map(b)), f, 1e-12);
    expect_near(op.nxmap_coord_map(f), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_map(b), f.coord_map(sampling), 1e-9);
  }
}

TEST(NX_operator, FourfoldPlacementIsIntegerButNotAShift) {
  const Cell tetragonal(Cell_descr(50.0, 50.0, 60.0, 90.0, 90.0, 90.0));
  const Grid_sampling sampling(spacegroup("P 4"), tetragonal, Resolution(2.0));
  ASSERT_EQ(sampling.nu(), sampling.nv());
  const NXmap<float> box(tetragonal, sampling, Grid_range(Coord_grid(0, 0, 0), Coord_grid(9, 9, 9)));
  const NX_operator op(tetragonal, sampling, box, rotation_z(Util::pi() / 2, Vec3<double>::zero()));
  EXPECT_TRUE(op.x_to_nx_is_int());
  EXPECT_FALSE(op.x_to_nx_is_trn());
  EXPECT_TRUE(op.nx_to_x_is_int());
  EXPECT_FALSE(op.nx_to_x_is_trn());
  // Box point (u, v, w) lies at crystal grid point (-v, u, w).
  EXPECT_EQ(op.xmap_coord_grid(Coord_grid(3, 5, 7)), Coord_grid(-5, 3, 7));
  EXPECT_EQ(op.nxmap_coord_grid(Coord_grid(-5, 3, 7)), Coord_grid(3, 5, 7));
}

TEST(NX_operator, IntegralTestToleratesOneHundredthOfAStep) {
  const Grid_sampling sampling(spacegroup("P 1"), cell_orthorhombic, Resolution(2.0));
  const NXmap<float> box(cell_orthorhombic, sampling, Grid_range(Coord_grid(0, 0, 0), Coord_grid(4, 4, 4)));
  // A shift of s grid steps along a, in Angstrom.
  const auto shifted = [&](const double s) {
    return NX_operator(cell_orthorhombic, sampling, box,
                       RTop_orth(Mat33<double>::identity(),
                                 Vec3<double>(s * cell_orthorhombic.a() / sampling.nu(), 0, 0)));
  };
  const NX_operator half = shifted(0.5);
  EXPECT_FALSE(half.x_to_nx_is_int());
  EXPECT_FALSE(half.x_to_nx_is_trn());
  EXPECT_EQ(half.xgrid_to_nxgrid_int().trn(), Vec3<int>(0, 0, 0));  // -0.5 rounds to even
  EXPECT_TRUE(shifted(2.009).x_to_nx_is_int());
  EXPECT_TRUE(shifted(2.009).nx_to_x_is_trn());
  EXPECT_FALSE(shifted(2.011).x_to_nx_is_int());
  EXPECT_FALSE(shifted(2.011).nx_to_x_is_int());
}
