// Written models against the invariants every one keeps. A source (PDB or
// mmCIF text) is read as records, given one edit, written in both forms on
// both paths (the program's: the model imported and exported into a new
// object; the library object's: the object read written back), and each
// output is written again on its path in its form. Every written file is
// then judged from its text alone, read here by a small parser of its own:
// every atom once, the two forms alike, a second write keeping what the
// first wrote, each polymer a chain whose bonds join neighbours, and its
// label_seq_id stepping as its bonds and numbers say.
//
// Bonds are found from the geometry the written-model rule states: a
// residue's end (C; O3' or O3*) to another's start (N; P) within 1.5 x 1.33
// and 1.5 x 1.61 A; a residue that is no standard one and lacks the named
// atom offers any carbon, nitrogen or phosphorus there; two residues bonded
// each way, or laid over one another, are bonded neither way.
//
// Shared by the unit test over fixed seeds and the fuzz target
// written_model; nothing here uses the test framework.
#ifndef VANTREL_TESTS_MODEL_WRITTEN_INVARIANTS_H
#define VANTREL_TESTS_MODEL_WRITTEN_INVARIANTS_H

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/message.h"
#include "model/mmdb_file.h"

namespace written_invariants {

// ---------------------------------------------------------------- texts

inline std::string trimmed(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

inline std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

//! A fixed-column field of a PDB line, without the blanks around it.
inline std::string columns(const std::string& line, const std::size_t first, const std::size_t n) {
  return first < line.size() ? trimmed(line.substr(first, n)) : "";
}

inline std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

//! A CIF text as its tables: each category (lower case, with its leading
//! "_") with its tags (lower case, without the category) and rows; a
//! category given as tag-value pairs is one row. Where the table was a loop,
//! begin and end are the place of its text, from "loop_" to its last value.
struct Cif_table {
  std::vector<std::string> tags, given_tags;  // given_tags: as the text spells them
  std::vector<std::vector<std::string>> rows;
  std::size_t begin = 0, end = 0;
  int column(const std::string& tag) const {
    const auto at = std::find(tags.begin(), tags.end(), tag);
    return at == tags.end() ? -1 : int(at - tags.begin());
  }
};

inline std::map<std::string, Cif_table> cif_tables(const std::string& t) {
  struct Token {
    std::string text;
    std::size_t begin, end;
    bool bare;  // neither quoted nor a text field
  };
  std::vector<Token> tokens;
  const std::size_t n = t.size();
  const auto space = [&](const std::size_t k) {
    return k >= n || std::isspace(static_cast<unsigned char>(t[k]));
  };
  for (std::size_t i = 0; i < n;) {
    if (space(i)) {
      ++i;
    } else if (t[i] == '#') {
      i = std::min(n, t.find('\n', i));
    } else if (t[i] == ';' && (i == 0 || t[i - 1] == '\n')) {
      const std::size_t close = std::min(n, t.find("\n;", i));
      tokens.push_back({t.substr(i + 1, close - i - 1), i, std::min(n, close + 2), false});
      i = std::min(n, close + 2);
    } else if (t[i] == '\'' || t[i] == '"') {
      std::size_t close = i + 1;
      while (close < n && t[close] != '\n' && !(t[close] == t[i] && space(close + 1))) ++close;
      const bool closed = close < n && t[close] == t[i];
      tokens.push_back({t.substr(i + 1, close - i - 1), i, close + closed, false});
      i = close + closed;
    } else {
      std::size_t end = i;
      while (!space(end)) ++end;
      tokens.push_back({t.substr(i, end - i), i, end, true});
      i = end;
    }
  }
  const auto is_tag = [](const Token& k) { return k.bare && k.text[0] == '_'; };
  const auto is_word = [](const Token& k) {
    const std::string w = lower(k.text.substr(0, 7));
    return k.bare && (w == "loop_" || w.rfind("data_", 0) == 0 || w.rfind("save_", 0) == 0 ||
                      w.rfind("global_", 0) == 0 || w.rfind("stop_", 0) == 0);
  };
  const auto category = [](const std::string& tag) { return lower(tag.substr(0, tag.find('.'))); };
  const auto name = [](const std::string& tag) {
    return tag.find('.') == std::string::npos ? std::string() : tag.substr(tag.find('.') + 1);
  };
  std::map<std::string, Cif_table> tables;
  for (std::size_t k = 0; k < tokens.size();) {
    if (tokens[k].bare && lower(tokens[k].text) == "loop_") {
      std::size_t j = k + 1;
      while (j < tokens.size() && is_tag(tokens[j])) ++j;
      const std::size_t first = j;
      while (j < tokens.size() && !is_tag(tokens[j]) && !is_word(tokens[j])) ++j;
      if (first > k + 1) {
        Cif_table& table = tables[category(tokens[k + 1].text)];
        table = Cif_table();
        for (std::size_t g = k + 1; g < first; ++g) {
          table.given_tags.push_back(name(tokens[g].text));
          table.tags.push_back(lower(name(tokens[g].text)));
        }
        const std::size_t width = table.tags.size();
        for (std::size_t r = first; r + width <= j; r += width) {
          table.rows.emplace_back();
          for (std::size_t v = r; v < r + width; ++v) table.rows.back().push_back(tokens[v].text);
        }
        table.begin = tokens[k].begin;
        table.end = tokens[j - 1].end;
      }
      k = j;
    } else if (is_tag(tokens[k])) {
      Cif_table& table = tables[category(tokens[k].text)];
      if (table.rows.empty()) table.rows.emplace_back();
      table.given_tags.push_back(name(tokens[k].text));
      table.tags.push_back(lower(name(tokens[k].text)));
      const bool value = k + 1 < tokens.size() && !is_tag(tokens[k + 1]) && !is_word(tokens[k + 1]);
      table.rows[0].push_back(value ? tokens[k + 1].text : "?");
      k += 1 + value;
    } else {
      ++k;
    }
  }
  return tables;
}

//! A CIF value as a text can hold it.
inline std::string cif_value(const std::string& v) {
  if (v.empty()) return "''";
  const bool bare = v.find_first_of(" \t\n") == std::string::npos &&
                    std::string("_#$;'\"").find(v[0]) == std::string::npos;
  if (bare) return v;
  return v.find("' ") == std::string::npos && v.back() != '\'' ? "'" + v + "'" : "\"" + v + "\"";
}

// ---------------------------------------------------------------- records

//! An atom or TER record of a coordinate text.
struct Record {
  bool ter = false, het = false;
  int model = 1;
  std::string chain, name, altloc, resname, icode, element;
  int seq = 0;
  std::array<double, 3> xyz{};
  std::string asym, label_seq, entity;  // mmCIF labels as given, empty where none
  std::string line;                     // PDB: the record as given
  std::vector<std::string> row;         // mmCIF: the row as given
  bool moved = false;                   // its position changed: written anew
};

//! A coordinate text as its records, and the text around them.
struct Coordinates {
  bool cif = false;
  std::string head, tail;  // PDB: the lines before the first record; mmCIF: around the atom loop
  Cif_table atom_loop;     // mmCIF
  std::vector<Record> records;
  bool models_given = false;                        // PDB: MODEL records
  std::map<std::string, std::string> entity_types;  // mmCIF: _entity.type by id
};

//! A value of an mmCIF row where the loop has the tag, "?" and "." read as none.
inline std::string cif_field(const Cif_table& loop, const std::vector<std::string>& row,
                             const std::string& tag) {
  const int c = loop.column(tag);
  if (c < 0) return "";
  const std::string& v = row[c];
  return v == "?" || v == "." ? "" : v;
}

inline Coordinates parse_cif(const std::string& text) {
  Coordinates c;
  c.cif = true;
  std::map<std::string, Cif_table> tables = cif_tables(text);
  if (const auto entity = tables.find("_entity"); entity != tables.end())
    for (const auto& row : entity->second.rows)
      c.entity_types[cif_field(entity->second, row, "id")] = cif_field(entity->second, row, "type");
  const auto atoms = tables.find("_atom_site");
  if (atoms == tables.end() || atoms->second.end == 0) {
    c.head = text;
    return c;
  }
  const Cif_table& loop = atoms->second;
  c.head = text.substr(0, loop.begin);
  c.tail = text.substr(loop.end);
  // The author's ids where the loop has them (a blank chain id is one).
  const auto either = [&](const std::vector<std::string>& row, const char* a, const char* b) {
    return cif_field(loop, row, loop.column(a) >= 0 ? a : b);
  };
  for (const auto& row : loop.rows) {
    Record r;
    r.row = row;
    r.het = cif_field(loop, row, "group_pdb") == "HETATM";
    r.model = std::atoi(cif_field(loop, row, "pdbx_pdb_model_num").c_str());
    r.chain = either(row, "auth_asym_id", "label_asym_id");
    r.name = either(row, "auth_atom_id", "label_atom_id");
    r.altloc = cif_field(loop, row, "label_alt_id");
    r.resname = either(row, "auth_comp_id", "label_comp_id");
    r.icode = cif_field(loop, row, "pdbx_pdb_ins_code");
    r.element = cif_field(loop, row, "type_symbol");
    r.seq = std::atoi(either(row, "auth_seq_id", "label_seq_id").c_str());
    for (int k = 0; k < 3; ++k)
      r.xyz[k] = std::atof(cif_field(loop, row, std::string("cartn_") + "xyz"[k]).c_str());
    r.asym = cif_field(loop, row, "label_asym_id");
    r.label_seq = cif_field(loop, row, "label_seq_id");
    r.entity = cif_field(loop, row, "label_entity_id");
    c.records.push_back(r);
  }
  c.atom_loop = loop;
  c.atom_loop.rows.clear();
  return c;
}

inline Coordinates parse_pdb(const std::string& text) {
  Coordinates c;
  int model = 1;
  bool started = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string kind = line.substr(0, 6);
    if (kind == "MODEL " || kind == "MODEL") {
      c.models_given = started = true;
      model = std::atoi(columns(line, 10, 4).c_str());
    } else if (kind == "ATOM  " || kind == "HETATM") {
      started = true;
      Record r;
      r.line = line;
      r.het = kind == "HETATM";
      r.model = model;
      r.name = columns(line, 12, 4);
      r.altloc = columns(line, 16, 1);
      r.resname = columns(line, 17, 3);
      r.chain = columns(line, 21, 1);
      r.seq = std::atoi(columns(line, 22, 4).c_str());
      r.icode = columns(line, 26, 1);
      for (int k = 0; k < 3; ++k) r.xyz[k] = std::atof(columns(line, 30 + 8 * k, 8).c_str());
      r.element = columns(line, 76, 2);
      c.records.push_back(r);
    } else if (line.rfind("TER", 0) == 0) {
      started = true;
      Record r;
      r.ter = true;
      r.model = model;
      // The residue a TER record names is the one before it.
      for (auto it = c.records.rbegin(); it != c.records.rend() && r.resname.empty(); ++it)
        if (!it->ter) r.chain = it->chain, r.resname = it->resname, r.seq = it->seq;
      c.records.push_back(r);
    } else if (!started) {
      c.head += line + "\n";
    }
  }
  return c;
}

//! The records' models numbered as the reader numbers them: from 1, in the
//! order the text first gives each number, where it gives any below 1.
inline void number_models_as_read(Coordinates& c) {
  std::vector<int> order;
  for (const Record& r : c.records)
    if (std::find(order.begin(), order.end(), r.model) == order.end()) order.push_back(r.model);
  if (order.empty() || *std::min_element(order.begin(), order.end()) >= 1) return;
  for (Record& r : c.records)
    r.model = int(std::find(order.begin(), order.end(), r.model) - order.begin()) + 1;
}

inline Coordinates parse(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  return first != std::string::npos && text.compare(first, 5, "data_") == 0 ? parse_cif(text)
                                                                            : parse_pdb(text);
}

inline std::string three_decimals(const double v) {
  char s[32];
  std::snprintf(s, sizeof s, "%.3f", v);
  return s;
}

//! The text of the records: PDB with serial numbers in order, MODEL records
//! where the text gave them or a model is numbered other than 1; mmCIF with
//! its atom loop's rows made again from the records.
inline std::string render(const Coordinates& c) {
  std::string out = c.head;
  if (c.cif) {
    const Cif_table& loop = c.atom_loop;
    out += "loop_\n";
    for (const std::string& tag : loop.given_tags) out += "_atom_site." + tag + "\n";
    const auto set = [&](std::vector<std::string>& row, const char* tag, const std::string& v) {
      if (const int k = loop.column(tag); k >= 0) row[k] = v;
    };
    for (const Record& r : c.records) {
      std::vector<std::string> row = r.row;
      if (loop.column("group_pdb") >= 0) set(row, "group_pdb", r.het ? "HETATM" : "ATOM");
      set(row, "auth_asym_id", r.chain);
      set(row, "auth_seq_id", std::to_string(r.seq));
      set(row, "pdbx_pdb_ins_code", r.icode.empty() ? "?" : r.icode);
      set(row, "pdbx_pdb_model_num", std::to_string(r.model));
      if (r.moved)
        for (int k = 0; k < 3; ++k)
          set(row, (std::string("cartn_") + "xyz"[k]).c_str(), three_decimals(r.xyz[k]));
      for (std::size_t k = 0; k < row.size(); ++k) out += (k ? " " : "") + cif_value(row[k]);
      out += "\n";
    }
    return out + c.tail;
  }
  bool wrap = c.models_given;
  for (const Record& r : c.records) wrap = wrap || r.model != 1;
  int serial = 0, model = 0;
  bool open = false;
  const Record* last = nullptr;  // the atom record before
  char buffer[96];
  for (const Record& r : c.records) {
    if (wrap && (!open || r.model != model)) {
      if (open) out += "ENDMDL\n";
      std::snprintf(buffer, sizeof buffer, "MODEL     %4d\n", r.model);
      out += buffer;
      open = true;
      model = r.model;
      last = nullptr;
    }
    serial = serial % 99999 + 1;
    if (r.ter) {
      std::snprintf(buffer, sizeof buffer, "TER   %5d      %3s %1.1s%4d%1.1s\n", serial,
                    last ? last->resname.c_str() : "", last ? last->chain.c_str() : "",
                    last ? last->seq : 0, last ? last->icode.c_str() : "");
      out += last ? buffer : "TER\n";
      continue;
    }
    std::string line = r.line;
    line.resize(std::max<std::size_t>(line.size(), 80), ' ');
    std::snprintf(buffer, sizeof buffer, "%-6s%5d", r.het ? "HETATM" : "ATOM", serial);
    line.replace(0, 11, buffer);
    std::snprintf(buffer, sizeof buffer, "%3s %1.1s%4d%1.1s", r.resname.c_str(), r.chain.c_str(),
                  r.seq, r.icode.c_str());
    line.replace(17, 10, buffer);
    if (r.moved)
      for (int k = 0; k < 3; ++k) {
        std::snprintf(buffer, sizeof buffer, "%8.3f", r.xyz[k]);
        line.replace(30 + 8 * k, 8, buffer);
      }
    out += trimmed(line).empty() ? "\n" : line.substr(0, line.find_last_not_of(' ') + 1) + "\n";
    last = &r;
  }
  if (open) out += "ENDMDL\n";
  return out + "END\n";
}

// ---------------------------------------------------------------- residues

inline bool is_water(const std::string& name) {
  return name == "HOH" || name == "WAT" || name == "DOD" || name == "H2O";
}

inline bool is_standard(const std::string& name) {
  static const std::set<std::string> names = {
      "ALA", "ARG", "ASN", "ASP", "CYS", "GLN", "GLU", "GLY", "HIS", "ILE", "LEU", "LYS",
      "MET", "PHE", "PRO", "SER", "THR", "TRP", "TYR", "VAL", "UNK", "SEC", "PYL", "ASX",
      "GLX", "A",   "C",   "G",   "U",   "I",   "DA",  "DC",  "DG",  "DT",  "DI",  "DU"};
  return names.count(name) > 0;
}

inline std::string chain_name(const std::string& id) { return id.empty() ? "''" : id; }

//! A residue's id in messages: chain, number with insertion code, name, and
//! the model where it is not 1.
inline std::string residue_name(const Record& r) {
  return chain_name(r.chain) + " " + std::to_string(r.seq) + r.icode + " " + r.resname +
         (r.model != 1 ? " (model " + std::to_string(r.model) + ")" : "");
}

//! The key that makes atom records one residue, as readers group them.
inline std::string residue_key(const Record& r) {
  return std::to_string(r.model) + "|" + r.chain + "|" + std::to_string(r.seq) + "|" + r.icode +
         "|" + r.resname;
}

//! Every PDB and mmCIF file of a folder (by its extension), sorted by name,
//! read as records.
inline std::vector<std::pair<std::string, Coordinates>> read_sources(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".pdb" || ext == ".cif") names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  std::vector<std::pair<std::string, Coordinates>> read;
  for (const std::string& name : names)
    read.emplace_back(name, parse(file_text(folder + "/" + name)));
  return read;
}

