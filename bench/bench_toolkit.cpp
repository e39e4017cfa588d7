// Protein toolkit costs: closing one- and two-residue gaps of a real chain
// (tests/data/loop_sites.txt) at several torsion samplings, and the
// six-dimensional target search per rotation.
#include <benchmark/benchmark.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include "app/llk_map_target.h"
#include "app/protein_loop.h"
#include "symmetry/spgr_descr.h"

using namespace vantrel;

namespace {

// N, CA and C of the five residues of the first site of the fixture.
std::vector<Coord_orth> first_site() {
  std::ifstream in(std::string(VANTREL_TEST_DATA) + "/loop_sites.txt");
  std::vector<Coord_orth> atoms;
  std::string line;
  while (std::getline(in, line) && atoms.size() < 15) {
    std::istringstream f(line);
    std::string tag, type;
    f >> tag;
    if (tag != "res") continue;
    f >> type;
    double x[9];
    for (double& v : x) f >> v;
    for (int k = 0; k < 3; ++k) atoms.emplace_back(x[3 * k], x[3 * k + 1], x[3 * k + 2]);
  }
  if (atoms.size() < 15) std::abort();  // missing fixture
  return atoms;
}

// Atoms 3 i, 3 i + 1, 3 i + 2: N, CA, C of residue i.
void BM_Rebuild5atoms(benchmark::State& state) {
  const auto a = first_site();
  const ProteinLoop loop(int(state.range(0)));
  std::size_t found = 0;
  for (auto _ : state) {
    const auto l = loop.rebuild5atoms(a[2], a[3], a[4], a[10], a[11], a[12]);
    found = l.size();
    benchmark::DoNotOptimize(l.data());
  }
  state.counters["closures"] = double(found);
}
BENCHMARK(BM_Rebuild5atoms)->Arg(36)->Arg(72)->Arg(144)->Unit(benchmark::kMicrosecond);

void BM_Rebuild8atoms(benchmark::State& state) {
  const auto a = first_site();
  const ProteinLoop loop(int(state.range(0)));
  std::size_t found = 0;
  for (auto _ : state) {
    const auto l = loop.rebuild8atoms(a[2], a[3], a[4], a[13], a[14], a[12]);
    found = l.size();
    benchmark::DoNotOptimize(l.data());
  }
  state.counters["closures"] = double(found);
}
BENCHMARK(BM_Rebuild8atoms)->Arg(24)->Arg(36)->Arg(72)->Unit(benchmark::kMillisecond);

// A P 21 21 21 map of 40 x 44 x 48 A at 0.67 A spacing with smooth density,
// searched with a 4 A target over the 8 rotations of a 90 degree step.
void BM_TargetSearch(benchmark::State& state) {
  const Cell cell(Cell_descr(40.0, 44.0, 48.0, 90.0, 90.0, 90.0));
  const Spacegroup sg(Spgr_descr("P 21 21 21", Spgr_descr::HM));
  Xmap<float> map(sg, cell, Grid_sampling(sg, cell, Resolution(2.0), 1.5));
  for (auto ix = map.first(); !ix.last(); ix.next()) {
    const Coord_grid g = ix.coord();
    map[ix] = std::sin(0.4f * g.u()) * std::cos(0.3f * g.v() + 0.2f * g.w());
  }
  LLK_map_target target;
  target.init(4.0, 0.5, LLK_map_target::LLK);
  target.accumulate(map, RTop_orth(Mat33<double>::identity(), Vec3<double>(10.0, 12.0, 14.0)));
  target.accumulate(map, RTop_orth(Mat33<double>::identity(), Vec3<double>(20.0, 5.0, 30.0)));
  target.prep_llk();
  const auto rtops = target.rtop_list(sg, 90.0);
  Xmap<float> score;
  Xmap<int> rotation, translation;
  for (auto _ : state) target.search(score, rotation, translation, map, rtops);
  state.counters["rotations"] = double(rtops.size());
}
BENCHMARK(BM_TargetSearch)->Unit(benchmark::kMillisecond);

}  // namespace
