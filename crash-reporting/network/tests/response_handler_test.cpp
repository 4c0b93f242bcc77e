#include "crash-reporting/network/response_handler.h"

#include <gtest/gtest.h>

#include "crash-reporting/network/url_builder.h"

namespace {

platform::HTTPURLResponse reply(long status, platform::HTTPHeaders headers = {}) {
  platform::HTTPURLResponse response;
  response.url = "http://127.0.0.1/x";
  response.statusCode = status;
  response.allHeaderFields = std::move(headers);
  return response;
}

TEST(CRNetworkResponseHandlerTest, StatusClasses) {
  using Type = CRClientResponseType;
  const std::pair<long, Type> cases[] = {
      {200, Type::Success}, {201, Type::Success}, {202, Type::Success}, {204, Type::Success},
      {304, Type::Success}, {203, Type::Invalid}, {206, Type::Invalid}, {101, Type::Invalid},
      {301, Type::Invalid}, {402, Type::Invalid}, {600, Type::Invalid}, {400, Type::Failure},
      {404, Type::Failure}, {419, Type::Failure}, {431, Type::Failure}, {408, Type::Retry},
      {500, Type::Retry},   {599, Type::Retry},   {420, Type::BackOff}, {429, Type::BackOff},
  };
  for (const auto& [status, type] : cases) {
    EXPECT_EQ(CRNetworkResponseHandler::clientResponseType(reply(status)), type) << status;
  }
  EXPECT_EQ(CRNetworkResponseHandler::clientResponseType(std::nullopt), Type::Invalid);
}

TEST(CRNetworkResponseHandlerTest, CompletedResponsesBecomeRetriesOrErrors) {
  platform::URLRequest request("http://127.0.0.1/x");
  struct Case {
    long status;
    bool retry;
    std::optional<long> code;
  };
  for (const Case& c : {Case{200, false, std::nullopt}, Case{204, false, std::nullopt}, Case{304, false, std::nullopt},
                        Case{203, false, -4}, Case{404, false, -5}, Case{503, true, -1}, Case{429, true, -1}}) {
    bool retry = !c.retry;
    std::optional<platform::Error> error;
    CRNetworkResponseHandler::handleCompletedResponse(
        reply(c.status, {{"X-Request-Id", "abc"}}), request, std::nullopt, [&](bool r, auto e) {
          retry = r;
          error = e;
        });
    EXPECT_EQ(retry, c.retry) << c.status;
    EXPECT_EQ(error ? std::optional<long>(error->code) : std::nullopt, c.code) << c.status;
    if (error) {
      EXPECT_EQ(error->domain, "CRNetworkError");
      EXPECT_EQ(*error->userInfo.at("status_code").asInteger(), c.status);
      EXPECT_EQ(*error->userInfo.at("request_id").asString(), "abc");
      EXPECT_EQ(*error->userInfo.at("content_type").asString(), "");
    }
  }
}

TEST(CRNetworkResponseHandlerTest, ContentTypeMatchesByMediaTypeAndCharset) {
  platform::URLRequest request("http://127.0.0.1/x");
  request.setValue("application/json", "Accept");
  request.setValue("utf-8", "Accept-Charset");
  struct Case {
    std::optional<std::string> contentType;
    bool matches;
  };
  for (const Case& c : {Case{"application/json; charset=UTF-8", true}, Case{"application/json;charset=utf-8", true},
                        Case{"Application/JSON ; Charset = \"utf-8\"", true}, Case{"application/json", true},
                        Case{"application/json; charset=latin1", false}, Case{"text/html; charset=utf-8", false},
                        Case{"application/jsonx", false}, Case{std::nullopt, false}}) {
    platform::HTTPHeaders headers;
    if (c.contentType) headers.set("Content-Type", *c.contentType);
    EXPECT_EQ(CRNetworkResponseHandler::contentTypeForResponse(reply(200, headers), request), c.matches)
        << c.contentType.value_or("(none)");
  }
  EXPECT_TRUE(CRNetworkResponseHandler::contentTypeForResponse(reply(200), platform::URLRequest("http://x/")));

  // Another media type fails with -4 and is not retried.
  bool retry = true;
  std::optional<platform::Error> error;
  CRNetworkResponseHandler::handleCompletedResponse(reply(200, {{"Content-Type", "text/html"}}), request,
                                                    std::nullopt, [&](bool r, auto e) {
                                                      retry = r;
                                                      error = e;
                                                    });
  EXPECT_FALSE(retry);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, -4);
}

