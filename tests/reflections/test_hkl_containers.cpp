#include <gtest/gtest.h>

#include "foundation/util.h"
#include "reflections/hkl_containers.h"

using namespace vantrel;

namespace {

// Copied during static initialisation, before main and before the library's
// own initialisers run (this file is linked ahead of the library).
const Cell null_cell_at_startup = NullCell;
const Resolution null_resolution_at_startup = NullResolution;

Spacegroup p212121() { return Spacegroup(Spgr_descr("P 21 21 21")); }
Cell cell_a() { return Cell(Cell_descr(40.0, 50.0, 60.0, 90.0, 90.0, 90.0)); }
Cell cell_b() { return Cell(Cell_descr(45.0, 55.0, 65.0, 90.0, 90.0, 90.0)); }

// root / spacegroup / cell / resolution, each a node below the previous.
struct ParameterTree {
  Container root{"xtal"};
  CSpacegroup spgr{root, "spgr", p212121()};
  CCell cell{spgr, "cell", cell_a()};
  CResolution res{cell, "res"};
};

}  // namespace

TEST(NullObjects, AreNullAndBuiltBeforeAnyStaticUser) {
  EXPECT_TRUE(NullSpacegroup.is_null());
  EXPECT_TRUE(NullCell.is_null());
  EXPECT_EQ(NullCell.volume(), 0.0);
  EXPECT_EQ(NullResolution.limit(), 0.0);
  EXPECT_EQ(NullGrid_sampling.size(), 0);
  EXPECT_TRUE(NullGrid_sampling.is_null());
  // A null cell holds missing constants; unconstructed storage would hold 0.
  EXPECT_TRUE(Util::is_nan(null_cell_at_startup.a()));
  EXPECT_TRUE(null_cell_at_startup.is_null());
  EXPECT_TRUE(null_resolution_at_startup.is_null());
}

TEST(CHKL_info, StaysNullUntilAnAncestorSuppliesTheResolution) {
  ParameterTree t;
  CHKL_info hkls(t.res, "hkls", true);
  EXPECT_TRUE(hkls.is_null());
  EXPECT_EQ(hkls.num_reflections(), 0);

  t.res.init(Resolution(4.0));
  ASSERT_FALSE(hkls.is_null());
  const HKL_info direct(p212121(), cell_a(), Resolution(4.0), true);
  EXPECT_GT(direct.num_reflections(), 0);
  EXPECT_EQ(hkls.num_reflections(), direct.num_reflections());
  EXPECT_EQ(hkls.spacegroup().hash(), p212121().hash());
  EXPECT_EQ(hkls.cell().a(), 40.0);

  // Once built, a later update leaves the list alone.
  t.res.init(Resolution(3.0));
  EXPECT_EQ(hkls.resolution().limit(), 4.0);
  EXPECT_EQ(hkls.num_reflections(), direct.num_reflections());
}

TEST(CHKL_info, GenerateFlagIsSticky) {
  ParameterTree t;
  CHKL_info hkls(t.res, "hkls", true);
  hkls.init(NullSpacegroup, NullCell, Resolution(5.0), false);
  const HKL_info direct(p212121(), cell_a(), Resolution(5.0), true);
  EXPECT_EQ(hkls.num_reflections(), direct.num_reflections());

  // Without the flag the list is set up but holds no reflections until asked.
  ParameterTree u;
  CHKL_info empty(u.res, "hkls", false);
  empty.init(NullSpacegroup, NullCell, Resolution(5.0), false);
  EXPECT_FALSE(empty.is_null());
  EXPECT_EQ(empty.num_reflections(), 0);
  empty.generate_hkl_list();
  EXPECT_EQ(empty.num_reflections(), direct.num_reflections());
}

TEST(CHKL_info, GivenParametersBeatAncestorsAndNearerAncestorsBeatFarther) {
  ParameterTree t;
  t.res.init(Resolution(5.0));
  CCell nearer(t.res, "cell_b", cell_b());
  CHKL_info from_tree(nearer, "a");
  EXPECT_EQ(from_tree.cell().a(), 45.0);
  EXPECT_EQ(from_tree.resolution().limit(), 5.0);

  CHKL_info given(nearer, "b");
  given.init(NullSpacegroup, cell_a(), Resolution(6.0), false);
  EXPECT_EQ(given.cell().a(), 40.0);
  EXPECT_EQ(given.resolution().limit(), 6.0);
  EXPECT_EQ(given.spacegroup().hash(), p212121().hash());
}

TEST(CHKL_info, RootNodeIsBuiltDirectly) {
  CHKL_info hkls("list", p212121(), cell_a(), Resolution(5.0), true);
  EXPECT_EQ(hkls.path(), "/list");
  EXPECT_FALSE(hkls.is_null());
  EXPECT_GT(hkls.num_reflections(), 0);
  // A list below an incomplete tree stays null.
  Container root("bare");
  CHKL_info orphan(root, "hkls", true);
  EXPECT_TRUE(orphan.is_null());
}

TEST(CHKL_info, BuildsWhenMovedUnderParameters) {
  ParameterTree t;
  t.res.init(Resolution(5.0));
  Container spare(t.root, "spare");
  CHKL_info hkls(spare, "hkls", true);
  EXPECT_TRUE(hkls.is_null());
  hkls.move("/xtal/spgr/cell/res/hkls");
  EXPECT_FALSE(hkls.is_null());
  EXPECT_GT(hkls.num_reflections(), 0);
}

TEST(CGrid_sampling, BuildsFromAncestorsAndKeepsItsRate) {
  ParameterTree t;
  CGrid_sampling grid(t.res, "grid", 2.0);
  EXPECT_TRUE(grid.is_null());
  EXPECT_EQ(grid.rate(), 2.0);

  t.res.init(Resolution(3.0));
  const Grid_sampling direct(p212121(), cell_a(), Resolution(3.0), 2.0);
  EXPECT_EQ(Grid(grid), Grid(direct));

  // A rate below 1 keeps the stored one.
  grid.init(NullSpacegroup, NullCell, Resolution(4.0), 0.5);
  EXPECT_EQ(grid.rate(), 2.0);
  EXPECT_EQ(Grid(grid), Grid(Grid_sampling(p212121(), cell_a(), Resolution(4.0), 2.0)));
  grid.init(NullSpacegroup, NullCell, Resolution(4.0), 1.5);
  EXPECT_EQ(grid.rate(), 1.5);
  EXPECT_EQ(Grid(grid), Grid(Grid_sampling(p212121(), cell_a(), Resolution(4.0), 1.5)));
}

TEST(CGrid_sampling, GivenGridIsKeptAndDefaultRateIsOneAndAHalf) {
  ParameterTree t;
  t.res.init(Resolution(3.0));
  CGrid_sampling given(t.res, "given", Grid_sampling());
  EXPECT_EQ(given.rate(), 1.5);
  // A null grid builds itself at the next update that comes down the tree.
  t.cell.init(cell_b());
  EXPECT_EQ(Grid(given), Grid(Grid_sampling(p212121(), cell_b(), Resolution(3.0), 1.5)));

  CGrid_sampling fixed("fixed");
  fixed.init(Grid_sampling(p212121(), cell_a(), Resolution(3.0)));
  EXPECT_FALSE(fixed.is_null());
}
