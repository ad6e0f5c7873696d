#include "ui/win32/about_dialog.h"

#include "ui/about_box.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarvix::ui {
namespace {

// Predefined window classes of a dialog template, by atom.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
constexpr int kIconControl = 100;
constexpr int kLineControl = 101;

// An extended dialog template (DLGTEMPLATEEX and its DLGITEMTEMPLATEEX items) as words.
class Template {
public:
  Template(const std::wstring& caption, int items, RECT units) {
    put(1);      // dlgVer
    put(0xFFFF); // signature
    put32(0);    // helpID
    put32(0);    // exStyle
    put32(DS_SHELLFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    put(static_cast<WORD>(items));
    putRect(units);
    put(0); // no menu
    put(0); // the dialog's own class
    putText(caption);
    put(8);         // points
    put(FW_NORMAL); // weight
    put(0);         // italic, charset
    putText(L"MS Shell Dlg");
  }

  // One item; `title` an ordinal (a resource id) when `ordinal` is set.
  void item(DWORD style, RECT units, int id, WORD type, const std::wstring& title,
            WORD ordinal = 0) {
    if (words_.size() % 2 != 0) put(0); // items start on a DWORD
    put32(0);                           // helpID
    put32(0);                           // exStyle
    put32(WS_CHILD | WS_VISIBLE | style);
    putRect(units);
    put32(static_cast<DWORD>(id));
    put(0xFFFF);
    put(type);
    if (ordinal != 0) {
      put(0xFFFF);
      put(ordinal);
    } else {
      putText(title);
    }
    put(0); // no creation data
  }

  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
  void put(WORD w) { words_.push_back(w); }
  void put32(DWORD d) {
    put(LOWORD(d));
    put(HIWORD(d));
  }
  void putRect(RECT r) {
    for (LONG v : {r.left, r.top, r.right, r.bottom})
      put(static_cast<WORD>(static_cast<std::int16_t>(v)));
  }
  void putText(const std::wstring& text) {
    for (wchar_t c : text)
      put(static_cast<WORD>(c));
    put(0);
  }

  std::vector<WORD> words_;
};

INT_PTR CALLBACK aboutProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

} // namespace

void runAboutDialog(HWND owner) {
  // In dialog units: the icon, its line beside it, the button below on the right.
  Template about(wide(kAboutCaption), 3, {0, 0, 170, 62});
  about.item(SS_ICON, {14, 14, 21, 20}, kIconControl, kStaticClass, {}, TARVIX_ICON);
  about.item(SS_LEFT | SS_NOPREFIX, {42, 14, 114, 8}, kLineControl, kStaticClass, wide(kAboutLine));
  about.item(BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, {113, 41, 50, 14}, IDOK, kButtonClass,
             wide(kAboutButton));
  DialogBoxIndirectParamW(GetModuleHandleW(nullptr), about.get(), owner, aboutProcedure, 0);
}

} // namespace tarvix::ui
