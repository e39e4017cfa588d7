#include <numeric>

#include "model/ramachandran.h"
#include "model/ramachandran_tables.h"
#include "model_testing.h"

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
    int nonzero = 0;
    for (int k = 0; k < 36 * 36; ++k) {
      const float v = f.table[k];
      EXPECT_TRUE(v >= 0.0f && v == std::floor(v)) << k;  // whole counts
      total += v;
      nonzero += v != 0.0f;
    }
    EXPECT_EQ(total, f.total);
    EXPECT_EQ(nonzero, f.nonzero);
    const float* largest = std::max_element(f.table, f.table + 36 * 36);  // the first, and alone
    EXPECT_EQ(largest - f.table, f.largest_row * 36 + f.largest_column);
    EXPECT_EQ(*largest, f.largest);
    EXPECT_EQ(std::count(f.table, f.table + 36 * 36, *largest), 1);
    EXPECT_EQ(std::vector<double>(f.table + 30 * 36, f.table + 31 * 36), f.row30);
    std::vector<int> zero_rows;
    for (int i = 0; i < 36; ++i)
      if (std::all_of(f.table + 36 * i, f.table + 36 * (i + 1), [](float v) { return v == 0; }))
        zero_rows.push_back(i);
    EXPECT_EQ(zero_rows, f.zero_rows);
  }
}

TEST(ProbPhi2d, SpreadingWrapAroundAndNormalisation) {
  // (phi, psi) in degrees; the cells that share a weight of 2, and the tolerance.
  struct Spread {
    double phi, psi;
    std::map<int, double> shares;
    double tolerance;
  };
  for (const Spread& c :
       {Spread{0, 0, {{0, 1.0}}, 0.0}, Spread{5, 0, {{0, 0.5}, {36, 0.5}}, 2e-15},
        // Just below 360 in phi: rows 35 and 0; psi = -1: columns 35 and 0.
        Spread{357.5, -1, {{1295, 0.025}, {1260, 0.225}, {35, 0.075}, {0, 0.675}}, 1e-13}}) {
    Prob_phi_2d p;
    p.init(36);
    p.accumulate(c.phi * kDeg, c.psi * kDeg, 2.0);
    p.accumulate(Util::nan(), 1.0);  // missing angles add nothing
    p.accumulate(1.0, INFINITY);
    for (const auto& [k, share] : c.shares) EXPECT_NEAR(p[k], 2.0 * share, c.tolerance) << k;
    EXPECT_NEAR(grid_sum(p), 2.0, c.tolerance);
    EXPECT_TRUE(std::isnan(p.probability(Util::nan(), 0.0)));
  }

  const Ramachandran all(Ramachandran::ALL_RESIDUES);
  for (const double phi : {-3.0, -1.1, 0.2, 2.9})
    for (const double psi : {-2.5, -0.7, 1.3, 3.1}) {
      const double v = all.probability(phi, psi);
      EXPECT_NEAR(all.probability(phi + kTwoPi, psi - kTwoPi), v, 1e-12 * v);
      EXPECT_NEAR(all.probability(phi - 2 * kTwoPi, psi), v, 1e-12 * v);
      EXPECT_NEAR(all.probability(phi + 1000 * kTwoPi, psi - 77 * kTwoPi), v, 1e-9 * v);
    }
  EXPECT_FALSE(std::isnan(all.probability(1e300, -1e300)));  // huge angles stay on the grid
  EXPECT_EQ(all.probability(0.0, 0.0), all[0]);              // exact at a grid point
  // The bilinear density integrates to the grid sum times the cell area.
  EXPECT_NEAR(grid_sum(all) * (kTwoPi / 36) * (kTwoPi / 36), 1.0, 1e-12);
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
  EXPECT_EQ(vantrel_testing::fatal_text([] { Prob_phi_2d().probability(0, 0); }),
            "Prob_phi_2d: the grid has no size (init was not called)");
  EXPECT_EQ(vantrel_testing::fatal_text([] { Prob_phi_2d().init(-2); }),
            "Prob_phi_2d: negative grid size -2");
}

TEST(Ramachandran, ResidueClassesAndThresholds) {
  const Ramachandran pro(Ramachandran::PROLINE), all(Ramachandran::ALL_RESIDUES);
  for (const double psi : {-3.0, -0.5, 0.0, 1.7, 3.0}) {  // proline's empty rows
    for (int deg = 0; deg <= 230; deg += 5) EXPECT_EQ(pro.probability(deg * kDeg, psi), 0.0) << deg;
    for (const double deg : {350.0, 355.0, 359.9}) EXPECT_EQ(pro.probability(deg * kDeg, psi), 0.0);
  }
  // Each class is the normalised sum of its count tables; any other type is all residues.
  using R = Ramachandran;
  const float *gly = data::rama_gly, *pro_counts = data::rama_pro, *ngp = data::rama_ngp;
  const std::vector<std::pair<R::TYPE, std::vector<const float*>>> classes = {
      {R::GLYCINE, {gly}},
      {R::PROLINE, {pro_counts}},
      {R::NON_GLY_PRO, {ngp}},
      {R::NON_GLYCINE, {pro_counts, ngp}},
      {R::ALL_RESIDUES, {gly, pro_counts, ngp}},
      {R::TYPE(7), {gly, pro_counts, ngp}}};
  for (const auto& [type, tables] : classes) {
    const Ramachandran r(type);
    std::vector<double> counts(1296, 0.0);
    for (const float* t : tables)
      for (int k = 0; k < 1296; ++k) counts[k] += t[k];
    const double scale =
        1296.0 / (kTwoPi * kTwoPi * std::accumulate(counts.begin(), counts.end(), 0.0));
    for (int k = 0; k < 1296; ++k) {
      EXPECT_NEAR(r[k], counts[k] * scale, 1e-15 + 1e-14 * r[k]) << type << " " << k;
      if (type == R::TYPE(7)) {
        EXPECT_EQ(r[k], all[k]);
      }
    }
  }
  EXPECT_TRUE(pro.threshold_1() == 0.01 && pro.threshold_2() == 0.0005);
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
