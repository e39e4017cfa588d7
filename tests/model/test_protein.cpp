#include <set>

#include "model/rotamer.h"
#include "model/rotamer_tables.h"
#include "model_testing.h"

using namespace vantrel;

namespace {

struct Residue {
  MMonomer monomer;
  double phi, psi;  // from gemmi
};

// The amino acids of chain A of 1RX2 with the torsions gemmi computed
// (tools/make_protein_fixtures.py).
std::vector<Residue> read_1rx2() {
  const MiniMol mol = model_testing::read_model("ref_1rx2.pdb");
  std::ifstream in = vantrel_testing::open_fixture("protein_1rx2.txt");
  std::vector<Residue> chain;
  for (std::string line; std::getline(in, line);) {
    std::istringstream s(line);
    std::string kind, seqnum, name, phi, psi;
    if (!(s >> kind >> seqnum >> name >> phi >> psi) || kind != "residue") continue;
    chain.push_back({mol[0].find(seqnum, MM::WHOLE_ID), String(phi).f(), String(psi).f()});
    EXPECT_EQ(chain.back().monomer.type(), name);
  }
  return chain;
}

MAtom make_atom(const String& id, const Coord_orth& x, double occupancy = 1.0, double u = 0.2) {
  MAtom a(Atom::null());
  a.set_id(id);
  a.set_element(String(id.substr(0, 2)).trim());
  a.set_coord_orth(x);
  a.set_occupancy(occupancy);
  a.set_u_iso(u);
  return a;
}

const Coord_orth& position(const MMonomer& m, const char* name) {
  return m[m.lookup(name, MM::BASE_ID)].coord_orth();
}

// An ideal main chain: N, CA, C, O.
MMonomer main_chain(const String& type) {
  MMonomer m;
  m.set_type(type);
  const double t = Util::d2rad(111.2);
  const Coord_orth c(1.525 * std::cos(t), 1.525 * std::sin(t), 0);
  m.insert(make_atom(" N  ", Coord_orth(1.458, 0, 0)), -1);
  m.insert(make_atom(" CA ", Coord_orth(0, 0, 0), 0.7, 0.3), -1);
  m.insert(make_atom(" C  ", c), -1);
  m.insert(make_atom(" O  ", Coord_orth(c + Coord_orth(-0.5, 1.1, 0.1))), -1);
  return m;
}

// The atom ids of a monomer, in order.
String names(const MMonomer& m) {
  String out;
  for (int i = 0; i < m.size(); ++i) out += m[i].id();
  return out;
}

double degrees(const Coord_orth& a, const Coord_orth& b, const Coord_orth& c) {
  return Util::rad2d(Coord_orth::angle(a, b, c));
}

}  // namespace

TEST(Protein, TorsionsAndPeptideBondsOnARealChain) {
  const std::vector<Residue> chain = read_1rx2();
  ASSERT_EQ(chain.size(), 159u);
  int phis = 0, psis = 0, bonds = 0;
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    const MMonomer &m1 = chain[i].monomer, &m2 = chain[i + 1].monomer;
    EXPECT_NEAR(MMonomer::protein_ramachandran_phi(m1, m2), chain[i + 1].phi, 1e-12) << i;
    EXPECT_NEAR(MMonomer::protein_ramachandran_psi(m1, m2), chain[i].psi, 1e-12) << i;
    phis += !std::isnan(chain[i + 1].phi);
    psis += !std::isnan(chain[i].psi);
    bonds += MMonomer::protein_peptide_bond(m1, m2, 1.5);
    EXPECT_FALSE(MMonomer::protein_peptide_bond(m2, m1, 1.5));
  }
  EXPECT_EQ(phis + psis, 2 * 158);
  EXPECT_EQ(bonds, 158);  // one continuous chain
  // The limit is strict, and a missing atom gives NaN or no bond.
  const MMonomer &a = chain[10].monomer, &b = chain[11].monomer;
  const double d = Coord_orth::length(position(a, " C  "), position(b, " N  "));
  EXPECT_FALSE(MMonomer::protein_peptide_bond(a, b, d));
  EXPECT_TRUE(MMonomer::protein_peptide_bond(a, b, std::nextafter(d, 2.0)));
  EXPECT_FALSE(MMonomer::protein_peptide_bond(a, chain[12].monomer, 1.5));
  MMonomer no_n;
  no_n.copy(b, MM::COPY(MM::COPY_MEMBERS));
  EXPECT_FALSE(MMonomer::protein_peptide_bond(a, no_n, 1.5));
  EXPECT_TRUE(std::isnan(MMonomer::protein_ramachandran_phi(a, no_n)) &&
              std::isnan(MMonomer::protein_ramachandran_psi(a, no_n)));
}

