// The station window on Windows: the Win32 host and the window model drawn by the Win32 view.
#include "log/production_log_file.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "text/pictures.h"
#include "ui/win32/dpi.h"
#include "ui/win32/station_view.h"
#include "ui/win32/wide_text.h"
#include "ui/win32/win32_host.h"
#include "window_run.h"

#include <objbase.h>

#include <cstdlib>
#include <fstream>
#include <optional>

namespace tarvix::cli {
namespace {

// The check under wine: TARVIX_AUTOSTART_AND_SCREENSHOT=<file.bmp> presses Auto Start through the
// window's own messages once it is enabled, waits for the run to end, writes the window's picture
// to <file.bmp>, each child's text to <file.bmp>.shown.txt, the model's to <file.bmp>.model.txt,
// the status pictures' roles to <file.bmp>.pictures.txt, and closes the window.
class ScreenshotHook {
public:
  ScreenshotHook(app::StationWindow& window, ui::StationView& view, std::string file)
      : window_(window), view_(view), file_(std::move(file)) {
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
    failed_ = !ended || !capture() || !dumpTexts();
    PostMessageW(view_.handle(), WM_CLOSE, 0, 0);
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
      if (r.kind == app::ControlKind::DropDown)
        expected = r.selectedRow >= 0 && r.selectedRow < static_cast<int>(r.rows.size())
                       ? r.rows[static_cast<std::size_t>(r.selectedRow)]
                       : std::string();
      model << control << ' ' << escaped(expected) << '\n';
      shown << control << ' '
            << escaped(ui::utf8(ui::windowText(GetDlgItem(view_.handle(), control)))) << '\n';
    }
    return shown.good() && model.good() && pictures.good();
  }

  // What the screen shows of the window, as a 24-bit BMP file.
  bool capture() const {
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
    std::ofstream out(file_, std::ios::binary);
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
