// Reading MTZ files: column paths, headers, reflection lists and data,
// checked against gemmi's reading of the same files.
#include <cmath>

#include "mtz/mtz_file.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"
#include "support/testing.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using mtz_testing::Row;
using vantrel_testing::fixture_path;

namespace {

// A float column value as the reader should deliver it (NaN when missing).
void expect_value(const double got, const double want, const std::string& what) {
  if (std::isnan(want))
    EXPECT_TRUE(Util::is_nan(got)) << what;
  else
    EXPECT_EQ(float(got), float(want)) << what;
}

}  // namespace

TEST(MtzPaths, GlobsAssignmentAndVirtualColumns) {
  const struct {
    const char *name, *pattern;
    bool match;
  } globs[] = {{"FP", "*", true},    {"", "*", true},      {"SIGFP", "*FP", true},
               {"F", "*FP", false},  {"ABC", "AB*BC", true}, {"FP", "F*P*", false},
               {"FP", "FP", true},   {"FP", "fp", false},  {"F*P*", "F*P*", true}};
  for (const auto& g : globs) EXPECT_EQ(match_glob(g.name, g.pattern), g.match) << g.name << " " << g.pattern;

  using V = std::vector<String>;
  EXPECT_EQ(mtz_assign("/*/*/[FP,SIGFP]", "F_sigF", "F sigF", 2), (V{"/*/*/FP", "/*/*/SIGFP"}));
  EXPECT_EQ(mtz_assign("/*/*/[FP, SIGFP]", "F_sigF", "F sigF", 2), (V{"/*/*/FP", "/*/*/SIGFP"}));
  EXPECT_EQ(mtz_assign("/a/b/[FP,SIGFP", "F_sigF", "F sigF", 2), (V{"/a/b/FP", "/a/b/SIGFP"}));
  EXPECT_EQ(mtz_assign("/*/*/[FP]", "F_sigF", "F sigF", 2), (V{"/*/*/FP", "MNF"}));
  EXPECT_EQ(mtz_assign("/*/*/FP", "F_sigF", "F sigF", 2),
            (V{"/*/*/FP.F_sigF.F", "/*/*/FP.F_sigF.sigF"}));
  EXPECT_EQ(mtz_assign("/*/*/[A,B,C,D,E]", "F_sigF", "F sigF", 2), (V{"/*/*/A", "/*/*/B"}));

  for (const char* path : {"/*/*/nan", "/x/y/NAN", "MNF", "/*/*/mnf"}) EXPECT_TRUE(is_virtual_col(path)) << path;
  for (const char* path : {"/*/*/NaN", "/*/*/FP", "/*/*/NANA"}) EXPECT_FALSE(is_virtual_col(path)) << path;
}

TEST(MtzRead, HierarchyAndPathMatching) {
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  const std::vector<String> paths = file.column_paths();
  ASSERT_EQ(paths.size(), 14u);
  EXPECT_EQ(paths[13], "/xtal2/d2/SIGX Q");
  EXPECT_EQ(file.column_labels(), paths);
  const struct {
    const char* path;
    bool found;
    int x, s, c;
  } cases[] = {{"/HKL_base/HKL_base/H", true, 0, 0, 0}, {"//HKL_base///HKL_base/K/", true, 0, 0, 1},
               {"/*/*/SIGX", true, 2, 0, 1},          {"/*/*/NOPE", false, 0, 0, -1},
               {"/xtal/nope/FP", false, 1, -1, -1},   {"/*/*", false, -1, -1, -1},
               {"FP", false, -1, -1, -1}};
  for (const auto& t : cases) {
    int x, s, c;
    EXPECT_EQ(file.match_path(t.path, x, s, c), t.found) << t.path;
    EXPECT_EQ(std::vector<int>({x, s, c}), std::vector<int>({t.x, t.s, t.c})) << t.path;
  }
  MTZcrystal crystal;
  MTZdataset dataset;
  file.import_crystal(crystal, "/xtal2/*/FX");
  file.import_dataset(dataset, "/xtal2/*/FX");
  EXPECT_EQ(crystal.project_name() + " " + dataset.dataset_name(), "proj d2");
  EXPECT_NEAR(crystal.a(), 21.0, 1e-5);
  EXPECT_NEAR(dataset.wavelength(), 0.9, 1e-6);
  EXPECT_EQ(vantrel_testing::fatal_text([&] { file.import_dataset(dataset, "/xtal/nope/FX"); }),
            "CCP4MTZfile: No such dataset: /xtal/nope/FX");
  file.close_read();
  EXPECT_TRUE(file.column_paths().empty());
}

