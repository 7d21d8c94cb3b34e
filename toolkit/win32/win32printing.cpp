// Pages on Windows: the system's print dialog and a GDI printer device
// context, landscape.
#include "toolkit/win32/win32application.h"

#include <cderr.h>
#include <commdlg.h>

#include <algorithm>

namespace {

COLORREF Gdi(TColor C) { return static_cast<COLORREF>(ColorToRGB(C)); }

class TGdiPage : public TPageCanvas {
public:
    explicit TGdiPage(HDC Dc)
        : fDc(Dc),
          fWidth(GetDeviceCaps(Dc, HORZRES)),
          fHeight(GetDeviceCaps(Dc, VERTRES)),
          fDpi(GetDeviceCaps(Dc, LOGPIXELSX))
    {
        SetBkMode(fDc, TRANSPARENT);
    }
    int PageWidth() const override { return fWidth; }
    int PageHeight() const override { return fHeight; }
    int DotsPerInch() const override { return fDpi; }
    void Rectangle(int X1, int Y1, int X2, int Y2) override
    {
        HPEN pen = CreatePen(PS_SOLID, LineWidth(), Gdi(Pen.Color));
        HBRUSH brush = CreateSolidBrush(Gdi(Brush.Color));
        HGDIOBJ oldPen = SelectObject(fDc, pen), oldBrush = SelectObject(fDc, brush);
        ::Rectangle(fDc, X1, Y1, X2, Y2);
        SelectObject(fDc, oldPen);
        SelectObject(fDc, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
    }
    void FillRect(const TRect& R) override
    {
        HBRUSH brush = CreateSolidBrush(Gdi(Brush.Color));
        const RECT r{R.Left, R.Top, R.Right, R.Bottom};
        ::FillRect(fDc, &r, brush);
        DeleteObject(brush);
    }
    void TextOut(int X, int Y, const UnicodeString& Text) override
    {
        HFONT font = MakeFont();
        HGDIOBJ old = SelectObject(fDc, font);
        SetTextColor(fDc, Gdi(Font.Color));
        TextOutW(fDc, X, Y, reinterpret_cast<LPCWSTR>(Text.c_str()), static_cast<int>(Text.size()));
        SelectObject(fDc, old);
        DeleteObject(font);
    }
    TPoint TextExtent(const UnicodeString& Text) const override
    {
        HFONT font = MakeFont();
        HGDIOBJ old = SelectObject(fDc, font);
        SIZE size{};
        GetTextExtentPoint32W(fDc, reinterpret_cast<LPCWSTR>(Text.c_str()), static_cast<int>(Text.size()), &size);
        SelectObject(fDc, old);
        DeleteObject(font);
        return {size.cx, size.cy};
    }

protected:
    void Line(int X1, int Y1, int X2, int Y2) override
    {
        HPEN pen = CreatePen(PS_SOLID, LineWidth(), Gdi(Pen.Color));
        HGDIOBJ old = SelectObject(fDc, pen);
        MoveToEx(fDc, X1, Y1, nullptr);
        ::LineTo(fDc, X2, Y2);
        SelectObject(fDc, old);
        DeleteObject(pen);
    }

private:
    // Lines about 0.15 mm wide, whatever the resolution.
    int LineWidth() const { return std::max(1, fDpi / 170); }
    HFONT MakeFont() const
    {
        return CreateFontW(-std::max(1, Font.Height), 0, 0, 0, Font.Style.Contains(fsBold) ? FW_BOLD : FW_NORMAL, 0, 0,
                           0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH,
                           L"Arial");
    }
    HDC fDc;
    int fWidth, fHeight, fDpi;
};

[[noreturn]] void DialogFailed(DWORD Error)
{
    if (Error == PDERR_NODEFAULTPRN || Error == PDERR_NODEVICES) throw Exception(u"Kein Drucker eingerichtet.");
    throw Exception(Format(u"Der Druckdialog lässt sich nicht öffnen (Fehler %x).", {static_cast<int>(Error)}));
}

}  // namespace

bool TWin32Application::PrintPage(const UnicodeString& Title, const TPageDrawer& Draw)
{
    // Without a printer the dialog would show the system's own warning (Wine's
    // in English) and end as if cancelled: the default printer first.
    PRINTDLGW pd{};
    pd.lStructSize = sizeof pd;
    pd.Flags = PD_RETURNDEFAULT;
    if (!PrintDlgW(&pd)) DialogFailed(CommDlgExtendedError());
    // The dialog starts on the default printer.
    pd.hwndOwner = GetActiveWindow();
    pd.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION;
    if (!PrintDlgW(&pd)) {
        const DWORD error = CommDlgExtendedError();
        if (pd.hDevMode) GlobalFree(pd.hDevMode);
        if (pd.hDevNames) GlobalFree(pd.hDevNames);
        if (error != 0) DialogFailed(error);
        return false;
    }
    // Landscape: the chosen printer's settings turned and applied to its context.
    if (pd.hDevMode) {
        if (auto* mode = static_cast<DEVMODEW*>(GlobalLock(pd.hDevMode))) {
            mode->dmOrientation = DMORIENT_LANDSCAPE;
            mode->dmFields |= DM_ORIENTATION;
            ResetDCW(pd.hDC, mode);
            GlobalUnlock(pd.hDevMode);
        }
    }
    DOCINFOW doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = reinterpret_cast<LPCWSTR>(Title.c_str());
    bool printed = false;
    if (StartDocW(pd.hDC, &doc) > 0) {
        if (StartPage(pd.hDC) > 0) {
            TGdiPage page(pd.hDC);
            Draw(page);
            printed = EndPage(pd.hDC) > 0;
        }
        if (printed)
            EndDoc(pd.hDC);
        else
            AbortDoc(pd.hDC);
    }
    DeleteDC(pd.hDC);
    if (pd.hDevMode) GlobalFree(pd.hDevMode);
    if (pd.hDevNames) GlobalFree(pd.hDevNames);
    if (!printed) throw Exception(u"Die Seite konnte nicht gedruckt werden.");
    return true;
}
