#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <limits>
#include <map>
#include <set>

#include <mmdb2/mmdb_mmcif_.h>

#include "damaged_files.h"
#include "model_testing.h"

using namespace vantrel;
using model_testing::read_model;
using model_testing::text_property;
using vantrel_testing::fatal_text;

namespace {

// One-letter codes of a chain's amino acids, as the application builds them.
String one_letter_sequence(const MPolymer& chain) {
  const std::string code =
      "ALAA ARGR ASNN ASPD CYSC GLNQ GLUE GLYG HISH ILEI LEUL LYSK METM "
      "PHEF PROP SERS THRT TRPW TYRY VALV MSEM ";
  String letters;
  for (int r = 0; r < chain.size(); ++r) {
    const std::size_t k = code.find(chain[r].type());
    if (k != std::string::npos && k % 5 == 0 && chain[r].type().size() == 3) letters += code[k + 3];
  }
  return letters.empty() ? "-" : letters;
}

// The model in the text form of the gemmi fixtures (tools/make_model_fixtures.py):
// crystal, chains with sequences, then one line per atom with ids,
// coordinates, occupancy, B = 8 pi^2 U and anisotropic U.
std::vector<std::string> describe(const MiniMol& mol) {
  char line[512];
  const Cell& c = mol.cell();
  std::snprintf(line, sizeof line, "cell %.6f %.6f %.6f %.6f %.6f %.6f", c.a(), c.b(), c.c(),
                c.alpha_deg(), c.beta_deg(), c.gamma_deg());
  std::vector<std::string> lines = {
      line, "spacegroup " + std::to_string(mol.spacegroup().spacegroup_number())};
  for (int p = 0; p < mol.size(); ++p)
    lines.push_back("chain\t" + mol[p].id() + "\t" + std::to_string(mol[p].size()) + "\t" +
                    one_letter_sequence(mol[p]));
  for (int p = 0; p < mol.size(); ++p)
    for (int r = 0; r < mol[p].size(); ++r)
      for (int i = 0; i < mol[p][r].size(); ++i) {
        const MPolymer& chain = mol[p];
        const MMonomer& m = chain[r];
        const MAtom& a = m[i];
        const std::size_t colon = m.id().find(':');
        String name = a.name(), element = a.element().trim();
        name.erase(name.find_last_not_of(' ') + 1);
        for (char& ch : element) ch = char(std::toupper(ch));
        const U_aniso_orth& u = a.u_aniso_orth();
        char aniso[128] = ". . . . . .";  // the reader keeps no zero tensor
        if (!u.is_null() && (u(0, 0) != 0 || u(1, 1) != 0 || u(2, 2) != 0 || u(0, 1) != 0 ||
                             u(0, 2) != 0 || u(1, 2) != 0))
          std::snprintf(aniso, sizeof aniso, "%.6g %.6g %.6g %.6g %.6g %.6g", u(0, 0), u(1, 1),
                        u(2, 2), u(0, 1), u(0, 2), u(1, 2));
        std::snprintf(
            line, sizeof line, "atom\t%s\t%d\t%s\t%s\t%s\t%s\t%s\t%.3f %.3f %.3f %.6g %.6g %s",
            chain.id().c_str(), m.id().i(),
            colon == String::npos ? "." : m.id().substr(colon + 1).c_str(), m.type().c_str(),
            name.c_str(), a.id().size() > 5 ? a.id().substr(5).c_str() : ".", element.c_str(),
            a.coord_orth()[0], a.coord_orth()[1], a.coord_orth()[2], a.occupancy(),
            a.u_iso() * Util::eightpi2(), aniso);
        lines.push_back(line);
      }
  return lines;
}

// Compares a model line by line with a gemmi fixture; the fixture's
// space-group symbol is dropped (this library names groups its own way).
void expect_fixture(const MiniMol& mol, const String& fixture) {
  SCOPED_TRACE(fixture);
  std::ifstream in = vantrel_testing::open_fixture("model_" + fixture + ".txt");
  std::vector<std::string> expected;
  for (std::string line; std::getline(in, line);)
    if (line[0] != '#')
      expected.push_back(line.rfind("spacegroup", 0) ? line : line.substr(0, line.find(' ', 11)));
  const std::vector<std::string> got = describe(mol);
  ASSERT_GT(expected.size(), 40u);
  ASSERT_EQ(got.size(), expected.size());
  for (std::size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]);
}

// The anisotropic U of each atom with one in a gemmi fixture, as rows of
// an _atom_site_anisotrop loop (loop_rows): the atom's place in the model
// from 1, then U11 U22 U33 U12 U13 U23.
std::vector<std::string> fixture_tensors(const String& fixture) {
  std::ifstream in = vantrel_testing::open_fixture("model_" + fixture + ".txt");
  std::vector<std::string> rows;
  int place = 0;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("atom\t", 0) == 0) {
      std::istringstream numbers(line.substr(line.rfind('\t') + 1));
      std::string value, row = std::to_string(++place) + " ";
      for (int i = 0; numbers >> value; ++i)
        if (i >= 5) row += value + " ";  // after x, y, z, occupancy and B
      if (row.find(". . .") == std::string::npos) rows.push_back(row);
    }
  return rows;
}

bool is_cif(const String& path) {
  const std::string text = model_testing::slurp(path);
  return text.compare(text.find_first_not_of('\n'), 5, "data_") == 0;
}

// The rows of a loop of an mmCIF file: the values of the tags, each with
// a blank after it; a missing value (".", "?") reads as ".".
std::vector<std::string> loop_rows(const String& path, const char* name,
                                   const std::vector<const char*>& tags) {
  mmdb::mmcif::Data cif;
  EXPECT_EQ(cif.ReadMMCIFData(path.c_str()), 0) << path;
  mmdb::mmcif::Loop* loop = cif.GetLoop(name);
  std::vector<std::string> rows(loop ? loop->GetLoopLength() : 0);
  for (int r = 0, rc; r < int(rows.size()); ++r)
    for (const char* tag : tags) {
      const char* value = loop->GetString(tag, r, rc);
      rows[r] += std::string(value ? value : ".") + " ";
    }
  return rows;
}

// The chain ids of the atom rows of an mmCIF file as its text writes them
// (the library reads '' and "." alike); no value of these files holds a blank.
std::set<std::string> written_chain_ids(const String& path) {
  std::istringstream text(model_testing::slurp(path));
  std::set<std::string> ids;
  int column = -1, tags = 0;
  for (std::string line, field; std::getline(text, line);) {
    if (line == "_atom_site.auth_asym_id") column = tags;
    tags += line.rfind("_atom_site.", 0) == 0;
    std::istringstream fields(line);
    const bool atom = line.rfind(" ATOM", 0) == 0 || line.rfind(" HETATM", 0) == 0;
    for (int i = 0; atom && i <= column; ++i) fields >> field;
    if (atom && column >= 0) ids.insert(field);
  }
  return ids;
}

