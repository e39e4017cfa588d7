// Files the MTZ layer refuses, by what is wrong: outputs that must not be
// replaced, inputs it may not or cannot read, and files whose content the
// library cannot take or would write back wrongly. Each refusal is one fatal
// message naming the file, and leaves nothing behind.
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "mtz/mtz_file.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using mtz_testing::cell_records;
using mtz_testing::directory_entries;
using mtz_testing::read_all;
using mtz_testing::read_bytes;
using mtz_testing::scratch;
using mtz_testing::write_bytes;
using vantrel_testing::as_unprivileged;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;
using vantrel_testing::link_text;
using vantrel_testing::mode_and_owner;

namespace {

const std::string tiny = fixture_path("tiny_5e5z.mtz");

// A copy of a file (tiny_5e5z.mtz unless named) with header texts
// replaced, each by one of the same length.
std::string edited(const std::string& name,
                   const std::vector<std::pair<std::string, std::string>>& edits,
                   const std::string& source = tiny) {
  std::string bytes = read_bytes(source);
  for (const auto& e : edits) bytes = mtz_testing::with_text(bytes, e.first, e.second);
  return write_bytes(scratch(name), bytes);
}

std::string append(const std::string& in, const std::string& out) {
  return fatal_text([&] {
    CCP4MTZfile file;
    file.open_append(in, out);
    file.close_append();
  });
}

bool starts_with(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

}  // namespace

// ---------------------------------------------------------------- outputs

// An existing output that is not a regular file the user may write is
// refused before anything is written, by append and new file alike; the
// special file stays what it was and nothing appears beside it.
TEST(MtzOutputs, SpecialAndReadOnlyTargetsAreRefused) {
  const std::string dir = scratch("targets");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string fifo = mtz_testing::remember(dir + "/fifo.mtz"),
                    sub = mtz_testing::remember(dir + "/sub.mtz"),
                    kept = mtz_testing::remember(dir + "/kept.mtz");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  write_bytes(kept, "read-only");
  ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
  const std::vector<std::string> before = directory_entries(dir);
  const std::pair<std::string, std::string> cases[] = {
      {fifo, "not a regular file"},
      {"/dev/null", "not a regular file"},
      {sub, "not a regular file"},
      {kept, geteuid() == 0 ? "the file is read-only" : "permission denied"}};
  for (const auto& c : cases) {
    const std::string text = "CCP4MTZfile: cannot write " + c.first + ": " + c.second;
    EXPECT_EQ(append(tiny, c.first), text);
    EXPECT_EQ(fatal_text([&] { CCP4MTZfile().open_write(c.first); }), text);
  }
  struct stat st;
  EXPECT_TRUE(stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
  EXPECT_TRUE(stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
  EXPECT_EQ(read_bytes(kept), "read-only");
  EXPECT_EQ(directory_entries(dir), before);
}

// The file being written has a name of its own: whatever lies beside the
// target under another name (a file, or a link to a file) is not touched.
TEST(MtzOutputs, NeighboursOfTheTargetAreUntouched) {
  const std::string dir = scratch("neighbours");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string out = mtz_testing::remember(dir + "/out.mtz"),
                    other = mtz_testing::remember(dir + "/other.mtz"),
                    target = mtz_testing::remember(dir + "/target");
  for (const std::string& name : {out + ".partial", out + ".tmp"}) {
    mtz_testing::remember(name);
    ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0);
  }
  write_bytes(mtz_testing::remember(other + ".partial"), "mine");
  write_bytes(target, "the link's target");
  EXPECT_EQ(append(tiny, out), "no error");
  EXPECT_EQ(append(tiny, other), "no error");
  EXPECT_EQ(mtz_testing::Raw_mtz(out).nref(), 441);
  EXPECT_EQ(mtz_testing::Raw_mtz(other).nref(), 441);
  EXPECT_EQ(read_bytes(target), "the link's target");
  EXPECT_EQ(read_bytes(other + ".partial"), "mine");
  EXPECT_EQ(directory_entries(dir),
            (std::vector<std::string>{"other.mtz", "other.mtz.partial", "out.mtz",
                                      "out.mtz.partial", "out.mtz.tmp", "target"}));
}

// The reflections of a new file written by write_new.
HKL_info new_list() {
  return HKL_info(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(20, 25, 30, 90, 90, 90)),
                  Resolution(4.0), true);
}

// A new file of one P1 crystal with every value missing; "no error" or the
// fatal message.
std::string write_new(const std::string& out) {
  return fatal_text([&] {
    const HKL_info list = new_list();
    HKL_data<F_sigF<float>> data(list);
    CCP4MTZfile file;
    file.open_write(out);
    file.export_hkl_info(list);
    file.export_hkl_data(data, "/*/*/F");
    file.close_write();
  });
}

// An output named through a link, by append and new file alike, writes the
// file the link leads to (also through a chain, or a link to a file not
// made yet); the links stay and nothing else appears.
TEST(MtzOutputs, LinkedTargetsAreWrittenThroughTheLink) {
  const std::string dir = scratch("linked");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string appended = write_bytes(mtz_testing::remember(dir + "/appended.mtz"), "old"),
                    made = write_bytes(mtz_testing::remember(dir + "/made.mtz"), "old"),
                    fresh = mtz_testing::remember(dir + "/fresh.mtz");
  // Link name, link text, the file written, whether by append.
  const std::vector<std::tuple<std::string, std::string, std::string, bool>> cases = {
      {"to_appended.mtz", "appended.mtz", appended, true},
      {"chain.mtz", "to_appended.mtz", appended, true},
      {"to_made.mtz", made, made, false},
      {"to_fresh.mtz", "fresh.mtz", fresh, true}};
  for (const auto& [name, text, file, by_append] : cases)
    ASSERT_EQ(symlink(text.c_str(), mtz_testing::remember(dir + "/" + name).c_str()), 0);
  std::vector<std::string> expected = directory_entries(dir);
  expected.insert(expected.begin() + 2, "fresh.mtz");
  for (const auto& [name, text, file, by_append] : cases) {
    SCOPED_TRACE(name);
    const std::string link = dir + "/" + name;
    if (file != fresh) write_bytes(file, "old");
    EXPECT_EQ(by_append ? append(tiny, link) : write_new(link), "no error");
    EXPECT_EQ(link_text(link), text);
    EXPECT_EQ(mtz_testing::Raw_mtz(file).nref(), by_append ? 441 : new_list().num_reflections());
  }
  EXPECT_EQ(directory_entries(dir), expected);
}

// An existing output the user may write, in a directory the user may not
// write, is written in place and keeps its owner and permissions; a new
// file there is still refused. The run as that user reads a copy of the
// input in its own scratch directory, which holds no temporary afterwards.
TEST(MtzOutputs, WritableTargetInAClosedDirectoryIsWrittenInPlace) {
  const bool root = geteuid() == 0;
  const std::string closed = scratch("closed"), tmp = scratch("tmpdir");
  ASSERT_EQ(mkdir(closed.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(tmp.c_str(), 0777), 0);
  ASSERT_EQ(chmod(tmp.c_str(), 0777), 0);
  const std::string copy = write_bytes(mtz_testing::remember(tmp + "/in.mtz"), read_bytes(tiny)),
                    out = write_bytes(mtz_testing::remember(closed + "/out.mtz"), "old"),
                    fresh = closed + "/new.mtz";
  ASSERT_EQ(chmod(copy.c_str(), 0644), 0);
  ASSERT_EQ(chmod(out.c_str(), 0620), 0);
  if (root) {
    ASSERT_EQ(chown(out.c_str(), vantrel_testing::unprivileged_id, 0), 0);
  } else {
    ASSERT_EQ(chmod(closed.c_str(), 0555), 0);
  }
  const std::vector<unsigned> was = mode_and_owner(out);
  const std::string seen = as_unprivileged([&] {
    setenv("TMPDIR", tmp.c_str(), 1);
    const std::string text = append(copy, out) + "\n" + write_new(fresh);
    unsetenv("TMPDIR");
    return text;
  });
  if (!root) {
    ASSERT_EQ(chmod(closed.c_str(), 0755), 0);
  }
  EXPECT_EQ(seen, "no error\nCCP4MTZfile: cannot write " + fresh + ": directory " + closed +
                      ": permission denied");
  EXPECT_EQ(mtz_testing::Raw_mtz(out).nref(), 441);
  EXPECT_EQ(mode_and_owner(out), was);
  EXPECT_EQ(directory_entries(closed), std::vector<std::string>{"out.mtz"});
  EXPECT_EQ(directory_entries(tmp), std::vector<std::string>{"in.mtz"});
}

// The copy keeps each crystal's own cell: the base cell (the CELL record
// and dataset 0) is not replaced by the data crystal's.
TEST(MtzOutputs, CopyKeepsEveryCrystalsCell) {
  const std::string in = edited("cells.mtz", {{"DCELL         1     9.6430    9.6090   19.0290",
                                               "DCELL         1     9.7430    9.6590   19.2290"}});
  const std::string out = scratch("cells_out.mtz");
  ASSERT_EQ(append(in, out), "no error");
  const std::vector<std::string> records = cell_records(in);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_NE(records[1].substr(16), records[2].substr(16));
  EXPECT_EQ(cell_records(out), records);
  CCP4MTZfile file;
  file.open_read(out);
  MTZcrystal crystal;
  file.import_crystal(crystal, "/5e5z/*/FP");
  EXPECT_NEAR(crystal.a(), 9.743, 1e-4);
  EXPECT_NEAR(file.cell().a(), 9.643, 1e-4);
  file.close_read();
}

// A crystal whose cell the file's records cannot hold is refused before
// anything is written.
TEST(MtzOutputs, CellsBeyondTheRecordsAreRefused) {
  const std::string out = scratch("big.mtz");
  const HKL_info list(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(20, 25, 30, 90, 90, 90)),
                      Resolution(4.0), true);
  HKL_data<F_sigF<float>> data(list);
  CCP4MTZfile file;
  file.open_write(out);
  file.export_hkl_info(list);
  file.export_hkl_data(data, MTZdataset("d", 1.0),
                       MTZcrystal("big", "p", Cell(Cell_descr(1.0e5, 25, 30, 90, 90, 90))),
                       "/big/d/F");
  EXPECT_TRUE(starts_with(fatal_text([&] { file.close_write(); }),
                          "CCP4MTZfile: Invalid cell of crystal big: "));
  EXPECT_FALSE(mtz_testing::file_exists(out));
}

// ---------------------------------------------------------------- inputs

// Paths that are no readable regular file are refused before any reader
// opens them (a FIFO would block it).
TEST(MtzInputs, SpecialAndUnreadableFilesAreRefused) {
  const std::string fifo = scratch("fifo.mtz"), dir = scratch("dir.mtz"),
                    locked = write_bytes(scratch("locked.mtz"), read_bytes(tiny));
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(chmod(locked.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir}) {
    EXPECT_EQ(read_all(path), "CCP4MTZfile: cannot read " + path + ": not a regular file");
    EXPECT_EQ(append(path, scratch("out.mtz")),
              "CCP4MTZfile: cannot read " + path + ": not a regular file");
  }
  EXPECT_EQ(as_unprivileged([&] { return read_all(locked); }),
            "CCP4MTZfile: cannot read " + locked + ": permission denied");
  EXPECT_EQ(read_all(locked), geteuid() == 0 ? "no error" : "permission denied");
}

// A close that fails (no file can be opened, as when the process has run
// out of descriptors) leaves the object closed: the destructor does not
// read again into data objects that may be gone, and reports nothing.
TEST(MtzInputs, FailedCloseLeavesTheObjectClosed) {
  const std::string seen = vantrel_testing::in_child([] {
    auto file = std::make_unique<CCP4MTZfile>();
    std::string text;
    {
      HKL_data<F_sigF<float>> data;
      file->open_read(tiny);
      file->import_hkl_data(data, "/*/*/[FP,SIGFP]");
      if (!vantrel_testing::failing_call(SYS_openat, EMFILE)) return std::string("no filter");
      text = fatal_text([&] { file->close_read(); });
    }
    text += "\n" + fatal_text([&] { file->close_read(); });
    vantrel_testing::Quiet_messages quiet;
    file.reset();
    return text + "\n" + quiet.text();
  });
  EXPECT_EQ(seen, "CCP4MTZfile: close_read - File missing or corrupted: " + tiny +
                      "\nCCP4MTZfile: no file open for read\n");
}

// A failure while registering unwinds past data objects declared after the
// file: its destructor must not fill (or read) them.
TEST(MtzInputs, UnwindingPastTheFileMovesNoRows) {
  const char* const cases[][2] = {{"/*/*/[HLA,HLB,HLC,HLD]", "/*/*/HLA"},
                                  {"/*/*/[FP,SIGFP,FP,NOPE]", "/*/*/NOPE"}};
  for (const auto& c : cases)
    EXPECT_EQ(
        fatal_text([&] {
          CCP4MTZfile file;
          file.open_read(tiny);
          HKL_data<F_sigF<float>> fsigf;
          HKL_data<ABCD<float>> abcd;
          file.import_hkl_data(fsigf, "/*/*/[FP,SIGFP]");
          file.import_hkl_data(abcd, c[0]);
        }),
        std::string("CCP4MTZfile: import_hkl_data - Missing column, crystal or dataset: ") + c[1]);
}

// ---------------------------------------------------------------- file formats

// Headers the library crashes on, or that it would write back wrongly, or
// whose symmetry does not fit the cell: each refused with what is wrong.
TEST(MtzFormats, UnsoundHeadersAreRefusedWithTheReason) {
  const std::string dcell1 = "DCELL         1     9.6430    9.6090   19.0290   90.0000";
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> edits;
    std::string message;  // after "CCP4MTZfile: open_read - "; the file name follows
    std::string detail;   // what does not fit, after the file name
  } cases[] = {
      {"hkl_base.mtz",
       {{"DATASET       1 1       ", "DATASET       1 HKL_base"}},
       "a dataset named HKL_base belongs to another project or crystal: ",
       ""},
      {"edge.mtz",
       {{dcell1, "DCELL         1 100000.000    9.6090   19.0290   90.0000"}},
       "File missing or corrupted: DCELL record: an edge of 100000 A (edges run from 1 A to "
       "below 100000 A): ",
       ""},
      {"base_edge.mtz",
       {{"DCELL         0     9.6430", "DCELL         0 100000.000"}},
       "File missing or corrupted: DCELL record: an edge of 100000 A (edges run from 1 A to "
       "below 100000 A): ",
       ""},
      {"angle.mtz",
       {{dcell1, "DCELL         1     9.6430    9.6090   19.0290  180.0000"}},
       "File missing or corrupted: DCELL record: an angle of 180 degrees (angles lie between 0 "
       "and 180): ",
       ""},
      {"unmerged.mtz",
       {{"NCOL        8          441        0", "NCOL        8          441        1"}},
       "unmerged MTZ files are not supported: ",
       ""},
      {"no_sort.mtz",  // the library would take its sort order from unset memory
       {{"SORT    0   0   0   0   0", "TITLE                    "}},
       "the header has no SORT record: ",
       ""},
      {"point_group.mtz",  // longer than the library's field for it
       {{"'P 1 21 1'   PG2        ", "'P 1 21 1'   PG2CRYSTAL2"}},
       "File missing or corrupted: SYMINF record: a space-group name over 20 or point-group name "
       "over 10 characters: ",
       ""},
      {"no_point_group.mtz",  // the library fails, leaking the header it read
       {{"'P 1 21 1'   PG2        ", "'P 1 21 1'              "}},
       "File missing or corrupted: SYMINF record: no point-group name: ",
       ""},
      {"screw_c.mtz",
       {{"SYMM -X,  Y+1/2,  -Z", "SYMM -X,  -Y,  Z+1/2"}},
       "Symmetry does not fit crystal HKL_base in: ",
       ": operator -x, -y, z+1/2 does not fit the cell"},
      {"gamma120.mtz",
       {{"90.0000  101.2240   90.0000", "90.0000  101.2240  120.0000"}},
       "Symmetry does not fit crystal HKL_base in: ",
       ": operator -x, y+1/2, -z does not fit the cell"},
      {"lone.mtz",
       {{"SYMINF   2  2", "SYMINF   1  1"},
        {"SYMM X,  Y,  Z     ", "SYMM X+1/2,  Y,  Z "},
        {"SYMM -X,  Y+1/2,  -Z", "TITLE               "}},
       "Symmetry does not fit crystal HKL_base in: ",
       ": the operators do not form a group: x+1/2, y, z times x+1/2, y, z gives x, y, z"}};
  for (const auto& c : cases) {
    const std::string path = edited(c.name, c.edits);
    const std::string text = read_all(path);
    EXPECT_TRUE(starts_with(text, "CCP4MTZfile: open_read - " + c.message + path + c.detail))
        << text;
    if (c.detail.empty()) {
      EXPECT_EQ(text, "CCP4MTZfile: open_read - " + c.message + path);
    }
    EXPECT_TRUE(starts_with(append(path, scratch("out.mtz")),
                            "CCP4MTZfile: open_append - " + c.message + path + c.detail));
  }
}

