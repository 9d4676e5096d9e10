// Helpers for host tests that run the tools as processes: a scratch
// directory, running a command with its output captured, small file access.
// Header-only so that test programs need no extra library.
#ifndef ORVIA_TESTS_SUPPORT_TOOL_TEST_SUPPORT_H_
#define ORVIA_TESTS_SUPPORT_TOOL_TEST_SUPPORT_H_

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace orvia {
namespace test_support {

// A fresh directory under the system temporary directory, removed with its
// contents when the owner goes out of scope.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvia-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
      path_ = pattern;
  }
  ~ScopedTempDir() {
    std::error_code ignored;
    if (!path_.empty())
      std::filesystem::remove_all(path_, ignored);
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;

  bool valid() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

inline std::string ShellQuote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) {
    if (c == '\'')
      quoted += "'\\''";
    else
      quoted += c;
  }
  return quoted + "'";
}

struct CommandResult {
  int status = -1;  // the exit status, or -1 when the command did not exit normally
  std::string out;
  std::string err;
};

// Runs `argv` through the shell with stdin from /dev/null and both outputs
// captured in files of `scratch`.
inline CommandResult RunCommand(const std::vector<std::string>& argv,
                                const ScopedTempDir& scratch) {
  std::string command;
  for (const std::string& arg : argv)
    command += ShellQuote(arg) + " ";
  std::string out_path = scratch / ".cmd-stdout";
  std::string err_path = scratch / ".cmd-stderr";
  command += "</dev/null >" + ShellQuote(out_path) + " 2>" + ShellQuote(err_path);
  CommandResult result;
  int raw = std::system(command.c_str());
  if (raw != -1 && WIFEXITED(raw))
    result.status = WEXITSTATUS(raw);
  result.out = ReadText(out_path);
  result.err = ReadText(err_path);
  return result;
}

// The names in `dir`, sorted.
inline std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Inputs under in/, the output alone in out/, so that a refused run can be
// seen to leave nothing there.
struct ToolWorkspace {
  ScopedTempDir dir;
  std::string in;
  std::string out_dir;
  std::string out;
  explicit ToolWorkspace(const std::string& output_name)
      : in(dir / "in"), out_dir(dir / "out"), out(dir / ("out/" + output_name)) {
    std::filesystem::create_directories(in);
    std::filesystem::create_directories(out_dir);
  }
  std::string File(const std::string& name, const std::vector<uint8_t>& data) const {
    std::string path = in + "/" + name;
    EXPECT_TRUE(WriteBytes(path, data)) << path;
    return path;
  }
};

// A refused run of `tool`: exit status 1, one line on stderr that starts
// with "TOOL: SUBJECT: " (no subject when empty) and holds `reason`, and
// nothing left in `out_dir`.
inline void ExpectRefusal(const CommandResult& run,
                          const std::string& tool,
                          const std::string& subject,
                          const std::string& reason,
                          const std::string& out_dir) {
  EXPECT_EQ(run.status, 1);
  const std::string prefix = tool + ": " + (subject.empty() ? "" : subject + ": ");
  EXPECT_EQ(run.err.rfind(prefix, 0), 0u) << run.err;
  EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(Entries(out_dir), std::vector<std::string>()) << "something was left at OUT";
}

}  // namespace test_support
}  // namespace orvia

#endif  // ORVIA_TESTS_SUPPORT_TOOL_TEST_SUPPORT_H_