//! The residues of a source as the indices of their atom records, in the
//! order of their first record; records of one residue may stand apart.
inline std::vector<std::vector<std::size_t>> source_residues(const Coordinates& c) {
  std::vector<std::vector<std::size_t>> residues;
  std::map<std::string, std::size_t> at;
  for (std::size_t i = 0; i < c.records.size(); ++i) {
    if (c.records[i].ter) continue;
    const auto found = at.emplace(residue_key(c.records[i]), residues.size());
    if (found.second) residues.emplace_back();
    residues[found.first->second].push_back(i);
  }
  return residues;
}

enum class Kind { polymer, ligand, water };
inline const char* kind_name(const Kind k) {
  return k == Kind::polymer ? "polymer" : k == Kind::ligand ? "ligand" : "water";
}

//! A residue as a written file gives it.
struct Residue {
  std::vector<std::size_t> atoms;  // record indices
  Kind kind = Kind::ligand;
  std::string asym, entity;  // mmCIF labels
  bool numbered = false;     // has a label_seq_id
  long long label_seq = 0;
  int polymer = -1, place = -1;  // its written polymer and place in it
  std::string key;               // residue_key and its occurrence: one id in the file
};

//! A written file as its residues and polymers: consecutive atom records
//! of one residue key are one residue. mmCIF: a residue's kind is that of
//! its entity (by its label_seq_id where the entity is not stated); each
//! label_asym_id's polymer residues of a model are one polymer. PDB: the
//! residues of a chain before its TER record are its polymer.
struct Written {
  Coordinates text;
  std::vector<Residue> residues;
  std::vector<std::vector<std::size_t>> polymers;  // residue indices, in written order
  const Record& first(const Residue& r) const { return text.records[r.atoms[0]]; }
  std::string name(const Residue& r) const { return residue_name(first(r)); }
};

