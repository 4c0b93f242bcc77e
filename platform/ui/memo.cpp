#include "platform/ui/memo.h"

#include <cstdint>

#include "platform/observation/observation.h"
#include "platform/foundation/text.h"
#include "platform/ui/observable.h"

namespace platform::ui::detail {

namespace {

// What a memoised subtree keeps between renders.
struct MemoEntry {
  AnyValue key;
  std::vector<Node> nodes;
  MemoRecord record;
  std::vector<std::pair<std::string, Handlers>> handlers;
  std::vector<std::pair<std::string, std::function<View()>>> links;
  bool hidden = false;
  bool disabled = false;
  bool hadNav = false;
  std::uint64_t anyChanges = 0;
  std::string locale;
  // Set when a store property the build read changes; each build has a flag of its own.
  std::shared_ptr<bool> stale = std::make_shared<bool>(true);
  platform::ObservationTracking tracking;
};

// What the navigation page around a subtree collected, but for the links (which a copy
// offers again).
struct NavMarks {
  bool title = false;
  std::optional<TitleDisplayMode> displayMode;
  bool backButtonHidden = false;
  std::size_t toolbar = 0, search = 0, destinations = 0;
  bool operator==(const NavMarks&) const = default;

  static NavMarks of(const NavCollector* nav) {
    if (!nav) return {};
    return {nav->title.has_value(), nav->displayMode, nav->backButtonHidden.has_value(),
            nav->toolbar.size(),    nav->search.size(),  nav->destinations.size()};
  }
};

// `storeChangesWait`: a change of stored data the build read does not end the copy (see
// MemoImpl::build).
bool stillValid(const MemoEntry& m, const Builder& b, const AnyValue& key, bool storeChangesWait) {
  if ((*m.stale && !storeChangesWait) || !m.record.reusable || !(m.key == key)) return false;
  const Scope& scope = b.scope;
  if (scope.hidden != m.hidden || scope.disabled != m.disabled || (scope.nav != nullptr) != m.hadNav ||
      scope.afterAction) {
    return false;
  }
  if (m.anyChanges != anyChangeCount()) return false;
  for (std::size_t i = 0; i < m.record.stateVersions.size(); ++i) {
    if (*m.record.stateVersions[i] != m.record.versionsSeen[i]) return false;
  }
  for (std::size_t i = 0; i < m.record.objects.counts.size(); ++i) {
    if (*m.record.objects.counts[i] != m.record.objects.seen[i]) return false;
  }
  for (const auto& nested : m.record.nestedStale) {
    if (*nested && !storeChangesWait) return false;
  }
  for (const auto& same : m.record.environment) {
    if (!same(scope.env)) return false;
  }
  return m.locale == platform::Locale::currentIdentifier();
}

// Repeats what the build did besides its nodes; false (and nothing done) when an action id
// of the copy is taken in this render.
bool repeat(const MemoEntry& m, Builder& b) {
  for (const auto& [id, handlers] : m.handlers) {
    if (b.handlers(id)) return false;
  }
  for (const auto& [id, handlers] : m.handlers) b.reregisterAction(id, handlers);
  if (NavCollector* nav = b.scope.nav) {
    for (const auto& [path, destination] : m.links) nav->links[path] = destination;
  }
  for (void* entry : m.record.entries) static_cast<Builder::StoreEntry*>(entry)->generation = b.generation();
  return true;
}

// Marks the nodes of one build of a memoised subtree with a number of their own; nodes that
// already carry one (those of a memoised subtree inside it) keep theirs.
void stamp(std::vector<Node>& nodes, std::uint64_t number) {
  for (Node& n : nodes) {
    if (n.memoStamp == 0) n.memoStamp = number;
    stamp(n.children, number);
    for (auto& [name, slot] : n.slots) stamp(slot, number);
  }
}

std::uint64_t nextStamp() {
  static std::uint64_t last = 0;  // main thread only
  return ++last;
}

// Puts the builder's recording back when a build ends, also by an exception.
struct RecordingScope {
  RecordingScope(Builder& b, MemoRecord* record) : b(b), outer(b.recording), outerObjects(currentObjectReads) {
    b.recording = record;
    currentObjectReads = &record->objects;
  }
  ~RecordingScope() {
    b.recording = outer;
    currentObjectReads = outerObjects;
  }
  Builder& b;
  MemoRecord* outer;
  ObjectReads* outerObjects;
};

}  // namespace

void MemoImpl::build(Builder& b, const std::string& path, std::vector<Node>& out) const {
  if (onlyWhileHidden_ && !b.scope.hidden) {
    content_().build(b, path, out);
    return;
  }
  auto memo = b.persistent<MemoEntry>(
      path + "#memo", [] { return std::make_shared<MemoEntry>(); }, [](MemoEntry& m) { m.tracking.cancel(); });
  MemoRecord* outer = b.recording;
  // A subtree kept only while hidden waits for its shown build to catch up with changed
  // stored data: nobody sees it meanwhile, and it is built anew whenever it shows. Its own
  // state, the environment, the key and the rest still end the copy.
  const bool storeChangesWait = onlyWhileHidden_;
  if (stillValid(*memo, b, key_, storeChangesWait) && repeat(*memo, b)) {
    out.insert(out.end(), memo->nodes.begin(), memo->nodes.end());
    if (outer) {
      outer->merge(memo->record);
      outer->nestedStale.push_back(memo->stale);
    }
    return;
  }

  NavCollector* nav = b.scope.nav;
  const NavMarks navBefore = NavMarks::of(nav);
  const std::size_t linksBefore = nav ? nav->links.size() : 0;
  const Builder::Marks marksBefore = b.marks();
  const std::int64_t rowsBefore = b.scope.lazy ? b.scope.lazy->next : 0;
  std::optional<PresentationPrefs> prefsBefore;
  if (b.scope.presentation) prefsBefore = *b.scope.presentation;
  const std::size_t first = out.size();

  memo->tracking.cancel();
  auto stale = std::make_shared<bool>(false);
  MemoRecord record;
  memo->anyChanges = anyChangeCount();
  {
    RecordingScope recording(b, &record);
    std::weak_ptr<Invalidator> invalidator = b.invalidator();
    memo->tracking = platform::withObservationTracking([&] { content_().build(b, path, out); },
                                                       [stale, invalidator] {
                                                         *stale = true;
                                                         if (auto i = invalidator.lock()) i->stateChanged();
                                                       });
  }
  memo->stale = stale;
  memo->key = key_;
  memo->hidden = b.scope.hidden;
  memo->disabled = b.scope.disabled;
  memo->hadNav = nav != nullptr;
  memo->locale = platform::Locale::currentIdentifier();
  memo->links.clear();
  memo->handlers.clear();
  memo->nodes.clear();

  // Links of this subtree are those under its path; any other change to the page around it,
  // and any lifecycle work, presentation or numbered row, a copy could not repeat.
  if (nav) {
    for (auto it = nav->links.lower_bound(path); it != nav->links.end() && it->first.compare(0, path.size(), path) == 0;
         ++it) {
      memo->links.emplace_back(it->first, it->second);
    }
  }
  const bool prefsSame = !prefsBefore || (b.scope.presentation->sizing == prefsBefore->sizing &&
                                          b.scope.presentation->interactiveDismissDisabled ==
                                              prefsBefore->interactiveDismissDisabled);
  if (!(b.marks() == marksBefore) || !(NavMarks::of(nav) == navBefore) ||
      (nav && nav->links.size() - linksBefore != memo->links.size()) ||
      (b.scope.lazy && b.scope.lazy->next != rowsBefore) || !prefsSame) {
    record.reusable = false;
  }
  if (record.reusable) {
    std::vector<Node> built(std::make_move_iterator(out.begin() + static_cast<std::ptrdiff_t>(first)),
                            std::make_move_iterator(out.end()));
    out.resize(first);
    stamp(built, nextStamp());
    out.insert(out.end(), built.begin(), built.end());
    memo->nodes = std::move(built);
    for (const std::string& id : record.actions) {
      if (const Handlers* handlers = b.handlers(id)) memo->handlers.emplace_back(id, *handlers);
    }
  }
  memo->record = record;
  if (outer) {
    outer->merge(record);
    outer->nestedStale.push_back(stale);
  }
}

}  // namespace platform::ui::detail
