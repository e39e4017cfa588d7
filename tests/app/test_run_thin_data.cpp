// End-to-end runs on damaged copies of the shipped entries: data too thin for
// the fits, column lists of the wrong width, models without atoms, chains or
// displacement parameters. Each run must stop with its message or go on
// with its warning, never give a verdict the data cannot carry.
#include <ccp4/cmtzlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <regex>

#include "app/run_testing.h"

using namespace run_testing;
using vantrel_testing::fixture_path;

namespace {

// Which rows of an MTZ copy keep their values: by row number and by the
// row's resolution rank (0 lowest resolution, towards 1 the highest).
typedef std::function<bool(int row, double rank)> Keep;

// A copy of an MTZ fixture in which the labelled columns are missing in every
// row that keep refuses. Returns the rows whose first labelled column is
// still present.
int thinned_copy(const std::string& fixture, const Args& labels, const Keep& keep,
                 const std::string& out) {
  CMtz::MTZ* mtz = CMtz::MtzGet(fixture_path(fixture).c_str(), 1);
  EXPECT_NE(mtz, nullptr) << fixture;
  const int n = CMtz::MtzNref(mtz);
  CMtz::MTZCOL* hkl[3] = {CMtz::MtzColLookup(mtz, "H"), CMtz::MtzColLookup(mtz, "K"),
                          CMtz::MtzColLookup(mtz, "L")};
  double coef[6];
  CMtz::MtzHklcoeffs(mtz->xtal[mtz->nxtal - 1]->cell, coef);
  std::vector<double> s(n);
  for (int i = 0; i < n; ++i) {
    const int index[3] = {int(hkl[0]->ref[i]), int(hkl[1]->ref[i]), int(hkl[2]->ref[i])};
    s[i] = CMtz::MtzInd2reso(index, coef);
  }
  std::vector<double> sorted(s);
  std::sort(sorted.begin(), sorted.end());
  int kept = 0;
  for (int i = 0; i < n; ++i) {
    const double rank =
        double(std::lower_bound(sorted.begin(), sorted.end(), s[i]) - sorted.begin()) / n;
    const bool keep_row = keep(i, rank);
    for (size_t c = 0; c < labels.size(); ++c) {
      CMtz::MTZCOL* col = CMtz::MtzColLookup(mtz, labels[c].c_str());
      EXPECT_NE(col, nullptr) << labels[c];
      if (!keep_row) col->ref[i] = std::numeric_limits<float>::quiet_NaN();
      if (c == 0 && keep_row && !std::isnan(col->ref[i])) ++kept;
    }
  }
  CMtz::MtzPut(mtz, out.c_str());
  CMtz::MtzFree(mtz);
  return kept;
}

// A copy of a PDB fixture with every line passed through edit; lines for
// which edit returns false are dropped.
std::string edited_copy(const std::string& fixture, const std::string& out,
                        const std::function<bool(std::string&)>& edit) {
  std::ifstream in(fixture_path(fixture));
  std::ofstream o(out);
  for (std::string line; std::getline(in, line);)
    if (edit(line)) o << line << '\n';
  return out;
}

bool is_atom(const std::string& line) {
  return line.compare(0, 6, "ATOM  ") == 0 || line.compare(0, 6, "HETATM") == 0;
}

// Atom, ANISOU and TER records: those that carry a residue name.
bool names_residue(const std::string& line) {
  return (is_atom(line) || line.compare(0, 6, "ANISOU") == 0 || line.compare(0, 3, "TER") == 0) &&
         line.size() > 20;
}

const Args fo = {"FP", "SIGFP"}, hl_columns = {"HLA", "HLB", "HLC", "HLD"};

Keep first_rows(const int count) {
  return [count](int row, double) { return row < count; };
}

}  // namespace

