#include "model/mmdb_file.h"

#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <unordered_map>
#include <vector>

#include <mmdb2/mmdb_cifdefs.h>
#include <mmdb2/mmdb_mmcif_.h>

#include "foundation/message.h"
#include "foundation/util.h"
#include "model/coordinate_faults.h"
#include "model/coordinate_output_ids.h"
#include "model/coordinate_output_labels.h"
#include "model/coordinate_text_checks.h"
#include "model/mmdb_hierarchy.h"
#include "model/mmdb_views.h"
#include "system/child_process.h"
#include "system/file_access.h"
#include "system/gzip_name.h"
#include "system/output_file.h"

namespace vantrel {

namespace internal {
double child_read_seconds = 0;
}

using namespace mmdb_internal;

namespace {

// The start of the library's binary form, which is read as it is: its
// layout is the library's own, and no check of the text applies to it.
const String binary_signature = "**** This is MMDB binary file ****";

// The binary form has no structure a check could follow: a damaged file
// makes the library crash or loop while reading it, importing from it or
// freeing it. Nor can the checks of the mmCIF text follow every category
// the library interprets (a malformed chemical-component loop crashes it).
// So such a file is first read, imported and freed in a child process,
// which may use 5 seconds of processor time and one more per megabyte (a
// sound file takes a small fraction of that: 6 ms for 7MM1's 700 kB), and
// must finish within child_wall_factor times that; only then is it read
// here. This does not cover a damage that upsets the library only now and
// then (reads of unset memory).
double child_seconds(const std::size_t bytes) {
  return internal::child_read_seconds > 0 ? internal::child_read_seconds
                                          : 5.0 + double(bytes / 1000000);
}

// Runs work, a check of the file that returns what it found (empty when
// nothing), in a child process. A fatal message there is the file's
// answer, which this process's own read then gives again; an exception
// the library throws (a size read as negative) is a crash.
template <class Work> Child_outcome check_in_child(const double seconds, Work work) {
  return run_in_child(
      [&]() -> String {
        try {
          return work();
        } catch (const Message_fatal&) {
          return String();
        }
      },
      seconds);
}

// Refuses the file unless the child's check ended and found nothing; prefix
// and object make the message about it.
void check_verdict(const String& file, const Child_outcome& outcome, const String& prefix,
                   const String& object, const double seconds) {
  switch (outcome.kind) {
    case Child_outcome::done:
      if (outcome.text.empty()) return;
      refuse_input(file, outcome.text);
    case Child_outcome::crashed:
      refuse_input(file, prefix + "the reader does not survive " + object);
    case Child_outcome::over_time:
      refuse_input(file, prefix + "the reader takes longer than " + String(seconds, 0, 3) +
                             " seconds of processor time on " + object);
    case Child_outcome::over_wait:
      refuse_input(file, prefix + "the reader does not finish within " +
                             String(seconds * child_wall_factor, 0, 3) + " seconds on " + object);
    case Child_outcome::failed:
      refuse_input(file, "cannot read it in a separate process first: " + outcome.text);
    case Child_outcome::interrupted:  // no word on the file
      refuse_input(
          file, "the read was interrupted (signal " + std::to_string(outcome.signal_number) + ")");
  }
}

// One row of an _atom_site_anisotrop loop: the atom id and U.
struct Aniso_row {
  int id;
  double u[6];
};

// The tensor of row of an _atom_site_anisotrop loop as U, in its U or its
// B form (B = 8 pi^2 U); false when either form lacks a number (a "?" or
// "." among the six), which is no tensor.
bool row_tensor(mmdb::mmcif::Loop& loop, const int row, double (&u)[6]) {
  static const char* const u_tags[6] = {"U[1][1]", "U[2][2]", "U[3][3]",
                                        "U[1][2]", "U[1][3]", "U[2][3]"};
  static const char* const b_tags[6] = {"B[1][1]", "B[2][2]", "B[3][3]",
                                        "B[1][2]", "B[1][3]", "B[2][3]"};
  bool ok = true;
  for (int i = 0; i < 6 && ok; ++i) ok = loop.GetReal(u[i], u_tags[i], row) == 0;
  if (ok) return true;
  for (int i = 0; i < 6; ++i) {
    if (loop.GetReal(u[i], b_tags[i], row) != 0) return false;
    u[i] /= Util::eightpi2();
  }
  return true;
}

// The rows of the _atom_site_anisotrop loop, taken before the library's
// interpretation consumes the data; false when there is no such loop.
bool anisotropic_rows(mmdb::mmcif::Data& cif, std::vector<Aniso_row>& rows) {
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site_anisotrop");
  if (!loop) return false;
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    Aniso_row r;
    if (loop->GetInteger(r.id, "id", row) == mmdb::mmcif::CIFRC_Ok && row_tensor(*loop, row, r.u))
      rows.push_back(r);
  }
  return true;
}

// The library's mmCIF writer gives each atom before the first one with a
// tensor a row of "?" in the _atom_site_anisotrop loop (later atoms without
// one get none). Readers that take every row for a tensor (cctbx) refuse
// such a file. Drops from the data the library made for a write every row
// that holds no tensor, and the loop if none is left.
void drop_rows_without_tensor(mmdb::mmcif::Data& cif) {
  mmdb::mmcif::Loop* loop = cif.GetLoop("_atom_site_anisotrop");
  if (!loop) return;
  int kept = 0;
  for (int row = 0; row < loop->GetLoopLength(); ++row) {
    double u[6];
    if (row_tensor(*loop, row, u))
      ++kept;
    else
      loop->DeleteRow(row);
  }
  if (kept == 0)
    cif.DeleteLoop("_atom_site_anisotrop");
  else
    loop->Optimize();
}

// The library reads the rows of an mmCIF _atom_site_anisotrop loop onto the
// atoms by position, so when only some atoms have rows, tensors land on the
// wrong atoms. Attaches each row to the atoms whose serial number is the
// row's atom id; atoms without a row have no tensor.
void attach_anisotropic_rows(mmdb::Manager& mmdb, const std::vector<Aniso_row>& rows) {
  std::unordered_map<int, std::vector<mmdb::Atom*>> by_serial;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    atom->WhatIsSet &= mmdb::word(~(mmdb::ASET_Anis_tFac | mmdb::ASET_Anis_tFSigma));
    if (!atom->Ter) by_serial[atom->serNum].push_back(atom);
  });
  for (const Aniso_row& row : rows) {
    const auto atoms = by_serial.find(row.id);
    if (atoms == by_serial.end()) continue;
    const double* u = row.u;
    for (mmdb::Atom* atom : atoms->second)
      MMDBAtom(atom).set_u_aniso_orth(U_aniso_orth(u[0], u[1], u[2], u[3], u[4], u[5]));
  }
}

