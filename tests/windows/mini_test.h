// A small test framework with the GoogleTest names the Windows-side tests
// use (TEST, TEST_F, EXPECT_*, ASSERT_*, SCOPED_TRACE, --gtest_filter).
//
// Why not GoogleTest itself: under Wine in the emulated machine that runs
// these tests where 32-bit code cannot run natively, any program that uses
// libstdc++'s streams crashes in their start-up (seen with a five-line
// std::ostringstream program). This framework formats with snprintf only.
#ifndef ORVIA_TESTS_WINDOWS_MINI_TEST_H_
#define ORVIA_TESTS_WINDOWS_MINI_TEST_H_

// Comparisons instantiated here mix signed and unsigned types as the tests
// give them, as GoogleTest's own do.
#pragma GCC system_header

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace testing {

// Text for a value in a failure message.
std::string Describe(const std::string& value);
std::string Describe(const std::wstring& value);
std::string Describe(const char* value);
std::string Describe(const wchar_t* value);
std::string Describe(bool value);
std::string Describe(const void* value);
inline std::string Describe(std::nullptr_t) {
  return "nullptr";
}
template <typename T>
typename std::enable_if<std::is_integral<T>::value && !std::is_same<T, bool>::value,
                        std::string>::type
Describe(T value) {
  char text[48];
  if (std::is_signed<T>::value)
    std::snprintf(text, sizeof(text), "%lld (0x%llX)", static_cast<long long>(value),
                  static_cast<unsigned long long>(value));
  else
    std::snprintf(text, sizeof(text), "%llu (0x%llX)", static_cast<unsigned long long>(value),
                  static_cast<unsigned long long>(value));
  return text;
}
template <typename T>
typename std::enable_if<std::is_enum<T>::value, std::string>::type Describe(T value) {
  return Describe(static_cast<long long>(value));
}
template <typename T>
std::string Describe(T* value) {
  return Describe(static_cast<const void*>(value));
}
template <typename A, typename B>
std::string Describe(const std::pair<A, B>& value) {
  return "(" + Describe(value.first) + ", " + Describe(value.second) + ")";
}
template <typename Container>
std::string DescribeAll(const Container& values) {
  std::string text = "{";
  for (const auto& value : values)
    text += (text.size() > 1 ? ", " : "") + Describe(value);
  return text + "}";
}
template <typename T>
std::string Describe(const std::vector<T>& values) {
  return DescribeAll(values);
}
template <typename T>
std::string Describe(const std::set<T>& values) {
  return DescribeAll(values);
}
// Types with a c_str() of wide text (the stub's WideString).
template <typename T>
auto Describe(const T& value) -> decltype(value.c_str(), std::string()) {
  return Describe(value.c_str());
}

// Text streamed after an assertion or into SCOPED_TRACE.
class Message {
 public:
  Message() = default;
  template <typename T>
  Message& operator<<(const T& value) {
    text_ += Plain(value);
    return *this;
  }
  const std::string& str() const { return text_; }

 private:
  static std::string Plain(const std::string& value) { return value; }
  static std::string Plain(const char* value) { return value ? value : "(null)"; }
  static std::string Plain(char value) { return std::string(1, value); }
  static std::string Plain(const Message& value) { return value.str(); }
  template <typename T>
  static std::string Plain(const T& value) {
    return Describe(value);
  }
  std::string text_;
};

class Test {
 public:
  virtual ~Test() = default;
  virtual void SetUp() {}
  virtual void TearDown() {}
  virtual void TestBody() = 0;
};

namespace internal {

using Factory = Test* (*)();
bool Register(const char* suite, const char* name, Factory factory);

// Records a failure when destroyed, with whatever was streamed into it.
class Failure {
 public:
  Failure(const char* file, int line, std::string what, bool fatal);
  ~Failure();
  template <typename T>
  Failure& operator<<(const T& value) {
    message_ << value;
    return *this;
  }

 private:
  const char* file_;
  int line_;
  std::string what_;
  Message message_;
};

// Marks the running test skipped when destroyed.
class Skip {
 public:
  ~Skip();
  template <typename T>
  Skip& operator<<(const T& value) {
    message_ << value;
    return *this;
  }

 private:
  Message message_;
};

class ScopedTrace {
 public:
  ScopedTrace(const char* file, int line, const Message& message);
  template <typename T>
  ScopedTrace(const char* file, int line, const T& value)
      : ScopedTrace(file, line, Message() << value) {}
  ~ScopedTrace();
};

template <typename A, typename B>
std::string CompareFailure(const char* a_text,
                           const char* b_text,
                           const char* op,
                           const A& a,
                           const B& b) {
  return std::string("expected ") + a_text + " " + op + " " + b_text +
         "\n    left:  " + Describe(a) + "\n    right: " + Describe(b);
}

struct CheckResult {
  bool ok;
  std::string what;
  explicit operator bool() const { return ok; }
};

// Evaluates each operand once, also when the check fails.
template <typename A, typename B, typename Op>
CheckResult Compare(const char* a_text,
                    const char* b_text,
                    const char* op_text,
                    const A& a,
                    const B& b,
                    Op op) {
  if (op(a, b))
    return {true, std::string()};
  return {false, CompareFailure(a_text, b_text, op_text, a, b)};
}

bool WideEqual(const wchar_t* a, const wchar_t* b);
bool NarrowEqual(const char* a, const char* b);
inline bool StringsEqual(const wchar_t* a, const wchar_t* b) {
  return WideEqual(a, b);
}
inline bool StringsEqual(const char* a, const char* b) {
  return NarrowEqual(a, b);
}

// Lets "if (...) ; else Failure(...) << ..." read as one statement.
struct Voidify {
  void operator&(const Failure&) {}
  void operator&(const Skip&) {}
};

}  // namespace internal

void InitGoogleTest(int* argc, char** argv);
int RunAllTests();

}  // namespace testing

