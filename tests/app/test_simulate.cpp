#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "app/map_simulate.h"
#include "reflections/conversions.h"

using namespace vantrel;
using namespace vantrel::datatypes;
typedef HKL_info::HKL_reference_index HRI;

namespace {

// Replays a fixed list of draws and counts them; running past the end fails.
class Scripted_draws : public Random_source {
 public:
  explicit Scripted_draws(std::vector<int> values) : values_(std::move(values)) {}
  int draw() override {
    if (count_ >= values_.size()) ADD_FAILURE() << "more draws than scripted";
    return values_[count_++ % values_.size()];
  }
  size_t count() const { return count_; }

 private:
  std::vector<int> values_;
  size_t count_ = 0;
};

// Wilson-distributed amplitudes with fall-off exp(-B s / 4), and HL
// coefficients of a random phase whose figure of merit fom(ih, F) gives.
template <class Fom>
void make_data(const HKL_info& list, double b_factor, unsigned seed, Fom fom,
               HKL_data<F_sigF<float> >& f, HKL_data<ABCD<float> >& hl) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> angle(0.0, Util::twopi());
  f.init(list, list.cell());
  hl.init(list, list.cell());
  Compute_abcd_from_phifom<float> to_abcd;
  for (HRI ih = list.first(); !ih.last(); ih.next()) {
    const bool centric = ih.hkl_class().centric();
    const double x = normal(random), y = centric ? 0.0 : normal(random);
    const double e2 = (x * x + y * y) / (centric ? 1.0 : 2.0);
    f[ih] = F_sigF<float>(float(100.0 * std::sqrt(e2 * ih.hkl_class().epsilon()) *
                                std::exp(-0.25 * b_factor * ih.invresolsq())),
                          1.0f);
    const double phi = centric ? ih.hkl_class().allowed_phase() : angle(random);
    hl[ih] = to_abcd(ih, Phi_fom<float>(float(phi), float(fom(ih, e2))));
  }
}

const HKL_info& ref_list() {
  static const HKL_info list(Spacegroup(Spgr_descr("P 2ac 2ab", Spgr_descr::Hall)),
                             Cell(Cell_descr(34, 45, 99, 90, 90, 90)), Resolution(2.2), true);
  return list;
}
const HKL_info& wrk_list() {
  static const HKL_info list(Spacegroup(Spgr_descr("P 2yb", Spgr_descr::Hall)),
                             Cell(Cell_descr(40, 50, 60, 90, 100, 90)), Resolution(2.2), true);
  return list;
}

}  // namespace

