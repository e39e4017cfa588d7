// Appending columns to a copy of an MTZ file and writing new files, read
// back through the CCP4 library directly; the container import and export.
#include <arpa/inet.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ccp4/ccp4_utils.h>

#include <cmath>
#include <csignal>

#include <cstring>
#include <memory>

#include "mtz/mtz_ccp4.h"
#include "mtz/mtz_containers.h"
#include "mtz/mtz_file.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"
#include "reflections/hkl_containers.h"
#include "support/failed_call.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using mtz_testing::file_exists;
using mtz_testing::Raw_mtz;
using mtz_testing::read_bytes;
using mtz_testing::scratch;
using mtz_testing::without_times;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

// A P212121 list of every reflection to 2.5 A.
HKL_info p212121() {
  return HKL_info(Spacegroup(Spgr_descr(19)), Cell(Cell_descr(20, 25, 30, 90, 90, 90)),
                  Resolution(2.5), true);
}

// Map coefficients from a file's own FP and PHIB columns, on its own list.
struct Coefficients {
  HKL_info list;
  HKL_data<F_phi<float>> fphi;
  explicit Coefficients(const String& name) {
    CCP4MTZfile file;
    file.open_read(name);
    list.init(file.spacegroup(), file.cell(), file.resolution(), true);
    fphi.init(list, list.cell());
    file.import_hkl_data(fphi, "/*/*/[FP,PHIB]");
    file.close_read();
  }
  // Appends them under path; the file is left open.
  void append(CCP4MTZfile& file, const String& in, const String& out, const String& path) const {
    file.open_append(in, out);
    file.export_hkl_data(fphi, path);
  }
};

}  // namespace

TEST(MtzAppend, ExistingLabelsAreOverwrittenOrRefused) {
  const String in = fixture_path("sm_1dur.mtz"), once = scratch("once.mtz"),
               twice = scratch("twice.mtz");
  Coefficients p(in);
  CCP4MTZfile file;
  p.append(file, in, once, "/*/*/sideomit");
  file.close_append();
  for (HKL_info::HKL_reference_index ih = p.list.first(); !ih.last(); ih.next())
    p.fphi[ih].f() *= 2.0f;
  p.append(file, once, twice, "/*/*/sideomit");
  file.close_append();
  Raw_mtz a(once), b(twice);
  ASSERT_EQ(b.columns().size(), a.columns().size());  // no second sideomit columns
  CMtz::MTZCOL *f1 = a.column("sideomit.F_phi.F"), *f2 = b.column("sideomit.F_phi.F");
  int doubled = 0;
  for (int r = 0; r < a.nref(); ++r)
    doubled += f2->ref[r] == 2.0f * f1->ref[r] && f1->ref[r] > 0.0f;
  EXPECT_EQ(doubled, 3256 - 57);  // every present F but the 57 zeros

  // A label held by a column of another type is refused, changing nothing.
  file.open_append(in, scratch("refused.mtz"));
  EXPECT_EQ(fatal_text([&] { file.export_hkl_data(p.fphi, "/*/*/[FP,FOM]"); }),
            "CCP4MTZfile: export_hkl_data - Column exists with type W: /*/*/FOM");
  EXPECT_EQ(file.column_paths().size(), 11u);
  EXPECT_TRUE(file.assigned_paths().empty());
}

// The copy takes the input's symmetry but not its other header fields
// (here the space-group confidence flag).
TEST(MtzAppend, SymmetryOfTheInput) {
  const String in = scratch("confident.mtz"), out = scratch("confident_out.mtz");
  {
    Raw_mtz raw(fixture_path("tiny_5e5z.mtz"));
    ASSERT_TRUE(raw);
    raw->mtzsymm.spg_confidence = 'S';
    ASSERT_EQ(CMtz::MtzPut(raw.get(), in.c_str()), 1);
  }
  ASSERT_EQ(Raw_mtz(in)->mtzsymm.spg_confidence, 'S');
  CCP4MTZfile file;
  file.open_append(in, out);
  file.close_append();
  const Raw_mtz a(in), b(out);
  EXPECT_EQ(b->mtzsymm.spg_confidence, 'X');  // the library's "not set"
  EXPECT_EQ(b->mtzsymm.spcgrp, a->mtzsymm.spcgrp);
  EXPECT_STREQ(b->mtzsymm.spcgrpname, a->mtzsymm.spcgrpname);
  EXPECT_STREQ(b->mtzsymm.pgname, a->mtzsymm.pgname);
  ASSERT_EQ(b->mtzsymm.nsym, a->mtzsymm.nsym);
  EXPECT_EQ(std::memcmp(b->mtzsymm.sym, a->mtzsymm.sym, sizeof(float) * 16 * a->mtzsymm.nsym), 0);
  EXPECT_EQ(b.nref(), a.nref());
}

