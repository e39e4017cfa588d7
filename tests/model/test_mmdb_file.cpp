#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "foundation/util.h"
#include "model/mmdb_file.h"
#include "model/sequence.h"
#include "support/testing.h"

using namespace vantrel;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

// One atom of a fixture made by gemmi (tools/make_model_fixtures.py).
struct Ref_atom {
  String chain, icode, resname, name, altloc, element;
  int seqnum;
  double xyz[3], occ, b;
  bool aniso;
  double u[6];
};

struct Ref_model {
  double cell[6];
  int spacegroup;
  std::vector<std::pair<String, String>> sequences;  // chain id, one-letter codes
  std::vector<Ref_atom> atoms;
};

Ref_model read_fixture(const String& name) {
  std::ifstream in = vantrel_testing::open_fixture("model_" + name + ".txt");
  Ref_model m{};
  for (std::string line; std::getline(in, line);) {
    std::istringstream s(line);
    std::string key;
    s >> key;
    if (key == "cell") {
      for (double& c : m.cell) s >> c;
    } else if (key == "spacegroup") {
      s >> m.spacegroup;
    } else if (key == "chain") {
      const std::vector<String> col = String(line).split("\t");
      m.sequences.emplace_back(col.at(1), col.at(3) == "-" ? String() : col.at(3));
    } else if (key == "atom") {
      std::vector<std::string> col;
      std::istringstream t(line);
      for (std::string f; std::getline(t, f, '\t');) col.push_back(f);
      Ref_atom a;
      a.chain = col.at(1);
      a.seqnum = String(col.at(2)).i();
      a.icode = col.at(3) == "." ? "" : col.at(3);
      a.resname = col.at(4);
      a.name = col.at(5);
      a.altloc = col.at(6) == "." ? "" : col.at(6);
      a.element = col.at(7);
      std::istringstream n(col.at(8));
      n >> a.xyz[0] >> a.xyz[1] >> a.xyz[2] >> a.occ >> a.b;
      std::string u0;
      n >> u0;
      a.aniso = u0 != ".";
      if (a.aniso) {
        a.u[0] = String(u0).f();
        for (int i = 1; i < 6; ++i) n >> a.u[i];
      }
      m.atoms.push_back(a);
    }
  }
  EXPECT_GT(m.atoms.size(), 40u) << name;
  return m;
}

MiniMol read_model(const String& path) {
  MMDBfile file;
  file.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  file.read_file(path);
  MiniMol mol;
  file.import_minimol(mol, -1);
  return mol;
}

String text_property(const PropertyManager& p, const String& label) {
  return dynamic_cast<const Property<String>&>(p.get_property(label)).value();
}

String rtrim(String s) { return s.erase(s.find_last_not_of(' ') + 1); }

// One-letter codes of the amino acids of a chain, as the sequence check of
// the application builds them.
MPolymerSequence chain_sequence(const MPolymer& chain) {
  static const std::map<String, char> code = {
      {"ALA", 'A'}, {"ARG", 'R'}, {"ASN", 'N'}, {"ASP", 'D'}, {"CYS", 'C'}, {"GLN", 'Q'},
      {"GLU", 'E'}, {"GLY", 'G'}, {"HIS", 'H'}, {"ILE", 'I'}, {"LEU", 'L'}, {"LYS", 'K'},
      {"MET", 'M'}, {"PHE", 'F'}, {"PRO", 'P'}, {"SER", 'S'}, {"THR", 'T'}, {"TRP", 'W'},
      {"TYR", 'Y'}, {"VAL", 'V'}, {"MSE", 'M'}};
  MPolymerSequence seq;
  seq.set_id(chain.id());
  String letters;
  for (int r = 0; r < chain.size(); ++r) {
    const auto c = code.find(chain[r].type());
    if (c != code.end()) letters += c->second;
  }
  seq.set_sequence(letters);
  return seq;
}

