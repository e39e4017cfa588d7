#include "model_testing.h"

using namespace vantrel;
using vantrel_testing::fatal_text;

namespace {

String tag(const PropertyManager& p) { return model_testing::text_property(p, "tag"); }

// A monomer whose atoms are tagged with their untidied names and placed at
// x = x0, x0 + 1, ...
MMonomer make_monomer(const String& id, const String& type, const std::vector<String>& atoms,
                      double x0) {
  MMonomer m;
  m.set_id(id);
  m.set_type(type);
  m.set_property("tag", Property<String>(type));
  for (const String& name : atoms) {
    MAtom a;
    a.set_id(name);
    a.set_coord_orth(Coord_orth(x0, 2.0 * x0, -x0));
    x0 += 1.0;
    a.set_property("tag", Property<String>(name));
    m.insert(a, -1);
  }
  return m;
}

// Chain A (residues 1, 2 with CA in two conformations, 2:A), then chain B
// (residue 10 without atoms, 11).
MiniMol make_model() {
  MiniMol mol(Spacegroup(Spgr_descr(19)), Cell(Cell_descr(30, 40, 50, 90, 90, 90)));
  MPolymer a, b;
  a.set_id("A");
  a.insert(make_monomer("1", "GLY", {"N", "CA", "C", "O"}, 0), -1);
  a.insert(make_monomer("2", "SER", {"N", "CA:A", "CA:B", "OG"}, 10), -1);
  a.insert(make_monomer("2:A", "ALA", {"N", "CA"}, 20), -1);
  b.set_id("B");
  b.insert(make_monomer("10", "HOH", {}, 0), -1);
  b.insert(make_monomer("11", "MSE", {"Se"}, 30), -1);
  mol.insert(b, -1);
  mol.insert(a, 0);
  mol.set_property("tag", Property<String>("model"));
  return mol;
}

}  // namespace

TEST(MiniMolIds, TidyLookupAndFind) {
  const std::vector<std::pair<String, String>> atom_ids = {
      {"CA", " CA "},     {"N", " N  "},   {"OXT", " OXT"},       {"Ca", "CA  "},
      {"Se", "SE  "},     {"", "    "},    {"CA:B", " CA :B"},    {"HG11", "HG11"},
      {"CB123", "CB123"}, {" CA", "  CA"}, {"CAXYZ:B", "CAXYZ:B"}};
  for (const auto& c : atom_ids) EXPECT_EQ(MAtom::id_tidy(c.first), c.second) << c.first;
  const std::vector<std::pair<String, String>> monomer_ids = {
      {"12", "  12"}, {"12:A", "  12:A"}, {" 12", "  12"},
      {"-5", "  -5"}, {"12345", "12345"}, {"7A", "   7"}};
  for (const auto& c : monomer_ids) EXPECT_EQ(MMonomer::id_tidy(c.first), c.second) << c.first;

  MiniMol mol = make_model();
  const MMonomer& ser = mol[0][1];  // " N  ", " CA :A", " CA :B", " OG "
  const std::vector<std::tuple<String, MM::MODE, int>> atoms = {
      {"CA", MM::BASE_ID, 1},   {"CA", MM::WHOLE_ID, -1},   {"CA:B", MM::WHOLE_ID, 2},
      {"CA:B", MM::BASE_ID, 1}, {"OG:A", MM::WHOLE_ID, -1}, {"N", MM::MODE(7), 0}};
  for (const auto& [id, mode, index] : atoms) EXPECT_EQ(ser.lookup(id, mode), index) << id;
  // Names longer than 4 characters (mmCIF allows them) are base ids whole.
  const MMonomer long_names = make_monomer("3", "LIG", {"CAXYZ", "CAXYW:B", "CAXY"}, 0);
  EXPECT_EQ(long_names[1].name(), "CAXYW");
  const std::vector<std::pair<String, int>> long_ids = {
      {"CAXYW", 1}, {"CAXYW:A", 1}, {"CAXY", 2}, {"CAXYZ:B", 0}, {"CAX", -1}};
  for (const auto& [id, index] : long_ids)
    EXPECT_EQ(long_names.lookup(id, MM::BASE_ID), index) << id;
  const std::vector<std::tuple<String, MM::MODE, int>> monomers = {{"2", MM::WHOLE_ID, 1},
                                                                   {"2:A", MM::WHOLE_ID, 2},
                                                                   {"2:A", MM::BASE_ID, 1},
                                                                   {"3", MM::BASE_ID, -1}};
  for (const auto& [id, mode, index] : monomers) EXPECT_EQ(mol[0].lookup(id, mode), index) << id;
  // Sequence numbers wider than 4 characters are base ids whole.
  MPolymer wide;
  for (const char* id : {"10001", "10002", "10002:A", "-1000", "-1001"})
    wide.insert(make_monomer(id, "HOH", {}, 0), -1);
  for (const auto& [id, index] :
       std::vector<std::pair<String, int>>{{"10002:B", 1}, {"-1001", 4}, {"1000", -1}})
    EXPECT_EQ(wide.lookup(id, MM::BASE_ID), index) << id;
  // Chain ids compare whole in either mode.
  EXPECT_TRUE(mol.lookup("B", MM::BASE_ID) == 1 && mol.lookup("b", MM::BASE_ID) == -1);
  EXPECT_TRUE(mol.lookup("A ", MM::BASE_ID) == -1 && mol.lookup("b", MM::WHOLE_ID) == -1);
  EXPECT_EQ(fatal_text([&] { mol.find("C", MM::BASE_ID); }), "MModel: no such polymer");
  EXPECT_EQ(fatal_text([&] { mol[0].find("3", MM::BASE_ID); }), "MPolymer: no such monomer");
  EXPECT_EQ(fatal_text([&] { ser.find("CB", MM::BASE_ID); }), "MMonomer: no such atom");
}

