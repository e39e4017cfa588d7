#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <vector>

#include "foundation/util.h"
#include "model/ramachandran.h"
#include "model/ramachandran_tables.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

const double kTwoPi = Util::twopi();
const double kDeg = Util::d2rad_;

struct Table_features {
  const char* name;
  const float* table;
  double total;
  int nonzero, largest_row, largest_column;
  double largest;
  std::vector<int> zero_rows;
  std::vector<double> row30;
};

// clang-format off
const Table_features kFeatures[3] = {
    {"ngp", data::rama_ngp, 889557, 712, 30, 32, 86255, {},
     {188, 23, 3, 0, 5, 3, 0, 2, 15, 23, 40, 295, 1803, 5781, 7356, 4257, 1641, 351,
      28, 4, 0, 0, 0, 0, 6, 5, 2, 3, 14, 74, 2655, 49493, 86255, 29323, 10531, 2193}},
    {"pro", data::rama_pro, 60629, 205, 30, 33, 4269,
     {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 35},
     {62, 9, 2, 5, 4, 3, 8, 0, 0, 9, 36, 37, 404, 1893, 3871, 3571, 1491, 290,
      38, 11, 0, 0, 0, 0, 0, 0, 0, 4, 2, 14, 48, 615, 2889, 4269, 2608, 601}},
    {"gly", data::rama_gly, 107034, 858, 30, 32, 4535, {35},
     {36, 3, 7, 1, 0, 1, 0, 0, 0, 0, 1, 5, 48, 158, 339, 299, 137, 111,
      57, 29, 2, 1, 0, 0, 0, 0, 0, 0, 0, 11, 179, 2348, 4535, 1658, 748, 240}},
};
// clang-format on

double grid_sum(const Prob_phi_2d& p) {
  double s = 0.0;
  for (int k = 0; k < p.size() * p.size(); ++k) s += p[k];
  return s;
}

}  // namespace

TEST(RamachandranTables, StatedFeatures) {
  ASSERT_EQ(data::rama_data_size, 36);
  for (const Table_features& f : kFeatures) {
    SCOPED_TRACE(f.name);
    double total = 0.0;
    int nonzero = 0, larger = 0;
    for (int k = 0; k < 36 * 36; ++k) {
      const float v = f.table[k];
      EXPECT_TRUE(v >= 0.0f && v == std::floor(v)) << k;  // whole counts
      total += v;
      nonzero += v != 0.0f;
      if (k != f.largest_row * 36 + f.largest_column && v >= f.largest) ++larger;
    }
    EXPECT_EQ(total, f.total);
    EXPECT_EQ(nonzero, f.nonzero);
    EXPECT_EQ(f.table[f.largest_row * 36 + f.largest_column], f.largest);
    EXPECT_EQ(larger, 0);
    for (int j = 0; j < 36; ++j) EXPECT_EQ(f.table[30 * 36 + j], f.row30[j]) << j;
    for (int i = 0; i < 36; ++i) {
      const bool zero =
          std::all_of(f.table + 36 * i, f.table + 36 * (i + 1), [](float v) { return v == 0.0f; });
      const bool want = std::count(f.zero_rows.begin(), f.zero_rows.end(), i) > 0;
      EXPECT_EQ(zero, want) << "row " << i;
    }
  }
  // Glycine's second cluster, phi 60 to 100 degrees: a local peak well above
  // the rows on either side.
  auto row_max = [](int lo, int hi) {
    return *std::max_element(data::rama_gly + 36 * lo, data::rama_gly + 36 * (hi + 1));
  };
  EXPECT_GT(row_max(6, 10), 4 * row_max(0, 3));
  EXPECT_GT(row_max(6, 10), 4 * row_max(13, 20));
}

