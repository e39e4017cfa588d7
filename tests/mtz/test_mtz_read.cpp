// Reading MTZ files: column-type registry, column paths, headers,
// reflection lists and data, checked against gemmi's reading of the same
// files; the run's read-and-append sequence.
#include <array>

#include "mtz/mtz_file.h"
#include "mtz/mtz_types.h"
#include "mtz_testing.h"
#include "reflections/datatypes.h"

using namespace vantrel;
using namespace vantrel::datatypes;
using mtz_testing::Row;
using vantrel_testing::fatal_text;
using vantrel_testing::fixture_path;

namespace {

// A float column value as the reader should deliver it (NaN when missing).
void expect_value(const double got, const double want, const std::string& what) {
  if (std::isnan(want))
    EXPECT_TRUE(Util::is_nan(got)) << what;
  else
    EXPECT_EQ(float(got), float(want)) << what;
}

bool listed(const HKL_info& list, const HKL& hkl) {
  int sym;
  bool friedel;
  return list.index_of(list.find_sym(hkl, sym, friedel)) >= 0;
}

}  // namespace

TEST(MtzTypes, RegistryRowsLookupsAndLimits) {
  using R = CCP4MTZ_type_registry;
  const char* const rows[][2] = {{"I", "J"}, {"covI+-", "C"}, {"sigF-", "L"}, {"E", "F"},
                                 {"D", "A"}, {"phi", "P"},    {"fom", "W"},   {"flag", "I"}};
  for (const auto& r : rows) EXPECT_EQ(R::type(r[0]), r[1]) << r[0];
  EXPECT_EQ(double(R::scale("phi")), 57.295780181884766);
  EXPECT_EQ(R::scale("sigF"), 1.0f);
  for (const char* name : {"PHI", "", "sigF "})
    EXPECT_EQ(fatal_text([&] { R::type(name); }), "CCP4MTZ_type_registry: name not found.") << name;
  // Added rows are cut to the slot sizes; a duplicate is never found; 28
  // standard rows and the two added leave 170 of 200 slots.
  R::add_type("fourteen_chars", "ABCD", 2.5f);
  R::add_type("phi", "X", 1.0f);
  EXPECT_EQ(R::type("fourteen_ch") + R::type("phi"), "ABCP");
  EXPECT_EQ(R::scale("fourteen_ch"), 2.5f);
  for (int i = 0; i < 170; ++i) R::add_type("n" + std::to_string(i), "R", 1.0f);
  EXPECT_EQ(R::type("n169"), "R");
  EXPECT_EQ(fatal_text([] { R::add_type("more", "R", 1.0f); }),
            "CCP4MTZ_type_registry: registry full.");
}

TEST(MtzPaths, GlobsAssignmentAndVirtualColumns) {
  const struct {
    const char *name, *pattern;
    bool match;
  } globs[] = {{"", "*", true},        {"SIGFP", "*FP", true}, {"F", "*FP", false},
               {"ABC", "AB*BC", true}, {"FP", "F*P*", false},  {"FP", "fp", false}};
  for (const auto& g : globs)
    EXPECT_EQ(match_glob(g.name, g.pattern), g.match) << g.name << " " << g.pattern;

  const char* const assigns[][3] = {{"/*/*/[FP, SIGFP]", "/*/*/FP", "/*/*/SIGFP"},
                                    {"/a/b/[FP,SIGFP", "/a/b/FP", "/a/b/SIGFP"},
                                    {"/*/*/[FP]", "/*/*/FP", "MNF"},
                                    {"/*/*/[A,B,C,D,E]", "/*/*/A", "/*/*/B"}};
  for (const auto& a : assigns)
    EXPECT_EQ(mtz_assign(a[0], "F_sigF", "F sigF", 2), (std::vector<String>{a[1], a[2]})) << a[0];

  for (const char* path : {"/*/*/nan", "/x/y/NAN", "MNF", "/*/*/mnf"})
    EXPECT_TRUE(is_virtual_col(path)) << path;
  for (const char* path : {"/*/*/NaN", "/*/*/NANA"}) EXPECT_FALSE(is_virtual_col(path)) << path;
}