// Reads an mmCIF file into the library's hierarchy with a single parse:
// the identifiers are checked on the parsed data, which the library then
// interprets, each atom marked HETATM or not as its row's group_PDB says
// (mark_record_kinds), and the anisotropic rows attached by atom id.
// Models given numbers below 1 are numbered from 1 first
// (number_cif_models). Returns
// the library's code; fault is set, and nothing interpreted, when an
// identifier is longer than the library holds. atom_rows is set to the
// atom rows by model (cif_model_rows).
int read_cif(mmdb::Manager& mmdb, const String& file, const String& content, const mmdb::word flags,
             String& fault, Model_atoms& atom_rows) {
  mmdb::mmcif::Data cif;
  int rc = parse_cif(cif, file, flags);
  if (rc == 0 && ends_at_data_line(content)) rc = mmdb::Error_NotACIFFile;
  if (rc != 0) return rc;
  fault = cif_field_fault(cif);
  if (!fault.empty()) return 0;
  number_cif_models(cif);
  atom_rows = cif_model_rows(cif);
  // The library fails on every _struct_ncs_oper loop (code 23, whatever its
  // rows hold, its own written ones too) and takes nothing from the
  // category's tag-value form. The coordinates do not need the operators:
  // the category is left out of what it interprets.
  cif.DeleteCategory(mmdb::CIFCAT_STRUCT_NCS_OPER);
  std::vector<Aniso_row> rows;
  const bool aniso = anisotropic_rows(cif, rows);
  const std::vector<Record_kind> kinds = cif_record_kinds(cif);
  rc = mmdb.ReadFromCIF(&cif);
  if (rc == 0) mark_record_kinds(mmdb, kinds);
  if (rc == 0 && aniso) attach_anisotropic_rows(mmdb, rows);
  return rc;
}

