#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/quelvarn.h"
#include "support/testing.h"

namespace {

const std::string notice =
    "quelvarn checks the sequence assigned to each chain of a protein model\n"
    "against X-ray data, using density targets learned from a reference structure.\n";

// An argument vector over owned strings; argument 0 is the program path.
struct Args {
  explicit Args(std::vector<std::string> a) : text(std::move(a)) {
    text.insert(text.begin(), "quelvarn");
    for (std::string& s : text) pointers.push_back(&s[0]);
  }
  int argc() { return int(pointers.size()); }
  char** argv() { return pointers.data(); }
  std::vector<std::string> text;
  std::vector<char*> pointers;
};

// The usage text, byte for byte.
const std::string usage =
    "\n"
    "Usage: quelvarn\n"
    "\t-mtzin-ref <filename>\t\tCOMPULSORY\n"
    "\t-pdbin-ref <filename>\t\tCOMPULSORY\n"
    "\t-mtzin-wrk <filename>\t\tCOMPULSORY\n"
    "\t-pdbin-wrk <filename>\t\tCOMPULSORY\n"
    "\t-mtzout-wrk <filename>\n"
    "\t-pdbout-wrk <filename>\n"
    "\t-colin-ref-fo <colpath>\n"
    "\t-colin-ref-hl <colpath>\n"
    "\t-colin-wrk-fo <colpath>\t\tCOMPULSORY\n"
    "\t-colin-wrk-hl <colpath>\n"
    "\t-resolution <resolution/A>\n"
    "\t-side-chain-likelihood-radius <radius/A>\n"
    "\t-side-chain-omit\n"
    "\t-correlation-mode\n"
    "Validate sequence against structure factors.\n"
    "An input pdb and mtz are required for the reference structure, and \n"
    "an input mtz file for the work structure.\n"
    "Experimental phases are used if provided, otherwise phases are calculated\n"
    "from the model omitting the side chains.\n";

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

const std::vector<std::string> compulsory = {
    "-mtzin-ref", "r.mtz",      "-pdbin-ref", "r.pdb",         "-mtzin-wrk",
    "w.mtz",      "-pdbin-wrk", "w.pdb",      "-colin-wrk-fo", "/*/*/[FP,SIGFP]"};

std::vector<std::string> with_compulsory(std::vector<std::string> extra) {
  extra.insert(extra.begin(), compulsory.begin(), compulsory.end());
  return extra;
}

// The command run in-process on arguments and standard input, recording the
// parameters the run receives.
struct Command {
  Command(std::vector<std::string> arguments, const std::string& input = "",
          Quelvarn_run run = nullptr) {
    Args args(std::move(arguments));
    std::istringstream in(input);
    if (!run)
      run = [this](const Run_parameters& p, std::ostream& o) {
        params = p;
        ran = true;
        o << "run\n";
      };
    status = quelvarn_main(args.argc(), args.argv(), in, out, err, run);
  }
  int status;
  bool ran = false;
  Run_parameters params;
  std::ostringstream out, err;
};

std::vector<std::string> tokens(std::vector<std::string> arguments, const std::string& input,
                                std::string* echo = nullptr) {
  Args args(std::move(arguments));
  std::istringstream in(input);
  std::ostringstream out;
  CCP4CommandInput t(args.argc(), args.argv(), true, in, out);
  if (echo) *echo = out.str();
  return std::vector<std::string>(t.begin() + 1, t.end());
}

}  // namespace

TEST(CommandInput, TokensAndEcho) {
  std::string echo;
  EXPECT_EQ(
      tokens({"-mtzin-ref", "ref.mtz", "--resolution", "-2", "--", "-side-chain-omit"}, "", &echo),
      (std::vector<std::string>{"-mtzin-ref", "ref.mtz", "-resolution", "-2", "--",
                                "-side-chain-omit"}));
  EXPECT_EQ(echo, "\nmtzin-ref \tref.mtz\nresolution \t-2\n-\nside-chain-omit\n");
  tokens({}, "", &echo);
  EXPECT_EQ(echo, "\n");
}