TEST(MtzAppend, InputIsNeverTheOutput) {
  const std::string dir = scratch("dir");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const std::string in = mtz_testing::remember(dir + "/x.mtz"),
                    link = mtz_testing::remember(dir + "/link.mtz");
  mtz_testing::write_bytes(in, mtz_testing::read_bytes(fixture_path("tiny_5e5z.mtz")));
  ASSERT_EQ(symlink(in.c_str(), link.c_str()), 0);
  for (const std::string& out :
       {in, dir + "/./x.mtz", dir + "/../" + dir.substr(dir.rfind('/') + 1) + "/x.mtz", link})
    EXPECT_EQ(fatal_text([&] { CCP4MTZfile().open_append(in, out); }),
              "CCP4MTZfile: open_append - Output file is the input file: " + out);
  EXPECT_EQ(Raw_mtz(in).nref(), 441);
}

// A failed write is reported with the file name and leaves no file behind;
// a failed close closes, so the destructor neither retries nor reports.
TEST(MtzAppend, FailedWritesLeaveNoFile) {
  const String in = fixture_path("sm_1dur.mtz"), dir = scratch("full");
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  const String out = dir + "/out.mtz";
  const Coefficients p(in);
  // Rows that cannot be written: the process may not make a file longer
  // than 4 KB (the limit's signal ignored, so writes fail with EFBIG).
  {
    auto appending = std::make_unique<CCP4MTZfile>();
    p.append(*appending, in, out, "/*/*/sideomit");
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string text = fatal_text([&] { appending->close_append(); });
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, handler);
    EXPECT_EQ(text, "CCP4MTZfile: close_append - Failed to write file: " + out);
    vantrel_testing::Quiet_messages quiet;
    appending.reset();
    EXPECT_EQ(quiet.text(), "");  // the destructor neither retries nor reports
  }
  EXPECT_EQ(mtz_testing::directory_entries(dir), std::vector<std::string>{});

  // A new file without a reflection list: refused once, nothing written.
  {
    CCP4MTZfile file;
    file.open_write(out);
    EXPECT_EQ(fatal_text([&] { file.close_write(); }),
              "CCP4MTZfile: close_write - No reflection list exported for: " + out);
    EXPECT_EQ(fatal_text([&] { file.close_write(); }), "CCP4MTZfile: no file open for write");
  }
  EXPECT_EQ(mtz_testing::directory_entries(dir), std::vector<std::string>{});
}

