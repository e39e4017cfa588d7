#include "maps_testing.h"

using namespace vantrel;

namespace {

const Cell cell_orthorhombic(Cell_descr(30.0, 40.0, 50.0, 90.0, 90.0, 90.0));
const Cell cell_monoclinic(Cell_descr(30.0, 40.0, 50.0, 90.0, 105.0, 90.0));

Grid_sampling sampling(const char* symbol, const Cell& cell, double resolution) {
  return Grid_sampling(Spacegroup(Spgr_descr(symbol)), cell, Resolution(resolution));
}

void expect_near(const Vec3<double>& a, const Vec3<double>& b, const double tol) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tol) << "component " << i;
}

// A rotation about z (radians) and a translation.
RTop_orth rotation_z(const double angle, const Vec3<double>& trn) {
  const double c = std::cos(angle), s = std::sin(angle);
  return RTop_orth(Mat33<double>(c, -s, 0, s, c, 0, 0, 0, 1), trn);
}

// A 6 x 5 x 4 box in its own frame: 0.7 A spacing, origin at box point (2, 2, 2).
NXmap<float> free_box() {
  const double k = 1.0 / 0.7;
  return NXmap<float>(
      Grid(6, 5, 4), RTop<double>(Mat33<double>(k, 0, 0, 0, k, 0, 0, 0, k), Vec3<double>(2, 2, 2)));
}

}  // namespace

// Built by a static initialiser: must not depend on the library's static set-up order.
const NXmap<float> static_box;

// Default boxes are empty; init keeps stored values and zeroes new ones.
TEST(NXmap, DefaultIsNullAndEmptyAndInitZeroesNewValues) {
  for (NXmap<float> map : {static_box, NXmap<float>()}) {
    EXPECT_TRUE(map.is_null());
    EXPECT_EQ(map.grid(), Grid(0, 0, 0));
    EXPECT_EQ(map.stride_u() + map.stride_v() + map.stride_w(), 0);
    EXPECT_EQ(map = 2.0f, 2.0f);  // nothing to set on an empty box
  }
  EXPECT_FALSE(free_box().is_null());
  EXPECT_TRUE(NX_operator().is_null());
  EXPECT_FALSE(NX_operator(cell_orthorhombic, sampling("P 1", cell_orthorhombic, 3.0), free_box(),
                           RTop_orth::identity())
                   .is_null());
  const RTop<double> unit(Mat33<double>::identity(), Vec3<double>::zero());
  NXmap<float> grown(Grid(2, 2, 2), unit);
  grown = 1.0f;
  grown.init(Grid(3, 3, 3), unit);
  for (int i = 0; i < 27; ++i) EXPECT_EQ(grown[i], i < 8 ? 1.0f : 0.0f) << "index " << i;
}

TEST(NXmap, BoxCutFromCrystalGridStartsAtTheLowerCorner) {
  const Grid_sampling g = sampling("P 1", cell_monoclinic, 2.5);
  const Grid_range range(Coord_grid(-2, 0, 5), Coord_grid(3, 4, 12));
  const NXmap<float> box(cell_monoclinic, g, range);
  EXPECT_EQ(box.grid(), Grid(6, 5, 8));
  for (const Coord_grid& c : {Coord_grid(-2, 0, 5), Coord_grid(1, 3, 7), Coord_grid(3, 4, 12)}) {
    const Coord_orth x = c.coord_frac(g).coord_orth(cell_monoclinic);
    expect_near(box.coord_map(x), Coord_map(c - range.min()), 1e-9);
    expect_near(box.coord_orth(Coord_map(c - range.min())), x, 1e-9);
  }
  EXPECT_EQ(box.get_data(Coord_grid(5, 4, 7)), 0.0f);
}

