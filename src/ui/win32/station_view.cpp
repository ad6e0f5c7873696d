#include "ui/win32/station_view.h"

#include "app/fitting_texts.h"
#include "app/option_table.h"
#include "app/shown_row.h"
#include "app/station_window.h"
#include "station/control_ids.h"
#include "station/numbering.h"
#include "station/records.h"
#include "text/pictures.h"
#include "text/texts.h"
#include "ui/win32/about_dialog.h"
#include "ui/win32/dpi.h"
#include "ui/win32/pictures.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

#include <commctrl.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace tarvix::ui {
namespace {

using app::ControlKind;
namespace id = station::id;
using namespace station;

constexpr wchar_t kViewClass[] = L"TarvixStation";
// Posted to the window when the model changed; the flag keeps one on its way at a time.
constexpr UINT kSyncQueued = WM_APP + 1;
constexpr int kRowHeight = 24; // at 96 DPI, as every further length here
constexpr int kGap = 6;
constexpr int kMinimumHubHeight = 150;
// Scroll bars show when the screen is too small for everything: nothing is ever cut off.
constexpr DWORD kWindowStyle = WS_OVERLAPPEDWINDOW | WS_HSCROLL | WS_VSCROLL;

bool isHubBox(int control) { return control >= hubBoxId(1) && control <= hubBoxId(kHubCount); }
bool isPortBox(int control) { return control >= portBoxId(1) && control <= portBoxId(kPortCount); }

// Lines of LUNs 3 and 4 exist for the steps to write into, but are never on screen.
bool neverShown(int control) {
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    if (lunOfSlot(slot) <= kVisibleLuns) continue;
    if (control == slotLabelId(slot) || control == resultLineId(slot)) return true;
  }
  return false;
}

// Faces Windows ships that hold the language's characters.
const wchar_t* faceFor(int languageOffset) {
  if (languageOffset == text::kSimplifiedChinese) return L"Microsoft YaHei";
  if (languageOffset == text::kTraditionalChinese) return L"Microsoft JhengHei";
  return L"Segoe UI";
}

HFONT makeFont(int points, UINT dpi, int weight, const wchar_t* face) {
  return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, weight, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
}

// The width of `text` drawn in `font`.
int textWidth(HFONT font, const std::string& text) {
  if (text.empty()) return 0;
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  const std::wstring shown = wide(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, shown.c_str(), static_cast<int>(shown.size()), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size.cx;
}

constexpr int kLanguageOffsets[] = {text::kEnglish, text::kSimplifiedChinese,
                                    text::kTraditionalChinese};

} // namespace

