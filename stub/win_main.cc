// The executable's entry: a shim over StubMain with the system's own Win32.
#include <windows.h>

#include "stub/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  orvia::SystemWin32Api api;
  return static_cast<int>(orvia::StubMain(api, instance));
}
