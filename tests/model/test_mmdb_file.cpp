#include <cstdio>

#include <mmdb2/mmdb_mmcif_.h>

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

bool is_cif(const String& path) {
  const std::string text = model_testing::slurp(path);
  return text.compare(text.find_first_not_of('\n'), 5, "data_") == 0;
}

// The _atom_site rows of an mmCIF file: the values of the tags, each with
// a blank after it; a missing value (".", "?") reads as ".".
std::vector<std::string> atom_rows(const String& path, const std::vector<const char*>& tags) {
  mmdb::mmcif::Data cif;
  EXPECT_EQ(cif.ReadMMCIFData(path.c_str()), 0) << path;
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site");
  std::vector<std::string> rows(loop ? loop->GetLoopLength() : 0);
  for (int r = 0, rc; r < int(rows.size()); ++r)
    for (const char* tag : tags) {
      const char* value = loop->GetString(tag, r, rc);
      rows[r] += std::string(value ? value : ".") + " ";
    }
  return rows;
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
// back equal, insertion codes and alternate locations included.
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
  const String missing = scratch.path("missing.pdb"), dir = scratch.path("");
  // The library's code with its own description, and what was found.
  const std::vector<std::pair<String, String>> reads = {
      {missing, "  15 (File can not be opened): no such file"},
      {dir, "  15 (File can not be opened): not a regular file"},
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
// 1DUR files do: SF4 and waters as HETATM, the model's own label ids (the
// chain id as chain label, residue positions 1 to 55 and none for the
// rest), and in PDB a TER after the polymer, which mmCIF holds as no row.
TEST(CoordinateFiles, WrittenRecordsAndLabelsAreTheModelsOwn) {
  const model_testing::Scratch scratch;
  const auto records = [](const String& path) {  // ATOM, HETATM, TER: name, atom, residue, chain
    std::vector<std::string> records;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
      if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0 || line.rfind("TER", 0) == 0)
        records.push_back(line.substr(0, 6) + line.substr(12, 15));
    return records;
  };
  const std::vector<const char*> tags = {"auth_asym_id",  "auth_seq_id",  "auth_atom_id",
                                         "label_alt_id",  "group_PDB",    "label_comp_id",
                                         "label_atom_id", "label_seq_id", "label_asym_id"};
  std::vector<std::string> deposited =
      atom_rows(vantrel_testing::fixture_path("sm_1dur.cif"), tags);
  for (std::string& row : deposited)  // the chain id as chain label
    row.replace(row.rfind(' ', row.size() - 2) + 1, std::string::npos,
                row.substr(0, row.find(' ') + 1));
  MMDBfile file;
  file.export_minimol(read_model("sm_1dur.pdb"));
  file.write_file(scratch.path("out.pdb"), MMDBManager::PDB);
  file.write_file(scratch.path("out.cif"), MMDBManager::CIF);
  EXPECT_EQ(records(scratch.path("out.pdb")),
            records(vantrel_testing::fixture_path("sm_1dur.pdb")));
  EXPECT_EQ(atom_rows(scratch.path("out.cif"), tags), deposited);
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
  std::vector<std::string> residues = atom_rows(
      scratch.path("variant.cif"), {"group_PDB", "label_comp_id", "label_seq_id", "label_asym_id"});
  residues.erase(std::unique(residues.begin(), residues.end()), residues.end());
  EXPECT_EQ(residues,
            (std::vector<std::string>{"ATOM LEU 1 Apoly ", "HETATM MSE 2 Apoly ",
                                      "ATOM HIS 3 Apoly ", "ATOM SER 4 Apoly ", "ATOM SER 5 Apoly ",
                                      "ATOM ASN 6 Apoly ", "HETATM HOH . Awat "}));
}
