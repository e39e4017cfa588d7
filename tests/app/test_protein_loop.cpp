// Main-chain frames, ideal chain extension and peptide units; loop
// rebuilding: circle-sphere points, CB and O placement, and closures of gaps
// cut from real chains (tests/data/loop_sites.txt, by gemmi).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "app/main_chain.h"
#include "app/protein_loop.h"
#include "support/testing.h"

using vantrel::Coord_orth;
using vantrel::Mat33;
using vantrel::Ramachandran;
using vantrel::RTop_orth;
using vantrel::Vec3;

namespace {

const double pi = 3.141592653589793;

void expect_near(const Coord_orth& a, const Coord_orth& b, double tol) {
  EXPECT_LT(Coord_orth::length(a, b), tol) << a.format() << " vs " << b.format();
}

void expect_each_near(const Vec3<double>& a, const Vec3<double>& b, double tol) {
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[k], b[k], tol) << k;
}

// A residue with ideal N-CA 1.47, CA-C 1.53 and N-CA-C 1.92 rad, CA at the
// origin, C on +x and N in the xy-plane at positive y.
const double half = 0.96;  // half the N-CA-C angle
const Ca_group ideal(Coord_orth(1.47 * std::cos(1.92), 1.47 * std::sin(1.92), 0.0),
                     Coord_orth(0.0, 0.0, 0.0), Coord_orth(1.53, 0.0, 0.0));

void expect_in(double value, double lo, double hi, const std::string& where) {
  EXPECT_GE(value, lo) << where;
  EXPECT_LE(value, hi) << where;
}

// Five consecutive residues of a real chain: N, CA, C of each.
struct Residue {
  Coord_orth n, ca, c;
};
struct Site {
  std::string name;
  std::vector<Residue> res;
};

std::vector<Site> read_sites() {
  std::ifstream in = vantrel_testing::open_fixture("loop_sites.txt");
  std::vector<Site> sites;
  for (std::string line, tag, a, b, c; std::getline(in, line);) {
    std::istringstream f(line);
    f >> tag >> a;
    if (tag == "site" && f >> b >> c) sites.push_back({a + " " + b + c, {}});
    if (tag != "res") continue;
    double x[9];
    for (double& v : x) f >> v;
    sites.back().res.push_back({{x[0], x[1], x[2]}, {x[3], x[4], x[5]}, {x[6], x[7], x[8]}});
  }
  return sites;
}

// Checks a rebuilt N CA C ... chain (fixed ends included): bonds, angles,
// trans peptides, Ramachandran. A near-miss closure stretches CA-C a little;
// the closure error gathers at the fixed end.
void check_chain(const std::vector<Coord_orth>& chain, const Coord_orth& c0,
                 const std::string& where) {
  const Ramachandran rama(Ramachandran::ALL_RESIDUES);
  const int last = int(chain.size()) / 3 - 1;
  for (int i = 0; i <= last; ++i) {
    const Coord_orth &n = chain[3 * i], &ca = chain[3 * i + 1], &c = chain[3 * i + 2];
    const Coord_orth& prev_c = i == 0 ? c0 : chain[3 * i - 1];
    const std::string at = where + " residue " + std::to_string(i);
    if (i > 0) expect_in(Coord_orth::length(prev_c, n), 1.33 - 1e-9, 1.33 + 1e-9, at);
    if (i > 0 && i < last) {
      expect_in(Coord_orth::length(n, ca), 1.469, 1.50, at);
      expect_in(Coord_orth::angle(prev_c, n, ca), 2.06, 2.151, at);
      expect_in(Coord_orth::angle(n, ca, c), 1.905, 1.925, at);
    }
    if (i == last) {
      expect_in(Coord_orth::length(n, ca), 1.32, 1.62, at);
      expect_in(Coord_orth::angle(prev_c, n, ca), 2.0, 2.4, at);
      expect_in(Coord_orth::angle(n, ca, c), 1.75, 2.1, at);
      continue;
    }
    expect_in(Coord_orth::length(ca, c), 1.525, 1.60, at);
    const Coord_orth &n_next = chain[3 * i + 3], &ca_next = chain[3 * i + 4];
    EXPECT_GT(std::fabs(Coord_orth::torsion(ca, c, n_next, ca_next)), pi - 0.2) << at;
    EXPECT_GT(rama.probability(Coord_orth::torsion(prev_c, n, ca, c),
                               Coord_orth::torsion(n, ca, c, n_next)),
              0.0005)
        << at;
  }
}

