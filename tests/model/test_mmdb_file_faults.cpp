// Damaged, unusual and unwritable coordinate files: each is refused with a
// message naming the file and what is wrong, or read as it should be; no
// refused write leaves a file behind or changes an existing one.
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <zlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <thread>

#include "damaged_files.h"
#include "model/coordinate_text_checks.h"
#include "model_testing.h"
#include "system/output_file.h"

using namespace vantrel;
using damaged_files::joined;
using damaged_files::lines_of;
using model_testing::read_model;
using model_testing::slurp;
using vantrel_testing::fatal_text;
using vantrel_testing::first_child_of;

namespace {

std::string sm_1dur_with_atom(const int n, void (*f)(std::string&)) {
  return damaged_files::pdb_with_atom("sm_1dur.pdb", n, f);
}

// tiny_5e5z_variant.cif with the given atom_site columns (0-based) of every
// atom row set to a value.
std::string variant_cif_with(const std::vector<std::pair<int, std::string>>& columns) {
  return damaged_files::cif_with_rows("tiny_5e5z_variant.cif", 18,
                                      [&](std::vector<std::string>& w) {
                                        for (const auto& [column, value] : columns)
                                          w[column] = value;
                                      });
}

// The binary form of tiny_5e5z.pdb as the library writes it, with the byte
// at the given offset set (none when at is 0).
String damaged_binary(const model_testing::Scratch& scratch, const std::size_t at,
                      const char byte) {
  const String sound = scratch.path("sound.bin");
  MMDBfile out;
  out.read_file(vantrel_testing::fixture_path("tiny_5e5z.pdb"));
  out.write_file(sound, MMDBManager::BINARY);
  if (at == 0) return sound;
  std::string bytes = slurp(sound);
  EXPECT_GT(bytes.size(), at);
  bytes[at] = byte;
  return scratch.write("damaged" + std::to_string(at) + ".bin", bytes);
}

// tiny_5e5z_variant.cif (48 atom rows) as a model of the first number,
// followed by its first ten rows again as a model of each other number (ids
// from 101, 201 ...).
std::string cif_models(const std::vector<std::string>& numbers) {
  std::vector<std::string> again(numbers.size());
  return damaged_files::cif_with_rows(
      "tiny_5e5z_variant.cif", 18, [&](std::vector<std::string>& w) {
        const int id = std::stoi(w[0]);
        w[17] = numbers[0];
        for (std::size_t n = 1; n < numbers.size() && id <= 10; ++n) {
          again[n] += "\n" + std::to_string(100 * n + id);
          for (std::size_t i = 1; i < 17; ++i) again[n] += " " + w[i];
          again[n] += " " + numbers[n];
        }
        if (id == 48)
          for (const std::string& rows : again) w[17] += rows;
      });
}

std::vector<std::string> files_in(const String& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(dir)))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(CoordinateFileFaults, DamagedFilesAreRefusedNamingLineOrAtom) {
  const model_testing::Scratch scratch;
  const String fifo = scratch.path("fifo.pdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const auto write = [&](const String& name, const std::string& text) {
    return scratch.write(name, text);
  };
  const auto write_gzip = [&](const String& name, const std::string& text) {
    const String path = scratch.path(name);
    gzFile out = gzopen(path.c_str(), "wb");
    EXPECT_EQ(gzwrite(out, text.data(), unsigned(text.size())), int(text.size()));
    gzclose(out);
    return path;
  };
  const std::string long_line =
      sm_1dur_with_atom(5, [](std::string& l) { l += std::string(5000, 'X'); });
  std::vector<std::pair<String, String>> cases = {
      {write("long.pdb", long_line),
       "line 400: a line of 5080 characters, longer than the reader takes (4095)"},
      // A gzip name in any case: the text checked is the decompressed one.
      {write_gzip("long.PDB.GZ", long_line),
       "line 400: a line of 5080 characters, longer than the reader takes (4095)"},
      {write("nan.pdb", sm_1dur_with_atom(5, [](std::string& l) { l.replace(30, 8, "     nan"); })),
       "atom 6 /1/A/2(TYR)/N[N]: a number that is not finite"},
      {write("inf.pdb", sm_1dur_with_atom(7, [](std::string& l) { l.replace(46, 8, "    -inf"); })),
       "atom 8 /1/A/2(TYR)/C[C]: a number that is not finite"},
      {write("anisou.pdb",
             "ANISOU    1  N   ALA A   1     2406   1892   1614    198    519   -328       N\n"),
       "line 1: ANISOU record without an atom record before it"},
      {write("sigatm.pdb",
             "CRYST1   30.520   37.750   39.370  90.00  90.00  90.00 P 21 21 21    4\n"
             "SIGATM    1  N   ALA A   1       0.010   0.010   0.010  0.00  0.00           N\n"),
       "line 2: SIGATM record without an atom record before it"},
      {write("long_name.cif", variant_cif_with({{4, std::string(19, 'X')}, {8, "IIIII"}})),
       "_atom_site.label_comp_id: the residue name \"XXXXXXXXXXXXXXXXXXX\" is longer than 18 "
       "characters"},
      {write("long_chain.cif", variant_cif_with({{16, "CHAIN1234"}})),
       "_atom_site.auth_asym_id: the chain id \"CHAIN1234\" is longer than 8 characters"},
      {write("long_tag.cif",
             "data_x\nloop_\n_atom_site.id\n_atom_site." + std::string(120, 'u') + "\n1 2\n"),
       "line 4: a tag of 131 characters, longer than the reader takes (80)"},
      // The reader skips lines it does not know and reads the rest as mmCIF.
      {write("unknown_first.cif", "\x03\nnotes\ndata_x\nloop_\n_atom_site.id\n_atom_site." +
                                      std::string(120, 'u') + "\n1 2\n"),
       "line 6: a tag of 131 characters, longer than the reader takes (80)"},
      {write("unknown_first_chain.cif", "notes\n" + variant_cif_with({{16, "CHAIN1234"}})),
       "_atom_site.auth_asym_id: the chain id \"CHAIN1234\" is longer than 8 characters"},
      // A loop value starting with "_" is read as a tag.
      {write("tag_value.cif", "data_x\nloop_\n_a.id\n_a.b\n1 _a." + std::string(90, 'u') + "\n"),
       "line 5: a tag of 93 characters, longer than the reader takes (80)"},
      {write("form_feed_tag.cif",
             "data_x\nloop_\n_atom_site.id\n_atom_site.B" + std::string(100, '\f') + "\n1 2\n"),
       "line 4: a tag of 112 characters, longer than the reader takes (80)"},
      {write("hetnam.pdb", "HETNAM     SF4 IRON/SULFUR CLUSTER" + std::string(100, ' ') + "X\n" +
                               damaged_files::joined({lines_of("tiny_5e5z.pdb")[262]})),
       "line 1: a HETNAM record longer than the 80 columns of the form"},
      {write("seqres.pdb", "SEQRES   1  ALA\n"),
       "line 1: SEQRES record without a residue count in columns 14-17"},
      {write("no_data.cif", "data_x\n"), "  22 (Not a CIF file ('data_' missing))"},
      {write("tab.pdb", "ATOM\t 1  N   ALA A   1      17.047  14.099   3.625  1.00 13.79\n"),
       "  20 (Attempt to read unknown-type file)"},
      {fifo, "  15 (File can not be opened): not a regular file"},
      {scratch.path("missing.pdb"), "  15 (File can not be opened): no such file"}};
  // The binary reader crashes on the first and loops on the
  // second (a child process reads them first, here within a second).
  const model_testing::Child_time_limit limit(1);
  EXPECT_EQ(read_model(damaged_binary(scratch, 0, 0)).atom_list().size(), 47u);
  cases.push_back({damaged_binary(scratch, 6000, char(240)),
                   "the binary form is damaged: the reader does not survive it"});
  cases.push_back({damaged_binary(scratch, 7639, char(77)),
                   "the binary form is damaged: the reader takes longer than 1 seconds of "
                   "processor time on it"});
  for (const auto& [file, what] : cases)
    EXPECT_EQ(fatal_text([&] { MMDBfile().read_file(file); }),
              "MMDBfile: read_file error: " + file + " : " + what);
  // The longest line the reader takes whole is still read.
  const String longest =
      write("longest.pdb",
            sm_1dur_with_atom(5, [](std::string& l) { l += std::string(4095 - l.size(), ' '); }));
  EXPECT_EQ(read_model(longest).atom_list().size(), 488u);
  // Long words starting with "_" in a text field or a quoted value are no
  // tags.
  const std::string word = "_" + std::string(120, 'u');
  const std::string head = "data_tiny_5e5z\n";
  std::string text = slurp(vantrel_testing::fixture_path("tiny_5e5z_variant.cif"));
  ASSERT_EQ(text.rfind(head, 0), 0u);
  text.insert(head.size(), "_note.text\n;\nsee " + word +
                               "\n;\nloop_\n_words.id\n"
                               "_words.word\n1 '" +
                               word + "'\n2 \"" + word + "\"\n");
  EXPECT_EQ(read_model(write("text_field.cif", text)).atom_list().size(), 48u);
}