TEST(MiniMolCopy, EachBitAtEachLevel) {
  const MiniMol src = make_model();
  const MMonomer dst = make_monomer("7", "LYS", {"N", "CA", "C", "O", "CB"}, 100);

  MMonomer m = dst;
  m.copy(src[0][1], MM::COPY_CHILDREN);  // 4 atoms onto 5: the destination's first four stay
  ASSERT_EQ(m.size(), 4);
  EXPECT_EQ(m.id(), "   7");
  for (int i = 0; i < 4; ++i)
    EXPECT_TRUE(m[i].id() == dst[i].id() && m[i].coord_orth()[0] == dst[i].coord_orth()[0] &&
                tag(m[i]) == tag(dst[i]));

  m = make_monomer("7", "LYS", {"N"}, 100);
  m.copy(src[0][1], MM::COPY(MM::COPY_CHILDREN | MM::COPY_PROPERTIES));
  ASSERT_EQ(m.size(), 4);
  EXPECT_EQ(m[0].coord_orth()[0], 100.0);  // existing atom keeps its members
  // New atoms have default members: no id, and missing numbers.
  EXPECT_TRUE(m[1].id() == "" && m[1].coord_orth().is_null() && Util::is_nan(m[1].occupancy()) &&
              Util::is_nan(m[1].u_iso()) && m[1].u_aniso_orth().is_null());
  EXPECT_EQ(tag(m[3]), "OG");

  MiniMol whole(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(10, 10, 10, 90, 90, 90)));
  whole.copy(src, MM::COPY(7));
  EXPECT_TRUE(whole.spacegroup().spacegroup_number() == 1 &&
              whole.size() == 2);  // crystal left as it was
  MModel members_only;
  members_only.copy(src, MM::COPY_MEMBERS);  // nothing at model level
  EXPECT_TRUE(members_only.size() == 0 && !members_only.exists_property("tag"));

  MiniMol copy = src;  // a copy never shares properties with its source
  copy[0][0][0].delete_property("tag");
  EXPECT_TRUE(src[0][0][0].exists_property("tag"));
}

TEST(MiniMolAtoms, AtomListAndTransform) {
  MiniMol mol = make_model();
  const Atom_list list = mol.atom_list();
  ASSERT_EQ(list.size(), 11u);  // 4 + 4 + 2 + 0 + 1, in tree order
  EXPECT_EQ(list[4].coord_orth()[0] + list[10].coord_orth()[0], 40.0);
  EXPECT_EQ(mol[0].atom_list().size() + mol[1][0].atom_list().size(), 10u);
  EXPECT_TRUE(MiniMol().atom_list().empty());

  const RTop_orth op(Mat33<double>(0, -1, 0, 1, 0, 0, 0, 0, 1), Vec3<double>(1, 2, 3));
  mol[0][1][1].set_u_aniso_orth(U_aniso_orth(0.1, 0.2, 0.3, 0.01, 0.0, 0.0));
  mol.transform(op);
  const MAtom& a = mol[0][1][1];  // was at (11, 22, -11)
  EXPECT_TRUE(a.coord_orth()[0] == -21.0 && a.coord_orth()[1] == 13.0 && a.coord_orth()[2] == -8.0);
  EXPECT_DOUBLE_EQ(a.u_aniso_orth()(0, 0), 0.2);
  EXPECT_DOUBLE_EQ(a.u_aniso_orth()(0, 1), -0.01);
}

TEST(MiniMolCrystal, NullUntilInitWhichKeepsTheModel) {
  MiniMol mol;
  EXPECT_TRUE(mol.is_null());
  mol.init(Spacegroup(Spgr_descr(19)), Cell());  // a null cell keeps it null
  EXPECT_TRUE(mol.is_null());
  mol = make_model();
  mol.init(Spacegroup(Spgr_descr(4)), Cell(Cell_descr(10, 20, 30, 90, 100, 90)));
  EXPECT_FALSE(mol.is_null());
  EXPECT_EQ(mol.spacegroup().spacegroup_number(), 4);
  EXPECT_DOUBLE_EQ(mol.cell().beta_deg(), 100.0);
  // Only the crystal changes: chains and properties stay.
  EXPECT_EQ(mol.atom_list().size(), 11u);
  EXPECT_EQ(tag(mol), "model");
}
