#include "stub/platform/win32_api.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace orvia {

LPSTR SystemWin32Api::GetCommandLineA() {
  return ::GetCommandLineA();
}

BOOL SystemWin32Api::IsDBCSLeadByte(BYTE test_char) {
  return ::IsDBCSLeadByte(test_char);
}

HMODULE SystemWin32Api::GetModuleHandleW(LPCWSTR module_name) {
  return ::GetModuleHandleW(module_name);
}

FARPROC SystemWin32Api::GetProcAddress(HMODULE module, LPCSTR proc_name) {
  return ::GetProcAddress(module, proc_name);
}

ULONGLONG SystemWin32Api::VerSetConditionMask(ULONGLONG condition_mask,
                                              DWORD type_mask,
                                              BYTE condition) {
  return ::VerSetConditionMask(condition_mask, type_mask, condition);
}

BOOL SystemWin32Api::VerifyVersionInfoW(LPOSVERSIONINFOEXW version_info,
                                        DWORD type_mask,
                                        DWORDLONG condition_mask) {
  return ::VerifyVersionInfoW(version_info, type_mask, condition_mask);
}

HRESULT SystemWin32Api::CoInitializeEx(LPVOID reserved, DWORD co_init) {
  return ::CoInitializeEx(reserved, co_init);
}

void SystemWin32Api::CoUninitialize() {
  ::CoUninitialize();
}

HRSRC SystemWin32Api::FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) {
  return ::FindResourceExW(module, type, name, language);
}

HRSRC SystemWin32Api::FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  return ::FindResourceW(module, name, type);
}

HGLOBAL SystemWin32Api::LoadResource(HMODULE module, HRSRC resource) {
  return ::LoadResource(module, resource);
}

LPVOID SystemWin32Api::LockResource(HGLOBAL resource_data) {
  return ::LockResource(resource_data);
}

DWORD SystemWin32Api::SizeofResource(HMODULE module, HRSRC resource) {
  return ::SizeofResource(module, resource);
}

DWORD SystemWin32Api::FormatMessageW(DWORD flags,
                                     LPCVOID source,
                                     DWORD message_id,
                                     DWORD language_id,
                                     LPWSTR buffer,
                                     DWORD size,
                                     va_list* arguments) {
  return ::FormatMessageW(flags, source, message_id, language_id, buffer, size, arguments);
}

HLOCAL SystemWin32Api::LocalFree(HLOCAL memory) {
  return ::LocalFree(memory);
}

DWORD SystemWin32Api::GetLastError() {
  return ::GetLastError();
}

void SystemWin32Api::SetLastError(DWORD error) {
  ::SetLastError(error);
}

int SystemWin32Api::MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  return ::MessageBoxW(owner, text, caption, type);
}

int SystemWin32Api::MultiByteToWideChar(UINT code_page,
                                        DWORD flags,
                                        LPCCH multi_byte,
                                        int multi_byte_length,
                                        LPWSTR wide,
                                        int wide_length) {
  return ::MultiByteToWideChar(code_page, flags, multi_byte, multi_byte_length, wide, wide_length);
}

int SystemWin32Api::lstrcmpiW(LPCWSTR string1, LPCWSTR string2) {
  return ::lstrcmpiW(string1, string2);
}

DWORD SystemWin32Api::CharLowerBuffW(LPWSTR text, DWORD length) {
  return ::CharLowerBuffW(text, length);
}

BOOL SystemWin32Api::IsUserAnAdmin() {
  return ::IsUserAnAdmin();
}

HRESULT SystemWin32Api::SHGetFolderPathW(HWND owner,
                                         int folder,
                                         HANDLE token,
                                         DWORD flags,
                                         LPWSTR path) {
  return ::SHGetFolderPathW(owner, folder, token, flags, path);
}

DWORD SystemWin32Api::GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  return ::GetEnvironmentVariableW(name, buffer, size);
}

DWORD SystemWin32Api::GetTempPathW(DWORD buffer_length, LPWSTR buffer) {
  return ::GetTempPathW(buffer_length, buffer);
}

UINT SystemWin32Api::GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR temp_file) {
  return ::GetTempFileNameW(path, prefix, unique, temp_file);
}

BOOL SystemWin32Api::PathAppendW(LPWSTR path, LPCWSTR more) {
  return ::PathAppendW(path, more);
}

BOOL SystemWin32Api::PathCanonicalizeW(LPWSTR dest, LPCWSTR source) {
  return ::PathCanonicalizeW(dest, source);
}

void SystemWin32Api::PathQuoteSpacesW(LPWSTR path) {
  ::PathQuoteSpacesW(path);
}

