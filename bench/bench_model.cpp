// Reading a coordinate file of about 2,800 atoms with anisotropic records
// (7MM1, PDB form) into a MiniMol and building its atom list; the read and
// the import are also timed apart.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "model/mmdb_file.h"

using namespace vantrel;

namespace {

const String path = VANTREL_TEST_DATA "/wrk_7mm1.pdb";

void use_syminfo() { setenv("SYMINFO", "/usr/share/ccp4/syminfo.lib", 0); }

void BM_read_import_atom_list(benchmark::State& state) {
  use_syminfo();
  for (auto _ : state) {
    MMDBfile file;
    file.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
    file.read_file(path);
    MiniMol mol;
    file.import_minimol(mol, -1);
    const Atom_list atoms = mol.atom_list();
    benchmark::DoNotOptimize(atoms.data());
    state.counters["atoms"] = double(atoms.size());
  }
}
BENCHMARK(BM_read_import_atom_list)->Unit(benchmark::kMillisecond);

void BM_read(benchmark::State& state) {
  use_syminfo();
  for (auto _ : state) {
    MMDBfile file;
    file.read_file(path);
    benchmark::DoNotOptimize(file.GetModel(1));
  }
}
BENCHMARK(BM_read)->Unit(benchmark::kMillisecond);

void BM_import_atom_list(benchmark::State& state) {
  use_syminfo();
  MMDBfile file;
  file.read_file(path);
  for (auto _ : state) {
    MiniMol mol;
    file.import_minimol(mol, -1);
    const Atom_list atoms = mol.atom_list();
    benchmark::DoNotOptimize(atoms.data());
  }
}
BENCHMARK(BM_import_atom_list)->Unit(benchmark::kMillisecond);

}  // namespace