StationView::StationView(app::StationWindow& window)
    : window_(window), shownColour_(kSlotCount, -1) {
  INITCOMMONCONTROLSEX common{sizeof common, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&common);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSW type{};
  type.lpfnWndProc = procedure;
  type.hInstance = instance;
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  type.lpszClassName = kViewClass;
  RegisterClassW(&type);
  slotBrushes_[static_cast<int>(SlotColour::Idle)] = GetSysColorBrush(COLOR_BTNFACE);
  for (SlotColour colour : {SlotColour::Failed, SlotColour::Passed, SlotColour::Running}) {
    const std::uint32_t rgb = slotColourRgb(colour);
    slotBrushes_[static_cast<int>(colour)] =
        CreateSolidBrush(RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF));
  }

  // No WS_CLIPCHILDREN: the window paints the inside of its group boxes, which do not.
  handle_ = CreateWindowExW(0, kViewClass, wide(window_.caption()).c_str(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                            nullptr, instance, this);
  dpi_ = windowDpi(handle_);
  setIcons();
  makeFonts();
  // In id order: the order Tab goes through them.
  for (int control : window_.controlIds())
    children_[control] = make(window_.control(control));
  // Group boxes go to the bottom, so the controls they frame draw over them.
  for (const auto& [control, child] : children_) {
    if (window_.control(control).kind == ControlKind::GroupBox)
      SetWindowPos(child, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  if (!window_.aboutMenuText().empty()) {
    HMENU menu = GetSystemMenu(handle_, FALSE);
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, id::kAboutCommand, wide(window_.aboutMenuText()).c_str());
  }
  sync();
  // A first size that holds the option area; the port grid takes what is left.
  RECT frame{0, 0, s(1260), s(820)};
  const int needed = layout();
  frame.right = std::max<LONG>(frame.right, needed);
  AdjustWindowRectEx(&frame, kWindowStyle, FALSE, 0);
  resize(frame.right - frame.left, frame.bottom - frame.top);
  // Redrawn once per pass of the message loop that changed the model, and never while it rests.
  window_.setOnChange([this] {
    if (!std::exchange(syncQueued_, true)) PostMessageW(handle_, kSyncQueued, 0, 0);
  });
}

StationView::~StationView() {
  window_.setOnChange(nullptr);
  if (IsWindow(handle_)) DestroyWindow(handle_);
  for (HFONT font : fonts_)
    DeleteObject(font);
  for (HFONT font : languageFonts_)
    DeleteObject(font);
  for (HBRUSH brush : slotBrushes_)
    if (brush != GetSysColorBrush(COLOR_BTNFACE)) DeleteObject(brush);
}

int StationView::s(int value) const { return scaled(value, dpi_); }

void StationView::makeFonts() {
  fontLanguage_ = window_.languageOffset();
  for (HFONT font : languageFonts_)
    DeleteObject(font);
  for (std::size_t i = 0; i < languageFonts_.size(); ++i)
    languageFonts_[i] = makeFont(9, dpi_, FW_NORMAL, faceFor(kLanguageOffsets[i]));
  fitted_.clear();
  fonts_[static_cast<int>(FontChoice::Default)] =
      makeFont(9, dpi_, FW_NORMAL, faceFor(fontLanguage_));
  fonts_[static_cast<int>(FontChoice::ArialBlack10)] = makeFont(10, dpi_, FW_HEAVY, L"Arial Black");
  fonts_[static_cast<int>(FontChoice::ArialBlack16)] = makeFont(16, dpi_, FW_HEAVY, L"Arial Black");
}

HFONT StationView::fontFor(FontChoice choice) const { return fonts_[static_cast<int>(choice)]; }

void StationView::show() {
  ShowWindow(handle_, SW_SHOW);
  UpdateWindow(handle_);
}

HWND StationView::make(const app::ControlRecord& r) {
  const wchar_t* type = L"BUTTON";
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
  DWORD extended = 0;
  switch (r.kind) {
  case ControlKind::PushButton: style |= BS_PUSHBUTTON | WS_TABSTOP; break;
  case ControlKind::CheckBox: style |= BS_CHECKBOX | WS_TABSTOP; break; // the model flips it
  case ControlKind::GroupBox:
    style = WS_CHILD | BS_GROUPBOX | (isPortBox(r.id) ? BS_CENTER : 0);
    break;
  case ControlKind::Label:
    type = L"STATIC";
    style |= SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE;
    break;
  case ControlKind::DropDown:
    type = L"COMBOBOX";
    style |= CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
    break;
  case ControlKind::Edit:
    type = L"EDIT";
    style |= ES_AUTOHSCROLL | WS_TABSTOP;
    extended = WS_EX_CLIENTEDGE;
    break;
  case ControlKind::ResultLine:
    type = L"EDIT";
    style |= ES_MULTILINE | ES_READONLY | WS_BORDER;
    break;
  case ControlKind::Picture:
    type = L"STATIC";
    style |= SS_OWNERDRAW;
    break;
  case ControlKind::ProgressBar: type = PROGRESS_CLASSW; break;
  }
  return CreateWindowExW(extended, type, L"", style, 0, 0, 0, 0, handle_,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(r.id)),
                         GetModuleHandleW(nullptr), nullptr);
}