std::vector<std::string> atom_rows(const String& path, const std::vector<const char*>& tags) {
  return loop_rows(path, "_atom_site", tags);
}

// ATOM, HETATM and TER records of a PDB file: record name, atom, residue, chain.
std::vector<std::string> pdb_records(const String& path) {
  std::vector<std::string> records;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0 || line.rfind("TER", 0) == 0)
      records.push_back(line.substr(0, 6) + line.substr(12, 15));
  return records;
}

// The residues of an mmCIF file in the form of label_cases.txt: chain,
// number, insertion code, name, record, label_seq_id, and the label_asym_id
// and label_entity_id as the index of their first appearance; then what
// the file says the entity of its label_asym_id is (_struct_asym, _entity:
// polymer, non-polymer or water; with _entity_poly's type for a polymer),
// marked "!" where that entity is not the atoms' own.
std::vector<std::string> residue_labels(const String& path) {
  std::vector<std::string> rows =
      atom_rows(path, {"auth_asym_id", "auth_seq_id", "pdbx_PDB_ins_code", "label_comp_id",
                       "group_PDB", "label_seq_id", "label_asym_id", "label_entity_id"});
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  std::map<std::string, std::string> entity_of, what;
  for (const std::string& row : loop_rows(path, "_struct_asym", {"id", "entity_id"}))
    entity_of[row.substr(0, row.find(' '))] = row.substr(row.find(' ') + 1);
  for (const auto& [name, id] : {std::pair{"_entity", "id"}, {"_entity_poly", "entity_id"}})
    for (const std::string& row : loop_rows(path, name, {id, "type"}))
      what[row.substr(0, row.find(' ')) + " "] += row.substr(row.find(' ') + 1);
  std::map<std::string, int> asym, entity;
  for (std::string& row : rows) {
    std::istringstream fields(row);
    std::string f[8];
    for (std::string& field : f) fields >> field;
    const int a = asym.emplace(f[6], int(asym.size())).first->second;
    const int e = entity.emplace(f[7], int(entity.size())).first->second;
    // The library reads an empty chain id as a missing one (written_chain_ids
    // tells them apart).
    row = (f[0] == "." ? "''" : f[0]) + " " + f[1] + " " + f[2] + " " + f[3] + " " + f[4] + " " +
          f[5] + " " + std::to_string(a) + " " + std::to_string(e) + " " + what[entity_of[f[6]]] +
          (entity_of[f[6]] == f[7] + " " ? "" : "!");
  }
  return rows;
}

// True when the serial numbers of the ATOM, HETATM and TER records of a
// PDB file, and the ids of the atom rows of an mmCIF file, run 1, 2, 3 ...
bool numbered_in_order(const String& path) {
  std::ifstream in(path);
  int serial = 0;
  const bool cif = path.size() > 4 && path.substr(path.size() - 4) == ".cif";
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string record, id;
    fields >> record >> id;
    if (cif ? record == "ATOM" || record == "HETATM"
            : line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0 ||
                  line.rfind("TER", 0) == 0) {
      if (std::stoi(cif ? id : line.substr(6, 5)) != ++serial) return false;
    }
  }
  return serial > 0;
}

// The records of a PDB file (pdb_records) in the order of the residues of
// rows in the form of label_cases.txt, each of the record kind its row
// gives, the TER records dropped and one put after each chain's last
// polymer residue, which the rows give first.
std::vector<std::string> records_in_order(const std::vector<std::string>& records,
                                          const std::vector<std::string>& rows) {
  std::map<std::string, std::vector<std::string>> residues;  // by chain, number, insertion code
  for (const std::string& record : records)
    if (record.rfind("TER", 0) != 0)
      residues[(record[15] == ' ' ? "''" : record.substr(15, 1)) + " " +
               std::to_string(std::stoi(record.substr(16, 4))) + " " +
               (record[20] == ' ' ? "." : record.substr(20, 1))]
          .push_back(record);
  std::vector<std::string> ordered;
  const auto fields = [](const std::string& row) {
    std::istringstream in(row);
    std::array<std::string, 6> f;
    for (std::string& field : f) in >> field;
    return f;
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const auto f = fields(rows[i]);
    std::vector<std::string>& residue = residues[f[0] + " " + f[1] + " " + f[2]];
    for (std::string& record : residue) record.replace(0, 6, (f[4] + "  ").substr(0, 6));
    ordered.insert(ordered.end(), residue.begin(), residue.end());
    const bool polymer_ends =
        f[5] != "." &&
        (i + 1 == rows.size() || fields(rows[i + 1])[0] != f[0] || fields(rows[i + 1])[5] == ".");
    if (polymer_ends && !residue.empty())
      ordered.push_back("TER   " + std::string(5, ' ') + residue.back().substr(11));
  }
  return ordered;
}

// The molecules of a written file in the form of label_molecules.txt, one
// group to a chain in order of the chain ids: the polymer's type and
// residues in order, the ligands' names sorted, the number of waters. In
// mmCIF the polymer is what its entities say (residue_labels); in PDB form,
// which states no type ("-"), the residues before the chain's TER record
// (none in a chain without one).
std::vector<std::string> written_molecules(const String& path) {
  struct Chain {
    std::string type = "-", polymer;
    std::multiset<std::string> ligands;
    int waters = 0;
  };
  std::map<std::string, Chain> chains;
  const auto add = [&](const std::string& chain, const std::string& name, const std::string& number,
                       const std::string& part) {
    Chain& c = chains[chain];
    if (name == "HOH" || name == "WAT" || name == "DOD" || name == "H2O")
      ++c.waters;
    else if (part == "polymer")
      c.polymer += " " + name + number;
    else
      c.ligands.insert(name);
  };
  if (path.substr(path.size() - 4) == ".cif") {
    for (const std::string& row : residue_labels(path)) {
      std::istringstream fields(row);
      std::string f[10];
      for (std::string& field : f) fields >> field;
      if (f[8] == "polymer") chains[f[0]].type = f[9];
      add(f[0], f[3], f[1] + (f[2] == "." ? "" : f[2]), f[8]);
    }
  } else {
    const std::vector<std::string> records = pdb_records(path);
    std::set<std::string> ending, ended;  // the chains with a TER record; those past it
    for (const std::string& record : records)
      if (record.rfind("TER", 0) == 0) ending.insert(record.substr(15, 1));
    std::string last;
    for (const std::string& record : records) {
      const std::string chain = record.substr(15, 1);
      if (record.rfind("TER", 0) == 0) {
        ended.insert(chain);
      } else if (record.substr(11) != last) {
        last = record.substr(11);
        add(chain == " " ? "''" : chain, String(record.substr(11, 3)).trim(),
            std::to_string(std::stoi(record.substr(16, 4))) + String(record.substr(20, 1)).trim(),
            ending.count(chain) && !ended.count(chain) ? "polymer" : "ligand");
      }
    }
  }
  std::vector<std::string> lines;
  for (const auto& [id, c] : chains) {
    if (!c.polymer.empty()) lines.push_back(id + " polymer " + c.type + c.polymer);
    std::string names;
    for (const std::string& name : c.ligands) names += " " + name;
    if (!names.empty()) lines.push_back(id + " ligands" + names);
    if (c.waters > 0) lines.push_back(id + " waters " + std::to_string(c.waters));
  }
  return lines;
}

