// The window host on the Qt GUI thread: queued invocations for post and the cross-thread send,
// QTimer for the one-shot timers, Qt dialogs for the modal interactions.
#pragma once

#include "ui/host.h"

#include <QObject>
#include <map>

class QTimer;
class QWidget;

namespace tarvix::ui {

class QtHost final : public QObject, public WindowHost {
public:
  QtHost();
  ~QtHost() override;

  // The window that modal dialogs belong to.
  void setParentWindow(QWidget* window) { parent_ = window; }
  // Shows the About box (set by the front end, which knows how to draw it).
  void setAboutHandler(Task handler) { about_ = std::move(handler); }

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
  QWidget* parent_ = nullptr;
  Task about_;
  std::map<int, QTimer*> timers_;
};

} // namespace tarvix::ui