TEST(CRNetworkResponseHandlerTest, RetryableTransportErrors) {
  for (long code : {-1001L, -1005L, -1009L, -999L, -1102L, -1004L}) {
    EXPECT_TRUE(CRNetworkResponseHandler::retryableURLError(platform::Error(platform::kURLErrorDomain, code))) << code;
  }
  for (long code : {-1022L, -1013L, -1012L, -1010L, -1007L, -1002L, -1000L, -995L, -1200L, -1203L, -1206L, -1100L,
                    -1101L, -1103L}) {
    EXPECT_FALSE(CRNetworkResponseHandler::retryableURLError(platform::Error(platform::kURLErrorDomain, code))) << code;
  }
  EXPECT_FALSE(CRNetworkResponseHandler::retryableURLError(platform::Error("other", -1001)));
}

TEST(CRNetworkResponseHandlerTest, RetryAfterAndCancelReason) {
  struct Case {
    std::optional<std::string> header;
    double seconds;
  };
  for (const Case& c : {Case{std::nullopt, 2.0}, Case{"30", 30.0}, Case{"0", 0.0}, Case{"-1", 2.0},
                        Case{"soon", 2.0}, Case{"1.5", 1.5}}) {
    platform::HTTPHeaders headers;
    if (c.header) headers.set("Retry-After", *c.header);
    EXPECT_EQ(CRNetworkResponseHandler::retryValueForResponse(reply(429, headers)), c.seconds)
        << c.header.value_or("(none)");
  }
  platform::Error cancelled(platform::kURLErrorDomain, -999, {{CRURLErrorBackgroundTaskCancelledReasonKey, 2}});
  EXPECT_EQ(CRNetworkResponseHandler::cancelReasonFromURLError(cancelled), 2);
  EXPECT_EQ(CRNetworkResponseHandler::cancelReasonFromURLError(platform::Error(platform::kURLErrorDomain, -999)), -1);
  EXPECT_EQ(CRNetworkResponseHandler::cancelReasonFromURLError(platform::Error(platform::kURLErrorDomain, -1001)), -1);
}

TEST(CRURLBuilderTest, BuildsEscapedPathsAndQueries) {
  CRURLBuilder builder = CRURLBuilder::URLWithBase("https://settings.example");
  builder.appendComponent("/spi/v2/platforms/");
  builder.escapeAndAppendComponent("ios");
  builder.appendComponent("/mp/");
  builder.escapeAndAppendComponent("1:123:ios/ab?c");
  builder.appendComponent("");  // refused
  builder.appendValue(std::nullopt, "skipped");
  EXPECT_EQ(builder.queryParams(), 0u);
  builder.appendValue("1.0 (7)", "build_version");
  builder.appendValue("a&b=c+d#e?f/g", "display_version");
  builder.appendValue(1, "source");
  EXPECT_EQ(builder.queryParams(), 3u);
  EXPECT_EQ(builder.URLString(),
            "https://settings.example/spi/v2/platforms/ios/mp/1:123:ios%2Fab%3Fc"
            "?build_version=1.0%20(7)&display_version=a%26b%3Dc%2Bd%23e%3Ff/g&source=1");
  EXPECT_EQ(builder.URL(), builder.URLString());

  struct Case {
    const char* text;
    const char* query;
    const char* path;
  };
  for (const Case& c : {Case{"3f8a0c1e", "3f8a0c1e", "3f8a0c1e"}, Case{"1.2-beta_3~", "1.2-beta_3~", "1.2-beta_3~"},
                        Case{"é", "%C3%A9", "%C3%A9"}, Case{"a b", "a%20b", "a%20b"}, Case{"%", "%25", "%25"},
                        Case{"a&b=c", "a%26b%3Dc", "a&b=c"}, Case{"x/y?z", "x/y%3Fz", "x%2Fy%3Fz"}}) {
    EXPECT_EQ(CRURLBuilder::escapeString(c.text), c.query) << c.text;
    EXPECT_EQ(CRURLBuilder::escapePathComponent(c.text), c.path) << c.text;
  }
  EXPECT_FALSE(CRURLBuilder::URLWithBase("not a url").URL());
  EXPECT_FALSE(CRURLBuilder::URLWithBase("ftp://host/x").URL());
}

}  // namespace