// mmCIF identifiers are read whole up to the longest the reader holds, and
// refused one character beyond it, naming the tag.
TEST(CoordinateFileFaults, CifIdentifiersReadUpToWhatTheReaderHolds) {
  const model_testing::Scratch scratch;
  // The column of the atom rows, and whether every row, those of residue 4
  // or its first atom are set.
  enum Rows { all, residue, atom };
  const std::vector<std::tuple<int, Rows, const char*, const char*, std::size_t>> limits = {
      {16, all, "auth_asym_id", "chain id", 8},
      {4, residue, "label_comp_id", "residue name", 18},
      {8, residue, "pdbx_PDB_ins_code", "insertion code", 8},
      {2, atom, "label_atom_id", "atom name", 18},
      {3, atom, "label_alt_id", "alternate location", 18},
      {1, atom, "type_symbol", "element", 8}};
  for (const auto& [column, rows, tag, what, longest] : limits) {
    SCOPED_TRACE(tag);
    const auto with = [&, column = column, rows = rows](const std::string& value) {
      bool first = true;
      return damaged_files::cif_with_rows(
          "tiny_5e5z_variant.cif", 18, [&](std::vector<std::string>& w) {
            if (rows == all || (w[15] == "4" && (rows == residue || first))) w[column] = value;
            if (w[15] == "4") first = false;
          });
    };
    const std::string whole(longest, 'K'), over(longest + 1, 'K');
    // The identifiers as the library holds them (a MiniMol keeps 4
    // characters of an atom name).
    MMDBfile in;
    in.read_file(scratch.write("whole.cif", with(whole)));
    mmdb::Atom** atoms;
    int n;
    in.GetAtomTable(atoms, n);
    std::string seen;
    for (int i = 0; i < n; ++i)
      if (atoms[i] && !atoms[i]->Ter)
        seen = seen + "|" + atoms[i]->GetChainID() + "|" + atoms[i]->GetResName() + "|" +
               atoms[i]->GetInsCode() + "|" + atoms[i]->name + "|" + atoms[i]->altLoc + "|" +
               atoms[i]->element + "|\n";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 48);
    EXPECT_NE(seen.find("|" + whole + "|"), std::string::npos) << seen;
    const String file = scratch.write("over.cif", with(over));
    EXPECT_EQ(fatal_text([&] { MMDBfile().read_file(file); }),
              "MMDBfile: read_file error: " + file + " : _atom_site." + tag + ": the " + what +
                  " \"" + over + "\" is longer than " + std::to_string(longest) + " characters");
  }
}

