#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "foundation/message.h"
#include "reflections/container.h"
#include "support/testing.h"

using vantrel::Container;
using vantrel::Message;
using vantrel::Message_fatal;
using vantrel::String;

namespace {

typedef std::vector<std::string> Log;

// A node that logs its updates and destruction into a shared journal.
class Logged : public Container {
 public:
  Logged(Container& parent, const String& path, Log& log) : Container(parent, path), log_(log) {}
  void update() override {
    log_.push_back("update " + name());
    Container::update();
  }
  ~Logged() override { log_.push_back("delete " + name()); }

 private:
  Log& log_;
};

// Expects a fatal message with the given text; keeps stderr clean.
template <class F> void expect_fatal(F&& f, const std::string& text) {
  vantrel_testing::Quiet_messages quiet;
  try {
    f();
    ADD_FAILURE() << "no fatal message, expected: " << text;
  } catch (const Message_fatal& m) {
    EXPECT_EQ(m.text(), text);
    EXPECT_EQ(quiet.text(), text + "\n");
  }
}

TEST(Container, PathsLookupAndFatalMessages) {
  Container root("top");
  Container a(root, "a"), b(root, "b");
  Container a1(a, "x"), b1(b, "x"), deep(root, "b/x/deep"), unnamed1(b, ""), unnamed2(b, "/top/b/");
  EXPECT_EQ(deep.path(), "/top/b/x/deep");
  EXPECT_EQ(unnamed2.path(), "/top/b/unnamed 2");
  for (Container* c : {&root, &a, &b, &a1, &b1, &deep, &unnamed1}) {
    EXPECT_EQ(c->find_path_ptr(c->path()), c) << c->path();
    EXPECT_EQ(deep.find_path_ptr(c->path()), c) << "absolute from a leaf";
    EXPECT_EQ(&c->ultimate_parent(), &root);
  }
  EXPECT_EQ(root.find_path_ptr("b/unnamed 1"), &unnamed1);
  EXPECT_EQ(root.find_path_ptr("*/x"), &a1);
  EXPECT_EQ(root.find_path_ptr("/other/a"), nullptr);
  EXPECT_EQ(root.find_path_ptr("c"), nullptr);
  std::ostringstream out;
  auto* saved = std::cout.rdbuf(out.rdbuf());
  root.debug();
  std::cout.rdbuf(saved);
  EXPECT_EQ(out.str(),
            "/top\n/top/a\n/top/a/x\n/top/b\n/top/b/x\n/top/b/x/deep\n"
            "/top/b/unnamed 1\n/top/b/unnamed 2\n");
  expect_fatal([&] { Container lost(root, "nowhere/b"); }, "Container: No such path- nowhere/b");
  // The other three failures raise the library's named messages, from the
  // const and the non-const accessors alike.
  const Container& croot = root;
  const std::vector<std::tuple<std::function<void()>, const Message_fatal&, std::string>> named = {
      {[&] { Container dup(root, "a"); }, vantrel::message_duplicate_path,
       "Container: attempt to create duplicate path"},
      {[&] { root.parent(); }, vantrel::message_parent_of_root,
       "Container: attempt to access parent of root"},
      {[&] { croot.parent(); }, vantrel::message_parent_of_root,
       "Container: attempt to access parent of root"},
      {[&] { root.child(-1); }, vantrel::message_child_out_of_range,
       "Container: child index out of range"},
      {[&] { croot.child(2); }, vantrel::message_child_out_of_range,
       "Container: child index out of range"}};
  for (const auto& [operation, message, text] : named) {
    EXPECT_EQ(message.text(), text);
    expect_fatal(operation, text);
  }
  EXPECT_EQ(root.num_children(), 2) << "failed constructions attach nothing";
  // Only the first child of a name is searched: its sibling is never tried.
  b.set_name("a");
  EXPECT_EQ(root.find_path_ptr("a/x/deep"), nullptr);
}

TEST(Container, MoveBetweenParents) {
  Log log;
  Container root("r");
  Container p(root, "p"), q(root, "q");
  Logged m(p, "m", log);
  Logged leaf(m, "leaf", log);
  m.move("/r/q/moved");
  EXPECT_EQ(&m.parent(), &q);
  EXPECT_EQ(p.num_children(), 0);
  EXPECT_EQ(leaf.path(), "/r/q/moved/leaf");
  EXPECT_EQ(log, (Log{"update moved", "update leaf"}));
  EXPECT_EQ(leaf.parent_of_type_ptr<const Logged>(), &m) << "nearest typed ancestor";
  EXPECT_EQ(m.parent_of_type_ptr<Logged>(), nullptr) << "strict ancestors only";
  m.move("renamed");  // relative to the current parent: a rename in place
  EXPECT_EQ(m.path(), "/r/q/renamed");
  // Unknown destinations and ones inside the node's own subtree are refused;
  // the node stays in its place.
  Container r2(q, "second");
  expect_fatal([&] { m.move("/r/zz/m"); }, "Container: No such path- /r/zz/m");
  Container lone("lone");
  Container below(lone, "below");
  expect_fatal([&] { lone.move("below/x"); }, "Container: No such path- below/x");
  EXPECT_FALSE(lone.has_parent());
  EXPECT_EQ(&q.child(0), &m);
  EXPECT_EQ(&q.child(1), &r2);
}

// An update reaches the whole subtree depth first, each node before its
// children and children in order; a typed ancestor may be found through a
// second base class. A root made without a name is "unnamed".
TEST(Container, UpdateOrderAndTypedAncestors) {
  struct Tag {
    virtual ~Tag() = default;
  };
  struct Tagged : Container, Tag {
    Tagged(Container& parent, const String& path) : Container(parent, path) {}
  };
  Log log;
  Container root;
  EXPECT_EQ(root.name(), "unnamed");
  Logged a(root, "a", log);
  Tagged t(a, "t");
  Logged b(t, "b", log), c(t, "c", log);
  Logged d(b, "d", log);
  root.update();
  EXPECT_EQ(log, (Log{"update a", "update b", "update d", "update c"}));
  EXPECT_EQ(d.parent_of_type_ptr<Tag>(), static_cast<Tag*>(&t));
  EXPECT_EQ(t.parent_of_type_ptr<Tag>(), nullptr);
}

TEST(Container, DestructionWithParent) {
  Log log;
  Container keep_root("k");
  Container* kept = nullptr;
  {
    Container parent(keep_root, "parent");
    auto* owned = new Logged(parent, "owned", log);
    owned->set_destroyed_with_parent();
    (new Logged(*owned, "grandchild", log))->set_destroyed_with_parent();
    kept = new Container(parent, "kept");
  }
  EXPECT_EQ(log, (Log{"delete owned", "delete grandchild"}));
  EXPECT_EQ(keep_root.num_children(), 0) << "a destroyed child leaves its parent";
  EXPECT_EQ(kept->parent_ptr(), nullptr);
  EXPECT_EQ(kept->find_path_ptr("/kept"), kept);
  delete kept;
}

}  // namespace
