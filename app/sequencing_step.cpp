// The sequencing step of Ca_sequence objects: candidates combined, accepted
// and written into a model's residue types, with their history.
#include <algorithm>
#include <cmath>

#include "app/ca_sequence.h"
#include "app/protein_tools.h"
#include "foundation/message.h"
#include "foundation/property.h"

using vantrel::MiniMol;
using vantrel::MMoleculeSequence;
using vantrel::MPolymer;
using vantrel::String;

int Ca_sequence::tag = 0;

namespace {

constexpr int shortest_sequenced = 6;  // residues
constexpr int rejected_tag_offset = 10000;
constexpr double examine_below = 0.4;     // overlap with the combination so far
constexpr double competitor_above = 0.2;  // overlap with the examined candidate
constexpr int blocked_margin = 3;         // residues each side of an examined candidate
constexpr double combined_score = -999.0;

bool is_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

bool has_letter(const String& s) { return std::any_of(s.begin(), s.end(), is_letter); }

// New residue type of a candidate character; "UNK" for none.
String new_type(char c) {
  if (c == '+') return "+++";
  if (c == '-') return "---";
  const int t = ProteinTools::residue_index(String(1, c), true);
  return t >= 0 ? ProteinTools::residue_code_3(t) : String("UNK");
}

}  // namespace

Ca_sequence::Ca_sequence(double reliability) : reliability_(reliability) {
  if (!(reliability >= 0.0 && reliability <= 1.0))
    vantrel::fatal("Ca_sequence: reliability " + String(reliability) + " outside 0 to 1");
}

bool Ca_sequence::operator()(MiniMol& mol, const MiniMol& mol_in, const vantrel::Xmap<float>& xmap,
                             const std::vector<LLK_map_target>& targets,
                             const MMoleculeSequence& sequences) {
  std::vector<LLK_map_target::Sampled> sampled;
  for (const LLK_map_target& t : targets) sampled.push_back(t.fine());
  // Letters without a residue type would shift the alignment's positions.
  MMoleculeSequence clean;
  for (int q = 0; q < sequences.size(); ++q) {
    vantrel::MPolymerSequence record;
    record.set_id(sequences[q].id());
    record.set_sequence(ProteinTools::sequence_clean(sequences[q].sequence()));
    clean.insert(record, -1);
  }

  ProteinTools::chain_tidy(mol, mol_in);
  num_sequenced_ = 0;
  for (int p = 0; p < mol.size(); ++p) {
    MPolymer& chain = mol[p];
    if (chain.size() < shortest_sequenced) continue;
    const Score_list<String> list =
        sequence_combine(sequence_chain(chain, xmap, sampled, clean), reliability_);
    const bool accepted =
        list.size() > 1 && phi_approx(list.score(0) - list.score(1)) < 1.0 - reliability_;
    if (accepted) sequence_apply(chain, list[0]);
    const int result_tag = accepted ? tag : tag + rejected_tag_offset;
    for (int r = 0; r < chain.size(); ++r) {
      chain[r].set_property("TAG", vantrel::Property<int>(result_tag));
      num_sequenced_ += chain[r].type() != "UNK";
    }
    history_.push_back(Result{result_tag, accepted, list});
    ++tag;
  }
  return true;
}

String Ca_sequence::format() const {
  String text;
  for (int k = 0; k < int(history_.size()); ++k) {
    const Score_list<String>& list = history_[k].list;
    const int length = list.size() > 0 ? int(list[0].size()) : 0;
    text += "Chain number: " + String(k, 4) + "    length: " + String(length, 4) + "\n";
    for (int i = 0; i < list.size(); ++i)
      text += list[i] + " \t" + String(list.score(i), 10, 6) + "\n";
  }
  return text;
}

Score_list<String> Ca_sequence::sequence_combine(const Score_list<String>& scores,
                                                 const double& reliability) const {
  Score_list<String> result = scores;
  if (scores.size() == 0) return result;
  const int n = int(scores[0].size());
  for (int i = 1; i < scores.size(); ++i)
    if (int(scores[i].size()) != n)
      vantrel::fatal("Ca_sequence: sequence_combine - candidates of " + String(n) + " and " +
                     String(int(scores[i].size())) + " residues");
  String combined(n, '?');
  bool any = false;
  for (int i = 0; i + 1 < scores.size(); ++i) {
    const String& c = scores[i];
    if (!has_letter(c) || !(sequence_overlap(c, combined) < examine_below)) continue;
    int j = i + 1;
    while (j < scores.size() && !(sequence_overlap(c, scores[j]) > competitor_above)) ++j;
    // Without a competitor there is no score gap to measure confidence by.
    if (j < scores.size() && phi_approx(scores.score(i) - scores.score(j)) < 1.0 - reliability) {
      for (int p = 0; p < n; ++p)
        if (combined[p] == '?') combined[p] = c[p];
      any = true;
    }
    const int first = int(c.find_first_not_of('?')), last = int(c.find_last_not_of('?'));
    for (int p = std::max(0, first - blocked_margin); p <= std::min(n - 1, last + blocked_margin);
         ++p)
      if (combined[p] == '?') combined[p] = 'x';
  }
  std::replace(combined.begin(), combined.end(), 'x', '?');
  if (any) result.add(combined_score, combined);
  return result;
}

void Ca_sequence::sequence_apply(MPolymer& chain, const String& seq) {
  const int n = chain.size();
  if (int(seq.size()) != n) vantrel::fatal("Sequence: internal error - length mismatch");
  std::vector<String> old_types(n), new_types(n);
  for (int i = 0; i < n; ++i) {
    old_types[i] = chain[i].type();
    new_types[i] = new_type(seq[i]);
  }
  auto assigned = [&](int i) { return new_types[i] != "UNK"; };
  // Runs of typed residues that the candidate contradicts or runs up
  // against are reset.
  for (int a = 0; a < n;) {
    if (old_types[a] == "UNK") {
      ++a;
      continue;
    }
    int b = a;
    while (b < n && old_types[b] != "UNK") ++b;
    bool clear =
        (a > 0 && assigned(a - 1) && !assigned(a)) || (b < n && !assigned(b - 1) && assigned(b));
    for (int i = a; i < b && !clear; ++i) clear = assigned(i) && new_types[i] != old_types[i];
    if (clear)
      for (int i = a; i < b; ++i) old_types[i] = "UNK";
    a = b;
  }
  for (int i = 0; i < n; ++i) chain[i].set_type(assigned(i) ? new_types[i] : old_types[i]);
}

double Ca_sequence::sequence_overlap(const String& a, const String& b) {
  const std::size_t k = std::min(a.size(), b.size());
  int in_a = 0, in_both = 0;
  for (std::size_t p = 0; p < k; ++p)
    if (is_letter(a[p])) {
      ++in_a;
      in_both += is_letter(b[p]);
    }
  return in_a > 0 ? double(in_both) / in_a : 0.0;
}