// A label list names the components in order: those it leaves out are
// missing in every reflection. A list of no label, or of more labels than
// the data have components, is refused.
TEST(MtzFormats, LabelListsNameLeadingComponents) {
  const std::vector<mtz_testing::Row> rows = mtz_testing::read_small_rows();
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  HKL_info list;
  file.import_hkl_info(list, false);
  HKL_data<F_sigF<float>> fsigf(list), fonly(list), other(list);
  HKL_data<ABCD<float>> abcd(list);
  const std::pair<HKL_data_base*, std::string> cases[] = {{&fsigf, "/*/*/[FP,SIGFP,I]"},
                                                          {&fsigf, "/*/*/[]"},
                                                          {&abcd, "/*/*/[HLA,HLB,HLC,HLD,FP]"}};
  for (const auto& c : cases)
    EXPECT_EQ(fatal_text([&] { file.import_hkl_data(*c.first, c.second); }),
              "CCP4MTZfile: import_hkl_data - Column list must name 1 to " +
                  std::to_string(c.first->data_size()) + " columns: " + c.second);
  EXPECT_TRUE(file.assigned_paths().empty());
  file.import_hkl_data(fonly, "/*/*/[FP]");
  EXPECT_EQ(file.assigned_paths(), (std::vector<String>{"/xtal/d1/FP F", "/*/*/NAN -"}));
  MTZdataset dataset;
  MTZcrystal crystal;
  file.import_hkl_data(other, dataset, crystal, "/xtal2/*/[FX]");
  EXPECT_EQ(dataset.dataset_name() + " " + crystal.crystal_name(), "d2 xtal2");
  file.import_hkl_data(abcd, "/*/*/[HLA,HLB]");
  file.close_read();
  int filled = 0;
  for (const mtz_testing::Row& row : rows) {
    const HKL hkl(row.h, row.k, row.l);
    if (std::abs(row.h) == 1 && std::abs(row.k) == 2) continue;  // (1,2,3) and its mates
    EXPECT_TRUE(std::isnan(row.values[0]) ? Util::is_nan(fonly[hkl].f())
                                          : fonly[hkl].f() == float(row.values[0]));
    EXPECT_TRUE(Util::is_nan(fonly[hkl].sigf()));
    EXPECT_TRUE(Util::is_nan(abcd[hkl].c()) && Util::is_nan(abcd[hkl].d()));
    filled += !Util::is_nan(fonly[hkl].f()) && !Util::is_nan(abcd[hkl].a());
  }
  EXPECT_GT(filled, 40);
}

