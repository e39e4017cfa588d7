// The library instance object: owner of the shared object caches.
#ifndef VANTREL_FOUNDATION_INSTANCE_H
#define VANTREL_FOUNDATION_INSTANCE_H

#include <memory>

#include "foundation/object_cache.h"

namespace vantrel {

//! Holds the library's three shared caches (space-group tables, map tables,
//! generated reflection lists), one per CacheSlot.
/*! Foundation cannot name the entry types, which live in higher subsystems,
    so each slot is created on first use by cache<T>(). An entry type T
    declares its slot and meets the ObjectCache requirements:

      struct Spgr_cacheobj {
        static constexpr CacheSlot cache_slot = CacheSlot::Spacegroup;
        explicit Spgr_cacheobj(const Spgr_descr& key);
        bool matches(const Spgr_descr& key) const;
        String format() const;
        ...
      };

    A user holds an ObjectCache<T>::Reference; its init looks the key up,
    which returns the counted entry, and assigning it drops the entry held
    before:

      ref_ = VantrelInstantiator::instance().cache<Spgr_cacheobj>().lookup(descr);
      const Spgr_cacheobj& tables = ref_.data();

    Copying the user copies the Reference (one more count); destroying it
    releases the entry. At exit the instance purges the map cache, then the
    reflection-list cache, then the space-group cache (releasing the space
    groups that purged reflection lists hold), and each cache warns about
    entries still referenced. */
class VantrelInstance {
 public:
  VantrelInstance() = default;
  VantrelInstance(const VantrelInstance&) = delete;
  VantrelInstance& operator=(const VantrelInstance&) = delete;
  ~VantrelInstance();

  //! The cache of entry type T, created empty on first use.
  /*! A fatal message if another entry type already claimed T's slot. */
  template <class T> ObjectCache<T>& cache() {
    std::unique_ptr<ObjectCacheBase>& slot = slots_[static_cast<int>(T::cache_slot)];
    if (!slot) {
      slot.reset(new ObjectCache<T>());
    } else if (slot->entry_type() != typeid(T)) {
      slot_clash(slot->entry_type(), typeid(T));
    }
    return static_cast<ObjectCache<T>&>(*slot);
  }

 private:
  [[noreturn]] static void slot_clash(const std::type_info& held, const std::type_info& wanted);

  static const int nslots = 3;
  std::unique_ptr<ObjectCacheBase> slots_[nslots];
};

//! Access to the one library instance.
class VantrelInstantiator {
 public:
  //! The instance, built on first use and destroyed at exit after every
  //! static object constructed after it, so no static initialiser can see
  //! it unbuilt.
  static VantrelInstance& instance();
};

}  // namespace vantrel

#endif
