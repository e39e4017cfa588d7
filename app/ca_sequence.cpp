#include "app/ca_sequence.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "app/main_chain.h"
#include "app/protein_tools.h"
#include "foundation/message.h"

using vantrel::MMoleculeSequence;
using vantrel::MPolymer;
using vantrel::RTop_orth;
using vantrel::String;
using vantrel::Xmap;

namespace {

using Matrix = std::vector<std::vector<double>>;

constexpr int smooth_half_width = 5;  // running mean over up to 11 residues
constexpr double gap_penalty = 3.0;
constexpr double segment_length_scale = 50.0;
constexpr double segment_weight_power = 0.25;
constexpr int candidate_capacity = 50;
constexpr double similarity_cut = 0.25;

// Residue-type index of every byte (ProteinTools::residue_index of the
// one-character string, MSE as MET): 0 to 19, or -1.
class Type_table {
 public:
  Type_table() {
    for (int c = 0; c < 256; ++c) index_[c] = ProteinTools::residue_index(String(1, char(c)), true);
  }
  int operator()(char c) const { return index_[static_cast<unsigned char>(c)]; }

 private:
  int index_[256];
};

const Type_table& type_of() {
  static const Type_table table;
  return table;
}

// Length weight of a segment of l residues, l = 0 to n.
std::vector<double> segment_weights(int n) {
  std::vector<double> w(std::size_t(n) + 1);
  for (int l = 0; l <= n; ++l) {
    const double x = l / segment_length_scale;
    w[l] = 1.0 / std::pow(1.0 + x * x, segment_weight_power);
  }
  return w;
}

// The matrix must have a column for residue type t in every row.
void require_column(const Matrix& scores, int t, const char* caller) {
  for (std::size_t r = 0; r < scores.size(); ++r)
    if (int(scores[r].size()) <= t)
      vantrel::fatal(String("Ca_sequence: ") + caller + " - score matrix row " + String(int(r)) +
                     " has " + String(int(scores[r].size())) +
                     " columns, no column for residue type " + String(t));
}

// The alignment tables of a sequence (letters without a type dropped)
// against the residues: letter scores s, cumulative scores T, moves M
// (0 diagonal, 1 a residue without a letter, 2 a residue in place of two
// letters) and used marks U, each L x R, row-major by letter.
struct Alignment {
  int nletter = 0, nres = 0;
  String letters;
  std::vector<double> s, total;
  std::vector<unsigned char> move, used;

