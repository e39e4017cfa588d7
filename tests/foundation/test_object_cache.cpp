#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/instance.h"
#include "support/testing.h"

using namespace vantrel;

namespace {

// A small entry type keyed by an int; builds are counted, destructions logged.
std::vector<std::string> destroyed;
int built = 0;

template <CacheSlot S> struct Entry {
  static constexpr CacheSlot cache_slot = S;
  explicit Entry(const int& key) : id(key) { ++built; }
  ~Entry() { destroyed.push_back(format()); }
  bool matches(const int& key) const { return id == key; }
  std::string format() const { return "slot" + std::to_string(int(S)) + " #" + std::to_string(id); }
  int id;
};
typedef Entry<CacheSlot::Spacegroup> SgEntry;
typedef ObjectCache<SgEntry> SgCache;

class ObjectCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    destroyed.clear();
    built = 0;
  }
  vantrel_testing::Quiet_messages messages;
};

TEST_F(ObjectCacheTest, ReferenceCounting) {
  SgCache cache;
  SgCache::Reference a = cache.lookup(1), b = cache.lookup(2);
  {
    SgCache::Reference same = cache.lookup(1);
    SgCache::Reference moved(std::move(same));
    EXPECT_TRUE(same.is_null());
    EXPECT_EQ(a.use_count(), 2);
    moved = b;  // switches entry: 1 loses one, 2 gains one
    moved = moved;
    EXPECT_EQ(std::make_pair(a.use_count(), b.use_count()), std::make_pair(1, 2));
  }
  EXPECT_EQ(b.use_count(), 1);
  SgCache::Reference handle = cache.lookup(1);
  handle = cache.lookup(1);  // same entry again: the count is unchanged
  EXPECT_EQ(a.use_count(), 2);
  handle.release();
  EXPECT_EQ(a.use_count(), 1);

  // A released entry stays listed and is found again intact.
  a.release();
  EXPECT_EQ(cache.size(), 2);
  a = cache.lookup(1);
  EXPECT_EQ(std::make_pair(a.use_count(), built), std::make_pair(1, 2));
}

TEST_F(ObjectCacheTest, MissReusesPurgesOrAppendsAndPurgeKeepsReferenced) {
  SgCache cache;
  SgCache::Reference held = cache.lookup(1);
  const SgEntry* slot = &cache.lookup(2).data();  // taken and dropped at once
  SgCache::Reference r = cache.lookup(3);
  EXPECT_EQ(&r.data(), slot);
  EXPECT_EQ(std::make_pair(r->id, held->id), std::make_pair(3, 1));
  EXPECT_EQ(cache.size(), 2);

  cache.set_mode(SgCache::PURGE_FIRST);
  destroyed.clear();
  r.release();
  r = cache.lookup(4);  // purges the free entry 3
  EXPECT_EQ(cache.size(), 2);
  EXPECT_EQ(destroyed, std::vector<std::string>{"slot0 #3"});

  cache.set_mode(SgCache::APPEND);
  r.release();
  r = cache.lookup(5);
  EXPECT_EQ(cache.size(), 3);

  // purge() frees the unreferenced entries only, the last first.
  destroyed.clear();
  r.release();
  cache.purge();
  EXPECT_EQ(destroyed, (std::vector<std::string>{"slot0 #5", "slot0 #4"}));
  EXPECT_EQ(&cache.lookup(1).data(), &held.data());
}

TEST_F(ObjectCacheTest, DestroyedCacheWarnsOfLeakedReferences) {
  // Referenced entries outlive their cache: keep the handles reachable.
  static std::vector<SgCache::Reference>* held = new std::vector<SgCache::Reference>;
  SgCache* cache = new SgCache;
  held->assign(3, cache->lookup(1));
  cache->lookup(2);
  for (int i = 0; i < 12; ++i) held->push_back(cache->lookup(3));
  delete cache;
  EXPECT_EQ(messages.text(),
            "ObjectCache: Leaked 0003 refs to <slot0 #1>\n"
            "ObjectCache: Leaked 0012 refs to <slot0 #3>\n");
}

TEST_F(ObjectCacheTest, InstanceSlotsAndPurgeOrder) {
  struct Intruder : SgEntry {
    using SgEntry::SgEntry;
  };
  {
    VantrelInstance inst;
    inst.cache<SgEntry>().lookup(5);
    inst.cache<Entry<CacheSlot::ReflectionList>>().lookup(7);
    inst.cache<Entry<CacheSlot::Map>>().lookup(6);
    EXPECT_THROW(inst.cache<Intruder>(), Message_fatal);  // slot taken by another type
  }
  // Map tables go first, then reflection lists, then space groups.
  EXPECT_EQ(destroyed, (std::vector<std::string>{"slot1 #6", "slot2 #7", "slot0 #5"}));
  EXPECT_EQ(&VantrelInstantiator::instance(), &VantrelInstantiator::instance());
}

}  // namespace