TEST(CommandInput, KeywordLines) {
  const struct {
    std::string input;
    std::vector<std::string> tokens;
  } cases[] = {
      {"mtzin-ref ref.mtz\n# comment\n\n  \t\n  side-chain-omit\n",
       {"-mtzin-ref", "ref.mtz", "-side-chain-omit"}},
      {"  # word\n", {"-#", "word"}},
      {"title  my first run \n", {"-title", "my first run"}},
      {"\tcolin-wrk-fo\t/*/*/[FP,SIGFP]\t\n--x -y\nresolution -2",
       {"-colin-wrk-fo", "/*/*/[FP,SIGFP]", "--x", "-y", "-resolution", "-2"}},
      {"side-chain-omit\r\nmtzin-wrk w.mtz\r\ntitle \r\n",
       {"-side-chain-omit", "-mtzin-wrk", "w.mtz", "-title"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(tokens({"-a", "-stdin", "-b", "-stdin"}, c.input), [&] {
      std::vector<std::string> t = c.tokens;
      t.insert(t.begin(), "-a");
      t.push_back("-b");
      return t;
    }()) << c.input;
}

TEST(Frame, UsageGoldenAndExitStatus) {
  const Command none({});
  EXPECT_EQ(none.status, 1);
  EXPECT_FALSE(none.ran);
  EXPECT_EQ(none.out.str(), notice + "\n" + usage);

  const Command unknown({"-mtzin-ref", "r.mtz", "-resolutoin", "2"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out.str(), notice + "\nmtzin-ref \tr.mtz\nresolutoin \t2\n" +
                                   "\nUnrecognized:\t-resolutoin\n" + usage);
}

TEST(Frame, OptionsAndTheirChecks) {
  const Command good(with_compulsory({"-resolution", "2.5", "-resolution", "3", "-title",
                                      "-resolution", "-verbose", "7", "-side-chain-omit"}),
                     "side-chain-likelihood-radius 4.5\ncorrelation-mode\n");
  EXPECT_EQ(good.status, 0);
  ASSERT_TRUE(good.ran);
  EXPECT_EQ(good.params.resolution, 3.0);
  EXPECT_EQ(good.params.title, "-resolution");
  EXPECT_EQ(good.params.side_chain_radius, 5.5);  // no -stdin given
  EXPECT_TRUE(good.params.side_chain_omit);
  EXPECT_EQ(good.params.colin_wrk_fo, "/*/*/[FP,SIGFP]");
  EXPECT_EQ(good.params.colin_wrk_hl, "NONE");
  EXPECT_TRUE(ends_with(good.out.str(), "\nside-chain-omit\nrun\n\n")) << good.out.str();

  const Command stdin_run({"-stdin"},
                          "mtzin-ref r.mtz\npdbin-ref r.pdb\nmtzin-wrk w.mtz\n"
                          "pdbin-wrk w.pdb\ncolin-wrk-fo /a/b/F\n"
                          "side-chain-likelihood-radius 4.5\ncorrelation-mode");
  EXPECT_EQ(stdin_run.status, 0);
  EXPECT_EQ(stdin_run.params.side_chain_radius, 4.5);
  EXPECT_TRUE(stdin_run.params.correlation_mode);

  { std::ofstream("frame_test_input.mtz") << "x"; }
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } bad[] = {
      {with_compulsory({"--"}), "Unrecognized:\t--"},
      {with_compulsory({"-resolution"}), "Missing value:\t-resolution"},
      {with_compulsory({"-resolution", "2A"}), "Invalid value:\t-resolution 2A"},
      {with_compulsory({"-side-chain-likelihood-radius", "0"}),
       "Invalid value:\t-side-chain-likelihood-radius 0"},
      {with_compulsory({"-side-chain-likelihood-radius", "nan"}),
       "Invalid value:\t-side-chain-likelihood-radius nan"},
      {{"-mtzin-ref", "r.mtz", "-pdbin-ref", "r.pdb", "-mtzin-wrk", "w.mtz", "-pdbin-wrk", "w.pdb"},
       "Missing compulsory option:\t-colin-wrk-fo"},
      {with_compulsory({"-colin-ref-hl", "/*/FC"}), "Invalid column path:\t-colin-ref-hl /*/FC"},
      {with_compulsory({"-colin-wrk-hl", "/a//HL"}), "Invalid column path:\t-colin-wrk-hl /a//HL"},
      {with_compulsory({"-colin-ref-fo", "/a/b/c/"}),
       "Invalid column path:\t-colin-ref-fo /a/b/c/"},
      {with_compulsory({"-mtzout-wrk", "w.mtz"}),
       "Output would overwrite an input file:\t-mtzout-wrk w.mtz"},
      {{"-mtzin-ref", "frame_test_input.mtz", "-pdbin-ref", "r.pdb", "-mtzin-wrk", "w.mtz",
        "-pdbin-wrk", "w.pdb", "-colin-wrk-fo", "/*/*/F", "-pdbout-wrk", "./frame_test_input.mtz"},
       "Output would overwrite an input file:\t-pdbout-wrk ./frame_test_input.mtz"},
      {with_compulsory({"-mtzout-wrk", "o", "-pdbout-wrk", "o"}),
       "Outputs name the same file:\t-pdbout-wrk o"},
  };
  for (const auto& c : bad) {
    const Command command(c.args);
    EXPECT_EQ(command.status, 1) << c.reason;
    EXPECT_FALSE(command.ran);
    EXPECT_TRUE(ends_with(command.out.str(), "\n" + c.reason + "\n" + usage)) << c.reason;
  }
  std::remove("frame_test_input.mtz");
}

TEST(Frame, FailuresEndWithStatus2) {
  vantrel_testing::Quiet_messages quiet;
  const Command fatal(with_compulsory({}), "", [](const Run_parameters&, std::ostream& o) {
    o << "partial\n";
    vantrel::fatal("CCP4MTZfile: open_read - File missing or corrupted: r.mtz");
  });
  EXPECT_EQ(fatal.status, 2);
  EXPECT_EQ(quiet.text(), "CCP4MTZfile: open_read - File missing or corrupted: r.mtz\n");
  EXPECT_TRUE(ends_with(fatal.out.str(), "\npartial\n"));  // no closing newline
  const Command thrown(with_compulsory({}), "",
                       [](const Run_parameters&, std::ostream&) { throw std::bad_alloc(); });
  EXPECT_EQ(thrown.status, 2);
  EXPECT_EQ(thrown.err.str(), "quelvarn: std::bad_alloc\n");
}