// Names the library's parser misreads, and records it leaks on, in a file
// whose other names and labels it reads intact: each refused with what was
// found.
TEST(MtzFormats, NamesTheParserMisreadsAreRefused) {
  const std::string odd = fixture_path("mtz_odd_names.mtz");
  const struct {
    std::pair<std::string, std::string> edit;
    std::string found;
  } cases[] = {{{"DATASET       1 peak-", "DATASET       1 pe,k-"},  // reads as "pe"
                "DATASET record: a name or label holding \",\""},
               {{"DATASET       1 peak-", "DATASET       1 pe=k-"},
                "DATASET record: a name or label holding \"=\""},
               {{"DATASET       1 peak-", "DATASET       1 pe!k-"},  // a comment ends the record
                "DATASET record: a comment mark (! or #)"},
               {{"DATASET       1 peak-", "DATASET       1 pe#k-"},
                "DATASET record: a comment mark (! or #)"},
               {{"DATASET       1 peak-", "DATASET       1 'pea'"},  // reads as pea
                "DATASET record: a name or label opening with a quote ('pea')"},
               {{"DATASET       1 peak-", "DATASET       1 -    "},  // a continuation: empty name
                "DATASET record: a continuation mark \"-\" at its end"},
               {{"CRYSTAL       1 x\"y", "CRYSTAL       1 \"xy"},
                "CRYSTAL record: a name or label opening with a quote (\"xy)"},
               {{"COLUMN F'  ", "COLUMN 'F  "},  // an open quote swallows the record
                "COLUMN record: a name or label opening with a quote ('F)"},
               {{"COLUMN F'  ", "COLUMN F#  "}, "COLUMN record: a comment mark (! or #)"},
               {{"DWAVEL        1    0.98000  ", "DWAVEL        1    0.98000 &"},  // leaks
                "DWAVEL record: a continuation mark \"&\" at its end"}};
  const auto read = [](const std::string& path) {
    return fatal_text([&] {
      CCP4MTZfile file;
      file.open_read(path);
      HKL_data<F_sigF<float>> data;
      file.import_hkl_data(data, "/*/*/[F\",SIGF\"]");
      file.close_read();
    });
  };
  EXPECT_EQ(read(odd), "no error");
  for (const auto& c : cases) {
    const std::string path = edited("odd.mtz", {c.edit}, odd);
    EXPECT_EQ(read(path),
              "CCP4MTZfile: open_read - File missing or corrupted: " + c.found + ": " + path);
  }
}