void StationView::sync() {
  bool relayout = false;
  if (window_.languageOffset() != fontLanguage_) {
    // The new language's face: every child takes its font again before the old ones go.
    const auto old = fonts_;
    makeFonts();
    shown_.clear();
    shownRevision_ = ~0ULL;
    for (const auto& [control, child] : children_) {
      SendMessageW(child, WM_SETFONT,
                   reinterpret_cast<WPARAM>(fontFor(window_.control(control).font)), FALSE);
    }
    for (HFONT font : old)
      DeleteObject(font);
    relayout = true;
  }
  if (window_.revision() != shownRevision_) {
    shownRevision_ = window_.revision();
    const std::wstring caption = wide(window_.caption());
    if (windowText(handle_) != caption) SetWindowTextW(handle_, caption.c_str());
    for (const auto& [control, child] : children_) {
      const app::ControlRecord& record = window_.control(control);
      auto it = shown_.find(control);
      if (it != shown_.end() && it->second == record) continue;
      // New texts, rows, fonts or shown fields change what the option area needs.
      if (record.kind != ControlKind::ResultLine && record.kind != ControlKind::ProgressBar &&
          (it == shown_.end() || it->second.text != record.text || it->second.rows != record.rows ||
           it->second.font != record.font || it->second.visible != record.visible ||
           it->second.textLimit != record.textLimit)) {
        relayout = true;
        fitted_.erase(control);
      }
      apply(record, child);
      shown_[control] = record;
    }
  }
  applyColours();
  if (!relayout) return;
  // A language with longer texts may need a wider window than the one it has.
  RECT client;
  GetClientRect(handle_, &client);
  const int needed = layout();
  if (needed > client.right && !IsZoomed(handle_)) {
    RECT frame;
    GetWindowRect(handle_, &frame);
    resize(frame.right - frame.left + needed - client.right, frame.bottom - frame.top);
  }
}