// The first line of a text file, compressed or not, that is not blank,
// and the number of its lines that start with ATOM or HETATM after blanks.
std::pair<std::string, int> head_and_atoms(const String& path) {
  gzFile in = gzopen(path.c_str(), "rb");
  std::string head;
  int atoms = 0;
  for (char line[512]; in && gzgets(in, line, sizeof line);) {
    const std::string text = String(line).trim();
    if (head.empty()) head = text;
    atoms += text.rfind("ATOM ", 0) == 0 || text.rfind("HETATM ", 0) == 0;
  }
  if (in) gzclose(in);
  return {head, atoms};
}

// Residues along x: name, number, and atoms (name, x; the element the
// name's first letter).
typedef std::vector<std::tuple<const char*, int, std::vector<std::pair<const char*, double>>>>
    Along_x;

// A model of one chain A of the residues given, in a P1 cell of 40 A.
MiniMol along_x(const Along_x& residues) {
  MPolymer chain;
  chain.set_id("A");
  for (const auto& [type, number, atoms] : residues) {
    MMonomer residue;
    residue.set_type(type);
    residue.set_seqnum(number, "");
    for (const auto& [name, x] : atoms) {
      MAtom atom(Atom::null());
      atom.set_name(name, "");
      atom.set_element(String(name).substr(0, 1));
      atom.set_coord_orth(Coord_orth(x, 0, 0));
      atom.set_occupancy(1);
      atom.set_u_iso(0.25);
      residue.insert(atom, -1);
    }
    chain.insert(residue, -1);
  }
  MiniMol mol(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(40, 40, 40, 90, 90, 90)));
  mol.insert(chain, -1);
  return mol;
}

}  // namespace

TEST(CoordinateFiles, ImportMatchesIndependentReader) {
  const std::vector<std::pair<String, String>> sources = {
      {"sm_1dur_pdb", "sm_1dur.pdb"},           {"sm_1dur_cif", "sm_1dur.cif"},
      {"tiny_5e5z", "tiny_5e5z.pdb"},           {"wrk_7mm1", "wrk_7mm1.pdb"},
      {"variant_pdb", "tiny_5e5z_variant.pdb"}, {"variant_cif", "tiny_5e5z_variant.cif"}};
  for (const auto& [fixture, file] : sources) {
    const MiniMol mol = read_model(file);
    expect_fixture(mol, fixture);
    // Every node carries its library path; alternate locations their code.
    const MMonomer& first = mol[0][0];
    EXPECT_EQ(text_property(mol) + text_property(mol[0]), "/1/1/A");
    EXPECT_EQ(text_property(first), "/1/A/" + first.id().trim() + "(" + first.type() + ")");
    for (int r = 0; r < mol[0].size(); ++r)
      for (int i = 0; i < mol[0][r].size(); ++i) {
        const MAtom& a = mol[0][r][i];
        EXPECT_TRUE(a.exists_property("CID"));
        EXPECT_EQ(a.exists_property("AltConf") ? ":" + text_property(a, "AltConf") : "",
                  a.id().substr(4));
      }
  }
  // The two forms of 1DUR give one model.
  EXPECT_EQ(describe(read_model("sm_1dur.pdb")), describe(read_model("sm_1dur.cif")));
}

// A model exported into a fresh object and written as PDB and mmCIF reads
// back equal, insertion codes and alternate locations included. The mmCIF
// holds a tensor row for each atom with anisotropic U and for no other
// (the variant's first atom has none): cctbx refuses a row without numbers.
TEST(CoordinateFiles, WrittenModelsReadBackEqual) {
  const model_testing::Scratch scratch;
  for (const String fixture : {"wrk_7mm1", "variant_cif"}) {
    MMDBfile out;
    out.export_minimol(
        read_model(fixture == "wrk_7mm1" ? "wrk_7mm1.pdb" : "tiny_5e5z_variant.cif"));
    for (const auto& [type, ext] :
         {std::pair{MMDBManager::PDB, ".pdb"}, {MMDBManager::CIF, ".cif"}}) {
      out.write_file(scratch.path(fixture + ext), type);
      expect_fixture(read_model(scratch.path(fixture + ext)), fixture);
    }
    const std::vector<std::string> tensors = fixture_tensors(fixture);
    EXPECT_GT(tensors.size(), 30u);
    EXPECT_EQ(loop_rows(scratch.path(fixture + ".cif"), "_atom_site_anisotrop",
                        {"id", "U[1][1]", "U[2][2]", "U[3][3]", "U[1][2]", "U[1][3]", "U[2][3]"}),
              tensors);
  }
  // AS_READ is the form last read, PDB when none; writes do not change it.
  MMDBfile fresh, cif;
  fresh.export_minimol(read_model("tiny_5e5z.pdb"));
  cif.read_file(vantrel_testing::fixture_path("sm_1dur.cif"));
  const std::vector<std::tuple<MMDBfile*, MMDBManager::TYPE, bool>> writes = {
      {&fresh, MMDBManager::CIF, true},
      {&fresh, MMDBManager::AS_READ, false},
      {&fresh, MMDBManager::TYPE(7), false},
      {&cif, MMDBManager::PDB, false},
      {&cif, MMDBManager::AS_READ, true}};
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const auto& [file, type, cif_form] = writes[i];
    file->write_file(scratch.path("form" + std::to_string(i)), type);
    EXPECT_EQ(is_cif(scratch.path("form" + std::to_string(i))), cif_form) << i;
  }
  EXPECT_EQ(read_model(scratch.path("form1")).atom_list().size(), 47u);
}

TEST(CoordinateFiles, ExportIntoItsSourceUpdatesInPlace) {
  const model_testing::Scratch scratch;
  MMDBfile file;
  file.read_file(vantrel_testing::fixture_path("tiny_5e5z_variant.cif"));
  const auto library_atoms = [&] {
    mmdb::Atom** atoms;
    int n;
    file.GetAtomTable(atoms, n);
    return n;
  };
  const int before = library_atoms();
  MiniMol mol;
  file.import_minimol(mol, -1);
  const Coord_orth old = mol[0][1][1].coord_orth();
  mol[0][0][0].set_coord_orth(Coord_orth(1.5, 2.5, 3.5));
  mol[0][1][1].set_coord_orth(Coord_orth::null());  // keeps the library's position
  mol[0][1][1].set_u_iso(0.5);
  file.export_minimol(mol);
  EXPECT_EQ(library_atoms(), before);
  file.write_file(scratch.path("updated.cif"), MMDBManager::AS_READ);
  const MiniMol back = read_model(scratch.path("updated.cif"));
  ASSERT_EQ(back.atom_list().size(), 48u);
  EXPECT_EQ(back[0][0][0].coord_orth()[1], 2.5);
  EXPECT_EQ(back[0][1][1].coord_orth()[0], old[0]);
  EXPECT_NEAR(back[0][1][1].u_iso(), 0.5, 1e-3);

  // A selection of one residue's atoms imports that residue alone, and the
  // import replaces everything the model held.
  const int handle = file.NewSelection();
  file.Select(handle, mmdb::STYPE_ATOM, "/1/A/4(SER)", mmdb::SKEY_NEW);
  file.import_minimol(mol, handle);
  ASSERT_EQ(mol.size() + mol[0].size(), 2);
  EXPECT_EQ(mol[0][0].type() + mol[0][0][6].id(), "SER OG :B");
}

