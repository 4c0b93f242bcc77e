// Network information for the SDK: the network type from reachability, the cellular codes
// and radio technology from telephony, and a data task as a promise.
//
// Reachability comes from the machine's own interfaces: the network counts as reachable
// when a non-loopback interface is up and running with an address and the routing table
// has a default route through an interface other than loopback. It is never cellular.
// This program has no telephony: the default telephony object knows no provider and no
// radio technology. Both objects are made once, on first use; tests replace them.
//
// Thread safety: every operation may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/net/url_request.h"
#include "platform/net/url_session.h"
#include "sdk-core/promises/promise.h"

// Reachability flag bits.
inline constexpr uint32_t UTLReachabilityFlagReachable = 0x2;
inline constexpr uint32_t UTLReachabilityFlagConnectionRequired = 0x4;
inline constexpr uint32_t UTLReachabilityFlagIsWWAN = 0x40000;

// The internet host whose reachability the network type describes.
inline constexpr const char* UTLNetworkInfoReachabilityHostName = "www.example.com";

// Reachability of a host, as flag bits.
class UTLReachability {
 public:
  virtual ~UTLReachability() = default;
  // The current flags, or std::nullopt when they cannot be read.
  virtual std::optional<uint32_t> flags() const;
};

struct UTLCellularProvider {
  std::optional<std::string> mobileCountryCode;
  std::optional<std::string> mobileNetworkCode;
};

// Telephony network information. The default object has no cellular service.
class UTLTelephonyNetworkInfo {
 public:
  virtual ~UTLTelephonyNetworkInfo() = default;
  virtual std::optional<UTLCellularProvider> subscriberCellularProvider() const { return std::nullopt; }
  virtual std::optional<std::string> currentRadioAccessTechnology() const { return std::nullopt; }
};

// Network type values of getNetworkType().
enum UTLNetworkType : int {
  UTLNetworkTypeNone = -1,
  UTLNetworkTypeWWAN = 0,
  UTLNetworkTypeWIFI = 1,
};

class UTLNetworkInfo {
 public:
  static std::shared_ptr<UTLTelephonyNetworkInfo> getNetworkInfo();
  static std::optional<std::string> getNetworkMobileCountryCode();
  static std::optional<std::string> getNetworkMobileNetworkCode();
  // The country code joined with the network code, when the country code has 3 digits and
  // the network code 2 or 3; otherwise std::nullopt.
  static std::optional<std::string> formatMcc(const std::optional<std::string>& mcc,
                                              const std::optional<std::string>& mnc);
  // -1 unreachable (or no reachability object), 0 reachable over cellular, 1 otherwise.
  static int getNetworkType();
  static std::optional<std::string> getNetworkRadioType();

  // Stand other objects in for the Linux ones, as tests do to play a phone with a carrier or
  // without a network (nullptr telephony: the Linux one; nullptr reachability: "no object").
  static void setTelephony(std::shared_ptr<UTLTelephonyNetworkInfo> telephony);
  static void setReachability(std::shared_ptr<UTLReachability> reachability);
};

// Flags of the Linux reachability from interface and route tables (files given for tests):
// `interfaces` is the list of (name, flags, has address) of getifaddrs; the route files are
// /proc/net/route and /proc/net/ipv6_route.
struct UTLInterfaceState {
  std::string name;
  bool up = false;
  bool running = false;
  bool loopback = false;
  bool hasAddress = false;
};
uint32_t UTLReachabilityFlagsFromSystem(const std::vector<UTLInterfaceState>& interfaces,
                                        const std::string& ipv4Routes, const std::string& ipv6Routes);

// The reply of a data task: the HTTP response and the body.
class UTLURLSessionDataResponse {
 public:
  UTLURLSessionDataResponse(platform::HTTPURLResponse response, std::vector<uint8_t> body)
      : HTTPResponse(std::move(response)), HTTPBody(std::move(body)) {}
  const platform::HTTPURLResponse HTTPResponse;
  const std::vector<uint8_t> HTTPBody;
};

// Starts a data task for `request` on `session`; the promise is fulfilled with a
// std::shared_ptr<UTLURLSessionDataResponse> whatever the HTTP status, and rejected only
// with a transport error. Steps chained on it run where the caller chains them.
PRMPromise::Ptr utl_dataTaskPromiseWithRequest(const std::shared_ptr<platform::URLSession>& session,
                                               const platform::URLRequest& request);
