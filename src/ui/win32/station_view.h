// The station window on the plain Win32 API: one child window per control record, with the
// record's id, laid out from the option table as the Qt view lays them out. It repaints from the
// model's latest state once per pass of the message loop that changed it (workers' changes reach
// the model at the display queue's pace, so twenty-one busy workers never flood it), and forwards
// the operator's clicks, edits, selections and the system menu's About item to the model's
// handlers.
// Window thread only.
#pragma once

#include "app/control.h"
#include "app/option_table.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace tarvix::app {
class StationWindow;
}

namespace tarvix::ui {

class StationView {
public:
  explicit StationView(app::StationWindow& window);
  ~StationView();
  StationView(const StationView&) = delete;
  StationView& operator=(const StationView&) = delete;

  HWND handle() const { return handle_; }
  // The font texts of the current language are drawn in.
  HFONT textFont() const { return fonts_[0]; }
  void show();
  // Brings every child window up to the model's state now.
  void sync();
  void showAboutBox();

private:
  struct Cell {
    int id;
    int row;
    int column;
    int span = 1;
  };

  static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void onCommand(int id, int code);
  HWND make(const app::ControlRecord& record);
  void makeFonts();
  void setIcons();
  HFONT fontFor(station::FontChoice choice) const;
  void apply(const app::ControlRecord& record, HWND child);
  void applyColours();
  int s(int value) const;
  // The widest text `id` may have to show, in the faces it may be drawn in.
  int widestText(int id) const;
  // The width `id` needs to show every text it may have to show whole.
  int naturalWidth(int id) const;
  // Places `id` at content coordinates: the scroll position moves everything.
  void placeAt(int id, int x, int y, int w, int h);
  SIZE grid(const std::vector<Cell>& cells, int x, int y, bool place);
  // Lays out the cells of `area` in the group box that frames it when `place`; its size.
  SIZE group(app::Area area, int x, int y, bool place);
  // Lays every child out in a content area `width` by `height` when `place`; the least size the
  // content needs with every text whole.
  SIZE arrange(int width, int height, bool place);
  // Lays every child out in the client area, scrolling when it is smaller than the content; the
  // width the content needs.
  int layout();
  void setScrollBar(int bar, int content, int page, LONG& position);
  void scrollBy(int bar, int code, int wheelSteps);
  SIZE portGridMinimum() const;
  void layoutPorts(int x, int y, int width, int height);
  // Sizes the window's frame, within the screen it is on.
  void resize(int width, int height);

  app::StationWindow& window_;
  HWND handle_ = nullptr;
  UINT dpi_ = 96;
  int fontLanguage_ = -1;
  std::array<HFONT, 3> fonts_{};         // one per FontChoice
  std::array<HFONT, 3> languageFonts_{}; // the labels' face of each language, for measuring
  mutable std::map<int, int> fitted_;    // natural widths while texts and fonts stay
  POINT scroll_{};
  SIZE content_{};
  bool laying_ = false;
  bool layAgain_ = false;
  std::map<int, HWND> children_;
  std::map<int, app::ControlRecord> shown_; // what each child shows now
  std::vector<int> shownColour_;            // slot colour each result line shows now
  std::array<HBRUSH, 4> slotBrushes_{};
  std::uint64_t shownRevision_ = ~0ULL;
  bool applying_ = false;   // edits' change notices are the view's own, not the operator's
  bool syncQueued_ = false; // a redraw is on its way through the message loop
};

} // namespace tarvix::ui