Property<String> text_property(const String& text) { return Property<String>(text); }

// Work records of an export: the library object of each model node, null
// until found or created.
struct SAtom {
  mmdb::Atom* db_atom = nullptr;
  const MAtom* mm_atom;
};
struct SMono {
  mmdb::Residue* db_residue = nullptr;
  const MMonomer* mm_monomer;
  std::vector<SAtom> atoms;
};
struct SPoly {
  mmdb::Chain* db_chain = nullptr;
  const MPolymer* mm_polymer;
  std::vector<SMono> monomers;
};

// The node's "CID" path, or empty when it has none.
String cid_of(const PropertyManager& node) {
  if (!node.exists_property("CID")) return String();
  return dynamic_cast<const Property<String>&>(node.get_property("CID")).value();
}

// Splits an id at its first ":" into the base id and the code after it.
std::pair<String, String> split_id(const String& id) {
  const std::size_t colon = id.find(':');
  if (colon == String::npos) return {id, String()};
  return {id.substr(0, colon), id.substr(colon + 1)};
}

// The gzip form of the content of a file, compressed in memory (a failure
// refused through out).
String gzip_compressed(const Output_file& out, const String& file, const String& content) {
  z_stream z;
  std::memset(&z, 0, sizeof z);
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    write_error(out, file, mmdb::Error_CantOpenFile);
  std::vector<unsigned char> packed(deflateBound(&z, uLong(content.size())));
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
  z.avail_in = uInt(content.size());
  z.next_out = packed.data();
  z.avail_out = uInt(packed.size());
  const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
  const std::size_t size = z.total_out;
  deflateEnd(&z);
  if (!done) write_error(out, file, mmdb::Error_CantOpenFile);
  return String(reinterpret_cast<const char*>(packed.data()), size);
}

// The library keeps a TER record before the first atom of its model (a
// bare TER line there) in a residue, and a chain, of its own, which hold no
// atom and ids the writers refuse (an insertion code "\x01"). Such a
// record ends nothing: it is dropped with its residue and chain. TER
// records after an atom, and one that names a residue with atoms, are
// left alone. A model that held nothing else (a TER record before MODEL 2
// makes a model 1 of its own) is dropped too: it is no model of the file.
void drop_ter_records_before_atoms(mmdb::Manager& mmdb) {
  bool dropped = false;
  for (int m = 1; m <= mmdb.GetNumberOfModels(); ++m) {
    mmdb::Model* model = mmdb.GetModel(m);
    bool atoms_before = false, dropped_here = false;
    for (int c = 0; model && c < model->GetNumberOfChains() && !atoms_before; ++c) {
      mmdb::Chain* chain = model->GetChain(c);
      for (int r = 0; chain && r < chain->GetNumberOfResidues() && !atoms_before; ++r) {
        mmdb::Residue* residue = chain->GetResidue(r);
        for (int a = 0; residue && a < residue->GetNumberOfAtoms(); ++a)
          atoms_before = atoms_before || (residue->GetAtom(a) && !residue->GetAtom(a)->Ter);
        if (!residue || atoms_before) continue;
        chain->DeleteResidue(r);  // the library drops the chain left empty
        dropped = dropped_here = true;
      }
    }
    if (dropped_here && !atoms_before) mmdb.DeleteModel(m);
  }
  if (dropped) finish_edit(mmdb);
}

}  // namespace