  int at(int i, int j) const { return i * nres + j; }
  bool empty() const { return nletter < 3 || nres < 3; }
  // Alignment ends: interior cells that no interior cell extends.
  bool is_end(int i, int j) const { return i >= 3 && j >= 2 && !used[at(i, j)]; }
  // The cell this one extends, or -1 where the traceback leaves the table.
  int pred(int i, int j) const {
    const int m = move[at(i, j)];
    const int a = m == 2 ? i - 3 : i - 1, b = m == 0 ? j - 1 : j - 2;
    return a >= 0 && b >= 0 ? at(a, b) : -1;
  }
};

Alignment align_tables(const Matrix& scores, const String& sequence) {
  Alignment al;
  const Type_table& type = type_of();
  al.letters = ProteinTools::sequence_clean(sequence);
  int max_type = -1;
  for (const char c : al.letters) max_type = std::max(max_type, type(c));
  al.nletter = int(al.letters.size());
  al.nres = int(scores.size());
  if (al.empty()) return al;
  require_column(scores, max_type, "sequence_align");
  // Four tables of L x R cells: beyond 1e8 cells (about 2 GB) refuse.
  if (double(al.nletter) * double(al.nres) > 1.0e8)
    vantrel::fatal("Ca_sequence: sequence_align - " + String(al.nletter) + " letters against " +
                   String(al.nres) + " residues exceed the alignment table limit");

  const int L = al.nletter, R = al.nres;
  al.s.assign(std::size_t(L) * R, 0.0);
  al.total.assign(std::size_t(L) * R, 0.0);
  al.move.assign(std::size_t(L) * R, 0);
  al.used.assign(std::size_t(L) * R, 0);
  std::vector<double>& s = al.s;
  std::vector<double>& T = al.total;
  for (int i = 0; i < L; ++i) {
    const int t = type(al.letters[i]);
    for (int j = 0; j < R; ++j) s[al.at(i, j)] = scores[j][t];
  }
  // Rows 0 to 2 and columns 0 and 1 take only the diagonal step.
  for (int i = 0; i < L; ++i) T[al.at(i, 0)] = s[al.at(i, 0)];
  for (int j = 0; j < R; ++j) T[al.at(0, j)] = s[al.at(0, j)];
  for (int i = 1; i < L; ++i) T[al.at(i, 1)] = T[al.at(i - 1, 0)] + s[al.at(i, 1)];
  for (int j = 1; j < R; ++j) T[al.at(1, j)] = T[al.at(0, j - 1)] + s[al.at(1, j)];
  for (int j = 1; j < R; ++j) T[al.at(2, j)] = T[al.at(1, j - 1)] + s[al.at(2, j)];
  // Interior: ties go to the diagonal, then to move 1.
  for (int i = 3; i < L; ++i)
    for (int j = 2; j < R; ++j) {
      const double sij = s[al.at(i, j)];
      const double d0 = T[al.at(i - 1, j - 1)] + sij;
      const double d1 = T[al.at(i - 1, j - 2)] + sij + gap_penalty;
      const double d2 = T[al.at(i - 3, j - 2)] + sij + gap_penalty;
      const int c = al.at(i, j);
      if (d0 <= d1 && d0 <= d2) {
        T[c] = d0;
        al.move[c] = 0;
        al.used[al.at(i - 1, j - 1)] = 1;
      } else if (d1 <= d2) {
        T[c] = d1;
        al.move[c] = 1;
        al.used[al.at(i - 1, j - 2)] = 1;
      } else {
        T[c] = d2;
        al.move[c] = 2;
        al.used[al.at(i - 3, j - 2)] = 1;
      }
    }
  return al;
}

// Writes the alignment ending at cell (i, j) into text, only at positions
// in [lo, hi).
void trace(const Alignment& al, int i, int j, String& text, int lo, int hi) {
  auto put = [&](int pos, char c) {
    if (pos >= lo && pos < hi) text[pos] = c;
  };
  while (i >= 0 && j >= 0) {
    put(j, al.letters[i]);
    const int m = al.move[al.at(i, j)];
    if (m == 1) {
      put(j - 1, '+');
      i -= 1;
      j -= 2;
    } else if (m == 2) {
      put(j - 1, '-');
      i -= 3;
      j -= 2;
    } else {
      i -= 1;
      j -= 1;
    }
  }
}

// Best segment in scan order (first ascending, then last ascending, strict
// improvement): the lowest value, and among equal values the smallest
// (first, last). No segment yet: score 0 and first -1.
struct Best {
  double score = 0.0;
  int first = -1, last = -1;
  void offer(double value, int a, int b) {
    if (value < score ||
        (value == score && first >= 0 && (a < first || (a == first && b < last)))) {
      score = value;
      first = a;
      last = b;
    }
  }
};

// The best segment of every alignment end, by one walk over the tree that
// the moves make of the cells: an alignment is the path from its end back
// to where the traceback leaves the table (row 0 or column 0), so paths
// share their beginnings. Along a path the prefix sums of the candidate's
// per-residue scores are those of the candidate string ("?" before the path
// start costs nothing); each cell adds the segments that end at its own
// residue (and at the gap residue before it) to the best of its parent.
// Segments reaching past the end cell add zeros at a lower length weight,
// so they never win. Equal to sequence_score of each traceback string, at
// O(L R n) for all ends together instead of O(n^2) per end. Calls
// found(cell, best) for every end, in no particular order.
template <class F>
void best_segments(const Alignment& al, const std::vector<double>& weight, F found) {
  const int L = al.nletter, R = al.nres;
  std::vector<double> prefix(std::size_t(R) + 1, 0.0);
  // The segments ending at end: the lowest value, first start on ties.
  auto add_segments_to = [&](Best& b, int end) {
    const double pe = prefix[end];
    double low = 0.0;
    int first = -1;
    for (int a = 0; a < end; ++a) {
      const double value = (pe - prefix[a]) * weight[end - a];
      if (value < low) {
        low = value;
        first = a;
      }
    }
    if (first >= 0) b.offer(low, first, end);
  };
  // The children of (i, j) are the cells whose move leads back to it.
  const int child_step[3][2] = {{1, 1}, {1, 2}, {3, 2}};
  std::vector<std::pair<int, Best>> stack;  // cell, best of its parent
  for (int root = 0; root < L * R; ++root) {
    if (root / R != 0 && root % R != 0) continue;
    stack.emplace_back(root, Best());
    while (!stack.empty()) {
      const int c = stack.back().first;
      Best b = stack.back().second;
      stack.pop_back();
      const int i = c / R, j = c % R;
      if (c == root) {
        std::fill(prefix.begin(), prefix.begin() + j + 1, 0.0);
      } else if (al.move[c] != 0) {
        prefix[j] = prefix[j - 1] + gap_penalty;
        add_segments_to(b, j);
      }
      prefix[j + 1] = prefix[j] + al.s[c];
      add_segments_to(b, j + 1);
      if (al.is_end(i, j)) found(c, b);
      for (int m = 0; m < 3; ++m) {
        const int ci = i + child_step[m][0], cj = j + child_step[m][1];
        if (ci < L && cj < R && al.move[al.at(ci, cj)] == m) stack.emplace_back(al.at(ci, cj), b);
      }
    }
  }
}

// Residue-type indices of a string's characters (-1 where none).
std::vector<signed char> types_of(const String& text) {
  const Type_table& type = type_of();
  std::vector<signed char> t(text.size());
  for (std::size_t p = 0; p < text.size(); ++p) t[p] = static_cast<signed char>(type(text[p]));
  return t;
}

// Similarity of two strings given by their type indices.
double similarity(const std::vector<signed char>& a, const std::vector<signed char>& b) {
  const std::size_t k = std::min(a.size(), b.size());
  int counted = 0, matches = 0;
  for (std::size_t p = 0; p < k; ++p) {
    const bool known = (a[p] & b[p]) >= 0;  // a sign bit clear: either index is not -1
    counted += known;
    matches += known && a[p] == b[p];
  }
  return counted > 0 ? double(matches) / double(counted) : 0.0;
}

}  // namespace

