// The program frame: tokens and their echo, keyword lines read after
// "-stdin", the usage text, option checks and exit statuses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/quelvarn.h"
#include "support/testing.h"

namespace {

const std::string notice =
    "quelvarn checks the sequence assigned to each chain of a protein model\n"
    "against X-ray data, using density targets learned from a reference structure.\n";

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

// An argument vector over the given strings, the program path put first.
std::vector<char*> argv_of(std::vector<std::string>& args) {
  args.insert(args.begin(), "quelvarn");
  std::vector<char*> argv;
  for (std::string& s : args) argv.push_back(&s[0]);
  return argv;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> with_compulsory(std::vector<std::string> extra) {
  extra.insert(extra.begin(), {"-mtzin-ref", "r.mtz", "-pdbin-ref", "r.pdb", "-mtzin-wrk", "w.mtz",
                               "-pdbin-wrk", "w.pdb", "-colin-wrk-fo", "/*/*/[FP,SIGFP]"});
  return extra;
}

// The command run in-process; by default the run records its parameters.
struct Command {
  Command(std::vector<std::string> args, const std::string& input = "",
          Quelvarn_run run = nullptr) {
    std::vector<char*> argv = argv_of(args);
    std::istringstream in(input);
    if (!run)
      run = [this](const Run_parameters& p, std::ostream& o) {
        params = p;
        ran = true;
        o << "run\n";
      };
    status = quelvarn_main(int(argv.size()), argv.data(), in, out, err, run);
  }
  int status;
  bool ran = false;
  Run_parameters params;
  std::ostringstream out, err;
};

// The tokens after the program path; echo receives their echo.
std::vector<std::string> tokens(std::vector<std::string> args, const std::string& input,
                                std::string* echo = nullptr) {
  std::vector<char*> argv = argv_of(args);
  std::istringstream in(input);
  std::ostringstream out;
  CCP4CommandInput t(int(argv.size()), argv.data(), true, in, out);
  if (echo) *echo = out.str();
  return std::vector<std::string>(t.begin() + 1, t.end());
}

}  // namespace

TEST(CommandInput, TokensEchoAndKeywordLines) {
  std::string echo;
  EXPECT_EQ(
      tokens({"-mtzin-ref", "ref.mtz", "--resolution", "-2", "--", "-side-chain-omit"}, "", &echo),
      (std::vector<std::string>{"-mtzin-ref", "ref.mtz", "-resolution", "-2", "--",
                                "-side-chain-omit"}));
  EXPECT_EQ(echo, "\nmtzin-ref \tref.mtz\nresolution \t-2\n-\nside-chain-omit\n");

  // Comments, blanks, values beginning with "-", a last line without a
  // newline, and CR line ends; the second "-stdin" finds nothing left.
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
  for (const auto& c : cases) {
    std::vector<std::string> expected = {"-a"};
    expected.insert(expected.end(), c.tokens.begin(), c.tokens.end());
    expected.push_back("-b");
    EXPECT_EQ(tokens({"-a", "-stdin", "-b", "-stdin"}, c.input), expected) << c.input;
  }
}

TEST(Frame, UsageGoldenAndExitStatuses) {
  const Command none({});
  EXPECT_EQ(none.status, 1);
  EXPECT_FALSE(none.ran);
  EXPECT_EQ(none.out.str(), notice + "\n" + usage);
  const Command unknown({"-mtzin-ref", "r.mtz", "-resolutoin", "2"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out.str(), notice + "\nmtzin-ref \tr.mtz\nresolutoin \t2\n" +
                                   "\nUnrecognized:\t-resolutoin\n" + usage);

  // Fatal messages and standard exceptions of the run: status 2, the
  // message on standard error, the report left without its closing newline.
  vantrel_testing::Quiet_messages quiet;
  const Command fatal(with_compulsory({}), "", [](const Run_parameters&, std::ostream& o) {
    o << "partial\n";
    vantrel::fatal("CCP4MTZfile: open_read - File missing or corrupted: r.mtz");
  });
  EXPECT_EQ(fatal.status, 2);
  EXPECT_EQ(quiet.text(), "CCP4MTZfile: open_read - File missing or corrupted: r.mtz\n");
  EXPECT_TRUE(ends_with(fatal.out.str(), "\npartial\n"));
  const Command thrown(with_compulsory({}), "",
                       [](const Run_parameters&, std::ostream&) { throw std::bad_alloc(); });
  EXPECT_EQ(thrown.status, 2);
  EXPECT_EQ(thrown.err.str(), "quelvarn: std::bad_alloc\n");
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
  EXPECT_TRUE(ends_with(good.out.str(), "\nside-chain-omit\nrun\n\n")) << good.out.str();
  const Command stdin_run({"-stdin"},
                          "mtzin-ref r.mtz\npdbin-ref r.pdb\nmtzin-wrk w.mtz\n"
                          "pdbin-wrk w.pdb\ncolin-wrk-fo /a/b/F\n"
                          "side-chain-likelihood-radius 4.5\ncorrelation-mode");
  EXPECT_EQ(stdin_run.status, 0);
  EXPECT_EQ(stdin_run.params.side_chain_radius, 4.5);
  EXPECT_TRUE(stdin_run.params.correlation_mode);

  { std::ofstream("frame_test_input.mtz") << "x"; }
  // Outputs not made yet that would land on one file: through a link, as
  // "./" and bare, absolute and relative, through the parent folder.
  std::remove("frame_test_a.lnk");
  ASSERT_EQ(symlink("frame_test_x.out", "frame_test_a.lnk"), 0);
  const std::string here = std::filesystem::current_path().string();
  const std::string up = "../" + std::filesystem::current_path().filename().string() + "/y.out";
  const struct {
    std::vector<std::string> args;
    std::string reason;
  } bad[] = {
      {with_compulsory({"--"}), "Unrecognized:\t--"},
      {with_compulsory({"-resolution"}), "Missing value:\t-resolution"},
      {with_compulsory({"-resolution", "2A"}), "Invalid value:\t-resolution 2A"},
      {with_compulsory({"-resolution", "0"}), "Invalid value:\t-resolution 0"},
      {with_compulsory({"-resolution", "-1"}), "Invalid value:\t-resolution -1"},
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
      {with_compulsory({"-mtzout-wrk", ""}), "Output name is empty:\t-mtzout-wrk"},
      {with_compulsory({"-pdbout-wrk", ""}), "Output name is empty:\t-pdbout-wrk"},
      {with_compulsory({"-mtzout-wrk", "w.mtz"}),
       "Output would overwrite an input file:\t-mtzout-wrk w.mtz"},
      {{"-mtzin-ref", "frame_test_input.mtz", "-pdbin-ref", "r.pdb", "-mtzin-wrk", "w.mtz",
        "-pdbin-wrk", "w.pdb", "-colin-wrk-fo", "/*/*/F", "-pdbout-wrk", "./frame_test_input.mtz"},
       "Output would overwrite an input file:\t-pdbout-wrk ./frame_test_input.mtz"},
      {with_compulsory({"-mtzout-wrk", "o", "-pdbout-wrk", "o"}),
       "Outputs name the same file:\t-pdbout-wrk o"},
      {with_compulsory({"-mtzout-wrk", "frame_test_a.lnk", "-pdbout-wrk", "frame_test_x.out"}),
       "Outputs name the same file:\t-pdbout-wrk frame_test_x.out"},
      {with_compulsory({"-mtzout-wrk", "./y.out", "-pdbout-wrk", "y.out"}),
       "Outputs name the same file:\t-pdbout-wrk y.out"},
      {with_compulsory({"-mtzout-wrk", here + "/y.out", "-pdbout-wrk", "y.out"}),
       "Outputs name the same file:\t-pdbout-wrk y.out"},
      {with_compulsory({"-mtzout-wrk", "y.out", "-pdbout-wrk", up}),
       "Outputs name the same file:\t-pdbout-wrk " + up},
  };
  for (const auto& c : bad) {
    const Command command(c.args);
    EXPECT_EQ(command.status, 1) << c.reason;
    EXPECT_FALSE(command.ran);
    EXPECT_TRUE(ends_with(command.out.str(), "\n" + c.reason + "\n" + usage)) << c.reason;
  }
  std::remove("frame_test_input.mtz");
  std::remove("frame_test_a.lnk");
  EXPECT_NE(access("frame_test_x.out", F_OK), 0);
  EXPECT_NE(access("y.out", F_OK), 0);
}

// An output that is where the program's standard output or error goes (a
// file, through links and second names, or a pipe behind a link) is
// refused by the option check, before any input is read.
TEST(Frame, OutputsThatAreNoFilesOrTheProgramsOwnStreams) {
  const vantrel_testing::Scratch_dir dir;
  const std::string log = dir.write("log", ""), errors = dir.write("errors", ""),
                    log2 = dir.file("log2");
  ASSERT_EQ(link(log.c_str(), log2.c_str()), 0);
  // A chain of 25 links to the log, each step through a link to its own
  // folder: the system gives up on 50 links, the writers follow the chain.
  ASSERT_EQ(symlink(".", dir.file("d").c_str()), 0);
  for (int step = 0; step <= 25; ++step) {
    const std::string next = step < 25 ? "d/chain" + std::to_string(step + 1) : "d/log";
    ASSERT_EQ(symlink(next.c_str(), dir.file("chain" + std::to_string(step)).c_str()), 0);
  }
  struct stat st;
  ASSERT_NE(stat(dir.file("chain0").c_str(), &st), 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const int log_fd = open(log.c_str(), O_WRONLY), errors_fd = open(errors.c_str(), O_WRONLY);
  ASSERT_TRUE(log_fd >= 0 && errors_fd >= 0);
  const std::string on_out = "Output would overwrite the standard output";
  // What standard output and error are meanwhile (-1: as they were), the
  // output, and the reason it is refused ("": the command runs).
  const struct {
    int out, err;
    std::string option, path, reason;
  } cases[] = {
      {log_fd, -1, "-pdbout-wrk", "/dev/stdout", on_out},
      {log_fd, -1, "-mtzout-wrk", log2, on_out},
      {log_fd, -1, "-mtzout-wrk", dir.file("chain0"), on_out},
      {-1, errors_fd, "-pdbout-wrk", "/dev/stderr", "Output would overwrite the standard error"},
      {ends[1], -1, "-pdbout-wrk", "/dev/stdout", on_out},
      {log_fd, -1, "-mtzout-wrk", errors, ""}};
  const std::vector<std::string> before = dir.entries();
  std::fflush(stdout);
  std::fflush(stderr);
  const int saved_out = dup(1), saved_err = dup(2);
  for (const auto& c : cases) {
    if (c.out >= 0) dup2(c.out, 1);
    if (c.err >= 0) dup2(c.err, 2);
    const Command command(with_compulsory({c.option, c.path}));
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    EXPECT_EQ(command.ran, c.reason.empty()) << c.path;
    EXPECT_TRUE(c.reason.empty()
                    ? command.status == 0
                    : command.status == 1 &&
                          ends_with(command.out.str(), "\n" + c.reason + ":\t" + c.option + " " +
                                                           c.path + "\n" + usage))
        << command.out.str();
  }
  for (const int fd : {saved_out, saved_err, log_fd, errors_fd, ends[0], ends[1]}) close(fd);
  EXPECT_EQ(vantrel_testing::read_bytes(log), "");
  EXPECT_EQ(dir.entries(), before);
}

#ifdef QUELVARN_EXE
// A standard descriptor the caller left closed is held by /dev/null: an
// output named as that stream is refused by the option check (status 1),
// rather than failing later with its message written nowhere.
TEST(Frame, ClosedStandardStreamNamedAsOutput) {
  std::string command = QUELVARN_EXE;
  for (const std::string& a : with_compulsory({"-pdbout-wrk", "/dev/stderr"}))
    command += " '" + a + "'";
  FILE* pipe = popen((command + " 2>&-").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
  const int status = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_TRUE(ends_with(
      text, "\nOutput would overwrite the standard error:\t-pdbout-wrk /dev/stderr\n" + usage))
      << text;
}
#endif
