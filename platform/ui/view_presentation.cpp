#include "platform/ui/view.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "platform/ui/internal/view_parts.h"
#include "platform/ui/services.h"

namespace platform::ui {

using namespace detail;

// ----- Navigation bar -----

View View::navigationTitle(TextContent title) const {
  return modified([title](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (b.scope.nav) {
      if (!b.scope.nav->title) b.scope.nav->title = title;
    } else if (first < out.size()) {
      out[first].attrs[Attr::navigationTitle] = title;
    }
  });
}

View View::navigationBarTitleDisplayMode(TitleDisplayMode mode) const {
  return modified([mode](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (b.scope.nav) {
      if (!b.scope.nav->displayMode) b.scope.nav->displayMode = mode;
    } else if (first < out.size()) {
      out[first].attrs[Attr::titleDisplayMode] = mode;
    }
  });
}

View View::navigationBarBackButtonHidden(bool hidden) const {
  return modified([hidden](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.nav && !b.scope.nav->backButtonHidden) b.scope.nav->backButtonHidden = hidden;
  });
}

View View::toolbar(std::vector<View> items) const {
  return modified([items](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    std::string key = b.subKey(path, "toolbar");
    std::vector<Node> built;
    buildChildren(b, key, items, built);
    if (b.scope.nav) {
      for (Node& n : built) b.scope.nav->toolbar.push_back(std::move(n));
    } else if (first < out.size()) {
      for (Node& n : built) out[first].slots["toolbar"].push_back(std::move(n));
    }
  });
}

View View::searchable(Binding<std::string> text, Binding<bool> isPresented, TextContent prompt,
                      SearchFieldPlacement placement) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    {
      ScopeGuard guard(b);
      b.scope.env = b.scope.env.with<DismissSearchKey>(DismissSearchAction([text, isPresented] {
        isPresented.set(false);
        text.set("");
      }));
      base.build(b, path, out);
    }
    Node field = node(NodeKind::searchField, b.subKey(path, "search"));
    field.attrs[Attr::prompt] = prompt;
    field.attrs[Attr::value] = text.get();
    field.attrs[Attr::presented] = isPresented.get();
    field.attrs[Attr::placement] = placement;
    Handlers h;
    h.setText = [text](std::string v) { text.set(std::move(v)); };
    h.focus = [isPresented](bool on) {
      if (on && !isPresented.get()) isPresented.set(true);
    };
    h.dismiss = [text, isPresented] {
      isPresented.set(false);
      text.set("");
    };
    makeActionable(b, field, std::move(h));
    if (b.scope.nav) {
      b.scope.nav->search.push_back(std::move(field));
    } else if (first < out.size()) {
      out[first].slots["search"].push_back(std::move(field));
    }
  });
}

View View::navigationDestination(Binding<bool> isPresented, std::function<View()> destination) const {
  return modified([isPresented, destination](Builder& b, const std::string& path, const View& base,
                                             std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "destination");
    if (b.scope.nav) b.scope.nav->destinations.push_back({key, isPresented, destination});
  });
}

View View::tabItem(View label) const {
  return slotModifier(*this, "tabItem", [label](Builder& b, const std::string& key, Node& target) {
    label.build(b, key, target.slots["tabItem"]);
  });
}

// ----- Presentations -----

View View::sheet(Binding<bool> isPresented, std::function<View()> content, std::function<void()> onDismiss) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "sheet");
    struct Presented {
      bool value = false;
    };
    auto was = b.persistent<Presented>(key + ".presented", [] { return std::make_shared<Presented>(); });
    bool presented = isPresented.get();
    if (was->value && !presented && onDismiss) b.afterRender(onDismiss);
    was->value = presented;
    if (!presented) return;

    std::size_t index = b.reservePresentation();
    Node sheet = node(NodeKind::sheet, key);
    detail::PresentationPrefs prefs;
    {
      ScopeGuard guard(b);
      b.scope.nav = nullptr;
      b.scope.presentation = &prefs;
      b.scope.disabled = false;
      b.scope.afterAction = {};
      b.scope.env = b.scope.env.with<DismissKey>(DismissAction([isPresented] { isPresented.set(false); }));
      content().build(b, key, sheet.children);
    }
    sheet.attrs[Attr::sizing] = prefs.sizing.value_or(PresentationSizing::automatic);
    sheet.attrs[Attr::interactiveDismissDisabled] = prefs.interactiveDismissDisabled.value_or(false);
    Handlers h;
    h.dismiss = [isPresented] { isPresented.set(false); };
    h.refuseDismiss = prefs.interactiveDismissDisabled.value_or(false);
    b.registerAction(sheet, std::move(h));
    b.setPresentation(index, std::move(sheet));
  });
}