// Unmerged data without batch headers: a column of batch numbers (B) or of
// the symmetry flag (Y) is enough to refuse it; with neither it reads.
TEST(MtzFormats, UnmergedColumnsAreRefused) {
  const std::string source = fixture_path("mtz_unmerged.mtz");
  const std::string batch = "COLUMN BATCH                          B",
                    isym = "COLUMN M/ISYM                         Y";
  const std::string as_r[2] = {batch.substr(0, 38) + "R", isym.substr(0, 38) + "R"};
  const struct {
    std::vector<std::pair<std::string, std::string>> edits;
    std::string outcome;
  } cases[] = {{{}, "unmerged MTZ files are not supported: "},
               {{{batch, as_r[0]}}, "unmerged MTZ files are not supported: "},
               {{{isym, as_r[1]}}, "unmerged MTZ files are not supported: "},
               {{{batch, as_r[0]}, {isym, as_r[1]}}, ""}};
  for (const auto& c : cases) {
    const std::string path = edited("unmerged.mtz", c.edits, source);
    const std::string read = fatal_text([&] {
      CCP4MTZfile file;
      file.open_read(path);
      HKL_data<I_sigI<float>> data;
      file.import_hkl_data(data, "/*/*/[I,SIGI]");
      file.close_read();
    });
    if (c.outcome.empty()) {
      EXPECT_EQ(read, "no error");
      continue;
    }
    EXPECT_EQ(read, "CCP4MTZfile: open_read - " + c.outcome + path);
    EXPECT_EQ(append(path, scratch("out.mtz")), "CCP4MTZfile: open_append - " + c.outcome + path);
  }
}

