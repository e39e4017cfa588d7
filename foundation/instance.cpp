#include "foundation/instance.h"

#include <cxxabi.h>

#include <cstdlib>
#include <string>

#include "foundation/message.h"

namespace vantrel {

namespace {

// The readable name of a type, for the slot-clash message.
std::string type_name(const std::type_info& type) {
  int status = 0;
  char* name = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  const std::string text = status == 0 ? name : type.name();
  std::free(name);
  return text;
}

}  // namespace

VantrelInstance::~VantrelInstance() {
  const CacheSlot purge_order[nslots] = {CacheSlot::Map, CacheSlot::ReflectionList,
                                         CacheSlot::Spacegroup};
  for (CacheSlot s : purge_order)
    if (slots_[static_cast<int>(s)]) slots_[static_cast<int>(s)]->purge();
  // Destroying a cache reports its leaks; reflection lists and maps first.
  for (int i = nslots - 1; i >= 0; --i) slots_[i].reset();
}

void VantrelInstance::slot_clash(const std::type_info& held, const std::type_info& wanted) {
  fatal("VantrelInstance: two entry types share one cache slot: " + type_name(held) + " and " +
        type_name(wanted));
}

VantrelInstance& VantrelInstantiator::instance() {
  static VantrelInstance inst;
  return inst;
}

}  // namespace vantrel