View View::presentationSizing(PresentationSizing sizing) const {
  return modified([sizing](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.presentation && !b.scope.presentation->sizing) b.scope.presentation->sizing = sizing;
  });
}

View View::interactiveDismissDisabled(bool disabled) const {
  return modified([disabled](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    if (b.scope.presentation && !b.scope.presentation->interactiveDismissDisabled) {
      b.scope.presentation->interactiveDismissDisabled = disabled;
    }
  });
}

View View::confirmationDialog(TextContent title, Binding<bool> isPresented, Visibility titleVisibility,
                              std::vector<View> actions, View message) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    base.build(b, path, out);
    std::string key = b.subKey(path, "dialog");
    if (!isPresented.get()) return;
    std::size_t index = b.reservePresentation();
    Node dialog = node(NodeKind::confirmationDialog, key);
    dialog.attrs[Attr::title] = title;
    dialog.attrs[Attr::titleVisibility] = titleVisibility;
    {
      ScopeGuard guard(b);
      b.scope.nav = nullptr;
      b.scope.disabled = false;
      b.scope.afterAction = [isPresented] { isPresented.set(false); };
      buildChildren(b, key, actions, dialog.children);
      message.build(b, key + "/message", dialog.slots["message"]);
    }
    Handlers h;
    h.dismiss = [isPresented] { isPresented.set(false); };
    b.registerAction(dialog, std::move(h));
    b.setPresentation(index, std::move(dialog));
  });
}

View View::contextMenu(std::vector<View> items) const {
  return slotModifier(*this, "contextMenu", [items](Builder& b, const std::string& key, Node& target) {
    buildChildren(b, key, items, target.slots["contextMenu"]);
  });
}

View View::swipeActions(Edge edge, bool allowsFullSwipe, std::vector<View> actions) const {
  return slotModifier(*this, "swipeActions",
                      [items = std::move(actions), edge, allowsFullSwipe](Builder& b, const std::string& key,
                                                                          Node& target) {
                        target.attrs[Attr::swipeActionsEdge] = edge;
                        target.attrs[Attr::swipeActionsAllowsFullSwipe] = allowsFullSwipe;
                        buildChildren(b, key, items, target.slots["swipeActions"]);
                      });
}

View View::popoverTip(std::shared_ptr<const Tip> tip, Edge arrowEdge, std::function<void()> action) const {
  return modified([=](Builder& b, const std::string& path, const View& base, std::vector<Node>& out) {
    std::size_t first = out.size();
    base.build(b, path, out);
    if (!tip || first >= out.size() || !Tips::shouldDisplay(tip->id())) return;
    Node& anchor = out[first];
    Node popover = node(NodeKind::popoverTip, b.subKey(anchor.identity, "tip"));
    popover.attrs[Attr::tipId] = tip->id();
    popover.attrs[Attr::title] = tip->title();
    if (auto message = tip->message()) popover.attrs[Attr::message] = *message;
    if (auto image = tip->imageAsset()) popover.attrs[Attr::imageAsset] = *image;
    popover.attrs[Attr::arrowEdge] = arrowEdge;
    Handlers h;
    h.dismiss = [tip] { tip->invalidate("tipClosed"); };
    h.tap = action ? action : [] {};
    b.registerAction(popover, std::move(h));
    anchor.slots["popoverTip"].push_back(std::move(popover));
  });
}