TEST(MtzAppend, EmptyAndWideFiles) {
  const String out = scratch("empty_out.mtz");
  const Coefficients p(fixture_path("sm_1dur.mtz"));
  CCP4MTZfile file;
  p.append(file, fixture_path("mtz_empty.mtz"), out, "/xtal/d1/sideomit");
  EXPECT_TRUE(file.resolution().is_null());
  file.close_append();
  const Raw_mtz empty(out);
  EXPECT_EQ(empty.nref(), 0);
  EXPECT_EQ(empty.columns().size(), 16u);
  EXPECT_NE(empty.column("sideomit.F_phi.phi"), nullptr);

  // Buffers follow the file: 1200 data columns read whole, and copied
  // with one more. Row r holds 1000 r + column number.
  const String wide = scratch("wide_out.mtz");
  file.open_read(fixture_path("mtz_wide.mtz"));
  ASSERT_EQ(file.column_paths().size(), 1203u);
  HKL_info list;
  file.import_hkl_info(list, false);
  HKL_data<ABCD<float>> data(list);
  {
    vantrel_testing::Quiet_messages quiet;  // the columns are of type R
    file.import_hkl_data(data, "/*/*/[C0,C999,C1100,C1199]");
  }
  file.close_read();
  const HKL hkls[] = {HKL(1, 0, 0), HKL(0, 1, 0), HKL(0, 0, 1), HKL(1, 1, 0), HKL(1, 0, 1)};
  for (int r = 0; r < 5; ++r)
    EXPECT_EQ(std::vector<float>({data[hkls[r]].a(), data[hkls[r]].b(), data[hkls[r]].d()}),
              std::vector<float>({1000.0f * r, 1000.0f * r + 999, 1000.0f * r + 1199}));
  HKL_data<Flag> flag(list);
  flag[HKL_info::HKL_reference_index(list, 4)] = Flag(7);
  file.open_append(fixture_path("mtz_wide.mtz"), wide);
  file.export_hkl_data(flag, "/*/wide/FREE");
  file.close_append();
  Raw_mtz w(wide);
  ASSERT_EQ(w.columns().size(), 1204u);
  EXPECT_EQ(w.column("C1199")->ref[4], 4000.0f + 1199);
  EXPECT_EQ(w.column("FREE.Flag.flag")->ref[4], 7.0f);
  EXPECT_EQ(w.column("FREE.Flag.flag")->ref[0], -1.0f);  // a flag's own missing value
}

TEST(MtzWrite, NewFileReadsBack) {
  const String out = scratch("new.mtz");
  const HKL_info list = p212121();
  HKL_data<F_sigF<float>> fsigf(list);
  HKL_data<F_phi<float>> fphi(list);
  for (HKL_info::HKL_reference_index ih = list.first(); !ih.last(); ih.next())
    if (ih.index() % 5 != 0) {
      fsigf[ih] = F_sigF<float>(float(ih.index()), 0.5f);
      fphi[ih] = F_phi<float>(1.0f, float(Util::pi() / 2.0));
    }
  {
    CCP4MTZfile file;
    file.open_write(out);
    file.export_hkl_info(list);
    file.export_hkl_data(fsigf, "/*/*/[FO,SIGFO]");
    file.export_hkl_data(fphi, MTZdataset("set", 1.54), MTZcrystal("xtal", "proj", list.cell()),
                         "/xtal/set/[FC,PHIC]");
  }  // closed by the destructor
  Raw_mtz raw(out);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw.column("PHIC")->ref[1], 90.0f);  // degrees on disk

  CCP4MTZfile file;
  file.open_read(out);
  EXPECT_EQ(file.spacegroup().spacegroup_number(), 19);
  EXPECT_NEAR(file.cell().c(), 30.0, 1e-5);
  EXPECT_EQ(file.column_paths()[5], "/xtal/set/FC F");
  HKL_info back;
  file.import_hkl_info(back, false);
  HKL_data<F_sigF<float>> fs(back);
  HKL_data<F_phi<float>> fp(back);
  file.import_hkl_data(fs, "/*/*/[FO,SIGFO]");
  file.import_hkl_data(fp, "/xtal/set/[FC,PHIC]");
  file.close_read();
  ASSERT_EQ(back.num_reflections(), list.num_reflections());
  int same = 0, missing = 0;
  for (HKL_info::HKL_reference_index ih = list.first(); !ih.last(); ih.next()) {
    const HKL hkl = ih.hkl();
    missing += ih.index() % 5 == 0 && fs[hkl].missing();
    same += fs[hkl].f() == fsigf[ih].f() && fs[hkl].sigf() == 0.5f &&
            std::fabs(fp[hkl].phi() - Util::pi() / 2.0) < 1e-6;
  }
  EXPECT_EQ(missing, (list.num_reflections() + 4) / 5);
  EXPECT_EQ(same, list.num_reflections() - missing);
}