// A PDB record without occupancy and B columns imports them as missing, and
// they stay missing through writes in either form.
TEST(CoordinateFiles, MissingOccupancyAndB) {
  const model_testing::Scratch scratch;
  const MiniMol mol = read_model(
      scratch.write("short_record.pdb",
                    "CRYST1   30.000   40.000   50.000  90.00  90.00  90.00 P 21 21 21\n"
                    "ATOM      1  CA  GLY A  -3       1.000   2.000   3.000\n"
                    "ATOM      2  C   GLY A  -3       2.000   2.000   3.000  1.00 20.00\n"));
  for (const auto type : {MMDBManager::PDB, MMDBManager::CIF}) {
    MMDBfile out;
    out.export_minimol(mol);
    out.write_file(scratch.path("missing"), type);
    for (const MiniMol& m : {mol, read_model(scratch.path("missing"))}) {
      ASSERT_EQ(m.atom_list().size(), 2u);
      EXPECT_EQ(m[0][0].id() + m[0][0][0].id(), "  -3 CA ");
      EXPECT_TRUE(Util::is_nan(m[0][0][0].u_iso()) && Util::is_nan(m[0][0][0].occupancy()));
      EXPECT_NEAR(m[0][0][1].u_iso(), 20.0 / Util::eightpi2(), 1e-12);
    }
  }
}

TEST(CoordinateFiles, FailuresNameTheFile) {
  const model_testing::Scratch scratch;
  const std::string text = model_testing::slurp(vantrel_testing::fixture_path("tiny_5e5z.pdb"));
  const String truncated =  // cut inside x, y, z
      scratch.write("truncated.pdb", text.substr(0, text.find("ATOM     10 ") + 40));
  const String garbage =
      scratch.write("garbage.cif", "data_x\nloop_\n_atom_site.id\n_atom_site.Cartn_x\n1\n");
  // Microheterogeneity: residue 2 given as VAL under alternate location A
  // and as ALA under B, which the library does not hold.
  const std::size_t cb = text.find("ATOM     13  CB  VAL");
  const std::string line = text.substr(cb, text.find('\n', cb) - cb);
  const std::string valine = line.substr(0, 16) + "A" + line.substr(17),
                    alanine = line.substr(0, 16) + "BALA" + line.substr(20);
  const String two_names =
      scratch.write("two_names.pdb",
                    text.substr(0, cb) + valine + "\n" + alanine + text.substr(cb + line.size()));
  const String missing = scratch.path("missing.pdb"), dir = scratch.path("");
  // The library's code with its own description, and what was found.
  const std::vector<std::pair<String, String>> reads = {
      {missing, "  15 (File can not be opened): no such file"},
      {dir, "  15 (File can not be opened): not a regular file"},
      {two_names, "  42 (Duplicate sequence number and insertion code)"},
      {truncated,
       "  11 (Numerical information in ATOM record is not recognized): an atom record of "
       "residue /1/A/2(VAL) has no position"},
      {garbage, ""}};
  for (const auto& [file, code] : reads) {
    const String error = fatal_text([&] { MMDBfile().read_file(file); });
    EXPECT_EQ(error.substr(0, code.empty() ? error.rfind(" : ") + 3 : String::npos),
              "MMDBfile: read_file error: " + file + " : " + code);
  }
  MMDBfile file;
  file.read_file(vantrel_testing::fixture_path("tiny_5e5z.pdb"));
  const String nowhere = scratch.path("no/such/dir/out");
  const std::vector<std::pair<String, String>> writes = {
      {nowhere, "no such directory: " + scratch.path("no/such/dir")}, {dir, "not a regular file"}};
  for (const auto type : {MMDBManager::PDB, MMDBManager::CIF, MMDBManager::BINARY})
    for (const auto& [out, reason] : writes)
      EXPECT_EQ(fatal_text([&] { file.write_file(out, type); }),
                "MMDBfile: write_file error: cannot write " + out + ": " + reason);
}

