#include "ui/win32/win32_host.h"

#include "ui/win32/dpi.h"
#include "ui/win32/wide_text.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>

namespace tarvix::ui {
namespace {

constexpr UINT kRunQueued = WM_APP + 1;
constexpr wchar_t kHostClass[] = L"TarvixHost";
constexpr wchar_t kCopyDialogClass[] = L"TarvixCopyDialog";
constexpr int kRowControl = 100; // check box of row r is kRowControl + r, its path 200 + r
constexpr int kPathControl = 200;

// "INI Files (*.ini)" as the file dialogs want it: name, pattern, each ended by a zero.
std::wstring dialogFilter(const std::string& filter) {
  std::wstring name = wide(filter);
  std::wstring pattern = L"*.*";
  const auto open = name.rfind(L'(');
  const auto close = name.rfind(L')');
  if (open != std::wstring::npos && close != std::wstring::npos && close > open + 1)
    pattern = name.substr(open + 1, close - open - 1);
  if (name.empty()) name = pattern;
  return name + L'\0' + pattern + L'\0' + L'\0';
}

struct CopyDialogState {
  CopyDialogModel& model;
  HFONT font;
  HWND boxes[CopyDialogModel::kRows] = {};
  HWND paths[CopyDialogModel::kRows] = {};
  bool done = false;