std::vector<String> Ca_sequence::sequence_align(const Matrix& scores, const String& sequence) {
  const Alignment al = align_tables(scores, sequence);
  std::vector<String> result;
  if (al.empty()) return result;
  const int R = al.nres;
  for (int i = 3; i < al.nletter; ++i)
    for (int j = 2; j < R; ++j)
      if (al.is_end(i, j)) {
        String text(R, '?');
        trace(al, i, j, text, 0, R);
        result.push_back(std::move(text));
      }
  return result;
}

Ca_sequence::Segment Ca_sequence::sequence_score(const Matrix& scores, const String& candidate) {
  const int n = int(scores.size());
  if (int(candidate.size()) != n)
    vantrel::fatal("Ca_sequence: sequence_score - candidate of " + String(int(candidate.size())) +
                   " characters for " + String(n) + " residues");
  const Type_table& type = type_of();
  std::vector<double> prefix(std::size_t(n) + 1, 0.0);
  for (int i = 0; i < n; ++i) {
    const char c = candidate[i];
    double v = 0.0;
    if (c == '+' || c == '-') {
      v = gap_penalty;
    } else if (type(c) >= 0) {
      if (int(scores[i].size()) <= type(c)) require_column(scores, type(c), "sequence_score");
      v = scores[i][type(c)];
    }
    prefix[i + 1] = prefix[i] + v;
  }
  const std::vector<double> weight = segment_weights(n);
  Segment best{0.0, 0, n};
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b <= n; ++b) {
      const double value = (prefix[b] - prefix[a]) * weight[b - a];
      if (value < best.score) best = Segment{value, a, b};
    }
  return best;
}

