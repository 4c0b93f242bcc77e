#include <chrono>
#include <string>

#include "web/internal/server_shared.h"
#include "web/posted_text.h"

namespace web {

using nlohmann::json;
using namespace server_internal;

namespace {

// The largest row number a page may name when it scrolls a lazy list.
constexpr int64_t kMaxRowIndex = int64_t{1} << 40;
// The most rows a page may say its window holds.
constexpr int64_t kMaxRowsShown = 500;

}  // namespace

bool ActionSpec::accepts(EventKind kind) const {
  switch (kind) {
    case EventKind::tap: return tap;
    case EventKind::setValue: return value != Value::none;
    case EventKind::submit: return submit;
    case EventKind::focus: return focus;
    case EventKind::dismiss: return dismiss;
    case EventKind::scroll: return scroll;
  }
  return false;
}

std::optional<EventKind> eventKindFromName(std::string_view name) {
  if (name == "tap") return EventKind::tap;
  if (name == "set") return EventKind::setValue;
  if (name == "submit") return EventKind::submit;
  if (name == "focus") return EventKind::focus;
  if (name == "dismiss") return EventKind::dismiss;
  if (name == "scroll") return EventKind::scroll;
  return std::nullopt;
}

WebServer::Outcome WebServer::performOnMain(const json& request) {
  const std::string id = request["id"].get<std::string>();
  auto stale = [this](const char* why) {
    // Not a control of the latest render, or not one that can act now: a stale page or a
    // forged post. Answer the current render so that an honest page catches up.
    return Outcome{409, json{{"error", why}, {"render", json::parse(renderJson())}}.dump()};
  };
  auto found = actions_.find(id);
  if (found == actions_.end()) return stale("unknown action");
  const ActionSpec& spec = found->second;
  std::optional<EventKind> kind = EventKind::tap;
  if (request.contains("event")) {
    const json& name = request.at("event");
    kind = name.is_string() ? eventKindFromName(name.get<std::string>()) : std::nullopt;
  }
  if (!kind || !spec.accepts(*kind)) return {400, json{{"error", "this control does not take that event"}}.dump()};
  const json* value = request.contains("value") ? &request.at("value") : nullptr;

  ActionEvent event;
  event.actionId = id;
  event.kind = *kind;
  if (*kind == EventKind::setValue && spec.value == ActionSpec::Value::text) {
    if (!value || !value->is_string()) return {400, json{{"error", "text expected"}}.dump()};
    size_t limit = std::min(spec.maxLength.value_or(options_.maxTextLength), options_.maxTextLength);
    event.value = cutPostedText(value->get<std::string>(), limit, spec.multiline);
  } else if ((*kind == EventKind::setValue && spec.value == ActionSpec::Value::flag) || *kind == EventKind::focus) {
    if (!value || !value->is_boolean()) return {400, json{{"error", "true or false expected"}}.dump()};
    event.value = value->get<bool>();
  } else if (*kind == EventKind::scroll) {
    if (!value || !value->is_number_integer() || value->get<int64_t>() < 0 || value->get<int64_t>() > kMaxRowIndex) {
      return {400, json{{"error", "a row number expected"}}.dump()};
    }
    event.value = value->get<int64_t>();
    // How many rows the page's window holds sizes the list's window; it is optional.
    if (request.contains("rows")) {
      const json& rows = request.at("rows");
      if (!rows.is_number_integer() || rows.get<int64_t>() < 1 || rows.get<int64_t>() > kMaxRowsShown) {
        return {400, json{{"error", "a number of rows from 1 to 500 expected"}}.dump()};
      }
      event.rowsShown = rows.get<int64_t>();
    }
  }

  // The page numbers its actions; an attempt the server has seen (a retry after a 503 whose
  // first attempt ran after all) gets the current render and does not act again.
  std::optional<uint64_t> base;
  if (request.contains("base") && request.at("base").is_number_unsigned()) base = request.at("base").get<uint64_t>();
  const std::string* pageId =
      request.contains("page") && request.at("page").is_string() ? &request.at("page").get_ref<const std::string&>() : nullptr;
  const bool pageNamed = pageId && !pageId->empty() && pageId->size() <= kMaxPageId;
  if (pageId && request.contains("seq") && request.at("seq").is_number_unsigned()) {
    if (!pageNamed) return {400, json{{"error", "a page id of 1 to 64 characters expected"}}.dump()};
    if (!isNewAction(*pageId, request.at("seq").get<uint64_t>())) return {200, renderFor(base)};
  }

  auto began = std::chrono::steady_clock::now();
  auto status = source_->perform(event);
  auto performed = std::chrono::steady_clock::now();
  // Answered means saved: what the action changed is committed before any answer is written.
  platform::Status committed = source_->commit();
  // The new render reaches the posting page in this answer; its event stream need not carry
  // it too.
  if (status == platform::ui::DispatchStatus::handled && committed.ok() && pageNamed) answering_ = *pageId;
  refresh();
  auto refreshed = std::chrono::steady_clock::now();
  if (!committed.ok()) {
    return {500, json{{"error", committed.error().localizedDescription()}, {"render", json::parse(renderJson())}}.dump()};
  }
  // The page names the version it holds; it gets the changes from there when it can.
  switch (status) {
    case platform::ui::DispatchStatus::handled: return {200, renderFor(base), performed - began, refreshed - performed};
    case platform::ui::DispatchStatus::unknownAction: return stale("unknown action");
    case platform::ui::DispatchStatus::disabled: return stale("disabled");
    case platform::ui::DispatchStatus::refused: break;
  }
  return {400, json{{"error", "refused"}}.dump()};
}

bool WebServer::isNewAction(const std::string& page, uint64_t seq) {
  auto found = lastActions_.find(page);
  if (found != lastActions_.end()) {
    if (seq <= found->second) return false;
    found->second = seq;
    return true;
  }
  // Pages come and go with reloads: remember the latest few.
  static constexpr size_t kPagesRemembered = 64;
  if (pageOrder_.size() >= kPagesRemembered) {
    lastActions_.erase(pageOrder_.front());
    pageOrder_.pop_front();
  }
  lastActions_.emplace(page, seq);
  pageOrder_.push_back(page);
  return true;
}

}  // namespace web
