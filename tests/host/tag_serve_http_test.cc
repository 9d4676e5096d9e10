// orvia-tag serve as a process on a loopback port: every download is what
// `orvia-tag set` writes and still verifies; ranges, HEAD and ETags behave;
// bad requests get a status and a one-line reason while the server stays up
// and gives back every descriptor; slow clients hold up nobody; SIGTERM lets
// open downloads finish and exits 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/serve/serve_test_support.h"
#include "tests/support/tag_test_support.h"
#include "tools/pe/pe_image.h"
#include "tools/tag/serve_request.h"
#include "tools/tag/tag_image.h"

namespace orvia {
namespace {

using orvia::ScopedFd;
using test_support::Bytes;
using test_support::CommandResult;
using test_support::Connect;
using test_support::Fetch;
using test_support::HttpResponse;
using test_support::kOrviaTag;
using test_support::ReadBytes;
using test_support::ReadText;
using test_support::ReceiveUpTo;
using test_support::RunCommand;
using test_support::SendAll;
using test_support::ServerProcess;
using test_support::SignedFixture;
using test_support::UrlEncode;

const std::string kKeys = "appguid,appname,needsadmin,lang";
const std::string kSecret = "a shared secret\n";
// Larger than a loopback socket's buffers can hold, so that a client that
// stops reading leaves the server mid-download.
constexpr size_t kLargePayload = 8 << 20;

std::string AsString(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

class TagServeHttpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(fixture_.Create(&error)) << error;
    secret_file_ = fixture_.dir() / "secret";
    ASSERT_TRUE(test_support::WriteBytes(secret_file_, Bytes(kSecret.begin(), kSecret.end())));
  }

  // A signed installer of about 8 MiB: the fixture template with a stored
  // payload of fixed pseudo-random bytes.
  std::string LargeInstaller() {
    std::mt19937 generator(17);
    Bytes payload(kLargePayload);
    for (uint8_t& byte : payload)
      byte = static_cast<uint8_t>(generator());
    std::string payload_path = fixture_.dir() / "payload.bin";
    std::string packed = fixture_.dir() / "large.exe";
    std::string signed_path = fixture_.dir() / "large-signed.exe";
    EXPECT_TRUE(test_support::WriteBytes(payload_path, payload));
    CommandResult pack =
        RunCommand({std::string(ORVIA_TOOLS_DIR) + "/orvia-pack", "--stub",
                    test_support::kTagTemplate, "--raw-payload", payload_path, "-o", packed},
                   fixture_.dir());
    EXPECT_EQ(pack.status, 0) << pack.err;
    std::string error;
    EXPECT_TRUE(fixture_.Sign(packed, signed_path, "", &error)) << error;
    return signed_path;
  }

  // Starts a server for `installer` that wants signed tags with kKeys.
  void StartServer(ServerProcess* server,
                   const std::string& installer,
                   const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"--installer", installer, "--secret-file",
                                     secret_file_,  "--keys",  kKeys};
    args.insert(args.end(), extra.begin(), extra.end());
    std::string error;
    ASSERT_TRUE(server->Start(kOrviaTag, args, log_path(), &error)) << error;
  }

  std::string log_path() const { return fixture_.dir() / "access.log"; }

  static std::string Target(const std::string& tag) {
    return "/dl/setup.exe?tag=" + UrlEncode(tag) + "&sig=" + SignTag(kSecret, tag);
  }

  // What `orvia-tag set --tag TAG` writes for `installer`.
  Bytes SetOutput(const std::string& installer, const std::string& tag) {
    std::string out = fixture_.dir() / "set-output.exe";
    CommandResult run =
        RunCommand({kOrviaTag, "set", "--tag", tag, installer, "-o", out}, fixture_.dir());
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadBytes(out);
  }

  SignedFixture fixture_;
  std::string secret_file_;
};

