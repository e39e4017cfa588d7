#include <gtest/gtest.h>

#include "foundation/util.h"
#include "reflections/hkl_containers.h"

using namespace vantrel;

namespace {

// Copied during static initialisation, before main and before the library's
// own initialisers run (this file is linked ahead of the library).
const Cell null_cell_at_startup = NullCell;
const Resolution null_resolution_at_startup = NullResolution;
const HKL_info null_list_at_startup = NullHKL_info;

Spacegroup p212121() { return Spacegroup(Spgr_descr("P 21 21 21")); }
Cell cell_a() { return Cell(Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0)); }
int reflections_at(double limit) {
  return HKL_info(p212121(), cell_a(), Resolution(limit), true).num_reflections();
}

// root / spacegroup / cell / resolution, each a node below the previous.
struct ParameterTree {
  Container root{"xtal"};
  CSpacegroup spgr{root, "spgr", p212121()};
  CCell cell{spgr, "cell", cell_a()};
  CResolution res{cell, "res"};
};

}  // namespace

TEST(NullObjects, AreNullAndBuiltBeforeAnyStaticUser) {
  // Unconstructed storage would hold zeros, not the missing cell constants
  // and the empty range of a null list.
  EXPECT_TRUE(Util::is_nan(null_cell_at_startup.a()));
  EXPECT_TRUE(null_resolution_at_startup.is_null());
  EXPECT_EQ(null_list_at_startup.invresolsq_range().min(), 999999999.0);
  EXPECT_TRUE(NullSpacegroup.is_null());
  EXPECT_EQ(NullCell.volume(), 0.0);
  EXPECT_EQ(NullResolution.limit(), 0.0);
  EXPECT_TRUE(NullGrid_sampling.is_null());
  EXPECT_TRUE(NullHKL_info.is_null());
}

TEST(CHKL_info, TakesMissingParametersFromAncestors) {
  EXPECT_EQ(CHKL_info("root", p212121(), cell_a(), Resolution(5.0), true).num_reflections(),
            reflections_at(5.0));
  ParameterTree t;
  Container spare(t.root, "spare");
  CHKL_info hkls(t.res, "hkls", true), lazy(t.res, "lazy", false), moved(spare, "moved", true);
  EXPECT_TRUE(hkls.is_null());
  t.res.init(Resolution(4.0));
  EXPECT_EQ(hkls.num_reflections(), reflections_at(4.0));
  // Without the generate flag the list is set up but empty until asked.
  EXPECT_FALSE(lazy.is_null());
  EXPECT_EQ(lazy.num_reflections(), 0);
  lazy.generate_hkl_list();
  EXPECT_EQ(lazy.num_reflections(), reflections_at(4.0));
  // Once built, a later update leaves the list alone.
  t.res.init(Resolution(3.0));
  EXPECT_EQ(hkls.resolution().limit(), 4.0);
  EXPECT_EQ(hkls.num_reflections(), reflections_at(4.0));
  // Below an incomplete branch a list stays null until moved below parameters.
  EXPECT_TRUE(moved.is_null());
  moved.move("/xtal/spgr/cell/res/moved");
  EXPECT_EQ(moved.num_reflections(), reflections_at(3.0));
  // Given parameters beat ancestors; a nearer ancestor beats a farther one;
  // the generate flag is sticky.
  CCell nearer(t.res, "cell_b", Cell(Cell_descr(45.0, 55.0, 65.0, 90.0, 90.0, 90.0)));
  CHKL_info from_tree(nearer, "a"), given(nearer, "b", true);
  EXPECT_EQ(from_tree.cell().a(), 45.0);
  EXPECT_EQ(from_tree.resolution().limit(), 3.0);
  given.init(NullSpacegroup, cell_a(), Resolution(6.0), false);
  EXPECT_EQ(given.num_reflections(), reflections_at(6.0));
}

TEST(CGrid_sampling, BuildsFromAncestorsAndKeepsItsRate) {
  ParameterTree t;
  CGrid_sampling grid(t.res, "grid", 2.0);
  CGrid_sampling given(t.res, "given", Grid_sampling());  // rate 1.5
  EXPECT_TRUE(grid.is_null());
  t.res.init(Resolution(3.0));
  EXPECT_EQ(Grid(grid), Grid(Grid_sampling(p212121(), cell_a(), Resolution(3.0), 2.0)));
  EXPECT_EQ(Grid(given), Grid(Grid_sampling(p212121(), cell_a(), Resolution(3.0), 1.5)));
  // A rate below 1 keeps the stored one.
  grid.init(NullSpacegroup, NullCell, Resolution(4.0), 0.5);
  EXPECT_EQ(grid.rate(), 2.0);
  EXPECT_EQ(Grid(grid), Grid(Grid_sampling(p212121(), cell_a(), Resolution(4.0), 2.0)));
}
