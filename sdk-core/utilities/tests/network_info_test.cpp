#include "sdk-core/utilities/network_info.h"

#include <gtest/gtest.h>

#include "platform/dispatch/queue.h"
#include "platform/net/testing/loopback_server.h"
#include "platform/testing/environment.h"

namespace {

class NetworkInfoTest : public ::testing::Test {
 protected:
  platform::testing::Environment environment_{"network-info"};
};

TEST_F(NetworkInfoTest, FormatMccJoinsValidCodesOnly) {
  struct Case {
    std::optional<std::string> mcc, mnc, expected;
  };
  const std::vector<Case> cases = {
      {"310", "26", "31026"},
      {"310", "260", "310260"},
      {"310", "2600", std::nullopt},
      {"31", "26", std::nullopt},
      {"3100", "26", std::nullopt},
      {"310", "2", std::nullopt},
      {"31a", "26", std::nullopt},
      {"310", "2b", std::nullopt},
      {"310", std::nullopt, std::nullopt},
      {std::nullopt, "26", std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
      {"٣١٠", "٢٦", "٣١٠٢٦"},  // decimal digits of another script count as digits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mcc.value_or("(none)") + "/" + c.mnc.value_or("(none)"));
    EXPECT_EQ(UTLNetworkInfo::formatMcc(c.mcc, c.mnc), c.expected);
  }
}

class FakeReachability : public UTLReachability {
 public:
  explicit FakeReachability(std::optional<uint32_t> flags) : flags_(flags) {}
  std::optional<uint32_t> flags() const override { return flags_; }

 private:
  std::optional<uint32_t> flags_;
};

TEST_F(NetworkInfoTest, NetworkTypeFollowsTheReachabilityFlags) {
  struct Case {
    std::shared_ptr<UTLReachability> object;
    int expected;
  };
  const std::vector<Case> cases = {
      {nullptr, -1},
      {std::make_shared<FakeReachability>(std::nullopt), -1},
      {std::make_shared<FakeReachability>(0), -1},
      {std::make_shared<FakeReachability>(UTLReachabilityFlagConnectionRequired), -1},
      {std::make_shared<FakeReachability>(UTLReachabilityFlagReachable), 1},
      {std::make_shared<FakeReachability>(UTLReachabilityFlagReachable | UTLReachabilityFlagIsWWAN), 0},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(i);
    UTLNetworkInfo::setReachability(cases[i].object);
    EXPECT_EQ(UTLNetworkInfo::getNetworkType(), cases[i].expected);
  }
  environment_.relaunch();
  EXPECT_NE(UTLNetworkInfo::getNetworkType(), 0) << "this machine has no cellular interface";
}

TEST_F(NetworkInfoTest, LinuxReachabilityNeedsAnUpInterfaceWithADefaultRoute) {
  const std::string v4Header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  const std::string v4Default = v4Header + "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  const std::string v4LocalOnly = v4Header + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
  const std::string zero(32, '0');
  const std::string v6Reject = zero + " 00 " + zero + " 00 " + zero + " ffffffff 00000001 00000000 00200200 lo\n";
  const std::string v6Default = zero + " 00 " + zero + " 00 fe800000000000000000000000000001 00000400 00000001 "
                                                    "00000000 00450003 wlan0\n";
  const UTLInterfaceState loopback{"lo", true, true, true, true};
  const UTLInterfaceState eth0{"eth0", true, true, false, true};
  const UTLInterfaceState eth0Down{"eth0", false, false, false, true};
  const UTLInterfaceState wlan0{"wlan0", true, true, false, true};

  struct Case {
    const char* name;
    std::vector<UTLInterfaceState> interfaces;
    std::string v4, v6;
    uint32_t expected;
  };
  const std::vector<Case> cases = {
      {"ethernet with default route", {loopback, eth0}, v4Default, "", UTLReachabilityFlagReachable},
      {"loopback only", {loopback}, v4Header, v6Reject, 0},
      {"no default route", {loopback, eth0}, v4LocalOnly, v6Reject, 0},
      {"interface down", {loopback, eth0Down}, v4Default, "", 0},
      {"IPv6 default route", {loopback, wlan0}, v4Header, v6Reject + v6Default, UTLReachabilityFlagReachable},
      {"route through another interface", {loopback, wlan0}, v4Default, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UTLReachabilityFlagsFromSystem(c.interfaces, c.v4, c.v6), c.expected);
  }
}

class FakeTelephony : public UTLTelephonyNetworkInfo {
 public:
  std::optional<UTLCellularProvider> subscriberCellularProvider() const override {
    return UTLCellularProvider{"262", "01"};
  }
  std::optional<std::string> currentRadioAccessTechnology() const override { return "LTE"; }
};

TEST_F(NetworkInfoTest, TelephonyIsAbsentUnlessAProviderIsInstalled) {
  EXPECT_EQ(UTLNetworkInfo::getNetworkMobileCountryCode(), std::nullopt);
  EXPECT_EQ(UTLNetworkInfo::getNetworkMobileNetworkCode(), std::nullopt);
  EXPECT_EQ(UTLNetworkInfo::getNetworkRadioType(), std::nullopt);
  UTLNetworkInfo::setTelephony(std::make_shared<FakeTelephony>());
  EXPECT_EQ(UTLNetworkInfo::getNetworkMobileCountryCode(), "262");
  EXPECT_EQ(UTLNetworkInfo::getNetworkMobileNetworkCode(), "01");
  EXPECT_EQ(UTLNetworkInfo::getNetworkRadioType(), "LTE");
}

PRMPromise::Ptr settled(PRMPromise::Ptr promise) {
  EXPECT_TRUE(platform::MainLoop::runUntil([&] { return !promise->isPending(); }, std::chrono::seconds(10)));
  return promise;
}

TEST(DataTaskPromiseTest, AnyHttpReplyFulfilsAndOnlyTransportErrorsReject) {
  platform::LoopbackServer server;
  server.on("GET", "/broken", [](const platform::RecordedRequest&) {
    return platform::LoopbackResponse{.status = 500, .body = "server error"};
  });
  auto session = platform::URLSession::make(platform::URLSessionConfiguration::ephemeralSessionConfiguration());

  auto reply = settled(utl_dataTaskPromiseWithRequest(session, platform::URLRequest(server.url("/broken"))));
  ASSERT_TRUE(reply->isFulfilled());
  const auto* response = reply->value().get<std::shared_ptr<UTLURLSessionDataResponse>>();
  ASSERT_NE(response, nullptr);
  EXPECT_EQ((*response)->HTTPResponse.statusCode, 500);
  EXPECT_EQ(std::string((*response)->HTTPBody.begin(), (*response)->HTTPBody.end()), "server error");

  const std::string closedURL = server.url("/gone");
  server.stop();
  auto refused = settled(utl_dataTaskPromiseWithRequest(session, platform::URLRequest(closedURL)));
  ASSERT_TRUE(refused->isRejected());
  EXPECT_EQ(refused->error()->domain, platform::kURLErrorDomain);

  session->invalidateAndCancel();
  auto invalid = settled(utl_dataTaskPromiseWithRequest(session, platform::URLRequest(closedURL)));
  EXPECT_TRUE(invalid->isRejected());
}

}  // namespace
