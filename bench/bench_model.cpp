// Reading coordinate files into a MiniMol and building its atom list: 7MM1
// (about 2,800 atoms with anisotropic records) in PDB form, with the read
// and the import also timed apart, and in mmCIF form (written once by the
// setup), and the 1DUR fixture in mmCIF (100 kB, about 500 atoms). mmCIF
// reads are timed in real time: part of such a read runs in a child process.
// Writes and reads of models of about 20,000 and 60,000 atoms (copies of 7MM1
// side by side) in both forms; with VANTREL_BENCH_TILED_MODEL set, each such
// model is also written to <its value>_<atoms>.pdb and .cif, for other
// programs to time the same writes and reads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

#include "model/mmdb_file.h"

using namespace vantrel;

namespace {

const String path = VANTREL_TEST_DATA "/wrk_7mm1.pdb";

void use_syminfo() { setenv("SYMINFO", "/usr/share/ccp4/syminfo.lib", 0); }

const mmdb::word read_flags = mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines;

// The 7MM1 work model in mmCIF form, written beside the other temporaries
// and removed at exit.
const String& work_model_cif() {
  static const String cif = [] {
    use_syminfo();
    const char* dir = std::getenv("TMPDIR");
    const String name =
        String(dir && *dir ? dir : "/tmp") + "/bench_model_" + String(int(getpid())) + ".cif";
    MMDBfile in;
    in.SetFlag(read_flags);
    in.read_file(path);
    in.write_file(name, MMDBManager::CIF);
    std::atexit([] { std::remove(work_model_cif().c_str()); });
    return name;
  }();
  return cif;
}

void read_import(benchmark::State& state, const String& file_name) {
  use_syminfo();
  for (auto _ : state) {
    MMDBfile file;
    file.SetFlag(read_flags);
    file.read_file(file_name);
    MiniMol mol;
    file.import_minimol(mol, -1);
    const Atom_list atoms = mol.atom_list();
    benchmark::DoNotOptimize(atoms.data());
    state.counters["atoms"] = double(atoms.size());
  }
}

void BM_read_import_atom_list(benchmark::State& state) { read_import(state, path); }
BENCHMARK(BM_read_import_atom_list)->Unit(benchmark::kMillisecond);

void BM_read_import_sm_1dur_cif(benchmark::State& state) {
  read_import(state, VANTREL_TEST_DATA "/sm_1dur.cif");
}
BENCHMARK(BM_read_import_sm_1dur_cif)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_read_import_wrk_7mm1_cif(benchmark::State& state) { read_import(state, work_model_cif()); }
BENCHMARK(BM_read_import_wrk_7mm1_cif)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// 7MM1 and copies of it, each moved on by 100 A along x, with chains A, B,
// ... (waters and ligands keep their chain): 2,793 atoms a copy.
MMDBfile& tiled_model(const int copies) {
  static std::map<int, std::unique_ptr<MMDBfile>> made;
  std::unique_ptr<MMDBfile>& model = made[copies];
  if (model) return *model;
  use_syminfo();
  MMDBfile in;
  in.SetFlag(read_flags);
  in.read_file(path);
  MiniMol source;
  in.import_minimol(source, -1);
  MiniMol tiled(source.spacegroup(), source.cell());
  for (int k = 0; k < copies; ++k)
    for (int p = 0; p < source.size(); ++p) {
      MPolymer chain = source[p];
      chain.transform(RTop_orth(Mat33<>::identity(), Vec3<>(100.0 * k, 0, 0)));
      chain.set_id(String(1, char('A' + k)));
      tiled.insert(chain, -1);
    }
  model = std::make_unique<MMDBfile>();
  model->export_minimol(tiled);
  if (const char* keep = std::getenv("VANTREL_BENCH_TILED_MODEL"))
    for (const char* form : {".pdb", ".cif"})
      model->write_file(String(keep) + "_" + String(model->GetNumberOfAtoms()) + form,
                        form[1] == 'p' ? MMDBManager::PDB : MMDBManager::CIF);
  return *model;
}

// A temporary name for a tiled model in the given form.
String tiled_name(const char* what, const MMDBManager::TYPE type) {
  const char* dir = std::getenv("TMPDIR");
  return String(dir && *dir ? dir : "/tmp") + "/bench_model_" + what + "_" +
         String(int(getpid())) + (type == MMDBManager::CIF ? ".cif" : ".pdb");
}

// Writes of 7 copies (19,551 atoms) and 21 copies (58,653 atoms).
void write_tiled(benchmark::State& state, const MMDBManager::TYPE type) {
  MMDBfile& model = tiled_model(int(state.range(0)));
  const String name = tiled_name("write", type);
  for (auto _ : state) model.write_file(name, type);
  state.counters["atoms"] = double(model.GetNumberOfAtoms());
  std::remove(name.c_str());
}

void BM_write_tiled_pdb(benchmark::State& state) { write_tiled(state, MMDBManager::PDB); }
BENCHMARK(BM_write_tiled_pdb)->Arg(7)->Arg(21)->Unit(benchmark::kMillisecond);

void BM_write_tiled_cif(benchmark::State& state) { write_tiled(state, MMDBManager::CIF); }
BENCHMARK(BM_write_tiled_cif)->Arg(7)->Arg(21)->Unit(benchmark::kMillisecond);

}  // namespace

// Reads, with the import and atom list, of the same models written once in
// each form (the mmCIF read runs partly in a child process: real time).
void read_tiled(benchmark::State& state, const MMDBManager::TYPE type) {
  const String name = tiled_name("read", type);
  tiled_model(int(state.range(0))).write_file(name, type);
  read_import(state, name);
  std::remove(name.c_str());
}

void BM_read_tiled_pdb(benchmark::State& state) { read_tiled(state, MMDBManager::PDB); }
BENCHMARK(BM_read_tiled_pdb)->Arg(7)->Arg(21)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_read_tiled_cif(benchmark::State& state) { read_tiled(state, MMDBManager::CIF); }
BENCHMARK(BM_read_tiled_cif)->Arg(7)->Arg(21)->Unit(benchmark::kMillisecond)->UseRealTime();
