// Damaged and unusual coordinate files through the built program: a refused
// file ends the run with status 2 and one message line, never a signal or a
// hang, and leaves no output (nor a temporary) behind.
#include <sys/stat.h>

#include "app/run_testing.h"
#include "model/damaged_files.h"
#include "model/mmdb_file.h"

#ifdef QUELVARN_EXE

using namespace run_testing;
using vantrel_testing::fixture_path;
using vantrel_testing::lines_with;
using vantrel_testing::Scratch_dir;

namespace {

// A written model read back: the form the reader found, and the model.
std::pair<int, vantrel::MiniMol> written_model(const std::string& path) {
  vantrel::MMDBfile file;
  file.read_file(path);
  vantrel::MiniMol mol;
  file.import_minimol(mol, -1);
  return {file.GetFileType(), mol};
}

// Residues from..to of the first chain of a written model as the reader
// takes them: name and number, H for HETATM records (else A), T before a
// TER record, and from mmCIF the label_seq_id ("." for none).
std::string written_residues(const std::string& path, const int from, const int to) {
  vantrel::MMDBfile file;
  file.read_file(path);
  std::string text;
  for (int r = from; r <= to; ++r) {
    mmdb::Residue* residue = file.GetChain(1, 0)->GetResidue(r);
    const int n = residue->GetNumberOfAtoms(), label = residue->label_seq_id;
    text += residue->name + std::to_string(residue->seqNum) +
            (residue->GetAtom(0)->Het ? " H" : " A") + (residue->GetAtom(n - 1)->Ter ? " T" : "");
    if (file.GetFileType() == vantrel::MMDBManager::CIF)
      text += label == mmdb::MinInt4 ? " ." : " " + std::to_string(label);
    text += "|";
  }
  return text;
}

// The 1DUR mmCIF work model with the words of its atom rows changed where
// the row's atom id is atom (any, when 0): chain id, or atom name.
std::string edited_1dur_cif(const int atom, const int word, const std::string& value) {
  return damaged_files::cif_with_rows("sm_1dur.cif", 21, [&](std::vector<std::string>& w) {
    if (atom == 0 || w[1] == std::to_string(atom)) w[word] = w[word + 16] = value;
  });
}

}  // namespace

