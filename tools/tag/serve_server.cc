#include "tools/tag/serve_server.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <signal.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

#include <array>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
#include "tools/tag/serve_template.h"

namespace orvia {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;
using Clock = std::chrono::steady_clock;

// Room for a full 8,192-byte tag with every byte percent-encoded, a
// signature and ordinary headers; also what a connection may buffer.
constexpr size_t kHeaderLimit = 40 * 1024;
// How much one connection sends before the others on its thread get a turn.
constexpr size_t kSendfileTurn = 4 << 20;
// After a failed accept (out of descriptors, say), wait instead of spinning.
constexpr auto kAcceptRetry = std::chrono::milliseconds(100);
constexpr size_t kETagHexDigits = 32;
// How long a closing connection drains what the client still sends.
constexpr auto kLingerTime = std::chrono::seconds(2);

std::string_view View(beast::string_view text) {
  return std::string_view(text.data(), text.size());
}

std::string HexOf(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 0xF]);
  }
  return hex;
}

// Strong: one value per template and tag, the same for every range of it.
std::string ETagFor(const TagTemplate& tagged, const std::string& tag) {
  std::string input = tagged.digest() + tag;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(input.data(), input.size(), digest, &size, EVP_sha256(), nullptr);
  return "\"" + HexOf(digest, size).substr(0, kETagHexDigits) + "\"";
}

// A quoted-string value cannot hold '"' or '\' unescaped; plain ASCII only.
std::string DispositionFor(const std::string& file_name) {
  std::string name = file_name;
  for (char& c : name) {
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\')
      c = '_';
  }
  return "attachment; filename=\"" + name + "\"";
}

// Log lines carry what the client sent; control and non-ASCII bytes are
// escaped so that one request stays one line.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte > 0x20 && byte < 0x7F) {
      out.push_back(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof(escaped), "%%%02X", byte);
      out += escaped;
    }
  }
  return out;
}

std::string UtcNow() {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm parts;
  gmtime_r(&seconds, &parts);
  char text[40];
  size_t used = std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(text + used, sizeof(text) - used, ".%03dZ", static_cast<int>(millis));
  return text;
}

class Connection;

// What every connection shares: the template, the settings, the access log
// and the list of open connections that a stop must reach.
class Server {
 public:
  Server(const ServeConfig& config, const TagTemplate& tagged)
      : config_(config),
        tagged_(tagged),
        file_name_(BaseName(config.installer)),
        strand_(asio::make_strand(io_)),
        acceptor_(strand_),
        signals_(strand_, SIGINT, SIGTERM),
        retry_timer_(strand_),
        drain_timer_(strand_) {}

  bool Listen(std::string* error);
  void Run();

  const ServeConfig& config() const { return config_; }
  const TagTemplate& tagged() const { return tagged_; }
  const std::string& file_name() const { return file_name_; }

  void Log(const std::string& line) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }

  // Returns false when the server is stopping and takes no more connections.
  bool Register(Connection* connection) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_)
      return false;
    live_.insert(connection);
    return true;
  }
  void Unregister(Connection* connection);
  // The open connections that can still be reached; call with mutex_ held.
  std::vector<std::shared_ptr<Connection>> LiveConnections();

 private:
  void Accept();
  void OnAccept(error_code ec, tcp::socket socket);
  void OnSignal(error_code ec, int number);

  const ServeConfig& config_;
  const TagTemplate& tagged_;
  const std::string file_name_;
  // Declared before io_: connections that the loop still holds when it ends
  // unregister while it is destroyed.
  std::mutex log_mutex_;
  std::mutex mutex_;
  std::unordered_set<Connection*> live_;
  bool stopping_ = false;
  asio::io_context io_;
  asio::strand<asio::io_context::executor_type> strand_;
  tcp::acceptor acceptor_;
  asio::signal_set signals_;
  asio::steady_timer retry_timer_;
  asio::steady_timer drain_timer_;
  bool accept_error_reported_ = false;
};