TEST(RunThinData, TooFewObservationsStop) {
  // Rows kept are the first of the file, so the few that stay have their
  // amplitude (and HL) present in these fixtures.
  struct Case {
    std::string fixture;  // the damaged MTZ
    Args columns;
    int rows;  // rows kept
    Args road;
    std::string what;  // the observations named in the message
  };
  const std::string needed =
      ", at least 100 needed (one in each resolution bin of the"
      " reference-data simulation)\n";
  const std::vector<Case> cases = {
      {"wrk_7mm1.mtz", fo, 1, calculated, "observed work amplitudes"},
      {"wrk_7mm1.mtz", fo, 10, omit, "observed work amplitudes"},
      {"wrk_7mm1.mtz", fo, 110, omit, "observed work amplitudes"},
      {"wrk_7mm1.mtz", fo, 10, given, "observed work amplitudes with phases"},
      {"wrk_7mm1.mtz", hl_columns, 10, given, "observed work amplitudes with phases"},
      {"ref_1rx2.mtz", fo, 10, omit, "observed reference amplitudes with phases"},
      {"ref_1rx2.mtz", hl_columns, 10, given, "observed reference amplitudes with phases"},
  };
  for (const Case& c : cases) {
    const std::string copy = "./thin_" + c.fixture;
    const int kept = thinned_copy(c.fixture, c.columns, first_rows(c.rows), copy);
    EXPECT_GT(kept, 0);
    EXPECT_LE(kept, std::min(c.rows, 99));
    const std::string message = "quelvarn: " + c.what + ": " + std::to_string(kept) + needed;
    Args args = c.fixture == "wrk_7mm1.mtz" ? against_1rx2(copy, "wrk_7mm1.pdb", c.road)
                                            : against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", c.road);
    if (c.fixture == "ref_1rx2.mtz") {
      args[1] = copy;
      args.insert(args.end(), {"-colin-ref-fo", "/*/*/[FP,SIGFP]", "-colin-ref-hl", hl});
    }
    const Result r = quelvarn(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.messages, message);
    EXPECT_FALSE(r.says("CHAIN"));
    std::remove(copy.c_str());
  }
}

TEST(RunThinData, EmptyResolutionRangesAndCompleteness) {
  // Amplitudes only in the lower-resolution 60% of the rows: the calculated
  // road has no observation in the top ranges of the bulk-solvent scale
  // fit; the given road fits nothing over the whole list and goes on.
  thinned_copy(
      "wrk_7mm1.mtz", fo, [](int, double rank) { return rank < 0.6; }, "./thin_low.mtz");
  const Result low = quelvarn(against_1rx2("./thin_low.mtz", "wrk_7mm1.pdb", omit));
  EXPECT_EQ(low.status, 2);
  EXPECT_TRUE(std::regex_match(
      low.messages, std::regex("quelvarn: observed work amplitudes: none in resolution "
                               "bin (8|9|1[0-2]) of 12 of the bulk-solvent scale fit\n")))
      << low.messages;
  const Result low_given = quelvarn(against_1rx2("./thin_low.mtz", "wrk_7mm1.pdb", given));
  EXPECT_EQ(low_given.status, 0) << low_given.messages;
  EXPECT_TRUE(low_given.says("CHAIN: A"));
  // Experimental phases to a lower resolution than the amplitudes are usual:
  // the run goes on with them.
  thinned_copy(
      "wrk_7mm1.mtz", hl_columns, [](int, double rank) { return rank < 0.5; }, "./thin_low.mtz");
  const Result low_phases = quelvarn(against_1rx2("./thin_low.mtz", "wrk_7mm1.pdb", given));
  EXPECT_EQ(low_phases.status, 0) << low_phases.messages;
  EXPECT_TRUE(low_phases.says("CHAIN: A"));
  std::remove("./thin_low.mtz");

  // Two rows in five kept, spread over all resolutions: the runs go on with
  // the completeness stated, observed amplitudes over the list's reflections.
  const int kept = thinned_copy(
      "wrk_7mm1.mtz", fo, [](int row, double) { return row % 5 < 2; }, "./thin.mtz");
  const std::regex warning(
      "\nWARNING: the work data are ([0-9.]+)% complete to [0-9.]+ A \\(([0-9]+) observed work "
      "amplitudes of ([0-9]+) reflections\\); the verdicts rest on fewer data.\n");
  for (const Args& road : {calculated, omit}) {
    const Result r = quelvarn(against_1rx2("./thin.mtz", "wrk_7mm1.pdb", road));
    EXPECT_EQ(r.status, 0) << r.messages;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m, warning)) << r.out;
    EXPECT_EQ(std::stoi(m[2]), kept);
    EXPECT_NEAR(std::stod(m[1]), 100.0 * kept / std::stoi(m[3]), 0.05);
    EXPECT_LT(std::stod(m[1]), 50.0);
    EXPECT_GT(std::stoi(m[3]), 30000);
    EXPECT_TRUE(r.says("CHAIN: A"));
  }
  std::remove("./thin.mtz");
  // Complete data give no such line.
  EXPECT_FALSE(quelvarn(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", given)).says("WARNING"));
}

TEST(RunThinData, BracketListsMustFitTheirData) {
  // Usage errors at option reading, before any file is opened.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-colin-wrk-fo", "/*/*/[FP]"},
      {"-colin-wrk-fo", "/*/*/[FP,SIGFP,FC]"},
      {"-colin-wrk-fo", "/*/*/[FP,]"},
      {"-colin-wrk-fo", "/*/*/[FP,SIGFP"},
      {"-colin-ref-fo", "/*/*/[FP]"},
      {"-colin-ref-hl", "/*/*/[HLA,HLB,HLC]"},
      {"-colin-wrk-hl", "/*/*/[HLA,HLB,HLC,HLD,FP]"},
      {"-colin-wrk-hl", "/x/y/[,HLB,HLC,HLD]"},
  };
  for (const auto& c : cases) {
    Args args = against_1rx2("no_such.mtz", "no_such.pdb", {c.first, c.second});
    const Result r = quelvarn(args);
    EXPECT_EQ(r.status, 1) << c.second;
    const int columns = c.first.find("-hl") != std::string::npos ? 4 : 2;
    EXPECT_TRUE(r.says("\nInvalid value:\t" + c.first + " " + c.second + " (a bracket list names " +
                       std::to_string(columns) + " columns here)\n"))
        << r.out;
    EXPECT_TRUE(r.says("Usage: quelvarn"));
    EXPECT_EQ(r.messages, "");
  }
}

