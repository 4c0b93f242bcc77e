// Patches: the changes that turn the page's HTML of one render into the next, as the page
// applies them to the elements it shows.
//
// A patch is a JSON array of ops. Each op is [target, kind, payload]; the target is a path
// [key, i, j, ...] from the element whose "data-key" is `key` (the app's container for "") down
// through child node indices, as the page stands after the ops before it:
//   "h"  the target's new outer HTML, merged into it (focus and typing kept)
//   "a"  the target's new start tag: its attributes replace the ones the target has
//   "c"  the target's new child nodes: a number keeps the old child node at that index (its
//        own changes follow in later ops), a text is the HTML of new nodes; a fourth item says
//        how many child nodes the target had, so that a page that differs notices
//
// The server keeps each render as a ParsedHtml, so that the next patch parses only the new
// render, and writes the ops as JSON text in one pass (sizes are measured by the bytes written).
// The HTML is the renderer's own: well formed, attributes quoted, nothing a browser repairs.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace web {

// One render's HTML and its node tree. The nodes point into the HTML it owns, so it is neither
// copied nor moved; hold it by pointer. Immutable once made, so any thread may read it.
class ParsedHtml {
 public:
  explicit ParsedHtml(std::string html);
  ParsedHtml(const ParsedHtml&) = delete;
  ParsedHtml& operator=(const ParsedHtml&) = delete;

  const std::string& html() const { return html_; }
  // False when the HTML is not well formed; such a render is sent whole.
  bool wellFormed() const { return wellFormed_; }

  // A node of the tree, in document order; node 0 is the app's container (the whole HTML).
  struct Node {
    bool element = false;
    std::string_view outer;  // the whole node as written
    std::string_view start;  // an element's start tag
    std::string_view name;
    std::string_view key;  // its "data-key"
    uint32_t end = 0;      // the index after its last descendant
  };
  const std::vector<Node>& nodes() const { return nodes_; }
  // The indices of the child nodes of node `index`.
  void children(uint32_t index, std::vector<uint32_t>& out) const;
  // How many elements carry the "data-key" `key`. The first call counts them all.
  int keyCount(std::string_view key) const;

 private:
  bool parse();

  std::string html_;
  std::vector<Node> nodes_;
  mutable std::once_flag keysCounted_;
  mutable std::unordered_map<std::string_view, int> keyCounts_;
  bool wellFormed_ = false;
};

// Appends the ops that turn `from` into `to` to `out`, as a JSON array. When either is not well
// formed the one op replaces all of the container's children.
void appendPagePatch(std::string& out, const ParsedHtml& from, const ParsedHtml& to);

// The same as JSON values, for tests and tools.
nlohmann::json pagePatch(std::string_view from, std::string_view to);
// The HTML the ops make of the text they were made against, as the page does it; throws
// std::exception when the ops do not fit that text.
std::string applyPagePatch(std::string_view from, const nlohmann::json& ops);

}  // namespace web
