#include "model/coordinate_output_ids.h"

#include <cctype>
#include <cstring>

#include "model/coordinate_faults.h"
#include "model/coordinate_text_checks.h"
#include "model/mmdb_hierarchy.h"

namespace vantrel::mmdb_internal {

// Why an identifier cannot be written in the form, or empty when it can,
// as found by writing each case with the library and reading it back.
// Both forms are text of printable ASCII: in a PDB record a byte beyond it
// can vanish (an insertion code written as a blank, which then reads as
// a second residue of the same number). The library's mmCIF writer
// quotes a value with blanks or quotes (a text field when it holds both
// kinds), but writes unquoted a value that starts like a tag, a comment or
// a text field, or with a reserved word: its reader then fails on the
// file. A leading "$" and reserved words in capitals it reads back, but
// such a file is not mmCIF (other readers refuse it), nor is one holding a
// control character or a byte beyond ASCII (a tab parts the value).
String unwritable(const String& value, const bool pdb) {
  for (const char c : value)
    if (c < 0x20 || c > 0x7e) return "holds a character that is not printable ASCII";
  if (pdb) return String();
  const String text = value.trim();  // written without the blanks around it
  if (!text.empty() && String("_#$;").find(text[0]) != String::npos)
    return "starts with \"" + text.substr(0, 1) + "\"";
  String lower = text;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (const char* word : {"data_", "loop_", "save_", "global_", "stop_"})
    if (lower.compare(0, std::strlen(word), word) == 0) return "starts with a reserved word";
  return String();
}

String output_id_fault(mmdb::Manager& mmdb, const bool pdb) {
  String fault;  // the first found
  const auto refuse = [&](const String& why) {
    if (fault.empty()) fault = why;
  };
  const String form = pdb ? "the PDB form" : "the mmCIF form";
  // The length counts without blanks around the value; every byte the
  // library writes must be printable. An identifier is named, and in mmCIF
  // limited, as the reader takes the tag it is written under.
  const auto check = [&](const String& raw, const Cif_limit& limit, const std::size_t pdb_longest) {
    const std::size_t longest = pdb ? pdb_longest : limit.longest;
    const String value = raw.trim();
    if (value.size() > longest)
      refuse(String("the ") + limit.what + " \"" + value + "\" is longer than " +
             String(int(longest)) + " characters, more than " + form + " holds");
    const String why = unwritable(raw, pdb);
    if (!why.empty())
      refuse(String("the ") + limit.what + " \"" + raw + "\" " + why + ", which " + form +
             " cannot hold");
  };
  const auto fits = [](const double v, const double lo, const double hi) {
    return v >= lo && v <= hi;
  };
  const Cif_limit &chain_id = *cif_limit("auth_asym_id"), &name = *cif_limit("auth_comp_id"),
                  &ins_code = *cif_limit("pdbx_PDB_ins_code"),
                  &atom_id = *cif_limit("auth_atom_id"), &alt_id = *cif_limit("label_alt_id"),
                  &element = *cif_limit("type_symbol");
  char id[id_buffer_size];
  // A model's number, and a chain's and a residue's ids, are checked once,
  // at their first atom.
  const mmdb::Model* last_model = nullptr;
  const mmdb::Chain* last_chain = nullptr;
  const mmdb::Residue* last_residue = nullptr;
  for_each_atom(mmdb, [&](mmdb::Atom* atom) {
    if (!fault.empty()) return;
    mmdb::Residue* residue = atom->GetResidue();
    mmdb::Chain* chain = atom->GetChain();
    mmdb::Model* model = atom->GetModel();
    // The library numbers models from 1; MODEL has columns 11-14 for it.
    if (pdb && model && model != last_model && model->GetSerNum() > 9999)
      refuse("the model number " + String(model->GetSerNum()) +
             " is outside 1 to 9999, which the PDB form holds");
    last_model = model;
    if (chain && chain != last_chain) check(chain->GetChainID(), chain_id, 2);
    last_chain = chain;
    if (residue && residue != last_residue) {
      last_residue = residue;
      check(residue->GetResName(), name, 3);
      check(residue->GetInsCode(), ins_code, 1);
      const int number = residue->GetSeqNum();
      if (pdb && !fits(number, -999, 2436111))
        refuse("the residue number " + String(number) +
               " is outside -999 to 2436111, which the PDB form holds");
      const String code = String(residue->GetInsCode()).trim();
      if (pdb && number > 9999 && !code.empty())
        refuse("the residue number " + String(number) + " with the insertion code \"" + code +
               "\": the PDB form holds no insertion code past 9999");
    }
    if (atom->Ter) return;
    check(atom->name, atom_id, 4);
    check(atom->altLoc, alt_id, 1);
    check(atom->element, element, 2);
    // Columns 8.3 for a position, 6.2 for occupancy and B.
    const mmdb::word set = atom->WhatIsSet;
    if (pdb && !((!(set & mmdb::ASET_Coordinates) ||
                  (fits(atom->x, -999.999, 9999.999) && fits(atom->y, -999.999, 9999.999) &&
                   fits(atom->z, -999.999, 9999.999))) &&
                 (!(set & mmdb::ASET_Occupancy) || fits(atom->occupancy, -99.99, 999.99)) &&
                 (!(set & mmdb::ASET_tempFactor) || fits(atom->tempFactor, -99.99, 999.99))))
      refuse("atom " + String(atom->GetAtomID(id)) +
             ": a number that does not fit the columns of the PDB form");
  });
  return fault;
}

}  // namespace vantrel::mmdb_internal
