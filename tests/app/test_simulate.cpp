// Reference-data simulation: rand() sequence, bins, ranks, draw order and
// the work data's statistics.
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
struct Scripted_draws : Random_source {
  explicit Scripted_draws(std::vector<int> v) : values(std::move(v)) {}
  int draw() override {
    if (count >= values.size()) ADD_FAILURE() << "more draws than scripted";
    return values[count++ % values.size()];
  }
  std::vector<int> values;
  size_t count = 0;
};

typedef std::function<double(const HRI&, double)> Fom;
Fom constant(double m) {
  return [m](const HRI&, double) { return m; };
}

struct Data {
  HKL_data<F_sigF<float> > f;
  HKL_data<ABCD<float> > hl;
};

// Wilson-distributed amplitudes with fall-off exp(-B s / 4), and HL
// coefficients of a random phase whose figure of merit fom(ih, E^2) gives.
Data make_data(const HKL_info& list, double b_factor, unsigned seed, const Fom& fom) {
  std::mt19937 random(seed);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> angle(0.0, Util::twopi());
  Data d{HKL_data<F_sigF<float> >(list), HKL_data<ABCD<float> >(list)};
  for (HRI ih = list.first(); !ih.last(); ih.next()) {
    const bool centric = ih.hkl_class().centric();
    const double x = normal(random), y = centric ? 0.0 : normal(random);
    const double e2 = (x * x + y * y) / (centric ? 1.0 : 2.0);
    d.f[ih] = F_sigF<float>(float(100.0 * std::sqrt(e2 * ih.hkl_class().epsilon()) *
                                  std::exp(-0.25 * b_factor * ih.invresolsq())),
                            1.0f);
    const double phi = centric ? ih.hkl_class().allowed_phase() : angle(random);
    d.hl[ih] =
        Compute_abcd_from_phifom<float>()(ih, Phi_fom<float>(float(phi), float(fom(ih, e2))));
  }
  return d;
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

struct Simulated {
  HKL_data<F_sigF<float> > f;
  HKL_data<Phi_fom<float> > original, result;  // reference phases before and after
};

// The simulation from reference data (B 10, figure of merit 0.9) and work data.
Simulated simulate(const Data& wrk, Random_source& draws) {
  const Data ref = make_data(ref_list(), 10.0, 1, constant(0.9));
  Simulated out{HKL_data<F_sigF<float> >(ref_list()), HKL_data<Phi_fom<float> >(ref_list()),
                HKL_data<Phi_fom<float> >(ref_list())};
  HKL_data<ABCD<float> > sim_hl(ref_list());
  EXPECT_TRUE(MapSimulate(100, 20)(out.f, sim_hl, ref.f, ref.hl, wrk.f, wrk.hl, draws));
  out.original.compute(ref.hl, Compute_phifom_from_abcd<float>());
  out.result.compute(sim_hl, Compute_phifom_from_abcd<float>());
  return out;
}

}  // namespace

TEST(RandSequence, ReproducesTheCLibrarySequence) {
  for (const unsigned seed : {1u, 0u, 12345u, 4000000000u}) {
    std::srand(seed);
    C_rand_sequence sequence(seed);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(sequence.draw(), std::rand()) << seed << " " << i;
  }
}

TEST(MapSimulate, BinFillingAndRankPairing) {
  // Bin 0 takes bins 1-3 (the last one whole); a full bin keeps its list.
  MapSimulate::Bin_table bins = {{0}, {1}, {2}, {3, 4, 5, 6}};
  MapSimulate::fill_from_neighbours(bins, 4);
  EXPECT_EQ(bins,
            MapSimulate::Bin_table(
                {{0, 1, 2, 3, 4, 5, 6}, {1, 2, 0, 3, 4, 5, 6}, {2, 3, 4, 5, 6}, {3, 4, 5, 6}}));
  // Fewer indices than asked in all: every bin ends holding all of them.
  MapSimulate::Bin_table sparse = {{}, {7}, {}, {9}};
  MapSimulate::fill_from_neighbours(sparse, 20);
  EXPECT_EQ(sparse, MapSimulate::Bin_table({{7, 9}, {7, 9}, {9, 7}, {9, 7}}));

  const std::vector<int> three_of_seven = {0, 2, 4}, seven_of_three = {0, 0, 0, 1, 1, 2, 2};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(MapSimulate::rank_partner(i, 3, 7), three_of_seven[i]);
  for (int i = 0; i < 7; ++i) EXPECT_EQ(MapSimulate::rank_partner(i, 7, 3), seven_of_three[i]);
}

