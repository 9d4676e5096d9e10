// The stub's one seam to Win32. Each operation is named and typed as the
// platform spells the call; SystemWin32Api forwards to the system. Tests
// derive from SystemWin32Api and replace single results.
#ifndef ORVIA_STUB_PLATFORM_WIN32_API_H_
#define ORVIA_STUB_PLATFORM_WIN32_API_H_

#include <windows.h>

namespace orvia {

class Win32Api {
 public:
  virtual ~Win32Api() = default;

  // Start-up.
  virtual LPSTR GetCommandLineA() = 0;
  virtual BOOL IsDBCSLeadByte(BYTE test_char) = 0;
  virtual HMODULE GetModuleHandleW(LPCWSTR module_name) = 0;
  virtual FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name) = 0;
  virtual ULONGLONG VerSetConditionMask(ULONGLONG condition_mask,
                                        DWORD type_mask,
                                        BYTE condition) = 0;
  virtual BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW version_info,
                                  DWORD type_mask,
                                  DWORDLONG condition_mask) = 0;
  virtual HRESULT CoInitializeEx(LPVOID reserved, DWORD co_init) = 0;
  virtual void CoUninitialize() = 0;

  // Resources, formatting and the failure box.
  virtual HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) = 0;
  virtual HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) = 0;
  virtual HGLOBAL LoadResource(HMODULE module, HRSRC resource) = 0;
  virtual LPVOID LockResource(HGLOBAL resource_data) = 0;
  virtual DWORD SizeofResource(HMODULE module, HRSRC resource) = 0;
  virtual DWORD FormatMessageW(DWORD flags,
                               LPCVOID source,
                               DWORD message_id,
                               DWORD language_id,
                               LPWSTR buffer,
                               DWORD size,
                               va_list* arguments) = 0;
  virtual HLOCAL LocalFree(HLOCAL memory) = 0;
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD error) = 0;
  virtual int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) = 0;

  // Text.
  virtual int MultiByteToWideChar(UINT code_page,
                                  DWORD flags,
                                  LPCCH multi_byte,
                                  int multi_byte_length,
                                  LPWSTR wide,
                                  int wide_length) = 0;
  virtual int lstrcmpiW(LPCWSTR string1, LPCWSTR string2) = 0;
  virtual DWORD CharLowerBuffW(LPWSTR text, DWORD length) = 0;

  // Folders, environment and names.
  virtual BOOL IsUserAnAdmin() = 0;
  virtual HRESULT SHGetFolderPathW(HWND owner,
                                   int folder,
                                   HANDLE token,
                                   DWORD flags,
                                   LPWSTR path) = 0;
  virtual DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) = 0;
  virtual DWORD GetTempPathW(DWORD buffer_length, LPWSTR buffer) = 0;
  virtual UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR temp_file) = 0;
  virtual BOOL PathAppendW(LPWSTR path, LPCWSTR more) = 0;
  virtual BOOL PathCanonicalizeW(LPWSTR dest, LPCWSTR source) = 0;
  virtual void PathQuoteSpacesW(LPWSTR path) = 0;
  virtual DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) = 0;

  // Files and directories.
  virtual BOOL GetFileAttributesExW(LPCWSTR file_name,
                                    GET_FILEEX_INFO_LEVELS info_level,
                                    LPVOID file_information) = 0;
  virtual BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) = 0;
  virtual BOOL RemoveDirectoryW(LPCWSTR path) = 0;
  virtual BOOL DeleteFileW(LPCWSTR file_name) = 0;
  virtual BOOL CopyFileW(LPCWSTR existing, LPCWSTR new_file, BOOL fail_if_exists) = 0;
  virtual HANDLE CreateFileW(LPCWSTR file_name,
                             DWORD access,
                             DWORD share_mode,
                             LPSECURITY_ATTRIBUTES security,
                             DWORD creation,
                             DWORD flags,
                             HANDLE template_file) = 0;
  virtual BOOL ReadFile(HANDLE file,
                        LPVOID buffer,
                        DWORD to_read,
                        LPDWORD read,
                        LPOVERLAPPED overlapped) = 0;
  virtual BOOL WriteFile(HANDLE file,
                         LPCVOID buffer,
                         DWORD to_write,
                         LPDWORD written,
                         LPOVERLAPPED overlapped) = 0;
  virtual DWORD SetFilePointer(HANDLE file,
                               LONG distance,
                               PLONG distance_high,
                               DWORD move_method) = 0;
  virtual BOOL SetFilePointerEx(HANDLE file,
                                LARGE_INTEGER distance,
                                PLARGE_INTEGER new_position,
                                DWORD move_method) = 0;
  virtual BOOL CloseHandle(HANDLE object) = 0;

  // Mapping the stub's own file.
  virtual HANDLE CreateFileMappingW(HANDLE file,
                                    LPSECURITY_ATTRIBUTES security,
                                    DWORD protect,
                                    DWORD maximum_size_high,
                                    DWORD maximum_size_low,
                                    LPCWSTR name) = 0;
  virtual LPVOID MapViewOfFile(HANDLE mapping,
                               DWORD desired_access,
                               DWORD offset_high,
                               DWORD offset_low,
                               SIZE_T bytes) = 0;
  virtual SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) = 0;
  virtual BOOL UnmapViewOfFile(LPCVOID base) = 0;

  // The setup program.
  virtual void GetStartupInfoW(LPSTARTUPINFOW startup_info) = 0;
  virtual BOOL CreateProcessW(LPCWSTR application_name,
                              LPWSTR command_line,
                              LPSECURITY_ATTRIBUTES process_attributes,
                              LPSECURITY_ATTRIBUTES thread_attributes,
                              BOOL inherit_handles,
                              DWORD creation_flags,
                              LPVOID environment,
                              LPCWSTR current_directory,
                              LPSTARTUPINFOW startup_info,
                              LPPROCESS_INFORMATION process_information) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) = 0;
};

