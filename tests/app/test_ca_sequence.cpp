// Sequence scoring and alignment against brute-force oracles on random
// score tables; ranked lists; normalisation of the score matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <random>

#include "app/ca_sequence.h"
#include "app/protein_tools.h"
#include "support/testing.h"

using vantrel::String;
using Matrix = std::vector<std::vector<double>>;

namespace {

const String codes = "ARNDCQEGHILKMFPSTWYV";

// Random n x 20 table; integer values make ties frequent, otherwise normal.
Matrix random_matrix(std::mt19937& rng, int n, bool integers) {
  std::uniform_int_distribution<int> small(-3, 3);
  std::normal_distribution<double> normal(0.0, 1.0);
  Matrix m(n, std::vector<double>(20));
  for (auto& row : m)
    for (double& x : row) x = integers ? small(rng) : normal(rng);
  return m;
}

String random_sequence(std::mt19937& rng, int length, const String& alphabet) {
  std::uniform_int_distribution<int> pick(0, int(alphabet.size()) - 1);
  String s;
  for (int i = 0; i < length; ++i) s += alphabet[pick(rng)];
  return s;
}

// The alignment recurrences evaluated top-down, cell by cell, with the used
// marks and tracebacks taken from the moves they choose.
std::vector<String> align_oracle(const Matrix& m, const String& seq) {
  const int L = int(seq.size()), R = int(m.size());
  std::vector<String> out;
  if (L < 3 || R < 3) return out;
  auto s = [&](int i, int j) {
    return m[j][ProteinTools::residue_index(String(1, seq[i]), true)];
  };
  std::map<std::pair<int, int>, std::pair<double, int>> memo;  // (T, move)
  std::function<std::pair<double, int>(int, int)> cell = [&](int i, int j) {
    auto it = memo.find({i, j});
    if (it != memo.end()) return it->second;
    std::pair<double, int> r;
    if (i == 0 || j == 0)
      r = {s(i, j), 0};
    else if (i <= 2 || j == 1)
      r = {cell(i - 1, j - 1).first + s(i, j), 0};
    else {
      const double d[3] = {cell(i - 1, j - 1).first + s(i, j),
                           cell(i - 1, j - 2).first + s(i, j) + 3.0,
                           cell(i - 3, j - 2).first + s(i, j) + 3.0};
      int best = 0;  // first of the minima
      for (int k = 1; k < 3; ++k)
        if (d[k] < d[best]) best = k;
      r = {d[best], best};
    }
    return memo[{i, j}] = r;
  };
  std::set<std::pair<int, int>> used;
  for (int i = 3; i < L; ++i)
    for (int j = 2; j < R; ++j) {
      const int mv = cell(i, j).second;
      used.insert(mv == 0 ? std::make_pair(i - 1, j - 1)
                          : mv == 1 ? std::make_pair(i - 1, j - 2) : std::make_pair(i - 3, j - 2));
    }
  for (int i = 3; i < L; ++i)
    for (int j = 2; j < R; ++j) {
      if (used.count({i, j})) continue;
      String text(R, '?');
      for (int a = i, b = j; a >= 0 && b >= 0;) {
        text[b] = seq[a];
        const int mv = cell(a, b).second;
        if (mv) text[b - 1] = mv == 1 ? '+' : '-';
        a -= mv == 2 ? 3 : 1;
        b -= mv == 0 ? 1 : 2;
      }
      out.push_back(text);
    }
  return out;
}

// The best segment by direct sums over every segment (exact for integer
// scores); the first minimum in (first, last) order wins.
Ca_sequence::Segment score_oracle(const Matrix& m, const String& cand) {
  const int n = int(m.size());
  Ca_sequence::Segment best{0.0, 0, n};
  for (int a = 0; a < n; ++a)
    for (int b = a + 1; b <= n; ++b) {
      double sum = 0.0;
      for (int k = a; k < b; ++k) {
        const int t = ProteinTools::residue_index(String(1, cand[k]), true);
        sum += cand[k] == '+' || cand[k] == '-' ? 3.0 : t >= 0 ? m[k][t] : 0.0;
      }
      const double value = sum * (1.0 / std::pow(1.0 + std::pow((b - a) / 50.0, 2), 0.25));
      if (value < best.score) best = {value, a, b};
    }
  return best;
}

double similarity_oracle(const String& x, const String& y) {
  int counted = 0, matches = 0;
  for (std::size_t p = 0; p < std::min(x.size(), y.size()); ++p) {
    const int tx = ProteinTools::residue_index(String(1, x[p]), true);
    const int ty = ProteinTools::residue_index(String(1, y[p]), true);
    if (tx < 0 && ty < 0) continue;
    ++counted;
    matches += tx == ty;
  }
  return counted ? double(matches) / counted : 0.0;
}

// The candidate ranking assembled from the public steps: every alignment
// string scored on its own, masked, sorted and filtered.
Score_list<String> match_oracle(const Matrix& m, const vantrel::MMoleculeSequence& seqs) {
  const int n = int(m.size());
  std::vector<std::pair<double, String>> all;
  for (int q = 0; q < seqs.size(); ++q)
    for (const String& a : Ca_sequence::sequence_align(m, seqs[q].sequence())) {
      const Ca_sequence::Segment seg = Ca_sequence::sequence_score(m, a);
      String cand(n, '?');
      for (int k = seg.first; k < seg.last; ++k) cand[k] = a[k];
      all.emplace_back(seg.score, cand);
    }
  std::sort(all.begin(), all.end());
  Score_list<String> list(50);
  for (const auto& p : all) {
    if (list.size() >= 50 && !(p.first < list.score(49))) continue;
    bool similar = false;
    for (int e = 0; e < list.size(); ++e)
      similar = similar || similarity_oracle(list[e], p.second) > 0.25;
    if (!similar) list.add(p.first, p.second);
  }
  if (seqs.size() > 0 && seqs[0].id() == "TEST" && list.size() > 0) {
    const String& g = seqs[0].sequence();
    bool differs = false;
    for (std::size_t k = 0; k < g.size() && g.size() == list[0].size(); ++k)
      differs = differs || (isupper(list[0][k]) && list[0][k] != g[k]);
    if (differs) list.add(Ca_sequence::sequence_score(m, g).score, g);
  }
  return list;
}

vantrel::MMoleculeSequence records(const std::vector<std::pair<String, String>>& items) {
  vantrel::MMoleculeSequence seqs;
  for (const auto& item : items) {
    vantrel::MPolymerSequence s;
    s.set_id(item.first);
    s.set_sequence(item.second);
    seqs.insert(s, -1);
  }
  return seqs;
}

}  // namespace

