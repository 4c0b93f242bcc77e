// What the web server's parts share: the state its threads and the main thread share, the
// outcome of a posted action, and the small helpers that write answers. server.cpp holds the
// server's life and renders, server_routes.cpp the routes and their guards, server_actions.cpp
// the posted actions; guarded_http.cpp the HTTP layer below them.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include <nlohmann/json.hpp>

#include "web/page_patch.h"
#include "web/server.h"

namespace web {

namespace server_internal {

// A render's HTML; empty before the first render.
inline const std::string& htmlOf(const std::shared_ptr<const ParsedHtml>& page) {
  static const std::string kNone;
  return page ? page->html() : kNone;
}

inline constexpr const char* kTokenHeader = "X-Brivel-Token";
inline constexpr const char* kJson = "application/json";
// The longest page id a page may name itself by.
inline constexpr std::size_t kMaxPageId = 64;

// The Content-Security-Policy of the page.
const std::string& pageSecurityPolicy();
// Answers `status` with {"error": message}.
void refuse(httplib::Response& res, int status, const std::string& message);
// The head of a patch as JSON, up to its ops: {"version":V,"base":B,"title":"...","ops":
void appendPatchHead(std::string& text, uint64_t version, uint64_t base, const std::string& title);

}  // namespace server_internal

// State that the server's threads and the main thread share. Everything but `alive` is
// guarded by `mutex`; `alive` is read and written on the main thread only.
struct WebServer::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t version = 0;
  std::string title;
  // The latest render's HTML, parsed: the next patch is made against it. Written on the main
  // thread only (under `mutex`), so the main thread may read it without the lock.
  std::shared_ptr<const ParsedHtml> page;
  // The page whose own post is answered with this version; its event stream skips it.
  std::string owner;
  // The render serialised once per version: whole (when first asked for), and as a patch
  // against the version before (empty when there is none), for the answers and the event
  // streams alike.
  std::string whole;
  std::string patch;
  bool stopping = false;
  uint64_t lastStream = 0;
  std::deque<uint64_t> streams;
  std::set<uint64_t> evicted;
  bool alive = true;

  // The whole render as JSON. Call with `mutex` held.
  const std::string& wholeText();
  const std::string& html() const { return server_internal::htmlOf(page); }
};

struct WebServer::Outcome {
  int status = 200;
  std::string body;
  // The action itself, and the new page (its HTML, patch and JSON).
  std::chrono::steady_clock::duration actionTime{}, pageTime{};
};

}  // namespace web