// One client connection: reads requests one after another and answers each;
// its handlers run on its own strand.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, Server& server)
      : socket_(std::move(socket)),
        timer_(socket_.get_executor()),
        buffer_(kHeaderLimit),
        server_(server) {
    error_code ignored;
    tcp::endpoint peer = socket_.remote_endpoint(ignored);
    peer_ = peer.address().to_string(ignored) + ":" + std::to_string(peer.port());
  }
  ~Connection() {
    if (registered_)
      server_.Unregister(this);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start() {
    registered_ = server_.Register(this);
    if (!registered_)
      return;
    error_code ignored;
    socket_.set_option(tcp::no_delay(true), ignored);
    // Raw sendfile needs a descriptor that returns EAGAIN instead of blocking.
    socket_.native_non_blocking(true, ignored);
    Touch();
    ArmTimer();
    ReadRequest();
  }

  // Called from any thread when the server stops: an idle connection closes
  // now, a download in progress may finish unless `cut`.
  void Stop(bool cut) {
    asio::post(socket_.get_executor(), [self = shared_from_this(), cut] {
      self->stop_requested_ = true;
      if (self->idle_ || cut)
        self->Abort("the server stopped");
    });
  }

 private:
  void Touch() {
    if (lingering_)
      return;
    deadline_ = Clock::now() + std::chrono::seconds(server_.config().timeout_seconds);
  }

  // One timer for the whole connection: each bit of progress moves the
  // deadline, and the timer re-arms until a deadline passes with none.
  void ArmTimer() {
    timer_.expires_at(deadline_);
    timer_.async_wait([self = shared_from_this()](error_code ec) {
      if (ec || self->closed_)
        return;
      if (Clock::now() >= self->deadline_) {
        // A reset frees at once what the kernel still holds for the client.
        linger reset = {1, 0};
        setsockopt(self->socket_.native_handle(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
        self->Abort(self->lingering_ ? "" : "timed out");
        return;
      }
      self->ArmTimer();
    });
  }

  void ReadRequest() {
    if (stop_requested_) {
      Close();
      return;
    }
    idle_ = true;
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    Touch();
    http::async_read(socket_, buffer_, *parser_,
                     [self = shared_from_this()](error_code ec, size_t) { self->OnRead(ec); });
  }

  void OnRead(error_code ec) {
    idle_ = false;
    if (closed_)
      return;
    if (ec == http::error::end_of_stream || ec == asio::error::eof ||
        ec == asio::error::connection_reset || ec == asio::error::operation_aborted ||
        ec == http::error::partial_message) {
      Close();
      return;
    }
    keep_alive_ = false;
    version_ = 11;
    method_ = "-";
    log_target_ = "-";
    if (ec == http::error::header_limit || ec == http::error::buffer_overflow) {
      SendText(http::status::request_header_fields_too_large, "the request header is too large");
      return;
    }
    if (ec) {
      SendText(http::status::bad_request, "malformed HTTP request: " + ec.message());
      return;
    }
    Respond(parser_->get());
  }

  void Respond(const http::request<http::empty_body>& request) {
    method_ = Printable(View(request.method_string()));
    std::string_view target = View(request.target());
    log_target_ = Printable(TargetWithoutSig(target));
    version_ = request.version();
    keep_alive_ = request.keep_alive() && !stop_requested_;
    head_ = request.method() == http::verb::head;
    if (request.method() != http::verb::get && !head_) {
      SendText(http::status::method_not_allowed, "only GET and HEAD are served");
      return;
    }
    size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    std::string_view query =
        question == std::string_view::npos ? std::string_view() : target.substr(question + 1);
    if (path == "/healthz") {
      SendText(http::status::ok, "ok");
      return;
    }
    TagRequest tag = CheckTagQuery(query, server_.config().policy);
    if (tag.status != 200) {
      SendText(static_cast<http::status>(tag.status), tag.reason);
      return;
    }
    SendCopy(tag.tag, View(request[http::field::range]), View(request[http::field::if_range]));
  }

  void SendText(http::status status, const std::string& line) {
    status_ = static_cast<int>(status);
    text_response_ = {};
    text_response_.result(status);
    text_response_.version(version_);
    text_response_.set(http::field::server, "orvia-tag");
    text_response_.set(http::field::content_type, "text/plain; charset=utf-8");
    text_response_.set(http::field::cache_control, "no-store");
    if (status == http::status::method_not_allowed)
      text_response_.set(http::field::allow, "GET, HEAD");
    if (status == http::status::range_not_satisfiable)
      text_response_.set(http::field::content_range,
                         "bytes */" + std::to_string(server_.tagged().size()));
    text_response_.keep_alive(keep_alive_);
    std::string body = line + "\n";
    text_response_.content_length(body.size());
    if (!head_)
      text_response_.body() = std::move(body);
    http::async_write(socket_, text_response_, [self = shared_from_this()](error_code ec, size_t) {
      if (ec) {
        self->Abort(ec.message());
        return;
      }
      self->body_bytes_ = self->text_response_.body().size();
      self->FinishResponse();
    });
  }

  void SendCopy(const std::string& tag, std::string_view range_header, std::string_view if_range) {
    const TagTemplate& tagged = server_.tagged();
    const std::string etag = ETagFor(tagged, tag);
    ByteRange range;
    // A resumed download of another copy must start over with this one.
    if (!range_header.empty() && (if_range.empty() || if_range == etag))
      range = ParseRange(range_header, tagged.size());
    if (range.kind == ByteRange::Kind::kUnsatisfiable) {
      SendText(http::status::range_not_satisfiable,
               "the range lies outside the file's " + std::to_string(tagged.size()) + " bytes");
      return;
    }
    bool whole = range.kind == ByteRange::Kind::kWhole;
    uint64_t first = whole ? 0 : range.first;
    uint64_t last = whole ? tagged.size() - 1 : range.last;

    copy_header_ = {};
    copy_header_.result(whole ? http::status::ok : http::status::partial_content);
    status_ = whole ? 200 : 206;
    copy_header_.version(version_);
    copy_header_.set(http::field::server, "orvia-tag");
    copy_header_.set(http::field::content_type, "application/octet-stream");
    copy_header_.set(http::field::content_disposition, DispositionFor(server_.file_name()));
    copy_header_.set(http::field::etag, etag);
    copy_header_.set(http::field::accept_ranges, "bytes");
    if (!whole)
      copy_header_.set(http::field::content_range, "bytes " + std::to_string(first) + "-" +
                                                       std::to_string(last) + "/" +
                                                       std::to_string(tagged.size()));
    copy_header_.content_length(last - first + 1);
    copy_header_.keep_alive(keep_alive_);

    patch_ = tagged.Patch(tag);
    pieces_ = head_ ? std::vector<CopyPiece>() : tagged.Pieces(patch_, first, last);
    piece_index_ = 0;
    piece_done_ = 0;
    // Header and pieces leave in full segments; uncorked at the end.
    SetCork(true);
    header_serializer_.emplace(copy_header_);
    http::async_write_header(socket_, *header_serializer_,
                             [self = shared_from_this()](error_code ec, size_t) {
                               if (ec) {
                                 self->Abort(ec.message());
                                 return;
                               }
                               self->Touch();
                               self->SendPieces();
                             });
  }

  void SendPieces() {
    if (closed_)
      return;
    if (piece_index_ == pieces_.size()) {
      SetCork(false);
      FinishResponse();
      return;
    }
    const CopyPiece& piece = pieces_[piece_index_];
    if (piece.source == CopyPiece::Source::kFile) {
      SendFromFile();
      return;
    }
    const uint8_t* bytes = server_.tagged().PatchBytes(patch_, piece);
    asio::async_write(socket_, asio::buffer(bytes, piece.length),
                      [self = shared_from_this()](error_code ec, size_t sent) {
                        self->body_bytes_ += sent;
                        if (ec) {
                          self->Abort(ec.message());
                          return;
                        }
                        self->Touch();
                        self->NextPiece();
                      });
  }

  void NextPiece() {
    ++piece_index_;
    piece_done_ = 0;
    SendPieces();
  }

  // The template's bytes go from the page cache to the socket; when the
  // socket is full, wait until it takes more.
  void SendFromFile() {
    if (closed_)
      return;
    const CopyPiece& piece = pieces_[piece_index_];
    size_t turn = kSendfileTurn;
    while (piece_done_ < piece.length) {
      off_t offset = static_cast<off_t>(piece.offset + piece_done_);
      size_t want = static_cast<size_t>(std::min<uint64_t>(piece.length - piece_done_, turn));
      ssize_t sent = sendfile(socket_.native_handle(), server_.tagged().fd(), &offset, want);
      if (sent > 0) {
        piece_done_ += static_cast<uint64_t>(sent);
        body_bytes_ += static_cast<uint64_t>(sent);
        turn -= static_cast<size_t>(sent);
        Touch();
        if (turn == 0) {
          asio::post(socket_.get_executor(), [self = shared_from_this()] { self->SendFromFile(); });
          return;
        }
      } else if (sent < 0 && errno == EINTR) {
        continue;
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        socket_.async_wait(tcp::socket::wait_write, [self = shared_from_this()](error_code ec) {
          if (ec) {
            self->Abort(ec.message());
            return;
          }
          self->SendFromFile();
        });
        return;
      } else {
        Abort(sent < 0 ? std::strerror(errno) : "the template file ended early");
        return;
      }
    }
    NextPiece();
  }

  void SetCork(bool on) {
    int value = on ? 1 : 0;
    setsockopt(socket_.native_handle(), IPPROTO_TCP, TCP_CORK, &value, sizeof(value));
  }

  void LogRequest(const char* note) {
    std::string line = UtcNow() + " " + peer_ + " " + method_ + " " + log_target_ + " " +
                       std::to_string(status_) + " " + std::to_string(body_bytes_);
    if (note != nullptr)
      line += std::string(" (") + note + ")";
    server_.Log(line + "\n");
  }

  void FinishResponse() {
    LogRequest(nullptr);
    body_bytes_ = 0;
    header_serializer_.reset();
    if (!keep_alive_ || stop_requested_) {
      LingerThenClose();
      return;
    }
    ReadRequest();
  }

  // Closing with unread input would reset the connection, and a reset can
  // destroy the response before the client reads it: so say we are done,
  // then read and drop what the client still sends for a short while.
  void LingerThenClose() {
    error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    if (!lingering_) {
      lingering_ = true;
      idle_ = true;
      // The deadline moves closer, so the timer must be set again.
      deadline_ = Clock::now() + kLingerTime;
      ArmTimer();
    }
    socket_.async_read_some(asio::buffer(discard_),
                            [self = shared_from_this()](error_code ec, size_t) {
                              if (ec)
                                self->Close();
                              else
                                self->LingerThenClose();
                            });
  }

  // A response cut short: logged with the bytes that left, then closed.
  void Abort(const std::string& why) {
    if (closed_)
      return;
    if (!idle_) {
      std::string note = "cut: " + why;
      LogRequest(note.c_str());
    }
    Close();
  }

  void Close() {
    if (closed_)
      return;
    closed_ = true;
    error_code ignored;
    socket_.close(ignored);
    timer_.cancel();
  }

  tcp::socket socket_;
  asio::steady_timer timer_;
  beast::flat_buffer buffer_;
  Server& server_;
  std::optional<http::request_parser<http::empty_body>> parser_;
  http::response<http::string_body> text_response_;
  http::response<http::empty_body> copy_header_;
  std::optional<http::response_serializer<http::empty_body>> header_serializer_;
  TagPatch patch_;
  std::vector<CopyPiece> pieces_;
  size_t piece_index_ = 0;
  uint64_t piece_done_ = 0;
  Clock::time_point deadline_;

  std::string peer_;
  std::string method_;
  std::string log_target_;
  unsigned version_ = 11;
  int status_ = 0;
  uint64_t body_bytes_ = 0;
  bool keep_alive_ = false;
  bool head_ = false;
  bool idle_ = false;
  bool closed_ = false;
  bool stop_requested_ = false;
  bool registered_ = false;
  bool lingering_ = false;
  std::array<char, 512> discard_;
};

void Server::Unregister(Connection* connection) {
  std::lock_guard<std::mutex> lock(mutex_);
  live_.erase(connection);
  // Once the loop has stopped, nothing waits for the drain timer.
  if (stopping_ && live_.empty() && !io_.stopped())
    asio::post(strand_, [this] { drain_timer_.cancel(); });
}

std::vector<std::shared_ptr<Connection>> Server::LiveConnections() {
  std::vector<std::shared_ptr<Connection>> open;
  for (Connection* connection : live_) {
    // Null for one whose destructor is waiting for the lock.
    if (auto alive = connection->weak_from_this().lock())
      open.push_back(std::move(alive));
  }
  return open;
}

bool Server::Listen(std::string* error) {
  error_code ec;
  asio::ip::address address = asio::ip::make_address(config_.listen_host, ec);
  if (ec) {
    *error = "--listen: '" + config_.listen_host + "' is not an IP address";
    return false;
  }
  char* end = nullptr;
  unsigned long port = std::strtoul(config_.listen_port.c_str(), &end, 10);
  if (config_.listen_port.empty() || *end != '\0' || port > 65535) {
    *error = "--listen: '" + config_.listen_port + "' is not a port number";
    return false;
  }
  tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
  if (acceptor_.open(endpoint.protocol(), ec) ||
      acceptor_.set_option(tcp::acceptor::reuse_address(true), ec) ||
      acceptor_.bind(endpoint, ec) ||
      acceptor_.listen(asio::socket_base::max_listen_connections, ec)) {
    *error = "--listen: cannot listen on " + config_.listen_host + ":" + config_.listen_port +
             ": " + ec.message();
    return false;
  }
  tcp::endpoint bound = acceptor_.local_endpoint(ec);
  std::string host = bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                             : bound.address().to_string();
  std::fprintf(stderr, "orvia-tag: serving %s (%llu bytes) at http://%s:%u/\n", file_name_.c_str(),
               static_cast<unsigned long long>(tagged_.size()), host.c_str(), bound.port());
  std::fflush(stderr);
  return true;
}

void Server::Run() {
  signals_.async_wait([this](error_code ec, int number) { OnSignal(ec, number); });
  asio::post(strand_, [this] { Accept(); });
  std::vector<std::thread> threads;
  for (int i = 1; i < config_.threads; ++i)
    threads.emplace_back([this] { io_.run(); });
  io_.run();
  for (std::thread& thread : threads)
    thread.join();
}

void Server::Accept() {
  acceptor_.async_accept(asio::make_strand(io_),
                         asio::bind_executor(strand_, [this](error_code ec, tcp::socket socket) {
                           OnAccept(ec, std::move(socket));
                         }));
}

void Server::OnAccept(error_code ec, tcp::socket socket) {
  if (ec == asio::error::operation_aborted || !acceptor_.is_open())
    return;
  if (ec) {
    if (!accept_error_reported_)
      std::fprintf(stderr, "orvia-tag: cannot accept a connection: %s\n", ec.message().c_str());
    accept_error_reported_ = true;
    retry_timer_.expires_after(kAcceptRetry);
    retry_timer_.async_wait([this](error_code wait_ec) {
      if (!wait_ec)
        Accept();
    });
    return;
  }
  accept_error_reported_ = false;
  auto executor = socket.get_executor();
  auto connection = std::make_shared<Connection>(std::move(socket), *this);
  asio::post(executor, [connection] { connection->Start(); });
  Accept();
}

void Server::OnSignal(error_code ec, int number) {
  if (ec)
    return;
  std::fprintf(stderr, "orvia-tag: %s: stopping; open downloads get %d s to finish\n",
               number == SIGINT ? "SIGINT" : "SIGTERM", config_.drain_seconds);
  std::fflush(stderr);
  error_code ignored;
  acceptor_.close(ignored);
  retry_timer_.cancel();
  // A second signal ends the process at once.
  signals_.clear(ignored);
  std::vector<std::shared_ptr<Connection>> open;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    if (live_.empty())
      return;
    open = LiveConnections();
  }
  for (const auto& connection : open)
    connection->Stop(false);
  open.clear();
  drain_timer_.expires_after(std::chrono::seconds(config_.drain_seconds));
  drain_timer_.async_wait([this](error_code wait_ec) {
    if (wait_ec)
      return;
    std::vector<std::shared_ptr<Connection>> late;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      late = LiveConnections();
    }
    for (const auto& connection : late)
      connection->Stop(true);
  });
}

}  // namespace

int RunTagServer(const ServeConfig& config) {
  // sendfile has no MSG_NOSIGNAL: a client gone mid-download must give
  // EPIPE, not end the process.
  signal(SIGPIPE, SIG_IGN);
  TagTemplate tagged;
  std::string error;
  const char* temp_dir = std::getenv("TMPDIR");
  if (!tagged.Prepare(config.installer, temp_dir ? temp_dir : "/tmp", &error))
    return PrintToolError("orvia-tag", config.installer, error);
  Server server(config, tagged);
  if (!server.Listen(&error))
    return PrintToolError("orvia-tag", "", error);
  server.Run();
  std::fprintf(stderr, "orvia-tag: stopped\n");
  return 0;
}

}  // namespace orvia