// The child read's verdict comes over a pipe and its time limit from this
// process, whatever the caller did with SIGCHLD and SIGALRM.
TEST(CoordinateFileFaults, ChildReadHoldsUnderAnySignalSettings) {
  const model_testing::Scratch scratch;
  const String crashing = damaged_binary(scratch, 6000, char(240));
  const String looping = damaged_binary(scratch, 7639, char(77));
  const model_testing::Child_time_limit limit(0.5);
  struct sigaction ignore = {}, old_child, old_alarm;
  ignore.sa_handler = SIG_IGN;
  sigset_t alarm, old_mask;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &old_child), 0);
  ASSERT_EQ(sigaction(SIGALRM, &ignore, &old_alarm), 0);
  const auto refusal = [](const String& file, const String& what) {
    return "MMDBfile: read_file error: " + file + " : the binary form is damaged: the reader " +
           what;
  };
  for (const bool blocked : {false, true}) {
    if (blocked) {
      ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &alarm, &old_mask), 0);
    }
    EXPECT_EQ(read_model("sm_1dur.cif").atom_list().size(), 488u);
    EXPECT_EQ(fatal_text([&] { MMDBfile().read_file(crashing); }),
              refusal(crashing, "does not survive it"));
    // Ended by its processor time, not by the wall bound (10 s) of a
    // wait for a signal that never comes.
    EXPECT_EQ(fatal_text([&] { MMDBfile().read_file(looping); }),
              refusal(looping, "takes longer than 0.5 seconds of processor time on it"));
    if (blocked) pthread_sigmask(SIG_SETMASK, &old_mask, nullptr);
  }
  sigaction(SIGCHLD, &old_child, nullptr);
  sigaction(SIGALRM, &old_alarm, nullptr);
  // A caller with standard descriptors closed: the pipe must not take one
  // that the child points at /dev/null.
  const String cif = vantrel_testing::fixture_path("sm_1dur.cif");
  for (const auto& closed : {std::pair{0, 1}, std::pair{0, 2}}) {
    const pid_t pid = fork();
    if (pid == 0) {
      close(closed.first);
      close(closed.second);
      _exit(fatal_text([&] { MMDBfile().read_file(cif); }) == "no error" ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << closed.first << closed.second;
  }
  // Every child has ended.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// The limit of the child read counts no time while the run (as by Ctrl-Z)
// or the child alone is stopped, and a verdict waiting in the pipe is then
// taken; a reader that loops is ended all the same, and the child read
// ends with its parent when that is killed or its wait fails. A SIGHUP to
// a run under nohup leaves the read whole; a SIGTERM to the child alone
// interrupts it, which says nothing of the file.
TEST(CoordinateFileFaults, ChildReadIsTimedAndEndedByItsParent) {
  const model_testing::Scratch scratch;
  const String looping = damaged_binary(scratch, 7639, char(77));
  std::string text = slurp(vantrel_testing::fixture_path("sm_1dur.cif")) + "loop_\n_pad.v\n";
  for (int i = 0; i < 400000; ++i) text += "1\n";  // a read that takes a while
  const String slow = scratch.write("slow.cif", text);
  const model_testing::Child_time_limit limit(1);
  enum Act { stop_run, stop_child, kill_parent, hang_up_run, terminate_child };
  // The file, what is done once its read (in a process leading a group of
  // its own) has started the child read, and the message it expects.
  const std::vector<std::tuple<String, Act, std::string>> cases = {
      {slow, stop_run, "no error"},
      {slow, stop_child, "no error"},
      {looping, stop_run,
       "MMDBfile: read_file error: " + looping +
           " : the binary form is damaged: the reader takes longer than 1 seconds of processor "
           "time on it"},
      {looping, kill_parent, ""},
      {slow, hang_up_run, "no error"},
      {slow, terminate_child,
       "MMDBfile: read_file error: " + slow + " : the read was interrupted (signal 15)"}};
  for (const auto& [file, act, message] : cases) {
    SCOPED_TRACE(file + " " + std::to_string(act));
    const pid_t pid = fork();
    if (pid == 0) {
      setpgid(0, 0);
      signal(SIGHUP, SIG_IGN);
      _exit(fatal_text([&] { MMDBfile().read_file(file); }) == message ? 0 : 1);
    }
    setpgid(pid, pid);
    const pid_t child = first_child_of(pid);
    ASSERT_GT(child, 0);
    if (act == hang_up_run || act == terminate_child) {  // while the child reads
      ASSERT_EQ(act == hang_up_run ? kill(-pid, SIGHUP) : kill(child, SIGTERM), 0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // till the parent waits
    if (act == kill_parent) {
      pollfd child_end = {int(syscall(SYS_pidfd_open, child, 0)), POLLIN, 0};
      kill(pid, SIGKILL);
      EXPECT_EQ(poll(&child_end, 1, 60000), 1);
      close(child_end.fd);
      kill(-pid, SIGKILL);
    } else if (act == stop_run || act == stop_child) {
      const pid_t stopped = act == stop_run ? -pid : child;
      ASSERT_EQ(kill(stopped, SIGSTOP), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      kill(stopped, SIGCONT);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(act == kill_parent || status == 0);
  }
  // A failed wait (poll refused once no descriptor is allowed) refuses the
  // read, ends the child and leaves no descriptor open.
  rlimit allowed;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &allowed), 0);
  const std::size_t open = vantrel_testing::entries_of("/proc/self/fd").size();
  // The thread lifts the limit again before it ends (the sanitizers' checks
  // at its end need descriptors).
  // A message is made once before: the undefined-behaviour sanitizer checks
  // a stream's type on its first use through a pipe, which it cannot open
  // while no descriptor is allowed.
  EXPECT_NE(fatal_text([&] { MMDBfile().read_file(looping + ".none"); }), "no error");
  std::atomic<bool> returned(false);
  std::thread cut([&] {
    const rlimit none = {0, allowed.rlim_max};
    if (first_child_of(getpid()) > 0) setrlimit(RLIMIT_NOFILE, &none);
    while (!returned) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    setrlimit(RLIMIT_NOFILE, &allowed);
  });
  const String refusal = fatal_text([&] { MMDBfile().read_file(looping); });
  returned = true;
  cut.join();
  EXPECT_EQ(refusal, "MMDBfile: read_file error: " + looping +
                         " : cannot read it in a separate process first: poll: Invalid argument");
  EXPECT_EQ(vantrel_testing::entries_of("/proc/self/fd").size(), open);
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
}

// Short monoclinic names, lone models numbered past 1, a TER record before
// the first atom and files without atoms. Written from the object read
// (either form first) or from a new one, a model keeps its number, and the
// object read writes one PDB text whichever form it wrote first (the
// atoms' serial numbers too, which the first case gives from 101).
TEST(CoordinateFileFaults, UnusualFilesReadWhole) {
  const model_testing::Scratch scratch;
  std::vector<std::string> atoms;
  for (const std::string& line : lines_of("tiny_5e5z.pdb"))
    if (line.rfind("ATOM", 0) == 0) atoms.push_back(line);
  // Space groups as an independent reader (gemmi) names them: P 21 is
  // P 1 21 1 (number 4), C 2 is C 1 2 1 (number 5), P212121 number 19; a
  // name no table here knows leaves the group unknown (0), and the cell is
  // the file's whatever the name.
  const Cell shipped = read_model("tiny_5e5z.pdb").cell();
  ASSERT_FALSE(shipped.is_null());
  for (const auto& [name, number] : std::vector<std::pair<std::string, int>>{
           {"P 21", 4}, {"C 2", 5}, {"P 1 21 1", 4}, {"P212121", 19},
           {"P4(3)2(1)2", 0}, {"A 1", 0}, {"P 1-", 0}, {"UNK", 0}}) {
    const MiniMol mol = read_model(
        scratch.write("short_name.pdb", damaged_files::pdb_with_group("tiny_5e5z.pdb", name)));
    EXPECT_EQ(mol.spacegroup().is_null() ? 0 : mol.spacegroup().spacegroup_number(), number)
        << name;
    EXPECT_TRUE(mol.cell().equals(shipped, 1e-6)) << name;
    EXPECT_EQ(mol.atom_list().size(), 47u);
  }
  const std::size_t n = atoms.size();
  ASSERT_GT(n, 40u);
  // The model numbers of a file as the library reads it back.
  const auto numbers = [](const String& file) {
    MMDBfile back;
    back.read_file(file);
    std::string said;
    for (int m = 1; m <= back.GetNumberOfModels(); ++m)
      if (mmdb::Model* model = back.GetModel(m)) said += std::to_string(model->GetSerNum()) + " ";
    return said;
  };
  std::string from_101;
  for (std::size_t i = 0; i < n; ++i)
    from_101 += atoms[i].substr(0, 6) + std::to_string(101 + i).insert(0, 2, ' ') +
                atoms[i].substr(11) + "\n";
  // The text, its atoms and the numbers of its models written.
  const std::vector<std::tuple<std::string, std::size_t, std::string>> cases = {
      {"MODEL        2\n" + from_101 + "TER\nENDMDL\nEND\n", n, "2 "},
      {"MODEL        3\n" + joined(atoms) + "ENDMDL\nMODEL        5\n" + atoms[0] + "\nENDMDL\n", n,
       "3 5 "},
      // The lowest number is the model taken, wherever the file gives it.
      {"MODEL        5\n" + atoms[0] + "\nENDMDL\nMODEL        3\n" + joined(atoms) + "ENDMDL\n", n,
       "3 5 "},
      {slurp(vantrel_testing::fixture_path("model_two.cif")), 39, "2 "},
      {"TER\n" + joined(atoms), n, "1 "},
      {"END\n", 0, ""},
      {"REMARK   1 NOTHING\n", 0, ""}};
  for (const auto& [text, count, models] : cases) {
    SCOPED_TRACE(text.substr(0, 30));
    const String source = scratch.write("models.pdb", text);
    const MiniMol mol = read_model(source);
    EXPECT_EQ(mol.atom_list().size(), count);
    EXPECT_EQ(mol.size(), count ? 1 : 0);
    if (count == 0) continue;
    MMDBfile fresh;
    fresh.export_minimol(mol);  // of the first model alone
    std::vector<std::string> pdb_texts;
    for (const auto type : {MMDBManager::PDB, MMDBManager::CIF}) {
      MMDBfile read;
      read.read_file(source);
      for (const auto form :
           {type, type == MMDBManager::PDB ? MMDBManager::CIF : MMDBManager::PDB}) {
        read.write_file(scratch.path("read"), form);
        EXPECT_EQ(numbers(scratch.path("read")), models) << form;
        if (form == MMDBManager::PDB) pdb_texts.push_back(slurp(scratch.path("read")));
      }
      fresh.write_file(scratch.path("fresh"), type);
      EXPECT_EQ(numbers(scratch.path("fresh")), models.substr(0, 2));
      EXPECT_EQ(read_model(scratch.path("fresh")).atom_list().size(), count);
    }
    EXPECT_EQ(pdb_texts[0], pdb_texts[1]);
  }
}

// Identifiers a form cannot hold are refused before anything is written;
// mmCIF keeps what PDB cannot. A refusal beside another output pending
// says what became of that one. Unwritable paths are refused the same way.
TEST(CoordinateFileFaults, WritesRefuseWhatTheFormCannotHold) {
  const model_testing::Scratch scratch;
  const MiniMol source = read_model("tiny_5e5z.pdb");
  const auto changed = [&](auto change) {
    MiniMol mol = source;
    change(mol);
    return mol;
  };
  const MiniMol long_chains = changed([](MiniMol& m) {
    MPolymer second = m[0];
    m[0].set_id("ABC1");
    second.set_id("ABC2");
    m.insert(second, -1);
  });
  const MiniMol four_letter = changed([](MiniMol& m) { m[0][2].set_type("LIGA"); });
  const MiniMol long_type = changed([](MiniMol& m) { m[0][2].set_type("LONGNAME9"); });
  const MiniMol longest_type = changed([](MiniMol& m) { m[0][2].set_type("LIGAND_NAME_OF_18C"); });
  const MiniMol too_long_type =
      changed([](MiniMol& m) { m[0][2].set_type("LIGAND_NAME_OF_19CH"); });
  const MiniMol two_codes = changed([](MiniMol& m) { m[0][1].set_seqnum(7, "AB"); });
  // Hybrid-36 in PDB: 10000 is "A000", 1223056 "a000", 2436111 "zzzz".
  const MiniMol far_numbers = changed([](MiniMol& m) {
    m[0][1].set_seqnum(10000, "");
    m[0][2].set_seqnum(1223056, "");
    m[0][3].set_seqnum(2436111, "");
  });
  const MiniMol too_far = changed([](MiniMol& m) { m[0][4].set_seqnum(2436112, ""); });
  const MiniMol far_coded = changed([](MiniMol& m) {
    m[0][1].set_seqnum(10000, "A");
    m[0][2].set_seqnum(10000, "B");
  });
  const MiniMol too_low = changed([](MiniMol& m) { m[0][0].set_seqnum(-1000, ""); });
  // A model numbered as an mmCIF file may number it: MODEL holds 4 digits.
  const auto numbered = [&](const char* number) {
    return changed([&](MiniMol& m) {
      m.delete_property("CID");
      m.set_property("CID", Property<String>(String("/") + number));
    });
  };
  const MiniMol model_9999 = numbered("9999"), model_10000 = numbered("10000");
  const MiniMol tag_like = changed([](MiniMol& m) { m[0].set_id("_m"); });
  const MiniMol quoted = changed([](MiniMol& m) {
    m[0][0].set_type("A'B");
    m[0][0][1].set_id("C1'");
    m[0][1].set_type("A'\"B");
    m[0][2].set_type("[C]");
  });
  const MiniMol dollar = changed([](MiniMol& m) { m[0][0].set_type("$A"); });
  const MiniMol tabbed = changed([](MiniMol& m) { m[0][0][0].set_element("\t"); });
  const MiniMol line_end = changed([](MiniMol& m) { m[0][0][0].set_element("\n"); });
  const MiniMol far_atom =
      changed([](MiniMol& m) { m[0][0][0].set_coord_orth(Coord_orth(12345.0, 0.0, 0.0)); });
  const String kept = scratch.write("kept.pdb", "precious\n");
  const String beside = scratch.write("beside.mtz", "old");
  const String fifo = scratch.path("fifo.pdb");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const String pdb = "the PDB form holds", cif = "the mmCIF form holds";
  // The message after "MMDBfile: write_file error: <file> : ", or "" when written.
  const std::vector<std::tuple<const MiniMol*, MMDBManager::TYPE, String>> cases = {
      {&long_chains, MMDBManager::PDB,
       "the chain id \"ABC1\" is longer than 2 characters, more than " + pdb},
      {&long_chains, MMDBManager::CIF, ""},
      {&four_letter, MMDBManager::PDB,
       "the residue name \"LIGA\" is longer than 3 characters, more than " + pdb},
      {&four_letter, MMDBManager::CIF, ""},
      {&long_type, MMDBManager::CIF, ""},
      {&longest_type, MMDBManager::CIF, ""},
      {&too_long_type, MMDBManager::CIF,
       "the residue name \"LIGAND_NAME_OF_19CH\" is longer than 18 characters, more than " + cif},
      {&two_codes, MMDBManager::PDB,
       "the insertion code \"AB\" is longer than 1 characters, more than " + pdb},
      {&two_codes, MMDBManager::CIF, ""},
      {&far_numbers, MMDBManager::PDB, ""},
      {&too_far, MMDBManager::PDB,
       "the residue number 2436112 is outside -999 to 2436111, which the PDB form holds"},
      {&far_coded, MMDBManager::PDB,
       "the residue number 10000 with the insertion code \"A\": the PDB form holds no "
       "insertion code past 9999"},
      {&far_coded, MMDBManager::CIF, ""},
      {&too_low, MMDBManager::PDB,
       "the residue number -1000 is outside -999 to 2436111, which the PDB form holds"},
      {&too_low, MMDBManager::CIF, ""},
      {&model_9999, MMDBManager::PDB, ""},
      {&model_10000, MMDBManager::PDB,
       "the model number 10000 is outside 1 to 9999, which the PDB form holds"},
      {&model_10000, MMDBManager::CIF, ""},
      {&tag_like, MMDBManager::CIF,
       "the chain id \"_m\" starts with \"_\", which the mmCIF form cannot hold"},
      {&tag_like, MMDBManager::PDB, ""},
      {&quoted, MMDBManager::CIF, ""},
      {&dollar, MMDBManager::CIF,
       "the residue name \"$A\" starts with \"$\", which the mmCIF form cannot hold"},
      {&dollar, MMDBManager::PDB, ""},
      {&tabbed, MMDBManager::CIF,
       "the element \" \t\" holds a character that is not printable ASCII, which the mmCIF "
       "form cannot hold"},
      {&tabbed, MMDBManager::PDB,
       "the element \" \t\" holds a character that is not printable ASCII, which the PDB "
       "form cannot hold"},
      {&line_end, MMDBManager::PDB,
       "the element \" \n\" holds a character that is not printable ASCII, which the PDB "
       "form cannot hold"},
      {&far_atom, MMDBManager::PDB,
       "atom /1/A/1(LEU)/N[N]: a number that does not fit the columns of the PDB form"},
      {&far_atom, MMDBManager::CIF, ""}};
  for (const auto& [mol, type, error] : cases) {
    SCOPED_TRACE(error);
    MMDBfile out;
    out.export_minimol(*mol);
    const String text = fatal_text([&] { out.write_file(kept, type); });
    if (!error.empty()) {
      EXPECT_EQ(std::string(text), "MMDBfile: write_file error: " + kept + " : " + error);
      EXPECT_EQ(slurp(kept), "precious\n");
      // Refused beside another output pending with it, the message also says
      // what became of that one, left as it was.
      EXPECT_EQ(fatal_text([&] {
                  Pending_outputs pending("T");
                  Output_file other(beside, "T", &pending);
                  other.write("new");
                  other.commit();
                  out.write_file(kept, type, pending);
                }),
                "MMDBfile: write_file error: " + kept + " : " + error + "; " + beside +
                    " is left as it was");
      EXPECT_EQ(slurp(kept) + slurp(beside), "precious\nold");
      continue;
    }
    EXPECT_EQ(text, "no error");
    const MiniMol back = read_model(kept);
    ASSERT_EQ(back.size(), mol->size());
    for (int p = 0; p < back.size(); ++p) {
      EXPECT_EQ(back[p].id(), (*mol)[p].id());
      for (int r = 0; r < back[p].size(); ++r) {
        EXPECT_EQ(back[p][r].type() + back[p][r].id(), (*mol)[p][r].type() + (*mol)[p][r].id());
        for (int a = 0; a < back[p][r].size(); ++a)
          EXPECT_EQ(back[p][r][a].id().trim() + back[p][r][a].element().trim(),
                    (*mol)[p][r][a].id().trim() + (*mol)[p][r][a].element().trim());
      }
    }
    scratch.write("kept.pdb", "precious\n");
  }
  MMDBfile out;
  out.export_minimol(source);
  for (const auto type : {MMDBManager::PDB, MMDBManager::CIF, MMDBManager::BINARY})
    EXPECT_EQ(fatal_text([&] { out.write_file(fifo, type); }),
              "MMDBfile: write_file error: cannot write " + fifo + ": not a regular file");
  // Only the files made here remain: no temporary is left beside a target.
  EXPECT_EQ(files_in(scratch.path("")),
            (std::vector<std::string>{"beside.mtz", "fifo.pdb", "kept.pdb"}));
}

// A target named *.gz, in any case, is written compressed, as the library
// writes it, and reads back whole; nothing else is left beside it. Only the
// compressed bytes reach the disk: the write holds under a file size limit
// (a shell's ulimit -f, its signal at the default) that the text alone
// would pass.
TEST(CoordinateFileFaults, CompressedOutputsReadBack) {
  const model_testing::Scratch scratch;
  const MiniMol source = read_model("wrk_7mm1.pdb");
  MMDBfile out;
  out.export_minimol(source);
  for (const auto& [name, type] :
       std::vector<std::pair<String, MMDBManager::TYPE>>{{"model.pdb.gz", MMDBManager::PDB},
                                                         {"model.cif.gz", MMDBManager::CIF},
                                                         {"MODEL.PDB.GZ", MMDBManager::PDB}}) {
    SCOPED_TRACE(name);
    out.write_file(scratch.path(name), type);
    const std::string bytes = slurp(scratch.path(name));
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(read_model(scratch.path(name)).atom_list().size(), source.atom_list().size());
    const String text = scratch.path("text"), limited = scratch.path("limited." + name);
    out.write_file(text, type);
    const rlim_t limit = (bytes.size() + slurp(text).size()) / 2;
    ASSERT_GT(limit, bytes.size() + 10000);
    const std::string seen = vantrel_testing::in_child([&] {
      signal(SIGXFSZ, SIG_DFL);
      const struct rlimit limited_size = {limit, RLIM_INFINITY};
      setrlimit(RLIMIT_FSIZE, &limited_size);
      return fatal_text([&] { out.write_file(limited, type); });
    });
    EXPECT_EQ(seen, "no error");
    EXPECT_EQ(read_model(limited).atom_list().size(), source.atom_list().size());
    std::remove(text.c_str());
  }
  EXPECT_EQ(
      files_in(scratch.path("")),
      (std::vector<std::string>{"MODEL.PDB.GZ", "limited.MODEL.PDB.GZ", "limited.model.cif.gz",
                                "limited.model.pdb.gz", "model.cif.gz", "model.pdb.gz"}));
}

// An output named through a link writes the file the link leads to (through
// a chain, into another directory, or to a file not made yet, compressed by
// the link's name), and the links stay. An existing file the user may write
// in a directory the user may not write is written in place, keeping its
// owner and permissions; a new file there is still refused.
TEST(CoordinateFileFaults, LinkedAndClosedDirectoryOutputs) {
  const vantrel_testing::Scratch_dir dir;
  const MiniMol source = read_model("tiny_5e5z.pdb");
  const std::size_t atoms = source.atom_list().size();
  MMDBfile out;
  out.export_minimol(source);
  const std::string real_pdb = dir.write("real.pdb", "old\n"), sub = dir.file("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  const std::string real_cif = dir.write("sub/real.cif", "old\n");
  // Link name, link text, the file written, its form.
  const std::vector<std::tuple<std::string, std::string, std::string, MMDBManager::TYPE>> cases = {
      {"model.pdb", "real.pdb", real_pdb, MMDBManager::PDB},
      {"chain.pdb", "model.pdb", real_pdb, MMDBManager::PDB},
      {"model.cif", real_cif, real_cif, MMDBManager::CIF},
      {"model.pdb.gz", "sub/fresh.pdb.gz", dir.file("sub/fresh.pdb.gz"), MMDBManager::PDB}};
  for (const auto& [name, text, file, type] : cases)
    ASSERT_EQ(symlink(text.c_str(), dir.file(name).c_str()), 0) << name;
  for (const auto& [name, text, file, type] : cases) {
    SCOPED_TRACE(name);
    if (file != dir.file("sub/fresh.pdb.gz"))
      dir.write(file.substr(dir.path().size() + 1), "old\n");
    EXPECT_EQ(fatal_text([&] { out.write_file(dir.file(name), type); }), "no error");
    EXPECT_EQ(vantrel_testing::link_text(dir.file(name)), text);
    EXPECT_EQ(read_model(file).atom_list().size(), atoms);
  }
  EXPECT_EQ(slurp(dir.file("sub/fresh.pdb.gz")).substr(0, 2), "\x1f\x8b");
  EXPECT_EQ(files_in(dir.path()), (std::vector<std::string>{"chain.pdb", "model.cif", "model.pdb",
                                                            "model.pdb.gz", "real.pdb", "sub"}));
  EXPECT_EQ(files_in(sub), (std::vector<std::string>{"fresh.pdb.gz", "real.cif"}));

  // The closed directory: owned by root (or made read-only when not root);
  // the run as the other user writes its temporaries in a directory of its own.
  const bool root = geteuid() == 0;
  const std::string closed = dir.file("closed"), tmp = dir.file("tmp");
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(tmp.c_str(), 0777), 0);
  ASSERT_EQ(chmod(tmp.c_str(), 0777), 0);
  const std::string kept = dir.write("closed/kept.pdb", "old\n"), fresh = closed + "/new.pdb";
  ASSERT_EQ(chmod(kept.c_str(), 0604), 0);
  if (root) {
    ASSERT_EQ(chown(kept.c_str(), vantrel_testing::unprivileged_id, 0), 0);
  } else {
    ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  }
  const std::vector<unsigned> was = vantrel_testing::mode_and_owner(kept);
  MMDBfile unwritten;  // an object not written before
  unwritten.export_minimol(source);
  const std::string seen = vantrel_testing::as_unprivileged([&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    const std::string text = fatal_text([&] { unwritten.write_file(kept, MMDBManager::CIF); }) +
                             "\n" +
                             fatal_text([&] { unwritten.write_file(fresh, MMDBManager::PDB); });
    unsetenv("TMPDIR");
    return text;
  });
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  }
  EXPECT_EQ(seen, "no error\nMMDBfile: write_file error: cannot write " + fresh + ": directory " +
                      closed + ": permission denied");
  EXPECT_EQ(read_model(kept).atom_list().size(), atoms);
  EXPECT_NE(slurp(kept).find("_atom_site"), std::string::npos);
  EXPECT_EQ(vantrel_testing::mode_and_owner(kept), was);
  EXPECT_EQ(files_in(closed), std::vector<std::string>{"kept.pdb"});
  EXPECT_TRUE(files_in(tmp).empty());
}

// A file of whose first model the reader takes only part (it stops at some
// records without a word) is refused with both counts, and one with atoms
// outside its MODEL ... ENDMDL blocks (the reader takes those before MODEL
// for a model of their own) naming the line; sound files, however their
// models are given, still read whole.
TEST(CoordinateFileFaults, DroppedAtomsAreRefusedWithBothCounts) {
  const model_testing::Scratch scratch;
  std::vector<std::string> atoms;
  for (const std::string& line : lines_of("tiny_5e5z.pdb"))
    if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0) atoms.push_back(line);
  const std::string all = joined(atoms), ten = joined({atoms.begin(), atoms.begin() + 10});
  const auto model = [](const int n, const std::string& text) {
    return "MODEL        " + std::to_string(n) + "\n" + text + "ENDMDL\n";
  };
  std::string no_model = variant_cif_with({{17, ""}});
  no_model.erase(no_model.find("_atom_site.pdbx_PDB_model_num\n"), 30);
  const std::string part = " atoms the text holds for model 1";
  const std::string twice = " is given a second time (the reader would take both as one model)";
  const std::string outside = " record outside every MODEL ... ENDMDL block of the file";
  const std::string broken =
      ten + "REMARK   1 A NOTE\n" + joined({atoms.begin() + 10, atoms.end()}) + "ENDMDL\n";
  std::vector<std::string> unread = atoms;  // the last two records unread by the library
  unread.end()[-2] = "hetatm" + unread.end()[-2].substr(6);
  unread.back() = "ATOM1234567" + unread.back().substr(11);
  // The file's text, and its refusal after the file name or the atoms read.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {variant_cif_with({{15, "?"}}), "the reader takes 0 of the 48" + part},  // no residue number
      {sm_1dur_with_atom(100, [](std::string& l) { l.insert(0, "REMARK   1 A NOTE\n"); }),
       "the reader takes 100 of the 488" + part},
      {damaged_files::pdb_with_atom("tiny_5e5z.pdb", 4, [](std::string& l) { l += "\n" + l; }),
       "48 atoms"},
      {model(1, all) + model(2, ten), "47 atoms"},
      {model(2, all) + model(1, ten), "10 atoms"},
      {ten + "END\n" + all, "10 atoms"},
      {variant_cif_with({{17, "2"}}), "48 atoms"},
      {no_model, "48 atoms"},
      // Model numbers as the library reads them: columns 11-14 of a MODEL
      // record, strtod's number rounded; an mmCIF row without one (a word,
      // or one out of range) is in the model of the row before.
      {"MODEL     1.6e1" + std::string(64, ' ') + "X\n" + broken,
       "the reader takes 10 of the 47 atoms the text holds for model 2"},
      {damaged_files::cif_with_rows("tiny_5e5z_variant.cif", 18,
                                    [](std::vector<std::string>& w) {
                                      const int id = std::stoi(w[0]);
                                      w[17] = std::vector<std::string>{"0x2", "2.0", "x", "2e0",
                                                                       "99999999999"}[id % 5];
                                      if (id == 25) w[15] = "?";  // the library's reading ends
                                    }),
       "the reader takes 24 of the 48 atoms the text holds for model 2"},
      // The model 1 that the library makes of a TER record before MODEL
      // holds nothing else, and is dropped: model 2 is read whole.
      {"TER\n" + model(2, all), "47 atoms"},
      // Atom records the library does not read: a name in small letters,
      // a serial number of 7 digits from column 5.
      {joined(unread), "the reader takes 45 of the 47" + part},
      // A model number whose atoms two parts of a PDB text give, which the
      // library reads as one model holding both; an empty part does not
      // count, and mmCIF rows of one model need not be together.
      {model(1, all) + model(1, all), "line 50: model 1" + twice},
      {model(1, all) + model(2, ten) + model(1, ten), "line 62: model 1" + twice},
      {all + model(1, ten), "line 1: an atom" + outside},
      {model(3, ten) + "MODEL     3.0\n" + all, "line 13: model 3" + twice},
      {model(1, "") + model(1, all), "47 atoms"},
      // One stray atom before MODEL 2 (the reader's whole first model), atoms
      // before an empty MODEL 1, and records after ENDMDL; a missing ENDMDL
      // and atoms after END are read as before.
      {atoms[0] + "\n" + model(2, all), "line 1: an atom" + outside},
      {ten + model(1, "") + model(2, all), "line 1: an atom" + outside},
      {model(1, all) + ten + model(2, all), "line 50: an atom" + outside},
      {model(1, all) + "ANISOU   48  O   HOH A 101     2406   1892   1614    198    519   -328\n",
       "line 50: an ANISOU" + outside},
      {"MODEL        1\n" + all + "MODEL        2\n" + ten, "47 atoms"},
      {model(1, all) + "END\n" + ten, "47 atoms"},
      {damaged_files::cif_with_rows(
           "tiny_5e5z_variant.cif", 18,
           [](std::vector<std::string>& w) { w[17] = std::stoi(w[0]) % 3 == 0 ? "2" : "1"; }),
       "32 atoms"}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text.substr(0, 100));
    const String file = scratch.write("case", text);
    std::size_t n = 0;
    const std::string said = fatal_text([&] { n = read_model(file).atom_list().size(); });
    EXPECT_EQ(said == "no error" ? std::to_string(n) + " atoms" : said.substr(said.find(" : ") + 3),
              expected);
  }
}

