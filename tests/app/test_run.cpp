// End-to-end runs on real data against the 1RX2 reference; checks that can
// share one run share it.
#include <ccp4/cmtzlib.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "app/run_testing.h"
#include "model/mmdb_file.h"

using namespace run_testing;
using vantrel_testing::fixture_path;
using vantrel_testing::in_child;
using vantrel_testing::read_bytes;
using vantrel_testing::Scratch_dir;

namespace {

// A copy of a PDB fixture whose chain-A residue names, residues first to
// last - 1 in file order, are rotated by shift places; atoms unchanged.
std::string renamed_copy(const std::string& pdb, int first, int last, int shift,
                         const std::string& out) {
  std::ifstream in(fixture_path(pdb));
  std::vector<std::string> lines, keys;
  std::map<std::string, std::string> names, renamed;
  for (std::string line; std::getline(in, line); lines.push_back(line))
    if (line.compare(0, 6, "ATOM  ") == 0 && line[21] == 'A' && !names.count(line.substr(22, 5))) {
      keys.push_back(line.substr(22, 5));
      names[keys.back()] = line.substr(17, 3);
    }
  EXPECT_GE(int(keys.size()), last);
  for (int i = first; i < last; ++i)
    renamed[keys[i]] = names[keys[first + (i - first + shift) % (last - first)]];
  std::ofstream o(out);
  for (std::string& line : lines) {
    const std::string record = line.substr(0, 6);
    if ((record == "ATOM  " || record == "HETATM" || record == "ANISOU" || record == "TER   ") &&
        line.size() > 27 && line[21] == 'A' && renamed.count(line.substr(22, 5)))
      line.replace(17, 3, renamed[line.substr(22, 5)]);
    o << line << '\n';
  }
  return out;
}

// "label type" of every column of an MTZ file, read by the CCP4 library.
Args mtz_columns(const std::string& file) {
  Args columns;
  CMtz::MTZ* mtz = CMtz::MtzGet(file.c_str(), 0);
  for (int x = 0; mtz && x < CMtz::MtzNxtal(mtz); ++x)
    for (int s = 0; s < CMtz::MtzNsetsInXtal(CMtz::MtzIxtal(mtz, x)); ++s) {
      CMtz::MTZSET* set = CMtz::MtzIsetInXtal(CMtz::MtzIxtal(mtz, x), s);
      for (int c = 0; c < CMtz::MtzNcolsInSet(set); ++c)
        columns.push_back(std::string(CMtz::MtzIcolInSet(set, c)->label) + " " +
                          CMtz::MtzIcolInSet(set, c)->type);
    }
  if (mtz) CMtz::MtzFree(mtz);
  return columns;
}

// Atom records: amino acids off the main chain, amino acids, others.
std::vector<int> atom_counts(const std::string& file) {
  std::ifstream in(file);
  std::vector<int> counts(3, 0);
  for (std::string l; std::getline(in, l);)
    if (l.compare(0, 6, "ATOM  ") == 0 || l.compare(0, 6, "HETATM") == 0) {
      const std::string type = l.substr(17, 3), name = l.substr(12, 4);
      const bool amino = type != "HOH" && type != "OTA" && type != "TRS";
      counts[0] += amino && name != " N  " && name != " CA " && name != " C  " && name != " O  ";
      counts[amino ? 1 : 2]++;
    }
  return counts;
}

}  // namespace