inline Written written(Coordinates text) {
  Written w;
  w.text = std::move(text);
  const std::vector<Record>& records = w.text.records;
  std::map<std::string, std::size_t> last_ter;  // PDB: by model and chain
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].ter) last_ter[std::to_string(records[i].model) + "|" + records[i].chain] = i;
  std::map<std::string, int> seen;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].ter) continue;
    const std::string key = residue_key(records[i]);
    if (!w.residues.empty() && i > 0 && !records[i - 1].ter && residue_key(records[i - 1]) == key) {
      w.residues.back().atoms.push_back(i);
      continue;
    }
    Residue r;
    r.atoms = {i};
    r.key = key + "#" + std::to_string(seen[key]++);
    const Record& a = records[i];
    if (w.text.cif) {
      r.asym = a.asym;
      r.entity = a.entity;
      r.numbered = !a.label_seq.empty();
      r.label_seq = std::atoll(a.label_seq.c_str());
      const auto type = w.text.entity_types.find(a.entity);
      const std::string t = type == w.text.entity_types.end() ? "" : type->second;
      r.kind = t == "polymer" || (t.empty() && r.numbered)          ? Kind::polymer
               : t == "water" || (t.empty() && is_water(a.resname)) ? Kind::water
                                                                    : Kind::ligand;
    } else {
      const auto ter = last_ter.find(std::to_string(a.model) + "|" + a.chain);
      r.kind = ter != last_ter.end() && ter->second > i ? Kind::polymer
               : is_water(a.resname)                    ? Kind::water
                                                        : Kind::ligand;
    }
    w.residues.push_back(r);
  }
  std::map<std::string, int> polymer_of;
  for (std::size_t i = 0; i < w.residues.size(); ++i) {
    Residue& r = w.residues[i];
    if (r.kind != Kind::polymer) continue;
    const Record& a = w.first(r);
    const auto found = polymer_of.emplace(
        std::to_string(a.model) + "|" + (w.text.cif ? r.asym : a.chain), int(w.polymers.size()));
    if (found.second) w.polymers.emplace_back();
    r.polymer = found.first->second;
    r.place = int(w.polymers[r.polymer].size());
    w.polymers[r.polymer].push_back(i);
  }
  return w;
}

// ---------------------------------------------------------------- bonds

//! The positions at which a residue bonds into a chain: its end (C; O3')
//! and its start (N; P), [0] for peptides, [1] for nucleic acids.
struct Bond_ends {
  std::vector<std::array<double, 3>> end[2], start[2];
};

inline char element_of(const Record& a) {
  std::string e = a.element;
  if (e.empty())
    for (const char c : a.name)
      if (std::isalpha(static_cast<unsigned char>(c))) {
        e = std::string(1, c);
        break;
      }
  return e.size() == 1 ? char(std::toupper(static_cast<unsigned char>(e[0]))) : 0;
}