TEST(CaSequence, AlignmentEqualsTheRecurrencesOnRandomTables) {
  std::mt19937 rng(11);
  int strings = 0, cases = 0;
  for (int trial = 0; trial < 400; ++trial) {
    const int R = 1 + trial % 11, L = 1 + (trial / 11) % 9;
    const Matrix m = random_matrix(rng, R, trial % 2 == 0);
    const String seq = random_sequence(rng, L, trial % 3 ? String("ARND") : codes);
    const std::vector<String> got = Ca_sequence::sequence_align(m, seq);
    ASSERT_EQ(got, align_oracle(m, seq)) << seq << " on " << R << " residues";
    strings += int(got.size());
    cases += got.empty() ? 0 : 1;
  }
  EXPECT_GT(cases, 200);
  EXPECT_GT(strings, 2000);
}

TEST(CaSequence, AlignmentPinnedCases) {
  // One interior cell (3, 2): unmarked, traced from letter 3 at residue 2.
  const Matrix zeros(3, std::vector<double>(20, 0.0));
  EXPECT_EQ(Ca_sequence::sequence_align(zeros, "ARND"), std::vector<String>{"RND"});
  EXPECT_TRUE(Ca_sequence::sequence_align(zeros, "ARN").empty());
  EXPECT_TRUE(Ca_sequence::sequence_align(Matrix(2, std::vector<double>(20)), "ARNDC").empty());
  // Letters without a residue type are dropped before aligning.
  std::mt19937 rng(5);
  for (int trial = 0; trial < 50; ++trial) {
    const Matrix m = random_matrix(rng, 9, true);
    const String clean = random_sequence(rng, 8, codes);
    String dirty;
    for (const char c : clean) dirty += String("x*? -") + c + (trial % 2 ? "1" : "");
    EXPECT_EQ(Ca_sequence::sequence_align(m, dirty), Ca_sequence::sequence_align(m, clean));
  }
}

