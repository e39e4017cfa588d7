#include "reflections/hkl_info.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <unordered_set>
#include <utility>

#include "foundation/message.h"

namespace vantrel {

namespace {

// Messages are constructed on first use, so that lists built by any static
// initialiser find them ready.
const Message_ctor& message_ctor_hkl_info() {
  static const Message_ctor message(" [HKL_info: constructed]");
  return message;
}

const Message_fatal& message_recip_asu_error() {
  static const Message_fatal message("HKL_info: find_sym reciprocal space ASU error");
  return message;
}

// Every index of the box |h|, |k|, |l| <= lim, h slowest and l fastest,
// that lies in the reciprocal ASU, passes inside() and is not
// systematically absent.
template <class Inside>
std::vector<HKL> asu_reflections(const Spacegroup& sg, const HKL& lim, const Inside& inside) {
  std::vector<HKL> kept;
  for (int h = -lim.h(); h <= lim.h(); ++h)
    for (int k = -lim.k(); k <= lim.k(); ++k)
      for (int l = -lim.l(); l <= lim.l(); ++l) {
        const HKL hkl(h, k, l);
        if (sg.recip_asu(hkl) && inside(hkl) && !sg.hkl_class(hkl).is_absent()) kept.push_back(hkl);
      }
  return kept;
}

// Limits on a generated list: lists beyond them would not fit in memory,
// or take hours to build.
constexpr double max_reflections = 134217728.0;  // 2^27
constexpr double max_box = 4294967296.0;         // 2^32 indices visited

// Fatal, before any work, when a list generated within the index limits
// (h, k, l) would be too large. The reflections inside are estimated as
// the ellipsoid within the box over the Laue group's order.
void check_list_size(const Spacegroup& sg, const double& h, const double& k, const double& l) {
  const double box = (2.0 * h + 1.0) * (2.0 * k + 1.0) * (2.0 * l + 1.0);
  const double reflections = Util::pi() / 6.0 * box / (2.0 * sg.noninversion_count());
  if (box <= max_box && reflections <= max_reflections) return;
  fatal("HKL_info: reflection list too large: about " + String(reflections, 0, 3) +
        " reflections within index limits (" + String(h, 0, 12) + ", " + String(k, 0, 12) + ", " +
        String(l, 0, 12) + ")");
}

}  // namespace

// ---------------------------------------------------------------- HKL_lookup

void HKL_lookup::init(const std::vector<HKL>& hkls) {
  hmin_ = empty_min;
  hmax_ = empty_max;
  hrows_.clear();
  if (hkls.empty()) return;

  for (const HKL& r : hkls) {
    hmin_ = std::min(hmin_, r.h());
    hmax_ = std::max(hmax_, r.h());
  }
  hrows_.resize(hmax_ - hmin_ + 1);

  for (const HKL& r : hkls) {
    klookup& kl = hrows_[r.h() - hmin_];
    kl.min = std::min(kl.min, r.k());
    kl.max = std::max(kl.max, r.k());
  }
  for (klookup& kl : hrows_)
    if (kl.min <= kl.max) kl.rows.resize(kl.max - kl.min + 1);

  for (const HKL& r : hkls) {
    klookup& kl = hrows_[r.h() - hmin_];
    llookup& ll = kl.rows[r.k() - kl.min];
    ll.min = std::min(ll.min, r.l());
    ll.max = std::max(ll.max, r.l());
  }
  for (klookup& kl : hrows_)
    for (llookup& ll : kl.rows)
      if (ll.min <= ll.max) ll.index.assign(ll.max - ll.min + 1, -1);

  for (int i = 0; i < int(hkls.size()); ++i) {
    const HKL& r = hkls[i];
    klookup& kl = hrows_[r.h() - hmin_];
    llookup& ll = kl.rows[r.k() - kl.min];
    ll.index[r.l() - ll.min] = i;
  }
}

void HKL_lookup::debug() const {
  std::size_t slots = 0;
  for (const klookup& kl : hrows_)
    for (const llookup& ll : kl.rows) slots += ll.index.size();
  std::cout << "lookup: size " << slots << "\n";
}

// ------------------------------------------------------------------ HKL_info

HKL_info::HKL_info() { Message::message(message_ctor_hkl_info()); }

HKL_info::HKL_info(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
                   const bool& generate) {
  Message::message(message_ctor_hkl_info());
  init(spacegroup, cell, resolution, generate);
}

void HKL_info::init(const Spacegroup& spacegroup, const Cell& cell, const Resolution& resolution,
                    const bool& generate) {
  spacegroup_ = spacegroup;
  cell_ = cell;
  resolution_ = resolution;
  if (is_null()) return;

  if (generate)
    generate_hkl_list();
  else
    set_hkl_list({});
}

void HKL_info::init(const Spacegroup& spacegroup, const Cell& cell, const HKL_sampling& sampling,
                    const bool& generate) {
  spacegroup_ = spacegroup;
  cell_ = cell;
  hkl_sampling_ = sampling;
  if (spacegroup_.is_null() || cell_.is_null() || hkl_sampling_.is_null()) return;

  const HKL lim = hkl_sampling_.hkl_limit();
  if (generate) check_list_size(spacegroup_, lim.h(), lim.k(), lim.l());
  resolution_ = hkl_sampling_.resolution(cell_);
  if (!generate) {
    set_hkl_list({});
    return;
  }
  // The integer form decides membership, so equal samplings give identical
  // lists whatever their cells.
  const std::int64_t q_limit = HKL_sampling::sqrt_limit_value * HKL_sampling::sqrt_limit_value;
  set_hkl_list(asu_reflections(spacegroup_, lim, [&](const HKL& hkl) {
    return hkl_sampling_.quadratic_form(hkl) <= q_limit;
  }));
}

void HKL_info::set_hkl_list(std::vector<HKL> hkls) {
  hkl_list_ = std::move(hkls);
  update_hkl_list();
}

void HKL_info::generate_hkl_list() {
  if (is_null()) return;  // no limits to generate within
  const double dmin = resolution_.limit();
  const double h = std::floor(cell_.a() / dmin), k = std::floor(cell_.b() / dmin),
               l = std::floor(cell_.c() / dmin);
  check_list_size(spacegroup_, h, k, l);
  const HKL lim{int(h), int(k), int(l)};
  const double s_lim = resolution_.invresolsq_limit();
  set_hkl_list(asu_reflections(spacegroup_, lim,
                               [&](const HKL& hkl) { return hkl.invresolsq(cell_) < s_lim; }));
}

void HKL_info::add_hkl_list(const std::vector<HKL>& add) {
  // Membership is judged against the list as it stood before this call and
  // the reflections already taken from add, so a reflection given together
  // with a symmetry or Friedel mate is stored once; a failing find_sym
  // leaves the list unchanged.
  const double s_lim = resolution_.invresolsq_limit();
  int sym;
  bool friedel;
  std::vector<HKL> added;
  std::unordered_set<std::uint64_t> taken;
  for (const HKL& hkl : add) {
    if (hkl.invresolsq(cell_) > s_lim) continue;
    const HKL asu = find_sym(hkl, sym, friedel);
    // Indices within a resolution limit fit 21 bits each.
    const std::uint64_t key = (std::uint64_t(asu.h() + (1 << 20)) << 42) |
                              (std::uint64_t(asu.k() + (1 << 20)) << 21) |
                              std::uint64_t(asu.l() + (1 << 20));
    if (lookup_.index_of(asu) < 0 && taken.insert(key).second) added.push_back(asu);
  }
  hkl_list_.insert(hkl_list_.end(), added.begin(), added.end());
  update_hkl_list();
}

void HKL_info::update_hkl_list() {
  lookup_.init(hkl_list_);
  const int n = num_reflections();
  hkl_classes_.resize(n);
  invresolsq_.resize(n);
  invresolsq_range_ = Range<double>();
  for (int i = 0; i < n; ++i) {
    hkl_classes_[i] = spacegroup_.hkl_class(hkl_list_[i]);
    invresolsq_[i] = float(hkl_list_[i].invresolsq(cell_));
    invresolsq_range_.include(invresolsq_[i]);
  }
}

HKL HKL_info::find_sym(const HKL& hkl, int& sym, bool& friedel) const {
  for (int s = 0; s < spacegroup_.primitive_count(); ++s) {
    const HKL equiv = hkl.transform(spacegroup_.isymop(s));
    if (spacegroup_.recip_asu(equiv)) {
      sym = s;
      friedel = false;
      return equiv;
    }
    const HKL mate = -equiv;
    if (spacegroup_.recip_asu(mate)) {
      sym = s;
      friedel = true;
      return mate;
    }
  }
  fatal(message_recip_asu_error().text());
}

void HKL_info::debug() const { std::cout << "Num reflns " << num_reflections() << "\n"; }

}  // namespace vantrel