inline Bond_ends bond_ends(const Written& w, const Residue& r) {
  Bond_ends ends;
  const bool standard = is_standard(w.first(r).resname);
  // Per end: the element, the names a standard residue uses, and whether a
  // residue without them offers any atom of the element.
  struct Site {
    char element;
    const char* names[2];
    bool any;
    std::vector<std::array<double, 3>>* to;
  };
  const Site sites[] = {{'C', {"C", "C"}, true, &ends.end[0]},
                        {'N', {"N", "N"}, true, &ends.start[0]},
                        {'O', {"O3'", "O3*"}, false, &ends.end[1]},
                        {'P', {"P", "P"}, true, &ends.start[1]}};
  for (const Site& site : sites) {
    std::vector<std::array<double, 3>> named, other;
    for (const std::size_t i : r.atoms) {
      const Record& a = w.text.records[i];
      if (element_of(a) != site.element) continue;
      (a.name == site.names[0] || a.name == site.names[1] ? named : other).push_back(a.xyz);
    }
    *site.to = !named.empty() || !site.any || standard ? named : other;
  }
  return ends;
}

//! Whether a's end is within bonding distance of b's start.
inline bool reaches(const Bond_ends& a, const Bond_ends& b) {
  const double longest[2] = {1.5 * 1.33, 1.5 * 1.61};
  for (int k = 0; k < 2; ++k)
    for (const auto& p : a.end[k])
      for (const auto& q : b.start[k]) {
        const double dx = p[0] - q[0], dy = p[1] - q[1], dz = p[2] - q[2];
        if (dx * dx + dy * dy + dz * dz <= longest[k] * longest[k]) return true;
      }
  return false;
}

//! The bonds between the residues of a written file, by residue index:
//! bonded(a, b) when a's end bonds b's start, within one model and chain.
class Bonds {
 public:
  explicit Bonds(const Written& w) : w_(w), ends_(w.residues.size()) {
    for (std::size_t i = 0; i < w.residues.size(); ++i) ends_[i] = bond_ends(w, w.residues[i]);
  }
  bool bonded(const std::size_t a, const std::size_t b) const {
    const Record &x = w_.first(w_.residues[a]), &y = w_.first(w_.residues[b]);
    return a != b && x.model == y.model && x.chain == y.chain && reaches(ends_[a], ends_[b]) &&
           !reaches(ends_[b], ends_[a]) && !overlap(a, b);
  }

 private:
  // Residues laid over one another bond neither way: two atoms that can be
  // present together (one alternate location, or either none) nearer than
  // 0.1 A.
  bool overlap(const std::size_t a, const std::size_t b) const {
    for (const std::size_t i : w_.residues[a].atoms)
      for (const std::size_t j : w_.residues[b].atoms) {
        const Record &p = w_.text.records[i], &q = w_.text.records[j];
        if (!p.altloc.empty() && !q.altloc.empty() && p.altloc != q.altloc) continue;
        const double dx = p.xyz[0] - q.xyz[0], dy = p.xyz[1] - q.xyz[1], dz = p.xyz[2] - q.xyz[2];
        if (dx * dx + dy * dy + dz * dz < 0.01) return true;
      }
    return false;
  }

  const Written& w_;
  std::vector<Bond_ends> ends_;
};

// ---------------------------------------------------------------- checks

using Problems = std::vector<std::string>;

//! The atoms of a text as counted keys by model: chain, residue, atom name,
//! alternate location and position to 0.001 A.
inline std::map<int, std::map<std::string, int>> atoms_by_model(
    const std::vector<Record>& records) {
  std::map<int, std::map<std::string, int>> atoms;
  for (const Record& a : records) {
    if (a.ter) continue;
    std::string key = chain_name(a.chain) + " " + std::to_string(a.seq) + a.icode + " " +
                      a.resname + " " + a.name + (a.altloc.empty() ? "" : "." + a.altloc);
    for (const double v : a.xyz) key += " " + std::to_string(std::llround(v * 1000));
    ++atoms[a.model][key];
  }
  return atoms;
}

//! Every atom once: each model written holds the atoms of the source's
//! model of its number (its models numbered as read), each exactly as
//! often; on the program's path only the lowest-numbered model is written.
inline void expect_atoms(const Coordinates& source, const Written& out, const bool first_model_only,
                         Problems& problems) {
  auto expected = atoms_by_model(source.records);
  if (first_model_only && expected.size() > 1)
    expected.erase(std::next(expected.begin()), expected.end());
  const auto got = atoms_by_model(out.text.records);
  if (got == expected) return;
  for (const auto& [model, atoms] : expected)
    if (!got.count(model))
      for (const auto& [other, written] : got)
        if (written == atoms && !expected.count(other)) {
          problems.push_back("model " + std::to_string(model) + " is written as model " +
                             std::to_string(other));
          return;
        }
  int shown = 0, differ = 0;
  std::string text;
  std::set<int> models;
  for (const auto& m : {expected, got})
    for (const auto& entry : m) models.insert(entry.first);
  for (const int model : models) {
    const auto e = expected.count(model) ? expected.at(model) : std::map<std::string, int>();
    const auto g = got.count(model) ? got.at(model) : std::map<std::string, int>();
    std::set<std::string> keys;
    for (const auto& m : {e, g})
      for (const auto& entry : m) keys.insert(entry.first);
    for (const std::string& key : keys) {
      const int want = e.count(key) ? e.at(key) : 0, have = g.count(key) ? g.at(key) : 0;
      if (want == have) continue;
      if (shown++ < 2)
        text += (text.empty() ? "" : "; ") + std::string("atom ") + key + " (model " +
                std::to_string(model) + ") given " + std::to_string(want) + " times, written " +
                std::to_string(have);
      ++differ;
    }
  }
  problems.push_back(std::to_string(differ) + " atoms not written once: " + text);
}

//! The PDB and mmCIF outputs of one path give the same residues, in the
//! same order, each of the same kind.
inline void expect_same_residues(const Written& pdb, const Written& cif, Problems& problems) {
  const std::size_t n = std::min(pdb.residues.size(), cif.residues.size());
  for (std::size_t i = 0; i < n; ++i) {
    const Residue &p = pdb.residues[i], &c = cif.residues[i];
    if (p.key != c.key) {
      problems.push_back("the forms differ at residue " + std::to_string(i + 1) + ": " +
                         pdb.name(p) + " in PDB, " + cif.name(c) + " in mmCIF");
      return;
    }
    if (p.kind != c.kind) {
      problems.push_back(pdb.name(p) + " is " + kind_name(p.kind) + " in PDB, " +
                         kind_name(c.kind) + " in mmCIF");
      return;
    }
  }
  if (pdb.residues.size() != cif.residues.size())
    problems.push_back("PDB holds " + std::to_string(pdb.residues.size()) + " residues, mmCIF " +
                       std::to_string(cif.residues.size()));
}

//! Residue numbers one after the other: 52, 52A, 53 (insertion codes that
//! run backwards taken in file order).
inline bool one_after_the_other(const Record& a, const Record& b) {
  return b.seq == a.seq + 1 || (b.seq == a.seq && b.icode != a.icode);
}

