#include <cstring>

#include "model/mmdb_views.h"
#include "model_testing.h"

using namespace vantrel;

TEST(MMDBViews, TerRecordsAtomListAndFieldLengths) {
  mmdb::Atom atom;
  MMDBAtom view(&atom);
  view.set_coord_orth(Coord_orth(1, 2, 3));
  view.set_occupancy(0.75);
  view.set_u_iso(0.5);
  view.set_u_aniso_orth(U_aniso_orth(0.11, 0.22, 0.33, 0.12, 0.13, 0.23));
  // A TER record reads as missing data whatever its bits say; its texts stay.
  view.set_id(" CA ");
  view.set_altconf("B");
  atom.Ter = true;
  EXPECT_TRUE(view.coord_orth().is_null() && Util::is_nan(view.occupancy()) &&
              Util::is_nan(view.u_iso()) && view.u_aniso_orth().is_null() &&
              view.sig_coord_orth().is_null() && Util::is_nan(view.sig_u_iso()));
  EXPECT_EQ(view.id() + view.altconf(), " CA B");
  EXPECT_EQ(view.charge(), "     0");

  // The atom list has one entry per pointer, a TER record's entry missing.
  mmdb::Atom other;
  MMDBAtom(&other).set_u_iso(0.25);
  mmdb::Atom* atoms[3] = {&atom, &other, nullptr};  // the library's tables have empty slots
  const MMDBAtom_list list(atoms, 3);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_TRUE(list[0].coord_orth().is_null() && Util::is_nan(list[0].u_iso()));
  EXPECT_TRUE(list[1].coord_orth().is_null() && list[1].u_iso() == 0.25);
  EXPECT_TRUE(list[2].coord_orth().is_null() && Util::is_nan(list[2].occupancy()));
  EXPECT_TRUE(MMDBAtom_list(atoms, 0).empty());

  // Texts longer than the library's fixed fields are cut, never overrun them.
  mmdb::Residue residue;
  MMDBResidue res(&residue);
  res.set_inscode("ABCDEFGHIJKLMNOP");
  res.set_type(String(30, 'X'));
  EXPECT_EQ(res.inscode() + "|" + res.type(), "ABCDEFGHI|" + String(19, 'X'));
  mmdb::Chain chain;
  MMDBChain(&chain).set_id("LONGCHAINNAME");
  EXPECT_EQ(MMDBChain(&chain).id(), "LONGCHAIN");
  MMDBAtom(&atom).set_element("ABCDEFGHIJKL");
  EXPECT_EQ(std::strlen(atom.element), 9u);
}

// Cell and space group round trips are shown by the written coordinate files.
TEST(MMDBViews, ManagerSpacegroupAndModelId) {
  MMDBManager m;
  EXPECT_TRUE(m.cell().is_null() && m.spacegroup().is_null());
  m.SetSpaceGroup("UNK");  // the library knows no such group
  EXPECT_TRUE(m.spacegroup().is_null());
  mmdb::Model* model = new mmdb::Model();  // a model's entry id is its manager's
  m.AddModel(model);
  MMDBModel(model).set_id("1ABCDEFGHIJKLMNOPQ");
  EXPECT_EQ(MMDBModel(model).id(), "1ABCDEFGHIJKLMN");
}
