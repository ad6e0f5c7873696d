// The window host on the plain Win32 API: a message-only window on the window thread takes the
// posted tasks and the timers; modal interactions are the system's own dialogs.
// Create it on the thread that runs the message loop.
#pragma once

#include "ui/host.h"

#include <windows.h>

#include <deque>
#include <map>
#include <mutex>

namespace tarvix::ui {

class Win32Host final : public WindowHost {
public:
  Win32Host();
  ~Win32Host() override;
  Win32Host(const Win32Host&) = delete;
  Win32Host& operator=(const Win32Host&) = delete;

  // The window that owns the dialogs.
  void setParentWindow(HWND parent) { parent_ = parent; }
  void setAboutHandler(Task about) { about_ = std::move(about); }
  // The font of the copy-file dialog's rows now (it follows the language); owned by the caller.
  void setDialogFont(std::function<HFONT()> font) { dialogFont_ = std::move(font); }

  void post(Task task) override;
  void runAndWait(const Task& task) override;
  bool onWindowThread() const override;
  void runPending(std::chrono::milliseconds wait) override;
  void armTimer(int id, std::chrono::nanoseconds delay, Task onFire) override;
  void stopTimer(int id) override;
  void messageBox(const std::string& text, const std::string& caption) override;
  std::optional<std::filesystem::path> askPath(const PathRequest& request) override;
  void showAbout() override;
  void runCopyDialog(CopyDialogModel& dialog) override;

private:
  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void runQueued();
  void fire(int id);

  HWND window_ = nullptr; // message-only
  DWORD thread_ = 0;
  HWND parent_ = nullptr;
  Task about_;
  std::function<HFONT()> dialogFont_;
  std::mutex mutex_;
  std::deque<Task> queue_; // guarded by mutex_
  std::map<int, Task> timers_;
};

} // namespace tarvix::ui
