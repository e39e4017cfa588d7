#include "reflections/container.h"

#include <algorithm>
#include <iostream>

#include "foundation/message.h"

namespace vantrel {

// Built during static initialisation; no node is made before main, so none
// can raise them earlier.
const Message_fatal message_parent_of_root("Container: attempt to access parent of root");
const Message_fatal message_child_out_of_range("Container: child index out of range");
const Message_fatal message_duplicate_path("Container: attempt to create duplicate path");

namespace {

[[noreturn]] void fail_no_such_path(const String& path) {
  fatal("Container: No such path- " + path);
}

}  // namespace

Container::Container(const String& name) : name_(name.empty() ? String("unnamed") : name) {
  Message::message(Message_ctor("[Container: contructed (root)/" + name_ + ">"));
}

Container::Container(Container& parent, const String& path) {
  name_ = path.tail();
  parent_ = parent.find_path_ptr(path.notail());
  if (parent_ == nullptr) fail_no_such_path(path);
  if (name_.empty()) {
    for (int n = 1; n <= 99; ++n) {
      name_ = "unnamed" + String(n, 2);
      if (parent_->find_path_ptr(name_) == nullptr) break;
    }
  }
  if (parent_->find_path_ptr(name_) != nullptr) fatal(message_duplicate_path);
  parent_->add_child(*this);
  Message::message(Message_ctor("[Container: contructed " + parent_->name_ + "/" + name_ + ">"));
}

Container::~Container() {
  for (Container* c : children_) {
    c->parent_ = nullptr;
    if (c->destroyed_with_parent_) delete c;
  }
  if (parent_ != nullptr) parent_->del_child(*this);
  Message::message(Message_dtor("<Container: destroyed " + name_ + "]"));
}

void Container::update() {
  for (Container* c : children_) c->update();
}

String Container::path() const {
  if (parent_ == nullptr) return "/" + name_;
  return parent_->path() + "/" + name_;
}

const Container& Container::parent() const {
  if (parent_ == nullptr) fatal(message_parent_of_root);
  return *parent_;
}

Container& Container::parent() {
  if (parent_ == nullptr) fatal(message_parent_of_root);
  return *parent_;
}

const Container& Container::ultimate_parent() const {
  const Container* p = this;
  while (p->parent_ != nullptr) p = p->parent_;
  return *p;
}

Container& Container::ultimate_parent() {
  Container* p = this;
  while (p->parent_ != nullptr) p = p->parent_;
  return *p;
}

const Container& Container::child(const int& i) const {
  if (i < 0 || i >= num_children()) fatal(message_child_out_of_range);
  return *children_[i];
}

Container& Container::child(const int& i) {
  if (i < 0 || i >= num_children()) fatal(message_child_out_of_range);
  return *children_[i];
}

void Container::del_child(Container& c) {
  auto it = std::find(children_.begin(), children_.end(), &c);
  if (it != children_.end()) children_.erase(it);
}

Container* Container::find_path_ptr(const String& path) {
  if (path.empty()) return this;
  String rest = path;
  if (path[0] == '/') {
    if (parent_ != nullptr) return parent_->find_path_ptr(path);
    rest = rest.nohead();
    if (rest.head() != name_) return nullptr;
    rest = rest.nohead();
    if (rest.empty()) return this;
  }
  const String component = rest.head();
  for (Container* c : children_)
    if (component == "*" || c->name_ == component) return c->find_path_ptr(rest.nohead());
  return nullptr;
}

const Container* Container::find_path_ptr(const String& path) const {
  return const_cast<Container*>(this)->find_path_ptr(path);
}

bool Container::is_in_subtree_of(const Container& node) const {
  for (const Container* p = this; p != nullptr; p = p->parent_)
    if (p == &node) return true;
  return false;
}

void Container::move(const String& path) {
  // The node leaves its parent's children first, so that the lookup cannot
  // pass through it; a refused move puts it back in its place.
  std::vector<Container*>* const siblings = parent_ ? &parent_->children_ : nullptr;
  std::ptrdiff_t place = -1;
  if (siblings != nullptr) {
    const auto it = std::find(siblings->begin(), siblings->end(), this);
    if (it != siblings->end()) {
      place = it - siblings->begin();
      siblings->erase(it);
    }
  }
  // A relative path starts at the parent (at a root, at the node itself);
  // an absolute one climbs through it to the root.
  Container* const new_parent = (parent_ ? parent_ : this)->find_path_ptr(path.notail());
  if (new_parent == nullptr || new_parent->is_in_subtree_of(*this)) {
    if (place >= 0) siblings->insert(siblings->begin() + place, this);
    fail_no_such_path(path);
  }
  new_parent->add_child(*this);
  parent_ = new_parent;
  name_ = path.tail();
  update();
}

void Container::debug() const {
  std::cout << path() << "\n";
  for (const Container* c : children_) c->debug();
}

}  // namespace vantrel