// The library holds model numbers from 1 only: a file that gives one below 1
// has its models numbered from 1 in the order it gives them, in either form,
// and each is read with its own atoms (none merged with another) and
// written so in both forms (each read back as the same models). A number
// given twice in PDB is refused, as is a numbering from 1 past the 4
// columns of a MODEL record.
TEST(CoordinateFileFaults, ModelsNumberedBelowOneAreReadApart) {
  const model_testing::Scratch scratch;
  std::vector<std::string> atoms;
  for (const std::string& line : lines_of("tiny_5e5z.pdb"))
    if (line.rfind("ATOM", 0) == 0 || line.rfind("HETATM", 0) == 0) atoms.push_back(line);
  const std::string all = joined(atoms), ten = joined({atoms.begin(), atoms.begin() + 10});
  const auto model = [](const std::string& number, const std::string& text) {
    return "MODEL     " + std::string(4 - number.size(), ' ') + number + "\n" + text + "ENDMDL\n";
  };
  // Each model of a file read, with its atoms ("1:47 2:10 "), or the
  // refusal.
  const auto models_of = [](const String& file) {
    std::string said;
    const std::string fault = fatal_text([&] {
      MMDBfile in;
      in.read_file(file);
      for (int m = 1; m <= in.GetNumberOfModels(); ++m)
        if (mmdb::Model* model = in.GetModel(m))
          said += std::to_string(model->GetSerNum()) + ":" +
                  std::to_string(model->GetNumberOfAtoms(false)) + " ";
    });
    return fault == "no error" ? said : fault.substr(fault.find(" : ") + 3);
  };
  // The model numbers a file gives, in its order (the first model with all
  // the atoms, each other with the first ten), and those read.
  const std::vector<std::pair<std::vector<std::string>, std::vector<int>>> cases = {
      {{"0"}, {1}},
      {{"-1"}, {1}},
      {{"0", "1"}, {1, 2}},
      {{"1", "0"}, {1, 2}},
      {{"5", "0", "3"}, {1, 2, 3}},
      {{"2e0", "-0.6"}, {1, 2}},  // read as strtod reads them, rounded
      {{"3", "5"}, {3, 5}}};      // none below 1: each keeps its number
  for (const auto& [given, read] : cases) {
    std::string pdb;
    for (std::size_t i = 0; i < given.size(); ++i) pdb += model(given[i], i == 0 ? all : ten);
    std::string crlf = pdb;
    for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2)
      crlf.insert(at, "\r");
    for (const auto& [form, text, first] :
         std::vector<std::tuple<std::string, std::string, std::size_t>>{
             {"PDB", pdb, atoms.size()},
             {"PDB, CR LF", crlf, atoms.size()},
             {"mmCIF", cif_models(given), 48}}) {
      SCOPED_TRACE(form + " " + text.substr(0, 20));
      std::map<int, std::size_t> counts;  // the models expected, lowest number first
      for (std::size_t i = 0; i < read.size(); ++i) counts[read[i]] = i == 0 ? first : 10;
      std::string models;
      for (const auto& [number, count] : counts)
        models += std::to_string(number) + ":" + std::to_string(count) + " ";
      const String source = scratch.write("case", text);
      const std::string said = models_of(source);
      EXPECT_EQ(said, models);
      if (said != models) continue;
      MMDBfile in;
      in.read_file(source);
      for (const auto written : {MMDBManager::PDB, MMDBManager::CIF}) {
        in.write_file(scratch.path("written"), written);
        EXPECT_EQ(models_of(scratch.path("written")), models) << written;
      }
    }
  }
  std::string many = model("0", atoms[0] + "\n");
  for (int n = 1; n <= 9999; ++n) many += model(std::to_string(n), atoms[0] + "\n");
  const std::vector<std::pair<std::string, std::string>> refused = {
      {model("0", all) + model("0", ten),
       "line 50: model 0 is given a second time (the reader would take both as one model)"},
      {many,
       "line 29998: model 9999 would be read as model 10000 (the file's models are numbered from "
       "1, as it gives one below 1), which columns 11-14 cannot hold"}};
  for (const auto& [text, expected] : refused) {
    const String file = scratch.write("refused.pdb", text);
    const std::string said = fatal_text([&] { MMDBfile().read_file(file); });
    EXPECT_EQ(said, "MMDBfile: read_file error: " + file + " : " + expected);
  }
}