//! What every written file holds of its polymers:
//! - each is a chain: of the bonds between its residues, those between
//!   residues written one after the other hold first, then any other where
//!   both ends are still free; each such other bond must close a cyclic
//!   peptide (join the last residue of a stretch, each bonded to the next,
//!   to its first); and no ligand of the chain, nor another polymer's
//!   free start, is bonded at an end of a polymer residue that no bond
//!   holds (it would continue the polymer there);
//! - mmCIF: a label_seq_id steps by 1 from the residue before where they are
//!   bonded or numbered one after the other, else by the number difference
//!   where the numbers rise, else by 2; each label_asym_id holds one entity
//!   of one kind, in one chain; a polymer entity's chains agree at every label_seq_id
//!   they share, a non-polymer entity holds one residue name.
inline void expect_chains(const Written& w, Problems& problems) {
  const Bonds bonds(w);
  const std::size_t n = w.residues.size();
  std::vector<long> after(n, -1), before(n, -1);
  for (const std::vector<std::size_t>& polymer : w.polymers) {
    for (std::size_t i = 0; i + 1 < polymer.size(); ++i)
      if (bonds.bonded(polymer[i], polymer[i + 1])) {
        after[polymer[i]] = long(polymer[i + 1]);
        before[polymer[i + 1]] = long(polymer[i]);
      }
    for (std::size_t i = 0; i < polymer.size(); ++i)
      for (std::size_t j = 0; j < polymer.size(); ++j) {
        const std::size_t a = polymer[i], b = polymer[j];
        if (after[a] >= 0 || before[b] >= 0 || !bonds.bonded(a, b)) continue;
        after[a] = long(b);
        before[b] = long(a);
        bool cycle = j < i;  // b first of a bonded stretch that a ends
        for (std::size_t k = j; cycle && k < i; ++k)
          cycle = after[polymer[k]] == long(polymer[k + 1]);
        if (!cycle)
          problems.push_back(
              w.name(w.residues[a]) + " is bonded to " + w.name(w.residues[b]) +
              " after it, but written " +
              (j > i ? std::to_string(j - i - 1) + " residues before it" : "before it"));
      }
  }
  // What is bonded at a free end of a polymer would continue it there: a
  // ligand, or the free start of another polymer of the chain.
  for (std::size_t a = 0; a < n; ++a) {
    const Residue& p = w.residues[a];
    if (p.kind != Kind::polymer) continue;
    for (std::size_t l = 0; l < n; ++l) {
      const Residue& q = w.residues[l];
      const bool ligand = q.kind == Kind::ligand,
                 other = q.kind == Kind::polymer && q.polymer != p.polymer;
      const bool at_end =
                     after[a] < 0 && (ligand || (other && before[l] < 0)) && bonds.bonded(a, l),
                 at_start = before[a] < 0 && ligand && bonds.bonded(l, a);
      if (at_end || at_start)
        problems.push_back(
            (ligand ? "the ligand " + w.name(q) : w.name(q) + " of another polymer") +
            " is bonded to the free " + (at_end ? "end" : "start") + " of " + w.name(p));
    }
  }
  if (!w.text.cif) return;
  for (const std::vector<std::size_t>& polymer : w.polymers)
    for (std::size_t i = 0; i < polymer.size(); ++i) {
      const Residue& r = w.residues[polymer[i]];
      if (!r.numbered) {
        problems.push_back(w.name(r) + " is polymer without a label_seq_id");
        continue;
      }
      if (i == 0 || !w.residues[polymer[i - 1]].numbered) continue;
      const Residue& q = w.residues[polymer[i - 1]];
      const Record &x = w.first(q), &y = w.first(r);
      const bool bonded = bonds.bonded(polymer[i - 1], polymer[i]);
      const long long step = r.label_seq - q.label_seq,
                      expected = bonded || one_after_the_other(x, y) ? 1
                                 : y.seq > x.seq                     ? y.seq - x.seq
                                                                     : 2;
      if (step != expected)
        problems.push_back("label_seq_id steps by " + std::to_string(step) + " from " + w.name(q) +
                           " to " + w.name(r) + " (" + (bonded ? "bonded" : "not bonded") +
                           "), where it should step by " + std::to_string(expected));
    }
  std::map<std::string, std::string> asym_chains;             // by model and label_asym_id
  std::map<std::string, std::pair<std::string, Kind>> asyms;  // by model and label_asym_id
  std::map<std::string, std::map<std::string, std::map<long long, std::string>>> sequences;
  std::map<std::string, std::string> ligand_names;
  for (const Residue& r : w.residues) {
    const Record& a = w.first(r);
    const auto chain = asym_chains.emplace(std::to_string(a.model) + "|" + r.asym, a.chain);
    if (chain.first->second != a.chain)
      problems.push_back("label_asym_id " + r.asym + " holds residues of chains " +
                         chain_name(chain.first->second) + " and " + chain_name(a.chain));
    const auto held =
        asyms.emplace(std::to_string(a.model) + "|" + r.asym, std::pair(r.entity, r.kind));
    if (held.first->second != std::pair(r.entity, r.kind))
      problems.push_back("label_asym_id " + r.asym + " holds " + w.name(r) + " of entity " +
                         r.entity + " (" + kind_name(r.kind) + ") and residues of entity " +
                         held.first->second.first + " (" + kind_name(held.first->second.second) +
                         ")");
    if (r.kind == Kind::polymer && r.numbered)
      sequences[r.entity][std::to_string(a.model) + "|" + r.asym].emplace(r.label_seq, a.resname);
    if (r.kind == Kind::ligand &&
        ligand_names.emplace(r.entity, a.resname).first->second != a.resname)
      problems.push_back("the non-polymer entity " + r.entity + " holds " + ligand_names[r.entity] +
                         " and " + a.resname);
  }
  for (const auto& [entity, chains] : sequences)
    for (auto x = chains.begin(); x != chains.end(); ++x)
      for (auto y = std::next(x); y != chains.end(); ++y)
        for (const auto& [seq, name] : x->second)
          if (const auto other = y->second.find(seq);
              other != y->second.end() && other->second != name) {
            problems.push_back("entity " + entity + " holds " + name + " and " + other->second +
                               " at label_seq_id " + std::to_string(seq));
            break;
          }
}

//! A written model written again keeps each residue's kind, its polymer and
//! place in it, and in mmCIF its label_asym_id, label_seq_id and entity id:
//! the same ids where labels are kept (exact), else the same up to renaming
//! (one id of the first write always the same one of the second, and no two
//! the same). first names what was written first ("the source", "the first
//! write").
inline void expect_kept(const Written& one, const Written& two, const bool exact,
                        const std::string& first, Problems& problems) {
  std::map<std::string, const Residue*> again;
  for (const Residue& r : two.residues) again[r.key] = &r;
  struct Renaming {
    std::map<std::string, std::string> to, from;
    bool add(const std::string& a, const std::string& b) {
      return to.emplace(a, b).first->second == b && from.emplace(b, a).first->second == a;
    }
  } asyms, entities, polymers;
  Problems found;
  const auto differ = [&](const Residue& r, const std::string& what, const std::string& a,
                          const std::string& b) {
    found.push_back(one.name(r) + ": " + what + " " + a + " in " + first + ", " + b +
                    " in the write after it");
  };
  for (const Residue& r : one.residues) {
    const auto found_again = again.find(r.key);
    if (found_again == again.end()) {
      found.push_back(one.name(r) + " is missing from the write after " + first);
      continue;
    }
    const Residue& s = *found_again->second;
    if (r.kind != s.kind) {
      differ(r, "kind", kind_name(r.kind), kind_name(s.kind));
      continue;
    }
    if (r.kind == Kind::polymer &&
        (r.place != s.place || !polymers.add(std::to_string(r.polymer), std::to_string(s.polymer))))
      differ(r, "place in its polymer", std::to_string(r.place + 1), std::to_string(s.place + 1));
    if (!one.text.cif || !two.text.cif) continue;
    if (exact ? r.asym != s.asym : !asyms.add(r.asym, s.asym))
      differ(r, "label_asym_id", r.asym, s.asym);
    if (exact ? r.entity != s.entity : !entities.add(r.entity, s.entity))
      differ(r, "entity", r.entity, s.entity);
    if (r.numbered != s.numbered || r.label_seq != s.label_seq)
      differ(r, "label_seq_id", r.numbered ? std::to_string(r.label_seq) : ".",
             s.numbered ? std::to_string(s.label_seq) : ".");
  }
  if (one.residues.size() != two.residues.size())
    found.push_back(std::to_string(one.residues.size()) + " residues in " + first + ", " +
                    std::to_string(two.residues.size()) + " in the write after it");
  for (std::size_t i = 0; i < found.size() && i < 3; ++i) problems.push_back(found[i]);
  if (found.size() > 3) problems.push_back("and " + std::to_string(found.size() - 3) + " more");
}