TEST(Protein, CarbonylOxygen) {
  const std::vector<Residue> chain = read_1rx2();
  int built = 0, close = 0;
  for (std::size_t i = 0; i + 1 < chain.size(); ++i, ++built) {
    MMonomer m = chain[i].monomer;
    const Coord_orth real_o = position(m, " O  ");
    m.protein_mainchain_build_carbonyl_oxygen(chain[i + 1].monomer);
    ASSERT_EQ(m.lookup(" O  ", MM::BASE_ID), m.size() - 1);  // one oxygen, now the last atom
    const MAtom& o = m[m.size() - 1];
    EXPECT_TRUE(o.id() + o.element() == " O  O" && o.occupancy() == m[2].occupancy() &&
                o.u_aniso_orth().is_null());
    const Coord_orth ca = position(m, " CA "), c = position(m, " C  "),
                     n = position(chain[i + 1].monomer, " N  "), x = o.coord_orth();
    EXPECT_NEAR(Coord_orth::length(c, x), 1.2401, 1e-4);
    EXPECT_NEAR(degrees(ca, c, x), 120.9, 0.05);
    // In the CA-C-N plane: the angles about C sum to 360 degrees.
    EXPECT_NEAR(degrees(ca, c, x) + degrees(x, c, n) + degrees(ca, c, n), 360.0, 1e-6);
    close += Coord_orth::length(real_o, x) < 0.15;
  }
  EXPECT_EQ(built, 158);
  EXPECT_GT(close, 0.9 * built);  // agrees with the deposited oxygens

  // N 1.49 Angstroms from C: nothing happens.
  MMonomer m = main_chain("ALA"), far;
  const Coord_orth old_o = position(m, " O  ");
  far.insert(make_atom(" N  ", Coord_orth(position(m, " C  ") + Coord_orth(1.49, 0, 0))), -1);
  m.protein_mainchain_build_carbonyl_oxygen(far);
  EXPECT_TRUE(m.size() == 4 && position(m, " O  ").equals(old_o, 0.0));
  // Of two alternate oxygens only the first stored is replaced.
  MMonomer alt = main_chain("ALA"), near;
  alt.insert(make_atom(" O  :B", Coord_orth(9, 9, 9)), -1);
  near.insert(make_atom(" N  ", Coord_orth(position(m, " C  ") + Coord_orth(0, 1.33, 0))), -1);
  alt.protein_mainchain_build_carbonyl_oxygen(near);
  EXPECT_EQ(names(alt), " N   CA  C   O  :B O  ");
}