TEST_F(TagServeHttpTest, DownloadsAreWhatSetWritesAndVerify) {
  ServerProcess server;
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, fixture_.signed_path()));
  std::vector<std::string> tags;
  for (int i = 0; i < 17; ++i) {
    tags.push_back("appguid={3F2B8C1E-7A4D-4E9B-9C21-5D6E8F0A1B" + std::to_string(10 + i) +
                   "}&lang=" + std::string(1, static_cast<char>('a' + i)) + "x");
  }
  tags.push_back("appname=Sample%20Product&needsadmin=false");  // "%20" is part of the text
  tags.push_back("needsadmin=true&appname=~!#$%'()*+,-./:;<=>?@[\\]^_`{|}");
  tags.push_back("appname=" + std::string(kTagTextCapacity - 8, 'N'));
  ASSERT_EQ(tags.size(), 20u);

  std::string copy_path = fixture_.dir() / "served.exe";
  for (const std::string& tag : tags) {
    SCOPED_TRACE(tag.substr(0, 60));
    HttpResponse response = Fetch(server.port(), Target(tag));
    ASSERT_EQ(response.status, 200) << response.body;
    Bytes expected = SetOutput(fixture_.signed_path(), tag);
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(response.body == AsString(expected)) << "differs from orvia-tag set's output";
    EXPECT_EQ(response.Header("content-length"), std::to_string(expected.size()));
    EXPECT_EQ(response.Header("content-type"), "application/octet-stream");
    EXPECT_EQ(response.Header("content-disposition"), "attachment; filename=\"signed.exe\"");
    ASSERT_TRUE(
        test_support::WriteBytes(copy_path, Bytes(response.body.begin(), response.body.end())));
    test_support::Verification check =
        test_support::Verify(copy_path, fixture_.CaFile(), fixture_.dir());
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(ReadTagAsStub(Bytes(response.body.begin(), response.body.end())).text, tag);
  }

  // One access-log line per request, without the signature.
  std::string log = ReadText(log_path());
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 20) << log;
  EXPECT_EQ(log.find("sig="), std::string::npos);
  EXPECT_NE(log.find(" 127.0.0.1:"), std::string::npos);
  EXPECT_NE(
      log.find(" GET /dl/setup.exe?tag=appname%3DSample%2520Product%26needsadmin%3Dfalse 200 " +
               std::to_string(ReadBytes(copy_path).size()) + "\n"),
      std::string::npos)
      << log;
}

TEST_F(TagServeHttpTest, RangesHeadAndETags) {
  ServerProcess server;
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, fixture_.signed_path()));
  const std::string tag = "appguid={1}&lang=fr";
  HttpResponse whole = Fetch(server.port(), Target(tag));
  ASSERT_EQ(whole.status, 200) << whole.body;
  const std::string& body = whole.body;
  const std::string etag = whole.Header("etag");
  EXPECT_EQ(etag.size(), 34u) << etag;  // a strong, quoted tag
  EXPECT_EQ(etag.front(), '"');
  EXPECT_EQ(whole.Header("accept-ranges"), "bytes");

  // Cut at the pieces a copy is made of: the checksum field and the block.
  const Bytes image(body.begin(), body.end());
  PeLayout layout;
  std::string error;
  ASSERT_TRUE(ParsePe32(image.data(), image.size(), &layout, &error)) << error;
  const size_t checksum = layout.ChecksumOffset();
  const size_t block = ReadTagAsStub(image).text_offset - kTagHeaderSize;
  const size_t cuts[] = {0,         1,         checksum + 2,          checksum + 4,
                         block - 1, block + 7, block + kTagBlockSize, body.size() - 3};
  std::string reassembled;
  for (size_t i = 0; i < std::size(cuts); ++i) {
    bool last = i + 1 == std::size(cuts);
    std::string range = "bytes=" + std::to_string(cuts[i]) + "-" +
                        (last ? std::string() : std::to_string(cuts[i + 1] - 1));
    SCOPED_TRACE(range);
    HttpResponse part = Fetch(server.port(), Target(tag), "GET", "Range: " + range + "\r\n");
    ASSERT_EQ(part.status, 206) << part.body;
    size_t end = last ? body.size() - 1 : cuts[i + 1] - 1;
    EXPECT_EQ(part.Header("content-range"), "bytes " + std::to_string(cuts[i]) + "-" +
                                                std::to_string(end) + "/" +
                                                std::to_string(body.size()));
    EXPECT_EQ(part.Header("content-length"), std::to_string(part.body.size()));
    EXPECT_EQ(part.Header("etag"), etag);
    reassembled += part.body;
  }
  EXPECT_TRUE(reassembled == body) << "the pieces do not make the whole";

  HttpResponse suffix = Fetch(server.port(), Target(tag), "GET", "Range: bytes=-100\r\n");
  EXPECT_EQ(suffix.status, 206);
  EXPECT_TRUE(suffix.body == body.substr(body.size() - 100));

  // A resumed download of another copy gets this copy whole.
  HttpResponse stale =
      Fetch(server.port(), Target(tag), "GET",
            "Range: bytes=100-\r\nIf-Range: \"0123456789abcdef0123456789abcdef\"\r\n");
  EXPECT_EQ(stale.status, 200);
  EXPECT_EQ(stale.body.size(), body.size());
  HttpResponse resumed =
      Fetch(server.port(), Target(tag), "GET", "Range: bytes=100-\r\nIf-Range: " + etag + "\r\n");
  EXPECT_EQ(resumed.status, 206);
  EXPECT_TRUE(resumed.body == body.substr(100));

  HttpResponse head = Fetch(server.port(), Target(tag), "HEAD");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.headers, whole.headers);
  EXPECT_EQ(head.body, "");
  HttpResponse head_range = Fetch(server.port(), Target(tag), "HEAD", "Range: bytes=5-9\r\n");
  EXPECT_EQ(head_range.status, 206);
  EXPECT_EQ(head_range.Header("content-length"), "5");
  EXPECT_EQ(head_range.body, "");

  EXPECT_EQ(Fetch(server.port(), Target(tag)).Header("etag"), etag);
  const std::string others[] = {"appguid={1}&lang=de", "appguid={1}&lang=fr&needsadmin=true"};
  for (const std::string& other : others)
    EXPECT_NE(Fetch(server.port(), Target(other)).Header("etag"), etag) << other;
}

