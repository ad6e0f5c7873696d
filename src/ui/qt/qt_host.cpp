#include "ui/qt/qt_host.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLineEdit>
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

void QtHost::runCopyDialog(CopyDialogModel& model) {
  QDialog dialog(parent_);
  dialog.setWindowTitle(QString::fromStdString(model.caption()));
  dialog.setMinimumWidth(560);
  auto* grid = new QGridLayout(&dialog);
  std::vector<QCheckBox*> boxes;
  std::vector<QLineEdit*> paths;
  auto refresh = [&] {
    for (int row = 0; row < CopyDialogModel::kRows; ++row) {
      boxes[row]->setChecked(model.checked(row));
      paths[row]->setText(QString::fromStdString(model.path(row)));
    }
  };
  for (int row = 0; row < CopyDialogModel::kRows; ++row) {
    auto* box = new QCheckBox(QString::fromStdString(model.label(row)), &dialog);
    auto* path = new QLineEdit(&dialog);
    path->setReadOnly(true);
    grid->addWidget(box, row, 0);
    grid->addWidget(path, row, 1);
    boxes.push_back(box);
    paths.push_back(path);
    QObject::connect(box, &QCheckBox::clicked, &dialog, [&, row](bool nowChecked) {
      model.onRowClicked(row, nowChecked);
      refresh();
    });
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  grid->addWidget(buttons, CopyDialogModel::kRows, 0, 1, 2);
  refresh();
  dialog.exec();
}

void QtHost::showAbout() {
  if (about_) about_();
}

} // namespace tarvix::ui