TEST(MtzWrite, SpaceGroupNames) {
  const struct {
    int number;
    const char *name, *pg;
  } groups[] = {{19, "P212121", "PG222"}, {111, "P-42m", "PG-42m"}, {115, "P-4m2", "PG-4m2"},
                {187, "P-6m2", "PG-6m2"}, {189, "P-62m", "PG-62m"}, {152, "P3121", "PG321"},
                {68, "Ccca", "PGmmm"}};
  for (const auto& g : groups) {
    Mtz_ptr mtz(CMtz::MtzMalloc(0, nullptr));
    write_spacegroup(mtz.get(), Spacegroup(Spgr_descr(g.number)));
    EXPECT_EQ(mtz->mtzsymm.spcgrp, g.number);
    EXPECT_STREQ(mtz->mtzsymm.spcgrpname, g.name) << g.number;
    EXPECT_STREQ(mtz->mtzsymm.pgname, g.pg) << g.number;
  }
}

namespace {
// A container node holding reflection data.
template <class T> class Data_node : public Container, public HKL_data<T> {
 public:
  Data_node(Container& parent, const String& name) : Container(parent, name) {}
};
}  // namespace

TEST(MtzContainers, ImportAndExportRoundTrip) {
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  CHKL_info info("info", file.spacegroup(), file.cell(), file.resolution(), true);
  Data_node<F_sigF<float>> fo(info, "fo"), fx(info, "fx");
  fo.HKL_data<F_sigF<float>>::init(info, info.cell());
  fx.HKL_data<F_sigF<float>>::init(info, info.cell());
  file.import_chkl_data(fo, "/*/*/[FP,SIGFP]");
  file.import_chkl_data(fx, "/xtal2/*/[FX,SIGX]", "renamed/fx2");
  EXPECT_EQ(fatal_text([&] { file.import_chkl_data(info, "/*/*/[FP,SIGFP]"); }),
            "CCP4MTZfile: import object not HKL_data");
  file.close_read();
  // The records are those of the crystal and dataset holding the columns.
  EXPECT_EQ(fo.path(), "/info/xtal/d1/[FP,SIGFP]");
  EXPECT_EQ(fx.path(), "/info/xtal2/renamed/fx2");
  const CMTZcrystal* crystal = fx.parent_of_type_ptr<CMTZcrystal>();
  ASSERT_NE(crystal, nullptr);
  EXPECT_NEAR(crystal->a(), 21.0, 1e-5);
  EXPECT_NEAR(fx.parent_of_type_ptr<CMTZdataset>()->wavelength(), 0.9, 1e-6);
  EXPECT_EQ(fo.num_obs(), 60);

  const String out = scratch("containers.mtz");
  file.open_write(out);
  file.export_hkl_info(info);
  file.export_chkl_data(fx, "/newx/newd/[FW,SIGFW]");
  EXPECT_EQ(fatal_text([&] { file.export_chkl_data(info, "/a/b/c"); }),
            "CCP4MTZfile: export object not HKL_data");
  file.close_write();
  file.open_read(out);
  MTZcrystal c;
  MTZdataset d;
  file.import_crystal(c, "/newx/newd/FW");
  file.import_dataset(d, "/newx/newd/FW");
  EXPECT_EQ(c.project_name(), "proj");
  EXPECT_NEAR(c.b(), 26.0, 1e-5);
  EXPECT_NEAR(d.wavelength(), 0.9, 1e-6);
  HKL_data<F_sigF<float>> back(info);
  file.import_hkl_data(back, "/newx/newd/[FW,SIGFW]");
  file.close_read();
  EXPECT_EQ(back.num_obs(), fx.num_obs());
  EXPECT_EQ(back[HKL(1, 1, 1)].f(), fx[HKL(1, 1, 1)].f());
}

// A row whose indices are unusable (far out of range, or missing) is copied
// as it is, with the new columns missing.
TEST(MtzAppend, RowsWithoutIndicesAreCopied) {
  const String in = scratch("bad_index.mtz"), out = scratch("bad_index_out.mtz");
  {
    Raw_mtz raw(fixture_path("mtz_small.mtz"));
    ASSERT_TRUE(raw);
    raw.column("H")->ref[0] = 3.0e9f;
    raw.column("K")->ref[1] = CCP4::ccp4_nan().f;
    ASSERT_EQ(CMtz::MtzPut(raw.get(), in.c_str()), 1);
  }
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  HKL_info list;
  file.import_hkl_info(list, false);
  HKL_data<F_phi<float>> fphi(list);
  file.import_hkl_data(fphi, "/*/*/[FP,PHI]");
  file.close_read();
  file.open_append(in, out);
  file.export_hkl_data(fphi, "/*/*/new");
  file.close_append();
  const Raw_mtz a(in), b(out);
  ASSERT_EQ(b.nref(), a.nref());
  EXPECT_EQ(b.column("H")->ref[0], 3.0e9f);
  const CMtz::MTZCOL* f = b.column("new.F_phi.F");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(std::isnan(f->ref[0]));
  EXPECT_TRUE(std::isnan(f->ref[1]));
  int present = 0;
  for (int r = 2; r < b.nref(); ++r) present += !std::isnan(f->ref[r]);
  EXPECT_GT(present, 50);
}

