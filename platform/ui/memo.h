// Memoised views: a subtree built once and repeated from a copy while nothing it shows changed.
//
// Memo(key, content) builds content() the first time and keeps what the build produced: its
// nodes, the actions it registered, the links it offered its navigation stack, and what it
// read. A later render repeats all of that without calling `content` while
//   - the key equals the one it was built with (put in it every value handed to the content:
//     the entity a row shows, the choices of the screen around it);
//   - no store property the build read changed (those reads are tracked for the subtree
//     alone and stay observed between renders; a change renders again);
//   - no state it read changed, and no environment value or object it read;
//   - it is as hidden and as disabled as then, the locale is the same, and nothing called
//     notifyAnyChange() since (settings, tips, appearance);
//   - its build queued no lifecycle work, presented nothing and numbered no rows of a lazy
//     list (such a subtree is built every time).
// Anything else the content shows (the clock, a value read without tracking) must be in the key.
// Each build stamps the nodes it made with a number of its own (Node::memoStamp) that every
// copy repeats, so that a renderer can repeat what it drew for them as well.
//
//   LazyForEach(bills.size(), ..., [bills, filter](std::size_t i) {
//     auto bill = bills[i];
//     return Memo(std::pair(bill, filter), [bill, filter] { return View(BillCard{bill, filter}); });
//   });
//
// MemoWhileHidden(key, content) keeps a copy only while the subtree is hidden (a tab not
// selected, a page under a pushed one); shown, it is built every time. While hidden, a change
// of stored data it read waits: the copy stays until the subtree shows again (or something
// else above ends it), since nothing of it is seen meanwhile.
//
// Threads: main thread only, like the views.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/view.h"

namespace platform::ui {

namespace detail {
class MemoImpl final : public ViewImpl {
 public:
  MemoImpl(AnyValue key, std::function<View()> content, bool onlyWhileHidden)
      : key_(std::move(key)), content_(std::move(content)), onlyWhileHidden_(onlyWhileHidden) {}
  void build(Builder& b, const std::string& path, std::vector<Node>& out) const override;

 private:
  AnyValue key_;
  std::function<View()> content_;
  bool onlyWhileHidden_;
};
}  // namespace detail

template <class Key>
View Memo(Key key, std::function<View()> content) {
  return View(std::make_shared<detail::MemoImpl>(detail::AnyValue::of(std::move(key)), std::move(content), false));
}

template <class Key>
View MemoWhileHidden(Key key, std::function<View()> content) {
  return View(std::make_shared<detail::MemoImpl>(detail::AnyValue::of(std::move(key)), std::move(content), true));
}

}  // namespace platform::ui