TEST(RunThinData, ModelsWithoutAtomsOrChains) {
  const std::string end = "./thin_end.pdb";
  std::ofstream(end) << "END\n";
  // Record names holding a tab: MMDB reads no atom from them.
  const std::string tabbed = edited_copy("sm_1dur.pdb", "./thin_tab.pdb", [](std::string& l) {
    if (is_atom(l)) l.replace(4, 1, "\t");
    return true;
  });
  const std::string unk = edited_copy("wrk_7mm1.pdb", "./thin_unk.pdb", [](std::string& l) {
    if (names_residue(l)) l.replace(17, 3, "UNK");
    return true;
  });
  // The amino acids are the ATOM records (with their ANISOU records).
  const std::string ligands = edited_copy("wrk_7mm1.pdb", "./thin_lig.pdb", [](std::string& l) {
    return !(l.compare(0, 6, "ATOM  ") == 0 ||
             (l.compare(0, 6, "ANISOU") == 0 && l.substr(17, 3) != "HOH" &&
              l.substr(17, 3) != "OTA" && l.substr(17, 3) != "TRS"));
  });
  const std::string ref_unk = edited_copy("ref_1rx2.pdb", "./thin_ref_unk.pdb", [](std::string& l) {
    if (names_residue(l)) l.replace(17, 3, "UNK");
    return true;
  });

  struct Case {
    std::string ref_pdb, wrk_pdb;
    Args road;
    int status;
    std::string text;  // the whole of the messages, or a line of the report
  };
  const std::string no_chain =
      "\nWARNING: no chain of the work model holds two amino-acid residues; no chain is scored.\n";
  const std::vector<Case> cases = {
      {"ref_1rx2.pdb", end, omit, 2, "quelvarn: no atoms in coordinate file " + end + "\n"},
      {"ref_1rx2.pdb", tabbed, given, 2, "quelvarn: no atoms in coordinate file " + tabbed + "\n"},
      {end, "wrk_7mm1.pdb", given, 2, "quelvarn: no atoms in coordinate file " + end + "\n"},
      {ref_unk, "wrk_7mm1.pdb", omit, 2,
       "quelvarn: no residue of the reference model can train a density target (an amino acid"
       " with N, CA and C, bonded to both neighbours): " +
           ref_unk + "\n"},
      {"ref_1rx2.pdb", unk, calculated, 0, no_chain},
      {"ref_1rx2.pdb", ligands, given, 0, no_chain},
  };
  for (const Case& c : cases) {
    Args args = against_1rx2("wrk_7mm1.mtz", c.wrk_pdb, c.road,
                             {"-mtzout-wrk", "thin_out.mtz", "-pdbout-wrk", "thin_out.pdb"});
    if (c.ref_pdb != "ref_1rx2.pdb") args[3] = c.ref_pdb;
    const Result r = quelvarn(args);
    EXPECT_EQ(r.status, c.status) << c.text << r.messages;
    if (c.status == 2) {
      EXPECT_EQ(r.messages, c.text);
      EXPECT_FALSE(std::ifstream("thin_out.mtz").good());
      EXPECT_FALSE(std::ifstream("thin_out.pdb").good());
    } else {
      EXPECT_TRUE(r.says(c.text)) << r.out;
      EXPECT_FALSE(r.says("CHAIN:"));
    }
    std::remove("thin_out.mtz");
    std::remove("thin_out.pdb");
  }
  // A file whose only model is numbered 2 is read as that model.
  const std::string model2 = "./thin_model2.pdb";
  {
    std::ifstream in(fixture_path("sm_1dur.pdb"));
    std::ofstream out(model2);
    bool opened = false;
    for (std::string line; std::getline(in, line);) {
      if (!opened && is_atom(line)) out << "MODEL        2\n";
      opened = opened || is_atom(line);
      if (line.compare(0, 3, "END") != 0) out << line << '\n';
    }
    out << "ENDMDL\nEND\n";
  }
  const Result second = quelvarn(against_1rx2("sm_1dur.mtz", model2, given));
  EXPECT_EQ(second.status, 0) << second.messages;
  EXPECT_TRUE(second.says("CHAIN: A\n")) << second.out;
  for (const std::string& f : {end, tabbed, unk, ligands, ref_unk, model2}) std::remove(f.c_str());
}