TEST(ProbPhi2d, SpreadingWrapAroundAndNormalisation) {
  Prob_phi_2d p;
  p.init(36);
  p.accumulate(0.0, 0.0, 1.0);
  EXPECT_EQ(p[0], 1.0);
  EXPECT_EQ(grid_sum(p), 1.0);
  p.init(36);
  p.accumulate(5 * kDeg, 0.0, 1.0);
  EXPECT_NEAR(p[0], 0.5, 1e-15);
  EXPECT_NEAR(p[36], 0.5, 1e-15);
  EXPECT_NEAR(grid_sum(p), 1.0, 1e-15);
  // Just below 2 pi in phi: rows 35 and 0; psi = -1 degree: columns 35 and 0.
  p.init(36);
  p.accumulate(kTwoPi - 2.5 * kDeg, -1 * kDeg, 2.0);
  EXPECT_NEAR(p[35 * 36 + 35], 2.0 * 0.25 * 0.1, 1e-13);
  EXPECT_NEAR(p[35 * 36 + 0], 2.0 * 0.25 * 0.9, 1e-13);
  EXPECT_NEAR(p[0 * 36 + 35], 2.0 * 0.75 * 0.1, 1e-13);
  EXPECT_NEAR(p[0], 2.0 * 0.75 * 0.9, 1e-13);
  // Missing angles add nothing and read as missing.
  p.accumulate(Util::nan(), 1.0);
  p.accumulate(1.0, INFINITY);
  EXPECT_NEAR(grid_sum(p), 2.0, 1e-13);
  EXPECT_TRUE(std::isnan(p.probability(Util::nan(), 0.0)));

  const Ramachandran all(Ramachandran::ALL_RESIDUES);
  for (const double phi : {-3.0, -1.1, 0.2, 2.9})
    for (const double psi : {-2.5, -0.7, 1.3, 3.1}) {
      const double v = all.probability(phi, psi);
      EXPECT_NEAR(all.probability(phi + kTwoPi, psi - kTwoPi), v, 1e-12 * v);
      EXPECT_NEAR(all.probability(phi - 2 * kTwoPi, psi), v, 1e-12 * v);
      EXPECT_NEAR(all.probability(phi + 1000 * kTwoPi, psi - 77 * kTwoPi), v, 1e-9 * v);
    }
  // Huge but finite angles stay on the grid.
  EXPECT_FALSE(std::isnan(all.probability(1e300, -1e300)));
  // A grid value is returned exactly at a grid point.
  EXPECT_EQ(all.probability(0.0, 0.0), all[0]);
  EXPECT_NEAR(grid_sum(all) * (kTwoPi / 36) * (kTwoPi / 36), 1.0, 1e-12);
  // The integral of the interpolated density, by the midpoint rule on a grid
  // finer than the table's, is 1 too.
  double integral = 0.0;
  const int m = 360;
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j)
      integral += all.probability((i + 0.5) * kTwoPi / m, (j + 0.5) * kTwoPi / m);
  EXPECT_NEAR(integral * (kTwoPi / m) * (kTwoPi / m), 1.0, 1e-9);

  // An all-zero grid has nothing to normalise and stays zero, never NaN.
  Prob_phi_2d zero;
  zero.init(4);
  zero.normalise();
  for (int k = 0; k < 16; ++k) EXPECT_EQ(zero[k], 0.0);
}

TEST(ProbPhi2d, FormatAndMisuse) {
  Prob_phi_2d one;
  one.init(1);
  const float value = 3.6f;
  one.accumulate(&value);
  EXPECT_EQ(one.format(), "\n     4,// 0");
  Prob_phi_2d grid;
  grid.init(36);
  grid.accumulate(data::rama_pro);
  const String text = grid.format();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 108);
  EXPECT_NE(
      text.find(
          "\n     0,    0,    0,    4,    2,   14,   48,  615, 2889, 4269, 2608,  601,//30\n"),
      std::string::npos);
  EXPECT_EQ(vantrel_testing::fatal_text([] { Prob_phi_2d().probability(0, 0); }),
            "Prob_phi_2d: the grid has no size (init was not called)");
  EXPECT_EQ(vantrel_testing::fatal_text([] { Prob_phi_2d().init(-2); }),
            "Prob_phi_2d: negative grid size -2");
}