void MMDBfile::read_file(const String& file) {
  // The library never returns from reading a directory or a FIFO; refuse
  // anything that is not a regular file before it tries.
  struct stat st;
  const bool exists = stat(file.c_str(), &st) == 0;
  if (!exists || !S_ISREG(st.st_mode))
    refuse_input(file, code_text(mmdb::Error_CantOpenFile) + ": " +
                           (exists ? "not a regular file" : "no such file"));
  // Faults that make the library crash or stop reading silently are
  // refused from the text first.
  const String content = file_content(file);
  const double seconds = child_seconds(content.size());
  const mmdb::word flags = Flags;
  const bool binary = content.compare(0, binary_signature.size(), binary_signature) == 0;
  const bool cif = !binary && reads_as_cif(content, flags);
  if (binary) {
    const Child_outcome verdict = check_in_child(seconds, [&] {
      MMDBfile probe;
      probe.SetFlag(flags);
      if (probe.ReadCoorFile(file.c_str(), read_mode(file)) == 0) {
        MiniMol model;
        probe.import_minimol(model, -1);
      }
      return String();
    });
    check_verdict(file, verdict, "the binary form is damaged: ", "it", seconds);
  } else {
    const String fault = line_fault(content, cif);
    if (!fault.empty()) refuse_input(file, fault);
    if (cif) {
      // The child parses, checks, interprets and imports; this process
      // then parses once more and interprets what it parsed.
      const Child_outcome verdict = check_in_child(seconds, [&] {
        MMDBfile probe;
        probe.SetFlag(flags);
        String found;
        Model_atoms rows;
        if (read_cif(probe, file, content, flags, found, rows) == 0 && found.empty()) {
          MiniMol model;
          probe.import_minimol(model, -1);
        }
        return found;
      });
      check_verdict(file, verdict, "", "this mmCIF text", seconds);
    }
  }
  // A PDB atom outside the blocks of a file's models is refused, naming its
  // line, before the library reads it into a model of its own or fails.
  // The library reads the text checked, its models numbered from 1 where
  // it gives a number below 1.
  Model_atoms atoms_in_text;
  String numbered;  // the PDB text with its models numbered from 1, where it needs that
  if (!binary && !cif) {
    const Model_numbering numbering = pdb_numbering(content);
    atoms_in_text = pdb_model_records(content, numbering);
    if (!atoms_in_text.outside.empty()) refuse_input(file, atoms_in_text.outside);
    if (numbering.renumbers()) numbered = pdb_models_numbered(content, numbering, file);
  }
  int rc;
  try {
    if (cif) {
      String found;
      FType = mmdb::MMDB_FILE_CIF;
      rc = read_cif(*this, file, content, flags, found, atoms_in_text);
      if (!found.empty()) refuse_input(file, found);
    } else if (binary) {
      rc = ReadCoorFile(file.c_str(), read_mode(file));
    } else {
      rc = read_pdb_text(*this, numbered.empty() ? content : numbered);
    }
  } catch (const std::exception& e) {  // such as an array sized from a negative count
    refuse_input(file, String("the reader failed: ") + e.what());
  }
  if (rc != 0) read_error(file, rc);
  check_atoms(*this, file);
  if (!binary) check_atom_count(*this, file, atoms_in_text);
  drop_ter_records_before_atoms(*this);
}

void MMDBfile::write_file(const String& file, TYPE type) { write_output(file, type, nullptr); }

void MMDBfile::write_file(const String& file, TYPE type, Pending_outputs& pending) {
  write_output(file, type, &pending);
}