TEST(Run, CorrectModelsAndOutputFiles) {
  // 7MM1 on every road, reproducible; the side-chain-omit run writes both outputs.
  const Result first = quelvarn(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", given));
  EXPECT_EQ(first.status, 0) << first.messages;
  EXPECT_TRUE(first.says("CHAIN: A\nOriginal: MEMEKEFEQIDKSGSW"));
  EXPECT_TRUE(first.says(supports)) << first.out;
  EXPECT_EQ(quelvarn(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", given)).out, first.out);
  EXPECT_TRUE(quelvarn(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", calculated)).says(supports));
  EXPECT_TRUE(quelvarn(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", omit,
                                    {"-mtzout-wrk", "run_out.mtz", "-pdbout-wrk", "run_out.pdb"}))
                  .says(supports));

  // The input columns in order, then the six new ones in order (fixture by gemmi).
  std::ifstream fixture = vantrel_testing::open_fixture("run_wrk_7mm1_columns.txt");
  Args expected, old_columns, new_columns;
  for (std::string line; std::getline(fixture, line);)
    if (line[0] != '#') expected.push_back(line);
  ASSERT_EQ(expected.size(), 18u);
  for (const std::string& c : mtz_columns("run_out.mtz"))
    (c.compare(0, 9, "sideomit.") == 0 ? new_columns : old_columns).push_back(c);
  EXPECT_EQ(old_columns, Args(expected.begin(), expected.end() - 6));
  EXPECT_EQ(new_columns, Args(expected.end() - 6, expected.end()));
  // Amino acids keep their main chain only; other residues all their atoms.
  const std::vector<int> in = atom_counts(fixture_path("wrk_7mm1.pdb")),
                         out = atom_counts("run_out.pdb");
  EXPECT_GT(in[0], 1000);
  EXPECT_EQ(out[0], 0);
  EXPECT_GT(out[1], 4 * 298 - 10);
  EXPECT_EQ(out[2], in[2]);
  EXPECT_GT(in[2], 150);
  std::remove("run_out.mtz");
  std::remove("run_out.pdb");

  // 1DUR; without omission the whole model is written.
  EXPECT_TRUE(quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", omit)).says(supports));
  const Result whole = quelvarn(
      against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-pdbout-wrk", "run_out.pdb"}));
  EXPECT_TRUE(whole.says("supports the assigned sequence.")) << whole.out;
  EXPECT_EQ(atom_counts("run_out.pdb"), atom_counts(fixture_path("sm_1dur.pdb")));
  std::remove("run_out.pdb");
}

TEST(Run, WrongSequencesAreFlagged) {
  const std::string shifted = renamed_copy("wrk_7mm1.pdb", 0, 298, 5, "./run_shift_all.pdb");
  const std::string stretch = renamed_copy("wrk_7mm1.pdb", 40, 70, 1, "./run_shift_30.pdb");
  for (const Args& road : {given, omit}) {
    EXPECT_TRUE(quelvarn(against_1rx2("wrk_7mm1.mtz", shifted, road))
                    .says("tracing error or major sequence register error."));
    EXPECT_TRUE(
        quelvarn(against_1rx2("wrk_7mm1.mtz", stretch, road))
            .says("WARNING: The supplied data suggests a partial sequence register error."));
  }
  for (const Args& road : {given, calculated, omit}) {
    const Result r = quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur_scrambled.pdb", road));
    EXPECT_TRUE(r.says("CHAIN: A")) << r.messages;
    EXPECT_FALSE(r.says("supports the assigned sequence")) << r.out;
  }
  // Random phases: about 4 sets in 10 still pass 0.95, so the verdict is
  // pinned for the committed set only; no set ever supports.
  const Result noise = quelvarn(against_1rx2("sm_1dur_random_hl.mtz", "sm_1dur.pdb", given));
  EXPECT_TRUE(noise.says("The data is insufficient to either confirm or deny the sequence"));
  EXPECT_FALSE(noise.says("supports the assigned sequence")) << noise.out;
  std::remove(shifted.c_str());
  std::remove(stretch.c_str());
}

TEST(Run, WarningsAndFailures) {
  std::map<std::string, std::string> limit;
  std::ifstream fixture = vantrel_testing::open_fixture("run_resolutions.txt");
  for (std::string line; std::getline(fixture, line);)
    if (line[0] != '#') limit[line.substr(0, line.find(' '))] = line.substr(line.find(' ') + 1);
  ASSERT_EQ(limit.size(), 3u);
  // 1DUR as reference: coarser data, seven residue types missing.
  const Result swapped = quelvarn({"-mtzin-ref", fixture_path("sm_1dur.mtz"), "-pdbin-ref",
                                   fixture_path("sm_1dur.pdb"), "-colin-ref-fo", "/*/*/[FP,SIGFP]",
                                   "-colin-ref-hl", hl, "-mtzin-wrk", fixture_path("ref_1rx2.mtz"),
                                   "-pdbin-wrk", fixture_path("ref_1rx2.pdb"), "-colin-wrk-fo",
                                   "/*/*/[FP,SIGFP]", "-colin-wrk-hl", hl});
  EXPECT_EQ(swapped.status, 0);
  EXPECT_TRUE(
      swapped.says("\nWARNING: resolution of work structure truncated to reference:\n Ref: " +
                   limit["sm_1dur.mtz"] + " Wrk: " + limit["ref_1rx2.mtz"] + "\n"))
      << swapped.out;
  EXPECT_TRUE(
      swapped.says("\nWARNING: no training data in the reference model for residue types:"
                   " ARG HIS LEU MET PHE THR TRP\n"));

  const Result column =
      quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", {"-colin-wrk-hl", "/*/*/[A,B,C,D]"}));
  EXPECT_EQ(column.status, 2);
  EXPECT_NE(column.messages.find("Missing column"), std::string::npos) << column.messages;
  EXPECT_FALSE(column.says("CHAIN"));
  // No observed amplitude: no phases, no output file, no report.
  const Result unphased =
      quelvarn(against_1rx2("sm_1dur_no_fp.mtz", "sm_1dur.pdb", {"-mtzout-wrk", "run_no_fp.mtz"}));
  EXPECT_EQ(unphased.status, 2);
  EXPECT_EQ(unphased.messages.find("quelvarn: observed work amplitudes: 0, at least 100 needed"),
            0u)
      << unphased.messages;
  EXPECT_FALSE(unphased.says("CHAIN"));
  EXPECT_FALSE(std::ifstream("run_no_fp.mtz").good());
}

TEST(Run, OutputPathsAreCheckedFirst) {
  // Every output path is checked before any input is read (the inputs here
  // do not exist) and before anything is written: one line, status 2, that
  // says what became of the other output.
  std::ofstream("run_ro.pdb") << "kept\n";
  chmod("run_ro.pdb", 0444);
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"-mtzout-wrk", "run_o.mtz", "-pdbout-wrk", "nodir/o.pdb"},
       "quelvarn: cannot write nodir/o.pdb: no such directory: nodir; run_o.mtz is not written\n"},
      {{"-mtzout-wrk", "nodir/o.mtz", "-pdbout-wrk", "run_o.pdb"},
       "quelvarn: cannot write nodir/o.mtz: no such directory: nodir; run_o.pdb is not written\n"},
      {{"-pdbout-wrk", "run_ro.pdb"}, "quelvarn: cannot write run_ro.pdb: "},
      {{"-pdbout-wrk", "/dev/null"}, "quelvarn: cannot write /dev/null: not a regular file\n"},
      {{"-mtzout-wrk", "."}, "quelvarn: cannot write .: not a regular file\n"},
  };
  for (const auto& c : cases) {
    const Result r = quelvarn(against_1rx2("./no_such.mtz", "./no_such.pdb", omit, c.first));
    EXPECT_EQ(r.status, 2) << c.second;
    EXPECT_EQ(r.messages.compare(0, c.second.size(), c.second), 0) << r.messages;
    EXPECT_EQ(std::count(r.messages.begin(), r.messages.end(), '\n'), 1) << r.messages;
    EXPECT_FALSE(std::ifstream("run_o.mtz").good());
    EXPECT_FALSE(std::ifstream("run_o.pdb").good());
  }
  std::ifstream kept("run_ro.pdb");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept\n");
  std::remove("run_ro.pdb");
  // With given phases nothing is written, so nothing is checked; a warning
  // before the report names what is not written.
  const Result given_road =
      quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", given,
                            {"-mtzout-wrk", "nodir/o.mtz", "-pdbout-wrk", "nodir/o.pdb"}));
  EXPECT_EQ(given_road.status, 0) << given_road.messages;
  const std::size_t warned = given_road.out.find(
      "\nWARNING: work phases are given (-colin-wrk-hl), so no output is written: -mtzout-wrk "
      "nodir/o.mtz -pdbout-wrk nodir/o.pdb\n");
  EXPECT_LT(warned, given_road.out.find("CHAIN")) << given_road.out;
}

// An output that cannot be written whole (past a file size limit, its
// signal at the default as a shell's ulimit leaves it) is an error in every
// form, named as given whatever its characters, with the cause; the old
// file stays, and nothing is left beside it. A name as long as a folder
// holds is written.
TEST(Run, OutputsThatCannotBeWrittenWhole) {
  using vantrel::MMDBManager;
  const Scratch_dir dir;
  vantrel::MMDBfile model;
  model.read_file(fixture_path("wrk_7mm1.pdb"));
  // Output, and its coordinate form (none: the MTZ output of a run).
  const std::vector<std::pair<std::string, int>> cases = {{"o.pdb", MMDBManager::PDB},
                                                          {"o.cif", MMDBManager::CIF},
                                                          {"o.bin", MMDBManager::BINARY},
                                                          {"o.pdb.gz", MMDBManager::PDB},
                                                          {"new\nline.mtz", -1}};
  for (const auto& [name, type] : cases) {
    const std::string out = dir.write(name, "old");
    const std::string seen = in_child([&] {
      signal(SIGXFSZ, SIG_DFL);
      const struct rlimit limited = {16384, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limited);
      if (type >= 0)
        return vantrel_testing::fatal_text([&] { model.write_file(out, MMDBManager::TYPE(type)); });
      const Result r =
          quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-mtzout-wrk", out}));
      return std::to_string(r.status) + " " + r.messages;
    });
    const std::string message =
        std::string(type >= 0 ? "MMDBfile: write_file error" : "2 quelvarn") + ": cannot write " +
        out + ": writing its new content in " + dir.path() +
        " failed: file too large; the file is left as it was";
    EXPECT_EQ(seen.compare(0, message.size(), message), 0) << seen;
    EXPECT_EQ(vantrel_testing::lines_with(seen, "cannot write "), 1) << seen;
    EXPECT_EQ(read_bytes(out), "old");
  }
  EXPECT_EQ(dir.entries(), (Args{"new\nline.mtz", "o.bin", "o.cif", "o.pdb", "o.pdb.gz"}));

  const std::string longest = dir.file(std::string(255, 'o'));
  const Result r =
      quelvarn(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-mtzout-wrk", longest}));
  EXPECT_EQ(r.status, 0) << r.messages;
  const Args columns = mtz_columns(longest);
  EXPECT_EQ(std::count_if(columns.begin(), columns.end(),
                          [](const std::string& c) { return c.compare(0, 9, "sideomit.") == 0; }),
            6);
}

// An output whose new content cannot be made where it would go (here a
// filesystem without a free inode for its folder) is refused before any
// input is read.
TEST(Run, OutputsThatCannotBeMadeAreRefusedFirst) {
  const Scratch_dir dir;
  const std::string full = dir.file("full"), out = full + "/out.mtz";
  ASSERT_EQ(mkdir(full.c_str(), 0755), 0);
  const std::string seen = vantrel_testing::in_mount_namespace([&] {
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "nr_inodes=2,size=1m") != 0)
      return std::string("no namespace");
    vantrel_testing::write_bytes(out, "old");  // the last inode
    const Result r =
        quelvarn(against_1rx2("./no_such.mtz", "./no_such.pdb", calculated, {"-mtzout-wrk", out}));
    return std::to_string(r.status) + " " + r.messages + read_bytes(out);
  });
  if (seen == "no namespace") GTEST_SKIP() << "no tmpfs mount here";
  EXPECT_EQ(seen, "2 quelvarn: cannot write " + out + ": no space left on device\nold");
}