// Compares a model atom by atom with a gemmi fixture: ids, coordinates,
// B (as U = B / 8 pi^2), occupancy, anisotropic U and alternate locations.
void expect_model_matches(const MiniMol& mol, const Ref_model& ref, const String& what) {
  SCOPED_TRACE(what);
  ASSERT_FALSE(mol.is_null());
  EXPECT_EQ(mol.spacegroup().spacegroup_number(), ref.spacegroup);
  const double cell[6] = {mol.cell().a(),         mol.cell().b(),        mol.cell().c(),
                          mol.cell().alpha_deg(), mol.cell().beta_deg(), mol.cell().gamma_deg()};
  for (int i = 0; i < 6; ++i) EXPECT_NEAR(cell[i], ref.cell[i], 1e-5);

  MMoleculeSequence sequences;
  for (int p = 0; p < mol.size(); ++p) sequences.insert(chain_sequence(mol[p]), -1);
  ASSERT_EQ(sequences.size(), int(ref.sequences.size()));
  for (int p = 0; p < sequences.size(); ++p) {
    EXPECT_EQ(sequences[p].id(), ref.sequences[p].first);
    EXPECT_EQ(sequences[p].sequence(), ref.sequences[p].second);
  }

  std::size_t n = 0;
  for (int p = 0; p < mol.size(); ++p) {
    for (int r = 0; r < mol[p].size(); ++r) {
      const MMonomer& mono = mol[p][r];
      for (int i = 0; i < mono.size(); ++i, ++n) {
        ASSERT_LT(n, ref.atoms.size());
        const Ref_atom& e = ref.atoms[n];
        const MAtom& a = mono[i];
        SCOPED_TRACE(mono.id() + a.id());
        EXPECT_EQ(mol[p].id(), e.chain);
        EXPECT_EQ(mono.id(), MMonomer::id_tidy(String(e.seqnum) +
                                               (e.icode.empty() ? "" : ":" + e.icode)));
        EXPECT_EQ(mono.type(), e.resname);
        EXPECT_EQ(rtrim(a.name()), e.name);
        EXPECT_EQ(a.id(), e.altloc.empty() ? a.name() : a.name() + ":" + e.altloc);
        EXPECT_EQ(a.element().trim(), e.element);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(a.coord_orth()[k], e.xyz[k], 5.1e-4);
        EXPECT_NEAR(a.occupancy(), e.occ, 5e-4 * e.occ + 1e-9);
        EXPECT_NEAR(a.u_iso(), e.b / Util::eightpi2(), 5e-4 * e.b / Util::eightpi2() + 1e-9);
        // The independent reader has no tensor where the file gives zeros.
        const U_aniso_orth& u = a.u_aniso_orth();
        const bool zero = !u.is_null() && u(0, 0) == 0 && u(1, 1) == 0 && u(2, 2) == 0 &&
                          u(0, 1) == 0 && u(0, 2) == 0 && u(1, 2) == 0;
        ASSERT_EQ(!u.is_null(), e.aniso || zero);
        if (e.aniso) {
          const double got[6] = {u(0, 0), u(1, 1), u(2, 2), u(0, 1), u(0, 2), u(1, 2)};
          for (int k = 0; k < 6; ++k) EXPECT_NEAR(got[k], e.u[k], 1e-5 * std::abs(e.u[k]) + 1e-7);
        }
      }
    }
  }
  EXPECT_EQ(n, ref.atoms.size());
}

// A scratch directory for written files, removed at the end of the test;
// with VANTREL_MODEL_OUTPUT set, written files are kept there instead, for
// the fixture script's check with the independent reader.
class Scratch {
 public:
  Scratch() {
    const char* keep = std::getenv("VANTREL_MODEL_OUTPUT");
    keep_ = keep != nullptr;
    dir_ = keep_ ? std::filesystem::path(keep)
                 : std::filesystem::temp_directory_path() /
                       ("vantrel_model_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
  }
  ~Scratch() {
    if (!keep_) std::filesystem::remove_all(dir_);
  }
  String path(const String& name) const { return (dir_ / std::string(name)).string(); }

 private:
  bool keep_;
  std::filesystem::path dir_;
};

const std::vector<std::pair<String, String>> sources = {
    {"sm_1dur_pdb", "sm_1dur.pdb"}, {"sm_1dur_cif", "sm_1dur.cif"},
    {"tiny_5e5z", "tiny_5e5z.pdb"}, {"wrk_7mm1", "wrk_7mm1.pdb"},
    {"variant_pdb", "tiny_5e5z_variant.pdb"}, {"variant_cif", "tiny_5e5z_variant.cif"}};

}  // namespace

