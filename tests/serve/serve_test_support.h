// Shared by the orvia-tag serve tests: the server as a child process on a
// loopback port it picks itself, and a raw HTTP/1.1 client that sends exactly
// the bytes a test gives, so that malformed requests can be sent too. Every
// wait is bounded.
#ifndef ORVIA_TESTS_SERVE_SERVE_TEST_SUPPORT_H_
#define ORVIA_TESTS_SERVE_SERVE_TEST_SUPPORT_H_

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/scoped_fd.h"

namespace orvia {
namespace test_support {

constexpr int kIoTimeoutSeconds = 20;

// `orvia-tag serve` on 127.0.0.1 at a port of its own choosing: the port is
// read from its start-up line. Stopped with SIGTERM (then SIGKILL) when the
// owner goes out of scope.
class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess() { Kill(); }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // Starts `tool serve` with `args` after it; false with the server's
  // stderr when it exits or prints no start-up line within the bound.
  bool Start(const std::string& tool,
             const std::vector<std::string>& args,
             const std::string& log_path,
             std::string* error) {
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
      *error = "no pipe";
      return false;
    }
    ScopedFd read_end(pipe_fds[0]);
    ScopedFd write_end(pipe_fds[1]);
    std::vector<std::string> argv = {tool, "serve", "--listen", "127.0.0.1:0"};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
      int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      int null = open("/dev/null", O_RDONLY);
      if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(log, 1) < 0 ||
          dup2(write_end.get(), 2) < 0)
        _exit(127);
      close(log);
      close(null);
      std::vector<char*> raw;
      for (std::string& arg : argv)
        raw.push_back(arg.data());
      raw.push_back(nullptr);
      execv(raw[0], raw.data());
      _exit(127);
    }
    write_end.reset();
    if (pid_ < 0) {
      *error = "fork failed";
      return false;
    }
    stderr_ = std::move(read_end);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kIoTimeoutSeconds);
    while (std::chrono::steady_clock::now() < until) {
      ReadStderr(100);
      size_t at = err_.find("http://127.0.0.1:");
      if (at != std::string::npos && err_.find('\n', at) != std::string::npos) {
        port_ = std::stoi(err_.substr(at + 17));
        return true;
      }
      if (Exited()) {
        ReadStderr(0);
        *error = "the server exited: " + err_;
        return false;
      }
    }
    *error = "no start-up line from the server: " + err_;
    return false;
  }

  // Reads what the server wrote to stderr within `wait_ms`; returns it all.
  std::string ReadStderr(int wait_ms) {
    pollfd poller = {stderr_.get(), POLLIN, 0};
    while (stderr_.get() >= 0 && poll(&poller, 1, wait_ms) > 0) {
      char chunk[4096];
      ssize_t got = read(stderr_.get(), chunk, sizeof(chunk));
      if (got <= 0)
        break;
      err_.append(chunk, static_cast<size_t>(got));
      wait_ms = 0;
    }
    return err_;
  }

  bool Exited() {
    if (pid_ <= 0)
      return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_)
      return false;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    pid_ = -1;
    return true;
  }

  // Sends `signal_number` and waits up to `seconds` for the exit; the exit
  // status, or -1 when it did not exit.
  int SignalAndWait(int signal_number, int seconds) {
    if (pid_ > 0)
      kill(pid_, signal_number);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!Exited() && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return pid_ > 0 ? -1 : status_;
  }

  // The number of descriptors the server holds open now.
  int OpenFiles() const {
    std::error_code ec;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
      ++count;
    return ec ? -1 : count;
  }

  // Waits up to `seconds` for the count to come back to `expected`.
  int OpenFilesSettling(int expected, int seconds) const {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int count = OpenFiles();
    while (count != expected && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      count = OpenFiles();
    }
    return count;
  }

  // The count once two readings a tenth of a second apart agree.
  int SteadyOpenFiles() const {
    int count = OpenFiles();
    for (int i = 0; i < 50; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      int again = OpenFiles();
      if (again == count)
        break;
      count = again;
    }
    return count;
  }

  int port() const { return port_; }
  pid_t pid() const { return pid_; }

 private:
  void Kill() {
    if (pid_ > 0 && SignalAndWait(SIGTERM, 15) < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  pid_t pid_ = -1;
  int port_ = 0;
  int status_ = -1;
  ScopedFd stderr_;
  std::string err_;
};

// A connected loopback socket with send and receive timeouts, or -1.
// `receive_buffer` > 0 shrinks the receive buffer (before connecting, so
// that the window stays small).
inline ScopedFd Connect(int port, int receive_buffer = 0) {
  ScopedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0)
    return fd;
  timeval timeout = {kIoTimeoutSeconds, 0};
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  if (receive_buffer > 0)
    setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof(receive_buffer));
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
    fd.reset();
  return fd;
}

inline bool SendAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t sent = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    done += static_cast<size_t>(sent);
  }
  return true;
}

// Reads until the peer closes, `limit` bytes arrive, or a read times out.
inline std::string ReceiveUpTo(int fd, size_t limit) {
  std::string data;
  char chunk[65536];
  while (data.size() < limit) {
    ssize_t got = recv(fd, chunk, std::min(sizeof(chunk), limit - data.size()), 0);
    if (got <= 0)
      break;
    data.append(chunk, static_cast<size_t>(got));
  }
  return data;
}

struct HttpResponse {
  int status = 0;                              // 0: no parsable response
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string raw_header;

  std::string Header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? "" : it->second;
  }
};

// Splits what a server sent on a connection it then closed.
inline HttpResponse ParseResponse(const std::string& data) {
  HttpResponse response;
  size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos || data.compare(0, 9, "HTTP/1.1 ") != 0)
    return response;
  response.raw_header = data.substr(0, end + 4);
  response.status = std::stoi(data.substr(9, 3));
  size_t line = data.find("\r\n") + 2;
  while (line < end) {
    size_t next = data.find("\r\n", line);
    std::string field = data.substr(line, next - line);
    size_t colon = field.find(':');
    if (colon != std::string::npos) {
      std::string name = field.substr(0, colon);
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      size_t value = field.find_first_not_of(' ', colon + 1);
      response.headers[name] = value == std::string::npos ? "" : field.substr(value);
    }
    line = next + 2;
  }
  response.body = data.substr(end + 4);
  return response;
}

// One request on a fresh connection that the server is asked to close.
inline HttpResponse Fetch(int port,
                          const std::string& target,
                          const std::string& method = "GET",
                          const std::string& extra_headers = "") {
  ScopedFd fd = Connect(port);
  if (fd.get() < 0)
    return HttpResponse();
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra_headers +
                        "Connection: close\r\n\r\n";
  if (!SendAll(fd.get(), request))
    return HttpResponse();
  return ParseResponse(ReceiveUpTo(fd.get(), SIZE_MAX));
}

// Percent-encodes every byte but unreserved ones, as a tag link is written.
inline std::string UrlEncode(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", c);
      out += escaped;
    }
  }
  return out;
}

}  // namespace test_support
}  // namespace orvia

#endif  // ORVIA_TESTS_SERVE_SERVE_TEST_SUPPORT_H_