#ifdef QUELVARN_EXE
// The built executable: statuses 1, 2 (no timing) and 0 (timing at the end).
TEST(Run, Executable) {
  std::string out;
  auto run = [&](const Args& args) {
    const Result r = quelvarn_exe(args);
    out = r.out;
    return r.status;
  };
  EXPECT_EQ(run({}), 1);
  EXPECT_LT(out.find(" ### CCP4"), out.find("quelvarn checks the sequence"));
  EXPECT_EQ(out.compare(out.size() - 41, 41, "from the model omitting the side chains.\n"), 0);
  EXPECT_EQ(out.find("Times:"), std::string::npos);
  EXPECT_EQ(run(against_1rx2("no_such.mtz", "sm_1dur.pdb", given)), 2);
  EXPECT_NE(out.find("\nCCP4MTZfile: open_read - File missing or corrupted: " +
                     fixture_path("no_such.mtz") + "\n"),
            std::string::npos);
  EXPECT_EQ(out.find("Times:"), std::string::npos);
  // 1DUR on given phases: supported, no MTZ written, and the one warning
  // says so.
  const Args unwritten =
      against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", given, {"-mtzout-wrk", "run_exe.mtz"});
  EXPECT_EQ(run(unwritten), 0);
  EXPECT_NE(out.find("supports the assigned sequence."), std::string::npos) << out;
  EXPECT_EQ(out.find("WARNING"), out.find("WARNING: work phases are given (-colin-wrk-hl), so no "
                                          "output is written: -mtzout-wrk run_exe.mtz\n"));
  EXPECT_EQ(vantrel_testing::lines_with(out, "WARNING"), 1);
  EXPECT_FALSE(std::ifstream("run_exe.mtz").good());
  EXPECT_NE(out.find(std::string(72, '-') + "\n\nTimes: User:"), std::string::npos) << out;
  // The program's warnings are part of the report on standard output, after a
  // blank line and before the chains; the class library's go to standard
  // error. The amplitudes read from a W column (FOM) draw a library warning.
  struct Streamed {
    Args args;
    std::string warning, messages;
  };
  const std::vector<Streamed> cases = {
      {unwritten,
       "\n\nWARNING: work phases are given (-colin-wrk-hl), so no output is written: "
       "-mtzout-wrk run_exe.mtz\n",
       ""},
      {{"-mtzin-ref", fixture_path("sm_1dur.mtz"), "-pdbin-ref", fixture_path("sm_1dur.pdb"),
        "-colin-ref-fo", "/*/*/[FP,SIGFP]", "-colin-ref-hl", hl, "-mtzin-wrk",
        fixture_path("ref_1rx2.mtz"), "-pdbin-wrk", fixture_path("ref_1rx2.pdb"), "-colin-wrk-fo",
        "/*/*/[FOM,SIGFP]", "-colin-wrk-hl", hl},
       "\n\nWARNING: resolution of work structure truncated to reference:\n Ref: ",
       "CCP4MTZfile: Mtz column type mismatch: FOM W-F\n"}};
  for (const Streamed& c : cases) {
    const Result report = quelvarn_exe(c.args, "", Streams::out);
    EXPECT_EQ(report.status, 0);
    EXPECT_LT(report.out.find(c.warning), report.out.find("\nCHAIN: A\n")) << report.out;
    EXPECT_EQ(report.out.find("CCP4MTZfile"), std::string::npos);
    const Result messages = quelvarn_exe(c.args, "", Streams::err);
    EXPECT_EQ(messages.out, c.messages);
  }
  // A report that standard output does not take (a full disk) fails the run.
  const Result full = quelvarn_exe(unwritten, "sh -c '\"$@\" >/dev/full' sh ", Streams::err);
  EXPECT_EQ(full.status, 2);
  EXPECT_EQ(full.out, "quelvarn: cannot write the report to standard output\n");
  // A bad output path fails before the other output is written.
  EXPECT_EQ(run(against_1rx2("wrk_7mm1.mtz", "wrk_7mm1.pdb", calculated,
                             {"-mtzout-wrk", "run_exe.mtz", "-pdbout-wrk", "nodir/o.pdb"})),
            2);
  EXPECT_NE(out.find("\nquelvarn: cannot write nodir/o.pdb: no such directory: nodir; "
                     "run_exe.mtz is not written\n"),
            std::string::npos)
      << out;
  EXPECT_FALSE(std::ifstream("run_exe.mtz").good());
}
#endif
