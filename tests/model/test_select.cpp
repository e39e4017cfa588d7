#include "model_testing.h"

using namespace vantrel;
using model_testing::read_model;
using model_testing::text_property;

namespace {

long long h(const String& s) {
  long long sum = 0;
  for (std::size_t i = 0; i < s.size(); ++i) sum += (i + 1) * (unsigned char)(s[i]);
  return sum;
}

// The summary the fixture script writes: chain ids, monomer and atom counts,
// order-sensitive sums over monomer ids and types and over atom ids (tab
// separated), and a weighted sum of the coordinates.
std::pair<std::string, double> summary(const MModel& m) {
  String chains;
  long long monomers = 0, atoms = 0, monomer_sum = 0, atom_sum = 0;
  double coord_sum = 0;
  for (int p = 0; p < m.size(); ++p) {
    chains += (p ? "," : "") + m[p].id();
    for (int r = 0; r < m[p].size(); ++r) {
      const MMonomer& mono = m[p][r];
      monomer_sum += ++monomers * h(mono.id() + "|" + mono.type());
      for (int i = 0; i < mono.size(); ++i) {
        const Coord_orth& x = mono[i].coord_orth();
        atom_sum += ++atoms * h(mono[i].id());
        coord_sum += double(atoms) * (x[0] + 2 * x[1] + 3 * x[2]);
      }
    }
  }
  return {(chains.empty() ? "-" : chains) + "\t" + std::to_string(monomers) + "\t" +
              std::to_string(atoms) + "\t" + std::to_string(monomer_sum) + "\t" +
              std::to_string(atom_sum),
          coord_sum};
}

MModel wrap(const MPolymer& p) {
  MModel m;
  m.insert(p, -1);
  return m;
}

MModel wrap(const MMonomer& r) {
  MPolymer p;
  p.set_id("-");
  p.insert(r, -1);
  return wrap(p);
}

// One fixture case: kind, file, mode, then operands; "A" is a chain, "A/12"
// a residue of it.
MModel run(const std::vector<String>& c, const MiniMol& mol) {
  const String& kind = c[0];
  const MM::MODE mode = MM::MODE(c[2].i());
  const auto chain = [&](const String& w) -> const MPolymer& {
    return mol.find(w.head(), MM::WHOLE_ID);
  };
  const auto residue = [&](const String& w) -> const MMonomer& {
    return chain(w).find(w.nohead(), MM::WHOLE_ID);
  };
  if (kind == "model") return mol.select(c[3], mode);
  if (kind == "polymer") return wrap(chain(c[3]).select(c[4], mode));
  if (kind == "monomer") return wrap(residue(c[3]).select(c[4], mode));
  if (kind == "union") return mol.select(c[3], mode) | mol.select(c[4], mode);
  if (kind == "inter") return mol.select(c[3], mode) & mol.select(c[4], mode);
  if (kind == "union_chain") return wrap(chain(c[3]) | chain(c[4]));
  if (kind == "inter_chain") return wrap(chain(c[3]) & chain(c[4]));
  if (kind == "union_residue") return wrap(residue(c[3]) | residue(c[4]));
  if (kind == "inter_residue") return wrap(residue(c[3]) & residue(c[4]));
  ADD_FAILURE() << "unknown case " << kind;
  return MModel();
}

}  // namespace

// Selections by path at every level (wildcards, items with blanks kept,
// padding), unions and intersections on real models, against the same
// operations worked out on gemmi's reading (tools/make_select_fixtures.py).
TEST(ModelSelection, MatchesIndependentSelection) {
  std::ifstream in = vantrel_testing::open_fixture("select_cases.txt");
  int cases = 0, nonempty = 0;
  std::map<String, MiniMol> models;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<String> c;
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) c.push_back(f);
    ASSERT_EQ(c.size(), 11u) << line;
    SCOPED_TRACE(line);
    if (!models.count(c[1])) models.emplace(c[1], read_model(c[1]));
    const auto [got, coord_sum] = summary(run(c, models.at(c[1])));
    EXPECT_EQ(got, c[5] + "\t" + c[6] + "\t" + c[7] + "\t" + c[8] + "\t" + c[9]);
    EXPECT_NEAR(coord_sum, std::stod(c[10]), 1e-9 * std::abs(std::stod(c[10])) + 1e-6);
    ++cases;
    nonempty += c[7] != "0";
  }
  EXPECT_EQ(cases, 118);
  EXPECT_GT(nonempty, 80);
}

// What the fixture cannot show: properties and empty operands.
TEST(ModelSelection, PropertiesAndEmptyOperands) {
  const MiniMol mol = read_model("wrk_7mm1.pdb");
  // An empty path selects a copy of everything, properties included.
  const MModel all = mol.select("", MM::WHOLE_ID);
  MModel copy;
  copy.copy(mol, MM::COPY(7));
  EXPECT_EQ(summary(all), summary(copy));
  EXPECT_EQ(summary(all).first, "A\t460\t2793\t287063202\t2183162455");  // as in the fixture
  EXPECT_EQ(text_property(all) + text_property(all[0]), "/1/1/A");
  EXPECT_EQ(text_property(all[0][5][2]) + text_property(copy[0][5][2]),
            text_property(mol[0][5][2]) + text_property(mol[0][5][2]));
  EXPECT_EQ(text_property(mol[0][5].select("XX", MM::BASE_ID)), text_property(mol[0][5]));

  // Against an empty model: the intersection is empty with the first
  // model's properties; the union is the other model, with the empty one's.
  const MModel meet = mol & MModel();
  EXPECT_EQ(meet.size(), 0);
  EXPECT_EQ(text_property(meet), "/1");
  const MModel join = MModel() | mol;
  EXPECT_FALSE(join.exists_property("CID"));
  EXPECT_EQ(summary(join), summary(all));
}

// Items are taken as written: the padded PDB names tell the calcium ion
// "CA  " and the zinc ion "ZN  " from the alpha carbon " CA ".
TEST(ModelSelection, PaddedAtomNamesAreKept) {
  const MiniMol mol = read_model("sel_two_chains.pdb");
  const auto atoms = [&](const String& path) {
    std::vector<String> found;
    for (const Atom& a : mol.select(path, MM::WHOLE_ID).atom_list())
      found.push_back(a.element().trim());
    return found;
  };
  EXPECT_EQ(atoms("*/*/CA  "), std::vector<String>{"CA"});
  EXPECT_EQ(atoms("*/*/ZN  "), std::vector<String>{"ZN"});
  EXPECT_EQ(atoms("*/*/CA  ,ZN  "), (std::vector<String>{"CA", "ZN"}));
  const std::vector<String> alpha = atoms("*/*/ CA ");
  EXPECT_EQ(alpha, atoms("*/*/CA"));
  EXPECT_GT(alpha.size(), 8u);
  for (const String& e : alpha) EXPECT_EQ(e, "C");
}