// A header record: the text padded to 80 characters.
std::string record(const std::string& text) { return text + std::string(80 - text.size(), ' '); }

// Header records the library crashes on, misreads (rows vanish, or the
// indices come from another column) or leaks on, each refused with what was
// found before the library reads them; their sound neighbours read.
TEST(MtzFormats, HeadersTheLibraryMisreadsAreRefusedWithWhatWasFound) {
  const std::string project = record("PROJECT       1 5e5z"),
                    crystal = record("CRYSTAL       1 5e5z"), dataset = record("DATASET       1 1"),
                    sort = "SORT    0   0   0   0   0",
                    reso = record("RESO 0.0028703967109323   0.3611701726913452"),
                    source = record(
                        "COLSRC FP                             CREATED_17/05/2019_12:15:14"
                        "              1"),
                    fp = "COLSRC FP                             ";
  const std::string dcell1 = "DCELL         1     9.6430    9.6090   19.0290   ";
  const std::string name64(64, 'n'), name65(65, 'n'), name70(70, 'n');
  const struct {
    std::vector<std::pair<std::string, std::string>> edits;
    std::string found;  // "" when the file reads
  } cases[] = {
      // Sort indices beyond the columns: the sort order is left unset, or
      // read out of bounds.
      {{{sort, "SORT    8   0   0   0   0"}}, ""},
      {{{sort, "SORT    0   0   0   0   9"}}, "the SORT record names column 9 of 8"},
      {{{sort, "SORT    11944 0 0 0 0    "}}, "the SORT record names column 11944 of 8"},
      // Names the library's fields cannot hold abort the process.
      {{{project, record("PROJECT 1 " + name64)}}, ""},
      {{{project, record("PROJECT 1 " + name65)}},
       "PROJECT record: a name longer than the 64 characters the CCP4 library holds"},
      {{{crystal, record("CRYSTAL 1 " + name70)}},
       "CRYSTAL record: a name longer than the 64 characters the CCP4 library holds"},
      {{{dataset, record("DATASET 1 " + name65)}},
       "DATASET record: a name longer than the 64 characters the CCP4 library holds"},
      {{{dataset, record("DATASET       1 my data")}},
       "DATASET record: a name with a blank \"my data\""},
      {{{project, record("PROJECT       1 proj one")}},
       "PROJECT record: a name with a blank \"proj one\""},
      // An index label given twice: the later column would be the index.
      {{{"COLUMN I ", "COLUMN H "}, {"COLSRC I ", "COLSRC H "}},
       "COLUMN record: the index label H given to a second column"},
      {{{"COLUMN SIGI ", "COLUMN L    "}, {"COLSRC SIGI ", "COLSRC L    "}},
       "COLUMN record: the index label L given to a second column"},
      {{{"COLUMN SIGI ", "COLUMN FP   "}, {"COLSRC SIGI ", "COLSRC FP   "}}, ""},
      // Resolution limits the library reads every row under, and marks that
      // make rows vanish.
      {{{reso, record("RESO 0.0028703967109323   0")}}, ""},
      {{{reso, record("RESO 0.0028703967109323   -1")}}, ""},
      {{{reso, record("RESO 0.0028703967109323   1e-30")}}, ""},
      {{{reso, record("RESO 0.3611701726913452   0.0028703967109323")}}, ""},
      {{{reso, record("RESO 18.665044863474495   1.6639645192598425")}}, ""},
      {{{reso, record("RESO 0   0.3611701726913452")}}, ""},
      {{{reso, record("TITLE")}}, ""},
      {{{reso, record("RESO 0.0028703967109323   0x1p-2")}},
       "RESO record: a number \"0x1p-2\" that is not plain decimal"},
      {{{"VALM NAN", "VALM 0  "}},
       "a missing-value mark (VALM 0) that is also an index of the file"},
      {{{"VALM NAN", "VALM -5 "}},
       "a missing-value mark (VALM -5) that is also an index of the file"},
      {{{"VALM NAN", "VALM 12 "}}, ""},
      {{{"VALM NAN", "VALM 0.5"}}, ""},
      // Numbers as the library reads them: plain decimals, in single
      // precision (which makes this mark 1, an index).
      {{{"VALM NAN          ", "VALM 0.99999999999"}},
       "a missing-value mark (VALM 1) that is also an index of the file"},
      {{{"VALM NAN   ", "VALM 0x7fff"}},
       "VALM record: a number \"0x7fff\" that is not plain decimal"},
      {{{"2.13540006", "       0x2"}},
       "COLUMN record: a range bound \"0x2\" that is not plain decimal"},
      {{{"2.13540006        146.108994", "       NaN               NaN"}}, ""},
      // Cells the library keeps otherwise than written, or no crystal has.
      {{{"DCELL         1     9.6430", "DCELL         1      1e-45"}},
       "DCELL record: a number \"1e-45\" beyond single precision"},
      {{{"DCELL         0     9.6430", "DCELL         0     0.0010"}},
       "DCELL record: an edge of 0.001 A (edges run from 1 A to below 100000 A)"},
      {{{"DCELL         0", "TITLE          "}, {"CELL     9.6430", "CELL      1e-30"}},
       "CELL record: an edge of 1e-30 A (edges run from 1 A to below 100000 A)"},
      {{{dcell1 + "90.0000  101.2240   90.0000", dcell1 + "10.0000   10.0000  170.0000"}},
       "DCELL record: angles that enclose no volume"},
      // Source and group records the library fails on, leaking the header.
      {{{source, record(fp + "1")}},
       "COLSRC record: other than one word between the label and the dataset id"},
      {{{source, record(fp + "a b c d e f g 1")}},
       "COLSRC record: other than one word between the label and the dataset id"},
      {{{source, record(fp + "by_hand 1")}}, ""},
      {{{source, record("COLGRP FP                             F 1")}},
       "COLGRP record: other than three words between the label and the dataset id"},
      {{{source, record("COLGRP FP                             grp F 1 2 1")}},
       "COLGRP record: other than three words between the label and the dataset id"},
      {{{source, record("COLGRP FP                             grp F 1 1")}}, ""},
      // The library's tables hold 10,000 columns.
      {{{"NCOL        8", "NCOL    10001"}},
       "NCOL record: more than the 10000 columns the CCP4 library holds (10001)"},
      {{{"NCOL        8", "NCOL    10000"}}, "the NCOL record gives 10000 columns, the header 8"}};
  for (const auto& c : cases) {
    const std::string path = edited("header.mtz", c.edits);
    SCOPED_TRACE(c.edits[0].second);
    if (c.found.empty()) {
      EXPECT_EQ(read_all(path), "no error");
      continue;
    }
    const std::string what = "File missing or corrupted: " + c.found + ": " + path;
    EXPECT_EQ(read_all(path), "CCP4MTZfile: open_read - " + what);
    EXPECT_EQ(append(path, scratch("out.mtz")), "CCP4MTZfile: open_append - " + what);
  }
  // The machine stamp's float format: IEEE floats in the integers' byte
  // order (4, or 0 for the machine's own), else the values come out changed.
  const std::pair<char, std::string> stamps[] = {
      {'\x44', ""}, {'\x04', ""}, {'\x14', "0x14"}, {'\x24', "0x24"}, {'\x54', "0x54"}};
  for (const auto& [byte, found] : stamps) {
    std::string bytes = read_bytes(tiny);
    bytes[8] = byte;
    const std::string path = write_bytes(scratch("stamp.mtz"), bytes);
    EXPECT_EQ(read_all(path),
              found.empty() ? "no error"
                            : "CCP4MTZfile: open_read - File missing or corrupted: a machine stamp "
                              "whose float format the CCP4 library cannot read (" +
                                  found + "): " + path);
  }
}