// Checks every closure of residues 2 .. end-1; returns the worst deviation
// from the real chain of the best closure.
template <std::size_t N>
double best_closure(const std::vector<std::array<Coord_orth, N>>& found, const Site& s, int end) {
  const auto& r = s.res;
  EXPECT_FALSE(found.empty()) << s.name;
  std::vector<Coord_orth> truth = {r[1].c};
  for (int i = 2; i < end; ++i) truth.insert(truth.end(), {r[i].n, r[i].ca, r[i].c});
  truth.push_back(r[end].n);
  double best = 1e9;
  for (const auto& l : found) {
    std::vector<Coord_orth> chain = {r[1].n, r[1].ca};
    chain.insert(chain.end(), l.begin(), l.end());
    chain.insert(chain.end(), {r[end].ca, r[end].c});
    check_chain(chain, r[0].c, s.name);
    double worst = 0.0;
    for (std::size_t k = 0; k < N; ++k) worst = std::max(worst, Coord_orth::length(l[k], truth[k]));
    best = std::min(best, worst);
  }
  return best;
}

}  // namespace

TEST(ProteinLoop, CircleMeetsSphereInTwoOneOrNoPoints) {
  const ProteinLoop loop(36);
  // Circle of radius 2 about the z axis in the plane z = 0; sphere centre
  // 3 A out along x.
  const Coord_orth o(0, 0, 0), z(0, 0, 1), x3(3, 0, 0);
  struct Case {
    Coord_orth p3;
    double d2;
    std::vector<Coord_orth> expected;
  };
  const std::vector<Case> cases = {
      {x3, std::sqrt(13.0), {Coord_orth(0, -2, 0), Coord_orth(0, 2, 0)}},  // k = 0
      {x3, 1.0, {Coord_orth(2, 0, 0)}},                                    // touching: k = 1
      {x3, 0.95, {Coord_orth(2.0 * 12.0975 / 12.0, 0, 0)}},                // near miss, k^2 = 1.016
      {x3, 0.5, {}},                                                       // k^2 = 1.13: too far
      {x3, 5.5, {}},                   // sphere holds the circle
      {Coord_orth(3, 0, 2), 2.0, {}},  // sphere above the plane
      {Coord_orth(0, 0, 3), 3.0, {}},  // centre on the axis
  };
  for (const Case& c : cases) {
    const auto got = loop.constrained_coords(o, z, 2.0, pi / 2, c.p3, c.d2);
    ASSERT_EQ(got.size(), c.expected.size()) << c.p3.format() << " " << c.d2;
    for (std::size_t i = 0; i < got.size(); ++i) expect_near(got[i], c.expected[i], 1e-12);
  }
  EXPECT_TRUE(loop.constrained_coords(o, z, 2.0, 0.0, x3, 3.0).empty());  // no circle
}

