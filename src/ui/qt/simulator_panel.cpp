#include "ui/qt/simulator_panel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace tarvix::ui {

SimulatorPanel::SimulatorPanel(SimulatedReaders readers, QWidget* parent)
    : QWidget(parent), readers_(std::move(readers)) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel("Simulated readers (checked = plugged in):", this));
  for (const std::string& id : readers_.ids) {
    auto* button = new QPushButton(QString::fromStdString(id), this);
    button->setCheckable(true);
    button->setChecked(readers_.plugged(id));
    connect(button, &QPushButton::toggled, this, [this, id, button](bool plugIn) {
      const bool done = plugIn ? readers_.plug(id) : readers_.pull(id);
      if (!done) {
        const QSignalBlocker keep(button);
        button->setChecked(readers_.plugged(id));
      }
    });
    row->addWidget(button);
  }
  row->addStretch(1);
}

} // namespace tarvix::ui