TEST(MapSimulate, PhaseErrorDrawOrder) {
  // Acentric: angle then acceptance per try; a rejected try (angle 500 =
  // pi, acceptance 0.999) is followed by an accepted one.
  Scripted_draws draws({1500, 1999, 3250, 0});
  EXPECT_NEAR(MapSimulate::phase_error(0.8, false, draws), Util::twopi() * 0.25, 1e-12);
  EXPECT_EQ(draws.count, 4u);
  // Centric: one draw, turned by pi when at or above 0.5 m + 0.5.
  Scripted_draws centric({1950, 850, 999});
  EXPECT_EQ(MapSimulate::phase_error(0.8, true, centric), Util::pi());
  EXPECT_EQ(MapSimulate::phase_error(0.8, true, centric), 0.0);
  EXPECT_EQ(MapSimulate::phase_error(1.0, true, centric), 0.0);
  // Tries of angle 500 (a turn of pi) and the given acceptance draw. A figure
  // of merit of 1 or more rejects every try: 0 after all 200 draws, so later
  // reflections draw as for any other m. At 0.99 (kappa about 50) a turn of
  // pi is still accepted by a draw of 0; 100 rejected tries give 0.
  const struct {
    double m;
    int acceptance;
    double error;
    size_t draws;
  } tries[] = {
      {1.0, 0, 0.0, 200}, {1.5, 0, 0.0, 200}, {0.99, 0, Util::pi(), 2}, {0.9, 999, 0.0, 200}};
  for (const auto& t : tries) {
    Scripted_draws pairs({});
    for (int i = 0; i < 100; ++i) pairs.values.insert(pairs.values.end(), {500, t.acceptance});
    EXPECT_NEAR(MapSimulate::phase_error(t.m, false, pairs), t.error, 1e-12) << t.m;
    EXPECT_EQ(pairs.count, t.draws) << t.m;
  }
  // m = 0 accepts the first try.
  Scripted_draws flat({123, 999});
  EXPECT_NEAR(MapSimulate::phase_error(0.0, false, flat), Util::twopi() * 0.123, 1e-12);
}

TEST(MapSimulate, PlatformRandFormEqualsTheInjectedSequence) {
  // The form without a source draws from rand(); seeded alike, the injected
  // copy of the C library's sequence gives the same lists bit for bit and
  // leaves both sequences at the same place.
  const Data wrk = make_data(wrk_list(), 30.0, 7, constant(0.7));
  const Data ref = make_data(ref_list(), 10.0, 8, constant(0.9));
  const MapSimulate simulate(100, 20);
  HKL_data<F_sigF<float> > f_rand(ref_list()), f_seq(ref_list());
  HKL_data<ABCD<float> > hl_rand(ref_list()), hl_seq(ref_list());
  std::srand(77);
  EXPECT_TRUE(simulate(f_rand, hl_rand, ref.f, ref.hl, wrk.f, wrk.hl));
  C_rand_sequence draws(77);
  EXPECT_TRUE(simulate(f_seq, hl_seq, ref.f, ref.hl, wrk.f, wrk.hl, draws));
  int turned = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    ASSERT_EQ(f_rand[ih].f(), f_seq[ih].f());
    ASSERT_EQ(hl_rand[ih].a(), hl_seq[ih].a());
    ASSERT_EQ(hl_rand[ih].b(), hl_seq[ih].b());
    turned += hl_seq[ih].a() != ref.hl[ih].a();
  }
  EXPECT_GT(turned, 5000);
  EXPECT_EQ(std::rand(), draws.draw());
}

TEST(MapSimulate, DrawsPerReflectionInIndexOrder) {
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
  const Simulated s = simulate(make_data(wrk_list(), 30.0, 2, constant(0.6)), draws);
  EXPECT_EQ(draws.count, script.size());
  int checked = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next(), ++checked) {
    const double error = s.result[ih].phi() - s.original[ih].phi();
    ASSERT_NEAR(std::remainder(error - expected[ih.index()], Util::twopi()), 0.0, 1e-3) << checked;
    EXPECT_NEAR(s.result[ih].fom(), 0.6, 0.02);
  }
  EXPECT_GT(checked, 5000);
}

