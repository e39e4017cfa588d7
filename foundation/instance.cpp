#include "foundation/instance.h"

namespace vantrel {

VantrelInstance::~VantrelInstance() {
  const CacheSlot purge_order[nslots] = {CacheSlot::Map, CacheSlot::ReflectionList,
                                         CacheSlot::Spacegroup};
  for (CacheSlot s : purge_order)
    if (slots_[static_cast<int>(s)]) slots_[static_cast<int>(s)]->purge();
  // Destroying a cache reports its leaks; reflection lists and maps first.
  for (int i = nslots - 1; i >= 0; --i) slots_[i].reset();
}

void VantrelInstance::slot_clash() {
  Message::message(Message_fatal("VantrelInstance: two entry types share one cache slot"));
}

VantrelInstance& VantrelInstantiator::instance() {
  static VantrelInstance inst;
  return inst;
}

}  // namespace vantrel
