#include "platform/windows/windows_system.h"

#include "platform/windows/wide.h"
#include "platform/windows/windows_text.h"

#include <array>
#include <cerrno>
#include <thread>

#include <windows.h>

namespace tarvix::platform::windows {
namespace {

// The readers of the station's maker: the USB stack ignores their serial numbers, so a reader
// moved to another port keeps its drive letters and needs no new driver set-up.
constexpr const char* kMakersVendorId = "3C7D";
constexpr std::array<const char*, 6> kMakersProductIds = {"A701", "A702", "A703",
                                                          "A704", "A705", "A706"};
constexpr const wchar_t* kUsbFlagsKey = L"SYSTEM\\CurrentControlSet\\Control\\UsbFlags";
constexpr const wchar_t* kExplorerPolicyKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
constexpr DWORD kNoAutoRunOnAnyDrive = 0xFF;

// Opens an existing key for writing; nothing is created when it is missing.
bool setValue(HKEY hive, const wchar_t* key, const wchar_t* name, DWORD type, const void* data,
              DWORD size) {
  HKEY opened = nullptr;
  if (::RegOpenKeyExW(hive, key, 0, KEY_WRITE, &opened) != ERROR_SUCCESS) return false;
  const bool set = ::RegSetValueExW(opened, name, 0, type, static_cast<const BYTE*>(data), size) ==
                   ERROR_SUCCESS;
  ::RegCloseKey(opened);
  return set;
}

// The process environment with `added` ("NAME=value") in front, as a block of zero-ended
// entries ending in an empty one. Windows takes the first of two entries of one name.
std::wstring environmentBlock(const std::vector<std::string>& added) {
  std::wstring block;
  for (const std::string& entry : added) {
    block += widen(entry);
    block += L'\0';
  }
  if (wchar_t* current = ::GetEnvironmentStringsW()) {
    for (const wchar_t* e = current; *e != L'\0'; e += std::wcslen(e) + 1) {
      block += e;
      block += L'\0';
    }
    ::FreeEnvironmentStringsW(current);
  }
  block += L'\0';
  return block;
}

class Handle {
public:
  explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~Handle() {
    if (h_ != nullptr) ::CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

private:
  HANDLE h_;
};

int errnoOfStart(DWORD error) {
  switch (error) {
  case ERROR_FILE_NOT_FOUND:
  case ERROR_PATH_NOT_FOUND: return ENOENT;
  case ERROR_ACCESS_DENIED: return EACCES;
  case ERROR_DIRECTORY: return ENOTDIR;
  case ERROR_NOT_ENOUGH_MEMORY:
  case ERROR_OUTOFMEMORY: return ENOMEM;
  default: return EINVAL;
  }
}

} // namespace

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                      nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
  return utf8;
}

WindowsSystem::~WindowsSystem() {
  // Left to the system at exit too; closed here so a test's second system can take the name.
  if (mutex_ != nullptr) ::CloseHandle(mutex_);
}

std::uint64_t WindowsSystem::availableMemoryBytes() const {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return ::GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

std::string WindowsSystem::systemLocale() const {
  wchar_t language[16] = {};
  wchar_t country[16] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SISO639LANGNAME, language, 16) == 0)
    return {};
  ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SISO3166CTRYNAME, country, 16);
  return localeName(narrow(language), narrow(country));
}