#define RUN_ALL_TESTS() ::testing::RunAllTests()

#define MINI_TEST_CLASS(suite, name) suite##_##name##_Test

#define MINI_TEST(suite, name, base)                                                         \
  class MINI_TEST_CLASS(suite, name) : public base {                                         \
   public:                                                                                   \
    void TestBody() override;                                                                \
  };                                                                                         \
  static const bool suite##_##name##_registered = ::testing::internal::Register(             \
      #suite, #name, []() -> ::testing::Test* { return new MINI_TEST_CLASS(suite, name); }); \
  void MINI_TEST_CLASS(suite, name)::TestBody()

#define TEST(suite, name) MINI_TEST(suite, name, ::testing::Test)
#define TEST_F(fixture, name) MINI_TEST(fixture, name, fixture)

// An assertion: nothing happens when `ok`; otherwise a failure is recorded
// and, for ASSERT_*, the test body returns.
#define MINI_CHECK(ok, what, fatal, on_fail) \
  if (ok)                                    \
    ;                                        \
  else                                       \
    on_fail ::testing::internal::Voidify() & \
        ::testing::internal::Failure(__FILE__, __LINE__, what, fatal)

#define MINI_COMPARE(a, b, op, fatal, on_fail)                                           \
  if (const ::testing::internal::CheckResult mini_result = ::testing::internal::Compare( \
          #a, #b, #op, (a), (b), [](const auto& x, const auto& y) { return x op y; }))   \
    ;                                                                                    \
  else                                                                                   \
    on_fail ::testing::internal::Voidify() &                                             \
        ::testing::internal::Failure(__FILE__, __LINE__, mini_result.what, fatal)

#define EXPECT_EQ(a, b) MINI_COMPARE(a, b, ==, false, )
#define EXPECT_NE(a, b) MINI_COMPARE(a, b, !=, false, )
#define ASSERT_EQ(a, b) MINI_COMPARE(a, b, ==, true, return )
#define ASSERT_NE(a, b) MINI_COMPARE(a, b, !=, true, return )
#define EXPECT_TRUE(c) MINI_CHECK(static_cast<bool>(c), "expected true: " #c, false, )
#define EXPECT_FALSE(c) MINI_CHECK(!(c), "expected false: " #c, false, )
#define ASSERT_TRUE(c) MINI_CHECK(static_cast<bool>(c), "expected true: " #c, true, return )
#define ASSERT_FALSE(c) MINI_CHECK(!(c), "expected false: " #c, true, return )
#define EXPECT_STREQ(a, b)                                                                       \
  if (const ::testing::internal::CheckResult mini_result = ::testing::internal::Compare(         \
          #a, #b, "equals", (a), (b),                                                            \
          [](const auto& x, const auto& y) { return ::testing::internal::StringsEqual(x, y); })) \
    ;                                                                                            \
  else                                                                                           \
    ::testing::internal::Voidify() &                                                             \
        ::testing::internal::Failure(__FILE__, __LINE__, mini_result.what, false)
#define ADD_FAILURE() ::testing::internal::Failure(__FILE__, __LINE__, "failure", false)
#define GTEST_SKIP() return ::testing::internal::Voidify() & ::testing::internal::Skip()

#define MINI_CONCAT2(a, b) a##b
#define MINI_CONCAT(a, b) MINI_CONCAT2(a, b)
#define SCOPED_TRACE(value) \
  ::testing::internal::ScopedTrace MINI_CONCAT(mini_trace_, __LINE__)(__FILE__, __LINE__, value)

#endif  // ORVIA_TESTS_WINDOWS_MINI_TEST_H_
