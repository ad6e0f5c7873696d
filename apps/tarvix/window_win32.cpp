// The station window on Windows: the Win32 host and the window model drawn by the Win32 view.
#include "app/fitting_texts.h"
#include "app/shown_row.h"
#include "log/production_log_file.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/pictures.h"
#include "ui/win32/dpi.h"
#include "ui/win32/station_view.h"
#include "ui/win32/wide_text.h"
#include "ui/win32/win32_host.h"
#include "window_run.h"

#include <commctrl.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <vector>

namespace tarvix::cli {
namespace {

// The check under wine: TARVIX_AUTOSTART_AND_SCREENSHOT=<file.bmp> presses Auto Start through the
// window's own messages once it is enabled, waits for the run to end, writes each child's text to
// <file.bmp>.shown.txt, the model's to <file.bmp>.model.txt, the status pictures' roles to
// <file.bmp>.pictures.txt; then at 100, 150 and 200 % (the screen's scale changed as a move to
// another screen changes it) the window's picture to <file.bmp>, <file>-150.bmp and
// <file>-200.bmp, and every text a field or label would cut to <file.bmp>.clipped.txt; and closes
// the window.
class ScreenshotHook {
public:
  ScreenshotHook(app::StationWindow& window, ui::StationView& view, std::string file)
      : window_(window), view_(view), file_(std::move(file)), dpi_(ui::windowDpi(view.handle())) {
    hook_ = this;
    timer_ = SetTimer(nullptr, 0, 250, [](HWND, UINT, UINT_PTR, DWORD) { hook_->tick(); });
  }
  bool failed() const { return failed_; }

private:
  void tick() {
    ++ticks_;
    if (ticks_ > 4 * 600) return finish(false); // ten minutes: the run never ended
    if (!pressed_) {
      if (!window_.control(station::id::kAutoStart).enabled) return;
      HWND button = GetDlgItem(view_.handle(), station::id::kAutoStart);
      SendMessageW(view_.handle(), WM_COMMAND, MAKEWPARAM(station::id::kAutoStart, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button));
      pressed_ = true;
      return;
    }
    if (!window_.runEnded()) return;
    if (++settled_ < 4) return; // a few repaints after the end
    view_.sync();
    finish(true);
  }

  void finish(bool ended) {
    KillTimer(nullptr, timer_);
    hook_ = nullptr;
    failed_ = !ended || !dumpTexts() || !tabFollowsIds();
    std::ofstream clipped(file_ + ".clipped.txt", std::ios::binary);
    for (const UINT percent : {100, 150, 200}) {
      const UINT dpi = 96 * percent / 100;
      if (percent != 100) changeDpi(dpi);
      view_.sync();
      const std::string stem = file_.substr(0, file_.size() - 4);
      failed_ = failed_ ||
                !capture(percent == 100 ? file_ : stem + "-" + std::to_string(percent) + ".bmp");
      for (const std::string& text : clippedTexts())
        clipped << percent << " %: " << text << '\n';
    }
    failed_ = failed_ || !clipped.good();
    PostMessageW(view_.handle(), WM_CLOSE, 0, 0);
  }

  // Tab goes through the controls that take it in the order of their ids, from the first round
  // to the first again.
  bool tabFollowsIds() const {
    HWND view = view_.handle();
    std::vector<int> expected;
    for (int control : window_.controlIds()) {
      HWND child = GetDlgItem(view, control);
      if (child != nullptr && IsWindowVisible(child) && IsWindowEnabled(child) &&
          (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0)
        expected.push_back(control);
    }
    std::vector<int> walked;
    HWND first = GetNextDlgTabItem(view, nullptr, FALSE);
    for (HWND at = first; at != nullptr && walked.size() <= expected.size();) {
      walked.push_back(GetDlgCtrlID(at));
      at = GetNextDlgTabItem(view, at, FALSE);
      if (at == first) break;
    }
    if (walked == expected) return true;
    std::fprintf(stderr, "tab order:");
    for (int control : walked)
      std::fprintf(stderr, " %d", control);
    std::fprintf(stderr, "\n");
    return false;
  }

  // As the system tells a window moved to a screen of another scale, with the size it suggests.
  void changeDpi(UINT dpi) {
    HWND window = view_.handle();
    RECT frame;
    GetWindowRect(window, &frame);
    const UINT old = dpi_;
    frame.right = frame.left + MulDiv(frame.right - frame.left, static_cast<int>(dpi), old);
    frame.bottom = frame.top + MulDiv(frame.bottom - frame.top, static_cast<int>(dpi), old);
    SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&frame));
    dpi_ = dpi;
  }

  static int extent(HDC dc, const std::string& text) {
    const std::wstring shown = ui::wide(text);
    SIZE size{};
    GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
    return size.cx;
  }

  // The room a child draws its text in, measured on the child itself.
  int textRoom(HWND child, app::ControlKind kind, HDC dc, const std::string& shown) const {
    RECT client;
    GetClientRect(child, &client);
    switch (kind) {
    case app::ControlKind::Edit: {
      RECT text;
      SendMessageW(child, EM_GETRECT, 0, reinterpret_cast<LPARAM>(&text));
      return text.right - text.left - 1; // and the caret
    }
    case app::ControlKind::DropDown: {
      COMBOBOXINFO info{};
      info.cbSize = sizeof info;
      GetComboBoxInfo(child, &info);
      return info.rcItem.right - info.rcItem.left - 2;
    }
    case app::ControlKind::CheckBox:
    case app::ControlKind::PushButton: {
      // What the button itself wants beyond its text: its box, its edges.
      SIZE ideal{};
      if (SendMessageW(child, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&ideal)) != FALSE &&
          ideal.cx > 0)
        return client.right - (ideal.cx - extent(dc, shown));
      return client.right - ui::scaled(kind == app::ControlKind::CheckBox ? 20 : 8, dpi_);
    }
    case app::ControlKind::GroupBox: return client.right - ui::scaled(16, dpi_);
    default: return client.right;
    }
  }