// ---------------------------------------------------------------- edits

//! A choice among n (n >= 1): 0 to n - 1.
using Pick = std::function<int(int)>;

//! The records with those at take moved to just after record at (an index
//! of the records as they are, none of take); past the end puts them last.
inline void move_records(Coordinates& c, const std::vector<std::size_t>& take,
                         const std::size_t at) {
  std::vector<bool> moving(c.records.size(), false);
  for (const std::size_t i : take) moving[i] = true;
  std::vector<Record> out;
  for (std::size_t i = 0; i <= c.records.size(); ++i) {
    if (i < c.records.size() && !moving[i]) out.push_back(c.records[i]);
    if (i == at || (i == c.records.size() && at >= c.records.size()))
      for (const std::size_t k : take) out.push_back(c.records[k]);
  }
  c.records = out;
}

inline void erase_records(Coordinates& c, std::vector<std::size_t> take) {
  std::sort(take.begin(), take.end());
  for (auto i = take.rbegin(); i != take.rend(); ++i) c.records.erase(c.records.begin() + long(*i));
}

//! The chain ids in the order the records first give them.
inline std::vector<std::string> chain_ids(const Coordinates& c) {
  std::vector<std::string> ids;
  for (const Record& r : c.records)
    if (!r.ter && std::find(ids.begin(), ids.end(), r.chain) == ids.end()) ids.push_back(r.chain);
  return ids;
}

//! The index of the last record of the residue's chain and model.
inline std::size_t chain_end(const Coordinates& c, const Record& of) {
  std::size_t last = 0;
  for (std::size_t i = 0; i < c.records.size(); ++i)
    if (c.records[i].model == of.model && c.records[i].chain == of.chain) last = i;
  return last;
}

//! A letter no chain id of the records is.
inline std::string unused_chain_id(const Coordinates& c, const int from) {
  const std::vector<std::string> ids = chain_ids(c);
  for (int k = 0; k < 62; ++k) {
    const std::string id(
        1, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"[(from + k) % 62]);
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) return id;
  }
  return "";
}

//! The residues of a chain that its text gives as its polymer: those before
//! its first TER record (PDB), or with a label_seq_id (mmCIF); else those
//! that are no water.
inline std::vector<std::size_t> given_polymer(const Coordinates& c,
                                              const std::vector<std::vector<std::size_t>>& residues,
                                              const std::string& chain) {
  std::size_t ter = c.records.size();
  for (std::size_t i = 0; i < c.records.size() && ter == c.records.size(); ++i)
    if (c.records[i].ter && c.records[i].chain == chain) ter = i;
  std::vector<std::size_t> given, other;
  for (std::size_t r = 0; r < residues.size(); ++r) {
    const Record& a = c.records[residues[r][0]];
    if (a.chain != chain || is_water(a.resname)) continue;
    other.push_back(r);
    if (c.cif ? !a.label_seq.empty() : residues[r][0] < ter) given.push_back(r);
  }
  return given.empty() ? other : given;
}

//! The frame a residue's backbone gives (N, CA, C; P, C4', O3'), where it
//! has one: origin and three axes.
inline bool frame(const Coordinates& c, const std::vector<std::size_t>& residue,
                  std::array<std::array<double, 3>, 4>& f, int& kind) {
  static const char* const atoms[2][3] = {{"N", "CA", "C"}, {"P", "C4'", "O3'"}};
  for (kind = 0; kind < 2; ++kind) {
    std::array<double, 3> p[3];
    int found = 0;
    for (int k = 0; k < 3; ++k)
      for (const std::size_t i : residue)
        if (c.records[i].name == atoms[kind][k]) {
          p[k] = c.records[i].xyz;
          ++found;
          break;
        }
    if (found != 3) continue;
    std::array<double, 3> e1, e2, e3;
    double n1 = 0, d = 0, n2 = 0;
    for (int k = 0; k < 3; ++k) e1[k] = p[0][k] - p[1][k], n1 += e1[k] * e1[k];
    if (n1 < 1e-6) continue;
    for (int k = 0; k < 3; ++k) e1[k] /= std::sqrt(n1), d += (p[2][k] - p[1][k]) * e1[k];
    for (int k = 0; k < 3; ++k) e2[k] = p[2][k] - p[1][k] - d * e1[k], n2 += e2[k] * e2[k];
    if (n2 < 1e-6) continue;
    for (int k = 0; k < 3; ++k) e2[k] /= std::sqrt(n2);
    e3 = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
          e1[0] * e2[1] - e1[1] * e2[0]};
    f = {p[1], e1, e2, e3};
    return true;
  }
  return false;
}