// The library itself is the oracle for the header's numbers: a VALM mark
// the header rules take, the library reads as the number it shows; each
// one they refuse, it reads otherwise (0 for hexadecimal and words, 150000
// for "1e5.5", infinity, or a denormal that lost its digits).
TEST(MtzFormats, NumbersAreTakenOnlyWhereTheLibraryReadsThemAsWritten) {
  const std::pair<const char*, bool> cases[] = {
      {"250.5", true},   {"+250.5", true}, {"-.25e+2", true}, {"2505E-1", true}, {"70.", true},
      {"0x7fff", false}, {"0x1p8", false}, {"inf", false},    {"nan", false},    {"1e5.5", false},
      {"1d3", false},    {"1e39", false},  {"1e-45", false},  {"1e-50", false}};
  for (const auto& [word, taken] : cases) {
    const std::string path =
        edited("valm.mtz", {{record("VALM NAN"), record(std::string("VALM ") + word)}});
    const mtz_testing::Raw_mtz raw(path);
    ASSERT_TRUE(raw) << word;
    const double shown = std::strtod(word, nullptr), kept = raw->mnf.fmnf;
    EXPECT_EQ(std::isfinite(shown) && std::fabs(kept - shown) <= 1e-7 * std::fabs(shown), taken)
        << word << " is read as " << kept;
    EXPECT_EQ(read_all(path) == "no error", taken) << word;
  }
}