// Written files say of each atom what the model holds, as the deposited
// 1DUR files do: SF4 and waters as HETATM, the deposited label ids (the
// polymer, each SF4 and the waters in chains A to D of entities 1 to 3,
// residue positions 1 to 55 and none for the rest), and in PDB a TER after
// the polymer, which mmCIF holds as no row.
TEST(CoordinateFiles, WrittenRecordsAndLabelsAreTheModelsOwn) {
  const model_testing::Scratch scratch;
  const std::vector<const char*> tags = {
      "auth_asym_id",  "auth_seq_id",  "auth_atom_id",  "label_alt_id",   "group_PDB",
      "label_comp_id", "label_atom_id", "label_seq_id", "label_asym_id", "label_entity_id"};
  MMDBfile file;
  file.export_minimol(read_model("sm_1dur.pdb"));
  file.write_file(scratch.path("out.pdb"), MMDBManager::PDB);
  file.write_file(scratch.path("out.cif"), MMDBManager::CIF);
  EXPECT_EQ(pdb_records(scratch.path("out.pdb")),
            pdb_records(vantrel_testing::fixture_path("sm_1dur.pdb")));
  EXPECT_EQ(atom_rows(scratch.path("out.cif"), tags),
            atom_rows(vantrel_testing::fixture_path("sm_1dur.cif"), tags));
  // A model read from gemmi's mmCIF, without label numbers, keeps its chain
  // labels and gets its polymer numbered; a residue renamed to no standard
  // one is HETATM, still in the polymer.
  MMDBfile variant;
  variant.read_file(vantrel_testing::fixture_path("tiny_5e5z_variant.cif"));
  MiniMol mol;
  variant.import_minimol(mol, -1);
  mol[0][1].set_type("MSE");
  variant.export_minimol(mol);
  variant.write_file(scratch.path("variant.cif"), MMDBManager::AS_READ);
  // Its entity ids ("A", "water") are no numbers, which the library cannot
  // hold: the entities are numbered.
  std::vector<std::string> residues =
      atom_rows(scratch.path("variant.cif"),
                {"group_PDB", "label_comp_id", "label_seq_id", "label_asym_id", "label_entity_id"});
  residues.erase(std::unique(residues.begin(), residues.end()), residues.end());
  EXPECT_EQ(residues, (std::vector<std::string>{"ATOM LEU 1 Apoly 1 ", "HETATM MSE 2 Apoly 1 ",
                                                "ATOM HIS 3 Apoly 1 ", "ATOM SER 4 Apoly 1 ",
                                                "ATOM SER 5 Apoly 1 ", "ATOM ASN 6 Apoly 1 ",
                                                "HETATM HOH . Awat 2 "}));
  EXPECT_EQ(loop_rows(scratch.path("variant.cif"), "_entity", {"id", "type"}),
            (std::vector<std::string>{"1 polymer ", "2 water "}));
  // Residues added to a model read from mmCIF get labels beside those it
  // was read with: a new chain's polymer, and a ligand of a new kind or of
  // the kind of the SF4 read.
  for (const auto& [ligand, labels] : {std::pair{"SO4", "SO4 . F 5 "}, {"SF4", "SF4 . F 2 "}}) {
    MMDBfile deposited;
    deposited.read_file(vantrel_testing::fixture_path("sm_1dur.cif"));
    deposited.import_minimol(mol, -1);
    MAtom atom = mol[0][0][0];
    MMonomer added;
    added.set_type(ligand);
    added.set_seqnum(90, "");
    added.insert(atom, -1);
    mol[0].insert(added, -1);
    added.set_type("GLY");
    MPolymer chain;
    chain.set_id("B");
    chain.insert(added, -1);
    mol.insert(chain, -1);
    deposited.export_minimol(mol);
    deposited.write_file(scratch.path("added.cif"), MMDBManager::AS_READ);
    residues = atom_rows(scratch.path("added.cif"),
                         {"label_comp_id", "label_seq_id", "label_asym_id", "label_entity_id"});
    residues.erase(std::unique(residues.begin(), residues.end()), residues.end());
    ASSERT_EQ(residues.size(), 60u);
    EXPECT_EQ(std::vector<std::string>(residues.begin() + 55, residues.end()),
              (std::vector<std::string>{"SF4 . B 2 ", "SF4 . C 2 ", "HOH . D 3 ", labels,
                                        "GLY 1 E 4 "}));
  }

  // The block code: the model's entry id, else the file's name without
  // its extension, in the characters of a block code and at most 15 of
  // them; the model keeps its own id. Each write holds every atom once.
  MMDBfile read;
  read.read_file(vantrel_testing::fixture_path("sm_1dur.pdb"));
  const std::vector<std::tuple<MMDBfile*, String, std::string>> blocks = {
      {&file, "again.cif", "data_again"},
      {&file, "7mm1 refined.v2.cif.gz", "data_7mm1_refined.v2"},
      {&file, "Refined.CIF.GZ", "data_Refined"},
      {&file, "a_model_of_many_names.cif", "data_a_model_of_many"},
      {&read, "renamed.cif", "data_1DUR"}};
  for (const auto& [model, name, code] : blocks) {
    model->write_file(scratch.path(name), MMDBManager::CIF);
    EXPECT_EQ(head_and_atoms(scratch.path(name)), std::pair(code, 488));
  }
  EXPECT_EQ(String(file.GetEntryID()) + read.GetEntryID(), "1DUR");
}

// Each source written back, from a model exported into a new object and
// from the object it was read into, holds what gemmi reads from the
// source as gemmi writes it (tools/make_label_fixtures.py): in mmCIF the
// polymer, each ligand and the waters of a chain have label_asym_ids of
// their own, entities are one per polymer sequence, ligand and water,
// every polymer residue is numbered, by as much as the residue numbers
// step where residues are missing, and a peptide has the hand of its
// residues; in PDB form a TER record follows each polymer's last residue:
// a cap, D-amino acid or modified residue that continues its backbone. A
// chain's polymer is written first, wherever the source has its ligands
// and waters, and holds the residues bonded to it, wherever they stand.
// An mmCIF source's labels are kept where they agree with that, and the
// residues whose bonds put them elsewhere get labels of their own group;
// an entity read is kept by the chains that agree at every label_seq_id
// they share (two chains observed over different lengths, "kept" in the
// table), those that do not sharing a new one where they agree so (one read
// with two sequences is written as two); chains of the same residue names
// whose gaps fall in other places are two. What a source
// gives as ATOM is what its rows' group_PDB says, where an author chain id
// is another molecule's label_asym_id too; each mmCIF output read again and
// written back holds the same labels. A polymer is a
// chain of residues: a residue bonded through a side chain (an isopeptide,
// a sugar on an asparagine) or clashing with a nitrogen already bonded
// stays a ligand, as do glycans and lipids without an amino acid;
// residues laid over one another are bonded neither way, while atoms of
// different conformations may share a place; runs of
// standard residues after a TER record (one at each chain break, a chain
// id used twice) join their chain's polymer, and DNA after a peptide in
// one chain is a polymer of its own; a residue of the run's kind bonded
// to nothing at an end of the run or at a gap is in it only where its
// number continues the run and it lies within reach. Each bonded stretch
// is written whole, wherever the file gives its residues, and a residue
// bonded to nothing joins no run found elsewhere. Each output, read back
// and written again, holds the same.
TEST(CoordinateFiles, WrittenModelsHoldTheirSourcesMolecules) {
  const model_testing::Scratch scratch;
  std::ifstream in = vantrel_testing::open_fixture("label_cases.txt");
  std::map<std::string, std::vector<std::string>> cases;
  std::vector<std::string>* rows = nullptr;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("source ", 0) == 0)
      rows = &cases[line.substr(7)];
    else if (line.rfind("polymers", 0) == 0 && rows) {
      // Each row then says what its entity is: the polymers' types are in
      // the order their entities first appear.
      std::istringstream types(line.substr(8));
      std::map<std::string, std::string> polymers;
      for (std::string& row : *rows) {
        std::istringstream fields(row);
        std::string f[8];
        for (std::string& field : f) fields >> field;
        if (f[5] != "." && !polymers.count(f[7])) types >> polymers[f[7]];
        const bool water = f[3] == "HOH" || f[3] == "WAT" || f[3] == "DOD" || f[3] == "H2O";
        row += f[5] != "." ? " polymer " + polymers[f[7]] + " "
               : water     ? " water "
                           : " non-polymer ";
      }
    } else if (line[0] != '#' && rows) {
      rows->push_back(line);
    }
  ASSERT_EQ(cases.size(), 31u);
  for (const auto& [source, given] : cases) {
    if (source.find(' ') != std::string::npos) continue;  // a "kept" block
    const auto kept = cases.find(source + " kept");
    const String path = vantrel_testing::fixture_path(source);
    const String stem = source.substr(0, source.size() - 4);
    MMDBfile same, fresh;
    same.read_file(path);
    MiniMol mol;
    same.import_minimol(mol, -1);
    same.export_minimol(mol);
    fresh.export_minimol(mol);
    // The object read writes PDB first, with the TER records it read; the
    // fresh one mmCIF first, which drops them. Each then writes from the
    // object its first write rearranged, the first form again the same.
    for (const auto& [file, route, pdb_first] :
         {std::tuple{&same, "_same", true}, {&fresh, "_fresh", false}}) {
      SCOPED_TRACE(stem + route);
      const std::vector<std::string>& expected =
          pdb_first && kept != cases.end() ? kept->second : given;
      const String cif = scratch.path(stem + route + ".cif"),
                   pdb = scratch.path(stem + route + ".pdb"),
                   again = scratch.path(stem + route + "_again" + (pdb_first ? ".pdb" : ".cif"));
      file->write_file(pdb_first ? pdb : cif, pdb_first ? MMDBManager::PDB : MMDBManager::CIF);
      file->write_file(pdb_first ? cif : pdb, pdb_first ? MMDBManager::CIF : MMDBManager::PDB);
      file->write_file(again, pdb_first ? MMDBManager::PDB : MMDBManager::CIF);
      EXPECT_EQ(residue_labels(cif), expected);
      std::set<std::string> chains;
      for (const std::string& row : expected) chains.insert(row.substr(0, row.find(' ')));
      EXPECT_EQ(written_chain_ids(cif), chains);
      // An mmCIF source holds no records: those written, in the expected order.
      EXPECT_EQ(pdb_records(pdb),
                records_in_order(pdb_records(is_cif(path) ? pdb : path), expected));
      EXPECT_TRUE(numbered_in_order(pdb) && numbered_in_order(cif));
      if (pdb_first)
        EXPECT_EQ(pdb_records(again), pdb_records(pdb));
      else
        EXPECT_EQ(residue_labels(again), expected);
      // Each output read back and written again in its form, from the
      // object read and from a model of it in a new object, holds the same
      // (the new object's labels made afresh).
      for (const auto& [out, form] : {std::pair{cif, MMDBManager::CIF}, {pdb, MMDBManager::PDB}}) {
        MMDBfile back, anew;
        back.read_file(out);
        MiniMol model;
        back.import_minimol(model, -1);
        anew.export_minimol(model);
        for (MMDBfile* second : {&back, &anew}) {
          SCOPED_TRACE(out + (second == &back ? " read back" : " in a new object"));
          const String rewritten = scratch.path("rewritten" + out.substr(out.size() - 4));
          second->write_file(rewritten, form);
          if (form == MMDBManager::CIF)
            EXPECT_EQ(residue_labels(rewritten), second == &anew ? given : expected);
          else
            EXPECT_EQ(pdb_records(rewritten), pdb_records(out));
        }
      }
    }
  }
}