TEST(MtzRead, HierarchyAndPathMatching) {
  CCP4MTZfile file;
  file.open_read(fixture_path("mtz_small.mtz"));
  const std::vector<String> paths = file.column_paths();
  ASSERT_EQ(paths.size(), 14u);
  EXPECT_EQ(paths[13], "/xtal2/d2/SIGX Q");
  EXPECT_EQ(file.column_labels(), paths);
  // Crystal, dataset and column found; a miss sets column -1.
  const std::pair<const char*, std::vector<int>> cases[] = {{"/HKL_base/HKL_base/H", {0, 0, 0}},
                                                            {"//HKL_base///HKL_base/K/", {0, 0, 1}},
                                                            {"/*/*/SIGX", {2, 0, 1}},
                                                            {"/*/*/NOPE", {0, 0, -1}},
                                                            {"/xtal/nope/FP", {1, -1, -1}},
                                                            {"/*/*", {-1, -1, -1}},
                                                            {"FP", {-1, -1, -1}}};
  for (const auto& [path, want] : cases) {
    int x, s, c;
    EXPECT_EQ(file.match_path(path, x, s, c), want[2] >= 0) << path;
    EXPECT_EQ(std::vector<int>({x, s, c}), want) << path;
  }
  MTZdataset dataset;
  file.import_dataset(dataset, "/xtal2/*/FX");
  EXPECT_NEAR(dataset.wavelength(), 0.9, 1e-6);
  EXPECT_EQ(fatal_text([&] { file.import_dataset(dataset, "/xtal/nope/FX"); }),
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
  HKL_data<F_sigF<float>> fsigf(list), fonly(list), typeq(list);
  HKL_data<Phi_fom<float>> phifom(list);
  HKL_data<ABCD<float>> abcd(list);
  HKL_data<F_sigF<float>> second;  // null: takes the cell of its crystal
  file.import_hkl_data(fsigf, "/*/*/[FP,SIGFP]");
  file.import_hkl_data(fonly, "/*/*/[FP,NAN]");
  {
    vantrel_testing::Quiet_messages quiet;
    file.import_hkl_data(typeq, "/*/*/[FQ,SIGFP]");
    EXPECT_EQ(quiet.text(), "CCP4MTZfile: Mtz column type mismatch: FQ Q-F\n");
  }
  file.import_hkl_data(phifom, "/*/*/[PHI,FOM]");
  file.import_hkl_data(abcd, "/*/*/[HLA,HLB,HLC,HLD]");
  file.import_hkl_data(second, "/xtal2/*/[FX,SIGX]");
  HKL_data<F_sigF<float>> unread;  // no column: stays null
  file.import_hkl_data(unread, "/*/*/[NAN,mnf]");
  const std::vector<String> assigned = file.assigned_paths();
  ASSERT_EQ(assigned.size(), 16u);
  EXPECT_EQ(
      (std::vector<String>{assigned[2], assigned[3], assigned[4], assigned[13], assigned[15]}),
      (std::vector<String>{"/xtal/d1/FP F", "/*/*/NAN -", "/xtal/d1/FQ Q", "/xtal2/d2/SIGX Q",
                           "/*/*/NAN -"}));
  file.close_read();
  EXPECT_TRUE(unread.is_null());
  EXPECT_TRUE(file.assigned_paths().empty());
  EXPECT_NEAR(second.base_cell().a(), 21.0, 1e-5);
  EXPECT_NEAR(fsigf.base_cell().a(), 20.0, 1e-5);

  int checked = 0;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const HKL hkl(rows[r].h, rows[r].k, rows[r].l);
    ASSERT_TRUE(listed(list, hkl)) << r;
    if (r >= 64 || hkl == HKL(1, 2, 3)) continue;  // the mates
    const std::vector<double>& v = rows[r].values;
    expect_value(fsigf[hkl].f(), v[0], "F");
    expect_value(fsigf[hkl].sigf(), v[1], "sigF");
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
  EXPECT_TRUE(Util::is_nan(fsigf[HKL(0, 1, 2)].f()));               // F missing ...
  EXPECT_EQ(fsigf[HKL(0, 1, 2)].sigf(), float(rows[5].values[1]));  // ... sigma read
}

// The run's sequence on one object: the limits of both files, then both
// data reads with the common limit, with dotted default and bracket paths,
// then the append. The appended copy holds every input column bit for bit
// and six new columns holding the exported values (phases in degrees).
TEST(MtzRead, ProgramSequenceOnRealFiles) {
  const auto real = mtz_testing::read_real_files();
  const mtz_testing::Real_file &ref = real.at("ref_1rx2.mtz"), &wrk = real.at("wrk_7mm1.mtz");
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

  const struct {
    const mtz_testing::Real_file& gemmi;
    String name, fo_path, hl_path;
  } reads[] = {{ref, ref_name, "/*/*/FP", "/*/*/FC"},
               {wrk, wrk_name, "/*/*/[FP,SIGFP]", "/*/*/[HLA,HLB,HLC,HLD]"}};
  for (const auto& read : reads) {
    file.open_read(read.name);
    HKL_info list(file.spacegroup(), file.cell(), Resolution(limit), true);
    HKL_data<F_sigF<float>> fo(list);
    HKL_data<ABCD<float>> hl(list);
    file.import_hkl_data(fo, read.fo_path);
    file.import_hkl_data(hl, read.hl_path);
    file.close_read();

    const int fp = read.gemmi.column("FP"), sigfp = read.gemmi.column("SIGFP"),
              hla = read.gemmi.column("HLA"), hlb = read.gemmi.column("HLB");
    int inside = 0, outside = 0;
    for (const Row& row : read.gemmi.sample) {
      const HKL hkl(row.h, row.k, row.l);
      if (row.s >= 1.0 / (limit * limit)) {  // beyond the common limit: not listed
        EXPECT_FALSE(listed(list, hkl));
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
    if (&read.gemmi == &ref) {
      EXPECT_GT(outside, 4);  // the finest reference rows lie beyond 1.85 A
      EXPECT_LT(fo.num_obs(), ref.fp_present);
      continue;
    }
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(fo.num_obs(), wrk.fp_present);
    EXPECT_EQ(hl.num_obs(), wrk.fp_present);
    HKL_data<F_phi<float>> fphi(list);
    fphi.compute(fo, [](const HKL_info::HKL_reference_index&, const F_sigF<float>& f) {
      return f.missing() ? F_phi<float>() : F_phi<float>(f.f(), float(Util::pi() / 2));
    });
    const String out = mtz_testing::scratch("sequence.mtz");
    file.open_append(wrk_name, out);
    file.export_hkl_data(fphi, "/*/*/sideomit");
    file.export_hkl_data(hl, "/*/*/sideomit");
    const std::vector<String> assigned = file.assigned_paths();
    ASSERT_EQ(assigned.size(), 6u);
    EXPECT_EQ(assigned[1], "/HKL_base/HKL_base/sideomit.F_phi.phi P");
    EXPECT_EQ(assigned[5], "/HKL_base/HKL_base/sideomit.ABCD.D A");
    file.close_append();
    EXPECT_FALSE(mtz_testing::file_exists(out + ".partial"));

    const mtz_testing::Raw_mtz a(wrk_name), b(out);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a.nref(), wrk.rows);
    ASSERT_EQ(b.nref(), wrk.rows);
    ASSERT_EQ(b.columns().size(), 3 + wrk.labels.size() + 6);
    EXPECT_EQ(std::string(b->title), std::string(a->title));
    EXPECT_EQ(b->mtzsymm.nsym, 6);
    EXPECT_EQ(b->histlines, a->histlines);
    // Each column of the copy: its label, type, and the input column it
    // repeats bit for bit (the new phase is 90 degrees wherever FP is present).
    std::vector<std::array<std::string, 3>> columns = {
        {"sideomit.F_phi.F", "F", "FP"}, {"sideomit.F_phi.phi", "P", "FP"},
        {"sideomit.ABCD.A", "A", "HLA"}, {"sideomit.ABCD.B", "A", "HLB"},
        {"sideomit.ABCD.C", "A", "HLC"}, {"sideomit.ABCD.D", "A", "HLD"}};
    for (CMtz::MTZCOL* c : a.columns()) columns.push_back({c->label, c->type, c->label});
    for (const auto& [label, type, source] : columns) {
      CMtz::MTZCOL *got = b.column(label), *want = a.column(source);
      ASSERT_NE(got, nullptr) << label;
      EXPECT_EQ(got->type, type);
      const bool phase = label == "sideomit.F_phi.phi";
      int wrong = 0;
      for (int r = 0; r < a.nref(); ++r)
        wrong += !mtz_testing::same_bits(got->ref[r],
                                         phase && !std::isnan(want->ref[r]) ? 90.0f : want->ref[r]);
      EXPECT_EQ(wrong, 0) << label;
    }
  }
}

// Every row of a file is read whatever its RESO record says, as gemmi (and
// the CCP4 library) reads every row: a stale record (3 A, for data to
// 1.85 A), none, or one that is no pair of limits in 1/d^2 (a finest limit
// of 0 or below, the limits swapped, d spacings in their place) gives the
// data's own limit, and rows far beyond it (indices of 512 and more) widen
// the limit to hold them. A record that matches the data keeps its limit
// exactly, and one finer than the data is kept.
TEST(MtzRead, EveryRowIsReadWhateverTheResolutionRecord) {
  using mtz_testing::with_text;
  const mtz_testing::Real_file wrk = mtz_testing::read_real_files().at("wrk_7mm1.mtz");
  const std::string source = fixture_path("wrk_7mm1.mtz"),
                    bytes = vantrel_testing::read_bytes(source),
                    reso = "RESO 0.000167046399       0.292242101987";
  const mtz_testing::Raw_mtz raw(source);
  ASSERT_TRUE(raw);
  const std::array<int, 3> moves[] = {
      {0, 0, 600}, {5, 2, -700}, {9, 1, 512}};  // row, column, index
  std::string far = bytes;
  for (const auto& [row, column, index] : moves)
    far = mtz_testing::with_row_value(far, row, column, float(index));
  const auto with_reso = [&](const std::string& text) {
    return with_text(bytes, reso, text + std::string(reso.size() - text.size(), ' '));
  };
  const double own = 0.9999 / std::sqrt(wrk.s_max);  // the data's own limit
  const struct {
    std::string bytes;
    double limit;  // 0 where the moved rows set it
  } cases[] = {{bytes, 0.9999 / std::sqrt(double(0.292242101987f))},
               {with_reso("RESO 0.000167046399       0.111111111111"), own},
               {with_reso("TITLE"), own},
               {with_reso("RESO 0.000167046399       0"), own},
               {with_reso("RESO 0.000167046399       -1"), own},
               {with_reso("RESO -5 -1"), own},
               {with_reso("RESO 0.292242101987       0.000167046399"), own},
               {with_reso("RESO 77.37 1.8498"), own},
               {with_reso("RESO 1.8498 77.37"), own},
               {far, 0.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    CCP4MTZfile file;
    file.open_read(vantrel_testing::write_bytes(mtz_testing::scratch("reso.mtz"), c.bytes));
    const Resolution resolution = file.resolution();
    HKL_info list;
    file.import_hkl_info(list, false);
    HKL_data<F_sigF<float>> fo(list);
    file.import_hkl_data(fo, "/*/*/[FP,SIGFP]");
    file.close_read();
    EXPECT_EQ(list.num_reflections(), wrk.rows);
    EXPECT_EQ(fo.num_obs(), wrk.fp_present);
    if (&c == cases) {
      EXPECT_EQ(resolution.limit(), c.limit);
    }
    if (c.limit > 0.0) {
      EXPECT_NEAR(resolution.limit(), c.limit, 2e-6 * c.limit);
      for (const Row& row : wrk.sample)
        expect_value(fo[HKL(row.h, row.k, row.l)].f(), row.values[wrk.column("FP")], "sample row");
      continue;
    }
    for (const auto& [row, column, index] : moves) {
      const auto at = [&, row = row](const char* label) {
        return int(raw.column(label)->ref[row]);
      };
      HKL moved(at("H"), at("K"), at("L"));
      moved[column] = index;
      EXPECT_LT(moved.invresolsq(list.cell()), resolution.invresolsq_limit()) << row;
      EXPECT_TRUE(listed(list, moved)) << row;
      expect_value(fo[moved].f(), raw.column("FP")->ref[row], "moved row");
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

// The space group of a file's operators, on the library's own record: the
// group gemmi finds for each real file; none without operators.
TEST(MtzRead, SpacegroupOfTheFileOperators) {
  for (const auto& [name, want] : mtz_testing::read_real_files()) {
    const mtz_testing::Raw_mtz mtz(fixture_path(name));
    ASSERT_TRUE(mtz) << name;
    Spacegroup spacegroup;
    read_spacegroup(mtz.get(), spacegroup);
    EXPECT_EQ(spacegroup.spacegroup_number(), want.spacegroup_number) << name;
    EXPECT_EQ(spacegroup.op_count(), mtz->mtzsymm.nsym) << name;
  }
  int nset[1] = {0};
  const Mtz_ptr empty(CMtz::MtzMalloc(0, nset));
  empty->mtzsymm.nsym = 0;
  Spacegroup spacegroup;
  EXPECT_EQ(fatal_text([&] { read_spacegroup(empty.get(), spacegroup); }),
            "CCP4MTZfile: invalid symmetry operators");
  EXPECT_TRUE(spacegroup.is_null());
}
