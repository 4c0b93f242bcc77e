#include "sdk-core/utilities/network_info.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <fstream>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/process_state/process_state.h"

namespace {

std::string fileContents(const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<UTLInterfaceState> systemInterfaces() {
  std::vector<UTLInterfaceState> interfaces;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return interfaces;
  for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_name == nullptr) continue;
    UTLInterfaceState state;
    state.name = entry->ifa_name;
    state.up = (entry->ifa_flags & IFF_UP) != 0;
    state.running = (entry->ifa_flags & IFF_RUNNING) != 0;
    state.loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
    const int family = entry->ifa_addr != nullptr ? entry->ifa_addr->sa_family : AF_UNSPEC;
    state.hasAddress = family == AF_INET || family == AF_INET6;
    interfaces.push_back(state);
  }
  ::freeifaddrs(list);
  return interfaces;
}

// Interface names of the default routes (IPv4 and IPv6) that are up and not rejecting.
std::set<std::string> defaultRouteInterfaces(const std::string& ipv4Routes, const std::string& ipv6Routes) {
  std::set<std::string> names;
  std::istringstream v4(ipv4Routes);
  std::string line;
  std::getline(v4, line);  // header
  while (std::getline(v4, line)) {
    std::istringstream fields(line);
    std::string iface, destination, gateway, flags, refCount, use, metric, mask;
    if (!(fields >> iface >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) continue;
    const unsigned long bits = std::strtoul(flags.c_str(), nullptr, 16);
    if (destination == "00000000" && mask == "00000000" && (bits & 0x1) != 0) names.insert(iface);
  }
  std::istringstream v6(ipv6Routes);
  while (std::getline(v6, line)) {
    std::istringstream fields(line);
    std::string destination, prefix, source, sourcePrefix, nextHop, metric, refCount, use, flags, iface;
    if (!(fields >> destination >> prefix >> source >> sourcePrefix >> nextHop >> metric >> refCount >> use >>
          flags >> iface)) {
      continue;
    }
    const unsigned long bits = std::strtoul(flags.c_str(), nullptr, 16);
    const bool isDefault = destination == std::string(32, '0') && prefix == "00";
    if (isDefault && (bits & 0x1) != 0 && (bits & 0x200) == 0) names.insert(iface);  // up, not a reject route
  }
  return names;
}

// Whether every character of `text` is a Unicode decimal digit.
bool isAllDecimalDigits(const std::string& text) {
  int32_t offset = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  while (offset < length) {
    UChar32 c;
    U8_NEXT(text.data(), offset, length, c);
    if (c < 0 || !u_isdigit(c)) return false;
  }
  return true;
}

size_t utf16Length(const std::string& text) {
  size_t units = 0;
  int32_t offset = 0;
  const int32_t length = static_cast<int32_t>(text.size());
  while (offset < length) {
    UChar32 c;
    U8_NEXT(text.data(), offset, length, c);
    units += (c > 0xFFFF) ? 2 : 1;
  }
  return units;
}

struct Shared {
  std::mutex mutex;
  bool made = false;
  std::shared_ptr<UTLTelephonyNetworkInfo> telephony;
  std::shared_ptr<UTLReachability> reachability;
};

Shared& shared() {
  static Shared instance;
  std::lock_guard lock(instance.mutex);
  if (!instance.made) {
    instance.telephony = std::make_shared<UTLTelephonyNetworkInfo>();
    instance.reachability = std::make_shared<UTLReachability>();
    instance.made = true;
  }
  return instance;
}

std::shared_ptr<UTLReachability> reachability() {
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  return s.reachability;
}

}  // namespace

uint32_t UTLReachabilityFlagsFromSystem(const std::vector<UTLInterfaceState>& interfaces,
                                        const std::string& ipv4Routes, const std::string& ipv6Routes) {
  const std::set<std::string> routed = defaultRouteInterfaces(ipv4Routes, ipv6Routes);
  for (const auto& interface : interfaces) {
    if (interface.up && interface.running && !interface.loopback && interface.hasAddress &&
        routed.count(interface.name)) {
      return UTLReachabilityFlagReachable;
    }
  }
  return 0;
}