//! One edit of the source, chosen by pick; its description, or "" where the
//! edit chosen does not apply to the source.
inline std::string edit_once(Coordinates& c, const int which, const Pick& pick) {
  const std::vector<std::vector<std::size_t>> residues = source_residues(c);
  if (residues.empty()) return "";
  std::vector<std::size_t> ters;
  for (std::size_t i = 0; i < c.records.size(); ++i)
    if (c.records[i].ter) ters.push_back(i);
  const auto any_residue = [&]() -> const std::vector<std::size_t>& {
    return residues[std::size_t(pick(int(residues.size())))];
  };
  const auto ter_name = [&](const std::size_t t) {
    return "the TER record after " + residue_name(c.records[t]);
  };
  switch (which) {
    case 0: {  // a residue moved after a TER record of its chain
      if (ters.empty()) return "";
      const std::size_t t = ters[std::size_t(pick(int(ters.size())))];
      std::vector<std::size_t> of_chain;
      for (std::size_t r = 0; r < residues.size(); ++r)
        if (c.records[residues[r][0]].chain == c.records[t].chain &&
            c.records[residues[r][0]].model == c.records[t].model)
          of_chain.push_back(r);
      if (of_chain.empty()) return "";
      const std::vector<std::size_t>& r =
          residues[of_chain[std::size_t(pick(int(of_chain.size())))]];
      const std::string text =
          residue_name(c.records[r[0]]) + " moved to just after " + ter_name(t);
      move_records(c, r, t);
      return text;
    }
    case 1: {  // a residue moved to its chain's end
      const std::vector<std::size_t>& r = any_residue();
      const std::size_t end = chain_end(c, c.records[r[0]]);
      if (std::find(r.begin(), r.end(), end) != r.end()) return "";
      const std::string text = residue_name(c.records[r[0]]) + " moved to the end of its chain";
      move_records(c, r, end);
      return text;
    }
    case 2: {  // a residue's records turned from ATOM into HETATM or back
      if (c.cif && c.atom_loop.column("group_pdb") < 0) return "";
      const std::vector<std::size_t>& r = any_residue();
      const bool het = !c.records[r[0]].het;
      for (const std::size_t i : r) c.records[i].het = het;
      return residue_name(c.records[r[0]]) + " given as " + (het ? "HETATM" : "ATOM");
    }
    case 3: {  // a TER record added after a residue
      if (c.cif) return "";
      const std::vector<std::size_t>& r = any_residue();
      Record ter;
      ter.ter = true;
      ter.model = c.records[r.back()].model;
      ter.chain = c.records[r.back()].chain;
      ter.resname = c.records[r.back()].resname;
      ter.seq = c.records[r.back()].seq;
      c.records.insert(c.records.begin() + long(r.back()) + 1, ter);
      return "a TER record added after " + residue_name(c.records[r.back()]);
    }
    case 4: {  // a TER record dropped
      if (ters.empty()) return "";
      const std::size_t t = ters[std::size_t(pick(int(ters.size())))];
      const std::string text = ter_name(t) + " dropped";
      c.records.erase(c.records.begin() + long(t));
      return text;
    }
    case 5: {  // a chain given an id that another molecule's label_asym_id has
      const std::vector<std::string> ids = chain_ids(c);
      std::vector<std::string> labels;
      // The label_asym_ids the source gives, and those a write gives afresh:
      // each chain's polymer, then each ligand, then each chain's waters
      // are A, B, C ... One the PDB form holds where there is one.
      const auto add = [&](const std::string& id) {
        if (!id.empty() && std::find(ids.begin(), ids.end(), id) == ids.end() &&
            std::find(labels.begin(), labels.end(), id) == labels.end())
          labels.push_back(id);
      };
      const int molecules = std::min<int>(26, int(residues.size() + ids.size()));
      for (int k = 0; k < molecules; ++k) add(std::string(1, char('A' + k)));
      for (const Record& r : c.records)
        if (r.asym.size() == 1 || labels.empty()) add(r.asym);
      if (labels.empty()) return "";
      const std::string from = ids[std::size_t(pick(int(ids.size())))],
                        to = labels[std::size_t(pick(int(labels.size())))];
      for (Record& r : c.records)
        if (r.chain == from) r.chain = to;
      return "chain " + chain_name(from) + " renamed " + to +
             ", a label_asym_id of the written model";
    }
    case 6: {  // a chain id used twice
      const std::vector<std::string> ids = chain_ids(c);
      if (ids.size() >= 2) {
        const int a = pick(int(ids.size())),
                  b = (a + 1 + pick(int(ids.size()) - 1)) % int(ids.size());
        for (Record& r : c.records)
          if (r.chain == ids[std::size_t(b)]) r.chain = ids[std::size_t(a)];
        return "chain " + chain_name(ids[std::size_t(b)]) + " renamed " +
               chain_name(ids[std::size_t(a)]) + ", another chain's id";
      }
      // One chain: a stretch inside it given another id, so that its id
      // comes again after it.
      if (residues.size() < 3) return "";
      const std::size_t first = 1 + std::size_t(pick(int(residues.size()) - 2));
      const std::size_t last = first + std::size_t(pick(int(residues.size() - 1 - first)));
      const std::string id = unused_chain_id(c, pick(62));
      const std::string text = residue_name(c.records[residues[first][0]]) + " to " +
                               residue_name(c.records[residues[last][0]]) + " given chain id " +
                               id + ", between two parts of chain " +
                               chain_name(c.records[residues[0][0]].chain);
      for (std::size_t r = first; r <= last; ++r)
        for (const std::size_t i : residues[r]) c.records[i].chain = id;
      return text;
    }
    case 7: {  // renumbered
      const std::size_t at = std::size_t(pick(int(residues.size())));
      const Record& a = c.records[residues[at][0]];
      const std::string name = residue_name(a);
      const auto clamp = [](const int v) { return std::clamp(v, -999, 9999); };
      switch (pick(4)) {
        case 0: {  // the number of another residue
          const std::vector<std::size_t>& other = any_residue();
          const int seq = c.records[other[0]].seq;
          const std::string icode = c.records[other[0]].icode;
          for (const std::size_t i : residues[at])
            c.records[i].seq = seq, c.records[i].icode = icode;
          return name + " renumbered " + std::to_string(seq) + icode;
        }
        case 1: {  // the number of the residue before, with an insertion code
          if (at == 0) return "";
          const int seq = c.records[residues[at - 1][0]].seq;
          const std::string icode(1, char('A' + pick(3)));
          for (const std::size_t i : residues[at])
            c.records[i].seq = seq, c.records[i].icode = icode;
          return name + " renumbered " + std::to_string(seq) + icode;
        }
        case 2: {  // it and every later residue of its chain renumbered by as much
          const int by = pick(61) - 30;
          for (std::size_t r = at; r < residues.size(); ++r)
            if (c.records[residues[r][0]].chain == a.chain)
              for (const std::size_t i : residues[r])
                c.records[i].seq = clamp(c.records[i].seq + by);
          return name + " and the residues after it in its chain renumbered by " +
                 std::to_string(by);
        }
        default: {  // it alone
          const int seq = clamp(a.seq + pick(41) - 20);
          for (const std::size_t i : residues[at]) c.records[i].seq = seq;
          return name + " renumbered " + std::to_string(seq);
        }
      }
    }
    case 8: {  // residues dropped at one end of a chain's polymer
      const std::vector<std::string> ids = chain_ids(c);
      const std::string chain = ids[std::size_t(pick(int(ids.size())))];
      const std::vector<std::size_t> polymer = given_polymer(c, residues, chain);
      if (polymer.size() < 2) return "";
      const std::size_t k = 1 + std::size_t(pick(std::min<int>(3, int(polymer.size()) - 1)));
      const bool at_start = pick(2) == 0;
      std::vector<std::size_t> take;
      for (std::size_t j = 0; j < k; ++j)
        for (const std::size_t i : residues[polymer[at_start ? j : polymer.size() - 1 - j]])
          take.push_back(i);
      const std::string text = std::to_string(k) + " residues dropped at the " +
                               (at_start ? "start" : "end") + " of chain " + chain_name(chain) +
                               "'s polymer";
      erase_records(c, take);
      return text;
    }
    case 9: {  // a residue moved onto another, its ends crowding the other's
      std::vector<std::size_t> framed;
      std::vector<std::array<std::array<double, 3>, 4>> frames;
      std::vector<int> kinds;
      for (std::size_t r = 0; r < residues.size(); ++r) {
        std::array<std::array<double, 3>, 4> f;
        int kind;
        if (frame(c, residues[r], f, kind))
          framed.push_back(r), frames.push_back(f), kinds.push_back(kind);
      }
      if (framed.size() < 2) return "";
      const std::size_t x = std::size_t(pick(int(framed.size())));
      std::vector<std::size_t> targets;
      for (std::size_t y = 0; y < framed.size(); ++y)
        if (y != x && kinds[y] == kinds[x]) targets.push_back(y);
      if (targets.empty()) return "";
      const std::size_t y = targets[std::size_t(pick(int(targets.size())))];
      const double shift = 0.1 + 0.1 * pick(4);  // off the other's atoms along its first axis
      const auto& from = frames[x];
      const auto& to = frames[y];
      for (const std::size_t i : residues[framed[x]]) {
        Record& a = c.records[i];
        double local[3];
        for (int k = 0; k < 3; ++k)
          local[k] = (a.xyz[0] - from[0][0]) * from[k + 1][0] +
                     (a.xyz[1] - from[0][1]) * from[k + 1][1] +
                     (a.xyz[2] - from[0][2]) * from[k + 1][2];
        for (int d = 0; d < 3; ++d)
          a.xyz[d] = to[0][d] + shift * to[1][d] + local[0] * to[1][d] + local[1] * to[2][d] +
                     local[2] * to[3][d];
        a.moved = true;
      }
      return residue_name(c.records[residues[framed[x]][0]]) + " moved onto " +
             residue_name(c.records[residues[framed[y]][0]]) + ", " + three_decimals(shift) +
             " A off";
    }
    default: {  // the model renumbered
      static const int numbers[] = {0, -1, 2, 3, 9999, 10000, 123456};
      const int count = c.cif ? 7 : 5;  // PDB holds four columns
      const int to = numbers[pick(count)];
      const int from = c.records[0].model;
      for (Record& r : c.records)
        if (r.model == from) r.model = to;
      c.models_given = true;
      return "model " + std::to_string(from) + " renumbered " + std::to_string(to);
    }
  }
}

