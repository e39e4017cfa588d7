#include "app/sequence_history.h"

#include <algorithm>
#include <set>

#include "foundation/property.h"

using vantrel::String;

namespace {

constexpr int lines_per_result = 5;

// The first "TAG" of a monomer, when it has one that holds an int.
bool residue_tag(const vantrel::MMonomer& m, int& tag) {
  if (!m.exists_property("TAG")) return false;
  const auto* p = dynamic_cast<const vantrel::Property<int>*>(&m.get_property("TAG"));
  if (p == nullptr) return false;
  tag = p->value();
  return true;
}

}  // namespace

void Ca_sequence::History::append(const Ca_sequence& seq) {
  history_.insert(history_.end(), seq.history_.begin(), seq.history_.end());
}

String Ca_sequence::History::format(const vantrel::MiniMol& mol) const {
  String text;
  for (const Result& result : history_) {
    std::set<String> ids;
    for (int p = 0; p < mol.size(); ++p)
      for (int r = 0; r < mol[p].size(); ++r) {
        int tag = 0;
        if (residue_tag(mol[p][r], tag) && tag == result.tag) {
          ids.insert(mol[p].id());
          break;
        }
      }
    if (ids.empty()) continue;
    const Score_list<String>& list = result.list;
    const int length = list.size() > 0 ? int(list[0].size()) : 0;
    text += "Sequencing fragment of length: " + String(length, 4) + "  Final chain ID(s): ";
    for (const String& id : ids) text += id + " ";
    text += "\n";
    for (int i = 0; i < std::min(lines_per_result, list.size()); ++i) {
      const String prefix =
          i > 0 ? String(11, ' ') : String(result.accepted ? " Accepted: " : " Rejected: ");
      text += prefix + list[i] + " \t" + String(list.score(i), 10, 6) + "\n";
    }
  }
  return text;
}