TEST(Rotamers, TableFeaturesAndLookup) {
  struct Stated {
    const char* type;
    int count;
    const char* atoms;  // names in order, 4 characters each
    double first_frequency;
  };
  // clang-format off
  const Stated stated[] = {
      {"ALA", 1, " CB ", 1.0},
      {"ARG", 16, " CB  CG  CD  NE  CZ  NH1 NH2", 0.1099},
      {"ASN", 12, " CB  CG  OD1 ND2", 0.2820},
      {"ASP", 8, " CB  CG  OD1 OD2", 0.3087},
      {"CYS", 3, " CB  SG ", 0.5664},
      {"GLN", 13, " CB  CG  CD  OE1 NE2", 0.1853},
      {"GLU", 13, " CB  CG  CD  OE1 OE2", 0.1884},
      {"HIS", 8, " CB  CG  ND1 CD2 CE1 NE2", 0.2964},
      {"ILE", 5, " CB  CG1 CG2 CD1", 0.6158},
      {"LEU", 4, " CB  CG  CD1 CD2", 0.6252},
      {"LYS", 14, " CB  CG  CD  CE  NZ ", 0.2279},
      {"MET", 12, " CB  CG  SD  CE ", 0.1853},
      {"MSE", 12, " CB  CG SE   CE ", 0.1853},
      {"PHE", 4, " CB  CG  CD1 CD2 CE1 CE2 CZ ", 0.4708},
      {"PRO", 2, " CB  CG  CD ", 0.5072},
      {"SER", 3, " CB  OG ", 0.4707},
      {"THR", 3, " CB  OG1 CG2", 0.4886},
      {"TRP", 8, " CB  CG  CD1 CD2 NE1 CE2 CE3 CZ2 CZ3 CH2", 0.3081},
      {"TYR", 4, " CB  CG  CD1 CD2 CE1 CE2 CZ  OH ", 0.4735},
      {"VAL", 3, " CB  CG1 CG2", 0.7390}};
  // clang-format on
  ASSERT_EQ(data::rotamer_data_size, 749);
  int records = 0;
  std::map<String, double> sums;
  for (const Stated& s : stated) {
    SCOPED_TRACE(s.type);
    MMonomer m;
    m.set_type(s.type);
    EXPECT_EQ(m.protein_sidechain_number_of_rotamers(), s.count);
    double previous = 1.0;
    std::set<std::vector<float>> cb_positions;
    for (int n = 0; n < s.count; ++n) {
      const int r = rotamer_find(s.type, n);
      ASSERT_GE(r, 0);
      const data::Rotamer_record& rec = data::rotamer_data[r];
      std::string atoms;
      for (int k = r; k < r + rec.atom_count; ++k) atoms += data::rotamer_data[k].atom;
      EXPECT_EQ(atoms, s.atoms);
      EXPECT_TRUE(rec.rotamer == n && rec.frequency <= previous) << n;
      previous = rec.frequency;
      sums[s.type] += rec.frequency;
      cb_positions.insert({rec.x, rec.y, rec.z});
      records += rec.atom_count;
    }
    EXPECT_FLOAT_EQ(data::rotamer_data[rotamer_find(s.type, 0)].frequency, s.first_frequency);
    EXPECT_LE(sums[s.type], 1.0 + 1e-6);
    EXPECT_EQ(cb_positions.size(), String(s.type) == "ARG" ? 2u : 1u);
    EXPECT_EQ(rotamer_find(s.type, s.count), -1);
  }
  EXPECT_EQ(records, 749);
  for (const auto& [type, sum] : std::map<String, double>{
           {"ALA", 1}, {"CYS", 1}, {"PRO", 1}, {"SER", 1}, {"THR", 1}, {"VAL", 1}, {"ARG", 0.731}})
    EXPECT_NEAR(sums[type], sum, 5e-4) << type;
  // MSE repeats MET with selenium.
  const int met = rotamer_find("MET", 0), mse = rotamer_find("MSE", 0);
  for (int k = 0; k < 48; ++k) {
    const data::Rotamer_record &a = data::rotamer_data[met + k], &b = data::rotamer_data[mse + k];
    EXPECT_TRUE(a.x == b.x && a.frequency == b.frequency) << k;
    EXPECT_STREQ(b.atom, String(a.atom) == " SD " ? "SE  " : a.atom);
  }
  EXPECT_EQ(rotamer_find("MSE", 11), mse + 44);
  EXPECT_EQ(rotamer_find("ALAX", 0), rotamer_find("ALA", 0));
  EXPECT_EQ(rotamer_find("AL", 0) + rotamer_find("GLY", 0) + rotamer_find("MSE", -1), -3);
  // The sample rows: record, atom name and position.
  const int ser = rotamer_find("SER", 0), val = rotamer_find("VAL", 0);
  // clang-format off
  const std::vector<std::tuple<int, String, float, float, float>> rows = {
      {rotamer_find("ALA", 0), " CB ", -0.94f, -1.196f, 0.0f},
      {ser, " CB ", -0.941f, -1.207f, 0.008f}, {ser + 1, " OG ", -0.212f, -2.419f, 0.096f},
      {val, " CB ", -0.945f, -1.215f, 0.038f}, {val + 1, " CG1", -1.718f, -1.247f, 1.347f},
      {val + 2, " CG2", -1.895f, -1.189f, -1.149f}};
  // clang-format on
  for (const auto& [record, atom, x, y, z] : rows) {
    const data::Rotamer_record& rec = data::rotamer_data[record];
    EXPECT_TRUE(rec.atom == atom && rec.x == x && rec.y == y && rec.z == z) << atom;
  }
}

