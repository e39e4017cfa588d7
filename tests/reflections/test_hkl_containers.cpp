#include <gtest/gtest.h>

#include <sstream>

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

TEST(CHKL_info, StaysNullUntilAnAncestorSuppliesTheResolution) {
  ParameterTree t;
  CHKL_info hkls(t.res, "hkls", true);
  EXPECT_TRUE(hkls.is_null());
  EXPECT_EQ(hkls.num_reflections(), 0);

  t.res.init(Resolution(4.0));
  const HKL_info direct(p212121(), cell_a(), Resolution(4.0), true);
  EXPECT_GT(direct.num_reflections(), 0);
  EXPECT_EQ(hkls.num_reflections(), direct.num_reflections());

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

TEST(CHKL_info, RootNodesAndMovesUnderParameters) {
  CHKL_info root("list", p212121(), cell_a(), Resolution(5.0), true);
  EXPECT_EQ(root.path(), "/list");
  EXPECT_GT(root.num_reflections(), 0);

  // A list below an incomplete tree stays null until moved below parameters.
  ParameterTree t;
  t.res.init(Resolution(5.0));
  Container spare(t.root, "spare");
  CHKL_info hkls(spare, "hkls", true);
  EXPECT_TRUE(hkls.is_null());
  hkls.move("/xtal/spgr/cell/res/hkls");
  EXPECT_EQ(hkls.num_reflections(), root.num_reflections());

  // debug() on a node writes the paths of its subtree.
  Container below(hkls, "below");
  std::ostringstream out;
  auto* saved = std::cout.rdbuf(out.rdbuf());
  hkls.debug();
  std::cout.rdbuf(saved);
  EXPECT_EQ(out.str(), "/xtal/spgr/cell/res/hkls\n/xtal/spgr/cell/res/hkls/below\n");
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