// The read's count compares the atoms each model holds with those the
// text gives it, more as well as fewer: the library alone reads an mmCIF
// model 0 into model 1 with the rows of model 1.
TEST(CoordinateFileFaults, AtomCountComparesEachModelBothWays) {
  const model_testing::Scratch scratch;
  const String merged = scratch.write("merged.cif", cif_models({"0", "1"}));
  const String two = scratch.write("two.cif", cif_models({"2"}));
  // The file the library alone reads, the atoms the text gives by model,
  // and what the count says.
  const std::vector<std::tuple<String, std::map<int, std::size_t>, std::string>> cases = {
      {merged,
       {{1, 48}, {2, 10}},
       "the reader takes 58 atoms into model 1, where the text holds 48"},
      {two, {{1, 48}}, "the reader takes 0 of the 48 atoms the text holds for model 1"},
      {two, {}, "the reader takes 48 atoms into model 2, where the text holds 0"},
      {two, {{2, 48}}, "no error"}};
  for (const auto& [file, given, expected] : cases) {
    mmdb::Manager library;
    ASSERT_EQ(library.ReadCoorFile(file.c_str()), 0);
    mmdb_internal::Model_atoms in_text;
    in_text.by_number = given;
    const std::string said =
        fatal_text([&] { mmdb_internal::check_atom_count(library, file, in_text); });
    EXPECT_EQ(said == "no error" ? said : said.substr(said.find(" : ") + 3), expected) << file;
  }
}