TEST(RunModelFiles, DamagedWorkModelsAreRefused) {
  const Scratch_dir dir;
  using damaged_files::pdb_with_atom;
  const std::string fifo = dir.file("fifo.pdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string long_names =
      damaged_files::cif_with_rows("sm_1dur.cif", 21, [](std::vector<std::string>& w) {
        w[5] = w[17] = std::string(19, 'X');
        w[9] = "IIIII";
      });
  // Work model, extra arguments, and the message line.
  const std::vector<std::tuple<std::string, Args, std::string>> cases = {
      {dir.write("long.pdb", pdb_with_atom("sm_1dur.pdb", 5,
                                           [](std::string& l) { l += std::string(5000, 'X'); })),
       {},
       "MMDBfile: read_file error: " + dir.file("long.pdb") +
           " : line 400: a line of 5080 characters, longer than the reader takes (4095)"},
      {dir.write("nan.pdb", pdb_with_atom("sm_1dur.pdb", 5,
                                          [](std::string& l) { l.replace(30, 8, "     nan"); })),
       {},
       "MMDBfile: read_file error: " + dir.file("nan.pdb") +
           " : atom 6 /1/A/2(TYR)/N[N]: a number that is not finite"},
      {dir.write(
           "anisou.pdb",
           "ANISOU    1  N   ALA A   1     2406   1892   1614    198    519   -328       N\n"),
       {},
       "MMDBfile: read_file error: " + dir.file("anisou.pdb") +
           " : line 1: ANISOU record without an atom record before it"},
      {dir.write("long_names.cif", long_names),
       {},
       "MMDBfile: read_file error: " + dir.file("long_names.cif") +
           " : _atom_site.label_comp_id: the residue name \"" + std::string(19, 'X') +
           "\" is longer than 18 characters"},
      {dir.write("tab.pdb", "ATOM\t 1  N   ALA A   1      17.047  14.099   3.625  1.00 13.79\n"),
       {},
       "MMDBfile: read_file error: " + dir.file("tab.pdb") +
           " :   20 (Attempt to read unknown-type file)"},
      {dir.write("four_chars.cif", damaged_files::cif_with_rows("sm_1dur.cif", 21,
                                                                [](std::vector<std::string>& w) {
                                                                  w[18] = w[0] == "ATOM" ? "ABC1"
                                                                                         : "ABC2";
                                                                })),
       {"-pdbout-wrk", dir.file("out.pdb")},
       "quelvarn: -pdbout-wrk " + dir.file("out.pdb") + ": the work model " +
           dir.file("four_chars.cif") +
           " does not fit the PDB form: the chain id \"ABC1\" is longer than 2 characters, more "
           "than the PDB form holds; a name ending in .cif or .mmcif writes mmCIF"},
      {dir.write("model_10000.cif",
                 damaged_files::cif_with_rows(
                     "sm_1dur.cif", 21, [](std::vector<std::string>& w) { w[20] = "10000"; })),
       {"-pdbout-wrk", dir.file("out.pdb")},
       "quelvarn: -pdbout-wrk " + dir.file("out.pdb") + ": the work model " +
           dir.file("model_10000.cif") +
           " does not fit the PDB form: the model number 10000 is outside 1 to 9999, which the "
           "PDB form holds; a name ending in .cif or .mmcif writes mmCIF"}};
  const std::vector<std::string> inputs = dir.entries();
  for (const auto& [model, more, message] : cases) {
    SCOPED_TRACE(message);
    // Both outputs are asked for; a refused run leaves neither.
    Args extra = more;
    if (more.empty())
      extra = {"-mtzout-wrk", dir.file("out.mtz"), "-pdbout-wrk", dir.file("out.pdb")};
    else
      extra.insert(extra.begin(), {"-mtzout-wrk", dir.file("out.mtz")});
    const Result r = quelvarn_exe(against_1rx2("sm_1dur.mtz", model, calculated, extra));
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("\n" + message + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(lines_with(r.out, message.substr(0, message.find(':') + 1)), 1);
    EXPECT_EQ(dir.entries(), inputs);
  }
  // A special file as output is refused as the run starts, before any
  // input is read.
  const Result r =
      quelvarn_exe(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-pdbout-wrk", fifo}));
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("\nquelvarn: cannot write " + fifo + ": not a regular file\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(dir.entries(), inputs);
}

// A short monoclinic group name reads as the full one, and a name no table
// knows leaves the model's group unknown (the run takes the data's): both
// runs give the same verdicts as on the shipped file.
TEST(RunModelFiles, GroupNamesOfOtherProgramsRun) {
  const Scratch_dir dir;
  const Result shipped = quelvarn_exe(against_1rx2("tiny_5e5z.mtz", "tiny_5e5z.pdb", calculated));
  ASSERT_EQ(shipped.status, 0) << shipped.out;
  const auto verdicts = [](const std::string& out) {
    return out.substr(out.find("CHAIN"), out.find("Times:") - out.find("CHAIN"));
  };
  for (const char* name : {"P 21", "P4(3)2(1)2"}) {
    const std::string model =
        dir.write("named.pdb", damaged_files::pdb_with_group("tiny_5e5z.pdb", name));
    const Result r = quelvarn_exe(against_1rx2("tiny_5e5z.mtz", model, calculated));
    EXPECT_EQ(r.status, 0) << name << "\n" << r.out;
    EXPECT_EQ(verdicts(r.out), verdicts(shipped.out)) << name;
  }
}

// A caller that ignores SIGCHLD and SIGALRM (bash's trap '' CHLD ALRM,
// which its commands inherit), or that starts the program with standard
// input and output, or input and error, closed (as some job runners do),
// does not change the verdict on an mmCIF work model: the run writes what
// it writes on the shipped file, and reports the same where it can.
TEST(RunModelFiles, IgnoredSignalsOfTheCallerDoNotMatter) {
  const Scratch_dir dir;
  const auto run = [&](const std::string& prefix) {
    return quelvarn_exe(against_1rx2("sm_1dur.mtz", "sm_1dur.cif", calculated,
                                     {"-pdbout-wrk", dir.file("out.pdb")}),
                        prefix);
  };
  const auto verdicts = [](const std::string& out) {
    const std::size_t from = out.find("CHAIN");
    return from == std::string::npos ? "" : out.substr(from, out.find("Times:") - from);
  };
  const Result plain = run("");
  ASSERT_EQ(plain.status, 0) << plain.out;
  const std::string written = vantrel_testing::read_bytes(dir.file("out.pdb"));
  ASSERT_FALSE(written.empty());
  // How the program is started, and whether its report can be seen then.
  const std::vector<std::pair<std::string, bool>> callers = {
      {"trap \"\" CHLD ALRM; exec \"$0\" \"$@\"", true},
      {"exec \"$0\" \"$@\" <&- >&-", false},
      {"exec \"$0\" \"$@\" <&- 2>&-", true}};
  for (const auto& [caller, seen] : callers) {
    SCOPED_TRACE(caller);
    std::remove(dir.file("out.pdb").c_str());
    const Result r = run("bash -c '" + caller + "' ");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(vantrel_testing::read_bytes(dir.file("out.pdb")) == written);
    if (seen)
      EXPECT_EQ(verdicts(r.out), verdicts(plain.out));
    else
      EXPECT_EQ(r.out, "");
  }
}

// The written model's form follows its name: .cif and .mmcif, in any case
// and before a .gz, give mmCIF, any other name PDB, whichever form the
// work model was read from; each holds every atom and the polymer, and a
// .gz name, in any case, gzip data, which reads back.
TEST(RunModelFiles, WrittenModelFormFollowsTheName) {
  const Scratch_dir dir;
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"sm_1dur.pdb", "out.cif", true},      {"sm_1dur.cif", "OUT.MMCIF", true},
      {"sm_1dur.cif", "out.cif.gz", true},   {"sm_1dur.cif", "out.pdb", false},
      {"sm_1dur.cif", "out.cif.ent", false}, {"sm_1dur.pdb", "out.pdb.gz", false},
      {"sm_1dur.cif", "O.PDB.GZ", false},    {"sm_1dur.pdb", "o.Cif.gZ", true}};
  for (const auto& [model, name, cif] : cases) {
    SCOPED_TRACE(model + " -> " + name);
    const std::string out = dir.file(name);
    const Result r =
        quelvarn_exe(against_1rx2("sm_1dur.mtz", model, calculated, {"-pdbout-wrk", out}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(written_model(out).second.atom_list().size(), 488u);
    EXPECT_EQ(written_residues(out, 54, 55), cif ? "ASP55 A 55|SF456 H .|" : "ASP55 A T|SF456 H|");
    const std::string end = name.substr(name.size() - 3);
    const bool gzip = end == ".gz" || end == ".GZ" || end == ".gZ";
    EXPECT_EQ(vantrel_testing::read_bytes(out).compare(0, 2, "\x1f\x8b") == 0, gzip);
  }
}

// A model the PDB form cannot hold (a chain id of 3 characters, an atom
// name of 5) is refused as soon as it is read when a PDB file is to be
// written: before the data checks, which -resolution 30 would fail; so is
// one mmCIF cannot hold (a chain id "#", which PDB holds). Under
// -side-chain-omit only the main chain of amino acids is written, and an
// mmCIF name keeps the long atom name.
TEST(RunModelFiles, WhatTheWrittenFormCannotHoldIsRefusedOnceRead) {
  const Scratch_dir dir;
  const std::string chain = dir.write("chain.cif", edited_1dur_cif(0, 2, "AAA"));
  const std::string atom = dir.write("atom.cif", edited_1dur_cif(10, 3, "CBXYZ"));
  std::vector<std::string> lines = damaged_files::lines_of("sm_1dur.pdb");
  for (std::string& line : lines)
    if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0 || line.rfind("TER", 0) == 0)
      line[21] = '#';
  const std::string hash = dir.write("hash.pdb", damaged_files::joined(lines));
  const std::string pdb = dir.file("out.pdb"), cif = dir.file("out.cif");
  const auto refusal = [&](const std::string& model, const std::string& fault) {
    return "quelvarn: -pdbout-wrk " + pdb + ": the work model " + model +
           " does not fit the PDB form: " + fault +
           ", more than the PDB form holds; a name "
           "ending in .cif or .mmcif writes mmCIF";
  };
  // Work model, extra arguments, and the refusal; none when the run writes.
  const std::vector<std::tuple<std::string, Args, std::string>> cases = {
      {chain,
       {"-pdbout-wrk", pdb, "-resolution", "30"},
       refusal(chain, "the chain id \"AAA\" is longer than 2 characters")},
      {atom,
       {"-pdbout-wrk", pdb, "-resolution", "30"},
       refusal(atom, "the atom name \"CBXYZ\" is longer than 4 characters")},
      {hash,
       {"-pdbout-wrk", cif, "-resolution", "30"},
       "quelvarn: -pdbout-wrk " + cif + ": the work model " + hash +
           " does not fit the mmCIF form: the chain id \"#\" starts with \"#\", which the mmCIF "
           "form cannot hold"},
      {atom, {"-pdbout-wrk", pdb, "-side-chain-omit"}, ""},
      {atom, {"-pdbout-wrk", cif}, ""}};
  for (const auto& [model, extra, message] : cases) {
    SCOPED_TRACE(extra[1] + " " + extra.back());
    const bool omitted = extra.back() == "-side-chain-omit";
    const Result r = quelvarn_exe(against_1rx2("sm_1dur.mtz", model, calculated, extra));
    if (!message.empty()) {
      EXPECT_EQ(r.status, 2) << r.out;
      EXPECT_NE(r.out.find("\n" + message + "\n"), std::string::npos) << r.out;
      EXPECT_EQ(lines_with(r.out, "quelvarn: "), 1) << r.out;
      EXPECT_EQ(dir.entries(), (std::vector<std::string>{"atom.cif", "chain.cif", "hash.pdb"}));
      continue;
    }
    ASSERT_EQ(r.status, 0) << r.out;
    const vantrel::MiniMol mol = written_model(extra[1]).second;
    const vantrel::MMonomer& tyr = mol[0][1];
    EXPECT_EQ(tyr.size(), omitted ? 4 : 12);
    EXPECT_EQ(tyr.lookup("CBXYZ", vantrel::MM::WHOLE_ID), omitted ? -1 : 4);
    std::remove(extra[1].c_str());
  }
}

// Free residues after the chain's TER record (an arginine as ATOM records,
// then a glycine as HETATM, bonded to nothing) are written as the source
// gives them, in both forms and whether side chains are omitted: HETATM
// records after the polymer's TER, and in mmCIF without a place in the
// polymer (gemmi reads them as ligands).
TEST(RunModelFiles, FreeResiduesStayFreeInWrittenModels) {
  const Scratch_dir dir;
  // The first 7 atoms of the source's lysine 15 and its glycine 12,
  // renamed and renumbered, moved 25 A along z, after the TER.
  std::vector<std::string> lines = damaged_files::lines_of("sm_1dur.pdb"), free[2];
  for (const std::string& line : lines) {
    const std::string residue = line.substr(0, 4) == "ATOM" ? line.substr(17, 9) : "";
    const bool glycine = residue == "GLY A  12", lysine = residue == "LYS A  15";
    if (!glycine && !(lysine && line.substr(12, 4) != " CE " && line.substr(12, 4) != " NZ "))
      continue;
    char z[16];
    std::snprintf(z, sizeof z, "%8.3f", std::stod(line.substr(46, 8)) + (glycine ? 25 : -25));
    free[glycine].push_back((glycine ? "HETATM" : "ATOM  ") + line.substr(6, 11) +
                            (glycine ? "GLY A1102" : "ARG A1101") + line.substr(26, 20) + z +
                            line.substr(54));
  }
  ASSERT_EQ(free[0].size() + free[1].size(), 11u);
  free[0].insert(free[0].end(), free[1].begin(), free[1].end());
  const auto ter = std::find_if(lines.begin(), lines.end(),
                                [](const std::string& l) { return l.substr(0, 3) == "TER"; });
  lines.insert(ter + 1, free[0].begin(), free[0].end());
  const std::string model = dir.write("free.pdb", damaged_files::joined(lines));
  for (const auto& [name, road] : std::vector<std::pair<std::string, Args>>{
           {"out.pdb", calculated}, {"out.cif", calculated}, {"omit.pdb", omit}}) {
    SCOPED_TRACE(name);
    const std::string out = dir.file(name);
    const Result r = quelvarn_exe(against_1rx2("sm_1dur.mtz", model, road, {"-pdbout-wrk", out}));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(written_residues(out, 54, 56), name == "out.cif"
                                                 ? "ASP55 A 55|ARG1101 H .|GLY1102 H .|"
                                                 : "ASP55 A T|ARG1101 H|GLY1102 H|");
  }
}

// The program writes its work model as the library labels a model made in
// memory: chains whose polymer holds residues wherever the file puts them,
// with ligands and waters before it or between its bonded residues, and
// peptides whose hand only their coordinates give. Each mmCIF output's
// atom rows and entities are those of the library's own write.
TEST(RunModelFiles, WrittenModelsAreLabelledAsTheLibraryLabelsThem) {
  const Scratch_dir dir;
  const auto from_atoms = [](const std::string& text) {
    const std::size_t at = text.find("_atom_site.");
    return at == std::string::npos ? std::string() : text.substr(at);
  };
  const auto entities = [](const std::string& text) {
    const std::size_t from = text.find("_entity."), to = text.find("_atom_site.");
    return from == std::string::npos ? std::string() : text.substr(from, to - from);
  };
  for (const char* source : {"label_inserts", "label_waters", "label_ahead", "label_hand"}) {
    SCOPED_TRACE(source);
    const std::string model = std::string(source) + ".pdb", out = dir.file("out.cif");
    const Result r =
        quelvarn_exe(against_1rx2("ref_1rx2.mtz", model, calculated, {"-pdbout-wrk", out}));
    ASSERT_EQ(r.status, 0) << r.out;
    vantrel::MMDBfile read, fresh;
    read.read_file(fixture_path(model));
    vantrel::MiniMol mol;
    read.import_minimol(mol, -1);
    fresh.export_minimol(mol);
    const std::string own = dir.file("own/out.cif");
    mkdir(dir.file("own").c_str(), 0755);
    fresh.write_file(own, vantrel::MMDBManager::CIF);
    const std::string written = vantrel_testing::read_bytes(out),
                      expected = vantrel_testing::read_bytes(own);
    ASSERT_FALSE(from_atoms(expected).empty());
    EXPECT_EQ(entities(written), entities(expected));
    EXPECT_EQ(from_atoms(written), from_atoms(expected));
  }
}

#endif
