#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "foundation/instance.h"

using namespace vantrel;

namespace {

// A small entry type: key is an int, builds are counted, destruction logged.
std::vector<std::string> destroyed;
int built = 0;

template <CacheSlot S>
struct Entry {
  static constexpr CacheSlot cache_slot = S;
  explicit Entry(const int& key) : id(key) { ++built; }
  ~Entry() { destroyed.push_back(format()); }
  Entry(const Entry&) = default;
  Entry& operator=(const Entry&) = default;
  bool matches(const int& key) const { return id == key; }
  std::string format() const { return "slot" + std::to_string(int(S)) + " #" + std::to_string(id); }
  int id;
};
typedef Entry<CacheSlot::Spacegroup> SgEntry;
typedef Entry<CacheSlot::Map> MapEntry;
typedef ObjectCache<SgEntry> SgCache;

// The instance under test in the purge-order case; reflection-list entries
// hold a space-group entry of it, as generated reflection lists do.
VantrelInstance* current = nullptr;

struct ListEntry {
  static constexpr CacheSlot cache_slot = CacheSlot::ReflectionList;
  explicit ListEntry(const int& key) : id(key), group(current->cache<SgEntry>().lookup(key)) {}
  ~ListEntry() { destroyed.push_back(format()); }
  bool matches(const int& key) const { return id == key; }
  std::string format() const { return "list #" + std::to_string(id); }
  int id;
  SgCache::Reference group;
};

// Captures the message stream for the lifetime of the object.
class CaptureMessages {
 public:
  CaptureMessages() { Message::set_stream(text_); }
  ~CaptureMessages() { Message::set_stream(std::cerr); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
};

class ObjectCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    destroyed.clear();
    built = 0;
  }
};

TEST_F(ObjectCacheTest, ReferenceCounting) {
  SgCache cache;
  SgCache::Reference a = cache.lookup(1);
  SgCache::Reference b = cache.lookup(2);
  {
    SgCache::Reference same = cache.lookup(1);
    EXPECT_EQ(&same.data(), &a.data());
    EXPECT_EQ(a.use_count(), 2);
    SgCache::Reference moved(std::move(same));
    EXPECT_TRUE(same.is_null());
    EXPECT_EQ(a.use_count(), 2);
    moved = b;  // switches entry: 1 loses one, 2 gains one
    EXPECT_EQ(a.use_count(), 1);
    EXPECT_EQ(b.use_count(), 2);
    moved = moved;
    EXPECT_EQ(b.use_count(), 2);
  }
  EXPECT_EQ(b.use_count(), 1);
  SgCache::Reference handle = cache.lookup(1);
  handle = cache.lookup(1);  // same entry again: the count is unchanged
  EXPECT_EQ(a.use_count(), 2);
  handle.release();
  EXPECT_TRUE(handle.is_null());
  EXPECT_EQ(a.use_count(), 1);

  // A released entry stays listed and is found again intact.
  a.release();
  EXPECT_EQ(cache.size(), 2);
  a = cache.lookup(1);
  EXPECT_EQ(a.use_count(), 1);
  EXPECT_EQ(built, 2);
}

TEST_F(ObjectCacheTest, MissRebuildsFreeEntryInPlaceOrPurgesOrAppends) {
  SgCache cache;
  SgCache::Reference held = cache.lookup(1);
  const SgEntry* slot = &cache.lookup(2).data();  // taken and dropped at once
  SgCache::Reference r = cache.lookup(3);
  EXPECT_EQ(&r.data(), slot);
  EXPECT_EQ(r->id, 3);
  EXPECT_EQ(cache.size(), 2);
  EXPECT_EQ(held->id, 1);

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
}

TEST_F(ObjectCacheTest, PurgeFreesOnlyUnreferencedEntries) {
  SgCache cache;
  cache.set_mode(SgCache::APPEND);
  cache.lookup(1);
  SgCache::Reference middle = cache.lookup(2);
  SgCache::Reference middle2 = middle;
  cache.lookup(3);
  cache.purge();
  EXPECT_EQ(cache.size(), 1);
  EXPECT_EQ(destroyed, (std::vector<std::string>{"slot0 #3", "slot0 #1"}));
  EXPECT_EQ(middle.use_count(), 2);
  SgCache::Reference again = cache.lookup(2);
  EXPECT_EQ(&again.data(), &middle.data());
}

TEST_F(ObjectCacheTest, DestroyedCacheWarnsOfLeakedReferences) {
  // Entries still referenced outlive their cache until process exit; keep
  // the handles reachable so that they stay valid.
  static std::vector<SgCache::Reference>* held = new std::vector<SgCache::Reference>;
  CaptureMessages messages;
  SgCache* cache = new SgCache;
  held->assign(3, cache->lookup(1));
  cache->lookup(2);
  for (int i = 0; i < 12; ++i) held->push_back(cache->lookup(3));
  delete cache;
  EXPECT_EQ(messages.text(),
            "ObjectCache: Leaked 0003 refs to <slot0 #1>\n"
            "ObjectCache: Leaked 0012 refs to <slot0 #3>\n");
}

TEST_F(ObjectCacheTest, InstancePurgesMapThenListsThenSpacegroups) {
  CaptureMessages messages;
  {
    VantrelInstance inst;
    current = &inst;
    SgCache::Reference group = inst.cache<SgEntry>().lookup(5);
    inst.cache<MapEntry>().lookup(6);
    inst.cache<ListEntry>().lookup(7);  // holds space-group entry 7 until purged
    EXPECT_EQ(inst.cache<SgEntry>().size(), 2);
    group.release();
  }
  current = nullptr;
  EXPECT_EQ(destroyed, (std::vector<std::string>{"slot1 #6", "list #7", "slot0 #7", "slot0 #5"}));
  EXPECT_EQ(messages.text(), "");  // the list's hold was released before the space groups
}

TEST_F(ObjectCacheTest, InstanceSlots) {
  VantrelInstance inst;
  EXPECT_EQ(&inst.cache<SgEntry>(), &inst.cache<SgEntry>());
  struct Intruder : SgEntry {
    using SgEntry::SgEntry;
  };
  CaptureMessages messages;
  EXPECT_THROW(inst.cache<Intruder>(), Message_fatal);
  EXPECT_EQ(&VantrelInstantiator::instance(), &VantrelInstantiator::instance());
}

}  // namespace