constexpr int edit_kinds = 11;

//! One edit of the source: the kind pick chooses, else the next that applies.
inline std::string edit(Coordinates& c, const Pick& pick) {
  const int first = pick(edit_kinds);
  for (int k = 0; k < edit_kinds; ++k) {
    const std::string text = edit_once(c, (first + k) % edit_kinds, pick);
    if (!text.empty()) return text;
  }
  return "no edit";
}

// ---------------------------------------------------------------- writes

//! What one edit of one source gave.
struct Outcome {
  std::string edit;
  Problems problems;                 // invariants broken, each with where
  std::vector<std::string> refused;  // reads and writes refused, with the message
  int checked = 0;                   // written files judged
};

//! Library messages kept from the stream while it lives.
class Quiet {
 public:
  Quiet() { vantrel::Message::set_stream(sink_); }
  ~Quiet() { vantrel::Message::set_stream(std::cerr); }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

 private:
  std::ostringstream sink_;
};

//! The fatal message of f, empty when it succeeds.
template <class F> std::string refusal(F&& f) {
  try {
    f();
  } catch (const vantrel::Message_fatal& m) {
    return m.text().empty() ? "(a fatal message without text)" : m.text();
  }
  return "";
}

//! Writes the source in both forms on both paths and each output again,
//! and checks every file written. The files are named from stem (a path
//! and the start of a name) and removed unless keep is set. A source that
//! does not read, and a first write that is refused, end that part of the
//! check (Outcome::refused); a written file that does not read or write
//! again is a problem.
inline Outcome check_writes(const Coordinates& source, const std::string& stem,
                            const bool keep = false) {
  using vantrel::MMDBfile;
  using vantrel::MMDBManager;
  const Quiet quiet;
  Outcome outcome;
  std::vector<std::string> files;
  const auto path = [&](const std::string& name) {
    files.push_back(stem + name);
    return stem + name;
  };
  const std::string input = path(source.cif ? ".source.cif" : ".source.pdb");
  std::ofstream(input, std::ios::binary) << render(source);
  // The records as the library gets them: those of the text written, the
  // models numbered as read.
  Coordinates given = parse(file_text(input));
  number_models_as_read(given);
  MMDBfile read;
  read.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
  vantrel::MiniMol model;
  if (const std::string r = refusal([&] {
        read.read_file(input);
        read.import_minimol(model, -1);
      });
      !r.empty()) {
    outcome.refused.push_back("the source: " + r);
  } else {
    MMDBfile fresh;
    fresh.export_minimol(model);
    for (const bool program : {true, false}) {
      const std::string route = program ? "program" : "object";
      MMDBfile& object = program ? fresh : read;
      std::map<bool, Written> first;
      for (const bool cif : {false, true}) {
        const std::string form = cif ? ".cif" : ".pdb";
        const MMDBManager::TYPE type = cif ? MMDBManager::CIF : MMDBManager::PDB;
        const std::string where = route + " path, " + (cif ? "mmCIF" : "PDB");
        const std::string out = path("." + route + form),
                          again = path("." + route + ".again" + form);
        if (const std::string r = refusal([&] { object.write_file(out, type); }); !r.empty()) {
          outcome.refused.push_back(where + ": " + r);
          continue;
        }
        Problems found;
        const Written one = written(parse(file_text(out)));
        expect_atoms(given, one, program, found);
        if (cif) expect_chains(one, found);
        if (cif && !program && source.cif) {
          // A source that already holds what a written model holds (every
          // residue labelled, its atoms together and its id its own, one
          // polymer of a kind in a chain) is written as it is.
          const Written as_given = written(given);
          Problems own;
          expect_chains(as_given, own);
          bool as_written = !as_given.text.entity_types.empty();
          std::map<std::string, std::set<std::string>> polymer_ids;  // by model, chain, kind
          for (const Residue& r : as_given.residues) {
            as_written = as_written && !r.entity.empty() && r.key.substr(r.key.rfind('#')) == "#0";
            const Record& a = as_given.first(r);
            const bool nucleic = is_standard(a.resname) && a.resname.size() <= 2;
            if (r.kind == Kind::polymer)
              polymer_ids[std::to_string(a.model) + "/" + a.chain + (nucleic ? "/n" : "/p")].insert(
                  r.asym);
          }
          for (const auto& chain : polymer_ids) as_written = as_written && chain.second.size() == 1;
          if (own.empty() && as_written) expect_kept(as_given, one, true, "the source", found);
        }
        const std::string r = refusal([&] {
          MMDBfile back;
          back.SetFlag(mmdb::MMDBF_IgnoreNonCoorPDBErrors | mmdb::MMDBF_IgnoreBlankLines);
          back.read_file(out);
          if (program) {
            vantrel::MiniMol m;
            back.import_minimol(m, -1);
            MMDBfile next;
            next.export_minimol(m);
            next.write_file(again, type);
          } else {
            back.write_file(again, type);
          }
        });
        if (!r.empty()) {
          found.push_back("the written file does not write again: " + r);
        } else {
          const Written two = written(parse(file_text(again)));
          expect_atoms(given, two, program, found);
          if (cif) expect_chains(two, found);
          expect_kept(one, two, !program, "the first write", found);
          ++outcome.checked;
        }
        ++outcome.checked;
        for (const std::string& f : found) outcome.problems.push_back(where + ": " + f);
        first[cif] = one;
      }
      if (first.size() == 2) {
        Problems found;
        expect_same_residues(first[false], first[true], found);
        for (const std::string& f : found) outcome.problems.push_back(route + " path: " + f);
      }
    }
  }
  if (!keep)
    for (const std::string& f : files) std::remove(f.c_str());
  return outcome;
}

//! Edits the source once as pick chooses and checks its writes
//! (check_writes).
inline Outcome check_edit(const Coordinates& source, const Pick& pick, const std::string& stem,
                          const bool keep = false) {
  Coordinates edited = source;
  const std::string what = edit(edited, pick);
  Outcome outcome = check_writes(edited, stem, keep);
  outcome.edit = what;
  return outcome;
}

}  // namespace written_invariants

#endif