// Files other programs write (label_molecules.txt; their sources in the
// fixture script), written from the object read, from it after a model
// of it was exported into it, and from a model exported into a new
// object, hold the molecules gemmi reads in them: a chromophore given as
// ATOM and bonded into the chain through atoms of other names (1EMA's CRO
// 66), a peptide whose biotin and linker are bonded through their own
// atom names, given as HETATM (4WVP's chain I, polypeptide(L) as the file
// says), and a cavity finder's atom lists, bonded to nothing, a residue's
// atoms in several runs, one TER record at the end (fpocket; 4URL's ASN 77
// between two bonded residues); a docking example's two DNA strands in one
// chain parted by a TER record, the strand after it a polymer too; and an
// mmCIF file whose free glycine, given as ATOM, has a label_asym_id of its
// own (made by the script).
TEST(CoordinateFiles, WrittenModelsHoldTheMoleculesOfOtherProgramsFiles) {
  const model_testing::Scratch scratch;
  std::ifstream in = vantrel_testing::open_fixture("label_molecules.txt");
  std::map<std::string, std::vector<std::string>> cases;
  std::vector<std::string>* lines = nullptr;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("source ", 0) == 0)
      lines = &cases[line.substr(7)];
    else if (line[0] != '#' && lines)
      lines->push_back(line);
  ASSERT_EQ(cases.size(), 7u);
  for (const auto& [source, expected] : cases) {
    MMDBfile read, same, fresh;
    read.read_file(vantrel_testing::fixture_path(source));
    same.read_file(vantrel_testing::fixture_path(source));
    MiniMol mol;
    same.import_minimol(mol, -1);
    same.export_minimol(mol);
    fresh.export_minimol(mol);
    // The PDB form states no polymer type.
    std::vector<std::string> untyped = expected;
    for (std::string& line : untyped)
      if (line.find(" polymer ") != std::string::npos) {
        const std::size_t type = line.find(" polymer ") + 9;
        line.replace(type, line.find(' ', type) - type, "-");
      }
    for (const auto& [file, route] :
         {std::pair{&read, "read"}, {&same, "same"}, {&fresh, "fresh"}}) {
      SCOPED_TRACE(source + " " + route);
      file->write_file(scratch.path("out.pdb"), MMDBManager::PDB);
      file->write_file(scratch.path("out.cif"), MMDBManager::CIF);
      EXPECT_EQ(written_molecules(scratch.path("out.pdb")), untyped);
      EXPECT_EQ(written_molecules(scratch.path("out.cif")), expected);
    }
  }
}

// A model made in memory: a residue belongs to the polymer when its N is
// bonded to the C before it (1.33 A), not when it is only near (2.6 A).
TEST(CoordinateFiles, WrittenPolymerEndsWhereItsBackboneEnds) {
  const model_testing::Scratch scratch;
  // The gap from C to N, the cap's and the water's residue rows, and the
  // record that is TER.
  const std::vector<std::tuple<double, std::string, std::string, std::size_t>> cases = {
      {1.33, "HETATM NH2 3 A 1 ", "HETATM HOH . B 2 ", 7},
      {2.6, "HETATM NH2 . B 2 ", "HETATM HOH . C 3 ", 6}};
  for (const auto& [gap, cap, water, ter] : cases) {
    const Along_x residues = {{"GLY", 1, {{"N", 0}, {"CA", 1.45}, {"C", 2.9}}},
                              {"GLY", 2, {{"N", 4.2}, {"CA", 5.6}, {"C", 7}}},
                              {"NH2", 3, {{"N", 7 + gap}}},
                              {"HOH", 9, {{"O", 20}}}};
    MMDBfile file;
    file.export_minimol(along_x(residues));
    file.write_file(scratch.path("made.cif"), MMDBManager::CIF);
    file.write_file(scratch.path("made.pdb"), MMDBManager::PDB);
    std::vector<std::string> rows = atom_rows(
        scratch.path("made.cif"),
        {"group_PDB", "label_comp_id", "label_seq_id", "label_asym_id", "label_entity_id"});
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"ATOM GLY 1 A 1 ", "ATOM GLY 2 A 1 ", cap, water}))
        << gap;
    const std::vector<std::string> records = pdb_records(scratch.path("made.pdb"));
    ASSERT_EQ(records.size(), 9u);
    EXPECT_EQ(records[ter].substr(0, 3), "TER") << gap;
    EXPECT_EQ(head_and_atoms(scratch.path("made.cif")).first, "data_made");
  }
}

