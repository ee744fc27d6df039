// The three list kinds are rings linked through their own Prev/Next fields; these
// helpers link, unlink, walk and snapshot any of them.
#pragma once

#include <vector>

#include "lists.h"

namespace pk {

template <typename Node>
struct ring_links;
template <>
struct ring_links<Unit_list_str> {
  static constexpr auto prev = &Unit_list_str::Prev_unit;
  static constexpr auto next = &Unit_list_str::Next_unit;
};
template <>
struct ring_links<Evt_list_str> {
  static constexpr auto prev = &Evt_list_str::Prev_evt;
  static constexpr auto next = &Evt_list_str::Next_evt;
};
template <>
struct ring_links<File_list_str> {
  static constexpr auto prev = &File_list_str::Prev_file;
  static constexpr auto next = &File_list_str::Next_file;
};

// Inserts n directly after `at`, or makes it a ring of one when `at` is null.
template <typename Node>
void link_after(Node* at, Node* n) {
  constexpr auto prev = ring_links<Node>::prev;
  constexpr auto next = ring_links<Node>::next;
  if (!at) {
    n->*prev = n->*next = n;
    return;
  }
  n->*prev = at;
  n->*next = at->*next;
  (at->*next)->*prev = n;
  at->*next = n;
}

// Takes n out of its ring; returns the node before it, or null when n was alone.
template <typename Node>
Node* unlink(Node* n) {
  constexpr auto prev = ring_links<Node>::prev;
  constexpr auto next = ring_links<Node>::next;
  if (!(n->*next) || n->*next == n) return nullptr;
  (n->*prev)->*next = n->*next;
  (n->*next)->*prev = n->*prev;
  return n->*prev;
}

// The nodes from `head` onwards in ring order, so callers may unlink or free them while walking.
template <typename Node>
std::vector<Node*> ring_nodes(Node* head) {
  std::vector<Node*> nodes;
  for (Node* n = head; n; n = n->*ring_links<Node>::next) {
    nodes.push_back(n);
    if (n->*ring_links<Node>::next == head) break;
  }
  return nodes;
}

// The first node from `from` onwards along `link` (Next by default, or Prev) that
// satisfies pred, or null.
template <typename Node, typename Pred>
Node* find_in_ring(Node* from, Pred pred, Node* Node::*link = ring_links<Node>::next) {
  for (Node* n = from; n; n = n->*link) {
    if (pred(n)) return n;
    if (n->*link == from) break;
  }
  return nullptr;
}

// Calls f on every node from `head` onwards, in ring order, without allocating (for
// destructors, which may run when memory has run out); f may free the node it is given.
template <typename Node, typename F>
void for_each_in_ring(Node* head, F f) {
  for (Node* n = head; n;) {
    Node* next = n->*ring_links<Node>::next;
    const bool last = next == head || next == nullptr;
    f(n);
    n = last ? nullptr : next;
  }
}

}  // namespace pk