TEST(CaSequence, SegmentScoreEqualsDirectSums) {
  std::mt19937 rng(3);
  int negative = 0;
  const String alphabet = codes + "??+-x";
  for (int trial = 0; trial < 300; ++trial) {
    const int n = 1 + trial % 40;
    const Matrix m = random_matrix(rng, n, true);
    const String cand = random_sequence(rng, n, alphabet);
    const Ca_sequence::Segment got = Ca_sequence::sequence_score(m, cand);
    const Ca_sequence::Segment want = score_oracle(m, cand);
    ASSERT_EQ(got.score, want.score) << cand;
    ASSERT_EQ(got.first, want.first) << cand;
    ASSERT_EQ(got.last, want.last) << cand;
    negative += got.score < 0.0 ? 1 : 0;
  }
  EXPECT_GT(negative, 150);
  // No negative segment: (0, 0, n).
  const Matrix ones(4, std::vector<double>(20, 1.0));
  for (const String cand : {"????", "AR+-"}) {
    const Ca_sequence::Segment s = Ca_sequence::sequence_score(ones, cand);
    EXPECT_EQ(s.score, 0.0);
    EXPECT_EQ(s.first, 0);
    EXPECT_EQ(s.last, 4);
  }
  // Length weights: a single residue of score -1 in chains of 1, 50 and 100
  // residues of -1 each.
  const double weights[][2] = {{1, 0.99990002}, {50, 0.84089642}, {100, 0.66874030}};
  for (const auto& w : weights) {
    const int n = int(w[0]);
    const Matrix minus(n, std::vector<double>(20, -1.0));
    EXPECT_NEAR(Ca_sequence::sequence_score(minus, String(n, 'A')).score, -n * w[1], 1e-7 * n);
  }
  // Inputs of the wrong shape are refused.
  EXPECT_EQ(vantrel_testing::fatal_text([&] { Ca_sequence::sequence_score(ones, "AAA"); }),
            "Ca_sequence: sequence_score - candidate of 3 characters for 4 residues");
  const Matrix narrow(4, std::vector<double>(5, 0.0));
  EXPECT_EQ(vantrel_testing::fatal_text([&] { Ca_sequence::sequence_align(narrow, "ARNDQ"); }),
            "Ca_sequence: sequence_align - score matrix row 0 has 5 columns, no column for "
            "residue type 5");
  Matrix ragged = ones;
  ragged[2].pop_back();
  EXPECT_EQ(vantrel_testing::fatal_text([&] { Ca_sequence::normalise_scores(ragged, {}); }),
            "Ca_sequence: normalise_scores - score matrix rows of 20 and 19 columns");
}

TEST(CaSequence, FastMatchEqualsScoringEveryAlignment) {
  std::mt19937 rng(17);
  int kept = 0, own_added = 0;
  for (int trial = 0; trial < 120; ++trial) {
    const int n = 3 + trial % 37;
    const Matrix m = random_matrix(rng, n, trial % 3 == 0);
    const String own = random_sequence(rng, n, trial % 2 ? codes : String("GASV"));
    const vantrel::MMoleculeSequence seqs =
        records({{trial % 4 ? "TEST" : "other", own},
                 {"extra", random_sequence(rng, 3 + trial % 23, codes)}});
    const Score_list<String> got = Ca_sequence::sequence_match(m, seqs);
    const Score_list<String> want = match_oracle(m, seqs);
    ASSERT_EQ(got.size(), want.size()) << trial;
    for (int e = 0; e < got.size(); ++e) {
      ASSERT_EQ(got[e], want[e]) << trial << " entry " << e;
      ASSERT_EQ(got.score(e), want.score(e)) << trial << " entry " << e;
      own_added += got[e] == own ? 1 : 0;
    }
    kept += got.size();
  }
  EXPECT_GT(kept, 300);
  EXPECT_GT(own_added, 5);
  // An empty sequence set gives an empty list.
  EXPECT_EQ(Ca_sequence::sequence_match(random_matrix(rng, 6, false), records({})).size(), 0);
}

TEST(CaSequence, ScoreListOrderAndCapacity) {
  Score_list<String> list(3);
  list.add(2.0, "b");
  list.add(1.0, "a");
  list.add(2.0, "c");  // before the equal score already there
  EXPECT_EQ(list.size(), 3);
  EXPECT_EQ(list[0] + list[1] + list[2], "acb");
  list.add(2.0, "d");  // full, not below the last: refused
  EXPECT_EQ(list[2], "b");
  list.add(1.5, "e");  // drops the last
  EXPECT_EQ(list[0] + list[1] + list[2], "aec");
  EXPECT_EQ(list.score(1), 1.5);
}

TEST(CaSequence, Similarity) {
  // Only positions known on at least one side count.
  const std::pair<const char*, const char*> cases[] = {
      {"A?C", "A?D"}, {"???", "AXC"}, {"", ""},         {"AC", "ACDE"},
      {"A+-M", "A??M"}, {"AC", "A?"},  {"?GAW", "SG?W"}, {"x-MK", "?AMK"}};
  const double want[] = {0.5, 0.0, 0.0, 1.0, 1.0, 0.5, 0.5, 2.0 / 3.0};
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(Ca_sequence::sequence_similarity(cases[k].first, cases[k].second), want[k])
        << cases[k].first;
}

