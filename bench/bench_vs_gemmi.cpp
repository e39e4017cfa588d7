// The core operations side by side with gemmi's C++ headers, on one data
// set: the 7MM1 cell and space group (P 31 2 1, 89.341 89.341 105.740, 90
// 90 120), every reflection to 1.84982 A, on a 128 x 128 x 180 grid. The
// coefficients are those of a map of random ASU values, so that they obey
// the group's phase restrictions and both programs compute the same map.
//
// Each benchmark runs its two versions alternately, one after the other,
// and reports the medians of their times (project_ms, gemmi_ms) and the
// median of the per-pair ratios (ratio = project / gemmi). Single thread.
// Built only when the gemmi headers are found; nothing else uses them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include <gemmi/asudata.hpp>
#include <gemmi/fourier.hpp>
#include <gemmi/reciproc.hpp>
#include <gemmi/symmetry.hpp>
#include <gemmi/unitcell.hpp>

#include "maps/interp.h"
#include "maps/xmap.h"
#include "reflections/hkl_data.h"

using namespace vantrel;

namespace {

typedef HKL_data<datatypes::F_phi<float>> Fphi_list;

const double resolution = 1.84982;
const int grid_size[3] = {128, 128, 180};

struct Data {
  Data()
      : spacegroup(Spgr_descr("P 31 2 1")),
        p1(Spacegroup::P1),
        cell(Cell_descr(89.341, 89.341, 105.740, 90, 90, 120)),
        hkl_info(spacegroup, cell, Resolution(resolution), true),
        fphi(hkl_info),
        map(spacegroup, cell, sampling()),
        map_p1(p1, cell, sampling()),
        g_cell(89.341, 89.341, 105.740, 90, 90, 120),
        g_spacegroup(gemmi::find_spacegroup_by_name("P 31 2 1")) {
    std::mt19937 rng(16);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (auto ix = map.first(); !ix.last(); ix.next()) map[ix] = value(rng);
    map.fft_to(fphi, 1);
    map.fft_from(fphi, 1);  // band-limited: what the coefficients give back
    for (auto ix = map_p1.first(); !ix.last(); ix.next()) map_p1[ix] = map.get_data(ix.coord());

    g_fphi.unit_cell_ = g_cell;
    g_fphi.spacegroup_ = g_spacegroup;
    for (auto ih = fphi.first(); !ih.last(); ih.next()) {
      const HKL& h = ih.hkl();
      const std::complex<float> c = std::polar(fphi[ih].f(), fphi[ih].phi());
      g_fphi.v.push_back({{{h.h(), h.k(), h.l()}}, c});
    }
    g_map = gemmi_map();
    check_same_map();

    std::mt19937 prng(7);
    std::uniform_real_distribution<double> frac(-1.0, 2.0);
    for (int i = 0; i < 1000000; ++i) points.emplace_back(frac(prng), frac(prng), frac(prng));
  }

  // Both sides must compute the same map, or the comparison means nothing.
  void check_same_map() const {
    double diff = 0.0, sum = 0.0;
    for (auto ix = map.first(); !ix.last(); ix.next()) {
      const Coord_grid c = ix.coord();
      diff = std::max(diff, double(std::abs(map[ix] - g_map.get_value(c.u(), c.v(), c.w()))));
      sum = std::max(sum, double(std::abs(map[ix])));
    }
    if (!(diff <= 1e-4 * sum)) {
      std::fprintf(stderr, "bench_vs_gemmi: the two maps differ by %g (max %g)\n", diff, sum);
      std::exit(1);
    }
  }

  static Grid_sampling sampling() {
    Grid_sampling g;
    static_cast<Grid&>(g) = Grid(grid_size[0], grid_size[1], grid_size[2]);
    return g;
  }

  gemmi::Grid<float> gemmi_map() const {
    const std::array<int, 3> size{{grid_size[0], grid_size[1], grid_size[2]}};
    return gemmi::transform_f_phi_grid_to_map(gemmi::get_f_phi_on_grid<float>(g_fphi, size, true));
  }

