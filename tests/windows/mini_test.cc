#include "mini_test.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace testing {
namespace {

struct Registered {
  std::string full_name;
  internal::Factory factory;
};

std::vector<Registered>& Registry() {
  static std::vector<Registered> tests;
  return tests;
}

std::vector<std::string> g_traces;
std::string g_filter = "*";
bool g_failed = false;
bool g_fatal = false;
bool g_skipped = false;

// GoogleTest's filter: "POSITIVE[-NEGATIVE]", each a ':' list of patterns
// with '*' and '?'.
bool Matches(const char* pattern, const char* name) {
  if (!*pattern)
    return !*name;
  if (*pattern == '*')
    return Matches(pattern + 1, name) || (*name && Matches(pattern, name + 1));
  return *name && (*pattern == '?' || *pattern == *name) && Matches(pattern + 1, name + 1);
}

bool MatchesList(const std::string& list, const std::string& name) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    std::string pattern =
        list.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!pattern.empty() && Matches(pattern.c_str(), name.c_str()))
      return true;
    if (end == std::string::npos)
      break;
    start = end + 1;
  }
  return false;
}

bool Selected(const std::string& name) {
  size_t dash = g_filter.find('-');
  std::string positive = g_filter.substr(0, dash);
  if (positive.empty())
    positive = "*";
  if (!MatchesList(positive, name))
    return false;
  return dash == std::string::npos || !MatchesList(g_filter.substr(dash + 1), name);
}

std::string Utf8(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1)
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

std::string Describe(const std::string& value) {
  return "\"" + value + "\"";
}
std::string Describe(const std::wstring& value) {
  return "L\"" + Utf8(value.c_str()) + "\"";
}
std::string Describe(const char* value) {
  return value ? Describe(std::string(value)) : "(null)";
}
std::string Describe(const wchar_t* value) {
  return value ? Describe(std::wstring(value)) : "(null)";
}
std::string Describe(bool value) {
  return value ? "true" : "false";
}
std::string Describe(const void* value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%p", value);
  return text;
}

namespace internal {

bool Register(const char* suite, const char* name, Factory factory) {
  Registry().push_back({std::string(suite) + "." + name, factory});
  return true;
}

Failure::Failure(const char* file, int line, std::string what, bool fatal)
    : file_(file), line_(line), what_(std::move(what)) {
  g_failed = true;
  g_fatal = g_fatal || fatal;
}

Failure::~Failure() {
  std::printf("%s:%d: Failure\n  %s\n", file_, line_, what_.c_str());
  if (!message_.str().empty())
    std::printf("  %s\n", message_.str().c_str());
  for (size_t i = g_traces.size(); i-- > 0;)
    std::printf("  with %s\n", g_traces[i].c_str());
  std::fflush(stdout);
}

Skip::~Skip() {
  g_skipped = true;
  std::printf("  skipped: %s\n", message_.str().c_str());
}

ScopedTrace::ScopedTrace(const char* file, int line, const Message& message) {
  char where[32];
  std::snprintf(where, sizeof(where), ":%d: ", line);
  g_traces.push_back(std::string(file) + where + message.str());
}

ScopedTrace::~ScopedTrace() {
  g_traces.pop_back();
}

bool WideEqual(const wchar_t* a, const wchar_t* b) {
  return (!a || !b) ? a == b : std::wcscmp(a, b) == 0;
}

bool NarrowEqual(const char* a, const char* b) {
  return (!a || !b) ? a == b : std::strcmp(a, b) == 0;
}

}  // namespace internal

void InitGoogleTest(int* argc, char** argv) {
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp(argv[i], "--gtest_filter=", 15) == 0)
      g_filter = argv[i] + 15;
  }
}

int RunAllTests() {
  int passed = 0, failed = 0, skipped = 0;
  std::vector<std::string> failures;
  for (const Registered& test : Registry()) {
    if (!Selected(test.full_name))
      continue;
    std::printf("[ RUN      ] %s\n", test.full_name.c_str());
    std::fflush(stdout);
    g_failed = g_fatal = g_skipped = false;
    DWORD start = GetTickCount();
    Test* instance = test.factory();
    instance->SetUp();
    if (!g_fatal)
      instance->TestBody();
    instance->TearDown();
    delete instance;
    const char* verdict = g_failed ? "  FAILED  " : g_skipped ? " SKIPPED  " : "       OK ";
    std::printf("[%s] %s (%lu ms)\n", verdict, test.full_name.c_str(), GetTickCount() - start);
    std::fflush(stdout);
    if (g_failed) {
      ++failed;
      failures.push_back(test.full_name);
    } else if (g_skipped) {
      ++skipped;
    } else {
      ++passed;
    }
  }
  for (const std::string& name : failures)
    std::printf("FAILED: %s\n", name.c_str());
  std::printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
  std::fflush(stdout);
  return failed == 0 && passed + skipped > 0 ? 0 : 1;
}

}  // namespace testing