std::string WindowsSystem::hostName() const {
  wchar_t name[256] = {};
  DWORD size = 256;
  if (!::GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return {};
  return narrow(std::wstring_view(name, size));
}

std::filesystem::path WindowsSystem::executablePath() const {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool WindowsSystem::acquireInstanceLock(const std::string& name) {
  // Per session, as a station runs on the operator's desktop; a backslash would name a namespace.
  std::wstring mutexName = L"Local\\" + widen(name);
  for (std::size_t i = 6; i < mutexName.size(); ++i)
    if (mutexName[i] == L'\\') mutexName[i] = L'_';
  HANDLE mutex = ::CreateMutexW(nullptr, TRUE, mutexName.c_str());
  if (mutex == nullptr) return false;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(mutex);
    return false;
  }
  if (mutex_ != nullptr) ::CloseHandle(mutex_);
  mutex_ = mutex;
  return true;
}

void WindowsSystem::applySystemAdjustments() {
  // Written at every start and never undone; without the rights (no administrator) or without
  // the keys nothing is written, and the missing trace line is the only sign.
  if (!adjust_) return;
  for (const char* productId : kMakersProductIds)
    ignoreSerialNumbersOf(kMakersVendorId, productId);
  const DWORD noAutoRun = kNoAutoRunOnAnyDrive;
  if (setValue(HKEY_CURRENT_USER, kExplorerPolicyKey, L"NoDriveTypeAutoRun", REG_DWORD, &noAutoRun,
               sizeof noAutoRun) &&
      trace_) {
    trace_->line("SetAutoValue Success");
  }
}

void WindowsSystem::ignoreSerialNumbersOf(std::string_view vendorId, std::string_view productId) {
  if (!adjust_) return;
  const BYTE on = 1;
  const std::wstring name = widen(ignoreSerialValueName(vendorId, productId));
  if (setValue(HKEY_LOCAL_MACHINE, kUsbFlagsKey, name.c_str(), REG_BINARY, &on, 1) && trace_)
    trace_->line("SetRegValueName Success");
}

ProcessOutcome WindowsSystem::runHidden(const std::vector<std::string>& argv,
                                        const std::vector<std::string>& environment,
                                        const std::filesystem::path& workingDir,
                                        std::chrono::nanoseconds timeout,
                                        const std::function<bool()>& wanted) {
  ProcessOutcome outcome;
  if (argv.empty()) {
    outcome.startError = EINVAL;
    return outcome;
  }
  // The job ends the tool and everything it started when the station gives up on it, and when
  // the station itself ends: the last handle to the job closes with the process.
  Handle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!job || !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits)) {
    outcome.startError = errnoOfStart(::GetLastError());
    return outcome;
  }
  // No terminal input, output discarded: the tool's standard handles are the null device, and
  // those are the only handles it inherits.
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, 0, nullptr));
  Handle output(::CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              &inheritable, OPEN_EXISTING, 0, nullptr));
  if (!input || !output) {
    outcome.startError = errnoOfStart(::GetLastError());
    return outcome;
  }
  std::array<HANDLE, 2> inherited = {input.get(), output.get()};
  SIZE_T attributeBytes = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeBytes);
  std::vector<std::uint8_t> attributeStorage(attributeBytes);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStorage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &attributeBytes) ||
      !::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                   inherited.data(), sizeof inherited, nullptr, nullptr)) {
    outcome.startError = errnoOfStart(::GetLastError());
    return outcome;
  }
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.StartupInfo.wShowWindow = SW_HIDE;
  startup.StartupInfo.hStdInput = input.get();
  startup.StartupInfo.hStdOutput = output.get();
  startup.StartupInfo.hStdError = output.get();
  startup.lpAttributeList = attributes;
  std::wstring line = widen(commandLine(argv));
  std::wstring env = environmentBlock(environment);
  PROCESS_INFORMATION process{};
  const BOOL started =
      ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                           EXTENDED_STARTUPINFO_PRESENT | NORMAL_PRIORITY_CLASS,
                       env.data(), workingDir.empty() ? nullptr : workingDir.c_str(),
                       &startup.StartupInfo, &process);
  const DWORD startFailure = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  if (!started) {
    outcome.startError = errnoOfStart(startFailure);
    return outcome;
  }
  Handle processHandle(process.hProcess);
  Handle thread(process.hThread);
  // In the job before it runs, so nothing it starts escapes.
  if (!::AssignProcessToJobObject(job.get(), processHandle.get())) {
    ::TerminateProcess(processHandle.get(), 1);
    outcome.startError = errnoOfStart(::GetLastError());
    return outcome;
  }
  ::ResumeThread(thread.get());
  outcome.started = true;
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (::WaitForSingleObject(processHandle.get(), 5) == WAIT_OBJECT_0) break;
    if (std::chrono::steady_clock::now() >= until || (wanted && !wanted())) {
      ::TerminateJobObject(job.get(), 1);
      ::WaitForSingleObject(processHandle.get(), INFINITE);
      return outcome;
    }
  }
  DWORD code = 0;
  ::GetExitCodeProcess(processHandle.get(), &code);
  // What the tool left behind in the job ends with it.
  ::TerminateJobObject(job.get(), 0);
  outcome.exited = true;
  outcome.exitCode = static_cast<int>(code);
  return outcome;
}

std::string instanceLockName(const std::filesystem::path& executable) {
  return narrow(executable.stem().wstring());
}

} // namespace tarvix::platform::windows
