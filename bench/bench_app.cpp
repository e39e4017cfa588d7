// Sequence scoring of one 300-residue chain: density fits against twenty
// residue targets, and the alignment and candidate ranking of the score
// matrix.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>

#include "app/ca_sequence.h"
#include "app/main_chain.h"
#include "app/protein_tools.h"
#include "foundation/rotation.h"

using namespace vantrel;

namespace {

constexpr int nres = 300;

// A P1 map of 60 A edges at 0.67 A spacing with smooth random density.
const Xmap<float>& density_map() {
  static const Xmap<float> map = [] {
    const Spacegroup p1(Spacegroup::P1);
    const Cell cell(Cell_descr(60, 60, 60, 90, 90, 90));
    Xmap<float> m(p1, cell, Grid_sampling(p1, cell, Resolution(2.0)));
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    for (auto ix = m.first(); !ix.last(); ix.next()) {
      const Coord_grid g = ix.coord();
      m[ix] = std::sin(0.4f * g.u()) * std::cos(0.3f * g.v() + 0.2f * g.w()) + 0.3f * noise(rng);
    }
    return m;
  }();
  return map;
}

// A residue of ideal geometry at a random place and orientation.
Ca_group random_residue(std::mt19937& rng) {
  std::uniform_real_distribution<double> pos(0.0, 60.0), angle(-3.14, 3.14);
  const Ca_group ideal(Coord_orth(-0.50, 1.38, 0.0), Coord_orth(0, 0, 0), Coord_orth(1.53, 0, 0));
  const Mat33<double> rot = Rotation(Euler_ccp4(angle(rng), angle(rng), angle(rng))).matrix();
  const RTop_orth op(rot, Vec3<double>(pos(rng), pos(rng), pos(rng)));
  return Ca_group(op * ideal.coord_n(), op * ideal.coord_ca(), op * ideal.coord_c());
}

MMonomer monomer(const Ca_group& g, const String& type) {
  MMonomer m;
  m.set_type(type);
  const char* names[] = {" N  ", " CA ", " C  "};
  const Coord_orth xyz[] = {g.coord_n(), g.coord_ca(), g.coord_c()};
  for (int k = 0; k < 3; ++k) {
    MAtom a;
    a.set_id(names[k]);
    a.set_coord_orth(xyz[k]);
    m.insert(a, -1);
  }
  return m;
}

// Twenty targets of radius 5.5 A, each trained on five random residues.
const std::vector<LLK_map_target::Sampled>& sampled_targets() {
  static const std::vector<LLK_map_target::Sampled> fine = [] {
    std::mt19937 rng(5);
    std::vector<LLK_map_target::Sampled> out;
    for (int t = 0; t < 20; ++t) {
      LLK_map_target target;
      target.init(5.5, 0.5, LLK_map_target::LLK);
      for (int k = 0; k < 5; ++k)
        target.accumulate(density_map(), random_residue(rng).rtop_beta_carbon());
      target.prep_llk();
      out.push_back(target.fine());
    }
    return out;
  }();
  return fine;
}

String random_sequence(std::mt19937& rng, int n) {
  std::uniform_int_distribution<int> pick(0, 19);
  String s;
  for (int i = 0; i < n; ++i) s += ProteinTools::rtype1[pick(rng)];
  return s;
}

MMoleculeSequence test_record(const String& seq) {
  MPolymerSequence record;
  record.set_id("TEST");
  record.set_sequence(seq);
  MMoleculeSequence seqs;
  seqs.insert(record, -1);
  return seqs;
}

// A normalised score matrix whose best path follows seq, with noise.
std::vector<std::vector<double>> score_matrix(const String& seq) {
  std::mt19937 rng(9);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<std::vector<double>> m(nres, std::vector<double>(20));
  for (int r = 0; r < nres; ++r) {
    for (double& x : m[r]) x = normal(rng);
    m[r][ProteinTools::residue_index(String(1, seq[r]), true)] -= 1.0;
  }
  return m;
}

void BM_sequence_chain(benchmark::State& state) {
  std::mt19937 rng(7);
  const String seq = random_sequence(rng, nres);
  MPolymer chain;
  for (int r = 0; r < nres; ++r)
    chain.insert(monomer(random_residue(rng), ProteinTools::residue_code(String(1, seq[r]), true)),
                 -1);
  const MMoleculeSequence seqs = test_record(seq);
  const auto& targets = sampled_targets();
  for (auto _ : state)
    benchmark::DoNotOptimize(Ca_sequence::sequence_chain(chain, density_map(), targets, seqs));
}
BENCHMARK(BM_sequence_chain)->Unit(benchmark::kMillisecond);

void BM_sequence_align(benchmark::State& state) {
  std::mt19937 rng(7);
  const String seq = random_sequence(rng, nres);
  const auto m = score_matrix(seq);
  std::size_t ends = 0;
  for (auto _ : state) ends = Ca_sequence::sequence_align(m, seq).size();
  state.counters["alignments"] = double(ends);
}
BENCHMARK(BM_sequence_align)->Unit(benchmark::kMillisecond);

void BM_sequence_match(benchmark::State& state) {
  std::mt19937 rng(7);
  const String seq = random_sequence(rng, nres);
  const auto m = score_matrix(seq);
  const MMoleculeSequence seqs = test_record(seq);
  for (auto _ : state) benchmark::DoNotOptimize(Ca_sequence::sequence_match(m, seqs));
}
BENCHMARK(BM_sequence_match)->Unit(benchmark::kMillisecond);

// The segment search done separately for every alignment string, as the
// ranking would cost without the shared walk (scoring only, no ranking).
void BM_sequence_score_every_alignment(benchmark::State& state) {
  std::mt19937 rng(7);
  const String seq = random_sequence(rng, nres);
  const auto m = score_matrix(seq);
  const std::vector<String> all = Ca_sequence::sequence_align(m, seq);
  for (auto _ : state) {
    double best = 0.0;
    for (const String& a : all) best = std::min(best, Ca_sequence::sequence_score(m, a).score);
    benchmark::DoNotOptimize(best);
  }
}
BENCHMARK(BM_sequence_score_every_alignment)->Unit(benchmark::kMillisecond);

}  // namespace