DWORD SystemWin32Api::GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) {
  return ::GetModuleFileNameW(module, file_name, size);
}

BOOL SystemWin32Api::GetFileAttributesExW(LPCWSTR file_name,
                                          GET_FILEEX_INFO_LEVELS info_level,
                                          LPVOID file_information) {
  return ::GetFileAttributesExW(file_name, info_level, file_information);
}

BOOL SystemWin32Api::CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  return ::CreateDirectoryW(path, security);
}

BOOL SystemWin32Api::RemoveDirectoryW(LPCWSTR path) {
  return ::RemoveDirectoryW(path);
}

BOOL SystemWin32Api::DeleteFileW(LPCWSTR file_name) {
  return ::DeleteFileW(file_name);
}

BOOL SystemWin32Api::CopyFileW(LPCWSTR existing, LPCWSTR new_file, BOOL fail_if_exists) {
  return ::CopyFileW(existing, new_file, fail_if_exists);
}

HANDLE SystemWin32Api::CreateFileW(LPCWSTR file_name,
                                   DWORD access,
                                   DWORD share_mode,
                                   LPSECURITY_ATTRIBUTES security,
                                   DWORD creation,
                                   DWORD flags,
                                   HANDLE template_file) {
  return ::CreateFileW(file_name, access, share_mode, security, creation, flags, template_file);
}

BOOL SystemWin32Api::ReadFile(HANDLE file,
                              LPVOID buffer,
                              DWORD to_read,
                              LPDWORD read,
                              LPOVERLAPPED overlapped) {
  return ::ReadFile(file, buffer, to_read, read, overlapped);
}

BOOL SystemWin32Api::WriteFile(HANDLE file,
                               LPCVOID buffer,
                               DWORD to_write,
                               LPDWORD written,
                               LPOVERLAPPED overlapped) {
  return ::WriteFile(file, buffer, to_write, written, overlapped);
}

DWORD SystemWin32Api::SetFilePointer(HANDLE file,
                                     LONG distance,
                                     PLONG distance_high,
                                     DWORD move_method) {
  return ::SetFilePointer(file, distance, distance_high, move_method);
}

BOOL SystemWin32Api::SetFilePointerEx(HANDLE file,
                                      LARGE_INTEGER distance,
                                      PLARGE_INTEGER new_position,
                                      DWORD move_method) {
  return ::SetFilePointerEx(file, distance, new_position, move_method);
}

BOOL SystemWin32Api::CloseHandle(HANDLE object) {
  return ::CloseHandle(object);
}

HANDLE SystemWin32Api::CreateFileMappingW(HANDLE file,
                                          LPSECURITY_ATTRIBUTES security,
                                          DWORD protect,
                                          DWORD maximum_size_high,
                                          DWORD maximum_size_low,
                                          LPCWSTR name) {
  return ::CreateFileMappingW(file, security, protect, maximum_size_high, maximum_size_low, name);
}

LPVOID SystemWin32Api::MapViewOfFile(HANDLE mapping,
                                     DWORD desired_access,
                                     DWORD offset_high,
                                     DWORD offset_low,
                                     SIZE_T bytes) {
  return ::MapViewOfFile(mapping, desired_access, offset_high, offset_low, bytes);
}

SIZE_T SystemWin32Api::VirtualQuery(LPCVOID address,
                                    PMEMORY_BASIC_INFORMATION buffer,
                                    SIZE_T length) {
  return ::VirtualQuery(address, buffer, length);
}

BOOL SystemWin32Api::UnmapViewOfFile(LPCVOID base) {
  return ::UnmapViewOfFile(base);
}

void SystemWin32Api::GetStartupInfoW(LPSTARTUPINFOW startup_info) {
  ::GetStartupInfoW(startup_info);
}

BOOL SystemWin32Api::CreateProcessW(LPCWSTR application_name,
                                    LPWSTR command_line,
                                    LPSECURITY_ATTRIBUTES process_attributes,
                                    LPSECURITY_ATTRIBUTES thread_attributes,
                                    BOOL inherit_handles,
                                    DWORD creation_flags,
                                    LPVOID environment,
                                    LPCWSTR current_directory,
                                    LPSTARTUPINFOW startup_info,
                                    LPPROCESS_INFORMATION process_information) {
  return ::CreateProcessW(application_name, command_line, process_attributes, thread_attributes,
                          inherit_handles, creation_flags, environment, current_directory,
                          startup_info, process_information);
}

DWORD SystemWin32Api::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

BOOL SystemWin32Api::GetExitCodeProcess(HANDLE process, LPDWORD exit_code) {
  return ::GetExitCodeProcess(process, exit_code);
}

}  // namespace orvia
