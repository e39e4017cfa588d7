// Writes of one chain of 1,000, 2,000 and 4,000 glycines (N, CA, C, O) in
// both forms, through the library's writer: laid out as a chain (each C
// 1.35 A from the next residue's N, the chain running to and fro in rows of
// 100 residues 3.8 A apart), and crowded (every atom within 0.5 A of one
// point, so that every C lies within bonding distance of every N, as in a
// model whose unplaced atoms all sit at the origin). The written labels'
// bond search costs about the same for both. Processor time; with
// VANTREL_BENCH_CHAIN_MODEL set, each model is also written to
// <its value>_<laid_out|crowded>_<residues>.pdb and .cif, for other
// programs to time the same writes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "model/mmdb_file.h"

using namespace vantrel;

namespace {

// The fractional part of x.
double fraction(const double x) { return x - std::floor(x); }

// A chain of glycines as the file comment says: crowded, or laid out.
MMDBfile& chain_model(const int residues, const bool crowded) {
  static std::map<std::pair<int, bool>, std::unique_ptr<MMDBfile>> made;
  std::unique_ptr<MMDBfile>& model = made[{residues, crowded}];
  if (model) return *model;
  setenv("SYMINFO", "/usr/share/ccp4/syminfo.lib", 0);
  // Residue i's N on a path of points 3.8 A apart, its atoms along the
  // path towards the next point (the last residue's as the one before).
  const auto point = [](const int i, const int axis) {
    const int row = i / 100, place = row % 2 == 0 ? i % 100 : 99 - i % 100;
    return axis == 0 ? 3.8 * place : axis == 1 ? 3.8 * row : 0.0;
  };
  MPolymer chain;
  chain.set_id("A");
  int k = 0;  // atoms made
  for (int i = 0; i < residues; ++i) {
    const int from = i + 1 < residues ? i : i - 1;
    const auto along = [&](const double length, const double rise) {
      double x[3];
      for (int a = 0; a < 3; ++a)
        x[a] = point(i, a) + length * (point(from + 1, a) - point(from, a)) / 3.8;
      return Coord_orth(x[0], x[1], x[2] + rise);
    };
    MMonomer residue;
    residue.set_type("GLY");
    residue.set_seqnum(i + 1, "");
    const std::pair<const char*, Coord_orth> atoms[] = {{"N", along(0, 0)},
                                                        {"CA", along(1.45, 0)},
                                                        {"C", along(2.45, 0)},
                                                        {"O", along(2.45, 1.23)}};
    for (const auto& [name, laid_out] : atoms) {
      // Crowded: a well-spread sequence in a cube of edge 0.56 A about one
      // point, all within 0.49 A of it.
      const Coord_orth near(10 + 0.56 * (fraction(0.6180339887 * k) - 0.5),
                            10 + 0.56 * (fraction(0.7548776662 * k) - 0.5),
                            10 + 0.56 * (fraction(0.5698402910 * k) - 0.5));
      ++k;
      MAtom atom(Atom::null());
      atom.set_name(name, "");
      atom.set_element(String(name).substr(0, 1));
      atom.set_coord_orth(crowded ? near : laid_out);
      atom.set_occupancy(1);
      atom.set_u_iso(0.25);
      residue.insert(atom, -1);
    }
    chain.insert(residue, -1);
  }
  MiniMol mol(Spacegroup(Spgr_descr(1)), Cell(Cell_descr(400, 160, 40, 90, 90, 90)));
  mol.insert(chain, -1);
  model = std::make_unique<MMDBfile>();
  model->export_minimol(mol);
  if (const char* keep = std::getenv("VANTREL_BENCH_CHAIN_MODEL"))
    for (const char* form : {".pdb", ".cif"})
      model->write_file(
          String(keep) + (crowded ? "_crowded_" : "_laid_out_") + String(residues) + form,
          form[1] == 'p' ? MMDBManager::PDB : MMDBManager::CIF);
  return *model;
}

void write_chain(benchmark::State& state, const bool crowded, const MMDBManager::TYPE type) {
  MMDBfile& model = chain_model(int(state.range(0)), crowded);
  const char* dir = std::getenv("TMPDIR");
  const String name = String(dir && *dir ? dir : "/tmp") + "/bench_chain_writes_" +
                      String(int(getpid())) + (type == MMDBManager::CIF ? ".cif" : ".pdb");
  for (auto _ : state) model.write_file(name, type);
  state.counters["atoms"] = double(model.GetNumberOfAtoms());
  std::remove(name.c_str());
}

void BM_write_chain_laid_out_pdb(benchmark::State& state) {
  write_chain(state, false, MMDBManager::PDB);
}
void BM_write_chain_crowded_pdb(benchmark::State& state) {
  write_chain(state, true, MMDBManager::PDB);
}
void BM_write_chain_laid_out_cif(benchmark::State& state) {
  write_chain(state, false, MMDBManager::CIF);
}
void BM_write_chain_crowded_cif(benchmark::State& state) {
  write_chain(state, true, MMDBManager::CIF);
}
BENCHMARK(BM_write_chain_laid_out_pdb)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_chain_crowded_pdb)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_chain_laid_out_cif)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_write_chain_crowded_cif)
    ->Arg(1000)
    ->Arg(2000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
