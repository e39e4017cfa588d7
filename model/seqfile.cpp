#include "model/seqfile.h"

#include <cstdio>
#include <memory>

#include "foundation/message.h"
#include "system/file_access.h"

namespace vantrel {

namespace {

// ASCII letters only: the test must not depend on the locale, and bytes
// above 127 are not residue codes.
bool is_letter(const char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char upper(const char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

void append_record(MMoleculeSequence& seqs, const String& id, const String& sequence) {
  MPolymerSequence record;
  record.set_id(id);
  record.set_sequence(sequence);
  seqs.insert(record, -1);
}

}  // namespace

void SEQfile::read_file(const String& file) {
  text_.clear();
  // A FIFO or device would block the read or never end it.
  Files::check_input(file, "SEQfile: read_file error");
  // C streams report read errors (a directory opens but cannot be read).
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(file.c_str(), "rb"),
                                                           &std::fclose);
  if (!in) fatal("SEQfile: read_file error: " + file);
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in.get())) > 0;)
    text_.append(buffer, n);
  if (std::ferror(in.get())) {
    text_.clear();
    fatal("SEQfile: read_file error: " + file);
  }
}

void SEQfile::import_molecule_sequence(MMoleculeSequence& seqs) const {
  String id, sequence;
  // Carriage returns and newlines alike end lines (CR, LF and CR LF files).
  for (const String& raw : text_.split("\r\n")) {
    const String line = raw.trim();
    if (line.empty()) continue;
    if (line[0] == '>') {
      if (!sequence.empty()) append_record(seqs, id, sequence);
      id = String(line.substr(1)).trim();
      sequence.clear();
    } else if (is_letter(line[0])) {
      for (const char c : line)
        if (is_letter(c)) sequence += upper(c);
    }
  }
  if (!sequence.empty()) append_record(seqs, id, sequence);
}

void SEQfile::import_polymer_sequence(MPolymerSequence& seq) const {
  MMoleculeSequence seqs;
  import_molecule_sequence(seqs);
  if (seqs.size() > 0) seq = seqs[0];
}

}  // namespace vantrel