// Rows that no reflection list holds: indices that are missing (NaN, or
// the VALM mark where the header's index ranges were stale), past 100000 or
// not whole numbers are refused by reading, with both counts (an append
// copies those rows as they are); indices whose limit no list of
// the cell reaches, and a limit too coarse for the cell, are refused by
// reading and appending alike. gemmi reads all 441 rows of each.
TEST(MtzFormats, RowsNoReflectionListHoldsAreRefusedWithTheCounts) {
  using mtz_testing::with_row_value;
  using mtz_testing::with_text;
  const std::string bytes = read_bytes(tiny);
  std::string origin = with_text(bytes, "RESO 0.0028703967109323   0.3611701726913452",
                                 "RESO 0                    0.00000001        ");
  for (int row = 0; row < 441; ++row)
    for (int col = 0; col < 3; ++col) origin = with_row_value(origin, row, col, 0.0f);
  // Indices past 100000 either way, missing, and 7 as the VALM mark (in
  // rows 7 on, 37 rows as gemmi reads them), the L range stale.
  std::string unheld =
      with_text(with_text(bytes, "VALM NAN", "VALM 7  "),
                "COLUMN L                              H                 0                11",
                "COLUMN L                              H                 0                 5");
  for (const auto& [row, column, value] :
       {std::tuple{3, 0, 100001.0f}, std::tuple{4, 1, -100001.0f}, std::tuple{5, 2, Util::nanf()}})
    unheld = with_row_value(unheld, row, column, value);
  // Indices that are not whole numbers, two of them a float's step off:
  // rounded, (-4.5 0 1) would take the place of (-4 0 1). gemmi and cctbx
  // round them.
  std::string fractional = with_row_value(bytes, 0, 0, -4.5f);
  fractional = with_row_value(fractional, 30, 2, std::nextafter(2.0f, 3.0f));
  fractional = with_row_value(fractional, 31, 1, std::nextafter(1.0f, 0.0f));
  const struct {
    std::string bytes;
    std::string found;  // after "CCP4MTZfile: <operation> - "
    bool by_append;     // appending refuses too
  } cases[] = {
      {unheld,
       "File missing or corrupted: 40 of 441 rows have indices no reflection list holds "
       "(missing, or past 100000), the first row 4",
       false},
      {fractional,
       "File missing or corrupted: 3 of 441 rows have indices that are not whole numbers, the "
       "first row 1",
       false},
      // gemmi: d(99999 0 4) = 9.45862e-05 A, of which 0.9999 is the limit.
      {with_row_value(bytes, 3, 0, 99999.0f),
       "File missing or corrupted: the reflections reach 9.45768e-05 A (1 of 441 beyond the RESO "
       "record's 1.6638 A), finer than a reflection list of this cell holds",
       true},
      {origin, "Resolution 9999 A out of range for the cell of crystal HKL_base in", true}};
  for (const auto& c : cases) {
    const std::string path = write_bytes(scratch("rows.mtz"), c.bytes);
    SCOPED_TRACE(c.found);
    EXPECT_EQ(read_all(path), "CCP4MTZfile: open_read - " + c.found + ": " + path);
    EXPECT_EQ(append(path, scratch("out.mtz")),
              c.by_append ? "CCP4MTZfile: open_append - " + c.found + ": " + path : "no error");
  }
}
