#include "tools/tag/serve_request.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>

#include "tools/tag/tag_image.h"

namespace orvia {
namespace {

constexpr size_t kSignatureHexSize = 64;

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos)
      return parts;
    start = end + 1;
  }
}

bool IsValueByte(char c) {
  return c >= 0x21 && c <= 0x7E && c != '"';
}

// Digits only, no sign, no overflow.
bool ParseOffset(std::string_view text, uint64_t* value) {
  if (text.empty() || text.size() > 19)
    return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = result;
  return true;
}

}  // namespace

bool PercentDecode(std::string_view text, std::string* decoded, std::string* error) {
  decoded->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      decoded->push_back(text[i]);
      continue;
    }
    int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
    int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
    if (high < 0 || low < 0) {
      *error = "a '%' in the query is not followed by two hex digits";
      return false;
    }
    char byte = static_cast<char>(high * 16 + low);
    if (byte == '\0') {
      *error = "the query holds an encoded NUL byte (%00)";
      return false;
    }
    decoded->push_back(byte);
    i += 2;
  }
  return true;
}

std::string SignTag(const std::string& secret, const std::string& tag) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int mac_size = 0;
  if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
            reinterpret_cast<const unsigned char*>(tag.data()), tag.size(), mac, &mac_size))
    return "";
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < mac_size; ++i) {
    hex.push_back(kDigits[mac[i] >> 4]);
    hex.push_back(kDigits[mac[i] & 0xF]);
  }
  return hex;
}

bool SignatureMatches(const std::string& secret, const std::string& tag, const std::string& sig) {
  std::string expected = SignTag(secret, tag);
  // The length is public (always 64); only the content must not leak.
  return expected.size() == kSignatureHexSize && sig.size() == kSignatureHexSize &&
         CRYPTO_memcmp(expected.data(), sig.data(), kSignatureHexSize) == 0;
}

bool CheckTagKeys(const std::string& tag,
                  const std::vector<std::string>& keys,
                  std::string* error) {
  std::vector<std::string_view> seen;
  for (std::string_view pair : Split(tag, '&')) {
    size_t equals = pair.find('=');
    if (equals == std::string_view::npos || equals == 0) {
      *error = "the tag is not key=value pairs joined by '&'";
      return false;
    }
    std::string_view key = pair.substr(0, equals);
    std::string_view value = pair.substr(equals + 1);
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
      *error = "the tag key '" + std::string(key) + "' is not allowed";
      return false;
    }
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      *error = "the tag key '" + std::string(key) + "' is given twice";
      return false;
    }
    seen.push_back(key);
    if (value.empty() || !std::all_of(value.begin(), value.end(), IsValueByte)) {
      *error = "the value of tag key '" + std::string(key) +
               "' is empty or not printable ASCII without '\"'";
      return false;
    }
  }
  return true;
}

bool ParseKeyList(const std::string& list, std::vector<std::string>* keys, std::string* error) {
  keys->clear();
  for (std::string_view key : Split(list, ',')) {
    bool plain = !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
      return IsValueByte(c) && c != '=' && c != '&' && c != ',';
    });
    if (!plain) {
      *error = "--keys takes names joined by ',' (printable, without '=', '&' or '\"')";
      return false;
    }
    keys->emplace_back(key);
  }
  return true;
}

TagRequest CheckTagQuery(std::string_view query, const TagPolicy& policy) {
  TagRequest request;
  bool has_tag = false;
  bool has_sig = false;
  std::string sig;
  std::string value;
  for (std::string_view parameter : Split(query, '&')) {
    size_t equals = parameter.find('=');
    std::string_view name = parameter.substr(0, equals);
    if (name != "tag" && name != "sig")
      continue;  // other parameters (cache busters, trackers) do not change the copy
    bool& has = name == "tag" ? has_tag : has_sig;
    if (has) {
      request.reason = "the " + std::string(name) + " parameter is given twice";
      return request;
    }
    has = true;
    std::string_view encoded =
        equals == std::string_view::npos ? std::string_view() : parameter.substr(equals + 1);
    if (!PercentDecode(encoded, &value, &request.reason))
      return request;
    (name == "tag" ? request.tag : sig) = value;
  }
  if (!has_tag) {
    request.reason = "no tag parameter in the query";
    return request;
  }
  if (!policy.secret.empty() && !has_sig) {
    request.status = 403;
    request.reason = "no sig parameter: this server serves only signed tags";
    return request;
  }
  if (!policy.secret.empty() && !SignatureMatches(policy.secret, request.tag, sig)) {
    request.status = 403;
    request.reason = "the sig parameter is not the tag's signature";
    return request;
  }
  if (!CheckTagTextForBlock(request.tag, &request.reason))
    return request;
  if (!policy.keys.empty() && !CheckTagKeys(request.tag, policy.keys, &request.reason))
    return request;
  request.status = 200;
  return request;
}

ByteRange ParseRange(std::string_view header, uint64_t size) {
  ByteRange range;
  constexpr std::string_view kUnit = "bytes=";
  if (header.substr(0, kUnit.size()) != kUnit || header.find(',') != std::string_view::npos)
    return range;
  std::string_view byte_range = header.substr(kUnit.size());
  size_t dash = byte_range.find('-');
  if (dash == std::string_view::npos)
    return range;
  std::string_view first_text = byte_range.substr(0, dash);
  std::string_view last_text = byte_range.substr(dash + 1);
  uint64_t first = 0;
  uint64_t last = 0;
  if (first_text.empty()) {
    // A suffix: the last N bytes.
    if (!ParseOffset(last_text, &last))
      return range;
    if (last == 0 || size == 0) {
      range.kind = ByteRange::Kind::kUnsatisfiable;
      return range;
    }
    range.kind = ByteRange::Kind::kPart;
    range.first = size - std::min(last, size);
    range.last = size - 1;
    return range;
  }
  if (!ParseOffset(first_text, &first))
    return range;
  if (last_text.empty()) {
    last = UINT64_MAX;
  } else if (!ParseOffset(last_text, &last) || last < first) {
    return range;
  }
  if (first >= size) {
    range.kind = ByteRange::Kind::kUnsatisfiable;
    return range;
  }
  range.kind = ByteRange::Kind::kPart;
  range.first = first;
  range.last = std::min(last, size - 1);
  return range;
}

std::string TargetWithoutSig(std::string_view target) {
  size_t question = target.find('?');
  if (question == std::string_view::npos)
    return std::string(target);
  std::string kept(target.substr(0, question + 1));
  bool first = true;
  for (std::string_view parameter : Split(target.substr(question + 1), '&')) {
    if (parameter.substr(0, parameter.find('=')) == "sig")
      continue;
    if (!first)
      kept.push_back('&');
    kept.append(parameter);
    first = false;
  }
  if (first)
    kept.pop_back();
  return kept;
}

}  // namespace orvia