View NavigationStack(View root) {
  return make([root](Builder& b, const std::string& path, std::vector<Node>& out) {
    using Entries = std::vector<std::string>;
    auto box = b.stateBox<Entries>(path + ".navigationPath", [] { return Entries(); });
    Node stack = node(NodeKind::navigationStack, path);
    const bool outerHidden = b.scope.hidden;

    std::function<View()> content = [root] { return root; };
    std::function<void()> pop;  // how the page being built leaves the stack
    for (std::size_t level = 0;; ++level) {
      detail::NavCollector nav;
      if (level < box->value.size()) nav.pushed = box->value[level];
      nav.push = [box, level](const std::string& key) {
        box->value.resize(std::min(box->value.size(), level));
        box->value.push_back(key);
        box->changed();
      };
      std::string pagePath =
          level == 0 ? path + "/root" : path + "/page" + std::to_string(level) + "[" + shortKey(box->value[level - 1]) + "]";
      Node page = node(NodeKind::navigationPage, pagePath);
      {
        ScopeGuard guard(b);
        b.scope.nav = &nav;
        b.scope.hidden = outerHidden || level < box->value.size();
        if (pop) b.scope.env = b.scope.env.with<DismissKey>(DismissAction(pop));
        content().build(b, pagePath, page.children);
      }
      if (b.scope.hidden || level < box->value.size()) page.attrs[Attr::hidden] = true;
      if (nav.title) page.attrs[Attr::title] = *nav.title;
      page.attrs[Attr::titleDisplayMode] = nav.displayMode.value_or(TitleDisplayMode::automatic);
      page.attrs[Attr::backButtonHidden] = nav.backButtonHidden.value_or(false);
      if (!nav.toolbar.empty()) page.slots["toolbar"] = std::move(nav.toolbar);
      if (!nav.search.empty()) page.slots["search"] = std::move(nav.search);
      if (pop) {
        Handlers h;
        h.dismiss = pop;
        h.refuseDismiss = nav.backButtonHidden.value_or(false);
        b.registerAction(page, std::move(h));
      }
      stack.children.push_back(std::move(page));

      // Which page comes next: the entry of the path at this level, if it still leads
      // somewhere, or an isPresented destination that has just turned true.
      Entries& entries = box->value;
      auto truncate = [&] {
        entries.resize(level);
        box->changed();
      };
      auto makePop = [box, level](std::optional<Binding<bool>> flag) {
        return std::function<void()>([box, level, flag] {
          if (box->value.size() > level) {
            box->value.resize(level);
            box->changed();
          }
          if (flag) flag->set(false);
        });
      };
      if (level < entries.size()) {
        const std::string& key = entries[level];
        if (auto link = nav.links.find(key); link != nav.links.end()) {
          content = link->second;
          pop = makePop(std::nullopt);
          continue;
        }
        auto dest = std::find_if(nav.destinations.begin(), nav.destinations.end(),
                                 [&](const auto& d) { return d.key == key; });
        if (dest != nav.destinations.end() && dest->isPresented.get()) {
          content = dest->content;
          pop = makePop(dest->isPresented);
          continue;
        }
        truncate();
        break;
      }
      auto shown = std::find_if(nav.destinations.begin(), nav.destinations.end(),
                                [](const auto& d) { return d.isPresented.get(); });
      if (shown == nav.destinations.end()) break;
      entries.push_back(shown->key);
      box->changed();
      content = shown->content;
      pop = makePop(shown->isPresented);
    }
    out.push_back(std::move(stack));
  });
}

namespace {
View tabView(std::optional<Binding<int>> selection, std::vector<View> tabs) {
  return make([selection, tabs](Builder& b, const std::string& path, std::vector<Node>& out) {
    Binding<int> selected = selection ? *selection : [&] {
      auto box = b.stateBox<int>(path + ".selection", [] { return 0; });
      return State<int>(box).binding();
    }();
    std::vector<int> present;
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      if (!tabs[i].isEmpty()) present.push_back(static_cast<int>(i));
    }
    int current = selected.get();
    if (std::find(present.begin(), present.end(), current) == present.end()) {
      current = present.empty() ? 0 : present.front();
    }
    Node view = node(NodeKind::tabView, path);
    for (int i : present) {
      std::string childPath = path + "/" + std::to_string(i);
      Node tab = node(NodeKind::tab, childPath + "!tab");
      {
        ScopeGuard guard(b);
        if (i != current) b.scope.hidden = true;
        tabs[static_cast<std::size_t>(i)].build(b, childPath, tab.children);
      }
      for (Node& child : tab.children) {
        auto item = child.slots.find("tabItem");
        if (item != child.slots.end()) {
          tab.slots["tabItem"] = std::move(item->second);
          child.slots.erase(item);
          break;
        }
      }
      tab.attrs[Attr::selected] = (i == current);
      if (i != current) {
        for (Node& child : tab.children) child.attrs[Attr::hidden] = true;
      }
      Handlers h;
      h.tap = [selected, i] {
        if (selected.get() != i) selected.set(i);
      };
      makeActionable(b, tab, std::move(h));
      view.children.push_back(std::move(tab));
    }
    out.push_back(std::move(view));
  });
}
}  // namespace

View TabView(std::vector<View> tabs) { return tabView(std::nullopt, std::move(tabs)); }
View TabView(Binding<int> selection, std::vector<View> tabs) { return tabView(selection, std::move(tabs)); }

}  // namespace platform::ui
