#include "maps/nxmap.h"

#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>

#include "foundation/message.h"
#include "maps/xmap_base.h"

namespace vantrel {

namespace {

// Constructed on first use, so that box maps built by any static initialiser
// find it ready.
const Message_ctor& message_ctor_nxmap() {
  static const Message_ctor message(" [NXmap: constructed]");
  return message;
}

RTop<int> zero_rtop_int() {
  return RTop<int>(Mat33<int>(0, 0, 0, 0, 0, 0, 0, 0, 0), Vec3<int>::zero());
}

RTop<double> rounded(const RTop<double>& op) {
  RTop<double> r = op;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) r.rot()(i, j) = std::rint(op.rot()(i, j));
    r.trn()[i] = std::rint(op.trn()[i]);
  }
  return r;
}

const double integral_tolerance = 0.01;

// An operator is integral when its rounded form lies within the tolerance.
bool is_integral(const RTop<double>& op, const RTop<double>& round) {
  return op.rot().equals(round.rot(), integral_tolerance) &&
         op.trn().equals(round.trn(), integral_tolerance);
}

bool is_identity(const Mat33<double>& rot) {
  return rot.equals(Mat33<double>::identity(), integral_tolerance);
}

void debug_rtop(const RTop<double>& op) {
  std::cout << op.rot().format() << "\n" << op.trn().format() << "\n";
}

}  // namespace

// ---------------------------------------------------------------- NXmap_base

NXmap_base::NXmap_base()
    : grid_(0, 0, 0),
      orth_to_grid_(RTop<double>::null()),
      grid_to_orth_(RTop<double>::null()),
      stride_u_(0),
      stride_v_(0),
      stride_w_(0) {
  Message::message(message_ctor_nxmap());
}

void NXmap_base::init(const Grid& grid, const RTop<double>& orth_to_grid) {
  const std::int64_t points = std::int64_t(grid.nu()) * grid.nv() * grid.nw();
  if (grid.nu() < 0 || grid.nv() < 0 || grid.nw() < 0 || points > std::numeric_limits<int>::max())
    fatal("NXmap: invalid grid " + grid.format());
  grid_ = grid;
  orth_to_grid_ = orth_to_grid;
  grid_to_orth_ = orth_to_grid.inverse();
  stride_u_ = grid.nv() * grid.nw();
  stride_v_ = grid.nw();
  stride_w_ = 1;
}

void NXmap_base::init(const Cell& cell, const Grid_sampling& sampling, const Grid_range& range) {
  const Coord_grid& corner = range.min();
  const RTop<double> op(sampling.matrix_frac_grid() * cell.frac_matrix(), -Vec3<double>(corner));
  init(Grid(range.nu(), range.nv(), range.nw()), op);
}

bool NXmap_base::is_null() const {
  return Util::is_nan(orth_to_grid_.rot()(0, 0)) || Util::is_nan(orth_to_grid_.trn()[0]);
}

// --------------------------------------------------------------- NX_operator

// Every operator is set, so that a null operator copies cleanly.
NX_operator::NX_operator()
    : xfrac_to_nxgrid_(RTop<double>::null()),
      nxgrid_to_xfrac_(RTop<double>::null()),
      xgrid_to_nxgrid_(RTop<double>::null()),
      nxgrid_to_xgrid_(RTop<double>::null()),
      xgrid_to_nxgrid_int_(zero_rtop_int()),
      nxgrid_to_xgrid_int_(zero_rtop_int()),
      x_to_nx_is_int_(false),
      x_to_nx_is_trn_(false),
      nx_to_x_is_int_(false),
      nx_to_x_is_trn_(false) {}

NX_operator::NX_operator(const Xmap_base& xmap, const NXmap_base& nxmap, const RTop_orth& rtop) {
  init(xmap, nxmap, rtop);
}

NX_operator::NX_operator(const Cell& cell, const Grid_sampling& sampling, const NXmap_base& nxmap,
                         const RTop_orth& rtop) {
  init(cell, sampling, nxmap, rtop);
}

void NX_operator::init(const Xmap_base& xmap, const NXmap_base& nxmap, const RTop_orth& rtop) {
  init(xmap.cell(), xmap.grid_sampling(), nxmap, rtop);
}

void NX_operator::init(const Cell& cell, const Grid_sampling& sampling, const NXmap_base& nxmap,
                       const RTop_orth& rtop) {
  nxgrid_to_xfrac_ = RTop<double>(cell.frac_matrix()) * RTop<double>(rtop) * nxmap.grid_to_orth();
  nxgrid_to_xgrid_ = RTop<double>(sampling.matrix_frac_grid()) * nxgrid_to_xfrac_;
  xfrac_to_nxgrid_ = nxgrid_to_xfrac_.inverse();
  xgrid_to_nxgrid_ = nxgrid_to_xgrid_.inverse();

  const RTop<double> x_to_nx_round = rounded(xgrid_to_nxgrid_);
  const RTop<double> nx_to_x_round = rounded(nxgrid_to_xgrid_);
  xgrid_to_nxgrid_int_ = RTop<int>(Mat33<int>(x_to_nx_round.rot()), Vec3<int>(x_to_nx_round.trn()));
  nxgrid_to_xgrid_int_ = RTop<int>(Mat33<int>(nx_to_x_round.rot()), Vec3<int>(nx_to_x_round.trn()));
  x_to_nx_is_int_ = is_integral(xgrid_to_nxgrid_, x_to_nx_round);
  x_to_nx_is_trn_ = x_to_nx_is_int_ && is_identity(x_to_nx_round.rot());
  nx_to_x_is_int_ = is_integral(nxgrid_to_xgrid_, nx_to_x_round);
  nx_to_x_is_trn_ = nx_to_x_is_int_ && is_identity(nx_to_x_round.rot());
}

bool NX_operator::is_null() const {
  return Util::is_nan(xfrac_to_nxgrid_.rot()(0, 0)) || Util::is_nan(xfrac_to_nxgrid_.trn()[0]);
}

void NX_operator::debug() const {
  std::cout << " X->NX is int? " << x_to_nx_is_int_ << "\n";
  std::cout << " X->NX is trn? " << x_to_nx_is_trn_ << "\n";
  debug_rtop(xgrid_to_nxgrid_);
  std::cout << " NX->X is int? " << nx_to_x_is_int_ << "\n";
  std::cout << " NX->X is trn? " << nx_to_x_is_trn_ << "\n";
  debug_rtop(nxgrid_to_xgrid_);
}

}  // namespace vantrel