TEST(Rotamers, BuildingReplacesTheSideChain) {
  MMonomer ala = main_chain("ALA");
  for (const char* id : {" CB ", " HA ", " OXT"})
    ala.insert(make_atom(id, Coord_orth(2, 2, 0)), -1);
  EXPECT_EQ(ala.protein_sidechain_build_rotamer(0), 1.0);
  EXPECT_EQ(names(ala), " N   CA  C   O   CB ");
  const Coord_orth ca = position(ala, " CA "), c = position(ala, " C  "), n = position(ala, " N  ");
  const Vec3<double> a = ((c - ca).unit() + (n - ca).unit()).unit();
  const Vec3<double> b = Vec3<double>::cross(c - ca, n - ca).unit();
  EXPECT_TRUE(ala[4].coord_orth().equals(Coord_orth(ca - 0.94 * a - 1.196 * b), 1e-6));
  EXPECT_EQ(ala[4].element(), "C");
  EXPECT_TRUE(ala[4].occupancy() == 0.7 && ala[4].u_iso() == 0.3);  // from CA

  MMonomer val = main_chain("VAL");
  for (const char* id : {" CB :A", " CB :B", " CG1:A"})
    val.insert(make_atom(id, Coord_orth(-1, -1, 0)), -1);
  EXPECT_EQ(val.protein_sidechain_build_rotamer(3), 0.0);
  EXPECT_EQ(names(val), " N   CA  C   O  ");
  EXPECT_FLOAT_EQ(val.protein_sidechain_build_rotamer(0), 0.739f);
  EXPECT_EQ(val.size(), 7);
  // Without N nothing changes.
  MMonomer no_n;
  no_n.copy(val, MM::COPY(MM::COPY_MEMBERS));
  for (const char* id : {" CA ", " C  ", " CB "})
    no_n.insert(make_atom(id, Coord_orth(0, 1, 0)), -1);
  EXPECT_TRUE(no_n.protein_sidechain_build_rotamer(0) == 0.0 && no_n.size() == 3);
}

// Every rotamer of every type, built on an ideal main chain: each side-chain
// atom is bonded (1.2 to 1.9 Angstroms) to an earlier atom and clashes with
// none; proline's ring closes on N.
TEST(Rotamers, BuiltSideChainsHaveSensibleBonds) {
  int built = 0;
  for (int r = 0; r < data::rotamer_data_size; r += data::rotamer_data[r].atom_count, ++built) {
    const data::Rotamer_record& rec = data::rotamer_data[r];
    MMonomer m = main_chain(rec.type);
    m.protein_sidechain_build_rotamer(rec.rotamer);
    ASSERT_EQ(m.size(), 4 + rec.atom_count);
    for (int i = 4; i < m.size(); ++i) {
      double nearest_earlier = 1e9;
      for (int j = 0; j < m.size(); ++j) {
        if (j == i || (j == 3 && i == 4)) continue;
        const double d = Coord_orth::length(m[i].coord_orth(), m[j].coord_orth());
        EXPECT_GT(d, 1.2) << rec.type << rec.rotamer << m[i].id() << m[j].id();
        if (j < i && j != 3) nearest_earlier = std::min(nearest_earlier, d);
      }
      EXPECT_LT(nearest_earlier, 1.9) << rec.type << " " << rec.rotamer << m[i].id();
    }
    if (String(rec.type) == "PRO") {
      EXPECT_NEAR(Coord_orth::length(position(m, " CD "), position(m, " N  ")), 1.473, 0.01);
    }
  }
  EXPECT_EQ(built, 148);
}

// Against the deposited side chains of 1RX2: some rotamer of each complete
// residue lies within 1 Angstrom RMSD of it, and CB where real structures have it.
TEST(Rotamers, FitRealSideChains) {
  int fitted = 0, close = 0, cb_close = 0;
  for (const Residue& res : read_1rx2()) {
    const MMonomer& real = res.monomer;
    double best = 1e9, cb = 1e9;
    bool complete = real.protein_sidechain_number_of_rotamers() > 0;
    for (int n = 0; n < real.protein_sidechain_number_of_rotamers() && complete; ++n) {
      MMonomer m = real;
      m.protein_sidechain_build_rotamer(n);
      double sum = 0.0;
      for (int i = 4; i < m.size() && complete; ++i) {
        const int j = real.lookup(m[i].id(), MM::BASE_ID);
        complete = j >= 0;
        if (complete) sum += Coord_orth(m[i].coord_orth() - real[j].coord_orth()).lengthsq();
      }
      best = std::min(best, std::sqrt(sum / (m.size() - 4)));
      if (complete) cb = Coord_orth::length(m[4].coord_orth(), position(real, " CB "));
    }
    if (!complete) continue;
    ++fitted;
    close += best < 1.0;
    cb_close += cb < 0.3;
  }
  EXPECT_GT(fitted, 120);
  EXPECT_GT(close, 0.8 * fitted);
  EXPECT_GT(cb_close, 0.93 * fitted);
}