  // "control: text (needed in room)" for every text a shown field or label may have to show and
  // would cut, measured with the font the child draws in.
  std::vector<std::string> clippedTexts() const {
    std::vector<std::string> clipped;
    HDC dc = CreateCompatibleDC(nullptr);
    for (int control : window_.controlIds()) {
      HWND child = GetDlgItem(view_.handle(), control);
      if (child == nullptr || !IsWindowVisible(child)) continue;
      const app::ControlRecord& r = window_.control(control);
      const auto texts = app::textsShownWhole(r);
      if (texts.empty()) continue;
      HGDIOBJ old =
          SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
      const int room = textRoom(child, r.kind, dc, r.text);
      for (const std::string& text : texts) {
        const int needed = extent(dc, text);
        if (needed > room)
          clipped.push_back(std::to_string(control) + ": " + escaped(text) + " (" +
                            std::to_string(needed) + " px in " + std::to_string(room) + ")");
      }
      SelectObject(dc, old);
      // Past the window's edge only where a scroll bar leads to it.
      RECT place;
      GetWindowRect(child, &place);
      MapWindowPoints(nullptr, view_.handle(), reinterpret_cast<POINT*>(&place), 2);
      RECT area;
      GetClientRect(view_.handle(), &area);
      const LONG style = GetWindowLongW(view_.handle(), GWL_STYLE);
      if ((place.right > area.right && (style & WS_HSCROLL) == 0) ||
          (place.bottom > area.bottom && (style & WS_VSCROLL) == 0))
        clipped.push_back(std::to_string(control) + " past the window's edge, no scroll bar");
    }
    DeleteDC(dc);
    return clipped;
  }

  static std::string escaped(std::string text) {
    std::string out;
    for (char c : text)
      out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
  }

  bool dumpTexts() const {
    std::ofstream shown(file_ + ".shown.txt", std::ios::binary);
    std::ofstream model(file_ + ".model.txt", std::ios::binary);
    std::ofstream pictures(file_ + ".pictures.txt", std::ios::binary);
    for (int control : window_.controlIds()) {
      const app::ControlRecord& r = window_.control(control);
      if (r.kind == app::ControlKind::Picture) {
        if (const auto role = text::pictureRole(r.picture))
          pictures << control << ' ' << text::roleName(*role) << '\n';
        continue;
      }
      if (r.kind == app::ControlKind::ProgressBar) continue;
      std::string expected = r.text;
      if (r.kind == app::ControlKind::DropDown) {
        const int row = app::shownRow(r, window_.languageOffset());
        expected = row >= 0 && row < static_cast<int>(r.rows.size())
                       ? r.rows[static_cast<std::size_t>(row)]
                       : std::string();
      }
      model << control << ' ' << escaped(expected) << '\n';
      shown << control << ' '
            << escaped(ui::utf8(ui::windowText(GetDlgItem(view_.handle(), control)))) << '\n';
    }
    return shown.good() && model.good() && pictures.good();
  }

  // What the screen shows of the window, as a 24-bit BMP file.
  bool capture(const std::string& file) const {
    HWND window = view_.handle();
    SetForegroundWindow(window);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // The client area: without a window manager the frame has nothing drawn in it.
    RECT area;
    GetClientRect(window, &area);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    const int w = area.right - area.left;
    const int h = area.bottom - area.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, w, h, screen, area.left, area.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = w;
    info.biHeight = h; // bottom-up, as BMP files are
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    std::string pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), '\0');
    const bool read = GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), pixels.data(),
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) == h;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied || !read) return false;
    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42; // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out.write(reinterpret_cast<const char*>(&info), sizeof info);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return out.good();
  }

  static inline ScreenshotHook* hook_ = nullptr;
  app::StationWindow& window_;
  ui::StationView& view_;
  std::string file_;
  UINT_PTR timer_ = 0;
  int ticks_ = 0;
  int settled_ = 0;
  bool pressed_ = false;
  bool failed_ = false;
  UINT dpi_ = 96;
};

} // namespace

int runWindow(int, char**, Backend& backend, const Options& options, const LogPlaces& places) {
  ui::becomeDpiAware();
  // The folder picker is a shell dialog: it wants a single-threaded apartment.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  int status = 0;
  {
    ui::Win32Host host;
    OpenedWindow station(backend, host, options, places);
    app::StationWindow& window = station.window;
    ui::StationView view(window);
    host.setParentWindow(view.handle());
    host.setDialogFont([&view] { return view.textFont(); });
    host.setAboutHandler([&view] { view.showAboutBox(); });
    std::optional<ScreenshotHook> hook;
    if (const char* file = std::getenv("TARVIX_AUTOSTART_AND_SCREENSHOT"))
      hook.emplace(window, view, file);
    backend.start();
    view.show();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
      // Tab and Shift+Tab move through the controls, as in a dialog.
      if (IsDialogMessageW(view.handle(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    window.close();
    if (hook && hook->failed()) status = 1;
  }
  if (com) CoUninitialize();
  return status;
}

} // namespace tarvix::cli
