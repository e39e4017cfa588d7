#include "model/mmdb_manager.h"

#include "foundation/message.h"
#include "foundation/util.h"
#include "foundation/vstring.h"

namespace vantrel {

MMDBManager::MMDBManager() {
  mmdb::InitMatType();
  Message::message(Message_ctor(" [MMDBManager: constructed>"));
}

MMDBManager::~MMDBManager() { Message::message(Message_dtor(" <MMDBManager: destroyed]")); }

// The library's accessors are not const-qualified; none of those used here
// changes the manager.
Cell MMDBManager::cell() const {
  auto& mmdb = const_cast<MMDBManager&>(*this);
  // The cell on its own: the library reports no crystal information when it
  // does not know the group's name ("C 2"), yet holds the file's cell.
  if (!mmdb.isCellInfo()) return Cell();
  double a, b, c, alpha, beta, gamma, volume;
  int orth_code;
  mmdb.GetCell(a, b, c, alpha, beta, gamma, volume, orth_code);
  return Cell(Cell_descr(a, b, c, Util::d2rad(alpha), Util::d2rad(beta), Util::d2rad(gamma)));
}

void MMDBManager::set_cell(const Cell& cell) {
  SetCell(cell.a(), cell.b(), cell.c(), cell.alpha_deg(), cell.beta_deg(), cell.gamma_deg(), 0);
}

Spacegroup MMDBManager::spacegroup() const {
  auto& mmdb = const_cast<MMDBManager&>(*this);
  if (mmdb.isSpaceGroup()) {
    String ops;
    for (int i = 0; i < mmdb.GetNumberOfSymOps(); ++i) ops += String(mmdb.GetSymOp(i)) + ";";
    return Spacegroup(Spgr_descr(ops, Spgr_descr::Symops));
  }
  // Without operators the library's name may still name the group
  // (without SYMINFO).
  if (const char* text = mmdb.GetSpaceGroup()) {
    const String symbol = String(text).trim();
    if (symbol.find_first_of("PABCFIR") != String::npos)
      return Spacegroup(Spgr_descr(symbol, Spgr_descr::HM));
  }
  // A name the library's table lacks is kept only as read: a short form
  // ("P 21", "C 2", "P212121") names a group, anything else
  // ("P4(3)2(1)2", "P 1-") leaves the group unknown.
  const String read = String(mmdb.GetCrystData()->spaceGroup).trim();
  if (Spgr_descr::is_hm_name(read)) return Spacegroup(Spgr_descr(read, Spgr_descr::HM));
  return Spacegroup();
}

void MMDBManager::set_spacegroup(const Spacegroup& spacegroup) {
  SetSpaceGroup(spacegroup.symbol_hm().c_str());
}

}  // namespace vantrel
