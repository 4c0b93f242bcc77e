// Helpers the views and modifiers share while they build nodes (view.cpp, view_content.cpp,
// view_presentation.cpp). Not for screens.
//
// Threads: main thread only, inside a render.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/ui/internal/builder.h"
#include "platform/ui/node.h"
#include "platform/ui/view.h"

namespace platform::ui::detail {

using BuildFn = std::function<void(Builder& b, const std::string& path, std::vector<Node>& out)>;

// A view that builds its nodes with `fn`.
View make(BuildFn fn);
// An empty node of `kind` at `identity`.
Node node(NodeKind kind, const std::string& identity);
// Builds `children` at path/0, path/1, ...
void buildChildren(Builder& b, const std::string& path, const std::vector<View>& children, std::vector<Node>& out);
// Gives `n` its handlers (disabled too when the scope is), its action id and its events.
void makeActionable(Builder& b, Node& n, Handlers h);
// Applies `edit` to every text or search field in the nodes (and their descendants), and
// clears their memo stamps (node.h): they no longer are what a memoised view built.
void forEachField(std::vector<Node>& nodes, const std::function<void(Node&)>& edit);
// A short stable stand-in for a long key, for page identities.
std::string shortKey(const std::string& key);
// The first node of `kind` in the nodes or below them, or null; for editing, so its memo
// stamp is cleared.
Node* firstOfKind(std::vector<Node>& nodes, NodeKind kind);
// Builds `content` into a named slot of each node `self` produces, at the node's identity.
View slotModifier(const View& self, std::string slotName,
                  std::function<void(Builder&, const std::string& key, Node& target)> fill);

}  // namespace platform::ui::detail