// A residue without an atom of the backbone's name bonds through any atom
// of its element, wherever the file lists it: a cap LIG 0 whose second
// carbon lies 1.33 A from GLY 1's N heads the polymer as when it is its first.
TEST(CoordinateFiles, ResiduesWithoutBackboneNamesBondThroughAnyAtom) {
  const model_testing::Scratch scratch;
  for (const double first : {-5.0, -1.33}) {  // the first carbon's x; the other's is the rest
    const Along_x residues = {{"LIG", 0, {{"C1", first}, {"C2", first == -5 ? -1.33 : -5}}},
                              {"GLY", 1, {{"N", 0}, {"CA", 1.45}, {"C", 2.45}}},
                              {"GLY", 2, {{"N", 3.78}, {"CA", 5.23}, {"C", 6.23}}}};
    MMDBfile file;
    file.export_minimol(along_x(residues));
    file.write_file(scratch.path("cap.cif"), MMDBManager::CIF);
    std::vector<std::string> rows =
        atom_rows(scratch.path("cap.cif"), {"label_comp_id", "label_seq_id", "label_asym_id"});
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"LIG 1 A ", "GLY 2 A ", "GLY 3 A "})) << first;
  }
}

// A chain whose atoms crowd one point, as when a model's unplaced atoms all
// sit at the origin: 60 glycines numbered 1, 3 ... 119, every atom within
// 0.5 A of one point, so that each C lies within a bond of each N. Two
// residues bonded each way are bonded neither way: the crowd holds no bond,
// and label_seq_id steps by the numbers. A residue whose C alone lies 10 A
// away is bonded one way from each other residue, and so continues the one
// before it; one whose N alone lies away is continued by the one after it.
// A cap NH2 121 in the crowd, without a C, is bonded from each glycine one
// way, and continues 119.
TEST(CoordinateFiles, CrowdedResiduesBondedEachWayAreNotBonded) {
  const model_testing::Scratch scratch;
  // The residue whose atom moves away, that atom, and the first residue
  // whose label_seq_id falls one behind its number (0 for none).
  const std::vector<std::tuple<int, std::string, int>> cases = {
      {0, "", 0}, {41, "C", 41}, {41, "N", 43}};
  for (const auto& [moved, moved_atom, behind] : cases) {
    MPolymer chain;
    chain.set_id("A");
    int k = 0;  // atoms made: a well-spread sequence in a cube of edge 0.56 A
    const auto near = [&k](const double step) {
      return 10 + 0.56 * (std::fmod(step * k, 1.0) - 0.5);
    };
    std::vector<std::string> expected;
    for (int number = 1; number <= 121; number += 2) {
      const bool cap = number == 121;
      MMonomer residue;
      residue.set_type(cap ? "NH2" : "GLY");
      residue.set_seqnum(number, "");
      for (const char* name : {"N", "CA", "C", "O"}) {
        if (cap && name != std::string("N")) break;
        const double x = near(0.6180339887) + (number == moved && moved_atom == name ? 10 : 0);
        const Coord_orth at(x, near(0.7548776662), near(0.5698402910));
        ++k;
        MAtom atom(Atom::null());
        atom.set_name(name, "");
        atom.set_element(String(name).substr(0, 1));
        atom.set_coord_orth(at);
        atom.set_occupancy(1);
        atom.set_u_iso(0.25);
        residue.insert(atom, -1);
      }
      chain.insert(residue, -1);
      const int label = number - (behind > 0 && number >= behind) - cap;
      expected.push_back(std::to_string(number) + " " + std::to_string(label) + " ");
    }
    MiniMol mol(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(40, 40, 40, 90, 90, 90)));
    mol.insert(chain, -1);
    MMDBfile file;
    file.export_minimol(mol);
    file.write_file(scratch.path("crowd.cif"), MMDBManager::CIF);
    std::vector<std::string> rows =
        atom_rows(scratch.path("crowd.cif"), {"auth_seq_id", "label_seq_id"});
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    EXPECT_EQ(rows, expected) << moved << " " << moved_atom;
  }
}

// A model made in memory, of glycines given as ATOM (all polymer, as a
// cavity finder's lists): a label_seq_id steps by one only between
// residues bonded to each other or numbered one after the other (52, 52A,
// 53; insertion codes that run backwards in the order given), else by as
// much as the numbers rise, or by 2 where they do not. Read back and
// written again, the labels are kept; a file whose labels step by one
// everywhere keeps them only where that holds.
TEST(CoordinateFiles, WrittenLabelsStepByOneOnlyAcrossABondOrToTheNextNumber) {
  const model_testing::Scratch scratch;
  // Number, insertion code, whether bonded to the residue before, and the
  // label_seq_id written.
  const std::vector<std::tuple<int, const char*, bool, int>> residues = {
      {52, "", false, 1},   {52, "A", false, 2}, {53, "", false, 3},   {60, "", false, 10},
      {58, "", false, 12},  {70, "", true, 13},  {80, "C", false, 23}, {80, "B", false, 24},
      {80, "A", false, 25}, {81, "", false, 26}};
  MPolymer chain;
  chain.set_id("A");
  double x = 0;
  std::vector<std::string> expected;
  for (const auto& [number, code, bonded, label] : residues) {
    x += bonded ? 1.33 : 5;  // from the C before: bonded, or 5 A apart
    MMonomer residue;
    residue.set_type("GLY");
    residue.set_seqnum(number, code);
    for (const auto& [name, along] : {std::pair{"N", 0.0}, {"CA", 1.45}, {"C", 2.9}}) {
      MAtom atom(Atom::null());
      atom.set_name(name, "");
      atom.set_element(String(name).substr(0, 1));
      atom.set_coord_orth(Coord_orth(x + along, 0, 0));
      atom.set_occupancy(1);
      atom.set_u_iso(0.25);
      residue.insert(atom, -1);
    }
    x += 2.9;
    chain.insert(residue, -1);
    expected.push_back(std::to_string(number) + " " + (*code ? code : ".") + " " +
                       std::to_string(label) + " ");
  }
  MiniMol mol(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(200, 40, 40, 90, 90, 90)));
  mol.insert(chain, -1);
  MMDBfile file;
  file.export_minimol(mol);
  file.write_file(scratch.path("made.cif"), MMDBManager::CIF);
  mmdb::mmcif::Data steps;
  ASSERT_EQ(steps.ReadMMCIFData(scratch.path("made.cif").c_str()), 0);
  mmdb::mmcif::Loop* atoms = steps.GetLoop("_atom_site");
  const auto residue_of = [atoms](const int row) {
    int rc;
    std::string id;
    for (const char* tag : {"auth_seq_id", "pdbx_PDB_ins_code"})
      if (const char* value = atoms->GetString(tag, row, rc)) id += std::string(value) + " ";
    return id;
  };
  for (int row = 0, label = 0; row < atoms->GetLoopLength(); ++row) {
    label += row == 0 || residue_of(row) != residue_of(row - 1);
    atoms->PutInteger(label, "label_seq_id", row);
  }
  steps.WriteMMCIFData(scratch.path("steps.cif").c_str());
  for (const char* source : {"made.cif", "steps.cif"}) {
    MMDBfile back;
    back.read_file(scratch.path(source));
    back.write_file(scratch.path(std::string("again_") + source), MMDBManager::CIF);
  }
  for (const char* written : {"made.cif", "again_made.cif", "again_steps.cif"}) {
    std::vector<std::string> rows =
        atom_rows(scratch.path(written), {"auth_seq_id", "pdbx_PDB_ins_code", "label_seq_id"});
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    EXPECT_EQ(rows, expected) << written;
  }
}

