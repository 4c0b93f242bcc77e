#include "sdk-core/heartbeat/heartbeats_bundle.h"

#include <algorithm>
#include <cmath>

#include <nlohmann/json.hpp>

#include "sdk-core/heartbeat/heartbeats_payload.h"
#include "sdk-core/utilities/json_nesting.h"

namespace {

using OrderedJSON = nlohmann::ordered_json;

std::optional<TimePeriod> timePeriodFromRaw(int64_t raw) {
  for (TimePeriod period : allTimePeriods()) {
    if (static_cast<int64_t>(period) == raw) return period;
  }
  return std::nullopt;
}

OrderedJSON encodeHeartbeat(const Heartbeat& heartbeat) {
  OrderedJSON periods = OrderedJSON::array();
  for (TimePeriod period : heartbeat.timePeriods) periods.push_back(static_cast<int64_t>(period));
  OrderedJSON object = OrderedJSON::object();
  object["agent"] = heartbeat.agent;
  object["date"] = heartbeat.date.timeIntervalSinceReferenceDate;
  object["version"] = heartbeat.version;
  object["timePeriods"] = std::move(periods);
  return object;
}

// An integer the way a strict decoder reads one: an integer number, or a real with no
// fractional part that fits.
std::optional<int64_t> readInteger(const nlohmann::json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return value.get<int64_t>();
  }
  if (value.is_number_float()) {
    const double number = value.get<double>();
    if (std::isfinite(number) && std::floor(number) == number && std::fabs(number) < 9.0e18) {
      return static_cast<int64_t>(number);
    }
  }
  return std::nullopt;
}

std::optional<platform::Date> readDate(const nlohmann::json& value) {
  if (!value.is_number()) return std::nullopt;
  const double seconds = value.get<double>();
  if (!std::isfinite(seconds)) return std::nullopt;
  return platform::Date::fromTimeIntervalSinceReferenceDate(seconds);
}

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<Heartbeat> decodeHeartbeat(const nlohmann::json& object) {
  if (!object.is_object()) return std::nullopt;
  const auto* agent = member(object, "agent");
  const auto* date = member(object, "date");
  const auto* version = member(object, "version");
  const auto* periods = member(object, "timePeriods");
  if (!agent || !date || !version || !periods) return std::nullopt;
  if (!agent->is_string() || !periods->is_array()) return std::nullopt;
  auto day = readDate(*date);
  auto versionNumber = readInteger(*version);
  if (!day || !versionNumber) return std::nullopt;
  Heartbeat heartbeat;
  heartbeat.agent = agent->get<std::string>();
  heartbeat.date = *day;
  heartbeat.version = *versionNumber;
  for (const auto& raw : *periods) {
    auto number = readInteger(raw);
    auto period = number ? timePeriodFromRaw(*number) : std::nullopt;
    if (!period) return std::nullopt;
    heartbeat.timePeriods.push_back(*period);
  }
  return heartbeat;
}

}  // namespace

const std::vector<TimePeriod>& allTimePeriods() {
  static const std::vector<TimePeriod> all = {TimePeriod::daily};
  return all;
}

double timePeriodSeconds(TimePeriod period) { return static_cast<double>(static_cast<int64_t>(period)) * 86400.0; }

platform::Date heartbeatDistantPast() { return platform::Date::fromTimeIntervalSinceReferenceDate(-63114076800.0); }

RingBufferError::RingBufferError(int64_t pushIndex, int64_t endIndex)
    : pushIndex_(pushIndex),
      endIndex_(endIndex),
      description_("Out-of-bounds push at index " + std::to_string(pushIndex) + " to ring buffer with" +
                   "end index of " + std::to_string(endIndex) + ".") {}

HeartbeatsPayload Heartbeat::toHeartbeatsPayload() const {
  return HeartbeatsPayload({{agent, {date}}}, 2);
}

const HeartbeatsBundle::DatesCache& HeartbeatsBundle::initialDatesCache() {
  static const DatesCache cache = [] {
    DatesCache made;
    for (TimePeriod period : allTimePeriods()) made[period] = heartbeatDistantPast();
    return made;
  }();
  return cache;
}

HeartbeatsBundle::HeartbeatsBundle(int64_t capacity, DatesCache cache)
    : capacity(capacity), lastAddedHeartbeatDates(std::move(cache)), buffer(capacity) {}

void HeartbeatsBundle::append(const Heartbeat& heartbeat) {
  if (capacity < 1) return;
  try {
    std::optional<Heartbeat> replaced = buffer.push(heartbeat);
    if (replaced) {
      for (auto& [period, date] : lastAddedHeartbeatDates) {
        if (date == replaced->date) date = heartbeatDistantPast();
      }
    }
    for (TimePeriod period : heartbeat.timePeriods) lastAddedHeartbeatDates[period] = heartbeat.date;
  } catch (const RingBufferError& error) {
    *this = HeartbeatsBundle(capacity);
    std::string description = error.description();
    std::replace(description.begin(), description.end(), ' ', '-');
    Heartbeat diagnostic(heartbeat.agent + " error/" + description, heartbeat.date, heartbeat.timePeriods, 0);
    try {
      buffer.push(diagnostic);
      for (TimePeriod period : diagnostic.timePeriods) lastAddedHeartbeatDates[period] = diagnostic.date;
    } catch (const RingBufferError&) {
      // The fresh bundle stays as it is.
    }
  }
}