void StationView::resize(int width, int height) {
  // Centred on its screen, and no larger than what the taskbar leaves of it.
  MONITORINFO screen{};
  screen.cbSize = sizeof screen;
  GetMonitorInfoW(MonitorFromWindow(handle_, MONITOR_DEFAULTTONEAREST), &screen);
  const RECT& work = screen.rcWork;
  const int w = std::min<int>(width, work.right - work.left);
  const int h = std::min<int>(height, work.bottom - work.top);
  SetWindowPos(handle_, nullptr, work.left + (work.right - work.left - w) / 2,
               work.top + (work.bottom - work.top - h) / 2, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

void StationView::applyColours() {
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const int colour = static_cast<int>(window_.readers().slotColour[slot - 1].load());
    if (shownColour_[slot - 1] == colour) continue;
    shownColour_[slot - 1] = colour;
    InvalidateRect(children_.at(resultLineId(slot)), nullptr, TRUE);
  }
}

void StationView::apply(const app::ControlRecord& r, HWND child) {
  applying_ = true;
  EnableWindow(child, r.enabled);
  const HFONT font = isHubBox(r.id) ? fontFor(FontChoice::ArialBlack10) : fontFor(r.font);
  SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  const std::wstring text = wide(r.text);
  switch (r.kind) {
  case ControlKind::CheckBox:
    SendMessageW(child, BM_SETCHECK, r.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    [[fallthrough]];
  case ControlKind::PushButton:
  case ControlKind::Label:
  case ControlKind::GroupBox:
  case ControlKind::ResultLine:
    if (windowText(child) != text) SetWindowTextW(child, text.c_str());
    break;
  case ControlKind::Edit: {
    SendMessageW(child, EM_SETREADONLY, r.readOnly, 0);
    if (windowText(child) != text) {
      // The model may have refused or cut what was typed: keep the caret where it was.
      DWORD start = 0;
      DWORD end = 0;
      SendMessageW(child, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                   reinterpret_cast<LPARAM>(&end));
      SetWindowTextW(child, text.c_str());
      SendMessageW(child, EM_SETSEL, start, end);
    }
    break;
  }
  case ControlKind::DropDown: {
    bool same = SendMessageW(child, CB_GETCOUNT, 0, 0) == static_cast<LRESULT>(r.rows.size());
    for (std::size_t row = 0; same && row < r.rows.size(); ++row) {
      const auto length = SendMessageW(child, CB_GETLBTEXTLEN, row, 0);
      std::wstring item(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
      SendMessageW(child, CB_GETLBTEXT, row, reinterpret_cast<LPARAM>(item.data()));
      item.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
      same = item == wide(r.rows[row]);
    }
    if (!same) {
      SendMessageW(child, CB_RESETCONTENT, 0, 0);
      for (const std::string& row : r.rows)
        SendMessageW(child, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(row).c_str()));
    }
    SendMessageW(child, CB_SETCURSEL,
                 static_cast<WPARAM>(app::shownRow(r, window_.languageOffset())), 0);
    break;
  }
  case ControlKind::Picture: InvalidateRect(child, nullptr, FALSE); break;
  case ControlKind::ProgressBar:
    SendMessageW(child, PBM_SETRANGE32, static_cast<WPARAM>(r.rangeLow), r.rangeHigh);
    SendMessageW(child, PBM_SETPOS, static_cast<WPARAM>(r.position), 0);
    break;
  }
  const bool visible = r.visible && !neverShown(r.id);
  if ((IsWindowVisible(child) != FALSE) != visible)
    ShowWindow(child, visible ? SW_SHOWNA : SW_HIDE);
  applying_ = false;
}

int StationView::widestText(int control) const {
  const app::ControlRecord& r = window_.control(control);
  // A label may show any language's text, each drawn in its language's face.
  const bool labelFont = !isHubBox(control) && r.font == FontChoice::Default;
  int widest = 0;
  for (const std::string& text : app::textsShownWhole(r)) {
    if (!labelFont) {
      widest = std::max(
          widest,
          textWidth(isHubBox(control) ? fontFor(FontChoice::ArialBlack10) : fontFor(r.font), text));
      continue;
    }
    for (HFONT font : languageFonts_)
      widest = std::max(widest, textWidth(font, text));
  }
  return widest;
}

int StationView::naturalWidth(int control) const {
  const app::ControlRecord& r = window_.control(control);
  if (!r.visible) return 0; // hidden fields leave their columns to the shown ones
  auto cached = fitted_.find(control);
  if (cached != fitted_.end()) return cached->second;
  const int text = widestText(control);
  int width = s(60);
  switch (r.kind) {
  case ControlKind::PushButton: width = text + s(20); break;
  case ControlKind::CheckBox: width = text + s(24); break;
  case ControlKind::Label: width = text + s(4); break;
  case ControlKind::GroupBox: width = text + s(24); break;
  case ControlKind::DropDown: width = text + s(32); break;
  case ControlKind::Edit: {
    // Paths show their start and scroll; every other edit holds the most it may be typed.
    if (text == 0) {
      width = control == id::kSettingsPath ? s(120) : s(230);
      break;
    }
    const LRESULT margins = SendMessageW(children_.at(control), EM_GETMARGINS, 0, 0);
    // The sunken border, the edit's own margins, and a caret's width with a pixel to spare.
    width = text + s(4) + LOWORD(margins) + HIWORD(margins) + s(3);
    break;
  }
  default: break;
  }
  fitted_[control] = width;
  return width;
}

void StationView::placeAt(int control, int x, int y, int w, int h) {
  HWND child = children_.at(control);
  // A drop-down list's height is its open list's.
  if (window_.control(control).kind == ControlKind::DropDown) h *= 8;
  SetWindowPos(child, nullptr, x - scroll_.x, y - scroll_.y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE StationView::grid(const std::vector<Cell>& cells, int x, int y, bool place) {
  int columns = 0;
  int rows = 0;
  for (const Cell& c : cells) {
    columns = std::max(columns, c.column + c.span);
    rows = std::max(rows, c.row + 1);
  }
  std::vector<int> width(static_cast<std::size_t>(columns), 0);
  for (const Cell& c : cells)
    if (c.span == 1) width[c.column] = std::max(width[c.column], naturalWidth(c.id));
  const int gap = s(kGap);
  auto spanned = [&](int from, int count) {
    int total = gap * (count - 1);
    for (int i = from; i < from + count; ++i)
      total += width[i];
    return total;
  };
  for (const Cell& c : cells) {
    const int missing = naturalWidth(c.id) - spanned(c.column, c.span);
    if (c.span > 1 && missing > 0) width[c.column + c.span - 1] += missing;
  }
  const int h = s(kRowHeight);
  if (place) {
    for (const Cell& c : cells)
      placeAt(c.id, x + (c.column > 0 ? spanned(0, c.column) + gap : 0), y + c.row * (h + gap),
              spanned(c.column, c.span), h);
  }
  return {spanned(0, columns), rows * h + (rows - 1) * gap};
}

SIZE StationView::group(app::Area area, int x, int y, bool place) {
  std::vector<Cell> cells;
  for (const app::OptionSpec& spec : app::optionTable()) {
    if (spec.cell.area == area)
      cells.push_back({spec.id, spec.cell.row, spec.cell.column, spec.cell.span});
  }
  const int groupId = app::areaFrame(area);
  const int pad = s(10);
  const int title = s(20);
  const SIZE inner = grid(cells, x + pad, y + title, place);
  const SIZE size{std::max<LONG>(inner.cx + 2 * pad, naturalWidth(groupId)),
                  inner.cy + title + pad};
  if (place) placeAt(groupId, x, y, size.cx, size.cy);
  return size;
}

SIZE StationView::arrange(int width, int height, bool place) {
  const int margin = s(8);
  const int gap = s(kGap);
  const int h = s(kRowHeight);
  const int topHeight = s(34);
  const int rowY = margin + (topHeight - h) / 2;
  // The top bar: cells left of the stretching one from the left, the others from the right.
  std::vector<const app::OptionSpec*> bar;
  const app::OptionSpec* stretching = nullptr;
  for (const app::OptionSpec& spec : app::optionTable()) {
    if (spec.cell.area != app::Area::TopBar) continue;
    if (spec.cell.stretch) stretching = &spec;
    bar.push_back(&spec);
  }
  std::sort(bar.begin(), bar.end(),
            [](auto* a, auto* b) { return a->cell.column < b->cell.column; });
  int x = margin;
  auto cell = bar.begin();
  for (; *cell != stretching; ++cell) {
    const int w = naturalWidth((*cell)->id);
    if (place) placeAt((*cell)->id, x, rowY, w, h);
    x += w + gap;
  }
  // The logo fills the bar's height; the rest sit on its row.
  auto isLogo = [&](const app::OptionSpec* spec) {
    return window_.control(spec->id).kind == ControlKind::Picture;
  };
  auto barWidth = [&](const app::OptionSpec* spec) {
    return isLogo(spec) ? s(96) : naturalWidth(spec->id);
  };
  int rightItems = s(12) - gap; // the cells after the stretching one, and the room before them
  for (auto after = cell + 1; after != bar.end(); ++after)
    rightItems += gap + barWidth(*after);
  const int pathWidth = std::max(naturalWidth(stretching->id), width - margin - rightItems - x);
  int needed = x + naturalWidth(stretching->id) + rightItems + margin;
  if (place) {
    placeAt(stretching->id, x, rowY, pathWidth, h);
    int right = x + pathWidth + s(12) - gap;
    for (auto after = cell + 1; after != bar.end(); ++after) {
      const int w = barWidth(*after);
      right += gap;
      placeAt((*after)->id, right, isLogo(*after) ? margin : rowY, w,
              isLogo(*after) ? topHeight : h);
      right += w;
    }
  }

  const int y = margin + topHeight + gap;
  const SIZE general = group(app::Area::GeneralTest, margin, y, place);
  const int cardX = margin + general.cx + gap;
  const SIZE card = group(app::Area::CardInformation, cardX, y, place);
  const int imagesX = cardX + card.cx + gap;
  const SIZE binary = group(app::Area::BinaryImage, imagesX, y, place);
  const SIZE iso = group(app::Area::CdromImage, imagesX, y + binary.cy + gap, place);
  needed = std::max<int>(needed, imagesX + std::max(binary.cx, iso.cx) + margin);
  const int optionsBottom = y + std::max<int>({general.cy, card.cy, binary.cy + gap + iso.cy});
  const int portsTop = optionsBottom + gap;
  const SIZE ports = portGridMinimum();
  if (place) {
    // The port grid keeps to the window's width while it holds the grid, so all seven ports of a
    // hub stay in view as the option area scrolls sideways.
    RECT client;
    GetClientRect(handle_, &client);
    const bool pinned = client.right - 2 * margin >= ports.cx;
    layoutPorts(pinned ? margin + scroll_.x : margin, portsTop,
                pinned ? client.right - 2 * margin : std::max<int>(width - 2 * margin, ports.cx),
                std::max<int>(height - portsTop - margin, ports.cy));
  }
  return {std::max<LONG>(needed, ports.cx + 2 * margin), portsTop + ports.cy + margin};
}

int StationView::layout() {
  if (laying_) {
    // A scroll bar came or went, and the client area with it: lay out again at the end.
    layAgain_ = true;
    return content_.cx;
  }
  laying_ = true;
  SIZE needed{};
  do {
    layAgain_ = false;
    RECT client;
    GetClientRect(handle_, &client);
    needed = arrange(0, 0, false);
    content_ = {std::max(client.right, needed.cx), std::max(client.bottom, needed.cy)};
    setScrollBar(SB_HORZ, content_.cx, client.right, scroll_.x);
    setScrollBar(SB_VERT, content_.cy, client.bottom, scroll_.y);
    if (!layAgain_) arrange(content_.cx, content_.cy, true);
  } while (layAgain_);
  laying_ = false;
  InvalidateRect(handle_, nullptr, TRUE);
  return needed.cx;
}

void StationView::setScrollBar(int bar, int content, int page, LONG& position) {
  position = std::clamp<LONG>(position, 0, std::max(0, content - page));
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMax = content - 1;
  info.nPage = static_cast<UINT>(std::max(page, 0));
  info.nPos = position;
  SetScrollInfo(handle_, bar, &info, TRUE);
}

void StationView::scrollBy(int bar, int code, int wheelSteps) {
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_ALL;
  GetScrollInfo(handle_, bar, &info);
  LONG& position = bar == SB_HORZ ? scroll_.x : scroll_.y;
  const int line = s(kRowHeight);
  switch (code) {
  case SB_LINEUP: position -= line; break;
  case SB_LINEDOWN: position += line; break;
  case SB_PAGEUP: position -= static_cast<LONG>(info.nPage); break;
  case SB_PAGEDOWN: position += static_cast<LONG>(info.nPage); break;
  case SB_THUMBTRACK:
  case SB_THUMBPOSITION: position = info.nTrackPos; break;
  case SB_TOP: position = 0; break;
  case SB_BOTTOM: position = info.nMax; break;
  default: position -= wheelSteps * 3 * line; break;
  }
  layout();
}

SIZE StationView::portGridMinimum() const {
  // A port box holds its title, its picture and two slot lines with room for a message line.
  int title = 0;
  for (int port = 1; port <= kPortCount; ++port)
    title = std::max(title, naturalWidth(portBoxId(port)));
  const int portWidth = std::max({title, s(text::kPictureWidth) + s(12), s(34 + 12 + 96)});
  const int pad = s(6);
  const int gap = s(4);
  return {2 * pad + kPortsPerHub * portWidth + (kPortsPerHub - 1) * gap,
          kHubCount * s(kMinimumHubHeight) + (kHubCount - 1) * gap};
}

void StationView::layoutPorts(int x, int y, int width, int height) {
  const int gap = s(4);
  const int hubHeight = std::max(s(kMinimumHubHeight), (height - 2 * gap) / kHubCount);
  const int title = s(20);
  const int pad = s(6);
  const int portWidth = (width - 2 * pad - (kPortsPerHub - 1) * gap) / kPortsPerHub;
  const int portHeight = hubHeight - title - pad;
  for (int hub = 1; hub <= kHubCount; ++hub) {
    const int hubY = y + (hub - 1) * (hubHeight + gap);
    placeAt(hubBoxId(hub), x, hubY, width, hubHeight);
    for (int i = 0; i < kPortsPerHub; ++i) {
      const int port = (hub - 1) * kPortsPerHub + i + 1;
      const int px = x + pad + i * (portWidth + gap);
      const int py = hubY + title;
      placeAt(portBoxId(port), px, py, portWidth, portHeight);
      const int pictureWidth = std::min(s(text::kPictureWidth), portWidth - s(8));
      placeAt(statusPictureId(port), px + (portWidth - pictureWidth) / 2, py + s(18), pictureWidth,
              s(text::kPictureHeight));
      placeAt(progressBarId(port), px + s(6), py + s(42), portWidth - s(12), s(10));
      const int rowsTop = py + s(56);
      const int rowHeight = (py + portHeight - s(6) - rowsTop - s(3)) / kVisibleLuns;
      for (int lun = 1; lun <= kVisibleLuns; ++lun) {
        const int slot = slotNumber(port, lun);
        const int ly = rowsTop + (lun - 1) * (rowHeight + s(3));
        placeAt(slotLabelId(slot), px + s(6), ly, s(34), std::min(rowHeight, s(24)));
        placeAt(resultLineId(slot), px + s(42), ly, portWidth - s(48), rowHeight);
      }
    }
  }
}

LRESULT CALLBACK StationView::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    static_cast<StationView*>(create->lpCreateParams)->handle_ = window;
  }
  auto* view = reinterpret_cast<StationView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return view->handleMessage(message, wParam, lParam);
}

LRESULT StationView::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
  case WM_COMMAND:
    if (lParam != 0) onCommand(LOWORD(wParam), HIWORD(wParam));
    return 0;
  case WM_SYSCOMMAND:
    if ((wParam & 0xFFF0) == static_cast<WPARAM>(id::kAboutCommand)) {
      window_.onSystemCommand(id::kAboutCommand);
      sync();
      return 0;
    }
    break;
  case kSyncQueued:
    syncQueued_ = false;
    sync();
    return 0;
  case WM_SIZE:
    if (wParam != SIZE_MINIMIZED && !children_.empty()) {
      sync(); // coming back from minimised: draw from the model at once
      layout();
    }
    return 0;
  case WM_DPICHANGED: {
    dpi_ = HIWORD(wParam);
    setIcons();
    fontLanguage_ = -1; // new fonts at the new size on the next sync
    const auto* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(handle_, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The new scale may make the window larger than its screen: kept within it, it scrolls.
    resize(suggested->right - suggested->left, suggested->bottom - suggested->top);
    sync();
    return 0;
  }
  case WM_HSCROLL:
  case WM_VSCROLL: scrollBy(message == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam), 0); return 0;
  case WM_MOUSEWHEEL: scrollBy(SB_VERT, -1, GET_WHEEL_DELTA_WPARAM(wParam) / WHEEL_DELTA); return 0;
  case WM_CTLCOLORSTATIC: {
    const int control = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
    if (!isResultLine(control)) break;
    const int colour = shownColour_[slotOfResultLine(control) - 1];
    HBRUSH brush = slotBrushes_[static_cast<std::size_t>(std::max(colour, 0))];
    LOGBRUSH look{};
    GetObjectW(brush, sizeof look, &look);
    SetBkColor(reinterpret_cast<HDC>(wParam), look.lbColor);
    return reinterpret_cast<LRESULT>(brush);
  }
  case WM_DRAWITEM: {
    const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
    drawPicture(item->hDC, item->rcItem, window_.control(static_cast<int>(wParam)).picture, dpi_,
                faceFor(fontLanguage_));
    return TRUE;
  }
  case WM_CLOSE: DestroyWindow(handle_); return 0;
  case WM_DESTROY:
    window_.setOnChange(nullptr);
    PostQuitMessage(0);
    return 0;
  default: break;
  }
  return DefWindowProcW(handle_, message, wParam, lParam);
}

