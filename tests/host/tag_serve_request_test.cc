// The rules of a download request, without a socket: strict percent-decoding,
// who may mint a tag, which tags are served, which byte range is asked for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/tag/tag_scan.h"
#include "tests/serve/serve_test_support.h"
#include "tools/tag/serve_request.h"

namespace orvia {
namespace {

using test_support::UrlEncode;

TEST(TagServeRequestTest, PercentDecodingIsStrict) {
  const struct {
    const char* encoded;
    bool ok;
    std::string decoded;  // or a part of the reason
  } cases[] = {
      {"appname%3DSample%2520Product", true, "appname=Sample%20Product"},
      {"a+b", true, "a+b"},
      {"%c3%A9", true, "\xc3\xa9"},
      {"", true, ""},
      {"%zz", false, "two hex digits"},
      {"ab%4", false, "two hex digits"},
      {"ab%", false, "two hex digits"},
      {"%00", false, "NUL"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoded);
    std::string decoded;
    std::string error;
    ASSERT_EQ(PercentDecode(c.encoded, &decoded, &error), c.ok);
    if (c.ok)
      EXPECT_EQ(decoded, c.decoded);
    else
      EXPECT_NE(error.find(c.decoded), std::string::npos) << error;
  }
}

TEST(TagServeRequestTest, SignatureIsHmacSha256InLowercaseHex) {
  // A published HMAC-SHA256 test vector.
  EXPECT_EQ(SignTag("Jefe", "what do ya want for nothing?"),
            "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
  std::string sig = SignTag("Jefe", "lang=en");
  EXPECT_TRUE(SignatureMatches("Jefe", "lang=en", sig));
  std::string upper = sig;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string wrong[] = {
      "", upper, sig.substr(1), sig + "0", SignTag("Jefe", "lang=de"), SignTag("jefe", "lang=en")};
  for (const std::string& w : wrong)
    EXPECT_FALSE(SignatureMatches("Jefe", "lang=en", w)) << w;
}

TEST(TagServeRequestTest, QueryVerdicts) {
  TagPolicy policy;
  policy.secret = "s3cret";
  policy.keys = {"appguid", "appname", "needsadmin", "lang"};
  auto signed_query = [&](const std::string& tag) {
    return "tag=" + UrlEncode(tag) + "&sig=" + SignTag(policy.secret, tag);
  };
  const std::string good = "appguid={3F2B}&appname=Sample%20Product&lang=en";
  const struct {
    const char* name;
    std::string query;
    int status;
    std::string expected;  // the tag on 200, else a part of the reason
  } cases[] = {
      {"signed and allowed", signed_query(good), 200, good},
      {"other parameters are ignored", "x=%zz&" + signed_query("lang=en") + "&utm=1", 200,
       "lang=en"},
      {"no query", "", 400, "no tag parameter"},
      {"no tag", "sig=" + SignTag(policy.secret, "lang=en"), 400, "no tag parameter"},
      {"empty tag", signed_query(""), 400, "empty"},
      {"tag twice", signed_query("lang=en") + "&tag=lang%3Dde", 400, "given twice"},
      {"broken escape", "tag=lang%3&sig=00", 400, "two hex digits"},
      {"encoded NUL", "tag=lang%3Den%00&sig=00", 400, "NUL"},
      {"no sig", "tag=lang%3Den", 403, "no sig"},
      {"wrong sig", "tag=lang%3Den&sig=" + SignTag(policy.secret, "lang=de"), 403,
       "not the tag's signature"},
      {"double quote", signed_query("lang=\"en\""), 400, "double quote"},
      {"too long", signed_query("lang=" + std::string(kTagTextCapacity, 'e')), 400,
       "more than the 8192"},
      {"key not allowed", signed_query("lang=en&brand=X"), 400, "'brand' is not allowed"},
      {"key twice", signed_query("lang=en&lang=de"), 400, "given twice"},
      {"not a pair", signed_query("lang=en&oops"), 400, "key=value"},
      {"empty pair", signed_query("lang=en&&appname=A"), 400, "key=value"},
      {"space in a value", signed_query("appname=Sample Product"), 400, "printable ASCII"},
      {"empty value", signed_query("lang="), 400, "printable ASCII"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TagRequest verdict = CheckTagQuery(c.query, policy);
    EXPECT_EQ(verdict.status, c.status) << verdict.reason;
    if (c.status == 200) {
      EXPECT_EQ(verdict.tag, c.expected);
    } else {
      EXPECT_NE(verdict.reason.find(c.expected), std::string::npos) << verdict.reason;
      EXPECT_EQ(verdict.reason.find('\n'), std::string::npos);
    }
  }
}

TEST(TagServeRequestTest, WithoutSecretOrKeysAnyBlockTextIsServed) {
  TagRequest verdict = CheckTagQuery("tag=" + UrlEncode("any text; at all"), TagPolicy());
  EXPECT_EQ(verdict.status, 200) << verdict.reason;
  EXPECT_EQ(verdict.tag, "any text; at all");
  EXPECT_EQ(CheckTagQuery("tag=%22", TagPolicy()).status, 400);
}

TEST(TagServeRequestTest, KeyLists) {
  std::vector<std::string> keys;
  std::string error;
  EXPECT_TRUE(ParseKeyList("appguid,appname,needsadmin,lang", &keys, &error)) << error;
  EXPECT_EQ(keys, (std::vector<std::string>{"appguid", "appname", "needsadmin", "lang"}));
  for (const char* bad : {"", "lang,", ",lang", "la=ng", "a b", "a&b"})
    EXPECT_FALSE(ParseKeyList(bad, &keys, &error)) << bad;
}

TEST(TagServeRequestTest, Ranges) {
  using Kind = ByteRange::Kind;
  const uint64_t size = 1000;
  const struct {
    const char* header;
    Kind kind;
    uint64_t first;
    uint64_t last;
  } cases[] = {
      {"bytes=0-99", Kind::kPart, 0, 99},
      {"bytes=990-", Kind::kPart, 990, 999},
      {"bytes=990-5000", Kind::kPart, 990, 999},
      {"bytes=-10", Kind::kPart, 990, 999},
      {"bytes=-5000", Kind::kPart, 0, 999},
      {"bytes=999-999", Kind::kPart, 999, 999},
      {"bytes=1000-", Kind::kUnsatisfiable, 0, 0},
      {"bytes=5000-6000", Kind::kUnsatisfiable, 0, 0},
      {"bytes=-0", Kind::kUnsatisfiable, 0, 0},
      // Not one well-formed range: ignored, the whole file is sent.
      {"bytes=0-1,5-6", Kind::kWhole, 0, 0},
      {"bytes=9-3", Kind::kWhole, 0, 0},
      {"bytes=a-3", Kind::kWhole, 0, 0},
      {"bytes=3", Kind::kWhole, 0, 0},
      {"items=0-3", Kind::kWhole, 0, 0},
      {"bytes=99999999999999999999-", Kind::kWhole, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    ByteRange range = ParseRange(c.header, size);
    EXPECT_EQ(range.kind, c.kind);
    if (c.kind == Kind::kPart) {
      EXPECT_EQ(range.first, c.first);
      EXPECT_EQ(range.last, c.last);
    }
  }
}

TEST(TagServeRequestTest, LoggedTargetLeavesOutTheSig) {
  const struct {
    const char* target;
    const char* logged;
  } cases[] = {
      {"/d/setup.exe?tag=lang%3Den&sig=abc", "/d/setup.exe?tag=lang%3Den"},
      {"/?sig=abc&tag=x&n=1", "/?tag=x&n=1"},
      {"/?sig=abc", "/"},
      {"/healthz", "/healthz"},
      {"/?signal=1&tag=x", "/?signal=1&tag=x"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TargetWithoutSig(c.target), c.logged);
}

}  // namespace
}  // namespace orvia
