#include "tools/pack/pack_inputs.h"

#include <cstdio>
#include <set>

#include "core/payload/payload_format.h"
#include "core/payload/tar_header.h"
#include "tools/common/file_util.h"
#include "tools/common/tool_error.h"
#include "tools/pack/decode_budget.h"
#include "tools/pack/tar_list.h"
#include "tools/pack/tar_writer.h"

namespace orvia {
namespace {

int Fail(const std::string& subject, const std::string& reason) {
  return PrintToolError("orvia-pack", subject, reason);
}

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The members' setup program, or the empty string.
std::string ChooseSetupProgram(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (IsSetupProgramName(name))
      return name;
  }
  return "";
}

bool ReportSetupProgram(const std::vector<std::string>& names, bool allow_no_setup, int* status) {
  std::string setup = ChooseSetupProgram(names);
  if (setup.empty() && !allow_no_setup) {
    *status = Fail("",
                   "no setup program: no member name ends in \".exe\" "
                   "(--allow-no-setup packs anyway)");
    return false;
  }
  if (setup.empty())
    std::fprintf(stderr, "orvia-pack: no setup program; the installer will not run anything\n");
  else
    std::fprintf(stderr, "orvia-pack: setup program: %s\n", setup.c_str());
  return true;
}

}  // namespace

bool IsSetupProgramName(const std::string& member_name) {
  // The stub takes the name after the path's last backslash, widens it and
  // lowers it; for the letters of ".exe" that is ASCII lowering.
  size_t slash = member_name.find_last_of('\\');
  std::string file =
      LowerAscii(slash == std::string::npos ? member_name : member_name.substr(slash + 1));
  std::wstring wide(file.begin(), file.end());
  return IsSetupProgramName(wide.c_str(), wide.size());
}

bool BuildTarball(const PackOptions& options, std::vector<uint8_t>* tarball, int* status) {
  struct Input {
    std::string path;
    std::string name;
    uint64_t size;
  };
  std::vector<Input> inputs;
  std::set<std::string> names;
  uint64_t total = 0;
  for (const std::string& path : options.files) {
    FileInfo info;
    std::string error;
    if (!StatFile(path, &info, &error)) {
      *status = Fail(path, error);
      return false;
    }
    if (info.is_directory) {
      *status = Fail(path, "is a directory");
      return false;
    }
    if (!info.is_regular) {
      *status = Fail(path, "not a regular file");
      return false;
    }
    std::string name = BaseName(path);
    std::string bad_name = CheckTarMemberName(name);
    if (!bad_name.empty()) {
      *status = Fail(path, bad_name);
      return false;
    }
    if (!names.insert(name).second) {
      *status = Fail(path, "a second file named " + name);
      return false;
    }
    if (info.size > kTarMaxMemberSize) {
      *status = Fail(path, "member of 2 GiB or more");
      return false;
    }
    if (!CheckReadable(path, &error)) {
      *status = Fail(path, error);
      return false;
    }
    total += kTarBlockSize + (info.size + kTarBlockSize - 1) / kTarBlockSize * kTarBlockSize;
    if ((total + 2 * kTarBlockSize + kTarRecordSize - 1) / kTarRecordSize * kTarRecordSize >
        kTarMaxArchiveSize) {
      *status = Fail(path, "tarball of 2 GiB or more");
      return false;
    }
    inputs.push_back({path, name, info.size});
  }
  // Before anything is read: even a payload of no bytes could not be decoded.
  std::string too_large;
  if (!CheckStubCanDecode(0, total + kBcj2HeaderSize, total, &too_large)) {
    *status = Fail("", too_large);
    return false;
  }
  std::vector<std::string> member_names;
  for (const Input& input : inputs)
    member_names.push_back(input.name);
  if (!ReportSetupProgram(member_names, options.allow_no_setup, status))
    return false;

  TarWriter writer;
  for (const Input& input : inputs) {
    std::string error;
    uint8_t* place = writer.AddMember(input.name, input.size, &error);
    if (place == nullptr || !ReadFileInto(input.path, place, input.size, &error)) {
      *status = Fail(input.path, error);
      return false;
    }
  }
  *tarball = writer.Finish();
  return true;
}

bool ReadTarball(const PackOptions& options, std::vector<uint8_t>* tarball, int* status) {
  std::string error;
  if (!ReadWholeFileLimited(options.tar, kTarMaxArchiveSize, tarball, &error)) {
    if (error.rfind("larger than", 0) == 0)
      error = "tarball of 2 GiB or more";
    *status = Fail(options.tar, error);
    return false;
  }
  // The archive goes in unchanged, damaged ones included (tests need those);
  // what the stub would trip over is only pointed out.
  std::vector<TarMember> members;
  if (!ListTarMembers(tarball->data(), tarball->size(), &members, &error)) {
    std::fprintf(stderr, "orvia-pack: %s: warning: the stub will fail on this tarball: %s\n",
                 options.tar.c_str(), error.c_str());
  }
  std::vector<std::string> names;
  for (const TarMember& member : members)
    names.push_back(member.name);
  return ReportSetupProgram(names, options.allow_no_setup, status);
}

}  // namespace orvia