TEST(CoordinateFiles, ImportMatchesIndependentReader) {
  for (const auto& s : sources) {
    const MiniMol mol = read_model(fixture_path(s.second));
    expect_model_matches(mol, read_fixture(s.first), s.second);
    // Every node carries its library path; alternate locations their code.
    EXPECT_EQ(text_property(mol, "CID"), "/1");
    EXPECT_EQ(text_property(mol[0], "CID"), "/1/A");
    const MMonomer& first = mol[0][0];
    EXPECT_EQ(text_property(first, "CID"), "/1/A/" + first.id().trim() + "(" + first.type() + ")");
    for (int p = 0; p < mol.size(); ++p)
      for (int r = 0; r < mol[p].size(); ++r)
        for (int i = 0; i < mol[p][r].size(); ++i) {
          const MAtom& a = mol[p][r][i];
          ASSERT_TRUE(a.exists_property("CID"));
          EXPECT_EQ(a.exists_property("AltConf"), a.id().size() > 4);
          if (a.id().size() > 4) {
            EXPECT_EQ(text_property(a, "AltConf"), a.id().substr(5));
          }
        }
  }
}

TEST(CoordinateFiles, PdbAndCifOf1durGiveTheSameModel) {
  const Atom_list pdb = read_model(fixture_path("sm_1dur.pdb")).atom_list();
  const Atom_list cif = read_model(fixture_path("sm_1dur.cif")).atom_list();
  ASSERT_EQ(pdb.size(), 488u);
  ASSERT_EQ(cif.size(), pdb.size());
  for (std::size_t i = 0; i < pdb.size(); ++i) {
    EXPECT_EQ(pdb[i].element(), cif[i].element());
    for (int k = 0; k < 3; ++k) EXPECT_EQ(pdb[i].coord_orth()[k], cif[i].coord_orth()[k]);
    EXPECT_EQ(pdb[i].u_iso(), cif[i].u_iso());
    EXPECT_EQ(pdb[i].occupancy(), cif[i].occupancy());
  }
}

// A model exported into a fresh object and written as PDB and mmCIF reads
// back equal, insertion codes and alternate locations included.
TEST(CoordinateFiles, WrittenModelsReadBackEqual) {
  Scratch scratch;
  for (const String name : {"wrk_7mm1", "variant_cif"}) {
    const Ref_model ref = read_fixture(name);
    const MiniMol mol = read_model(fixture_path(name == "wrk_7mm1" ? "wrk_7mm1.pdb"
                                                                    : "tiny_5e5z_variant.cif"));
    MMDBfile out;
    out.export_minimol(mol);
    const std::vector<std::pair<String, MMDBManager::TYPE>> forms = {
        {".pdb", MMDBManager::PDB}, {".cif", MMDBManager::CIF}};
    for (const auto& form : forms) {
      out.write_file(scratch.path(name + form.first), form.second);
      expect_model_matches(read_model(scratch.path(name + form.first)), ref, name + form.first);
    }
  }

  // The form written by AS_READ and by an unknown type.
  const auto first_line = [](const String& path) {  // the first non-empty one
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line) && line.empty()) continue;
    return String(line);
  };
  MMDBfile fresh;
  fresh.export_minimol(read_model(fixture_path("tiny_5e5z.pdb")));
  fresh.write_file(scratch.path("as_read_fresh.pdb"), MMDBManager::AS_READ);
  fresh.write_file(scratch.path("type7.pdb"), MMDBManager::TYPE(7));
  MMDBfile cif;
  cif.read_file(fixture_path("sm_1dur.cif"));
  cif.write_file(scratch.path("as_read_cif.cif"), MMDBManager::AS_READ);
  EXPECT_EQ(first_line(scratch.path("as_read_fresh.pdb")).substr(0, 6), "CRYST1");
  EXPECT_EQ(first_line(scratch.path("type7.pdb")).substr(0, 6), "CRYST1");
  EXPECT_EQ(first_line(scratch.path("as_read_cif.cif")).substr(0, 5), "data_");
}