TEST(CaSequence, NormalisationSmoothsAndStandardises) {
  // Running mean: residue 0 averages rows 0-5, residue 7 of 10 rows 2-9.
  Matrix m(10, std::vector<double>(2));
  for (int r = 0; r < 10; ++r) {
    m[r][0] = r * r;
    m[r][1] = -r;
  }
  Matrix got = m;
  Ca_sequence::normalise_scores(got, {});
  std::vector<double> mean(10), smooth(10);
  for (int r = 0; r < 10; ++r) mean[r] = (m[r][0] + m[r][1]) / 2;
  for (int r = 0; r < 10; ++r) {
    const int lo = std::max(0, r - 5), hi = std::min(10, r + 6);
    for (int k = lo; k < hi; ++k) smooth[r] += mean[k] / (hi - lo);
  }
  for (int t = 0; t < 2; ++t) {
    double s = 0, ss = 0;
    for (int r = 0; r < 10; ++r) s += m[r][t] - smooth[r], ss += std::pow(m[r][t] - smooth[r], 2);
    const double mu = s / 10, sd = std::sqrt(ss / 10 - mu * mu);
    for (int r = 0; r < 10; ++r) EXPECT_NEAR(got[r][t], (m[r][t] - smooth[r] - mu) / sd, 1e-12);
  }
}

TEST(CaSequence, FlatNanAndUntrainedColumnsBecomeZero) {
  std::mt19937 rng(2);
  Matrix m = random_matrix(rng, 12, false);
  for (auto& row : m) {
    row[3] = 0.0;           // an untrained target's raw scores
    row[5] = std::nan("");  // a poisoned column
  }
  // Column 3 flagged untrained, column 5 NaN: both exactly 0, and neither
  // enters the row means, so the other columns equal those of the matrix
  // without them.
  Matrix got = m;
  std::vector<bool> trained(20, true);
  trained[3] = trained[5] = false;
  Ca_sequence::normalise_scores(got, trained);
  Matrix reduced;
  for (const auto& row : m) {
    std::vector<double> r;
    for (int t = 0; t < 20; ++t)
      if (t != 3 && t != 5) r.push_back(row[t]);
    reduced.push_back(r);
  }
  Ca_sequence::normalise_scores(reduced, {});
  for (int r = 0; r < 12; ++r) {
    EXPECT_EQ(got[r][3], 0.0);
    EXPECT_EQ(got[r][5], 0.0);
    for (int t = 0, k = 0; t < 20; ++t) {
      if (t == 3 || t == 5) continue;
      EXPECT_EQ(got[r][t], reduced[r][k++]);
    }
  }
  // Identical rows: every column is constant up to the rounding of the
  // running mean, and carries no information.
  Matrix flat(8, std::vector<double>(20));
  for (auto& row : flat)
    for (int t = 0; t < 20; ++t) row[t] = 0.1 * t + 0.3;
  Ca_sequence::normalise_scores(flat, {});
  int zeros = 0;
  for (const auto& row : flat)
    for (const double x : row) zeros += x == 0.0 ? 1 : 0;
  EXPECT_EQ(zeros, 160);
}

TEST(CaSequence, PhiApproxPins) {
  EXPECT_EQ(Ca_sequence::phi_approx(0.0), 0.4999999999937843);
  EXPECT_LT(Ca_sequence::phi_approx(1.66726), 0.95);
  EXPECT_GE(Ca_sequence::phi_approx(1.66727), 0.95);
  EXPECT_LE(Ca_sequence::phi_approx(3.09761), 0.999);
  EXPECT_GT(Ca_sequence::phi_approx(3.09762), 0.999);
  EXPECT_NEAR(Ca_sequence::phi_approx(1.66726), 0.94999965, 5e-9);
  EXPECT_NEAR(Ca_sequence::phi_approx(3.09762), 0.99900002, 5e-9);
  EXPECT_EQ(Ca_sequence::phi_approx(60.0), 1.0);
  EXPECT_EQ(Ca_sequence::phi_approx(-60.0), 0.0);
  // Symmetric, and within 0.02 of the exact normal distribution function.
  for (double z = -4.0; z <= 4.0; z += 0.25) {
    EXPECT_NEAR(Ca_sequence::phi_approx(z) + Ca_sequence::phi_approx(-z), 1.0, 2e-11) << z;
    EXPECT_NEAR(Ca_sequence::phi_approx(z), 0.5 * std::erfc(-z / std::sqrt(2.0)), 0.02) << z;
  }
}