std::optional<uint32_t> UTLReachability::flags() const {
  return UTLReachabilityFlagsFromSystem(systemInterfaces(), fileContents("/proc/net/route"),
                                        fileContents("/proc/net/ipv6_route"));
}

std::shared_ptr<UTLTelephonyNetworkInfo> UTLNetworkInfo::getNetworkInfo() {
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  return s.telephony;
}

std::optional<std::string> UTLNetworkInfo::getNetworkMobileCountryCode() {
  auto provider = getNetworkInfo()->subscriberCellularProvider();
  return provider ? provider->mobileCountryCode : std::nullopt;
}

std::optional<std::string> UTLNetworkInfo::getNetworkMobileNetworkCode() {
  auto provider = getNetworkInfo()->subscriberCellularProvider();
  return provider ? provider->mobileNetworkCode : std::nullopt;
}

std::optional<std::string> UTLNetworkInfo::formatMcc(const std::optional<std::string>& mcc,
                                                     const std::optional<std::string>& mnc) {
  if (!mcc && !mnc) return std::nullopt;
  const size_t mccLength = mcc ? utf16Length(*mcc) : 0;
  const size_t mncLength = mnc ? utf16Length(*mnc) : 0;
  if (mccLength != 3 || mncLength < 2 || mncLength > 3) return std::nullopt;
  std::string joined = *mcc + *mnc;
  if (!isAllDecimalDigits(joined)) return std::nullopt;
  return joined;
}

int UTLNetworkInfo::getNetworkType() {
  auto object = reachability();
  if (!object) return UTLNetworkTypeNone;
  const uint32_t flags = object->flags().value_or(0);
  if ((flags & UTLReachabilityFlagReachable) == 0) return UTLNetworkTypeNone;
  if ((flags & UTLReachabilityFlagIsWWAN) != 0) return UTLNetworkTypeWWAN;
  return UTLNetworkTypeWIFI;
}

std::optional<std::string> UTLNetworkInfo::getNetworkRadioType() {
  return getNetworkInfo()->currentRadioAccessTechnology();
}

namespace {
// Back to the Linux objects.
void useSystemNetworkInfo() {
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  s.telephony = std::make_shared<UTLTelephonyNetworkInfo>();
  s.reachability = std::make_shared<UTLReachability>();
}
}  // namespace

void UTLNetworkInfo::setTelephony(std::shared_ptr<UTLTelephonyNetworkInfo> telephony) {
  platform::addProcessStateReset(&useSystemNetworkInfo);
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  s.telephony = telephony ? std::move(telephony) : std::make_shared<UTLTelephonyNetworkInfo>();
}

void UTLNetworkInfo::setReachability(std::shared_ptr<UTLReachability> object) {
  platform::addProcessStateReset(&useSystemNetworkInfo);
  auto& s = shared();
  std::lock_guard lock(s.mutex);
  s.reachability = std::move(object);
}

PRMPromise::Ptr utl_dataTaskPromiseWithRequest(const std::shared_ptr<platform::URLSession>& session,
                                               const platform::URLRequest& request) {
  return PRMPromise::async([session, request](PRMPromise::FulfillBlock fulfill, PRMPromise::RejectBlock reject) {
    auto task = session->dataTask(
        request, [fulfill, reject](std::optional<std::vector<uint8_t>> data,
                                   std::optional<platform::HTTPURLResponse> response,
                                   std::optional<platform::Error> error) {
          if (error) {
            reject(*error);
            return;
          }
          fulfill(PRMObject(std::make_shared<UTLURLSessionDataResponse>(
              response.value_or(platform::HTTPURLResponse{}), data.value_or(std::vector<uint8_t>{}))));
        });
    if (!task) {
      reject(platform::Error(platform::kURLErrorDomain, platform::kURLErrorUnknown,
                             {{platform::kErrorLocalizedDescriptionKey, "The URL session is invalidated."}}));
      return;
    }
    task->resume();
  });
}
