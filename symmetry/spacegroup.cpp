#include "symmetry/spacegroup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "foundation/instance.h"
#include "foundation/message.h"

namespace vantrel {

namespace {

typedef Spgr_descr::Symop_codes Symop_codes;

// The first Laue row whose predicate passes the reciprocal check; -1 if none.
int first_passing_laue_row(const Symop_codes& ops) {
  for (int row = 0; row < data::lgdata_size; row++)
    if (reci_asu(ops, data::lgdata[row].asu)) return row;
  return -1;
}

String hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", unsigned(value));
  return String(text);
}

// Operators are equal when rotation and translation agree within 0.001.
bool same_symop(const Symop& a, const Symop& b) {
  return a.rot().equals(b.rot(), 0.001) && a.trn().equals(b.trn(), 0.001);
}

// The grid on which every operator translation is a whole number of steps.
const Grid& asu_grid() {
  static const Grid grid(24, 24, 24);
  return grid;
}

std::vector<Isymop> isymops_of(const Symop_codes& codes) {
  std::vector<Isymop> ops;
  for (const Symop_code& code : codes) ops.push_back(code.isymop());
  return ops;
}

// Orbit number of every point of the ASU grid under the operators.
std::vector<int> label_orbits(const std::vector<Isymop>& ops, int& norb) {
  const Grid& g = asu_grid();
  std::vector<int> orbit(g.size(), -1);
  norb = 0;
  for (int i = 0; i < g.size(); i++) {
    if (orbit[i] >= 0) continue;
    const Coord_grid c = g.deindex(i);
    for (const Isymop& op : ops) orbit[(op * c).unit(g).index(g)] = norb;
    norb++;
  }
  return orbit;
}

// Rotations that mix axes (a row or column with two non-zero elements) ask
// for the limits of hexagonal axes.
bool mixes_axes(const std::vector<Isymop>& ops) {
  for (const Isymop& op : ops)
    for (int i = 0; i < 3; i++) {
      int row = 0, col = 0;
      for (int j = 0; j < 3; j++) {
        row += op.rot()(i, j) != 0;
        col += op.rot()(j, i) != 0;
      }
      if (row >= 2 || col >= 2) return true;
    }
  return false;
}

// True when the box [0,nu) x [0,nv) x [0,nw) holds a point of every orbit.
bool box_covers_orbits(const std::vector<int>& orbit, int norb, int nu, int nv, int nw) {
  std::vector<char> seen(norb, 0);
  int count = 0;
  for (int u = 0; u < nu; u++)
    for (int v = 0; v < nv; v++)
      for (int w = 0; w < nw; w++) {
        const int o = orbit[Coord_grid(u, v, w).index(asu_grid())];
        if (!seen[o]) {
          seen[o] = 1;
          count++;
        }
      }
  return count == norb;
}

}  // namespace

// ----------------------------------------------------------- free functions

Vec3<double> real_asu(const Symop_codes& codes) {
  const std::vector<Isymop> ops = isymops_of(codes);
  int norb = 0;
  const std::vector<int> orbit = label_orbits(ops, norb);

  const bool hex = mixes_axes(ops);
  const double* limits = hex ? data::asu_limits_hex : data::asu_limits_orth;
  const int nlimits = hex ? data::asu_limits_hex_size : data::asu_limits_orth_size;
  std::vector<Vec3<double>> candidates;
  for (int i = 0; i < nlimits; i++)
    for (int j = 0; j < nlimits; j++)
      for (int k = 0; k < nlimits; k++)
        candidates.push_back(Vec3<double>(limits[i], limits[j], limits[k]));
  std::sort(candidates.begin(), candidates.end(), Compare_grid());

  for (const Vec3<double>& c : candidates) {
    const int nu = int(std::ceil(asu_grid().nu() * c[0]));
    const int nv = int(std::ceil(asu_grid().nv() * c[1]));
    const int nw = int(std::ceil(asu_grid().nw() * c[2]));
    if (nu * nv * nw < norb) continue;
    if (box_covers_orbits(orbit, norb, nu, nv, nw)) return c;
  }
  return candidates.back();  // the whole cell always covers every orbit
}

bool reci_asu(const Symop_codes& codes, data::ASUfn asu) {
  const std::vector<Isymop> ops = isymops_of(codes);
  const auto accepts = [asu](const HKL& h) { return asu(h[0], h[1], h[2]); };
  for (int h = -2; h <= 2; h++)
    for (int k = -2; k <= 2; k++)
      for (int l = -2; l <= 2; l++) {
        const HKL hkl(h, k, l);
        if (accepts(hkl)) {
          // no other member of the set may be accepted
          for (const Isymop& op : ops) {
            const HKL h1 = hkl.transform(op), h2(-h1);
            if ((h1 != hkl && accepts(h1)) || (h2 != hkl && accepts(h2))) return false;
          }
        } else {
          // some member of the set must be accepted
          const auto member_accepted = [&](const Isymop& op) {
            const HKL h1 = hkl.transform(op);
            return accepts(h1) || accepts(HKL(-h1));
          };
          if (std::none_of(ops.begin(), ops.end(), member_accepted)) return false;
        }
      }
  return true;
}

// ------------------------------------------------------------ Spgr_cacheobj

