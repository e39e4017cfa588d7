// Loop rebuilding: circle-sphere meeting points, beta-carbon and carbonyl
// placement, and closures of one- and two-residue gaps cut from real chains
// (positions and gemmi's torsions in tests/data/loop_sites.txt).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "app/main_chain.h"
#include "app/protein_loop.h"
#include "support/testing.h"

using vantrel::Coord_orth;
using vantrel::Ramachandran;

namespace {

const double pi = 3.141592653589793;

void expect_near(const Coord_orth& a, const Coord_orth& b, double tol) {
  EXPECT_LT(Coord_orth::length(a, b), tol) << a.format() << " vs " << b.format();
}

void expect_in(double value, double lo, double hi, const std::string& where) {
  EXPECT_GE(value, lo) << where;
  EXPECT_LE(value, hi) << where;
}

// Five consecutive residues of a real chain: N, CA, C of each, and gemmi's
// phi, psi and N-CA-C angle.
struct Residue {
  Coord_orth n, ca, c;
  double phi, psi, angle;
};
struct Site {
  std::string name;
  std::vector<Residue> res;
};

std::vector<Site> read_sites() {
  std::ifstream in = vantrel_testing::open_fixture("loop_sites.txt");
  std::vector<Site> sites;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string tag;
    f >> tag;
    if (tag == "site") {
      std::string model, chain, num;
      f >> model >> chain >> num;
      sites.push_back({model + " " + chain + num, {}});
    } else if (tag == "res") {
      std::string type;
      double x[9];
      Residue r;
      f >> type;
      for (double& v : x) f >> v;
      f >> r.phi >> r.psi >> r.angle;
      r.n = Coord_orth(x[0], x[1], x[2]);
      r.ca = Coord_orth(x[3], x[4], x[5]);
      r.c = Coord_orth(x[6], x[7], x[8]);
      sites.back().res.push_back(r);
    }
  }
  return sites;
}

// Checks a rebuilt main chain N(1) CA(1) C(1) N(2) ... CA(last) C(last) (the
// fixed atoms at both ends included): bonds, angles, trans peptides and the
// Ramachandran acceptance of every rebuilt residue. Returns nothing; failures
// name the site.
void check_chain(const std::vector<Coord_orth>& chain, const Coord_orth& c0,
                 const std::string& where) {
  const Ramachandran rama(Ramachandran::ALL_RESIDUES);
  const int nres = int(chain.size()) / 3;
  for (int i = 0; i < nres; ++i) {
    const Coord_orth &n = chain[3 * i], &ca = chain[3 * i + 1], &c = chain[3 * i + 2];
    const Coord_orth& prev_c = i == 0 ? c0 : chain[3 * i - 1];
    // The closure keeps C-N and the placed angles ideal; N-CA and C-N-CA
    // follow from the 3.8 A CA-CA virtual bond, a touching (near-miss)
    // solution stretches CA-C and bends N-CA-C a little, and the closure
    // error gathers at the fixed end, bounded there by the N-CA-C window.
    if (i > 0) {
      EXPECT_NEAR(Coord_orth::length(prev_c, n), 1.33, 1e-9) << where;
    }
    if (i > 0 && i < nres - 1) {
      expect_in(Coord_orth::length(n, ca), 1.469, 1.50, where);
      expect_in(Coord_orth::angle(prev_c, n, ca), 2.06, 2.151, where);
      expect_in(Coord_orth::angle(n, ca, c), 1.905, 1.925, where);
    }
    if (i == nres - 1) {
      expect_in(Coord_orth::length(n, ca), 1.32, 1.62, where);
      expect_in(Coord_orth::angle(prev_c, n, ca), 2.0, 2.4, where);
    }
    if (i < nres - 1) {
      expect_in(Coord_orth::length(ca, c), 1.525, 1.60, where);
      const double omega = Coord_orth::torsion(ca, c, chain[3 * i + 3], chain[3 * i + 4]);
      EXPECT_GT(std::fabs(omega), pi - 0.2) << where << " res " << i;
    }
    if (i == nres - 1) {
      const double end_angle = Coord_orth::angle(n, ca, c);
      EXPECT_GT(end_angle, 1.75) << where;
      EXPECT_LT(end_angle, 2.1) << where;
    }
    if (i < nres - 1) {
      const double phi = Coord_orth::torsion(prev_c, n, ca, c);
      const double psi = Coord_orth::torsion(n, ca, c, chain[3 * i + 3]);
      EXPECT_GT(rama.probability(phi, psi), 0.0005) << where << " res " << i;
    }
  }
}

// Checks every closure of a gap ending at residue `end` of a site (residues
// 2 .. end-1 rebuilt) with check_chain; returns the largest deviation from
// the real chain of the closure that follows it best.
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

  // A general setting built round a known point: both answers meet all three
  // conditions and one of them is that point.
  const Coord_orth p0(1.2, -0.7, 3.1), axis(0.3, -1.1, 0.4), p3(4.9, 1.3, 2.2);
  const double d1 = 3.8, t = 0.36;
  const Coord_orth u(axis.unit());
  const Coord_orth side(vantrel::Vec3<double>::cross(u, Coord_orth(1, 0, 0)).unit());
  const Coord_orth known = p0 + (d1 * std::cos(t)) * u + (d1 * std::sin(t)) * side;
  const double d2 = Coord_orth::length(known, p3);
  const auto got = loop.constrained_coords(p0, axis, d1, t, p3, d2);
  ASSERT_EQ(got.size(), 2u);
  double nearest = 1e9;
  for (const Coord_orth& g : got) {
    EXPECT_NEAR(Coord_orth::length(g, p0), d1, 1e-9);
    EXPECT_NEAR(Coord_orth::length(g, p3), d2, 1e-9);
    EXPECT_NEAR(std::acos(vantrel::Vec3<double>::dot((g - p0).unit(), u)), t, 1e-9);
    nearest = std::min(nearest, Coord_orth::length(g, known));
  }
  EXPECT_LT(nearest, 1e-9);
}