// The file holds (1,2,3), then its mate (-1,2,3) and Friedel mate
// (-1,-2,-3) with values of their own: one reflection, the last row wins.
TEST(MtzRead, SmallFileValuesMatesAndComponents) {
  const std::vector<Row> rows = mtz_testing::read_small_rows();
  ASSERT_EQ(rows.size(), 66u);
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  EXPECT_EQ(file.spacegroup().spacegroup_number(), 19);
  HKL_info list;
  file.import_hkl_info(list, false);
  HKL_data<F_sigF<float>> fsigf(list), mixed(list), fonly(list), typeq(list);
  HKL_data<Phi_fom<float>> phifom(list);
  HKL_data<ABCD<float>> abcd(list);
  HKL_data<F_sigF<float>> second;  // null: takes the cell of its crystal
  file.import_hkl_data(fsigf, "/*/*/[FP,SIGFP]");
  file.import_hkl_data(mixed, "/*/*/[FP,SIGX]");
  file.import_hkl_data(fonly, "/*/*/[FP]");
  {
    vantrel_testing::Quiet_messages quiet;
    file.import_hkl_data(typeq, "/*/*/[FQ,SIGFP]");
    EXPECT_EQ(quiet.text(), "CCP4MTZfile: Mtz column type mismatch: FQ Q-F\n");
  }
  file.import_hkl_data(phifom, "/*/*/[PHI,FOM]");
  file.import_hkl_data(abcd, "/*/*/[HLA,HLB,HLC,HLD]");
  file.import_hkl_data(second, "/xtal2/*/[FX,SIGX]");
  const std::vector<String> assigned = file.assigned_paths();
  ASSERT_EQ(assigned.size(), 16u);
  EXPECT_EQ(assigned[2], "/xtal/d1/FP F");
  EXPECT_EQ(assigned[3], "/xtal2/d2/SIGX Q");
  EXPECT_EQ(assigned[5], "/*/*/NAN -");
  EXPECT_EQ(assigned[6], "/xtal/d1/FQ Q");
  file.close_read();
  EXPECT_FALSE(file.assigned_paths().size());
  EXPECT_NEAR(second.base_cell().a(), 21.0, 1e-5);
  EXPECT_NEAR(fsigf.base_cell().a(), 20.0, 1e-5);

  int checked = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const Row& row = rows[r];
    const HKL hkl(row.h, row.k, row.l);
    int sym;
    bool friedel;
    ASSERT_GE(list.index_of(list.find_sym(hkl, sym, friedel)), 0) << r;
    if (r >= 64 || (row.h == 1 && row.k == 2 && row.l == 3)) continue;  // the mates
    const std::vector<double>& v = row.values;
    expect_value(fsigf[hkl].f(), v[0], "F");
    expect_value(fsigf[hkl].sigf(), v[1], "sigF");
    expect_value(mixed[hkl].sigf(), v[10], "SIGX");
    expect_value(fonly[hkl].f(), v[0], "F only");
    expect_value(typeq[hkl].f(), v[4], "FQ");
    EXPECT_TRUE(Util::is_nan(fonly[hkl].sigf()));
    EXPECT_NEAR(phifom[hkl].phi(), Util::d2rad(v[2]), 2e-6);
    expect_value(phifom[hkl].fom(), v[3], "fom");
    expect_value(abcd[hkl].a(), v[5], "A");
    expect_value(abcd[hkl].d(), v[8], "D");
    // The shared list of the null object holds no systematic absences.
    const bool absent = list.spacegroup().hkl_class(hkl).is_absent();
    expect_value(second[hkl].f(), absent ? Util::nand() : v[9], "FX");
    ++checked;
  }
  EXPECT_EQ(checked, 63);
  EXPECT_EQ(list.num_reflections(), 64);  // none added for the two mates
  // The last of the three rows of one reflection wins; a Friedel mate's
  // phase comes back negated.
  EXPECT_EQ(fsigf[HKL(1, 2, 3)].f(), 901.0f);
  EXPECT_NEAR(phifom[HKL(1, 2, 3)].phi(), Util::d2rad(45.0), 2e-6);
  EXPECT_NEAR(phifom[HKL(0, 2, 2)].phi(), Util::pi() / 2.0, 1e-6);  // the 90 degree row
  EXPECT_TRUE(Util::is_nan(fsigf[HKL(0, 1, 2)].f()));                // F missing ...
  EXPECT_EQ(fsigf[HKL(0, 1, 2)].sigf(), float(rows[5].values[1]));  // ... sigma read
}

