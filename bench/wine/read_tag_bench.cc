// Times the stub's ReadTag on a file: the first call (the file not yet mapped
// by this process) and the median and largest of the calls after it.
//   read_tag_bench FILE CALLS
// Prints "read_tag FIRST_MS MEDIAN_MS MAX_MS TAG_BYTES"; exit 1 when the file
// has no tag, so a missing tag cannot pass for a fast read.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "stub/tag/read_tag.h"

namespace {

double Milliseconds(LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(ticks) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const unsigned calls = argc == 3 ? static_cast<unsigned>(std::wcstoul(argv[2], nullptr, 10)) : 0;
  if (calls < 2) {
    std::fputs("usage: read_tag_bench FILE CALLS (CALLS >= 2)\n", stderr);
    return 2;
  }
  orvia::SystemWin32Api api;
  std::vector<double> times;
  size_t tag_bytes = 0;
  for (unsigned i = 0; i < calls; ++i) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    orvia::HeapBuffer<char> tag = orvia::ReadTag(api, argv[1]);
    QueryPerformanceCounter(&end);
    times.push_back(Milliseconds(end.QuadPart - start.QuadPart));
    if (!tag) {
      std::printf("error: no tag in %ls\n", argv[1]);
      return 1;
    }
    tag_bytes = std::strlen(tag.get());
  }
  const double first = times.front();
  std::vector<double> rest(times.begin() + 1, times.end());
  std::sort(rest.begin(), rest.end());
  std::printf("read_tag %.3f %.3f %.3f %lu\n", first, rest[rest.size() / 2], rest.back(),
              static_cast<unsigned long>(tag_bytes));
  return 0;
}
