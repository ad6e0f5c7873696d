// The station window drawn with Qt Widgets. It shows the model's control records, repaints from the
// model's latest state when its revision moves (the workers' changes reach the model a few times a
// second, so twenty-one busy workers never flood it), and forwards the operator's clicks, edits
// and selections to the model's handlers.
#pragma once

#include "app/control.h"

#include <QWidget>
#include <map>

class QGridLayout;
class QGroupBox;
class QLayout;
class QScrollArea;

namespace tarvix::app {
class StationWindow;
}

namespace tarvix::ui {

class StationView final : public QWidget {
public:
  explicit StationView(app::StationWindow& window, QWidget* parent = nullptr);
  ~StationView() override;

  // The widget that draws control `id`, or null.
  QWidget* widgetFor(int id) const;
  // Brings every widget up to the model's state now.
  void sync();
  void showAboutBox();
  // Adds a strip below the port grid (the simulator panel of a farm).
  void addStrip(QWidget* strip);

protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  QWidget* make(int id);
  QLayout* buildOptionArea();
  QWidget* buildPortGrid();
  QWidget* buildPortBox(int port);
  void apply(const app::ControlRecord& record, QWidget* widget);
  void applyColours();
  // Every field and label of the option area at least as wide as the widest text it may show.
  void fitWidths();
  // The width `widget` needs to show a text `textWidth` pixels wide.
  int fittingWidth(QWidget* widget, int textWidth) const;
  // The option area and the port grid whole where the screen has the room; no larger than the
  // screen, scrolling within, where it has not.
  QSize defaultSize();
  // The option area's strip: its own height, and its scroll bar's when it scrolls.
  void fitOptionStrip();

  app::StationWindow& window_;
  std::map<int, QWidget*> widgets_;
  std::map<int, app::ControlRecord> shown_; // what each widget shows now
  std::map<int, int> shownColour_;          // slot colour each result line shows now
  std::uint64_t shownRevision_ = ~0ULL;
  bool syncQueued_ = false;        // a redraw is on its way through the event loop
  QScrollArea* scroll_ = nullptr;  // everything
  QScrollArea* options_ = nullptr; // the option area, sideways
};

} // namespace tarvix::ui