// The run's sequence on one object: the limits of both files, then both
// data reads with the common limit, with bracket and dotted default paths.
TEST(MtzRead, ProgramSequenceOnRealFiles) {
  const auto real = mtz_testing::read_real_files();
  const mtz_testing::Real_file& ref = real.at("ref_1rx2.mtz");
  const mtz_testing::Real_file& wrk = real.at("wrk_7mm1.mtz");
  const String ref_name = fixture_path("ref_1rx2.mtz"), wrk_name = fixture_path("wrk_7mm1.mtz");

  CCP4MTZfile file;
  double limit = 0.0;
  for (const auto& f : {std::make_pair(ref_name, &ref), std::make_pair(wrk_name, &wrk)}) {
    file.open_read(f.first);
    const double expected = 0.9999 / std::sqrt(f.second->s_max);
    EXPECT_NEAR(file.resolution().limit(), expected, 2e-6 * expected);
    EXPECT_EQ(file.spacegroup().spacegroup_number(), f.second->spacegroup_number);
    EXPECT_NEAR(file.cell().gamma_deg(), f.second->cell[5], 1e-4);
    limit = std::max(limit, file.resolution().limit());
    file.close_read();
  }
  EXPECT_NEAR(limit, 0.9999 * 1.84982, 1e-5);

  struct Read {
    const mtz_testing::Real_file& gemmi;
    String name, fo_path, hl_path;
  };
  const Read reads[] = {{ref, ref_name, "/*/*/FP", "/*/*/FC"},
                        {wrk, wrk_name, "/*/*/[FP,SIGFP]", "/*/*/[HLA,HLB,HLC,HLD]"}};
  for (const Read& read : reads) {
    file.open_read(read.name);
    HKL_info list(file.spacegroup(), file.cell(), Resolution(limit), true);
    HKL_data<F_sigF<float>> fo(list);
    HKL_data<ABCD<float>> hl(list);
    file.import_hkl_data(fo, read.fo_path);
    file.import_hkl_data(hl, read.hl_path);
    file.close_read();

    const int fp = read.gemmi.column("FP"), sigfp = read.gemmi.column("SIGFP"),
              hla = read.gemmi.column("HLA"), hlb = read.gemmi.column("HLB");
    const double s_limit = 1.0 / (limit * limit);
    int inside = 0, outside = 0;
    for (const Row& row : read.gemmi.sample) {
      const HKL hkl(row.h, row.k, row.l);
      if (row.s >= s_limit) {  // beyond the common limit: not listed
        int sym;
        bool friedel;
        EXPECT_LT(list.index_of(list.find_sym(hkl, sym, friedel)), 0);
        ++outside;
        continue;
      }
      expect_value(fo[hkl].f(), row.values[fp], read.name);
      expect_value(fo[hkl].sigf(), row.values[sigfp], read.name);
      expect_value(hl[hkl].a(), row.values[hla], read.name);
      expect_value(hl[hkl].b(), row.values[hlb], read.name);
      ++inside;
    }
    EXPECT_GT(inside, 140) << read.name;
    if (&read.gemmi == &wrk) {
      EXPECT_EQ(outside, 0);
      EXPECT_EQ(fo.num_obs(), wrk.fp_present);
      EXPECT_EQ(hl.num_obs(), wrk.fp_present);
      // Then the append on the same object (values are checked in test_mtz_write).
      HKL_data<F_phi<float>> fphi(list);
      fphi.compute(fo, [](const HKL_info::HKL_reference_index&, const F_sigF<float>& f) {
        return F_phi<float>(f.f(), 0.0f);
      });
      const String out = mtz_testing::scratch("sequence.mtz");
      file.open_append(read.name, out);
      file.export_hkl_data(fphi, "/*/*/sideomit");
      file.export_hkl_data(hl, "/*/*/sideomit");
      file.close_append();
      mtz_testing::Raw_mtz appended(out);
      EXPECT_EQ(appended.nref(), wrk.rows);
      EXPECT_EQ(appended.columns().size(), 3 + wrk.labels.size() + 6);
    } else {
      EXPECT_GT(outside, 4);  // the finest reference rows lie beyond 1.85 A
      EXPECT_LT(fo.num_obs(), ref.fp_present);
    }
  }
}

// The file's own list keeps the reflections strictly inside the limit.
TEST(MtzRead, FileListWithinTheTargetResolution) {
  CCP4MTZfile file;
  file.open_read(fixture_path("sm_1dur.mtz"));
  HKL_info all, cut(file.spacegroup(), file.cell(), Resolution(2.5), false);
  file.import_hkl_info(all, false);
  file.import_hkl_info(cut, false);
  file.close_read();
  EXPECT_EQ(all.num_reflections(), 3256);
  int inside = 0;
  for (int i = 0; i < all.num_reflections(); ++i) inside += all.invresolsq(i) < 0.16f;
  EXPECT_EQ(cut.num_reflections(), inside);
  EXPECT_GT(inside, 1000);
}

// Buffers follow the file: 1200 data columns read and copied whole.
TEST(MtzRead, WideFile) {
  CCP4MTZfile file;
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
  for (int r = 0; r < 5; ++r) {
    EXPECT_EQ(data[hkls[r]].a(), 1000.0f * r);
    EXPECT_EQ(data[hkls[r]].b(), 1000.0f * r + 999);
    EXPECT_EQ(data[hkls[r]].d(), 1000.0f * r + 1199);
  }
}