  void refresh() {
    for (int row = 0; row < CopyDialogModel::kRows; ++row) {
      SendMessageW(boxes[row], BM_SETCHECK, model.checked(row) ? BST_CHECKED : BST_UNCHECKED, 0);
      SetWindowTextW(paths[row], wide(model.path(row)).c_str());
    }
  }
};

LRESULT CALLBACK copyDialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* state = reinterpret_cast<CopyDialogState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (state != nullptr && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    const int control = LOWORD(wParam);
    if (control == IDCANCEL) {
      state->done = true;
      return 0;
    }
    const int row = control - kRowControl;
    if (row >= 0 && row < CopyDialogModel::kRows) {
      state->model.onRowClicked(row, !state->model.checked(row));
      state->refresh();
    }
    return 0;
  }
  if (state != nullptr && message == WM_CLOSE) {
    state->done = true;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

Win32Host::Win32Host() : thread_(GetCurrentThreadId()) {
  WNDCLASSW type{};
  type.lpfnWndProc = procedure;
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = kHostClass;
  RegisterClassW(&type);
  window_ = CreateWindowExW(0, kHostClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            type.hInstance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Host::~Win32Host() {
  for (const auto& timer : timers_)
    KillTimer(window_, static_cast<UINT_PTR>(timer.first) + 1);
  DestroyWindow(window_);
}

LRESULT CALLBACK Win32Host::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* host = reinterpret_cast<Win32Host*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host != nullptr && message == kRunQueued) {
    host->runQueued();
    return 0;
  }
  if (host != nullptr && message == WM_TIMER) {
    host->fire(static_cast<int>(wParam) - 1);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void Win32Host::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  PostMessageW(window_, kRunQueued, 0, 0);
}

void Win32Host::runQueued() {
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

void Win32Host::runAndWait(const Task& task) {
  if (onWindowThread()) {
    task();
    return;
  }
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  post([&task, done] {
    task();
    SetEvent(done);
  });
  WaitForSingleObject(done, INFINITE);
  CloseHandle(done);
}

bool Win32Host::onWindowThread() const { return GetCurrentThreadId() == thread_; }

void Win32Host::runPending(std::chrono::milliseconds wait) {
  bool ran = false;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam)); // for the main loop to see
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    ran = true;
  }
  // Workers may end without posting anything; a short nap keeps the waiting loop from spinning.
  if (!ran) {
    const auto nap = static_cast<DWORD>(std::clamp<std::int64_t>(wait.count(), 0, 5));
    MsgWaitForMultipleObjects(0, nullptr, FALSE, nap, QS_ALLINPUT);
  }
}

void Win32Host::armTimer(int id, std::chrono::nanoseconds delay, Task onFire) {
  timers_[id] = std::move(onFire);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
  SetTimer(window_, static_cast<UINT_PTR>(id) + 1,
           static_cast<UINT>(std::clamp<std::int64_t>(ms, USER_TIMER_MINIMUM, 0x7FFFFFFF)),
           nullptr);
}

void Win32Host::stopTimer(int id) {
  KillTimer(window_, static_cast<UINT_PTR>(id) + 1);
  timers_.erase(id);
}

void Win32Host::fire(int id) {
  // One-shot: the task may arm the same id again, so it leaves the table before it runs.
  KillTimer(window_, static_cast<UINT_PTR>(id) + 1);
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  Task task = std::move(it->second);
  timers_.erase(it);
  task();
}

void Win32Host::messageBox(const std::string& text, const std::string& caption) {
  MessageBoxW(parent_, wide(text).c_str(), wide(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

std::optional<std::filesystem::path> Win32Host::askPath(const PathRequest& request) {
  const std::wstring title = wide(request.title);
  if (request.kind == PathRequest::Kind::Folder) {
    BROWSEINFOW browse{};
    browse.hwndOwner = parent_;
    browse.lpszTitle = title.c_str();
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (chosen == nullptr) return std::nullopt;
    wchar_t folder[MAX_PATH] = {};
    const bool ok = SHGetPathFromIDListW(chosen, folder) != FALSE;
    CoTaskMemFree(chosen);
    if (!ok) return std::nullopt;
    return std::filesystem::path(folder);
  }
  const std::wstring filter = dialogFilter(request.filter);
  std::wstring file(32768, L'\0');
  std::wstring folder;
  if (std::filesystem::is_directory(request.start)) {
    folder = request.start.wstring();
  } else if (!request.start.empty()) {
    const std::wstring start = request.start.wstring();
    std::copy(start.begin(), start.begin() + std::min<std::ptrdiff_t>(start.size(), 32767),
              file.begin());
  }
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = parent_;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.Flags = OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  bool chosen = false;
  if (request.kind == PathRequest::Kind::SaveFile) {
    dialog.Flags |= OFN_OVERWRITEPROMPT;
    chosen = GetSaveFileNameW(&dialog) != FALSE;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    chosen = GetOpenFileNameW(&dialog) != FALSE;
  }
  if (!chosen) return std::nullopt;
  return std::filesystem::path(file.c_str());
}

void Win32Host::showAbout() {
  if (about_) about_();
}

void Win32Host::runCopyDialog(CopyDialogModel& model) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW type{};
  type.lpfnWndProc = copyDialogProcedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  type.lpszClassName = kCopyDialogClass;
  RegisterClassW(&type); // fails harmlessly once registered

  const UINT dpi = windowDpi(parent_);
  auto s = [dpi](int v) { return MulDiv(v, static_cast<int>(dpi), 96); };
  CopyDialogState state{model, dialogFont_ ? dialogFont_() : nullptr};
  const int rowHeight = s(26);
  RECT frame{0, 0, s(640), s(16) + rowHeight * (CopyDialogModel::kRows + 1) + s(8)};
  AdjustWindowRectEx(&frame, WS_POPUP | WS_CAPTION | WS_SYSMENU, FALSE, WS_EX_DLGMODALFRAME);
  HWND dialog = CreateWindowExW(WS_EX_DLGMODALFRAME, kCopyDialogClass,
                                wide(model.caption()).c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                                frame.bottom - frame.top, parent_, nullptr, instance, &state);
  auto child = [&](const wchar_t* type_, const std::wstring& text, DWORD style, int control, int x,
                   int y, int w, int h) {
    HWND made =
        CreateWindowExW(0, type_, text.c_str(), WS_CHILD | WS_VISIBLE | style, x, y, w, h, dialog,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(control)), instance, nullptr);
    if (state.font != nullptr)
      SendMessageW(made, WM_SETFONT, reinterpret_cast<WPARAM>(state.font), FALSE);
    return made;
  };
  for (int row = 0; row < CopyDialogModel::kRows; ++row) {
    const int y = s(8) + row * rowHeight;
    state.boxes[row] = child(L"BUTTON", wide(model.label(row)), BS_CHECKBOX | WS_TABSTOP,
                             kRowControl + row, s(8), y, s(180), s(22));
    state.paths[row] = child(L"EDIT", L"", ES_AUTOHSCROLL | ES_READONLY | WS_BORDER,
                             kPathControl + row, s(196), y, s(436), s(22));
  }
  child(L"BUTTON", L"Close", BS_DEFPUSHBUTTON | WS_TABSTOP, IDCANCEL, s(552),
        s(8) + CopyDialogModel::kRows * rowHeight + s(4), s(80), s(24));
  state.refresh();

  if (parent_ != nullptr) EnableWindow(parent_, FALSE);
  ShowWindow(dialog, SW_SHOW);
  MSG message;
  while (!state.done && GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (IsDialogMessageW(dialog, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (!state.done) PostQuitMessage(0); // the loop saw WM_QUIT: the main loop must see it too
  if (parent_ != nullptr) EnableWindow(parent_, TRUE);
  DestroyWindow(dialog);
  if (parent_ != nullptr) SetActiveWindow(parent_);
}

} // namespace tarvix::ui