// Requests sent back to back on one connection are answered in turn: what
// a proxy's kept-alive upstream connection and wrk do.
TEST_F(TagServeHttpTest, KeptAliveConnectionAnswersInTurn) {
  ServerProcess server;
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, fixture_.signed_path()));
  const std::string host = " HTTP/1.1\r\nHost: x\r\n";
  ScopedFd fd = Connect(server.port());
  ASSERT_TRUE(SendAll(fd.get(), "HEAD " + Target("lang=en") + host + "\r\n" + "GET /healthz" +
                                    host + "\r\n" + "GET " + Target("lang=de") + host +
                                    "Connection: close\r\n\r\n"));
  std::string stream = ReceiveUpTo(fd.get(), SIZE_MAX);
  const Bytes expected = SetOutput(fixture_.signed_path(), "lang=de");
  const struct {
    int status;
    bool head;
    std::string body;
  } answers[] = {{200, true, ""}, {200, false, "ok\n"}, {200, false, AsString(expected)}};
  for (const auto& answer : answers) {
    HttpResponse response = test_support::ParseResponse(stream);
    ASSERT_EQ(response.status, answer.status) << stream.substr(0, 300);
    size_t length = answer.head ? 0 : std::stoul(response.Header("content-length"));
    ASSERT_GE(response.body.size(), length);
    EXPECT_TRUE(response.body.substr(0, length) == answer.body);
    stream = response.body.substr(length);
  }
  EXPECT_EQ(stream, "");
}

// One request written raw, so that what a client library would refuse to
// send can be sent.
HttpResponse SendRaw(int port, const std::string& request) {
  ScopedFd fd = Connect(port);
  if (fd.get() < 0 || !SendAll(fd.get(), request))
    return HttpResponse();
  return test_support::ParseResponse(ReceiveUpTo(fd.get(), SIZE_MAX));
}

