// orvia-tag's reading of a signed file: PE headers, certificate table and the
// PKCS#7 DER, then a tag written into whatever was accepted and read back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tools/tag/tag_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> image(data, data + size);
  orvia::SignedImage signed_image;
  std::string error;
  if (!orvia::ReadSignedImage(image, &signed_image, &error)) {
    if (error.empty())
      std::abort();
    return 0;
  }
  // An accepted table ends the file: the output is the bytes before it plus a new table.
  if (static_cast<uint64_t>(signed_image.table_offset) + signed_image.table_size != size)
    std::abort();
  const std::string tag = "appguid={3F2B8C1E}&lang=en";
  orvia::CertificateTable table;
  if (!orvia::ComposeTaggedTable(signed_image, tag, &table, &error))
    return 0;
  const std::vector<uint8_t> tagged = orvia::AssembleImage(image, signed_image, table.bytes);
  if (tagged.size() != signed_image.table_offset + table.bytes.size())
    std::abort();
  // What the tool writes, the stub's own scan reads back, or the tool says why not.
  if (!orvia::CheckStubReadsBlock(tagged, table.block_offset, tag, &error) && error.empty())
    std::abort();
  return 0;
}