TEST(Ramachandran, ResidueClassesAndThresholds) {
  const Ramachandran gly(Ramachandran::GLYCINE), pro(Ramachandran::PROLINE),
      ngp(Ramachandran::NON_GLY_PRO), nongly(Ramachandran::NON_GLYCINE),
      all(Ramachandran::ALL_RESIDUES), seven(static_cast<Ramachandran::TYPE>(7));
  for (const double psi : {-3.0, -0.5, 0.0, 1.7, 3.0}) {
    for (int deg = 0; deg <= 230; deg += 5) EXPECT_EQ(pro.probability(deg * kDeg, psi), 0.0) << deg;
    for (const double deg : {350.0, 355.0, 359.9}) EXPECT_EQ(pro.probability(deg * kDeg, psi), 0.0);
  }
  double sum_all = 0.0, sum_nongly = 0.0;
  for (int k = 0; k < 1296; ++k) {
    sum_all += data::rama_gly[k] + data::rama_pro[k] + data::rama_ngp[k];
    sum_nongly += data::rama_pro[k] + data::rama_ngp[k];
  }
  const double scale_all = 1296.0 / (kTwoPi * kTwoPi * sum_all);
  const double scale_nongly = 1296.0 / (kTwoPi * kTwoPi * sum_nongly);
  for (int k = 0; k < 1296; k += 7) {
    const double counts = data::rama_gly[k] + data::rama_pro[k] + data::rama_ngp[k];
    EXPECT_NEAR(all[k], counts * scale_all, 1e-15 + 1e-14 * all[k]) << k;
    EXPECT_NEAR(nongly[k], (data::rama_pro[k] + data::rama_ngp[k]) * scale_nongly,
                1e-15 + 1e-14 * nongly[k]);
    EXPECT_NEAR(ngp[k], data::rama_ngp[k] * 1296.0 / (kTwoPi * kTwoPi * 889557),
                1e-15 + 1e-14 * ngp[k]);
    EXPECT_NEAR(gly[k], data::rama_gly[k] * 1296.0 / (kTwoPi * kTwoPi * 107034),
                1e-15 + 1e-14 * gly[k]);
    EXPECT_EQ(seven[k], all[k]);
  }
  EXPECT_EQ(all.threshold_1(), 0.01);
  EXPECT_EQ(all.threshold_2(), 0.0005);
  Ramachandran r(Ramachandran::GLYCINE);
  r.set_thresholds(0.2, 0.1);
  EXPECT_EQ(r.threshold_2(), 0.1);
  r.init(Ramachandran::PROLINE);
  EXPECT_EQ(r.threshold_1(), 0.01);
  EXPECT_EQ(r.threshold_2(), 0.0005);
  EXPECT_EQ(r[30 * 36 + 33], pro[30 * 36 + 33]);
}

// Torsions of three real models computed by gemmi (tools/make_ramachandran_fixtures.py).
TEST(Ramachandran, RealModelsMostlyAllowed) {
  std::ifstream in = vantrel_testing::open_fixture("rama_phi_psi.txt");
  const Ramachandran gly(Ramachandran::GLYCINE), pro(Ramachandran::PROLINE),
      other(Ramachandran::NON_GLY_PRO), all(Ramachandran::ALL_RESIDUES);
  std::string line;
  int residues = 0, allowed_own = 0, allowed_all = 0, favoured = 0;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string file, chain, name;
    int number;
    double phi, psi;
    ASSERT_TRUE(s >> file >> chain >> number >> name >> phi >> psi) << line;
    const Ramachandran& own = name == "GLY" ? gly : (name == "PRO" ? pro : other);
    allowed_own += own.probability(phi, psi) > own.threshold_2();
    allowed_all += all.probability(phi, psi) > all.threshold_2();
    favoured += own.probability(phi, psi) > own.threshold_1();
    ++residues;
  }
  EXPECT_EQ(residues, 506);
  EXPECT_GT(allowed_own, 0.97 * residues);
  EXPECT_GT(allowed_all, 0.97 * residues);
  EXPECT_GT(favoured, 0.8 * residues);
}