TEST(CoordinateFiles, ExportIntoItsSourceUpdatesInPlace) {
  Scratch scratch;
  MMDBfile file;
  file.read_file(fixture_path("tiny_5e5z_variant.cif"));
  const auto library_atoms = [&] {
    mmdb::Atom** atoms;
    int n;
    file.GetAtomTable(atoms, n);
    return n;
  };
  const int before = library_atoms();
  MiniMol mol;
  file.import_minimol(mol, -1);
  const Coord_orth old_ca = mol[0][1][1].coord_orth();
  mol[0][0][0].set_coord_orth(Coord_orth(1.5, 2.5, 3.5));
  mol[0][1][1].set_coord_orth(Coord_orth::null());  // keeps the library's position
  mol[0][1][1].set_u_iso(0.5);
  file.export_minimol(mol);
  EXPECT_EQ(library_atoms(), before);
  file.write_file(scratch.path("updated.cif"), MMDBManager::AS_READ);
  const MiniMol back = read_model(scratch.path("updated.cif"));
  ASSERT_EQ(back.atom_list().size(), mol.atom_list().size());
  EXPECT_EQ(back[0][0][0].coord_orth()[1], 2.5);
  EXPECT_NEAR(back[0][1][1].coord_orth()[0], old_ca[0], 1e-9);
  EXPECT_NEAR(back[0][1][1].u_iso(), 0.5, 1e-3);
  EXPECT_EQ(back[0][1].id(), "   1:A");

  // A selection of one residue's atoms imports as that residue alone, and
  // the import replaces everything the model held.
  const int handle = file.NewSelection();
  file.Select(handle, mmdb::STYPE_ATOM, "/1/A/4(SER)", mmdb::SKEY_NEW);
  file.import_minimol(mol, handle);
  file.DeleteSelection(handle);
  ASSERT_EQ(mol.size(), 1);
  ASSERT_EQ(mol[0].size(), 1);
  EXPECT_EQ(mol[0][0].type(), "SER");
  EXPECT_EQ(mol[0][0].size(), 7);  // OG in two conformations
  EXPECT_EQ(mol[0][0][6].id(), " OG :B");
}

