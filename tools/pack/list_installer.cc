#include "tools/pack/list_installer.h"

#include <cstdio>
#include <vector>

#include "core/common/byte_order.h"
#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
#include "tools/pack/installer_image.h"
#include "tools/pack/pack_inputs.h"
#include "tools/pack/payload.h"
#include "tools/pack/tar_list.h"

namespace orvia {
namespace {

int Fail(const std::string& subject, const std::string& reason) {
  return PrintToolError("orvia-pack", subject, reason);
}

}  // namespace

int ListInstaller(const std::string& path) {
  std::vector<uint8_t> image;
  std::string error;
  if (!ReadWholeFile(path, &image, &error))
    return Fail(path, error);
  std::vector<uint8_t> payload;
  if (!ExtractPayload(image, &payload, &error))
    return Fail(path, error);
  image = std::vector<uint8_t>();
  std::vector<uint8_t> tarball;
  Bcj2Header header;
  if (!DecodePayload(payload.data(), payload.size(), &tarball, &header, &error))
    return Fail(path, error);
  std::vector<TarMember> members;
  bool walked = ListTarMembers(tarball.data(), tarball.size(), &members, &error);

  unsigned props = payload[0];
  uint32_t dict = ReadLe32(payload.data() + 1);
  std::printf("payload: %zu bytes, LZMA lc %u lp %u pb %u, dictionary %u bytes\n", payload.size(),
              props % 9, props / 9 % 5, props / 45, dict);
  std::printf("BCJ2: main %u, call %u, jump %u, rc %u bytes; tarball %u bytes\n", header.main_size,
              header.call_size, header.jump_size, header.rc_size, header.output_size);
  std::string setup;
  for (const TarMember& member : members) {
    std::printf("%12llu  %s\n", static_cast<unsigned long long>(member.size), member.name.c_str());
    if (setup.empty() && IsSetupProgramName(member.name))
      setup = member.name;
  }
  if (setup.empty())
    std::printf("setup program: none (the stub will fail)\n");
  else
    std::printf("setup program: %s\n", setup.c_str());
  if (!walked)
    return Fail(path, "tarball damaged after the members listed: " + error);
  return 0;
}

}  // namespace orvia
