// Coordinate files of any content (PDB, mmCIF or neither), read as the
// program reads them: a file is refused with a fatal message, or reads,
// imports and is written back whole in both text forms, each written file
// reading again. Nothing crashes, hangs or trips a sanitizer on the way.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "model/mmdb_file.h"

using namespace vantrel;

namespace {

// One scratch name per process; each input overwrites the last.
std::string scratch(const char* suffix) {
  return "/tmp/vantrel_fuzz_coordinate_" + std::to_string(getpid()) + suffix;
}

void read_into(const String& file, MiniMol& model) {
  MMDBfile mmdb;
  mmdb.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  mmdb.read_file(file);
  mmdb.import_minimol(model, -1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = scratch(".in"), out_pdb = scratch(".pdb"), out_cif = scratch(".cif");
  if (std::FILE* f = std::fopen(in.c_str(), "wb")) {
    if (size > 0) std::fwrite(data, 1, size, f);  // data may be null when empty
    std::fclose(f);
  }
  MiniMol model;
  bool read = false;
  vantrel_fuzz::run([&] {
    read_into(in, model);
    read = true;
  });
  if (read) {
    for (const Atom& atom : model.atom_list()) vantrel_fuzz::require(!atom.coord_orth().is_null());
    for (const auto& form :
         {std::pair{out_pdb, MMDBManager::PDB}, std::pair{out_cif, MMDBManager::CIF}}) {
      const std::string& path = form.first;
      const MMDBManager::TYPE type = form.second;
      bool written = false;
      vantrel_fuzz::run([&] {
        MMDBfile out;
        out.export_minimol(model);
        out.write_file(path, type);
        written = true;
      });
      // What the writer lets through, the reader takes back.
      if (written) {
        MiniMol again;
        bool again_read = false;
        vantrel_fuzz::run([&] {
          read_into(path, again);
          again_read = true;
        });
        vantrel_fuzz::require(again_read || model.atom_list().empty());
      }
    }
  }
  for (const std::string& path : {in, out_pdb, out_cif}) std::remove(path.c_str());
  return 0;
}
