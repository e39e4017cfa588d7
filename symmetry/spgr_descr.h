// Space-group descriptor: the group hash and generator operators of a space
// group, made from a Hall or Hermann-Mauguin symbol, a number or an operator
// list, together with the operator-code group algebra (Hall parsing,
// expansion, hash and operator subsets).
#ifndef VANTREL_SYMMETRY_SPGR_DESCR_H
#define VANTREL_SYMMETRY_SPGR_DESCR_H

#include <cstdint>
#include <vector>

#include "foundation/vstring.h"
#include "symmetry/symop.h"

namespace vantrel {

//! Compact, comparable identity of a space group: hash and generators.
class Spgr_descr {
 public:
  //! Kind of a space-group text; Detect works the kind out from the text.
  enum TYPE { Hall = 0, HM = 1, Symops = 2, Number = 3, Detect = 4 };

  //! A list of operator codes with the group algebra of the symmetry layer.
  /*! Products are of decoded operators, A x B = (Ra Rb, Ra tb + ta) (B
    applied first), taken on the 1/24 grid. */
  class Symop_codes : public std::vector<Symop_code> {
   public:
    //! The largest group the expansion accepts (Fm-3m has 192 operators).
    static constexpr int max_group_size = 192;

    //! Replace the list by the operators of a Hall symbol (not expanded).
    void init_hall(const String& symbol);
    //! Replace the list by the operators of a ';'-separated operator text.
    void init_symops(const String& symops);

    //! Closure under multiplication, identity first, in discovery order.
    Symop_codes expand() const;
    //! Group hash: CRC-32/MPEG-2 of the sorted codes of the expansion.
    std::uint32_t hash() const;
    //! This list followed by every this[j] x op for each op of other.
    Symop_codes product(const Symop_codes& other) const;

    Symop_codes inversion_ops() const;
    Symop_codes primitive_ops() const;
    Symop_codes primitive_noninversion_ops() const;
    Symop_codes centering_ops() const;
    Symop_codes laue_ops() const;
    Symop_codes pgrp_ops() const;
    Symop_codes patterson_ops() const;
    //! A short generator list, centring translations first.
    Symop_codes generator_ops() const;
  };

  //! The null descriptor: hash 0, no generators.
  Spgr_descr() : hash_(0) {}
  //! From a text of the given kind. A Hermann-Mauguin name is found in
  //! the table as written, then with any blanks and case, in the short
  //! monoclinic form ("P 21/c"), with an H lattice for hexagonal axes
  //! ("H 3") or a setting after a colon ("R 3:R"), and finally compact
  //! ("P212121", "C2"). Detect: a text with parentheses is a Hall symbol,
  //! with commas an operator list, a whole number a group number; any
  //! other text is a name, else a complete Hall symbol, else fatal.
  explicit Spgr_descr(const String& text, TYPE type = Detect);
  //! True when the text names a group as a Hermann-Mauguin name, that is
  //! when the constructor with HM would find it rather than fail.
  static bool is_hm_name(const String& text);
  //! From an International Tables number, in the preferred setting.
  explicit Spgr_descr(const int& number);
  //! From a list of operator codes (expanded as needed).
  explicit Spgr_descr(const Symop_codes& ops);

  const std::uint32_t& hash() const { return hash_; }
  const Symop_codes& generator_ops() const { return generators_; }

  //! Number of the first table row with this hash; 0 when there is none.
  int spacegroup_number() const;
  //! Hall symbol of the first table row with this hash, or "Unknown".
  String symbol_hall() const;
  //! Hermann-Mauguin symbol of the first table row with this hash, or
  //! "Unknown".
  String symbol_hm() const;

  //! '1'/'2' sets the preferred origin choice, 'H'/'R' the preferred axes
  //! of rhombohedral groups; other characters change nothing.
  static void set_preferred(const char& c);

 protected:
  std::uint32_t hash_;
  Symop_codes generators_;

 private:
  void init(const Symop_codes& ops);
  static char pref_12;  //!< preferred origin choice, initially '1'
  static char pref_hr;  //!< preferred axes, initially 'H'
};

}  // namespace vantrel

#endif
