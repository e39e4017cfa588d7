#include "maps/xmap_base.h"

#include <algorithm>
#include <cstdlib>
#include <map>

#include "foundation/message.h"

namespace vantrel {

const Message_ctor message_ctor_xmap(" [Xmap: constructed]");

Xmap_base::FFTtype Xmap_base::default_type_ = 2;

namespace {

// Mark of a storage point not yet classified while the tables are built.
const unsigned char unmarked = 255;

// A component of an operator image of a point within a cell or so of the
// cell, back into 0..n-1.
inline int wrap_near(int x, const int& n) {
  while (x < 0) x += n;
  while (x >= n) x -= n;
  return x;
}

// The storage index of the image of c (a point within a cell or so of the
// cell) under op, reduced into the cell, when it lies in the ASU box; else
// -1. Each image component is tested as soon as it is known.
inline int asu_box_image(const Isymop& op, const Coord_grid& c, const Grid& g,
                         const Grid_range& asu, const Grid_range& box) {
  const Mat33<int>& r = op.rot();
  const Vec3<int>& t = op.trn();
  const int u = wrap_near(r(0, 0) * c.u() + r(0, 1) * c.v() + r(0, 2) * c.w() + t[0], g.nu());
  if (u < asu.min().u() || u > asu.max().u()) return -1;
  const int v = wrap_near(r(1, 0) * c.u() + r(1, 1) * c.v() + r(1, 2) * c.w() + t[1], g.nv());
  if (v < asu.min().v() || v > asu.max().v()) return -1;
  const int w = wrap_near(r(2, 0) * c.u() + r(2, 1) * c.v() + r(2, 2) * c.w() + t[2], g.nw());
  if (w < asu.min().w() || w > asu.max().w()) return -1;
  return box.index(Coord_grid(u, v, w));
}

// The largest component, in size, of r o over the offsets o with every
// element in [lo, hi], lo <= 0 <= hi.
int turned_reach(const Mat33<int>& r, const int& lo, const int& hi) {
  int most = 0;
  for (int a = 0; a < 3; a++) {
    int up = 0, down = 0;  // sums of the positive and negative elements
    for (int j = 0; j < 3; j++) (r(a, j) > 0 ? up : down) += std::abs(r(a, j));
    most = std::max(most, std::max(up * hi - down * lo, down * hi - up * lo));
  }
  return most;
}

// An axis of the operator's rotation whose image has no u or v part, so
// that a walk along it stays on one w row; w when there is none.
int inner_axis(const Isymop& op) {
  for (int a : {2, 0, 1})
    if (op.rot()(0, a) == 0 && op.rot()(1, a) == 0) return a;
  return 2;
}

}  // namespace

// ------------------------------------------------------------ Xmap_cacheobj

Xmap_cacheobj::Xmap_cacheobj(const Key& xmap_cachekey)
    : key(xmap_cachekey), xtl_grid(xmap_cachekey.grid_sampling()) {
  const Spacegroup spacegroup(key.spgr_descr());
  asu_grid = Grid_range(xtl_grid, spacegroup.asu_min(), spacegroup.asu_max());
  map_grid = asu_grid;
  map_grid.add_border(1);

  nsym = spacegroup.op_count();
  isymop.resize(nsym);
  du.resize(nsym);
  dv.resize(nsym);
  dw.resize(nsym);
  const Coord_grid gu(1, 0, 0), gv(0, 1, 0), gw(0, 0, 1);
  for (int k = 0; k < nsym; k++) {
    isymop[k] = Isymop(spacegroup.symop(k), xtl_grid);
    // The storage-index step of a unit step after rotation; the
    // translation cancels in a difference of two points.
    const Mat33<int>& r = isymop[k].rot();
    du[k] = map_grid.index(Coord_grid(r * gu)) - map_grid.index(Coord_grid(0, 0, 0));
    dv[k] = map_grid.index(Coord_grid(r * gv)) - map_grid.index(Coord_grid(0, 0, 0));
    dw[k] = map_grid.index(Coord_grid(r * gw)) - map_grid.index(Coord_grid(0, 0, 0));
  }

  // Products through the operator codes on the group's own 24-grid.
  std::map<int, int> op_of_code;
  for (int k = 0; k < nsym; k++) op_of_code[Symop_code(spacegroup.isymop(k))] = k;
  symperm.resize(nsym, nsym);
  for (int i = 0; i < nsym; i++)
    for (int j = 0; j < nsym; j++)
      symperm(i, j) = static_cast<unsigned char>(
          op_of_code.at(Symop_code(spacegroup.isymop(i) * spacegroup.isymop(j))));

  asu.assign(map_grid.size(), unmarked);
  mark_asu_points();
  mark_other_points();

  measure_clearance();
  find_box_operators();

  run_axis.resize(nsym);
  for (int k = 0; k < nsym; k++) {
    run_axis[k] = inner_axis(isymop[k]);
    if (asu_runs[run_axis[k]].empty()) asu_runs[run_axis[k]] = runs_along(run_axis[k]);
  }
}

int Xmap_cacheobj::operator_to_asu(const Coord_grid& c, const int& k0) const {
  for (int k = k0; k < nsym; k++) {
    const int index = asu_box_image(isymop[k], c, xtl_grid, asu_grid, map_grid);
    if (index >= 0 && asu[index] == 0) return k;
  }
  return -1;
}

// Of each set of equivalent points in the ASU box, the first one met in
// storage order becomes the ASU point.
void Xmap_cacheobj::mark_asu_points() {
  for (Coord_grid c = asu_grid.min(); !(c.u() > asu_grid.max().u()); c.next(asu_grid))
    if (operator_to_asu(c, 1) < 0) asu[map_grid.index(c)] = 0;
}

// Every other point, border included, records the first operator (the
// identity first) that takes it onto an ASU point.
void Xmap_cacheobj::mark_other_points() {
  for (Coord_grid c = map_grid.min(); !(c.u() > map_grid.max().u()); c.next(map_grid)) {
    unsigned char& mark = asu[map_grid.index(c)];
    if (mark != unmarked) continue;
    const int k = operator_to_asu(c, 0);
    mark = static_cast<unsigned char>(k < 0 ? nsym + 1 : k + 1);
  }
}

// The clearance is one less than the distance, in steps along the axes
// (the largest of the three), from a point to the nearest point that is not
// an ASU point or lies outside the box. That distance, capped, is found by
// repeated erosion: each round takes the minimum over the 3 x 3 x 3 points
// around, one axis at a time, and adds one.
void Xmap_cacheobj::measure_clearance() {
  block_reach.resize(nsym * (max_block + 1));
  int most = 0;
  for (int k = 0; k < nsym; k++)
    for (int n = 0; n <= max_block; n++) {
      const int r = n == 0 ? 0 : turned_reach(isymop[k].rot(), -(n - 1) / 2, n / 2);
      block_reach[k * (max_block + 1) + n] = r;
      most = std::max(most, r);
    }
  const int cap = std::min(most, 3) + 1;  // what two bits hold
  const int nu = map_grid.nu(), nv = map_grid.nv(), nw = map_grid.nw();
  const std::size_t n = asu.size();
  std::vector<unsigned char> d(n), a(n), b(n);
  for (std::size_t i = 0; i < n; i++) d[i] = asu[i] == 0 ? cap : 0;
  // m = the minimum of x over the neighbours i - s, i, i + s along one axis
  // of len points (stride s), 0 at both ends of the axis; whole rows at a
  // time, so that the loops vectorise.
  const auto min3 = [](const unsigned char* x, unsigned char* m, const std::size_t& s,
                       const int& len, const std::size_t& count) {
    std::fill(m, m + s, 0);
    for (int p = 1; p + 1 < len; p++) {
      const unsigned char *c = x + p * s, *below = c - s, *above = c + s;
      unsigned char* o = m + p * s;
      for (std::size_t j = 0; j < count; j++) o[j] = std::min(std::min(below[j], c[j]), above[j]);
    }
    if (len > 1) std::fill(m + (len - 1) * s, m + len * s, 0);
  };
  const std::size_t row = nw, plane = std::size_t(nv) * nw;
  for (int round = 1; round < cap; round++) {
    // Along w: each row, its ends 0.
    for (std::size_t r = 0; r < n; r += row) {
      const unsigned char* x = &d[r];
      unsigned char* m = &a[r];
      m[0] = 0;
      for (int w = 1; w + 1 < nw; w++) m[w] = std::min(std::min(x[w - 1], x[w]), x[w + 1]);
      m[nw - 1] = 0;
    }
    for (std::size_t q = 0; q < n; q += plane) min3(&a[q], &b[q], row, nv, row);  // along v
    min3(b.data(), a.data(), plane, nu, plane);                                   // along u
    bool changed = false;
    for (std::size_t i = 0; i < n; i++) {
      const unsigned char next = std::min<int>(d[i], a[i] + 1);
      changed |= next != d[i];
      d[i] = next;
    }
    if (!changed) break;
  }
  clearance.assign((n + 3) / 4, 0);
  for (std::size_t i = 0; i < n; i++)
    if (d[i] > 1) clearance[i >> 2] |= static_cast<unsigned char>((d[i] - 1) << (2 * (i & 3)));
}

// A box's operator is the first that takes its first corner onto an ASU
// point around which the turned box fits; boxes that straddle an edge of
// the ASU's images get none.
void Xmap_cacheobj::find_box_operators() {
  const int side = 1 << coarse_shift;
  coarse_grid = Grid((xtl_grid.nu() + side - 1) / side, (xtl_grid.nv() + side - 1) / side,
                     (xtl_grid.nw() + side - 1) / side);
  coarse_op.assign(std::size_t(coarse_grid.nu()) * coarse_grid.nv() * coarse_grid.nw(), no_op);
  std::size_t i = 0;
  for (int u = 0; u < coarse_grid.nu(); u++)
    for (int v = 0; v < coarse_grid.nv(); v++)
      for (int w = 0; w < coarse_grid.nw(); w++, i++) {
        const Coord_grid corner(side * u, side * v, side * w);
        const int k = operator_to_asu(corner, 0);
        if (k < 0) continue;
        const int index = asu_box_image(isymop[k], corner, xtl_grid, asu_grid, map_grid);
        if (clearance_at(clearance.data(), index) >= turned_reach(isymop[k].rot(), 0, side - 1))
          coarse_op[i] = static_cast<unsigned char>(k);
      }
}

std::vector<Asu_run> Xmap_cacheobj::runs_along(const int& a) const {
  const int stride = a == 0 ? map_grid.nv() * map_grid.nw() : (a == 1 ? map_grid.nw() : 1);
  const int o1 = a == 0 ? 1 : 0, o2 = a == 2 ? 1 : 2;
  std::vector<Asu_run> runs;
  for (int i1 = asu_grid.min()[o1]; i1 <= asu_grid.max()[o1]; i1++)
    for (int i2 = asu_grid.min()[o2]; i2 <= asu_grid.max()[o2]; i2++) {
      Coord_grid c;
      c[o1] = i1;
      c[o2] = i2;
      c[a] = asu_grid.min()[a];
      bool open = false;
      for (int index = map_grid.index(c); c[a] <= asu_grid.max()[a]; c[a]++, index += stride) {
        const bool in_asu = asu[index] == 0;
        if (in_asu && open) {
          runs.back().length++;
        } else if (in_asu) {
          runs.push_back(Asu_run{c, index, 1});
        }
        open = in_asu;
      }
    }
  return runs;
}

bool Xmap_cacheobj::matches(const Key& xmap_cachekey) const {
  return key.spgr_descr().hash() == xmap_cachekey.spgr_descr().hash() &&
         xtl_grid == xmap_cachekey.grid_sampling();
}

String Xmap_cacheobj::format() const {
  return key.spgr_descr().symbol_hall() + " " + xtl_grid.format();
}

// ---------------------------------------------------------------- Xmap_base

Xmap_base::Xmap_base()
    : asu_(nullptr),
      isymop_(nullptr),
      du_(nullptr),
      dv_(nullptr),
      dw_(nullptr),
      symperm_(nullptr),
      clearance_(nullptr),
      block_reach_(nullptr),
      coarse_op_(nullptr),
      coarse_nv_(0),
      coarse_nw_(0),
      nsym_(0),
      storage_size_(0) {
  Message::message(message_ctor_xmap);
}

void Xmap_base::init(const Spacegroup& spacegroup, const Cell& cell,
                     const Grid_sampling& grid_sam) {
  spacegroup_ = spacegroup;
  cell_ = cell;
  grid_sam_ = grid_sam;
  if (spacegroup_.is_null() || cell_.is_null()) return;
  grid_sam_.check_map_grid("Xmap");
  grid_sam_.check_suits(spacegroup_, "Xmap");

  cacheref_ = VantrelInstantiator::instance().cache<Xmap_cacheobj>().lookup(
      Xmap_cachekey(spacegroup, grid_sam));
  const Xmap_cacheobj& tables = cacheref_.data();
  asu_ = tables.asu.data();
  isymop_ = tables.isymop.data();
  du_ = tables.du.data();
  dv_ = tables.dv.data();
  dw_ = tables.dw.data();
  symperm_ = &tables.symperm(0, 0);
  clearance_ = tables.clearance.data();
  block_reach_ = tables.block_reach.data();
  coarse_op_ = tables.coarse_op.data();
  coarse_nv_ = tables.coarse_grid.nv();
  coarse_nw_ = tables.coarse_grid.nw();
  asu_grid_ = tables.asu_grid;
  map_grid_ = tables.map_grid;
  nsym_ = tables.nsym;
  storage_size_ = map_grid_.size();

  rt_grid_orth_ = RTop<double>(cell_.orth_matrix() * grid_sam_.matrix_grid_frac());
  rt_orth_grid_ = rt_grid_orth_.inverse();
}

// The operators are tried in order; most are rejected after one row of
// the rotation.
void Xmap_base::search_sym(const Coord_grid& cu, int& index, int& sym) const {
  for (sym = 1; sym < nsym_; sym++) {
    index = asu_box_image(isymop_[sym], cu, grid_sam_, asu_grid_, map_grid_);
    if (index >= 0 && asu_[index] == 0) return;
  }
  index = 0;
  asu_error();
}

int Xmap_base::multiplicity(const Coord_grid& c) const {
  const Coord_grid cu = to_unit(c);
  int mult = 1;
  for (int k = 1; k < nsym_; k++)
    if (to_unit(isymop_[k] * cu) == cu) mult++;
  return mult;
}

void Xmap_base::asu_error() const {
  const String tables = cacheref_.is_null() ? String("") : cacheref_.data().format();
  fatal("Xmap: Internal map ASU error - " + tables);
}

// ---------------------------------------------------- Map_reference_coord

Xmap_base::Map_reference_coord& Xmap_base::Map_reference_coord::set_coord(const Coord_grid& pos) {
  pos_ = pos;
  const Coord_grid image = map_->to_unit(map_->isymop_[sym_] * pos);
  if (map_->asu_grid_.in_grid(image)) {
    index_ = map_->map_grid_.index(image);
    if (map_->asu_[index_] == 0) return *this;
  }
  map_->find_sym(pos, index_, sym_);
  return *this;
}

void Xmap_base::Map_reference_coord::edge() {
  const int s = map_->asu_[index_] - 1;
  const Coord_grid image = map_->to_unit(map_->isymop_[s] * map_->coord_of(index_));
  index_ = map_->map_grid_.index(image);
  sym_ = map_->symperm_[s * map_->nsym_ + sym_];
}

}  // namespace vantrel