double Ca_sequence::sequence_similarity(const String& a, const String& b) {
  return similarity(types_of(a), types_of(b));
}

Score_list<String> Ca_sequence::sequence_match(const Matrix& scores,
                                               const MMoleculeSequence& sequences) {
  const int n = int(scores.size());
  const std::vector<double> weight = segment_weights(n);
  // Every alignment end with its best segment; the candidate strings are
  // written only when the ranking reaches them.
  struct End {
    double score;
    int record, cell, lo, hi;
  };
  std::vector<Alignment> alignments;
  std::vector<End> ends;
  for (int q = 0; q < sequences.size(); ++q) {
    alignments.push_back(align_tables(scores, sequences[q].sequence()));
    const Alignment& al = alignments.back();
    if (al.empty()) continue;
    best_segments(al, weight, [&](int cell, const Best& b) {
      // Everything outside the best segment becomes "?"; with no negative
      // segment the whole alignment string stays.
      if (b.first >= 0)
        ends.push_back(End{b.score, q, cell, b.first, b.last});
      else
        ends.push_back(End{0.0, q, cell, 0, n});
    });
  }
  std::sort(ends.begin(), ends.end(), [](const End& x, const End& y) { return x.score < y.score; });
  auto candidate = [&](const End& e) {
    const Alignment& al = alignments[e.record];
    String text(n, '?');
    trace(al, e.cell / al.nres, e.cell % al.nres, text, e.lo, e.hi);
    return text;
  };

  // Candidates in ascending order of score, equal scores by text. Kept
  // entries are compared through their type indices. In score order a full
  // list refuses every later pair, so the list never drops an entry here
  // and kept holds exactly its entries (in another order on ties).
  Score_list<String> list(candidate_capacity);
  std::vector<std::vector<signed char>> kept;
  for (std::size_t first = 0, last = 0; first < ends.size(); first = last) {
    if (list.size() >= list.capacity()) break;
    last = first + 1;
    while (last < ends.size() && ends[last].score == ends[first].score) ++last;
    std::vector<String> texts;
    for (std::size_t k = first; k < last; ++k) texts.push_back(candidate(ends[k]));
    std::sort(texts.begin(), texts.end());
    for (const String& text : texts) {
      if (list.size() >= list.capacity() && !(ends[first].score < list.score(list.size() - 1)))
        continue;
      const std::vector<signed char> types = types_of(text);
      bool similar = false;
      for (std::size_t e = 0; e < kept.size() && !similar; ++e)
        similar = similarity(kept[e], types) > similarity_cut;
      if (similar) continue;
      list.add(ends[first].score, text);
      kept.push_back(types);
    }
  }

  // The chain's own sequence competes too when it differs from the best
  // candidate at one of the candidate's assigned letters.
  if (sequences.size() > 0 && sequences[0].id() == "TEST" && list.size() > 0) {
    const String& own = sequences[0].sequence();
    const String& top = list[0];
    if (own.size() == top.size() && !own.empty()) {
      bool differs = false;
      for (std::size_t p = 0; p < top.size() && !differs; ++p)
        differs = top[p] >= 'A' && top[p] <= 'Z' && top[p] != own[p];
      if (differs) list.add(sequence_score(scores, own).score, own);
    }
  }
  return list;
}

std::vector<std::vector<double>> Ca_sequence::score_matrix_raw(
    const MPolymer& chain, const Xmap<float>& xmap,
    const std::vector<LLK_map_target::Sampled>& targets) {
  const int n = chain.size(), m = int(targets.size());
  // Targets made with one radius and sampling share their points: the map
  // is read once per residue for all of them.
  std::vector<bool> shared(std::size_t(m), false);
  for (int t = 0; t < m; ++t) shared[t] = targets[t].points() == targets[0].points();
  Matrix scores(std::size_t(n), std::vector<double>(std::size_t(m), 0.0));
  for (int r = 0; r < n; ++r) {
    const std::optional<Ca_group> group = Ca_group::from_monomer(chain[r]);
    if (!group) continue;
    const RTop_orth frame = group->rtop_beta_carbon();
    const std::vector<float> rho = m > 0 ? targets[0].density(xmap, frame) : std::vector<float>();
    for (int t = 0; t < m; ++t)
      scores[r][t] = shared[t] ? targets[t].score(rho) : targets[t].score(xmap, frame);
  }
  return scores;
}