// Forwards every operation to the system.
class SystemWin32Api : public Win32Api {
 public:
  LPSTR GetCommandLineA() override;
  BOOL IsDBCSLeadByte(BYTE test_char) override;
  HMODULE GetModuleHandleW(LPCWSTR module_name) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR proc_name) override;
  ULONGLONG VerSetConditionMask(ULONGLONG condition_mask, DWORD type_mask, BYTE condition) override;
  BOOL VerifyVersionInfoW(LPOSVERSIONINFOEXW version_info,
                          DWORD type_mask,
                          DWORDLONG condition_mask) override;
  HRESULT CoInitializeEx(LPVOID reserved, DWORD co_init) override;
  void CoUninitialize() override;
  HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language) override;
  HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) override;
  HGLOBAL LoadResource(HMODULE module, HRSRC resource) override;
  LPVOID LockResource(HGLOBAL resource_data) override;
  DWORD SizeofResource(HMODULE module, HRSRC resource) override;
  DWORD FormatMessageW(DWORD flags,
                       LPCVOID source,
                       DWORD message_id,
                       DWORD language_id,
                       LPWSTR buffer,
                       DWORD size,
                       va_list* arguments) override;
  HLOCAL LocalFree(HLOCAL memory) override;
  DWORD GetLastError() override;
  void SetLastError(DWORD error) override;
  int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) override;
  int MultiByteToWideChar(UINT code_page,
                          DWORD flags,
                          LPCCH multi_byte,
                          int multi_byte_length,
                          LPWSTR wide,
                          int wide_length) override;
  int lstrcmpiW(LPCWSTR string1, LPCWSTR string2) override;
  DWORD CharLowerBuffW(LPWSTR text, DWORD length) override;
  BOOL IsUserAnAdmin() override;
  HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path) override;
  DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) override;
  DWORD GetTempPathW(DWORD buffer_length, LPWSTR buffer) override;
  UINT GetTempFileNameW(LPCWSTR path, LPCWSTR prefix, UINT unique, LPWSTR temp_file) override;
  BOOL PathAppendW(LPWSTR path, LPCWSTR more) override;
  BOOL PathCanonicalizeW(LPWSTR dest, LPCWSTR source) override;
  void PathQuoteSpacesW(LPWSTR path) override;
  DWORD GetModuleFileNameW(HMODULE module, LPWSTR file_name, DWORD size) override;
  BOOL GetFileAttributesExW(LPCWSTR file_name,
                            GET_FILEEX_INFO_LEVELS info_level,
                            LPVOID file_information) override;
  BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) override;
  BOOL RemoveDirectoryW(LPCWSTR path) override;
  BOOL DeleteFileW(LPCWSTR file_name) override;
  BOOL CopyFileW(LPCWSTR existing, LPCWSTR new_file, BOOL fail_if_exists) override;
  HANDLE CreateFileW(LPCWSTR file_name,
                     DWORD access,
                     DWORD share_mode,
                     LPSECURITY_ATTRIBUTES security,
                     DWORD creation,
                     DWORD flags,
                     HANDLE template_file) override;
  BOOL ReadFile(HANDLE file,
                LPVOID buffer,
                DWORD to_read,
                LPDWORD read,
                LPOVERLAPPED overlapped) override;
  BOOL WriteFile(HANDLE file,
                 LPCVOID buffer,
                 DWORD to_write,
                 LPDWORD written,
                 LPOVERLAPPED overlapped) override;
  DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD move_method) override;
  BOOL SetFilePointerEx(HANDLE file,
                        LARGE_INTEGER distance,
                        PLARGE_INTEGER new_position,
                        DWORD move_method) override;
  BOOL CloseHandle(HANDLE object) override;
  HANDLE CreateFileMappingW(HANDLE file,
                            LPSECURITY_ATTRIBUTES security,
                            DWORD protect,
                            DWORD maximum_size_high,
                            DWORD maximum_size_low,
                            LPCWSTR name) override;
  LPVOID MapViewOfFile(HANDLE mapping,
                       DWORD desired_access,
                       DWORD offset_high,
                       DWORD offset_low,
                       SIZE_T bytes) override;
  SIZE_T VirtualQuery(LPCVOID address, PMEMORY_BASIC_INFORMATION buffer, SIZE_T length) override;
  BOOL UnmapViewOfFile(LPCVOID base) override;
  void GetStartupInfoW(LPSTARTUPINFOW startup_info) override;
  BOOL CreateProcessW(LPCWSTR application_name,
                      LPWSTR command_line,
                      LPSECURITY_ATTRIBUTES process_attributes,
                      LPSECURITY_ATTRIBUTES thread_attributes,
                      BOOL inherit_handles,
                      DWORD creation_flags,
                      LPVOID environment,
                      LPCWSTR current_directory,
                      LPSTARTUPINFOW startup_info,
                      LPPROCESS_INFORMATION process_information) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code) override;
};

}  // namespace orvia

#endif  // ORVIA_STUB_PLATFORM_WIN32_API_H_