// The library fails on every _struct_ncs_oper loop (code 23), whatever its
// rows hold, and takes nothing from the one-row form: the operators are left
// out, and the model is the one read without them.
TEST(CoordinateFileFaults, CifNcsOperatorsReadAsWithoutThem) {
  const model_testing::Scratch scratch;
  const std::string cif = slurp(vantrel_testing::fixture_path("sm_1dur.cif"));
  const std::size_t atom_loop = cif.rfind("loop_", cif.find("\n_atom_site."));
  const Atom_list plain = read_model("sm_1dur.cif").atom_list();
  const std::string tags =
      "loop_\n_struct_ncs_oper.id\n_struct_ncs_oper.code\n"
      "_struct_ncs_oper.details\n_struct_ncs_oper.vector[1]\n";
  for (const std::string& operators :
       {tags + "1 given ? 0\n2 generate ? 5.0\n", tags + "1 given . 0\n2 generate . 5.0\n",
        std::string("loop_\n_STRUCT_NCS_OPER.id\n1\n"),
        std::string("_struct_ncs_oper.id 2\n_struct_ncs_oper.details ?\n")}) {
    SCOPED_TRACE(operators);
    const String file = scratch.write("ncs.cif", std::string(cif).insert(atom_loop, operators));
    const Atom_list read = read_model(file).atom_list();
    ASSERT_EQ(read.size(), plain.size());
    for (std::size_t i = 0; i < read.size(); ++i)
      EXPECT_TRUE(read[i].coord_orth().equals(plain[i].coord_orth(), 0) &&
                  read[i].u_iso() == plain[i].u_iso() && read[i].element() == plain[i].element())
          << i;
  }
}
