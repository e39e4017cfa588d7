// Damaged and unusual coordinate files through the built program: a refused
// file ends the run with status 2 and one message line, never a signal or a
// hang, and leaves no output (nor a temporary) behind.
#include <sys/stat.h>

#include "app/run_testing.h"
#include "model/damaged_files.h"

#ifdef QUELVARN_EXE

using namespace run_testing;
using vantrel_testing::fixture_path;
using vantrel_testing::lines_with;
using vantrel_testing::Scratch_dir;

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
  // Work model, extra arguments, and the message after "MMDBfile: ".
  const std::vector<std::tuple<std::string, Args, std::string>> cases = {
      {dir.write("long.pdb", pdb_with_atom("sm_1dur.pdb", 5,
                                           [](std::string& l) { l += std::string(5000, 'X'); })),
       {},
       "read_file error: " + dir.file("long.pdb") +
           " : line 400: a line of 5080 characters, longer than the reader takes (4095)"},
      {dir.write("nan.pdb", pdb_with_atom("sm_1dur.pdb", 5,
                                          [](std::string& l) { l.replace(30, 8, "     nan"); })),
       {},
       "read_file error: " + dir.file("nan.pdb") +
           " : atom 6 /1/A/2(TYR)/N[N]: a number that is not finite"},
      {dir.write(
           "anisou.pdb",
           "ANISOU    1  N   ALA A   1     2406   1892   1614    198    519   -328       N\n"),
       {},
       "read_file error: " + dir.file("anisou.pdb") +
           " : line 1: ANISOU record without an atom record before it"},
      {dir.write("long_names.cif", long_names),
       {},
       "read_file error: " + dir.file("long_names.cif") +
           " : _atom_site.label_comp_id: the residue name \"" + std::string(19, 'X') +
           "\" is longer than 18 characters"},
      {dir.write("tab.pdb", "ATOM\t 1  N   ALA A   1      17.047  14.099   3.625  1.00 13.79\n"),
       {},
       "read_file error: " + dir.file("tab.pdb") + " :   20 (Attempt to read unknown-type file)"},
      {dir.write("four_chars.cif", damaged_files::cif_with_rows("sm_1dur.cif", 21,
                                                                [](std::vector<std::string>& w) {
                                                                  w[18] = w[0] == "ATOM" ? "ABC1"
                                                                                         : "ABC2";
                                                                })),
       {"-pdbout-wrk", dir.file("out.pdb")},
       "write_file error: " + dir.file("out.pdb") +
           " : the chain id \"ABC1\" is longer than 2 characters, more than the PDB form holds"}};
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
    EXPECT_NE(r.out.find("\nMMDBfile: " + message + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(lines_with(r.out, "MMDBfile: "), 1);
    EXPECT_EQ(dir.entries(), inputs);
  }
  // A special file as output is refused by the program's check of its
  // options, before any input is read.
  const Result r =
      quelvarn_exe(against_1rx2("sm_1dur.mtz", "sm_1dur.pdb", calculated, {"-pdbout-wrk", fifo}));
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("\nOutput is not a regular file:\t-pdbout-wrk " + fifo + "\n"),
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

#endif