std::optional<Heartbeat> HeartbeatsBundle::takeHeartbeat(platform::Date day) {
  std::vector<Heartbeat> popped;
  std::optional<Heartbeat> found;
  while (auto heartbeat = buffer.pop()) {
    if (heartbeat->date == day) {
      found = std::move(heartbeat);
      break;
    }
    popped.push_back(std::move(*heartbeat));
  }
  for (auto it = popped.rbegin(); it != popped.rend(); ++it) {
    try {
      buffer.push(*it);
    } catch (const RingBufferError&) {
      // A heartbeat that cannot go back is dropped, as a full reset would drop it.
    }
  }
  return found;
}

HeartbeatsPayload HeartbeatsBundle::toHeartbeatsPayload() const {
  // Merge by agent in slot order, then sort the agents.
  std::vector<HeartbeatsPayload::UserAgentPayload> entries;
  for (const Heartbeat& heartbeat : heartbeats()) {
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const auto& entry) { return entry.agent == heartbeat.agent; });
    if (it == entries.end()) {
      entries.push_back({heartbeat.agent, {heartbeat.date}});
    } else {
      it->dates.push_back(heartbeat.date);
    }
  }
  // Byte order of UTF-8 is the order of Unicode scalars.
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.agent < b.agent; });
  return HeartbeatsPayload(std::move(entries), 2);
}

std::vector<uint8_t> encodeHeartbeatsBundle(const HeartbeatsBundle& bundle) {
  OrderedJSON dates = OrderedJSON::array();
  for (const auto& [period, date] : bundle.lastAddedHeartbeatDates) {
    dates.push_back(static_cast<int64_t>(period));
    dates.push_back(date.timeIntervalSinceReferenceDate);
  }
  OrderedJSON queue = OrderedJSON::array();
  for (const auto& slot : bundle.buffer.circularQueue) {
    queue.push_back(slot ? encodeHeartbeat(*slot) : OrderedJSON(nullptr));
  }
  OrderedJSON buffer = OrderedJSON::object();
  buffer["circularQueue"] = std::move(queue);
  buffer["tailIndex"] = bundle.buffer.tailIndex;
  OrderedJSON root = OrderedJSON::object();
  root["capacity"] = bundle.capacity;
  root["lastAddedHeartbeatDates"] = std::move(dates);
  root["buffer"] = std::move(buffer);
  const std::string text = root.dump();
  return {text.begin(), text.end()};
}

std::optional<HeartbeatsBundle> decodeHeartbeatsBundle(const std::vector<uint8_t>& bytes) {
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!UTLJSONNestingWithin(text)) return std::nullopt;
  nlohmann::json root = nlohmann::json::parse(text, nullptr, false);
  if (root.is_discarded() || !root.is_object()) return std::nullopt;
  const auto* capacity = member(root, "capacity");
  const auto* dates = member(root, "lastAddedHeartbeatDates");
  const auto* buffer = member(root, "buffer");
  if (!capacity || !dates || !buffer || !dates->is_array() || !buffer->is_object()) return std::nullopt;
  auto capacityNumber = readInteger(*capacity);
  if (!capacityNumber || *capacityNumber < 0 || *capacityNumber > kHeartbeatsBundleMaxCapacity) return std::nullopt;

  HeartbeatsBundle::DatesCache cache;
  if (dates->size() % 2 != 0) return std::nullopt;
  for (size_t i = 0; i < dates->size(); i += 2) {
    auto raw = readInteger((*dates)[i]);
    auto period = raw ? timePeriodFromRaw(*raw) : std::nullopt;
    auto date = readDate((*dates)[i + 1]);
    if (!period || !date) return std::nullopt;
    cache[*period] = *date;
  }

  const auto* queue = member(*buffer, "circularQueue");
  const auto* tail = member(*buffer, "tailIndex");
  if (!queue || !tail || !queue->is_array()) return std::nullopt;
  auto tailIndex = readInteger(*tail);
  if (!tailIndex) return std::nullopt;
  // The queue always has `capacity` slots and the tail points at one of them.
  const auto slots = static_cast<int64_t>(queue->size());
  if (slots != *capacityNumber || *tailIndex < 0 || *tailIndex >= std::max<int64_t>(slots, 1)) return std::nullopt;

  HeartbeatsBundle bundle(0, std::move(cache));
  bundle.capacity = *capacityNumber;
  for (const auto& slot : *queue) {
    if (slot.is_null()) {
      bundle.buffer.circularQueue.emplace_back();
      continue;
    }
    auto heartbeat = decodeHeartbeat(slot);
    if (!heartbeat) return std::nullopt;
    bundle.buffer.circularQueue.emplace_back(std::move(*heartbeat));
  }
  bundle.buffer.tailIndex = *tailIndex;
  return bundle;
}
