// Tree paths: how bookmarks, history, the address bar, the command line and
// items name a node of the tree.
//
//   "/"            the top-level (root) node
//   "/A/B"         child "A" of the root, then its child "B"
//   "A/B"          relative to the selected node (or the given start)
//   "./A", "."     from the selected node
//   "../A", ".."   from the start's parent
//   ".../E/A"      climb from the start to the nearest ancestor whose text
//                  is exactly "E" (none up to the top: look for "E" below
//                  the top node), then on to "A"
//
// A "/" inside a node text is written "//"; the top-level node's text is
// never part of a path. Elements match node texts without regard to case;
// ".../" matches the ancestor's text exactly. A trailing "/" is allowed.
//
// The relative forms may also follow an element ("A/../B"): each step
// starts afresh, as the tree's navigation reads a path step by step.
//
// A single "/" at the start of a step goes to the top-level node; "//"
// there begins a text that starts with "/" (so "/" + "//etc" is the child
// "/etc" of the root, the path the tree gives that node). Only the very
// first character of a whole path is always the top-level step.
//
// Texts that read as relative forms (".", "..", or "..." before another
// element) cannot be reached by a path; the grammar has no escape for them.
// Nor can it tell "a/" + "b" from "a" + "/b": further down, a run of
// slashes is read in pairs from the left, so a text that begins with "/"
// is reached only directly below the top-level node.
#pragma once
#include <vector>

#include "norv/norvtypes.h"

// One step of a parsed path.
struct NORV_API NorvTreePathStep {
  enum Kind {
    kRoot,             // to the top-level node
    kSelection,        // to the selected node ("./", ".")
    kParent,           // to the current node's parent ("../", ".."); none: unresolved
    kNearestAncestor,  // ".../text": see the file comment
    kChild,            // to the current node's child whose text matches
  };
  Kind kind = kChild;
  NorvString text;  // kChild, kNearestAncestor: the node text, "//" undone

  bool operator==(const NorvTreePathStep&) const = default;
};

// The steps of `path`, in order; none for the empty path (the start node
// itself). A path that does not begin with a step of its own (a plain
// relative path) starts at the caller's start node or, without one, at the
// selected node.
NORV_API std::vector<NorvTreePathStep> ParseTreePath(const NorvString& path);

// Splits the first element off `path`: the text before the first "/" that
// is not part of a "//" pair goes to `head` (every "//" in it undone) and
// the text after it stays in `path`; TRUE. Without such a "/" the whole
// path is the head, `path` becomes empty, FALSE.
NORV_API BOOL ExtractSubPath(NorvString& path, NorvString& head);

// The node texts of a path made of elements only ("/A/B//C" -> "A",
// "B/C"): the leading "/" is dropped, empty elements are skipped. Relative
// forms are not steps here; use ParseTreePath to navigate.
NORV_API std::vector<NorvString> SplitTreePath(const NorvString& path);

// A node text as a path element: every "/" doubled.
NORV_API NorvString EscapeTreePathElement(const NorvString& text);
// The absolute path of the node whose texts below the top-level node are
// `texts` (top first): "/" + the escaped texts joined by "/"; "/" for none.
NORV_API NorvString JoinTreePath(const std::vector<NorvString>& texts);
