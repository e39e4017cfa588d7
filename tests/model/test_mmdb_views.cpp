#include <gtest/gtest.h>

#include <cstring>

#include "foundation/util.h"
#include "model/mmdb_manager.h"
#include "model/mmdb_views.h"
#include "support/testing.h"

using namespace vantrel;

TEST(MMDBAtomView, UnitsBitsAndMissingValues) {
  mmdb::Atom atom;
  MMDBAtom view(&atom);
  EXPECT_TRUE(view.coord_orth().is_null() && Util::is_nan(view.occupancy()) &&
              Util::is_nan(view.u_iso()) && view.u_aniso_orth().is_null());

  view.set_u_iso(0.5);
  EXPECT_DOUBLE_EQ(atom.tempFactor, 39.47841760435743);
  EXPECT_EQ(atom.WhatIsSet, mmdb::ASET_tempFactor);
  EXPECT_DOUBLE_EQ(view.u_iso(), 0.5);

  view.set_occupancy(0.75);
  view.set_occupancy(Util::nan());  // clears the bit, keeps the stored number
  EXPECT_TRUE(Util::is_nan(view.occupancy()));
  EXPECT_EQ(atom.WhatIsSet & mmdb::ASET_Occupancy, 0);
  EXPECT_EQ(atom.occupancy, 0.75);

  view.set_coord_orth(Coord_orth(1.0, Util::nan(), 3.0));  // only x decides
  EXPECT_TRUE(atom.WhatIsSet & mmdb::ASET_Coordinates);
  EXPECT_EQ(view.coord_orth()[2], 3.0);

  view.set_u_aniso_orth(U_aniso_orth(0.11, 0.22, 0.33, 0.12, 0.13, 0.23));
  const double expect_u[6] = {0.11, 0.22, 0.33, 0.12, 0.13, 0.23};
  const double got_u[6] = {atom.u11, atom.u22, atom.u33, atom.u12, atom.u13, atom.u23};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(got_u[i], expect_u[i]);
  EXPECT_EQ(view.u_aniso_orth()(1, 2), 0.23);
  view.set_sig_coord_orth(Sig_Coord_orth(0.1, 0.2, 0.3));
  view.set_sig_u_iso(0.01);
  view.set_sig_occupancy(0.05);
  view.set_sig_u_aniso_orth(Sig_U_aniso_orth(1, 2, 3, 4, 5, 6));
  EXPECT_DOUBLE_EQ(atom.sigTemp, 0.01 * Util::eightpi2());
  EXPECT_DOUBLE_EQ(view.sig_u_iso(), 0.01);
  EXPECT_EQ(view.sig_coord_orth()[1], 0.2);
  EXPECT_EQ(view.sig_occupancy(), 0.05);
  EXPECT_EQ(view.sig_u_aniso_orth()(0, 2), 5.0);
  EXPECT_EQ(atom.WhatIsSet, 0x1175);  // all but the occupancy

  view.set_id(" CA ");
  view.set_element(" C");
  view.set_altconf("B");
  atom.serNum = 17;
  atom.charge = 0.0;
  EXPECT_EQ(view.charge(), "     0");

  // A TER record reads as missing data whatever its bits say.
  atom.Ter = true;
  EXPECT_TRUE(view.coord_orth().is_null() && Util::is_nan(view.occupancy()) &&
              Util::is_nan(view.u_iso()) && view.u_aniso_orth().is_null() &&
              view.sig_coord_orth().is_null() && Util::is_nan(view.sig_u_iso()));
  EXPECT_EQ(view.id(), " CA ");
  EXPECT_EQ(view.element(), " C");
  EXPECT_EQ(view.altconf(), "B");
  EXPECT_EQ(view.serial_num(), 17);

  mmdb::Atom plain;
  MMDBAtom(&plain).set_coord_orth(Coord_orth(4, 5, 6));
  mmdb::Atom* atoms[2] = {&plain, &atom};
  const MMDBAtom_list list(atoms, 2);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].coord_orth()[1], 5.0);
  EXPECT_TRUE(Util::is_nan(list[0].u_iso()));
  EXPECT_TRUE(list[1].is_null());
  EXPECT_TRUE(MMDBAtom_list(atoms, 0).empty());
}

// Texts longer than the library's fixed fields are cut, never overrun them.
TEST(MMDBViews, TextFieldsAreCutToTheirSize) {
  mmdb::Residue residue;
  MMDBResidue res(&residue);
  res.set_inscode("A");
  EXPECT_EQ(res.inscode(), "A");
  res.set_inscode("ABCDEFGHIJKLMNOP");
  EXPECT_EQ(res.inscode(), "ABCDEFGHI");
  EXPECT_EQ(residue.insCode[9], '\0');
  res.set_type(String(30, 'X'));
  EXPECT_EQ(res.type(), String(19, 'X'));
  res.set_seqnum(-12);
  EXPECT_EQ(res.seqnum(), -12);

  mmdb::Chain chain;
  MMDBChain(&chain).set_id("LONGCHAINNAME");
  EXPECT_EQ(MMDBChain(&chain).id(), "LONGCHAIN");
  mmdb::Atom atom;
  MMDBAtom(&atom).set_element("ABCDEFGHIJKL");
  EXPECT_EQ(std::strlen(atom.element), 9u);
  MMDBAtom(&atom).set_altconf(String(25, 'Z'));
  EXPECT_EQ(MMDBAtom(&atom).altconf(), String(19, 'Z'));
  // A model's entry id is its manager's.
  MMDBManager manager;
  mmdb::Model* model = new mmdb::Model();
  manager.AddModel(model);
  MMDBModel(model).set_id("1ABCDEFGHIJKLMNOPQ");
  EXPECT_EQ(MMDBModel(model).id(), "1ABCDEFGHIJKLMN");
}

TEST(MMDBManagerCrystal, CellAndSpacegroup) {
  MMDBManager m;
  EXPECT_TRUE(m.cell().is_null());
  EXPECT_TRUE(m.spacegroup().is_null());

  m.set_cell(Cell(Cell_descr(89.341, 89.341, 105.74, 90, 90, 120)));
  m.set_spacegroup(Spacegroup(Spgr_descr(152)));
  const Cell cell = m.cell();
  ASSERT_FALSE(cell.is_null());
  EXPECT_NEAR(cell.c(), 105.74, 1e-12);
  EXPECT_NEAR(cell.gamma_deg(), 120.0, 1e-12);
  const Spacegroup sg = m.spacegroup();
  EXPECT_EQ(sg.spacegroup_number(), 152);
  EXPECT_EQ(sg.op_count(), 6);

  m.SetSpaceGroup("UNK");
  EXPECT_TRUE(m.spacegroup().is_null());

  vantrel_testing::Quiet_messages quiet;
  Message::set_message_level(2);
  { MMDBManager traced; }
  Message::set_message_level(5);
  EXPECT_EQ(quiet.text(), "+ [MMDBManager: constructed>\n- <MMDBManager: destroyed]\n");
}