void Ca_sequence::normalise_scores(Matrix& scores, const std::vector<bool>& trained) {
  const int n = int(scores.size());
  if (n == 0) return;
  const int m = int(scores[0].size());
  for (const auto& row : scores)
    if (int(row.size()) != m)
      vantrel::fatal("Ca_sequence: normalise_scores - score matrix rows of " + String(m) + " and " +
                     String(int(row.size())) + " columns");
  if (!trained.empty() && int(trained.size()) != m)
    vantrel::fatal("Ca_sequence: normalise_scores - " + String(int(trained.size())) +
                   " training flags for " + String(m) + " columns");
  auto in_use = [&](int t) { return trained.empty() || trained[t]; };
  int nused = 0;
  for (int t = 0; t < m; ++t) nused += in_use(t) ? 1 : 0;

  // Running mean of the row means, from the unsmoothed means.
  std::vector<double> prefix(std::size_t(n) + 1, 0.0);
  for (int r = 0; r < n; ++r) {
    double sum = 0.0;
    for (int t = 0; t < m; ++t)
      if (in_use(t)) sum += scores[r][t];
    prefix[r + 1] = prefix[r] + (nused > 0 ? sum / nused : 0.0);
  }
  std::vector<double> smooth(static_cast<std::size_t>(n));
  for (int r = 0; r < n; ++r) {
    const int lo = std::max(0, r - smooth_half_width);
    const int hi = std::min(n, r + smooth_half_width + 1);
    smooth[r] = (prefix[hi] - prefix[lo]) / (hi - lo);
  }
  for (int r = 0; r < n; ++r)
    for (int t = 0; t < m; ++t) scores[r][t] -= smooth[r];

  for (int t = 0; t < m; ++t) {
    double sum = 0.0, sumsq = 0.0;
    for (int r = 0; r < n; ++r) {
      sum += scores[r][t];
      sumsq += scores[r][t] * scores[r][t];
    }
    const double mean = sum / n;
    const double sd = std::sqrt(sumsq / n - mean * mean);
    // A spread below 1e-6 of the rms is rounding noise of the one-pass
    // variance (about 1e-8 for a constant column): no information. NaN
    // (non-finite entries, or a rounded negative variance) likewise.
    const bool flat = !(sd > 1.0e-6 * std::sqrt(sumsq / n)) || !std::isfinite(sd);
    for (int r = 0; r < n; ++r)
      scores[r][t] = (!in_use(t) || flat) ? 0.0 : (scores[r][t] - mean) / sd;
  }
}

Score_list<String> Ca_sequence::sequence_chain(const MPolymer& chain, const Xmap<float>& xmap,
                                               const std::vector<LLK_map_target::Sampled>& targets,
                                               const MMoleculeSequence& sequences) {
  Matrix scores = score_matrix_raw(chain, xmap, targets);
  std::vector<bool> trained(targets.size());
  for (std::size_t t = 0; t < targets.size(); ++t) trained[t] = targets[t].trained();
  normalise_scores(scores, trained);
  return sequence_match(scores, sequences);
}

double Ca_sequence::phi_approx(double z) {
  // 2.54647908947 and 1.2533141373 stand for 8/pi and sqrt(pi/2); these
  // decimal values are the approximation's own.
  const double e = std::exp(z * (z * -0.5));
  const double s = std::sqrt(z * z + 2.54647908947);
  if (z < 0.0) return e / ((s - z) * 1.2533141373);
  return 1.0 + e / ((z + s) * -1.2533141373);
}
