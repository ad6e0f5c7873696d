// Draws the station's pictures with GDI: the status pictures (a coloured word or phrase on white,
// one set per language) and the logo, scaled into `area`.
#pragma once

#include <windows.h>

namespace tarvix::ui {

// `face` draws captions the heavy Latin face cannot (the Chinese ones).
void drawPicture(HDC dc, const RECT& area, int pictureId, UINT dpi, const wchar_t* face);

} // namespace tarvix::ui
