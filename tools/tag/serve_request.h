// What `orvia-tag serve` makes of a request before any byte is sent: the tag
// from the query, whether its signer may mint it, whether it is a tag the
// stub can carry, and the byte range asked for. Free of sockets, so that
// every rule is tested on its own.
//
// The query's `tag` parameter is the percent-encoded tag text: a tag that
// holds "%20" travels as "%2520". Decoding is strict: '%' must be followed by
// two hex digits, "%00" is refused, and '+' stands for itself.
#ifndef ORVIA_TOOLS_TAG_SERVE_REQUEST_H_
#define ORVIA_TOOLS_TAG_SERVE_REQUEST_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvia {

// Who may mint a tag and which tags are accepted.
struct TagPolicy {
  std::string secret;             // empty: any tag is served unsigned
  std::vector<std::string> keys;  // empty: any text the block can carry
};

// Percent-decodes one query component; false with a reason on a broken
// escape or an encoded NUL byte.
bool PercentDecode(std::string_view text, std::string* decoded, std::string* error);

// The lowercase hex HMAC-SHA256 of `tag` under `secret`.
std::string SignTag(const std::string& secret, const std::string& tag);

// Compares `sig` with the tag's signature in time that does not depend on
// where they differ.
bool SignatureMatches(const std::string& secret, const std::string& tag, const std::string& sig);

// Whether `tag` is `key=value` pairs joined by '&', with keys from `keys`,
// each at most once, and values of printable ASCII other than '"'.
bool CheckTagKeys(const std::string& tag, const std::vector<std::string>& keys, std::string* error);

// Parses a comma-separated --keys list; false with a reason.
bool ParseKeyList(const std::string& list, std::vector<std::string>* keys, std::string* error);

// The verdict on a download request's query: 200 with the tag, or the status
// and a one-line reason.
struct TagRequest {
  int status = 400;
  std::string tag;
  std::string reason;
};
TagRequest CheckTagQuery(std::string_view query, const TagPolicy& policy);

// A single byte range of a file of `size` bytes, from a Range header.
struct ByteRange {
  enum class Kind { kWhole, kPart, kUnsatisfiable };
  Kind kind = Kind::kWhole;
  uint64_t first = 0;
  uint64_t last = 0;  // inclusive
};
// A header that is not one well-formed "bytes=" range asks for the whole
// file: such a header is ignored, as it may be.
ByteRange ParseRange(std::string_view header, uint64_t size);

// The request target with the `sig` parameter left out, for the access log.
std::string TargetWithoutSig(std::string_view target);

}  // namespace orvia

#endif  // ORVIA_TOOLS_TAG_SERVE_REQUEST_H_