void MMDBfile::write_output(const String& file, TYPE type, Pending_outputs* pending) {
  if (type == AS_READ) {
    const int read = GetFileType();
    if (read == PDB || read == CIF || read == BINARY) type = TYPE(read);
  }
  // Nothing is written, and nothing the path names is touched, unless the
  // whole content fits the form and was written as new content first; the
  // path is walked and judged once, here (or when pending began it).
  Output_file out(file, write_who, pending);
  // The library records every write as its last file operation; keep the
  // form of the last read, which is what AS_READ means.
  const int read_type = FType;
  if (type != BINARY) {
    if (const String fault = output_id_fault(*this, type != CIF); !fault.empty())
      refuse_output(out, file, fault);
    set_output_labels(*this, read_type == mmdb::MMDB_FILE_CIF);
  }
  std::optional<Block_code> block;
  if (type == CIF) block.emplace(*this, file);
  // The library keeps the mmCIF data of its last write and adds the next
  // write's rows to it: a second write would hold every atom twice.
  mmdb::mmcif::PData& cif_data = mmdb::Root::CIF;
  if (type == CIF && cif_data) {
    delete cif_data;
    cif_data = nullptr;
  }
  // The library's own writes to a file go unchecked (a full disk gives a
  // file cut short, and success). So it renders the file into memory, and
  // the bytes are written with every write checked. mmCIF it makes only
  // while writing a named file: given a name that no file can have (one
  // under /dev/null, which is no folder), it makes the data, writes nothing
  // and reports success, and the data it made are rendered into memory
  // once. The memory file grows by a fixed increment, copying all it holds
  // each time: the increment is made to hold about the whole file (a few
  // hundred bytes an atom), so that the copies cost a few times the file,
  // not its square.
  struct Memory_file : mmdb::io::File {
    Memory_file(const bool portable, const mmdb::word increment) {
      assign(0, increment, nullptr);
      UniBin = portable;  // the binary form is written portable, as to a file
    }
  };
  const mmdb::word increment =
      mmdb::word(std::min<std::size_t>(std::size_t(1) << 30,
                                       (std::size_t(1) << 20) +
                                           256 * std::size_t(std::max(0, GetNumberOfAtoms()))));
  const auto rendered = [increment](const bool portable, const auto& render) {
    Memory_file memory(portable, increment);
    memory.rewrite();
    render(memory);
    mmdb::pstr pool = nullptr;
    mmdb::word size = 0;
    memory.takeFilePool(pool, size);
    const String bytes(pool != nullptr ? pool : "", pool != nullptr ? size : 0);
    delete[] pool;
    memory.shut();
    return bytes;
  };
  String content;
  if (type == CIF) {
    int rc;
    {
      const Ter_records_aside aside(*this);  // while the data are made
      rc = WriteCIFASCII("/dev/null/unwritten.cif", mmdb::io::GZM_NONE);
    }
    FType = read_type;
    if (rc != 0) write_error(out, file, rc);
    const mmdb::mmcif::PData cif = mmdb::Root::CIF;  // the data just written
    if (cif == nullptr) write_error(out, file, mmdb::Error_CantOpenFile);
    drop_rows_without_tensor(*cif);
    complete_cif_data(*this, *cif);
    content = rendered(false, [&](mmdb::io::File& f) { cif->WriteMMCIF(f); });
  } else if (type == BINARY) {
    content = rendered(true, [&](mmdb::io::File& f) { WriteMMDBF(f); });
  } else {
    content = rendered(false, [&](mmdb::io::File& f) { WritePDBASCII(f); });
  }
  FType = read_type;
  if (content.empty()) write_error(out, file, mmdb::Error_CantOpenFile);
  // What is written must read back: the text passes the reader's own checks
  // (the library writes some fields wider than it stores them). They read
  // it from memory: a compressed output's text never goes to disk.
  if (type != BINARY) {
    const String fault = text_fault(content, Flags);
    if (!fault.empty()) refuse_output(out, file, "the written file would not read back: " + fault);
  }
  // A file of a gzip name is written compressed (gzip), the name as given
  // deciding: a link's target is not looked at.
  if (Files::gzip_named(file)) content = gzip_compressed(out, file, content);
  out.write(content);
  out.commit();
}

