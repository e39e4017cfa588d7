// Reference-counted caches of large derived tables shared between objects
// (space-group tables, generated reflection lists, map tables).
#ifndef VANTREL_FOUNDATION_OBJECT_CACHE_H
#define VANTREL_FOUNDATION_OBJECT_CACHE_H

#include <memory>
#include <string>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include "foundation/message.h"

namespace vantrel {

//! The three cache slots of the library instance object (see instance.h).
/*! Every cache entry type declares which slot holds its cache:
      static constexpr CacheSlot cache_slot = CacheSlot::Spacegroup;
    The instance purges the slots in the order Map, ReflectionList,
    Spacegroup at exit, because reflection-list entries hold space groups. */
enum class CacheSlot : int { Spacegroup = 0, Map = 1, ReflectionList = 2 };

//! Untyped face of a cache, so that foundation can own caches of entry types
//! defined by higher subsystems.
class ObjectCacheBase {
 public:
  virtual ~ObjectCacheBase() = default;
  //! Free every entry nobody holds.
  virtual void purge() = 0;
  //! The entry type of the cache.
  virtual const std::type_info& entry_type() const = 0;
};

//! A reference-counted cache of objects of type T.
/*! T needs: a constructor from its key type K, `bool matches(const K&) const`,
    `format()` returning text (used in the leak report) and assignment.
    Entries are heap-allocated and never move while referenced, so holders
    may keep pointers into them. An entry nobody holds stays listed as a free
    slot until it is matched again, rebuilt for another key or purged. */
template <class T> class ObjectCache : public ObjectCacheBase {
 public:
  //! One cache entry: (reference count, object).
  typedef std::pair<int, T> Entry;

  //! Policy when a lookup finds no matching entry.
  enum Mode {
    REUSE_FREE = 0,   //!< rebuild the first free entry in place, else append
    PURGE_FIRST = 1,  //!< purge the free entries, then append
    APPEND = 2        //!< always append
  };

  //! A counted handle on an entry; null when it holds none.
  /*! Copying a handle adds a reference, destroying it drops one. */
  class Reference {
   public:
    Reference() : entry_(nullptr) {}
    explicit Reference(Entry* p) : entry_(nullptr) { ref(p); }
    Reference(const Reference& other) : entry_(nullptr) { ref(other.entry_); }
    Reference(Reference&& other) noexcept : entry_(other.entry_) { other.entry_ = nullptr; }
    Reference& operator=(const Reference& other) {
      ref(other.entry_);
      return *this;
    }
    Reference& operator=(Reference&& other) noexcept {
      if (this != &other) {
        release();
        entry_ = other.entry_;
        other.entry_ = nullptr;
      }
      return *this;
    }
    ~Reference() { release(); }

    //! Hold entry p (may be null), dropping the entry held before.
    void ref(Entry* p) {
      if (p != nullptr) ++p->first;  // first, so that ref(held entry) is a no-op
      if (entry_ != nullptr) --entry_->first;
      entry_ = p;
    }
    //! Drop the entry held, if any.
    void release() { ref(nullptr); }

    bool is_null() const { return entry_ == nullptr; }
    //! The shared object; the handle must not be null.
    const T& data() const { return entry_->second; }
    const T* operator->() const { return &entry_->second; }
    //! Number of references on the held entry (0 when null).
    int use_count() const { return entry_ == nullptr ? 0 : entry_->first; }

   private:
    Entry* entry_;
  };

  ObjectCache() : mode_(REUSE_FREE) {}
  ObjectCache(const ObjectCache&) = delete;
  ObjectCache& operator=(const ObjectCache&) = delete;

  //! Frees the free entries and warns about every entry still referenced.
  /*! Referenced entries are deliberately not freed: their holders may still
      release them during the rest of program exit. */
  ~ObjectCache() override {
    purge();
    for (const std::unique_ptr<Entry>& e : cache_)
      if (e->first != 0) Message::message(Message_warn(leak_text(*e)));
  }

  //! The counted entry serving key: the first matching entry, else one made
  //! from key by the cache's mode.
  template <class K> Reference lookup(const K& key) {
    for (const std::unique_ptr<Entry>& e : cache_)
      if (e->second.matches(key)) return Reference(e.get());
    if (mode_ == REUSE_FREE) {
      for (const std::unique_ptr<Entry>& e : cache_)
        if (e->first == 0) {
          e->second = T(key);
          return Reference(e.get());
        }
    } else if (mode_ == PURGE_FIRST) {
      purge();
    }
    cache_.push_back(std::make_unique<Entry>(std::piecewise_construct, std::forward_as_tuple(0),
                                             std::forward_as_tuple(key)));
    return Reference(cache_.back().get());
  }

  //! Free every entry whose count is 0; the others keep their order.
  void purge() override {
    for (int i = int(cache_.size()) - 1; i >= 0; --i)
      if (cache_[i]->first == 0) cache_.erase(cache_.begin() + i);
  }

  const std::type_info& entry_type() const override { return typeid(T); }

  //! Number of entries listed, free ones included.
  int size() const { return int(cache_.size()); }
  Mode mode() const { return mode_; }
  void set_mode(Mode mode) { mode_ = mode; }

 private:
  //! "ObjectCache: Leaked 0003 refs to <...>"; counts above 9999 in full.
  static std::string leak_text(const Entry& e) {
    std::string count = std::to_string(e.first);
    if (count.size() < 4) count.insert(0, 4 - count.size(), '0');
    return "ObjectCache: Leaked " + count + " refs to <" + std::string(e.second.format()) + ">";
  }

  // Owned through pointers so that an entry stays put while the list grows.
  std::vector<std::unique_ptr<Entry>> cache_;
  Mode mode_;
};

}  // namespace vantrel

#endif