// Models built in memory: insertion codes and alternate locations reach
// their own fields, and missing B and occupancy stay missing on the way.
TEST(CoordinateFiles, InMemoryModelsKeepCodesAndMissingValues) {
  Scratch scratch;
  MiniMol mol(Spacegroup(Spgr_descr(19)), Cell(Cell_descr(30, 40, 50, 90, 90, 90)));
  MPolymer chain;
  chain.set_id("B");
  MMonomer mono;
  mono.set_seqnum(12, "A");
  mono.set_type("ALA");
  for (const String alt : {"A", "B"}) {
    MAtom atom;
    atom.set_name("CA", alt);
    atom.set_element("C");
    atom.set_coord_orth(Coord_orth(alt == "A" ? 1.0 : 1.5, 2.0, 3.0));
    mono.insert(atom, -1);  // occupancy and U missing
  }
  chain.insert(mono, -1);
  mono.set_seqnum(-3, "");
  chain.insert(mono, -1);
  mol.insert(chain, -1);

  for (const String ext : {".pdb", ".cif"}) {
    MMDBfile out;
    out.export_minimol(mol);
    out.write_file(scratch.path("memory" + ext), ext == ".pdb" ? MMDBManager::PDB : MMDBManager::CIF);
    const MiniMol back = read_model(scratch.path("memory" + ext));
    SCOPED_TRACE(ext);
    ASSERT_EQ(back.size(), 1);
    ASSERT_EQ(back[0].size(), 2);
    EXPECT_EQ(back[0].id(), "B");
    EXPECT_EQ(back[0][0].id(), "  12:A");
    EXPECT_EQ(back[0][1].id(), "  -3");
    ASSERT_EQ(back[0][0].size(), 2);
    EXPECT_EQ(back[0][0][1].id(), " CA :B");
    EXPECT_EQ(text_property(back[0][0][1], "AltConf"), "B");
    EXPECT_EQ(back[0][0][1].coord_orth()[0], 1.5);
    EXPECT_TRUE(Util::is_nan(back[0][0][1].occupancy()));
    EXPECT_TRUE(Util::is_nan(back[0][0][1].u_iso()));
    const Atom_list atoms = back.atom_list();
    EXPECT_EQ(atoms.size(), 4u);
  }

  // A PDB record without occupancy and B columns imports them as missing.
  const String path = scratch.path("short_record.pdb");
  std::ofstream(path) << "CRYST1   30.000   40.000   50.000  90.00  90.00  90.00 P 21 21 21\n"
                         "ATOM      1  CA  GLY A   1       1.000   2.000   3.000\n"
                         "ATOM      2  C   GLY A   1       2.000   2.000   3.000  1.00 20.00\n";
  const MiniMol short_rec = read_model(path);
  ASSERT_EQ(short_rec.atom_list().size(), 2u);
  EXPECT_TRUE(Util::is_nan(short_rec[0][0][0].u_iso()));
  EXPECT_TRUE(Util::is_nan(short_rec[0][0][0].occupancy()));
  EXPECT_EQ(short_rec[0][0][0].coord_orth()[2], 3.0);
  EXPECT_NEAR(short_rec[0][0][1].u_iso(), 20.0 / Util::eightpi2(), 1e-12);
}

TEST(CoordinateFiles, FailuresNameTheFile) {
  Scratch scratch;
  const String truncated = scratch.path("truncated.pdb"), garbage = scratch.path("garbage.cif");
  {
    std::ifstream in(fixture_path("tiny_5e5z.pdb"));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t cut = text.find("ATOM     10 ");
    ASSERT_NE(cut, std::string::npos);
    std::ofstream(truncated) << text.substr(0, cut + 40);  // ends inside the coordinates
    std::ofstream(garbage) << "data_x\nloop_\n_atom_site.id\n_atom_site.Cartn_x\n1\n";
  }
  const String missing = scratch.path("missing.pdb"), dir = scratch.path("");
  const std::vector<std::pair<std::function<void()>, String>> reads = {
      {[&] { MMDBfile().read_file(missing); }, "MMDBfile: read_file error: " + missing + " :   15"},
      {[&] { MMDBfile().read_file(dir); }, "MMDBfile: read_file error: " + dir + " :   15"},
      {[&] { MMDBfile().read_file(truncated); },
       "MMDBfile: read_file error: " + truncated + " :   11"}};
  for (const auto& c : reads) EXPECT_EQ(fatal_text(c.first), c.second);
  const String garbage_error = fatal_text([&] { MMDBfile().read_file(garbage); });
  EXPECT_EQ(garbage_error.rfind("MMDBfile: read_file error: " + garbage + " : ", 0), 0u)
      << garbage_error;

  MMDBfile file;
  file.read_file(fixture_path("tiny_5e5z.pdb"));
  const String nowhere = scratch.path("no/such/dir/out");
  for (const auto type : {MMDBManager::PDB, MMDBManager::CIF, MMDBManager::BINARY}) {
    EXPECT_EQ(fatal_text([&] { file.write_file(nowhere, type); }),
              "MMDBfile: write_file error: " + nowhere + " :   15");
    EXPECT_EQ(fatal_text([&] { file.write_file(dir, type); }),
              "MMDBfile: write_file error: " + dir + " :   15");
  }
}
