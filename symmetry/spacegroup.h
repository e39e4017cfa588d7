// Space group: a descriptor plus a counted reference to the derived tables of
// that group (operators in canonical order, counts, Laue group, asymmetric
// units), built once per group and shared through the library's cache.
#ifndef VANTREL_SYMMETRY_SPACEGROUP_H
#define VANTREL_SYMMETRY_SPACEGROUP_H

#include <vector>

#include "foundation/object_cache.h"
#include "symmetry/coords.h"
#include "symmetry/hkl_class.h"
#include "symmetry/spacegroup_tables.h"
#include "symmetry/spgr_descr.h"
#include "symmetry/symop.h"

namespace vantrel {

//! The shared derived tables of one space group, keyed by its hash.
/*! Canonical operator order: the primitive non-inversion operators by
  ascending code (identity first), then for a centric group the same times
  the inversion, then for each further centring translation every operator
  so far times that translation. Immutable after construction. */
class Spgr_cacheobj {
 public:
  typedef Spgr_descr Key;
  static constexpr CacheSlot cache_slot = CacheSlot::Spacegroup;

  explicit Spgr_cacheobj(const Key& spgr_cachekey);
  //! true when the descriptor has the same group hash
  bool matches(const Key& spgr_cachekey) const { return spgr_cachekey.hash() == key.hash(); }
  //! the Hall symbol of the group, for the cache's leak report
  String format() const { return key.symbol_hall(); }

  Key key;                           //!< the descriptor the entry was built from
  int op_count;                      //!< all operators, centring included
  int noninversion_count;            //!< primitive operators without the inversion
  int inversion_count;               //!< 2 for a centric group, else 1
  int centring_count;                //!< centring translations, identity included
  int primitive_count;               //!< noninversion_count * inversion_count
  int laue_row;                      //!< row of data::lgdata
  std::vector<Symop> symop_table;    //!< operators, translations in 24ths
  std::vector<Isymop> isymop_table;  //!< the same on the grid 24x24x24
  Coord_frac asu_min;                //!< lower corner of the real-space ASU box
  Coord_frac asu_max;                //!< upper corner of the real-space ASU box
};

//! A space group: operators, reflection classes, asymmetric units, symbols.
/*! A copy shares the tables of the original and holds its own reference on
  them. Operations that read operators or asymmetric units need a non-null
  group (test is_null() first); a null group has no operators. */
class Spacegroup : public Spgr_descr {
 public:
  enum TYPE { Null = 0, P1 = 1 };
  enum AXIS { A = 0, B = 1, C = 2 };

  //! the null space group
  Spacegroup() : Spacegroup(Null) {}
  //! Null: the null group; P1: the group of "x,y,z"
  explicit Spacegroup(TYPE type);
  Spacegroup(const Spgr_descr& spgr_descr);
  //! attach to the shared tables of the descriptor's group
  void init(const Spgr_descr& spgr_descr);
  bool is_null() const { return cacheref_.is_null(); }

  int op_count() const { return op_count_; }
  int primitive_count() const { return primitive_count_; }
  int noninversion_count() const { return noninversion_count_; }
  int inversion_count() const { return inversion_count_; }
  //! operator i in canonical order (operator 0 is the identity)
  const Symop& symop(const int& i) const { return symops_[i]; }
  //! operator i on the grid 24x24x24
  const Isymop& isymop(const int& i) const { return isymops_[i]; }

  //! true when hkl lies in the reciprocal asymmetric unit
  bool recip_asu(const HKL& hkl) const { return asu_test_(hkl[0], hkl[1], hkl[2]); }
  //! the class (epsilon, centric phase, absence) of a reflection
  HKL_class hkl_class(const HKL& hkl) const { return HKL_class(*this, hkl); }

  //! index of the operator equal to symop(s1) x symop(s2)
  int product_op(const int& s1, const int& s2) const;
  //! index of the inverse of operator s
  int inverse_op(const int& s) const;
  //! number of proper primitive rotations leaving the axis fixed
  int order_of_symmetry_about_axis(const AXIS axis) const;
  //! true when the group holds every operator with its translation negated
  bool invariant_under_change_of_hand() const;

  const Coord_frac& asu_min() const { return cacheref_->asu_min; }
  const Coord_frac& asu_max() const { return cacheref_->asu_max; }
  //! symbol of the Laue group, e.g. "mmm"
  String symbol_laue() const;
  //! the number, counts, Hall symbol and operators on standard output
  void debug() const;

 private:
  ObjectCache<Spgr_cacheobj>::Reference cacheref_;
  const Symop* symops_;
  const Isymop* isymops_;
  data::ASUfn asu_test_;
  int op_count_, noninversion_count_, inversion_count_, primitive_count_;
};

//! Orders candidate ASU boxes by volume, then by extent along b, then a.
struct Compare_grid {
  bool operator()(const Vec3<double>& a, const Vec3<double>& b) const { return key(a) < key(b); }
  static double key(const Vec3<double>& c) {
    return c[0] * c[1] * c[2] + 0.001 * c[1] + 0.00001 * c[0];
  }
};

//! Upper corner (fractions) of the smallest candidate box from the origin
//! that holds a point of every orbit of the operators on a 24^3 grid.
Vec3<double> real_asu(const Spgr_descr::Symop_codes& ops);
//! true when the predicate accepts exactly one of each set of indices
//! (Friedel mates included) related by the operators' rotations, checked
//! over |h|, |k|, |l| <= 2.
bool reci_asu(const Spgr_descr::Symop_codes& ops, data::ASUfn asu);

}  // namespace vantrel

#endif