TEST(RandSequence, ReproducesTheCLibrarySequence) {
  for (const unsigned seed : {1u, 0u, 12345u, 4000000000u}) {
    std::srand(seed);
    C_rand_sequence sequence(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(sequence.draw(), std::rand()) << seed << " " << i;
  }
}

TEST(MapSimulate, FillsShortBinsFromNeighboursInOffsetOrder) {
  // Bin 0 takes bins 1, 2, 3 (negative offsets skipped), the whole of the
  // last one counting; bin 2 stops after bin 3; a full bin keeps its list.
  MapSimulate::Bin_table bins = {{0}, {1}, {2}, {3, 4, 5, 6}};
  MapSimulate::fill_from_neighbours(bins, 4);
  const MapSimulate::Bin_table expected = {
      {0, 1, 2, 3, 4, 5, 6}, {1, 2, 0, 3, 4, 5, 6}, {2, 3, 4, 5, 6}, {3, 4, 5, 6}};
  EXPECT_EQ(bins, expected);
  // Fewer indices than asked in all: every bin ends holding all of them.
  MapSimulate::Bin_table sparse = {{}, {7}, {}, {9}};
  MapSimulate::fill_from_neighbours(sparse, 20);
  const MapSimulate::Bin_table all = {{7, 9}, {7, 9}, {9, 7}, {9, 7}};
  EXPECT_EQ(sparse, all);
}

TEST(MapSimulate, PairsByRelativeRank) {
  const std::vector<int> three_of_seven = {0, 2, 4}, seven_of_three = {0, 0, 0, 1, 1, 2, 2};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(MapSimulate::rank_partner(i, 3, 7), three_of_seven[i]);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(MapSimulate::rank_partner(i, 7, 3), seven_of_three[i]);
}

TEST(MapSimulate, PhaseErrorDrawOrder) {
  // Acentric: angle then acceptance per try; a rejected try (angle 500 =
  // pi, acceptance 0.999) is followed by an accepted one.
  Scripted_draws draws({1500, 1999, 3250, 0});
  EXPECT_NEAR(MapSimulate::phase_error(0.8, false, draws), Util::twopi() * 0.25, 1e-12);
  EXPECT_EQ(draws.count(), 4u);
  // Centric: one draw, turned by pi when at or above 0.5 m + 0.5.
  Scripted_draws centric({1950, 850, 999});
  EXPECT_EQ(MapSimulate::phase_error(0.8, true, centric), Util::pi());
  EXPECT_EQ(MapSimulate::phase_error(0.8, true, centric), 0.0);
  EXPECT_EQ(MapSimulate::phase_error(1.0, true, centric), 0.0);
  // Figure of merit 1 is exact, 0 accepts the first try; 100 failures give 0.
  Scripted_draws none({});
  EXPECT_EQ(MapSimulate::phase_error(1.0, false, none), 0.0);
  EXPECT_EQ(none.count(), 0u);
  Scripted_draws flat({123, 999});
  EXPECT_NEAR(MapSimulate::phase_error(0.0, false, flat), Util::twopi() * 0.123, 1e-12);
  std::vector<int> rejections;
  for (int i = 0; i < 100; ++i) rejections.insert(rejections.end(), {500, 999});
  Scripted_draws reject(rejections);
  EXPECT_EQ(MapSimulate::phase_error(0.9, false, reject), 0.0);
  EXPECT_EQ(reject.count(), 200u);
}

namespace {

struct Simulated {
  HKL_data<F_sigF<float> > f;
  HKL_data<Phi_fom<float> > original, result;  // reference phases before and after
};

// Runs the simulation from reference data (B 10, figure of merit 0.9) and
// the given work data.
Simulated simulate(const HKL_data<F_sigF<float> >& wrk_f, const HKL_data<ABCD<float> >& wrk_hl,
                   Random_source& draws) {
  HKL_data<F_sigF<float> > ref_f;
  HKL_data<ABCD<float> > ref_hl;
  make_data(
      ref_list(), 10.0, 1, [](const HRI&, double) { return 0.9; }, ref_f, ref_hl);
  Simulated out;
  out.f.init(ref_list(), ref_list().cell());
  HKL_data<ABCD<float> > sim_hl(ref_list());
  EXPECT_TRUE(MapSimulate(100, 20)(out.f, sim_hl, ref_f, ref_hl, wrk_f, wrk_hl, draws));
  out.original.init(ref_list(), ref_list().cell());
  out.original.compute(ref_hl, Compute_phifom_from_abcd<float>());
  out.result.init(ref_list(), ref_list().cell());
  out.result.compute(sim_hl, Compute_phifom_from_abcd<float>());
  return out;
}

double wrap(double a) { return std::remainder(a, Util::twopi()); }

}  // namespace

TEST(MapSimulate, DrawsPerReflectionInIndexOrder) {
  HKL_data<F_sigF<float> > wrk_f;
  HKL_data<ABCD<float> > wrk_hl;
  make_data(
      wrk_list(), 30.0, 2, [](const HRI&, double) { return 0.6; }, wrk_f, wrk_hl);
  // Acentric: an angle, then acceptance 0 (always taken); centric alternately
  // turned and kept.
  std::vector<int> script;
  std::vector<double> expected;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    const int i = ih.index();
    if (ih.hkl_class().centric()) {
      script.push_back(i % 2 ? 990 : 10);
      expected.push_back(i % 2 ? Util::pi() : 0.0);
    } else {
      script.insert(script.end(), {(37 * i) % 1000, 0});
      expected.push_back(Util::twopi() * 0.001 * ((37 * i) % 1000));
    }
  }
  Scripted_draws draws(script);
  const Simulated s = simulate(wrk_f, wrk_hl, draws);
  EXPECT_EQ(draws.count(), script.size());
  int checked = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next(), ++checked) {
    const double error = s.result[ih].phi() - s.original[ih].phi();
    ASSERT_NEAR(wrap(error - expected[ih.index()]), 0.0, 1e-3) << ih.index();
    EXPECT_NEAR(s.result[ih].fom(), 0.6, 0.02);
  }
  EXPECT_GT(checked, 5000);
}

