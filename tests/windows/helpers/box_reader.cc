// Finds the first message box on the display, writes its caption and text to
// a file (UTF-16, one per line) and presses OK.
//   box_reader OUTPUT_FILE [TIMEOUT_MS]
#include <windows.h>

#include <cstdlib>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2)
    return 2;
  DWORD timeout = argc > 2 ? static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)) : 20000;
  HWND box = nullptr;
  for (DWORD waited = 0; !box && waited < timeout; waited += 50) {
    box = FindWindowW(L"#32770", nullptr);
    if (!box)
      Sleep(50);
  }
  if (!box)
    return 3;
  // The window can be found before its caption and text are set: wait for both.
  wchar_t caption[512] = {};
  wchar_t text[2048] = {};
  for (DWORD waited = 0; waited < timeout; waited += 50) {
    if (GetWindowTextW(box, caption, 512) > 0 && GetDlgItemTextW(box, 0xFFFF, text, 2048) > 0)
      break;
    Sleep(50);
  }
  HANDLE out = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE)
    return 4;
  DWORD written = 0;
  WriteFile(out, caption, static_cast<DWORD>(wcslen(caption) * 2), &written, nullptr);
  WriteFile(out, L"\n", 2, &written, nullptr);
  WriteFile(out, text, static_cast<DWORD>(wcslen(text) * 2), &written, nullptr);
  CloseHandle(out);
  SendMessageW(box, WM_COMMAND, IDOK, 0);
  return 0;
}
