// saverpack studio's HTTP server (Boost.Beast over Asio, one thread), on Linux and Windows. Each
// request's head is read under the bounds of studio_rules.h before anything else looks at it;
// what passes is answered by RouteStudioRequest. Every answer, refusals too, carries the
// studio's policy headers; files go out in pieces, never whole in memory.
#pragma once
#include <memory>

#include "studio_rules.h"

namespace saverpack {

class StudioServer {
 public:
  // Listens on 127.0.0.1 and, where the machine has one, [::1] at the same port (a browser may
  // try either for a .localhost name, so neither is left for another program to take): at port,
  // or at a free one for 0. No other process can bind the port beside it. Throws ToolError when
  // it cannot listen. Ctrl-C and SIGTERM (Ctrl-Break on Windows) are caught from here on.
  StudioServer(int port, int requestSeconds = kStudioRequestSeconds);
  ~StudioServer();
  StudioServer(const StudioServer&) = delete;
  StudioServer& operator=(const StudioServer&) = delete;

  int Port() const;

  // Serves site until Ctrl-C or SIGTERM, then closes every connection and returns.
  void Serve(const StudioSite& site);

  struct State;  // the sockets and connections, defined beside them

 private:
  std::unique_ptr<State> state_;
};

}  // namespace saverpack