TEST_F(TagServeHttpTest, BadRequestsGetOneLineAndLeakNothing) {
  ServerProcess server;
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, LargeInstaller()));
  ASSERT_EQ(Fetch(server.port(), "/healthz").body, "ok\n");
  const int baseline = server.SteadyOpenFiles();
  ASSERT_GT(baseline, 0);

  auto get = [](const std::string& target, const std::string& headers = "") {
    return "GET " + target + " HTTP/1.1\r\nHost: x\r\n" + headers + "Connection: close\r\n\r\n";
  };
  const std::string valid = "lang=en";
  const std::string unsigned_target = "/dl/setup.exe?tag=" + UrlEncode(valid);
  const struct {
    const char* name;
    std::string request;
    int status;
    const char* reason;  // a part of the one-line body
  } cases[] = {
      {"no tag", get("/dl/setup.exe"), 400, "no tag parameter"},
      {"empty tag", get(Target("")), 400, "empty"},
      {"double quote", get(Target("lang=\"en\"")), 400, "double quote"},
      {"encoded NUL", get("/dl/setup.exe?tag=lang%3Den%00&sig=" + SignTag(kSecret, "lang=en")), 400,
       "NUL"},
      {"broken escape", get("/dl/setup.exe?tag=lang%3Den%G1&sig=0"), 400, "two hex digits"},
      {"longer than a block holds", get(Target("appname=" + std::string(kTagTextCapacity, 'A'))),
       400, "8192"},
      {"key not allowed", get(Target("lang=en&brand=ORVA")), 400, "'brand' is not allowed"},
      {"missing sig", get(unsigned_target), 403, "no sig"},
      {"wrong sig", get(unsigned_target + "&sig=" + SignTag("another secret", valid)), 403,
       "signature"},
      {"range past the end", get(Target(valid), "Range: bytes=900000000-\r\n"), 416,
       "outside the file"},
      {"method",
       "POST " + Target(valid) +
           " HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n",
       405, "GET and HEAD"},
      {"not HTTP", "HELLO\r\n\r\n", 400, "malformed"},
      {"header too large", get(Target(valid), "X-Big: " + std::string(64 * 1024, 'b') + "\r\n"),
       431, "too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HttpResponse response = SendRaw(server.port(), c.request);
    EXPECT_EQ(response.status, c.status) << response.raw_header << response.body;
    EXPECT_NE(response.body.find(c.reason), std::string::npos) << response.body;
    EXPECT_EQ(std::count(response.body.begin(), response.body.end(), '\n'), 1) << response.body;
    EXPECT_TRUE(!response.body.empty() && response.body.back() == '\n');
    EXPECT_EQ(response.Header("content-type"), "text/plain; charset=utf-8");
  }
  EXPECT_EQ(Fetch(server.port(), "/healthz").status, 200);
  EXPECT_EQ(server.OpenFilesSettling(baseline, 10), baseline);

  // Clients that go away mid-download, twenty at a time, with a reset.
  const std::string target = Target("appguid={4}&lang=en");
  for (int batch = 0; batch < 10; ++batch) {
    std::vector<ScopedFd> clients;
    for (int i = 0; i < 20; ++i) {
      ScopedFd fd = Connect(server.port(), 16 * 1024);
      ASSERT_GE(fd.get(), 0);
      ASSERT_TRUE(SendAll(fd.get(), get(target)));
      clients.push_back(std::move(fd));
    }
    for (ScopedFd& fd : clients) {
      EXPECT_EQ(ReceiveUpTo(fd.get(), 32 * 1024).size(), 32u * 1024);
      linger reset = {1, 0};
      setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof(reset));
    }
  }
  EXPECT_EQ(server.OpenFilesSettling(baseline, 10), baseline);
  HttpResponse after = Fetch(server.port(), target);
  EXPECT_EQ(after.status, 200);
  EXPECT_EQ(after.body.size(), std::stoul(after.Header("content-length")));
  EXPECT_EQ(server.OpenFilesSettling(baseline, 10), baseline);
  std::string log = ReadText(log_path());
  size_t cut = 0;
  for (size_t at = log.find("(cut: "); at != std::string::npos; at = log.find("(cut: ", at + 1))
    ++cut;
  EXPECT_EQ(cut, 200u);
}

TEST_F(TagServeHttpTest, SlowClientsHoldUpNobody) {
  ServerProcess server;
  const std::string installer = LargeInstaller();
  // One thread: a blocked write would stop everything.
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, installer, {"--threads", "1", "--timeout", "2"}));
  const std::string target = Target("lang=en");
  ScopedFd stalled = Connect(server.port(), 16 * 1024);
  ASSERT_TRUE(SendAll(stalled.get(), "GET " + target + " HTTP/1.1\r\nHost: x\r\n\r\n"));
  ScopedFd silent = Connect(server.port());
  ASSERT_TRUE(SendAll(silent.get(), "GET /healthz HTTP/1.1\r\n"));  // never finished

  HttpResponse full = Fetch(server.port(), target);
  ASSERT_EQ(full.status, 200);
  EXPECT_TRUE(full.body == AsString(SetOutput(installer, "lang=en")));

  // Both make no progress, so the server drops them: the reads end with
  // the connection closed, not with the client's own timeout.
  for (ScopedFd* fd : {&stalled, &silent}) {
    char chunk[65536];
    ssize_t got = 1;
    while (got > 0)
      got = recv(fd->get(), chunk, sizeof(chunk), 0);
    EXPECT_TRUE(got == 0 || errno == ECONNRESET) << "errno " << errno;
  }
}

