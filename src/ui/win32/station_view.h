// The station window on the plain Win32 API: one child window per control record, with the
// record's id, laid out as the Qt view lays them out. It repaints at a steady rate from the
// model's latest state (so twenty-one busy workers never flood it), and forwards the operator's
// clicks, edits, selections and the system menu's About item to the model's handlers.
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
  HFONT fontFor(station::FontChoice choice) const;
  void apply(const app::ControlRecord& record, HWND child);
  void applyColours();
  int s(int value) const;
  int naturalWidth(int id) const;
  void placeAt(int id, int x, int y, int w, int h);
  SIZE grid(const std::vector<Cell>& cells, int x, int y, bool place);
  // Lays out the cells of `area` in the group box that frames it; its size.
  SIZE group(app::Area area, int x, int y);
  // Lays every child out in the client area; the width the option area needs.
  int layout();
  void layoutPorts(int x, int y, int width, int height);
  // Sizes the window's frame, within the screen it is on.
  void resize(int width, int height);

  app::StationWindow& window_;
  HWND handle_ = nullptr;
  UINT dpi_ = 96;
  int fontLanguage_ = -1;
  std::array<HFONT, 3> fonts_{}; // one per FontChoice
  std::map<int, HWND> children_;
  std::map<int, app::ControlRecord> shown_; // what each child shows now
  std::vector<int> shownColour_;            // slot colour each result line shows now
  std::array<HBRUSH, 4> slotBrushes_{};
  std::uint64_t shownRevision_ = ~0ULL;
  bool applying_ = false; // edits' change notices are the view's own, not the operator's
};

} // namespace tarvix::ui
