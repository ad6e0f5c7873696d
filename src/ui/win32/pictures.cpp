#include "ui/win32/pictures.h"

#include "text/pictures.h"
#include "ui/win32/dpi.h"
#include "ui/win32/wide_text.h"

#include <algorithm>
#include <string>

namespace tarvix::ui {
namespace {

COLORREF colour(std::uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

HFONT heavyFont(int points, UINT dpi, const wchar_t* face) {
  return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, FW_HEAVY, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     CLEARTYPE_QUALITY, DEFAULT_PITCH, face);
}

void drawCaption(HDC dc, RECT area, const std::wstring& caption, HFONT font, COLORREF ink) {
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ink);
  DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &area,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
  DeleteObject(font);
}

} // namespace

void drawPicture(HDC dc, const RECT& area, int pictureId, UINT dpi, const wchar_t* face) {
  if (pictureId == text::kLogoPicture) {
    HBRUSH fill = CreateSolidBrush(RGB(0x1f, 0x4e, 0x8c));
    HGDIOBJ oldBrush = SelectObject(dc, fill);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    const int corner = scaled(12, dpi);
    RoundRect(dc, area.left + 1, area.top + 1, area.right, area.bottom, corner, corner);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(fill);
    drawCaption(dc, area, L"Tarvix", heavyFont(14, dpi, L"Arial Black"), RGB(255, 255, 255));
    return;
  }
  FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const auto look = text::pictureLook(pictureId);
  if (!look || look->caption.empty()) return;
  const COLORREF ink = colour(look->rgb);
  HPEN pen = CreatePen(PS_SOLID, 1, ink);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
  Rectangle(dc, area.left, area.top, area.right, area.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
  const std::string caption(look->caption);
  const bool latin = std::all_of(caption.begin(), caption.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  drawCaption(dc, area, wide(caption), heavyFont(10, dpi, latin ? L"Arial Black" : face), ink);
}

} // namespace tarvix::ui