TEST(ProteinLoop, BetaCarbonAndCarbonylFollowTheMainChain) {
  const ProteinLoop loop(36);
  // Ideal N-CA-C (1.47, 1.53, 1.92 rad) in a general orientation.
  const Coord_orth ca(5.1, -2.3, 7.7), c(6.6, -2.1, 7.5);
  const Coord_orth n0(0.0, 0.0, 0.0);
  const Coord_orth n(Coord_orth(1.0, 4.0, -2.0), c, ca, 1.47, 1.92, 0.7);
  const Coord_orth cb = loop.Coord_Cb(n, ca, c);
  expect_near(cb, Ca_group(n, ca, c).rtop_beta_carbon() * n0, 0.02);
  EXPECT_NEAR(Coord_orth::length(cb, ca), 1.52, 0.01);
  // Swapping N and C mirrors the beta carbon through the N-CA-C plane.
  const Coord_orth normal(vantrel::Vec3<double>::cross(n - ca, c - ca));
  const double side = vantrel::Vec3<double>::dot(cb - ca, normal);
  const double mirrored = vantrel::Vec3<double>::dot(loop.Coord_Cb(c, ca, n) - ca, normal);
  EXPECT_NEAR(side, -mirrored, 1e-9);
  EXPECT_GT(std::fabs(side), 1.0);

  const Coord_orth n_next(c, ca, n, 1.33, 1.99, 2.5);  // any next N
  const Coord_orth o = loop.Coord_O(ca, c, n_next);
  EXPECT_NEAR(Coord_orth::length(o, c), 1.23, 1e-12);
  EXPECT_NEAR(Coord_orth::angle(ca, c, o), Coord_orth::angle(n_next, c, o), 1e-12);
  EXPECT_NEAR(std::fabs(Coord_orth::torsion(n_next, ca, c, o)), pi, 1e-9);  // in the peptide plane
  expect_near(loop.Coord_O(n_next, c, ca), o, 1e-12);
}

TEST(ProteinLoop, FixtureTorsionsAgreeWithGemmi) {
  const auto sites = read_sites();
  ASSERT_EQ(sites.size(), 9u);
  for (const Site& s : sites) {
    ASSERT_EQ(s.res.size(), 5u);
    for (int i = 1; i < 4; ++i) {
      const Residue &p = s.res[i - 1], &r = s.res[i], &q = s.res[i + 1];
      EXPECT_NEAR(Coord_orth::torsion(p.c, r.n, r.ca, r.c), r.phi, 1e-9) << s.name;
      EXPECT_NEAR(Coord_orth::torsion(r.n, r.ca, r.c, q.n), r.psi, 1e-9) << s.name;
      EXPECT_NEAR(Coord_orth::angle(r.n, r.ca, r.c), r.angle, 1e-9) << s.name;
    }
  }
}

TEST(ProteinLoop, ClosuresRebuildRealGaps) {
  // Torsions sampled every 5 (one residue) and 10 degrees (two residues):
  // some closure follows the real chain to within a few tenths of an A.
  const ProteinLoop fine(72), loop(36);
  const std::vector<Site> sites = read_sites();
  int total = 0;
  for (const Site& s : sites) {
    const auto& r = s.res;
    const auto five = fine.rebuild5atoms(r[0].c, r[1].n, r[1].ca, r[3].ca, r[3].c, r[4].n);
    const auto eight = loop.rebuild8atoms(r[0].c, r[1].n, r[1].ca, r[4].ca, r[4].c, r[4].n);
    EXPECT_LT(best_closure(five, s, 3), 0.8) << s.name;
    EXPECT_LT(best_closure(eight, s, 4), 0.6) << s.name;
    total += int(five.size() + eight.size());
  }
  EXPECT_GT(total, 200);

  // Each list starts on a sampled phi(1) and ends in a one-residue closure
  // from its own second residue.
  const auto& r = sites.front().res;
  const auto found = loop.rebuild8atoms(r[0].c, r[1].n, r[1].ca, r[4].ca, r[4].c, r[4].n);
  ASSERT_FALSE(found.empty());
  for (const auto& l : found) {
    const double k = Coord_orth::torsion(r[0].c, r[1].n, r[1].ca, l[0]) / (2.0 * pi / 36.0);
    EXPECT_NEAR(k, std::round(k), 1e-9);
    bool seen = false;
    for (const auto& tail : loop.rebuild5atoms(l[0], l[1], l[2], r[4].ca, r[4].c, r[4].n)) {
      bool same = true;
      for (int i = 0; i < 5; ++i) same = same && tail[i] == l[3 + i];
      seen = seen || same;
    }
    EXPECT_TRUE(seen);
  }
  // With no samples nothing is built.
  EXPECT_TRUE(
      ProteinLoop(0).rebuild8atoms(r[0].c, r[1].n, r[1].ca, r[4].ca, r[4].c, r[4].n).empty());
}