TEST(MapSimulate, DegradesToTheWorkDataStatistically) {
  // Work figures of merit rise with |E| and fall with resolution.
  const auto work_fom = [](const HRI& ih, double e2) {
    return (0.2 + 0.7 * (1.0 - std::exp(-e2))) * std::exp(-2.0 * ih.invresolsq());
  };
  HKL_data<F_sigF<float> > wrk_f;
  HKL_data<ABCD<float> > wrk_hl;
  make_data(wrk_list(), 30.0, 3, work_fom, wrk_f, wrk_hl);
  C_rand_sequence draws;
  const Simulated s = simulate(wrk_f, wrk_hl, draws);

  // Phase errors: mean cosine m for acentric, turned with (1 - m) / 2 for
  // centric reflections. Figures of merit follow |E| and resolution as in
  // the work data (same ranks); intensities follow the work fall-off times
  // the cell volume ratio.
  double cos_sum = 0, m_acentric = 0, turned = 0, m_centric = 0, fom_misfit = 0;
  int n_acentric = 0, n_centric = 0;
  std::vector<double> shell_sum(8, 0.0), shell_expected(8, 0.0);
  const double ratio = ref_list().cell().volume() / wrk_list().cell().volume();
  const double s_max = 1.0 / (2.2 * 2.2);
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    const double m = s.result[ih].fom(), error = s.result[ih].phi() - s.original[ih].phi();
    if (ih.hkl_class().centric()) {
      turned += std::cos(error) < 0.0;
      m_centric += m;
      ++n_centric;
    } else {
      cos_sum += std::cos(error);
      m_acentric += m;
      ++n_acentric;
    }
    const double sq = ih.invresolsq(), eps = ih.hkl_class().epsilon();
    const double intensity = s.f[ih].f() * s.f[ih].f() / eps;
    const double ref_e2 = intensity / (1e4 * ratio * std::exp(-15.0 * sq));
    fom_misfit += std::abs(m - work_fom(ih, ref_e2));
    const int shell = std::min(int(8 * sq / s_max), 7);
    shell_sum[shell] += intensity;
    shell_expected[shell] += 1e4 * ratio * std::exp(-15.0 * sq);
  }
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(shell_sum[i] / shell_expected[i], 1.0, 0.1) << i;
  EXPECT_LT(fom_misfit / (n_acentric + n_centric), 0.05);
  ASSERT_GT(n_acentric, 5000);
  ASSERT_GT(n_centric, 300);
  EXPECT_NEAR(cos_sum / n_acentric, m_acentric / n_acentric, 0.02);
  EXPECT_NEAR(turned / n_centric, 0.5 - 0.5 * m_centric / n_centric, 0.04);
}

TEST(MapSimulate, SparseWorkBins) {
  // Work data without centric reflections: reference centric reflections
  // take work acentric figures of merit (0.5 against their own 0.9).
  const HKL_info p1(Spacegroup(Spgr_descr("P 1", Spgr_descr::Hall)),
                    Cell(Cell_descr(40, 50, 60, 80, 100, 110)), Resolution(2.2), true);
  HKL_data<F_sigF<float> > wrk_f;
  HKL_data<ABCD<float> > wrk_hl;
  make_data(
      p1, 30.0, 4, [](const HRI&, double) { return 0.5; }, wrk_f, wrk_hl);
  C_rand_sequence draws;
  const Simulated s = simulate(wrk_f, wrk_hl, draws);
  int centric = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    if (!ih.hkl_class().centric()) continue;
    ++centric;
    EXPECT_NEAR(s.result[ih].fom(), 0.5, 0.02);
  }
  EXPECT_GT(centric, 300);

  // Fewer work reflections than bins: reference reflections of a bin with
  // no work reflection keep their own figure of merit.
  const HKL_info few(wrk_list().spacegroup(), wrk_list().cell(), Resolution(12.0), true);
  ASSERT_LT(few.num_reflections(), 100);
  make_data(
      few, 30.0, 5, [](const HRI&, double) { return 0.5; }, wrk_f, wrk_hl);
  const Simulated t = simulate(wrk_f, wrk_hl, draws);
  int kept = 0, taken = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    const float m = t.result[ih].fom();
    kept += std::abs(m - 0.9f) < 0.02f;
    taken += std::abs(m - 0.5f) < 0.02f;
  }
  EXPECT_GT(kept, 1000);
  EXPECT_GT(taken, 1000);
  EXPECT_EQ(kept + taken, ref_list().num_reflections());
}

TEST(MapSimulate, ScaleFunctionDippingBelowZero) {
  // Work intensities 100 times stronger in every fifth of 40 resolution
  // bands make the fitted fall-off negative over part of the range; every
  // reference amplitude must still be rescaled to a finite positive value.
  HKL_data<F_sigF<float> > wrk_f;
  HKL_data<ABCD<float> > wrk_hl;
  make_data(
      wrk_list(), 0.0, 6, [](const HRI&, double) { return 0.5; }, wrk_f, wrk_hl);
  for (HRI ih = wrk_list().first(); !ih.last(); ih.next())
    if (int(ih.invresolsq() * 2.2 * 2.2 * 40) % 5 == 0) wrk_f[ih].f() *= 10.0f;
  C_rand_sequence draws;
  const Simulated s = simulate(wrk_f, wrk_hl, draws);
  int rescaled = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next())
    rescaled +=
        std::isfinite(s.f[ih].f()) && s.f[ih].f() > 0.0f && std::isfinite(s.result[ih].phi());
  EXPECT_EQ(rescaled, ref_list().num_reflections());
}