void StationView::onCommand(int control, int code) {
  if (applying_ || children_.count(control) == 0) return;
  const app::ControlRecord& r = window_.control(control);
  if ((r.kind == ControlKind::PushButton || r.kind == ControlKind::CheckBox) &&
      code == BN_CLICKED) {
    window_.onClicked(control);
  } else if (r.kind == ControlKind::Edit && code == EN_CHANGE) {
    window_.onTextEdited(control, utf8(windowText(children_.at(control))));
    shown_.erase(control); // show the model's text at once
  } else if (r.kind == ControlKind::DropDown && code == CBN_SELCHANGE) {
    const auto row = SendMessageW(children_.at(control), CB_GETCURSEL, 0, 0);
    window_.onRowSelected(control, static_cast<int>(row));
  } else {
    return;
  }
  shownRevision_ = ~0ULL;
  sync();
}

void StationView::showAboutBox() { runAboutDialog(handle_); }

void StationView::setIcons() {
  // The station's icon at the sizes this screen's scale asks for; the system's own without it.
  // 32 and 16 pixels at 100 %, as the system's large and small icons are.
  for (const auto& [which, size96] : {std::pair{ICON_BIG, 32}, {ICON_SMALL, 16}}) {
    const int size = s(size96);
    HANDLE icon = LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(TARVIX_ICON), IMAGE_ICON,
                             size, size, LR_SHARED);
    if (icon == nullptr) icon = LoadIconW(nullptr, IDI_APPLICATION);
    SendMessageW(handle_, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
  }
}

} // namespace tarvix::ui