TEST(MapSimulate, DegradesToTheWorkDataStatistically) {
  // Work figures of merit rise with |E| and fall with resolution.
  const Fom work_fom = [](const HRI& ih, double e2) {
    return (0.2 + 0.7 * (1.0 - std::exp(-e2))) * std::exp(-2.0 * ih.invresolsq());
  };
  C_rand_sequence draws;
  const Simulated s = simulate(make_data(wrk_list(), 30.0, 3, work_fom), draws);

  // Mean cos(error) m (acentric), turned with (1 - m) / 2 (centric); figures
  // of merit by |E| and resolution; intensities by the work fall-off.
  double error_sum[2] = {0, 0}, m_sum[2] = {0, 0}, fom_misfit = 0;
  int n[2] = {0, 0};
  std::vector<double> shell_sum(8, 0.0), shell_expected(8, 0.0);
  const double ratio = ref_list().cell().volume() / wrk_list().cell().volume();
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    const double m = s.result[ih].fom(), error = s.result[ih].phi() - s.original[ih].phi();
    const int c = ih.hkl_class().centric();
    error_sum[c] += c ? double(std::cos(error) < 0.0) : std::cos(error);
    m_sum[c] += m;
    ++n[c];
    const double sq = ih.invresolsq(), wilson = 1e4 * ratio * std::exp(-15.0 * sq);
    const double intensity = s.f[ih].f() * s.f[ih].f() / ih.hkl_class().epsilon();
    fom_misfit += std::abs(m - work_fom(ih, intensity / wilson));
    const int shell = std::min(int(8 * sq * 2.2 * 2.2), 7);
    shell_sum[shell] += intensity;
    shell_expected[shell] += wilson;
  }
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(shell_sum[i] / shell_expected[i], 1.0, 0.1) << i;
  EXPECT_LT(fom_misfit / (n[0] + n[1]), 0.05);
  ASSERT_GT(n[0], 5000);
  ASSERT_GT(n[1], 300);
  EXPECT_NEAR(error_sum[0] / n[0], m_sum[0] / n[0], 0.02);
  EXPECT_NEAR(error_sum[1] / n[1], 0.5 - 0.5 * m_sum[1] / n[1], 0.04);
}

TEST(MapSimulate, SparseWorkBinsAndNegativeScale) {
  // Work data without centric reflections: reference centric reflections
  // take work acentric figures of merit (0.5 against their own 0.9).
  const HKL_info p1(Spacegroup(Spgr_descr("P 1", Spgr_descr::Hall)),
                    Cell(Cell_descr(40, 50, 60, 80, 100, 110)), Resolution(2.2), true);
  C_rand_sequence draws;
  const Simulated s = simulate(make_data(p1, 30.0, 4, constant(0.5)), draws);
  int centric = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next())
    if (ih.hkl_class().centric()) {
      ++centric;
      EXPECT_NEAR(s.result[ih].fom(), 0.5, 0.02);
    }
  EXPECT_GT(centric, 300);

  // Fewer work reflections than bins: reference reflections of a bin with
  // no work reflection keep their own figure of merit.
  const HKL_info few(wrk_list().spacegroup(), wrk_list().cell(), Resolution(12.0), true);
  ASSERT_LT(few.num_reflections(), 100);
  const Simulated t = simulate(make_data(few, 30.0, 5, constant(0.5)), draws);
  int kept = 0, taken = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next()) {
    kept += std::abs(t.result[ih].fom() - 0.9f) < 0.02f;
    taken += std::abs(t.result[ih].fom() - 0.5f) < 0.02f;
  }
  EXPECT_GT(kept, 1000);
  EXPECT_GT(taken, 1000);
  EXPECT_EQ(kept + taken, ref_list().num_reflections());

  // Work intensities 100 times stronger in every fifth of 40 bands: a fall-off
  // negative in places, yet every amplitude finite and positive.
  Data strong = make_data(wrk_list(), 0.0, 6, constant(0.5));
  for (HRI ih = wrk_list().first(); !ih.last(); ih.next())
    if (int(ih.invresolsq() * 2.2 * 2.2 * 40) % 5 == 0) strong.f[ih].f() *= 10.0f;
  const Simulated u = simulate(strong, draws);
  int rescaled = 0;
  for (HRI ih = ref_list().first(); !ih.last(); ih.next())
    rescaled +=
        std::isfinite(u.f[ih].f()) && u.f[ih].f() > 0.0f && std::isfinite(u.result[ih].phi());
  EXPECT_EQ(rescaled, ref_list().num_reflections());
}