// A PDB file whose chain ends in a glycine bonded to nothing: after the
// chain's TER record, or given as HETATM, it is a free ligand, written as
// HETATM with labels of its own; as an ATOM record before TER it follows
// missing residues. gemmi reads each of these sources so.
TEST(CoordinateFiles, WrittenPolymerEndsWhereItsSourceEndsIt) {
  const model_testing::Scratch scratch;
  const auto record = [](const char* kind, const int serial, const char* name, const int number,
                         const double x) {
    char line[96];
    std::snprintf(line, sizeof line,
                  "%-6s%5d %-4s GLY A%4d    %8.3f%8.3f%8.3f  1.00 20.00          %2.1s\n", kind,
                  serial, name, number, x, 0.0, 0.0, name + 1);
    return std::string(line);
  };
  // Two glycines, N of the second bonded to C of the first.
  std::string chain = "CRYST1   40.000   40.000   40.000  90.00  90.00  90.00 P 1\n";
  for (int serial = 1; serial <= 6; ++serial)
    chain += record("ATOM", serial, std::array{" N", " CA", " C"}[(serial - 1) % 3],
                    serial > 3 ? 2 : 1, 1.4 * (serial - 1));
  // The glycine after them, and its residue row as written.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"TER       7      GLY A   2\n" + record("ATOM", 8, " CA", 10, 20), "HETATM GLY . B 2 "},
      {record("HETATM", 7, " CA", 10, 20), "HETATM GLY . B 2 "},
      {record("ATOM", 7, " CA", 10, 20), "ATOM GLY 10 A 1 "}};
  for (const auto& [end, glycine] : cases) {
    // Written from the object read, and from a model of it exported into a
    // new object, which takes record kinds and TER records from the model.
    MMDBfile file, fresh;
    file.read_file(scratch.write("source.pdb", chain + end + "END\n"));
    MiniMol mol;
    file.import_minimol(mol, -1);
    fresh.export_minimol(mol);
    for (const auto& [route, name] : {std::pair{&file, "read"}, {&fresh, "fresh"}}) {
      SCOPED_TRACE(name);
      route->write_file(scratch.path(name + String(".cif")), MMDBManager::CIF);
      route->write_file(scratch.path(name + String(".pdb")), MMDBManager::PDB);
      std::vector<std::string> rows = atom_rows(
          scratch.path(name + String(".cif")),
          {"group_PDB", "label_comp_id", "label_seq_id", "label_asym_id", "label_entity_id"});
      rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
      EXPECT_EQ(rows, (std::vector<std::string>{"ATOM GLY 1 A 1 ", "ATOM GLY 2 A 1 ", glycine}))
          << end;
    }
    EXPECT_EQ(pdb_records(scratch.path("fresh.pdb")), pdb_records(scratch.path("read.pdb"))) << end;
  }
}

// An atom name of 5 characters, which mmCIF holds, is kept whole: in the
// model, in mmCIF written from the object read or from a new one, and a
// PDB write refuses it, naming it.
TEST(CoordinateFiles, LongAtomNamesAreKeptWhole) {
  const model_testing::Scratch scratch;
  const String source = scratch.write(
      "long_name.cif",
      damaged_files::cif_with_rows("sm_1dur.cif", 21, [](std::vector<std::string>& w) {
        if (w[1] == "2") w[3] = w[19] = "CAXYZ";
      }));
  MMDBfile file, fresh;
  file.read_file(source);
  MiniMol mol;
  file.import_minimol(mol, -1);
  ASSERT_EQ(mol[0][0][1].id(), "CAXYZ");
  file.export_minimol(mol);
  fresh.export_minimol(mol);
  for (MMDBfile* route : {&file, &fresh}) {
    route->write_file(scratch.path("out.cif"), MMDBManager::CIF);
    const MiniMol back = read_model(scratch.path("out.cif"));
    EXPECT_EQ(back[0][0][1].name() + back[0][0][2].name(), "CAXYZ C  ");
    EXPECT_EQ(fatal_text([&] { route->write_file(scratch.path("out.pdb"), MMDBManager::PDB); }),
              "MMDBfile: write_file error: " + scratch.path("out.pdb") +
                  " : the atom name \"CAXYZ\" is longer than 4 characters, more than the PDB form "
                  "holds");
  }
}

// Writing costs processor time in proportion to the model: 4 times the
// atoms (copies of 7MM1, 2,793 atoms, moved on by 100 A along x each, in
// chains A, B, ...) take less than 8 times as long in either form, where a
// writer whose cost grows with the square of the file takes some 16 times.
// The least of up to three writes of each counts, so that a busy machine
// does not decide.
TEST(CoordinateFiles, WriteCostGrowsWithTheModelNotItsSquare) {
  const model_testing::Scratch scratch;
  const MiniMol source = read_model("wrk_7mm1.pdb");
  MMDBfile two, eight;
  for (const auto& [file, copies] : {std::pair{&two, 2}, {&eight, 8}}) {
    MiniMol tiled(source.spacegroup(), source.cell());
    for (int k = 0; k < copies; ++k)
      for (int p = 0; p < source.size(); ++p) {
        MPolymer chain = source[p];
        chain.transform(RTop_orth(Mat33<>::identity(), Vec3<>(100.0 * k, 0, 0)));
        chain.set_id(String(1, char('A' + k)));
        tiled.insert(chain, -1);
      }
    file->export_minimol(tiled);
  }
  for (const auto& [name, type] : std::vector<std::pair<String, MMDBManager::TYPE>>{
           {"tiled.pdb", MMDBManager::PDB}, {"tiled.cif", MMDBManager::CIF}}) {
    const auto cost = [&](MMDBfile& model, const double enough) {
      double least = std::numeric_limits<double>::infinity();
      for (int i = 0; i < 3 && least >= enough; ++i) {
        const std::clock_t start = std::clock();  // processor time
        model.write_file(scratch.path(name), type);
        least = std::min(least, double(std::clock() - start) / CLOCKS_PER_SEC);
      }
      return least;
    };
    const double small = cost(two, 0), large = cost(eight, 8 * small);
    EXPECT_LT(large, 8 * small) << name << ": " << small << " s for 5,586 atoms, " << large
                                << " s for 22,344 atoms";
  }
}
