// Reading an mmCIF coordinate file into a MiniMol: the 1DUR fixture
// (100 kB, about 500 atoms) and the 7MM1 work model (about 2,800 atoms with
// anisotropic rows), the latter written as mmCIF once by the setup. Real
// time: part of a read runs in a child process.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "model/mmdb_file.h"

using namespace vantrel;

namespace {

void use_syminfo() { setenv("SYMINFO", "/usr/share/ccp4/syminfo.lib", 0); }

// The 7MM1 work model in mmCIF form, written beside the other temporaries
// and removed at exit.
const String& work_model_cif() {
  static const String path = [] {
    use_syminfo();
    const char* dir = std::getenv("TMPDIR");
    const String name =
        String(dir && *dir ? dir : "/tmp") + "/bench_cif_read_" + String(int(getpid())) + ".cif";
    MMDBfile in;
    in.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
    in.read_file(VANTREL_TEST_DATA "/wrk_7mm1.pdb");
    in.write_file(name, MMDBManager::CIF);
    std::atexit([] { std::remove(work_model_cif().c_str()); });
    return name;
  }();
  return path;
}

void read_import(benchmark::State& state, const String& path) {
  use_syminfo();
  for (auto _ : state) {
    MMDBfile file;
    file.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
    file.read_file(path);
    MiniMol mol;
    file.import_minimol(mol, -1);
    benchmark::DoNotOptimize(mol.size());
    state.counters["atoms"] = double(mol.atom_list().size());
  }
}

void BM_read_import_sm_1dur_cif(benchmark::State& state) {
  read_import(state, VANTREL_TEST_DATA "/sm_1dur.cif");
}
BENCHMARK(BM_read_import_sm_1dur_cif)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_read_import_wrk_7mm1_cif(benchmark::State& state) { read_import(state, work_model_cif()); }
BENCHMARK(BM_read_import_wrk_7mm1_cif)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