void MMDBfile::import_minimol(MiniMol& model, int selection) {
  model = MiniMol(spacegroup(), cell());

  const int atoms = NewSelection(), residues = NewSelection(), chains = NewSelection(),
            models = NewSelection();
  if (selection < 0)
    SelectAtoms(atoms, 0, 0, mmdb::SKEY_NEW);
  else
    Select(atoms, mmdb::STYPE_ATOM, selection, mmdb::SKEY_NEW);
  Select(residues, mmdb::STYPE_RESIDUE, atoms, mmdb::SKEY_NEW);
  Select(chains, mmdb::STYPE_CHAIN, atoms, mmdb::SKEY_NEW);
  Select(models, mmdb::STYPE_MODEL, atoms, mmdb::SKEY_NEW);

  // Children are appended empty and filled in place, so that no atom is
  // copied more than once.
  // The first model present: a file may number its only model 2, and a
  // file without MODEL records holds model 1.
  mmdb::Model* db_model = nullptr;
  for (int m = 1; m <= GetNumberOfModels() && !db_model; ++m) db_model = GetModel(m);
  char id[id_buffer_size];
  if (db_model) {
    for (int c = 0; c < db_model->GetNumberOfChains(); ++c) {
      mmdb::Chain* db_chain = db_model->GetChain(c);
      if (!db_chain || !db_chain->isInSelection(chains)) continue;
      model.insert(MPolymer(), -1);
      MPolymer& polymer = model[model.size() - 1];
      // The last residue of the chain's run taken has the "Ter" property.
      const int last_in_run = run_end(db_chain, FType == mmdb::MMDB_FILE_CIF);
      int ends_run = -1;
      for (int r = 0; r < db_chain->GetNumberOfResidues(); ++r) {
        mmdb::Residue* db_residue = db_chain->GetResidue(r);
        if (!db_residue || !db_residue->isInSelection(residues)) continue;
        polymer.insert(MMonomer(), -1);
        MMonomer& monomer = polymer[polymer.size() - 1];
        if (r <= last_in_run) ends_run = polymer.size() - 1;
        for (int a = 0; a < db_residue->GetNumberOfAtoms(); ++a) {
          mmdb::Atom* db_atom = db_residue->GetAtom(a);
          // A TER record also has its coordinate bit set: test it first.
          if (!db_atom || db_atom->Ter || !db_atom->isInSelection(atoms)) continue;
          const MMDBAtom view(db_atom);
          monomer.insert(MAtom(Atom::null()), -1);
          MAtom& atom = monomer[monomer.size() - 1];
          atom.set_name(view.id(), view.altconf());
          atom.set_element(view.element());
          atom.set_coord_orth(view.coord_orth());
          atom.set_occupancy(view.occupancy());
          atom.set_u_iso(view.u_iso());
          atom.set_u_aniso_orth(view.u_aniso_orth());
          atom.set_property("CID", text_property(db_atom->GetAtomID(id)));
          if (!view.altconf().empty()) atom.set_property("AltConf", text_property(view.altconf()));
          if (db_atom->Het) atom.set_property("Het", Property<bool>(true));
        }
        const MMDBResidue view(db_residue);
        monomer.set_seqnum(view.seqnum(), view.inscode());
        monomer.set_type(view.type());
        monomer.set_property("CID", text_property(db_residue->GetResidueID(id)));
      }
      if (ends_run >= 0) polymer[ends_run].set_property("Ter", Property<bool>(true));
      polymer.set_id(MMDBChain(db_chain).id());
      polymer.set_property("CID", text_property(db_chain->GetChainID(id)));
    }
    model.set_property("CID", text_property(db_model->GetModelID(id)));
  }

  for (const int handle : {atoms, residues, chains, models}) DeleteSelection(handle);
}