TEST(RunThinData, AtomsWithoutOccupancyOrB) {
  // ATOM lines cut after z: no occupancy and no B. All of them cut leaves
  // the calculated phases without atoms; every other one cut is counted.
  const std::string cut = edited_copy("sm_1dur.pdb", "./thin_cut.pdb", [](std::string& l) {
    if (is_atom(l)) l.resize(std::min<size_t>(l.size(), 54));
    return true;
  });
  int atoms = 0, cut_atoms = 0;
  const std::string half = edited_copy("sm_1dur.pdb", "./thin_half.pdb", [&](std::string& l) {
    if (is_atom(l) && atoms++ % 2 == 0) {
      l.resize(54);
      ++cut_atoms;
    }
    return true;
  });
  auto run = [](const std::string& pdb, const Args& road) {
    return quelvarn(against_1rx2("sm_1dur.mtz", pdb, road));
  };
  for (const Args& road : {calculated, omit}) {
    const Result r = run(cut, road);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.messages,
              "quelvarn: no atom of the work model is left for the structure-factor calculation"
              " (each needs an occupancy and a B value): " +
                  cut + "\n");
  }
  const Result r = run(half, calculated);
  EXPECT_EQ(r.status, 0) << r.messages;
  EXPECT_TRUE(r.says("\nWARNING: " + std::to_string(cut_atoms) + " of " + std::to_string(atoms) +
                     " atoms of the work model have no occupancy or B value and are left out of"
                     " the structure-factor calculation.\n"))
      << r.out;
  EXPECT_GT(cut_atoms, 200);
  // Given phases do not use the atoms for phasing.
  EXPECT_EQ(run(cut, given).status, 0);
  std::remove(cut.c_str());
  std::remove(half.c_str());
}

#ifdef QUELVARN_EXE
TEST(RunThinData, ExecutableStatuses) {
  thinned_copy("wrk_7mm1.mtz", fo, first_rows(10), "./thin_exe.mtz");
  const Result thin = quelvarn_exe(against_1rx2("./thin_exe.mtz", "wrk_7mm1.pdb", calculated));
  EXPECT_EQ(thin.status, 2);
  EXPECT_NE(thin.out.find("\nquelvarn: observed work amplitudes: 10, at least 100 needed"),
            std::string::npos)
      << thin.out;
  std::remove("./thin_exe.mtz");
  const Result narrow =
      quelvarn_exe(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", {"-colin-wrk-fo", "/*/*/[FP]"}));
  EXPECT_EQ(narrow.status, 1);
  EXPECT_NE(narrow.out.find("\nInvalid value:\t-colin-wrk-fo /*/*/[FP]"), std::string::npos);
}
#endif
