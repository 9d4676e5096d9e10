// Puts a payload into a copy of the stub template: the resource section is
// rebuilt with the payload resource, sections after it move, the rest of the
// image is kept byte for byte.
#ifndef ORVIA_TOOLS_PACK_INSTALLER_IMAGE_H_
#define ORVIA_TOOLS_PACK_INSTALLER_IMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/payload/payload_format.h"
#include "tools/pe/resource_tree.h"

namespace orvia {

// Where the stub looks for its payload: type "B" (a string), id 102,
// neutral language.
inline ResourceKey PayloadResourceType() {
  return ResourceKey::Named("B");
}
constexpr uint32_t kPayloadResourceLanguage = 0;

// Checks that `image` can take a payload: an i386 PE32 image, not signed,
// with a resource directory that opens its own section. On failure `error`
// holds the reason.
bool CheckTemplate(const std::vector<uint8_t>& image, std::string* error);

// Builds the installer: `image` with the payload resource set to `payload`
// (replacing any payload it had). Returns false with `error` set when the
// template is unusable.
bool EmbedPayload(const std::vector<uint8_t>& image,
                  std::vector<uint8_t> payload,
                  std::vector<uint8_t>* installer,
                  std::string* error);

// Copies the payload resource out of an installer.
bool ExtractPayload(const std::vector<uint8_t>& image,
                    std::vector<uint8_t>* payload,
                    std::string* error);

}  // namespace orvia

#endif  // ORVIA_TOOLS_PACK_INSTALLER_IMAGE_H_