TEST(ProteinLoop, BetaCarbonAndCarbonylFollowTheMainChain) {
  const ProteinLoop loop(36);
  // Ideal N-CA-C (1.47, 1.53, 1.92 rad) in a general orientation.
  // A mirrored beta carbon would lie 2.5 A from the frame's.
  const Coord_orth ca(5.1, -2.3, 7.7), c(6.6, -2.1, 7.5);
  const Coord_orth n(Coord_orth(1.0, 4.0, -2.0), c, ca, 1.47, 1.92, 0.7);
  const Coord_orth cb = loop.Coord_Cb(n, ca, c);
  expect_near(cb, Ca_group(n, ca, c).rtop_beta_carbon() * Coord_orth(0, 0, 0), 0.02);
  EXPECT_NEAR(Coord_orth::length(cb, ca), 1.52, 0.01);

  const Coord_orth n_next(c, ca, n, 1.33, 1.99, 2.5);  // any next N
  const Coord_orth o = loop.Coord_O(ca, c, n_next);
  EXPECT_NEAR(Coord_orth::length(o, c), 1.23, 1e-12);
  EXPECT_NEAR(Coord_orth::angle(ca, c, o), Coord_orth::angle(n_next, c, o), 1e-12);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(n_next, ca, c, o)), pi, 1e-9);  // in the peptide plane
  expect_near(loop.Coord_O(n_next, c, ca), o, 1e-12);
}

TEST(ProteinLoop, ClosuresRebuildRealGaps) {
  // Sampled every 5 and 10 degrees: a closure within tenths of an A, and
  // two-residue closures on sampled phi(1).
  const ProteinLoop fine(72), loop(36);
  const std::vector<Site> sites = read_sites();
  ASSERT_EQ(sites.size(), 9u);
  int total = 0;
  for (const Site& s : sites) {
    ASSERT_EQ(s.res.size(), 5u) << s.name;
    const auto& r = s.res;
    const auto five = fine.rebuild5atoms(r[0].c, r[1].n, r[1].ca, r[3].ca, r[3].c, r[4].n);
    const auto eight = loop.rebuild8atoms(r[0].c, r[1].n, r[1].ca, r[4].ca, r[4].c, r[4].n);
    EXPECT_LT(best_closure(five, s, 3), 0.8) << s.name;
    EXPECT_LT(best_closure(eight, s, 4), 0.6) << s.name;
    total += int(five.size() + eight.size());
    for (const auto& l : eight) {
      const double k = Coord_orth::torsion(r[0].c, r[1].n, r[1].ca, l[0]) / (2.0 * pi / 36.0);
      EXPECT_NEAR(k, std::round(k), 1e-9);
    }
  }
  EXPECT_GT(total, 200);

  // With no samples nothing is built.
  const auto& r = sites.front().res;
  EXPECT_TRUE(
      ProteinLoop(0).rebuild8atoms(r[0].c, r[1].n, r[1].ca, r[4].ca, r[4].c, r[4].n).empty());
}

TEST(MainChain, StandardFrameBisectsTheBondsAndIsProper) {
  // Columns: bisector, plane normal +z, and their cross product.
  const RTop_orth f = ideal.rtop_from_std_ori();
  const Mat33<double> want(std::cos(half), 0.0, std::sin(half), std::sin(half), 0.0,
                           -std::cos(half), 0.0, 1.0, 0.0);
  EXPECT_TRUE(f.rot().equals(want, 1e-12));
  EXPECT_EQ(f.trn(), ideal.coord_ca());
}

TEST(MainChain, BetaCarbonFrameSitsAtTheIdealBetaCarbon) {
  const Ca_group g(Coord_orth(11.2, -3.1, 4.0), Coord_orth(12.0, -2.0, 4.6),
                   Coord_orth(13.4, -2.5, 4.1));
  // The standard frame moved 1.03 A against the N/C bisector and 1.11 A
  // against the plane normal.
  const RTop_orth cb = g.rtop_beta_carbon();
  EXPECT_TRUE(cb.rot().equals(g.rtop_from_std_ori().rot(), 0.0));
  expect_each_near(cb * Coord_orth(1.03, 1.11, 0.0), g.coord_ca(), 1e-12);
}

