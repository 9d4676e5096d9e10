// `orvia-tag serve`: an HTTP server that hands out tagged copies of one
// signed installer. GET /ANYPATH?tag=TAG[&sig=SIG] answers with exactly what
// `orvia-tag set --tag TAG` would write; /healthz answers "ok".
#ifndef ORVIA_TOOLS_TAG_SERVE_SERVER_H_
#define ORVIA_TOOLS_TAG_SERVE_SERVER_H_

#include <string>

#include "tools/tag/serve_request.h"

namespace orvia {

struct ServeConfig {
  std::string installer;
  std::string listen_host;
  std::string listen_port;
  TagPolicy policy;
  int threads = 2;
  int timeout_seconds = 30;  // the longest a connection may make no progress
  int drain_seconds = 10;    // how long open downloads may go on after SIGTERM or SIGINT
};

// Serves until SIGTERM or SIGINT; returns the exit status (0 after a stop
// by signal, 1 when the server cannot start, with a line on stderr).
int RunTagServer(const ServeConfig& config);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_SERVE_SERVER_H_
