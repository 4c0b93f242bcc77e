// The server's HTTP layer under its guards: no request reaches a route, or holds one of the
// threads that run routes, before it has arrived whole within its caps and deadlines.
//
// Accepted connections go to one gate thread that reads every waiting connection as its bytes
// come (poll, no thread per connection): the head within `headerDeadline` and `maxHeaderBytes`
// / `maxHeaderCount`, refused from its method, Host and token headers before any body is waited
// for; then the body its Content-Length announces within `requestDeadline`. Only a request that
// is all there is handed to one of `workers` threads, which runs it through httplib's routes and
// closes the connection (each connection carries one request). A client that drips its request
// a byte at a time therefore holds no worker: the page's own requests, which arrive whole, are
// served beside forty of them at once.
//
// A client (a peer address) keeps at most `maxWaitingPerClient` connections waiting at the gate:
// a new one beyond that cuts off its oldest waiting one, which has been slowest. A refusal is
// sent as a bare status line; what the client still sends is read and dropped for a moment, so
// that the client sees the refusal rather than a reset connection.
//
// Threads: the gate and the workers are the server's own; the owner stops the server (httplib's
// stop()) and then destroys it, which ends the gate and joins the workers.
#pragma once

#include <httplib.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "platform/dispatch/clock.h"

namespace web::internal {

struct GuardLimits {
  platform::Duration headerDeadline = std::chrono::seconds(1);
  platform::Duration requestDeadline = std::chrono::seconds(5);
  size_t maxHeaderBytes = 16 * 1024;
  size_t maxHeaderCount = 64;
  size_t maxBodyBytes = 64 * 1024;
  size_t maxWaitingPerClient = 16;
  size_t workers = 32;
};

class GuardedHttpServer : public httplib::Server {
 public:
  // Answers the status line refusing a request from its method, Host and token headers, or
  // nullptr to let it through; it runs before any body is waited for.
  using Vet = std::function<const char*(std::string_view method, std::string_view host, std::string_view token)>;

  GuardedHttpServer(GuardLimits limits, Vet vet);
  ~GuardedHttpServer() override;

 protected:
  // Hands the accepted connection to the gate and returns at once.
  bool process_and_close_socket(socket_t sock) override;

 private:
  class Gate;
  friend class Gate;
  // A worker: runs a whole request through the routes, then closes the connection.
  void serve(socket_t sock, std::chrono::steady_clock::time_point deadline, std::string received);

  std::unique_ptr<Gate> gate_;
};

}  // namespace web::internal