Spgr_cacheobj::Spgr_cacheobj(const Key& spgr_cachekey) : key(spgr_cachekey) {
  const Symop_codes all = Util::sorted(key.generator_ops().expand());
  const Symop_codes pn = Util::sorted(all.primitive_noninversion_ops());
  const Symop_codes inv = Util::sorted(all.inversion_ops());
  const Symop_codes cen = Util::sorted(all.centering_ops());
  const Symop_codes ops = pn.product(inv).product(cen);

  op_count = int(ops.size());
  noninversion_count = int(pn.size());
  inversion_count = int(inv.size());
  centring_count = int(cen.size());
  primitive_count = noninversion_count * inversion_count;
  if (ops.hash() != key.hash()) fatal("Spgr_cacheobj: symops fail");

  const std::uint32_t laue_hash = ops.laue_ops().hash();
  laue_row = 0;
  for (int row = 0; row < data::lgdata_size; row++)
    if (data::lgdata[row].hash() == laue_hash) {
      laue_row = row;
      break;
    }
  if (!reci_asu(pn, data::lgdata[laue_row].asu)) {
    Message::message(Message_warn("Spacegroup_registry: ASU warning, LGhash=0x" + hex8(laue_hash)));
    laue_row = first_passing_laue_row(pn);
    if (laue_row < 0) fatal("Spacegroup_registry: ASU fail");
  }

  asu_min = Coord_frac(-0.0001, -0.0001, -0.0001);
  const Vec3<double> corner = real_asu(ops);
  asu_max = Coord_frac(corner[0], corner[1], corner[2]);

  for (const Symop_code& code : ops) {
    symop_table.push_back(code.symop());
    isymop_table.push_back(code.isymop());
  }
}

// --------------------------------------------------------------- Spacegroup

Spacegroup::Spacegroup(TYPE type)
    : symops_(nullptr),
      isymops_(nullptr),
      asu_test_(nullptr),
      op_count_(0),
      noninversion_count_(0),
      inversion_count_(0),
      primitive_count_(0) {
  if (type == P1) init(Spgr_descr("x,y,z", Spgr_descr::Symops));
}

Spacegroup::Spacegroup(const Spgr_descr& spgr_descr) : Spacegroup(Null) { init(spgr_descr); }

void Spacegroup::init(const Spgr_descr& spgr_descr) {
  if (spgr_descr.hash() == 0 && spgr_descr.generator_ops().empty()) {
    *this = Spacegroup(Null);  // the null descriptor names no group
    return;
  }
  // Look up first: when the tables cannot be built, the group stays as it was.
  cacheref_ = VantrelInstantiator::instance().cache<Spgr_cacheobj>().lookup(spgr_descr);
  Spgr_descr::operator=(spgr_descr);
  const Spgr_cacheobj& entry = cacheref_.data();
  symops_ = entry.symop_table.data();
  isymops_ = entry.isymop_table.data();
  asu_test_ = data::lgdata[entry.laue_row].asu;
  op_count_ = entry.op_count;
  noninversion_count_ = entry.noninversion_count;
  inversion_count_ = entry.inversion_count;
  primitive_count_ = entry.primitive_count;
}

int Spacegroup::product_op(const int& s1, const int& s2) const {
  const Symop product(symop(s1) * symop(s2));
  for (int i = 0; i < op_count_; i++)
    if (same_symop(symop(i), product)) return i;
  fatal("Spacegroup: Internal spacegroup error - missing product");
}

int Spacegroup::inverse_op(const int& s) const {
  for (int i = 0; i < op_count_; i++)
    if (same_symop(Symop(symop(s) * symop(i)), symop(0))) return i;
  fatal("Spacegroup: Internal spacegroup error - missing inverse");
}

int Spacegroup::order_of_symmetry_about_axis(const AXIS axis) const {
  const int a = axis, b = (a + 1) % 3, c = (a + 2) % 3;
  int order = 0;
  for (int i = 0; i < primitive_count_; i++) {
    const Mat33<double>& r = symop(i).rot();
    if (r.det() > 0.0 && std::fabs(r(a, b)) + std::fabs(r(b, a)) + std::fabs(r(a, c)) +
                                 std::fabs(r(c, a)) + std::fabs(r(a, a) - 1.0) <
                             1.0e-6)
      order++;
  }
  return order;
}

// A change of hand about the origin maps (R, t) to (R, -t): the group is
// invariant when it holds each operator with its translation negated.
bool Spacegroup::invariant_under_change_of_hand() const {
  std::vector<int> codes;
  for (int i = 0; i < op_count_; i++) codes.push_back(int(Symop_code(isymop(i))));
  std::sort(codes.begin(), codes.end());
  for (int i = 0; i < op_count_; i++) {
    const Isymop mirrored(isymop(i).rot(), -isymop(i).trn());
    if (!std::binary_search(codes.begin(), codes.end(), int(Symop_code(mirrored)))) return false;
  }
  return true;
}

String Spacegroup::symbol_laue() const { return data::lgdata[cacheref_->laue_row].symbol; }

void Spacegroup::debug() const {
  std::cout << spacegroup_number() << " " << op_count_ << " " << primitive_count_ << " "
            << symbol_hall() << "\n";
  for (int i = 0; i < op_count_; i++) std::cout << i << ": " << symop(i).format() << "\n";
}

// -------------------------------------------------------------- Coord_frac

// The copy of this position under the group's operators and lattice
// translations that lies nearest to ref; the first operator wins ties.
Coord_frac Coord_frac::symmetry_copy_near(const Spacegroup& spgr, const Cell& cell,
                                          const Coord_frac& ref) const {
  Coord_frac result = *this;
  double best = 1.0e12;
  const Metric_tensor& metric = cell.real_metric();
  for (int k = 0; k < spgr.op_count(); k++) {
    const Coord_frac c(spgr.symop(k) * (*this));
    Coord_frac near;
    for (int i = 0; i < 3; i++) {
      const double d = c[i] - ref[i];
      near[i] = ref[i] + (d - std::rint(d));
    }
    // The distance is taken from the stored copy, so that it ranks exactly
    // the position returned.
    const double dist2 = metric.squared_length(near - ref);
    if (dist2 < best) {
      best = dist2;
      result = near;
    }
  }
  return result;
}

}  // namespace vantrel