  Spacegroup spacegroup, p1;
  Cell cell;
  HKL_info hkl_info;
  Fphi_list fphi;
  Xmap<float> map, map_p1;
  gemmi::UnitCell g_cell;
  const gemmi::SpaceGroup* g_spacegroup;
  gemmi::AsuData<std::complex<float>> g_fphi;
  gemmi::Grid<float> g_map;
  std::vector<Coord_frac> points;
};

// Made on first use, after the library's static objects.
const Data& data() {
  static const Data d;
  return d;
}

double milliseconds(const std::function<void()>& f) {
  const auto start = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

double median(std::vector<double> x) {
  std::sort(x.begin(), x.end());
  const std::size_t n = x.size();
  return n % 2 ? x[n / 2] : 0.5 * (x[n / 2 - 1] + x[n / 2]);
}

// Runs the pair `pairs` times, alternating which goes first, and reports
// the medians.
void compare(benchmark::State& state, const std::function<void()>& ours,
             const std::function<void()>& theirs, const int pairs) {
  data();
  ours();  // warm caches and shared tables on both sides
  theirs();
  std::vector<double> t_ours, t_theirs, ratio;
  for (auto _ : state) {
    for (int i = 0; i < pairs; ++i) {
      double a, b;
      if (i % 2 == 0) {
        a = milliseconds(ours);
        b = milliseconds(theirs);
      } else {
        b = milliseconds(theirs);
        a = milliseconds(ours);
      }
      t_ours.push_back(a);
      t_theirs.push_back(b);
      ratio.push_back(a / b);
    }
    state.SetIterationTime(median(t_ours) / 1000.0);
  }
  state.counters["project_ms"] = median(t_ours);
  state.counters["gemmi_ms"] = median(t_theirs);
  state.counters["ratio"] = median(ratio);
}

void BM_map_from_coefficients_sparse(benchmark::State& state) {
  Xmap<float> map(data().spacegroup, data().cell, Data::sampling());
  compare(
      state, [&] { map.fft_from(data().fphi, 2); },
      [&] { benchmark::DoNotOptimize(data().gemmi_map()); }, 21);
}

void BM_map_from_coefficients_full(benchmark::State& state) {
  Xmap<float> map(data().spacegroup, data().cell, Data::sampling());
  compare(
      state, [&] { map.fft_from(data().fphi, 1); },
      [&] { benchmark::DoNotOptimize(data().gemmi_map()); }, 21);
}

// gemmi: the half-l transform of the full map, then every listed reflection
// read from it.
void gemmi_coefficients(std::vector<std::complex<float>>& out) {
  const Data& d = data();
  const gemmi::FPhiGrid<float> hkl = gemmi::transform_map_to_f_phi(d.g_map, true);
  out.clear();
  for (const auto& v : d.g_fphi.v) out.push_back(hkl.get_value_by_hkl(v.hkl));
}

void coefficients_from_map(benchmark::State& state, const int type) {
  Fphi_list fphi(data().hkl_info);
  std::vector<std::complex<float>> out;
  compare(
      state, [&] { data().map.fft_to(fphi, type); }, [&] { gemmi_coefficients(out); }, 21);
}

void BM_coefficients_from_map_sparse(benchmark::State& state) { coefficients_from_map(state, 2); }
void BM_coefficients_from_map_full(benchmark::State& state) { coefficients_from_map(state, 1); }

template <class I> float interp_sum(const Xmap<float>& map) {
  float sum = 0.0f;
  for (const Coord_frac& f : data().points) sum += map.interp<I>(f);
  return sum;
}

template <bool cubic> float gemmi_interp_sum() {
  const gemmi::Grid<float>& g = data().g_map;
  float sum = 0.0f;
  for (const Coord_frac& f : data().points) {
    const gemmi::Fractional x(f.u(), f.v(), f.w());
    sum += cubic ? float(g.tricubic_interpolation(x)) : g.interpolate_value(x);
  }
  return sum;
}

void BM_interp_cubic_P3121(benchmark::State& state) {
  compare(
      state, [] { benchmark::DoNotOptimize(interp_sum<Interp_cubic>(data().map)); },
      [] { benchmark::DoNotOptimize(gemmi_interp_sum<true>()); }, 9);
}

void BM_interp_cubic_P1(benchmark::State& state) {
  compare(
      state, [] { benchmark::DoNotOptimize(interp_sum<Interp_cubic>(data().map_p1)); },
      [] { benchmark::DoNotOptimize(gemmi_interp_sum<true>()); }, 9);
}

void BM_interp_linear_P1(benchmark::State& state) {
  compare(
      state, [] { benchmark::DoNotOptimize(interp_sum<Interp_linear>(data().map_p1)); },
      [] { benchmark::DoNotOptimize(gemmi_interp_sum<false>()); }, 9);
}

// gemmi: the unique reflections with their centric flags, epsilons and 1/d^2,
// and a sorted copy for lookup by binary search.
void gemmi_reflection_list() {
  const Data& d = data();
  const gemmi::GroupOps ops = d.g_spacegroup->operations();
  const std::vector<gemmi::Miller> hkls =
      gemmi::make_miller_vector(d.g_cell, d.g_spacegroup, resolution);
  std::vector<char> centric(hkls.size());
  std::vector<int> epsilon(hkls.size());
  std::vector<float> inv_d2(hkls.size());
  for (std::size_t i = 0; i < hkls.size(); ++i) {
    centric[i] = ops.is_reflection_centric(hkls[i]);
    epsilon[i] = ops.epsilon_factor(hkls[i]);
    inv_d2[i] = float(d.g_cell.calculate_1_d2(hkls[i]));
  }
  std::vector<gemmi::Miller> sorted = hkls;
  std::sort(sorted.begin(), sorted.end());
  benchmark::DoNotOptimize(sorted.data());
  benchmark::DoNotOptimize(inv_d2.data());
}

void BM_reflection_list(benchmark::State& state) {
  compare(
      state,
      [] {
        const HKL_info list(data().spacegroup, data().cell, Resolution(resolution), true);
        benchmark::DoNotOptimize(list.num_reflections());
      },
      gemmi_reflection_list, 21);
}

}  // namespace

BENCHMARK(BM_map_from_coefficients_sparse)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_map_from_coefficients_full)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_coefficients_from_map_sparse)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_coefficients_from_map_full)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_interp_cubic_P3121)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_interp_cubic_P1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_interp_linear_P1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_reflection_list)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
