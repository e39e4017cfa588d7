// Named tree of data containers, addressed by slash-separated paths.
#ifndef VANTREL_REFLECTIONS_CONTAINER_H
#define VANTREL_REFLECTIONS_CONTAINER_H

#include <vector>

#include "foundation/message.h"
#include "foundation/vstring.h"

namespace vantrel {

//! The fatal messages a container raises: parent() of a root, child() with
//! an index outside [0, num_children()), and a node made at a path that
//! already names one.
extern const Message_fatal message_parent_of_root;
extern const Message_fatal message_child_out_of_range;
extern const Message_fatal message_duplicate_path;

//! A node of a named tree of data objects.
/*! Every node has a name, an optional parent and an ordered list of
  children, and is addressed by a path such as "/root/crystal/dataset".
  A node does not own its children, except those flagged to be destroyed
  with their parent (such nodes must be created with new). A child that
  outlives its parent becomes a root. Nodes are not copyable: the tree
  holds their addresses. */
class Container {
 public:
  //! Root node; an empty name becomes "unnamed".
  explicit Container(const String& name = "");
  //! Node attached below parent. The last component of path is the name;
  //! the rest selects the parent relative to (or, if absolute, in the tree
  //! of) the given node. An empty name becomes "unnamed 1", "unnamed 2"...
  Container(Container& parent, const String& path);
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  //! Passes an update down the tree, parents before children.
  virtual void update();
  virtual ~Container();

  String path() const;
  String name() const { return name_; }
  void set_name(const String& name) { name_ = name; }

  bool is_destroyed_with_parent() const { return destroyed_with_parent_; }
  void set_destroyed_with_parent(const bool& d = true) { destroyed_with_parent_ = d; }

  bool has_parent() const { return parent_ != nullptr; }
  const Container& parent() const;
  Container& parent();
  const Container* parent_ptr() const { return parent_; }
  Container* parent_ptr() { return parent_; }
  const Container& ultimate_parent() const;
  Container& ultimate_parent();

  int num_children() const { return int(children_.size()); }
  const Container& child(const int& i) const;
  Container& child(const int& i);
  //! Appends a child; the child's parent pointer is not changed.
  void add_child(Container& c) { children_.push_back(&c); }
  //! Removes the first entry that is c, if any; c's parent pointer stays.
  void del_child(Container& c);

  //! The node at path (absolute, or relative to this node), or null.
  /*! A component "*" selects the first child; only the first child whose
    name matches is searched further. */
  Container* find_path_ptr(const String& path);
  const Container* find_path_ptr(const String& path) const;

  //! Re-attaches this node under the parent named by the path, renamed to
  //! its last component. A relative path is resolved from the current
  //! parent (from the node itself at a root). A destination inside the
  //! node's own subtree is refused like a missing one.
  void move(const String& path);

  //! Writes the path of this node and of every descendant to stdout.
  void debug() const;

  //! The nearest strict ancestor whose dynamic type is (or derives from) T.
  template <class T> T* parent_of_type_ptr() const {
    for (Container* p = parent_; p != nullptr; p = p->parent_)
      if (T* t = dynamic_cast<T*>(p)) return t;
    return nullptr;
  }

 private:
  bool is_in_subtree_of(const Container& node) const;

  String name_;
  Container* parent_ = nullptr;
  std::vector<Container*> children_;
  bool destroyed_with_parent_ = false;
};

}  // namespace vantrel

#endif