void MMDBfile::export_minimol(const MiniMol& model) {
  if (!model.spacegroup().is_null()) set_spacegroup(model.spacegroup());
  if (!model.cell().is_null()) set_cell(model.cell());

  std::vector<SPoly> polys(model.size());
  for (int p = 0; p < model.size(); ++p) {
    SPoly& poly = polys[p];
    poly.mm_polymer = &model[p];
    poly.monomers.resize(model[p].size());
    for (int m = 0; m < model[p].size(); ++m) {
      SMono& mono = poly.monomers[m];
      mono.mm_monomer = &model[p][m];
      mono.atoms.resize(model[p][m].size());
      for (int a = 0; a < model[p][m].size(); ++a) mono.atoms[a].mm_atom = &model[p][m][a];
    }
  }

  // Find the library objects the nodes came from; the texts appended make
  // model, chain and residue paths into the atom paths the lookups take.
  mmdb::Model* db_model = nullptr;
  const String model_cid = cid_of(model);
  if (!model_cid.empty()) db_model = GetModel((model_cid + "/A/0/A").c_str());
  if (db_model) {
    for (SPoly& poly : polys) {
      const String chain_cid = cid_of(*poly.mm_polymer);
      if (!chain_cid.empty()) poly.db_chain = GetChain((chain_cid + "/0/A").c_str());
      if (!poly.db_chain) continue;
      for (SMono& mono : poly.monomers) {
        const String residue_cid = cid_of(*mono.mm_monomer);
        if (!residue_cid.empty()) mono.db_residue = GetResidue((residue_cid + "/A").c_str());
        if (!mono.db_residue) continue;
        for (SAtom& atom : mono.atoms) {
          const String atom_cid = cid_of(*atom.mm_atom);
          if (!atom_cid.empty()) atom.db_atom = GetAtom(atom_cid.c_str());
        }
      }
    }
  }

  // Create what is missing, depth first in model order. A new atom is a
  // HETATM record when its node says so, and a new residue whose node has
  // the "Ter" property gets a TER record after its atoms; in a chain found
  // with TER records, they move to the residues with that property (the
  // import puts it where the file's first one ends the chain's run). The
  // writers tell the polymer from free residues by both.
  if (!db_model) {
    db_model = new mmdb::Model();
    AddModel(db_model);
    // The number of the model the node came from ("/2"), where no other
    // model has it: a file's lone model 2 is written as model 2.
    const int number = model_cid.size() > 1 ? std::atoi(model_cid.c_str() + 1) : 0;
    if (number > 0 && !GetModel(number)) db_model->SetMMDBManager(this, number);
  }
  const auto holds_ter = [](mmdb::Residue* residue) {
    for (int a = 0; residue && a < residue->GetNumberOfAtoms(); ++a)
      if (residue->GetAtom(a) && residue->GetAtom(a)->Ter) return true;
    return false;
  };
  for (SPoly& poly : polys) {
    if (!poly.db_chain) {
      poly.db_chain = new mmdb::Chain();
      db_model->AddChain(poly.db_chain);
    }
    bool had_ter = false;
    for (int r = 0; r < poly.db_chain->GetNumberOfResidues(); ++r)
      had_ter = had_ter || holds_ter(poly.db_chain->GetResidue(r));
    for (SMono& mono : poly.monomers) {
      const bool new_residue = !mono.db_residue;
      if (new_residue) {
        mono.db_residue = new mmdb::Residue();
        poly.db_chain->AddResidue(mono.db_residue);
      }
      for (SAtom& atom : mono.atoms) {
        if (!atom.db_atom) {
          atom.db_atom = new mmdb::Atom();
          mono.db_residue->AddAtom(atom.db_atom);
          atom.db_atom->Het = atom.mm_atom->exists_property("Het");
        }
      }
      const bool ter = mono.mm_monomer->exists_property("Ter");
      bool held = false;
      for (int a = 0; a < mono.db_residue->GetNumberOfAtoms(); ++a) {
        mmdb::Atom* atom = mono.db_residue->GetAtom(a);
        if (!atom || !atom->Ter) continue;
        if (ter && !held)
          held = true;
        else
          mono.db_residue->DeleteAtom(a);
      }
      if (ter && !held && (new_residue || had_ter)) {
        mmdb::Atom* record = new mmdb::Atom();
        mono.db_residue->AddAtom(record);
        record->MakeTer();
      }
    }
  }

  // Write the data; name, alternate location and insertion code each go
  // into their own field. Missing numbers leave the library's values alone.
  for (const SPoly& poly : polys) {
    MMDBChain(poly.db_chain).set_id(poly.mm_polymer->id());
    for (const SMono& mono : poly.monomers) {
      MMDBResidue residue(mono.db_residue);
      const MMonomer& mm = *mono.mm_monomer;
      residue.set_seqnum(mm.id().i());
      residue.set_inscode(split_id(mm.id()).second);
      residue.set_type(mm.type());
      for (const SAtom& s : mono.atoms) {
        MMDBAtom atom(s.db_atom);
        const MAtom& ma = *s.mm_atom;
        if (!ma.coord_orth().is_null()) atom.set_coord_orth(ma.coord_orth());
        if (!Util::is_nan(ma.occupancy())) atom.set_occupancy(ma.occupancy());
        if (!Util::is_nan(ma.u_iso())) atom.set_u_iso(ma.u_iso());
        if (!ma.u_aniso_orth().is_null()) atom.set_u_aniso_orth(ma.u_aniso_orth());
        if (!ma.id().empty()) {
          const auto name = split_id(ma.id());
          atom.set_id(name.first);
          atom.set_altconf(name.second);
        }
        if (!ma.element().empty()) atom.set_element(ma.element());
      }
    }
  }
  finish_edit(*this);
}

}  // namespace vantrel
