// Named, typed values attached to model objects.
#ifndef VANTREL_FOUNDATION_PROPERTY_H
#define VANTREL_FOUNDATION_PROPERTY_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

//! Polymorphic base of a property value; properties are copied by clone().
class Property_base {
 public:
  //! A new heap copy of the property; the caller owns it.
  virtual Property_base* clone() const = 0;
  virtual ~Property_base() = default;
};

//! A property holding one value of type T.
/*! The value is read back by casting the base to the expected Property<T>
  (a dynamic_cast of a reference throws std::bad_cast on a type mismatch). */
template <class T> class Property : public Property_base {
 public:
  explicit Property(const T& value) : value_(value) {}
  Property_base* clone() const override { return new Property<T>(*this); }
  const T& value() const { return value_; }

 private:
  T value_;
};

//! An ordered list of labelled properties, owned and deep-copied.
/*! Labels need not be unique: lookups find the first entry with a label. */
class PropertyManager {
 public:
  PropertyManager() = default;
  PropertyManager(const PropertyManager& m) { copy(m); }
  PropertyManager& operator=(const PropertyManager& m) { return copy(m); }
  PropertyManager(PropertyManager&&) noexcept = default;
  PropertyManager& operator=(PropertyManager&&) noexcept = default;
  ~PropertyManager() = default;

  //! Replaces the whole list by clones of m's properties, in m's order.
  PropertyManager& copy(const PropertyManager& m);
  //! Appends (label, clone of p); an entry with the same label is kept.
  bool set_property(const std::string& label, const Property_base& p);
  //! The first property with the label; fatal message when there is none.
  const Property_base& get_property(const std::string& label) const;
  bool exists_property(const std::string& label) const;
  //! Deletes the first entry with the label; false when there is none.
  bool delete_property(const std::string& label);

 private:
  using Entry = std::pair<std::string, std::unique_ptr<Property_base>>;
  std::vector<Entry>::const_iterator find(const std::string& label) const;

  std::vector<Entry> property_;
};

}  // namespace vantrel

#endif