TEST(MainChain, ExtensionRoundTripsAndReadsBackItsTorsions) {
  const double angles[][2] = {{-1.05, -0.75}, {-2.4, 2.3}, {1.0, 0.4}, {3.14159, -3.1}};
  for (const auto& a : angles) {
    const double psi = a[0], phi = a[1];
    const Ca_group next = ideal.next_ca_group(psi, phi);
    Ca_chain chain;
    chain.push_back(ideal);
    chain.push_back(next);
    EXPECT_NEAR(chain.ramachandran_psi(0), psi, 1e-9);
    EXPECT_NEAR(chain.ramachandran_phi(1), phi, 1e-9);
    EXPECT_NEAR(Coord_orth::length(ideal.coord_c(), next.coord_n()), 1.32, 1e-12);
    // Omega is trans.
    EXPECT_NEAR(std::fabs(Coord_orth::torsion(ideal.coord_ca(), ideal.coord_c(), next.coord_n(),
                                              next.coord_ca())),
                pi, 1e-9);
    const Ca_group back = ideal.prev_ca_group(phi, psi).next_ca_group(psi, phi);
    expect_each_near(back.coord_n(), ideal.coord_n(), 1e-9);
    expect_each_near(back.coord_ca(), ideal.coord_ca(), 1e-9);
    expect_each_near(back.coord_c(), ideal.coord_c(), 1e-9);
  }
  Ca_chain chain;
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(0)));
  chain.push_back(ideal);
  chain.push_back(ideal.next_ca_group(1.0, -1.0));
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(0)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_psi(1)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_psi(-1)));
  EXPECT_TRUE(std::isnan(chain.ramachandran_phi(2)));
}

TEST(MainChain, PeptideUnitPlacesNitrogenOxygenAndNextAlpha) {
  const Coord_orth ca(0.0, 0.0, 0.0), c(1.53, 0.0, 0.0), o(2.1, 1.05, 0.3);
  const Pr_group unit(ca, c, o, Pr_group::CaCO);
  const Coord_orth n = unit.coord_n_next();
  EXPECT_NEAR(Coord_orth::length(c, n), 1.320, 5e-4);
  // In the CA-C-O plane, on the side away from O.
  const Vec3<double> normal = Vec3<double>::cross(Vec3<double>(ca - c), Vec3<double>(o - c));
  EXPECT_NEAR(Vec3<double>::dot(normal, Vec3<double>(n - c)), 0.0, 1e-12);
  EXPECT_LT(std::cos(Coord_orth::torsion(o, ca, c, n)), 0.0);
  const Coord_orth o2 = unit.coord_o();
  EXPECT_NEAR(Coord_orth::length(c, o2), 1.240, 5e-4);
  EXPECT_GT(std::cos(Coord_orth::torsion(o, ca, c, o2)), 0.99);
  const Coord_orth ca_next = unit.coord_ca_next();
  EXPECT_NEAR(Coord_orth::length(n, ca_next), 1.470, 5e-4);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(ca, c, n, ca_next)), pi, 1e-9);  // trans
  const RTop_orth f = unit.rtop_from_std_ori();
  expect_each_near(f.trn(), 0.5 * (ca + ca_next), 1e-12);
  EXPECT_NEAR(f.rot().det(), 1.0, 1e-12);
  expect_each_near(f * Coord_orth(0.5 * Coord_orth::length(ca, ca_next), 0.0, 0.0), ca_next, 1e-12);

  // The ideal next CA agrees with the in-plane one; walking forward twice
  // and back once returns to the first ideal unit.
  const Pr_group u1 = unit.next_pr_group(-1.1, -0.7);
  EXPECT_NEAR(Coord_orth::length(u1.coord_ca(), ca_next), 0.0, 5e-3);
  const Pr_group u2 = u1.next_pr_group(-1.2, 2.1);
  const Pr_group back = u2.prev_pr_group(2.1, -1.2);
  expect_each_near(back.coord_ca(), u1.coord_ca(), 1e-9);
  expect_each_near(back.coord_c(), u1.coord_c(), 1e-9);
  expect_each_near(back.coord_n_next(), u1.coord_n_next(), 1e-9);
}
