#include "ui/qt/qt_host.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

namespace tarvix::ui {

QtHost::QtHost() = default;

QtHost::~QtHost() = default; // the timers are children of this object

void QtHost::post(Task task) {
  QMetaObject::invokeMethod(
      this, [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

void QtHost::runAndWait(const Task& task) {
  if (onWindowThread()) {
    task();
    return;
  }
  QMetaObject::invokeMethod(
      this, [&task] { task(); }, Qt::BlockingQueuedConnection);
}

void QtHost::runPending(std::chrono::milliseconds wait) {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  // Workers may end without posting anything; a short nap keeps the waiting loop from spinning.
  QThread::msleep(static_cast<unsigned long>(std::min<std::int64_t>(wait.count(), 5)));
}

bool QtHost::onWindowThread() const { return QThread::currentThread() == thread(); }

void QtHost::armTimer(int id, std::chrono::nanoseconds delay, Task onFire) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
  }
  timer->disconnect();
  connect(timer, &QTimer::timeout, this, [onFire = std::move(onFire)] { onFire(); });
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay);
  timer->start(std::chrono::milliseconds(std::max<std::int64_t>(0, ms.count())));
}

void QtHost::stopTimer(int id) {
  if (auto it = timers_.find(id); it != timers_.end()) it->second->stop();
}

void QtHost::messageBox(const std::string& text, const std::string& caption) {
  QMessageBox::information(parent_, QString::fromStdString(caption), QString::fromStdString(text),
                           QMessageBox::Ok);
}

std::optional<std::filesystem::path> QtHost::askPath(const PathRequest& request) {
  const QString title = QString::fromStdString(request.title);
  const QString start = QString::fromStdString(request.start.string());
  const QString filter = QString::fromStdString(request.filter);
  QString chosen;
  switch (request.kind) {
  case PathRequest::Kind::OpenFile:
    chosen = QFileDialog::getOpenFileName(parent_, title, start, filter);
    break;
  case PathRequest::Kind::SaveFile:
    chosen = QFileDialog::getSaveFileName(parent_, title, start, filter);
    break;
  case PathRequest::Kind::Folder:
    chosen = QFileDialog::getExistingDirectory(parent_, title, start);
    break;
  }
  if (chosen.isEmpty()) return std::nullopt;
  return std::filesystem::path(chosen.toStdString());
}

void QtHost::showAbout() {
  if (about_) about_();
}

} // namespace tarvix::ui