TEST_F(TagServeHttpTest, SigtermLetsOpenDownloadsFinishThenExitsZero) {
  ServerProcess server;
  const std::string installer = LargeInstaller();
  ASSERT_NO_FATAL_FAILURE(StartServer(&server, installer));
  ScopedFd download = Connect(server.port(), 16 * 1024);
  ASSERT_TRUE(SendAll(download.get(), "GET " + Target("lang=de") + " HTTP/1.1\r\nHost: x\r\n\r\n"));
  std::string received = ReceiveUpTo(download.get(), 64 * 1024);
  ASSERT_EQ(received.size(), 64u * 1024);
  // A keep-alive connection between requests.
  ScopedFd idle = Connect(server.port());
  ASSERT_TRUE(SendAll(idle.get(), "GET /healthz HTTP/1.1\r\nHost: x\r\n\r\n"));
  std::string answer;
  while (answer.find("\r\n\r\nok\n") == std::string::npos) {
    std::string more = ReceiveUpTo(idle.get(), 1);
    ASSERT_FALSE(more.empty()) << answer;
    answer += more;
  }

  kill(server.pid(), SIGTERM);
  // The idle keep-alive connection is closed at once; new ones are refused.
  char byte;
  EXPECT_EQ(recv(idle.get(), &byte, 1, 0), 0);
  ScopedFd refused;
  for (int i = 0; i < 100; ++i) {
    refused = Connect(server.port());
    if (refused.get() < 0)
      break;
    refused.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_LT(refused.get(), 0) << "still accepting after SIGTERM";

  received += ReceiveUpTo(download.get(), SIZE_MAX);
  HttpResponse response = test_support::ParseResponse(received);
  EXPECT_EQ(response.status, 200);
  EXPECT_TRUE(response.body == AsString(SetOutput(installer, "lang=de")));
  EXPECT_EQ(server.SignalAndWait(0, 10), 0);
  EXPECT_NE(server.ReadStderr(100).find("orvia-tag: stopped"), std::string::npos);
}

TEST_F(TagServeHttpTest, RefusesToStartWithOneLine) {
  std::string empty_file = fixture_.dir() / "empty";
  ASSERT_TRUE(test_support::WriteBytes(empty_file, {}));
  const std::string& signed_path = fixture_.signed_path();
  const struct {
    std::vector<std::string> args;
    const char* reason;
  } cases[] = {
      {{"serve", "--listen", "127.0.0.1:0"}, "serve needs --installer"},
      {{"serve", "--installer", signed_path}, "serve needs --installer"},
      {{"serve", "--installer", signed_path, "--listen", "127.0.0.1:0", "x.exe"},
       "no file operands"},
      {{"serve", "--installer", test_support::kTagTemplate, "--listen", "127.0.0.1:0"},
       "not signed"},
      {{"serve", "--installer", signed_path, "--listen", "nowhere"}, "not HOST:PORT"},
      {{"serve", "--installer", signed_path, "--listen", "localhost:80"}, "not an IP address"},
      {{"serve", "--installer", signed_path, "--listen", "127.0.0.1:70000"}, "not a port"},
      {{"serve", "--installer", signed_path, "--listen", "127.0.0.1:0", "--threads", "0"},
       "--threads"},
      {{"serve", "--installer", signed_path, "--listen", "127.0.0.1:0", "--keys", "a,,b"},
       "--keys"},
      {{"serve", "--installer", signed_path, "--listen", "127.0.0.1:0", "--secret-file",
        empty_file},
       "the secret file is empty"},
      {{"set", "--listen", "127.0.0.1:0", "--tag", "a", signed_path, "-o", "x"}, "only with serve"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> argv = {kOrviaTag};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.reason);
    CommandResult run = RunCommand(argv, fixture_.dir());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("orvia-tag: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
  CommandResult help = RunCommand({kOrviaTag, "--help"}, fixture_.dir());
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("orvia-tag serve --installer"), std::string::npos);
}

}  // namespace
}  // namespace orvia
