#include "sdk-core/testing/rest_peer.h"

#include "sdk-core/heartbeat/heartbeats_payload.h"
#include "sdk-core/utilities/gzip.h"

ScriptedRestPeer::ScriptedRestPeer() {
  server_.setFallback([this](const platform::RecordedRequest& request) { return answer(request); });
}

ScriptedRestPeer::~ScriptedRestPeer() {
  release();
  server_.stop();
}

void ScriptedRestPeer::route(std::string method, std::string pathPattern, platform::LoopbackResponse reply) {
  std::lock_guard lock(mutex_);
  for (auto& route : routes_) {
    if (route.method == method && route.pattern == pathPattern) {
      route.standing = std::move(reply);
      return;
    }
  }
  routes_.push_back(Route{std::move(method), std::move(pathPattern), {}, std::move(reply)});
}

void ScriptedRestPeer::queue(const std::string& method, const std::string& pathPattern,
                             std::vector<platform::LoopbackResponse> replies) {
  std::lock_guard lock(mutex_);
  for (auto& route : routes_) {
    if (route.method == method && route.pattern == pathPattern) {
      route.scripted.insert(route.scripted.end(), replies.begin(), replies.end());
      return;
    }
  }
  Route route{method, pathPattern, {replies.begin(), replies.end()}, status(404)};
  routes_.push_back(std::move(route));
}

platform::LoopbackResponse ScriptedRestPeer::json(int status, const nlohmann::json& body) {
  return platform::LoopbackResponse{.status = status, .body = body.dump(), .contentType = "application/json"};
}

platform::LoopbackResponse ScriptedRestPeer::status(int status) {
  return platform::LoopbackResponse{.status = status, .body = "", .contentType = "application/json"};
}

void ScriptedRestPeer::hold() {
  std::lock_guard lock(mutex_);
  holding_ = true;
}

void ScriptedRestPeer::release() {
  {
    std::lock_guard lock(mutex_);
    holding_ = false;
  }
  released_.notify_all();
}

bool ScriptedRestPeer::matches(const std::string& pattern, const std::string& path) {
  // Classic wildcard match where "*" never crosses a "/".
  size_t p = 0, s = 0, star = std::string::npos, mark = 0;
  while (s < path.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = s;
    } else if (p < pattern.size() && pattern[p] == path[s]) {
      ++p;
      ++s;
    } else if (star != std::string::npos && path[mark] != '/') {
      p = star + 1;
      s = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

platform::LoopbackResponse ScriptedRestPeer::answer(const platform::RecordedRequest& request) {
  std::unique_lock lock(mutex_);
  released_.wait(lock, [this] { return !holding_; });
  for (auto& route : routes_) {
    if (route.method != request.method || !matches(route.pattern, request.path)) continue;
    if (!route.scripted.empty()) {
      auto reply = route.scripted.front();
      route.scripted.pop_front();
      return reply;
    }
    return route.standing;
  }
  return status(404);
}

std::optional<nlohmann::json> ScriptedRestPeer::heartbeatsOf(const platform::RecordedRequest& request) {
  auto header = request.headers.value("X-telemetry-client");
  if (!header) return std::nullopt;
  auto packed = dataFromBase64URL(*header);
  if (!packed) return std::nullopt;
  auto bytes = UTLGzip::utl_dataByInflatingGzippedData(*packed);
  if (!bytes) return std::nullopt;
  auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, false);
  if (json.is_discarded()) return std::nullopt;
  return json;
}

nlohmann::json ScriptedRestPeer::bodyOf(const platform::RecordedRequest& request) {
  return nlohmann::json::parse(request.body, nullptr, false);
}