// A box cut from the crystal grid is an integer shift of it: values copied
// through the operator read back, through the operator the other way, as the
// crystal's values.
TEST(NX_operator, MapsPointsBetweenCrystalAndBoxBothWays) {
  const Spacegroup sg(Spgr_descr("P 21 21 21"));
  const Grid_sampling g(sg, cell_orthorhombic, Resolution(2.5));
  Xmap<float> xmap(sg, cell_orthorhombic, g);
  for (auto ix = xmap.first(); !ix.last(); ix.next()) xmap[ix] = float(ix.index() % 97);
  const Grid_range range(Coord_grid(-4, -1, 3), Coord_grid(6, 7, 30));
  NXmap<float> box(cell_orthorhombic, g, range);
  const NX_operator op(xmap, box, RTop_orth::identity());
  EXPECT_TRUE(op.x_to_nx_is_int() && op.x_to_nx_is_trn());
  EXPECT_TRUE(op.nx_to_x_is_int() && op.nx_to_x_is_trn());
  EXPECT_EQ(op.xgrid_to_nxgrid_int().trn(), Vec3<int>(4, 1, -3));
  for (Coord_grid b(0, 0, 0); b.u() < box.grid().nu(); b.next(box.grid()))
    box.set_data(b, xmap.get_data(op.xmap_coord_grid(b)));
  for (Coord_grid x = range.min(); x.u() <= range.max().u(); x.next(range)) {
    const Coord_grid b = op.nxmap_coord_grid(x);
    ASSERT_TRUE(box.in_map(b)) << x.format();
    EXPECT_EQ(box.get_data(b), xmap.get_data(x)) << x.format();
    expect_near(op.nxmap_coord_map(x.coord_frac(g)), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_frac(Coord_map(b)), x.coord_frac(g), 1e-12);
    expect_near(op.nxmap_coord_map(x), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_map(b), Coord_map(x), 1e-9);
  }
}

TEST(NX_operator, GeneralPlacementMatchesTheComposedOperators) {
  const Grid_sampling g = sampling("P 1", cell_monoclinic, 2.0);
  const NXmap<float> box = free_box();
  const RTop_orth rtop = rotation_z(0.4, Vec3<double>(3.0, -2.0, 7.5));
  const NX_operator op(cell_monoclinic, g, box, rtop);
  EXPECT_FALSE(op.x_to_nx_is_int());
  EXPECT_FALSE(op.nx_to_x_is_int());
  for (const Coord_grid& b : {Coord_grid(0, 0, 0), Coord_grid(5, 4, 3), Coord_grid(2, 1, 3)}) {
    const Coord_frac f = (rtop * box.coord_orth(Coord_map(b))).coord_frac(cell_monoclinic);
    expect_near(op.xmap_coord_frac(Coord_map(b)), f, 1e-12);
    expect_near(op.nxmap_coord_map(f), Coord_map(b), 1e-9);
    expect_near(op.xmap_coord_map(b), f.coord_map(g), 1e-9);
  }
}

// A fourfold rotation is integral but not a shift; a shift is integral to a
// hundredth of a step, and a half step rounds to even.
TEST(NX_operator, IntegralAndShiftTests) {
  const Cell tetragonal(Cell_descr(50.0, 50.0, 60.0, 90.0, 90.0, 90.0));
  const Grid_sampling g4 = sampling("P 4", tetragonal, 2.0);
  ASSERT_EQ(g4.nu(), g4.nv());
  const NXmap<float> box4(tetragonal, g4, Grid_range(Coord_grid(0, 0, 0), Coord_grid(9, 9, 9)));
  const RTop_orth quarter_turn = rotation_z(Util::pi() / 2, Vec3<double>::zero());
  const NX_operator fourfold(tetragonal, g4, box4, quarter_turn);
  EXPECT_TRUE(fourfold.x_to_nx_is_int() && fourfold.nx_to_x_is_int());
  EXPECT_FALSE(fourfold.x_to_nx_is_trn() || fourfold.nx_to_x_is_trn());
  EXPECT_EQ(fourfold.xmap_coord_grid(Coord_grid(3, 5, 7)), Coord_grid(-5, 3, 7));
  EXPECT_EQ(fourfold.nxmap_coord_grid(Coord_grid(-5, 3, 7)), Coord_grid(3, 5, 7));
  const Grid_sampling g = sampling("P 1", cell_orthorhombic, 2.0);
  const Grid_range range(Coord_grid(0, 0, 0), Coord_grid(4, 4, 4));
  const NXmap<float> box(cell_orthorhombic, g, range);
  const auto shifted = [&](const double steps) {
    const Vec3<double> trn(steps * cell_orthorhombic.a() / g.nu(), 0, 0);
    return NX_operator(cell_orthorhombic, g, box, RTop_orth(Mat33<double>::identity(), trn));
  };
  EXPECT_FALSE(shifted(0.5).x_to_nx_is_int() || shifted(0.5).x_to_nx_is_trn());
  EXPECT_EQ(shifted(0.5).xgrid_to_nxgrid_int().trn(), Vec3<int>(0, 0, 0));
  EXPECT_TRUE(shifted(2.009).x_to_nx_is_int() && shifted(2.009).nx_to_x_is_trn());
  EXPECT_FALSE(shifted(2.011).x_to_nx_is_int() || shifted(2.011).nx_to_x_is_int());
}
