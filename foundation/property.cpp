#include "foundation/property.h"

#include <algorithm>

#include "foundation/message.h"

namespace vantrel {

PropertyManager& PropertyManager::copy(const PropertyManager& m) {
  if (&m == this) return *this;
  property_.clear();
  property_.reserve(m.property_.size());
  for (const Entry& e : m.property_)
    property_.emplace_back(e.first, std::unique_ptr<Property_base>(e.second->clone()));
  return *this;
}

bool PropertyManager::set_property(const std::string& label, const Property_base& p) {
  property_.emplace_back(label, std::unique_ptr<Property_base>(p.clone()));
  return true;
}

std::vector<PropertyManager::Entry>::const_iterator PropertyManager::find(
    const std::string& label) const {
  return std::find_if(property_.begin(), property_.end(),
                      [&label](const Entry& e) { return e.first == label; });
}

const Property_base& PropertyManager::get_property(const std::string& label) const {
  const auto it = find(label);
  if (it == property_.end()) fatal("PropertyManager: label not found.\n");
  return *it->second;
}

bool PropertyManager::exists_property(const std::string& label) const {
  return find(label) != property_.end();
}

bool PropertyManager::delete_property(const std::string& label) {
  const auto it = find(label);
  if (it == property_.end()) return false;
  property_.erase(it);
  return true;
}

}  // namespace vantrel