// Every single failed system call of a read and an append, each failed in
// turn (EIO), as a faulty disk fails it: they succeed with a whole copy (the
// bytes of the append that failed nothing, but their times, with this
// machine's machine stamp), or fail with one message naming the input or
// the output, which is then absent or whole, and anything else left named.
// The library's own reads loop, crash or go on with a default after a
// failed read, and a machine stamp whose write was lost reads as zeros.
TEST(MtzAppend, EveryFailedCallEndsInOneMessageOrAWholeCopy) {
  if (!vantrel_testing::can_fail_calls) GTEST_SKIP() << "failing calls is written for x86-64 only";
  const String in = fixture_path("tiny_5e5z.mtz");
  // The child's fatal text, shared with this process: no call of the
  // child's writes it.
  char* const said = static_cast<char*>(
      mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(said, MAP_FAILED);
  const auto quiet = [] {  // in the child: a loop ends at the limit, printing nowhere
    const rlimit cpu = {5, 7};
    const int null = open("/dev/null", O_WRONLY);
    if (setrlimit(RLIMIT_CPU, &cpu) != 0 || dup2(null, 1) != 1 || dup2(null, 2) != 2) _exit(120);
  };
  const auto read_and_append = [&](const String& out) {
    return [&in, out, said] {
      const std::string text = fatal_text([&] {
        CCP4MTZfile file;
        HKL_info list;
        HKL_data<F_sigF<float>> data;
        file.open_read(in);
        file.import_hkl_info(list, false);
        data.init(list, list.cell());
        file.import_hkl_data(data, "/*/*/[FP,SIGFP]");
        file.close_read();
        file.open_append(in, out);
        file.export_hkl_data(data, "/*/*/copy");
        file.close_append();
      });
      said[text.copy(said, 4095)] = '\0';
      return 0;
    };
  };
  const vantrel_testing::Scratch_dir first;
  const vantrel_testing::Traced_run plain =
      vantrel_testing::traced_run(quiet, read_and_append(first.file("out.mtz")), 0, 0, false);
  if (plain.refused) GTEST_SKIP() << "the system refuses to trace a child (ptrace or seccomp)";
  ASSERT_EQ(std::string(said), "no error");
  const std::string whole = without_times(read_bytes(first.file("out.mtz")));
  EXPECT_EQ(whole.substr(8, 4),
            htonl(1) == 1 ? std::string("\x11\x11\0\0", 4) : std::string("\x44\x41\0\0", 4));
  ASSERT_GT(plain.calls, 20);
  for (long n = 1; n <= plain.calls; ++n) {
    const vantrel_testing::Scratch_dir dir;
    const String out = dir.file("out.mtz");
    std::strcpy(said, "ended without a word");
    const vantrel_testing::Traced_run run =
        vantrel_testing::traced_run(quiet, read_and_append(out), n, EIO, false);
    const std::string text = said;
    bool sound = run.injected && WIFEXITED(run.status) &&
                 (text == "no error" ||
                  ((text.find(in) != std::string::npos || text.find(out) != std::string::npos) &&
                   text.find('\n') == std::string::npos));
    for (const std::string& entry : dir.entries())
      sound = sound && (entry == "out.mtz" ? without_times(read_bytes(out)) == whole
                                           : text.find(entry) != std::string::npos);
    EXPECT_TRUE(sound && (text != "no error" || mtz_testing::file_exists(out)))
        << "call " << n << ", " << vantrel_testing::call_name(run.failed.nr) << " on "
        << run.failed.file << ": status " << run.status << ", " << text;
  }
  munmap(said, 4096);
}
