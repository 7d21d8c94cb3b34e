// Win32 peers of the toolkit's controls.
#include "toolkit/win32/win32application.h"

#include "toolkit/comctrls.h"
#include "toolkit/extctrls.h"
#include "toolkit/menus.h"
#include "toolkit/peerbase.h"
#include "toolkit/stdctrls.h"

#include <commctrl.h>

#include <cstring>
#include <map>
#include <tuple>
#include <vector>

namespace {

const wchar_t* const FormClass = L"SpectroForm";
const wchar_t* const ImageClass = L"SpectroImage";
constexpr UINT FirstMenuCommand = 1000;

std::wstring W(const UnicodeString& S) { return std::wstring(S.begin(), S.end()); }

class TWin32Peer;

TWin32Peer* PeerOf(HWND Wnd)
{
    return Wnd ? reinterpret_cast<TWin32Peer*>(GetWindowLongPtrW(Wnd, GWLP_USERDATA)) : nullptr;
}

class TWin32Peer : public TPeerBase {
public:
    explicit TWin32Peer(TControl& Control) : TPeerBase(Control) {}
    ~TWin32Peer() override
    {
        if (fWnd) {
            SetWindowLongPtrW(fWnd, GWLP_USERDATA, 0);
            DestroyWindow(fWnd);
        }
        if (fBrush) DeleteObject(fBrush);
    }
    HWND Wnd() const { return fWnd; }
    bool HasNative() const override { return fWnd; }
    void Repaint() override
    {
        if (!fWnd) return;
        InvalidateRect(fWnd, nullptr, FALSE);
        UpdateWindow(fWnd);
    }
    void SetFocus() override
    {
        if (fWnd) ::SetFocus(fWnd);
    }
    bool NaturalSize(TPoint& Size) const override
    {
        Size = MeasureText(fControl.Caption(), fControl.Font());
        return true;
    }
    // A WM_COMMAND notification from this child window.
    virtual void Command(WORD Code) { (void)Code; }
    // A WM_NOTIFY from this child window.
    virtual LRESULT Notify(NMHDR* Header)
    {
        (void)Header;
        return 0;
    }
    // WM_CTLCOLOR*: text colour and background of the control; a text
    // control without a colour of its own takes SystemBack.
    HBRUSH ControlColors(HDC Dc, int SystemBack)
    {
        SetTextColor(Dc, ColorToRGB(fControl.Font().Color));
        const TColor Back = fControl.Color() == clDefault ? (clSystemColor | SystemBack) : fControl.Color();
        SetBkColor(Dc, ColorToRGB(Back));
        if (fControl.Color() == clDefault) return GetSysColorBrush(SystemBack);
        if (!fBrush) fBrush = CreateSolidBrush(ColorToRGB(Back));
        return fBrush;
    }

protected:
    // Creates the child window of the control in its parent's window.
    void CreateChild(const wchar_t* Class, DWORD Style, DWORD ExStyle = 0)
    {
        fWnd = CreateWindowExW(ExStyle, Class, L"", WS_CHILD | WS_CLIPSIBLINGS | Style, fControl.Left(), fControl.Top(),
                               fControl.Width(), fControl.Height(), ParentWnd(), nullptr, GetModuleHandleW(nullptr),
                               nullptr);
        SetWindowLongPtrW(fWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    HWND ParentWnd() const { return Win32WindowOf(fControl.Parent()); }
    void SetGeometry() override
    {
        MoveWindow(fWnd, fControl.Left(), fControl.Top(), fControl.Width(), fControl.Height(), TRUE);
    }
    void SetVisible() override { ShowWindow(fWnd, fControl.Visible() ? SW_SHOWNA : SW_HIDE); }
    void SetEnabled() override { EnableWindow(fWnd, fControl.Enabled()); }
    void ApplyFont() override
    {
        SendMessageW(fWnd, WM_SETFONT, reinterpret_cast<WPARAM>(Win32Font(fControl.Font())), TRUE);
    }
    void ApplyColor() override
    {
        // WM_CTLCOLOR* gives the new colours when the window repaints.
        if (fBrush) DeleteObject(fBrush);
        fBrush = nullptr;
        InvalidateRect(fWnd, nullptr, TRUE);
    }
    void SetText(const UnicodeString& S) { SetWindowTextW(fWnd, W(S).c_str()); }
    UnicodeString Text() const
    {
        const int N = GetWindowTextLengthW(fWnd);
        std::wstring S(static_cast<std::size_t>(N) + 1, L'\0');
        GetWindowTextW(fWnd, S.data(), N + 1);
        S.resize(static_cast<std::size_t>(N));
        return UnicodeString(S.begin(), S.end());
    }

    HWND fWnd = nullptr;
    HBRUSH fBrush = nullptr;
};

// --- form ------------------------------------------------------------------------

WORD VirtualKeyOf(TShortCut S) { return static_cast<WORD>(S & 0xFF); }

class TFormPeer : public TWin32Peer {
public:
    using ControlType = TForm;
    explicit TFormPeer(TForm& Form) : TWin32Peer(Form), fForm(Form)
    {
        auto* Owner = dynamic_cast<TForm*>(Form.Owner());
        HWND OwnerWnd = Owner ? Win32WindowOf(Owner) : nullptr;
        fWnd = CreateWindowExW(0, FormClass, L"", FormStyle, CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, OwnerWnd, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(fWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~TFormPeer() override
    {
        HMENU Menu = GetMenu(fWnd);
        if (fWnd) SetMenu(fWnd, nullptr);
        if (Menu) DestroyMenu(Menu);
        if (fAccelerators) DestroyAcceleratorTable(fAccelerators);
    }
    bool HandleAccelerator(MSG& Msg) { return fAccelerators && TranslateAcceleratorW(fWnd, fAccelerators, &Msg); }
    bool Grab(TBitmap& Picture, TPoint& ClientOrigin) override
    {
        RECT Window{}, Client{};
        GetWindowRect(fWnd, &Window);
        GetClientRect(fWnd, &Client);
        POINT Origin{0, 0};
        ClientToScreen(fWnd, &Origin);
        // The client area and the menu bar above it, as the screen shows them.
        const int Top = Origin.y - (GetMenu(fWnd) ? GetSystemMetrics(SM_CYMENU) : 0);
        const int Width = Client.right, Height = Origin.y + Client.bottom - Top;
        HDC Screen = GetDC(nullptr);
        HDC Dc = CreateCompatibleDC(Screen);
        const BITMAPINFO Info = TopDownDib(Width, Height);
        void* Bits = nullptr;
        HBITMAP Dib = CreateDIBSection(Dc, &Info, DIB_RGB_COLORS, &Bits, nullptr, 0);
        HGDIOBJ Old = SelectObject(Dc, Dib);
        const bool Ok = BitBlt(Dc, 0, 0, Width, Height, Screen, Origin.x, Top, SRCCOPY) != FALSE;
        GdiFlush();
        if (Ok) {
            Picture.SetSize(Width, Height);
            const auto* P = static_cast<const std::uint32_t*>(Bits);
            for (int Y = 0; Y < Height; ++Y)
                for (int X = 0; X < Width; ++X) Picture.Scanline(Y)[X] = P[Y * Width + X] & 0xFFFFFF;
            ClientOrigin = {0, Origin.y - Top};
        }
        SelectObject(Dc, Old);
        DeleteObject(Dib);
        DeleteDC(Dc);
        ReleaseDC(nullptr, Screen);
        (void)Window;
        return Ok;
    }
    static LRESULT CALLBACK WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
    {
        auto* Peer = dynamic_cast<TFormPeer*>(PeerOf(Wnd));
        if (Peer) {
            LRESULT Result = 0;
            if (Peer->Handle(Msg, WParam, LParam, Result)) return Result;
        }
        return DefWindowProcW(Wnd, Msg, WParam, LParam);
    }

protected:
    static constexpr DWORD FormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    static constexpr DWORD SizeableStyle = WS_THICKFRAME | WS_MAXIMIZEBOX;

    DWORD Style() const { return fForm.BorderStyle() == bsSizeable ? FormStyle | SizeableStyle : FormStyle; }
    // The window's outer size for a client area of W x H.
    SIZE OuterSize(int Width, int Height) const
    {
        RECT R{0, 0, Width, Height};
        AdjustWindowRectEx(&R, Style(), GetMenu(fWnd) != nullptr, 0);
        return {R.right - R.left, R.bottom - R.top};
    }

    bool Handle(UINT Msg, WPARAM WParam, LPARAM LParam, LRESULT& Result)
    {
        switch (Msg) {
        case WM_CLOSE:
            // The form decides: Close hides it (or ends the program).
            UserAction([this] { fForm.Close(); });
            return true;
        case WM_COMMAND:
            if (LParam) {
                if (auto* Child = PeerOf(reinterpret_cast<HWND>(LParam))) Child->Command(HIWORD(WParam));
            } else {
                MenuCommand(LOWORD(WParam));
            }
            return true;
        case WM_NOTIFY: {
            auto* Header = reinterpret_cast<NMHDR*>(LParam);
            if (auto* Child = PeerOf(Header->hwndFrom)) {
                Result = Child->Notify(Header);
                return true;
            }
            return false;
        }
        case WM_SIZE:
            // The user resized a sizeable window: the form takes its new client size.
            if (fForm.BorderStyle() == bsSizeable && !fSettingGeometry && WParam != SIZE_MINIMIZED) {
                fSettingGeometry = true;
                UserAction([&] { fForm.SetClientSize(LOWORD(LParam), HIWORD(LParam)); });
                fSettingGeometry = false;
            }
            return false;
        case WM_GETMINMAXINFO:
            if (fForm.BorderStyle() == bsSizeable) {
                const SIZE Min = OuterSize(fForm.Constraints().MinWidth, fForm.Constraints().MinHeight);
                reinterpret_cast<MINMAXINFO*>(LParam)->ptMinTrackSize = {Min.cx, Min.cy};
                return true;
            }
            return false;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            if (auto* Child = PeerOf(reinterpret_cast<HWND>(LParam))) {
                const int Back = Msg == WM_CTLCOLORSTATIC ? COLOR_BTNFACE : COLOR_WINDOW;
                Result = reinterpret_cast<LRESULT>(Child->ControlColors(reinterpret_cast<HDC>(WParam), Back));
                return true;
            }
            return false;
        default: return false;
        }
    }
    void SetGeometry() override
    {
        if (fSettingGeometry) return;
        // Left, Top: the window; width and height: the client area (menu bar outside).
        const SIZE Outer = OuterSize(fForm.ClientWidth(), fForm.ClientHeight());
        fSettingGeometry = true;
        MoveWindow(fWnd, fForm.Left(), fForm.Top(), Outer.cx, Outer.cy, TRUE);
        fSettingGeometry = false;
    }
    void SetBorderStyle()
    {
        const auto Old = static_cast<DWORD>(GetWindowLongPtrW(fWnd, GWL_STYLE));
        const DWORD New = (Old & ~SizeableStyle) | (Style() & SizeableStyle);
        if (New == Old) return;
        SetWindowLongPtrW(fWnd, GWL_STYLE, static_cast<LONG_PTR>(New));
        // The new frame keeps the outer size for a moment: not the user's size.
        fSettingGeometry = true;
        SetWindowPos(fWnd, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        fSettingGeometry = false;
        SetGeometry();
    }
    void SetVisible() override
    {
        if (!fForm.Visible()) {
            ShowWindow(fWnd, SW_HIDE);
            return;
        }
        ShowWindow(fWnd, SW_SHOW);
        SetForegroundWindow(fWnd);
        UpdateWindow(fWnd);
    }
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption)
            SetText(fForm.Caption());
        else if (What == TControlChange::Icon && !fForm.Icon().empty()) {
            HICON Icon = LoadIconW(GetModuleHandleW(nullptr), W(fForm.Icon()).c_str());
            if (Icon) {
                SendMessageW(fWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(Icon));
                SendMessageW(fWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(Icon));
            }
        } else if (What == TControlChange::Menu) {
            BuildMenu();
        } else if (What == TControlChange::BorderStyle) {
            SetBorderStyle();
        }
    }
    void BuildMenu()
    {
        HMENU Old = GetMenu(fWnd);
        fCommands.clear();
        std::vector<ACCEL> Accels;
        HMENU Bar = nullptr;
        if (TMainMenu* Menu = fForm.Menu()) {
            Bar = CreateMenu();
            for (int I = 0; I < Menu->Items()->Count(); ++I) {
                TMenuItem* Top = Menu->Items()->Items(I);
                if (Top->Count() == 0) {
                    AppendItem(Bar, Top, Accels);
                    continue;
                }
                HMENU Sub = CreatePopupMenu();
                for (int K = 0; K < Top->Count(); ++K) AppendItem(Sub, Top->Items(K), Accels);
                AppendMenuW(Bar, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(Sub), W(Top->Caption()).c_str());
            }
        }
        SetMenu(fWnd, Bar);
        if (Old) DestroyMenu(Old);
        if (fAccelerators) DestroyAcceleratorTable(fAccelerators);
        fAccelerators =
            Accels.empty() ? nullptr : CreateAcceleratorTableW(Accels.data(), static_cast<int>(Accels.size()));
        SetGeometry();  // the menu bar changes the window's outer size
    }
    void AppendItem(HMENU Menu, TMenuItem* Item, std::vector<ACCEL>& Accels)
    {
        const UINT Id = FirstMenuCommand + static_cast<UINT>(fCommands.size());
        fCommands.push_back(Item);
        UnicodeString Text = Item->Caption();
        if (Item->ShortCut() != scNone) {
            Text += u'\t';
            Text += ShortCutToText(Item->ShortCut());
            BYTE Flags = FVIRTKEY;
            if (Item->ShortCut() & scCtrl) Flags |= FCONTROL;
            if (Item->ShortCut() & scAlt) Flags |= FALT;
            if (Item->ShortCut() & scShift) Flags |= FSHIFT;
            Accels.push_back(ACCEL{Flags, VirtualKeyOf(Item->ShortCut()), static_cast<WORD>(Id)});
        }
        AppendMenuW(Menu, MF_STRING | (Item->Enabled() ? 0u : static_cast<UINT>(MF_GRAYED)), Id, W(Text).c_str());
    }
    void MenuCommand(UINT Id)
    {
        if (Id < FirstMenuCommand || Id - FirstMenuCommand >= fCommands.size()) return;
        fCommands[Id - FirstMenuCommand]->Click();
    }

private:
    TForm& fForm;
    std::vector<TMenuItem*> fCommands;
    HACCEL fAccelerators = nullptr;
    bool fSettingGeometry = false;  // WM_SIZE of our own MoveWindow, not the user's
};

// --- simple controls ---------------------------------------------------------------

class TLabelPeer : public TWin32Peer {
public:
    using ControlType = TLabel;
    explicit TLabelPeer(TControl& C, DWORD Style = SS_LEFT | SS_NOPREFIX) : TWin32Peer(C)
    {
        CreateChild(L"STATIC", Style);
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption) SetText(fControl.Caption());
    }
};

class TPanelPeer : public TLabelPeer {
public:
    using ControlType = TPanel;
    explicit TPanelPeer(TPanel& P) : TLabelPeer(P, SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX) {}
    bool NaturalSize(TPoint&) const override { return false; }
};

class TButtonPeer : public TWin32Peer {
public:
    using ControlType = TButton;
    explicit TButtonPeer(TButton& B) : TWin32Peer(B), fButton(B) { CreateChild(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP); }
    void Command(WORD Code) override
    {
        if (Code == BN_CLICKED) fButton.Click();
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Caption) SetText(fButton.Caption());
    }

private:
    TButton& fButton;
};

class TCheckBoxPeer : public TWin32Peer {
public:
    using ControlType = TCheckBox;
    explicit TCheckBoxPeer(TCheckBox& B) : TWin32Peer(B), fBox(B)
    {
        CreateChild(L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP);
    }
    void Command(WORD Code) override
    {
        if (Code == BN_CLICKED)
            UserAction([this] { fBox.SetChecked(SendMessageW(fWnd, BM_GETCHECK, 0, 0) == BST_CHECKED); });
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What != TControlChange::Caption) return;
        SetText(fBox.Caption());
        SendMessageW(fWnd, BM_SETCHECK, fBox.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
    }

private:
    TCheckBox& fBox;
};

// --- edit ------------------------------------------------------------------------------

class TEditPeer : public TWin32Peer {
public:
    using ControlType = TEdit;
    explicit TEditPeer(TEdit& E) : TWin32Peer(E), fEdit(E)
    {
        CreateChild(L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE);
        SetWindowSubclass(fWnd, EditProc, 0, reinterpret_cast<DWORD_PTR>(this));
    }
    ~TEditPeer() override { RemoveWindowSubclass(fWnd, EditProc, 0); }
    void Command(WORD Code) override
    {
        // Edits that did not come through a typed character (paste, delete).
        if (Code != EN_CHANGE || fMirroring) return;
        DWORD Start = 0, End = 0;
        SendMessageW(fWnd, EM_GETSEL, reinterpret_cast<WPARAM>(&Start), reinterpret_cast<LPARAM>(&End));
        fEdit.EditedByUser(Text(), static_cast<int>(End));
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::ReadOnly) SendMessageW(fWnd, EM_SETREADONLY, fEdit.ReadOnly(), 0);
        if (What != TControlChange::Caption && What != TControlChange::Selection) return;
        fMirroring = true;
        if (Text() != fEdit.Text()) SetText(fEdit.Text());
        SendMessageW(fWnd, EM_SETSEL, static_cast<WPARAM>(fEdit.SelStart()),
                     static_cast<LPARAM>(fEdit.SelStart() + fEdit.SelLength()));
        fMirroring = false;
    }
    static LRESULT CALLBACK EditProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam, UINT_PTR, DWORD_PTR Data)
    {
        auto* Peer = reinterpret_cast<TEditPeer*>(Data);
        if (Msg == WM_CHAR) {
            const auto Ch = static_cast<char16_t>(WParam);
            // Control combinations (copy, paste, select all) stay the edit's own.
            if (Ch >= 32 || Ch == 8 || Ch == 9 || Ch == 13) {
                DWORD Start = 0, End = 0;
                SendMessageW(Wnd, EM_GETSEL, reinterpret_cast<WPARAM>(&Start), reinterpret_cast<LPARAM>(&End));
                Peer->fEdit.SetSelection(static_cast<int>(Start), static_cast<int>(End - Start));
                UserAction([&] { Peer->fEdit.PerformChar(Ch); });
                return 0;
            }
        } else if (Msg == WM_KEYUP) {
            Peer->fEdit.PerformKeyUp(static_cast<std::uint16_t>(WParam));
        }
        return DefSubclassProc(Wnd, Msg, WParam, LParam);
    }

private:
    TEdit& fEdit;
    bool fMirroring = false;
};

// --- lists ---------------------------------------------------------------------------------

class TListBoxPeer : public TWin32Peer {
public:
    using ControlType = TListBox;
    explicit TListBoxPeer(TListBox& L) : TWin32Peer(L), fList(L)
    {
        CreateChild(L"LISTBOX", WS_VSCROLL | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY | WS_TABSTOP, WS_EX_CLIENTEDGE);
    }

protected:
    void Mirror(TControlChange What, int Index) override
    {
        const int Count = static_cast<int>(SendMessageW(fWnd, LB_GETCOUNT, 0, 0));
        if (What == TControlChange::ItemAdded && Index == Count) {
            SendMessageW(fWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(fList.Items().Strings(Index)).c_str()));
        } else if (What == TControlChange::Items || What == TControlChange::ItemAdded) {
            SendMessageW(fWnd, WM_SETREDRAW, FALSE, 0);
            SendMessageW(fWnd, LB_RESETCONTENT, 0, 0);
            SendMessageW(fWnd, LB_SETITEMHEIGHT, 0, fList.ItemHeight());
            for (int I = 0; I < fList.Count(); ++I)
                SendMessageW(fWnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(fList.Items().Strings(I)).c_str()));
            SendMessageW(fWnd, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(fWnd, nullptr, TRUE);
        }
    }

private:
    TListBox& fList;
};

class TComboBoxPeer : public TWin32Peer {
public:
    using ControlType = TComboBox;
    explicit TComboBoxPeer(TComboBox& C) : TWin32Peer(C), fCombo(C)
    {
        CreateChild(L"COMBOBOX",
                    WS_VSCROLL | WS_TABSTOP | (C.Style() == csDropDownList ? CBS_DROPDOWNLIST : CBS_DROPDOWN));
    }
    void Command(WORD Code) override
    {
        if (Code == CBN_SELCHANGE) fCombo.PickItem(static_cast<int>(SendMessageW(fWnd, CB_GETCURSEL, 0, 0)));
    }

protected:
    void SetGeometry() override
    {
        // The window's height includes the dropped-down list.
        MoveWindow(fWnd, fControl.Left(), fControl.Top(), fControl.Width(), fControl.Height() + 200, TRUE);
        FitHeight();
    }
    void ApplyFont() override
    {
        TWin32Peer::ApplyFont();
        FitHeight();
    }
    // Windows sizes the closed box from its font (Liberation Sans under Wine
    // makes it lower than Windows' own fonts): its selection field is set so
    // that the box fills its bounds with any font.
    void FitHeight()
    {
        RECT Box{};
        GetWindowRect(fWnd, &Box);
        const LRESULT Field = SendMessageW(fWnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        if (Field == CB_ERR) return;
        const int Wanted = fControl.Height() - (Box.bottom - Box.top - static_cast<int>(Field));
        if (Wanted > 0 && Wanted != Field)
            SendMessageW(fWnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), static_cast<LPARAM>(Wanted));
    }
    void Mirror(TControlChange What, int Index) override
    {
        const int Count = static_cast<int>(SendMessageW(fWnd, CB_GETCOUNT, 0, 0));
        if (What == TControlChange::ItemAdded && Index == Count) {
            SendMessageW(fWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(fCombo.Items().Strings(Index)).c_str()));
        } else if (What == TControlChange::Items || What == TControlChange::ItemAdded) {
            SendMessageW(fWnd, CB_RESETCONTENT, 0, 0);
            for (int I = 0; I < fCombo.Count(); ++I)
                SendMessageW(fWnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(fCombo.Items().Strings(I)).c_str()));
        }
        if (SendMessageW(fWnd, CB_GETCURSEL, 0, 0) != fCombo.ItemIndex())
            SendMessageW(fWnd, CB_SETCURSEL, static_cast<WPARAM>(fCombo.ItemIndex()), 0);
    }

private:
    TComboBox& fCombo;
};

// --- image ------------------------------------------------------------------------------------

class TImagePeer : public TWin32Peer {
public:
    using ControlType = TImage;
    explicit TImagePeer(TImage& I) : TWin32Peer(I), fImage(I) { CreateChild(ImageClass, 0); }
    static LRESULT CALLBACK WndProc(HWND Wnd, UINT Msg, WPARAM WParam, LPARAM LParam)
    {
        if (Msg == WM_PAINT) {
            PAINTSTRUCT Paint;
            HDC Dc = BeginPaint(Wnd, &Paint);
            if (auto* Peer = dynamic_cast<TImagePeer*>(PeerOf(Wnd))) Peer->Paint(Dc);
            EndPaint(Wnd, &Paint);
            return 0;
        }
        if (Msg == WM_ERASEBKGND) return 1;
        if (Msg == WM_MOUSEMOVE || Msg == WM_LBUTTONDOWN || Msg == WM_LBUTTONUP || Msg == WM_RBUTTONDOWN ||
            Msg == WM_RBUTTONUP) {
            if (auto* Peer = dynamic_cast<TImagePeer*>(PeerOf(Wnd))) Peer->Mouse(Msg, WParam, LParam);
            return 0;
        }
        return DefWindowProcW(Wnd, Msg, WParam, LParam);
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What == TControlChange::Picture) InvalidateRect(fWnd, nullptr, FALSE);
    }
    void Mouse(UINT Msg, WPARAM WParam, LPARAM LParam)
    {
        // Signed coordinates: a captured drag reports points left of and above the window.
        const int X = static_cast<short>(LOWORD(LParam)), Y = static_cast<short>(HIWORD(LParam));
        TShiftState Shift;
        if (WParam & MK_SHIFT) Shift << ssShift;
        if (WParam & MK_CONTROL) Shift << ssCtrl;
        const TMouseButton Button = (Msg == WM_RBUTTONDOWN || Msg == WM_RBUTTONUP) ? mbRight : mbLeft;
        if (Msg == WM_MOUSEMOVE) {
            fImage.MouseMove(Shift, X, Y);
        } else if (Msg == WM_LBUTTONDOWN || Msg == WM_RBUTTONDOWN) {
            SetCapture(fWnd);
            fImage.MouseDown(Button, Shift, X, Y);
        } else {
            ReleaseCapture();
            fImage.MouseUp(Button, Shift, X, Y);
        }
    }
    void Paint(HDC Dc)
    {
        const TBitmap& B = fImage.Picture();
        if (B.Empty()) {
            // Blank: the parent's background shows through.
            RECT R;
            GetClientRect(fWnd, &R);
            FillRect(Dc, &R, GetSysColorBrush(COLOR_BTNFACE));
            return;
        }
        // The canvas's pixels are the bitmap's 32-bit top-down DIB rows.
        const BITMAPINFO Info = TopDownDib(B.Width(), B.Height());
        SetDIBitsToDevice(Dc, 0, 0, static_cast<DWORD>(B.Width()), static_cast<DWORD>(B.Height()), 0, 0, 0,
                          static_cast<UINT>(B.Height()), B.Scanline(0), &Info, DIB_RGB_COLORS);
    }

private:
    TImage& fImage;
};

// --- up-down -------------------------------------------------------------------------------------

class TUpDownPeer : public TWin32Peer {
public:
    using ControlType = TUpDown;
    explicit TUpDownPeer(TUpDown& U) : TWin32Peer(U), fUpDown(U) { CreateChild(UPDOWN_CLASSW, UDS_ARROWKEYS); }
    LRESULT Notify(NMHDR* Header) override
    {
        if (Header->code != UDN_DELTAPOS) return 0;
        // The control's own position is not used: the toolkit steps the buddy.
        const auto* Delta = reinterpret_cast<NMUPDOWN*>(Header);
        fUpDown.ClickButton(Delta->iDelta > 0 ? btNext : btPrev);
        return 1;
    }

protected:
    void Mirror(TControlChange What, int) override
    {
        if (What != TControlChange::Range) return;
        SendMessageW(fWnd, UDM_SETRANGE32, static_cast<WPARAM>(fUpDown.Min()), static_cast<LPARAM>(fUpDown.Max()));
        SendMessageW(fWnd, UDM_SETPOS32, 0, static_cast<LPARAM>(fUpDown.Position()));
    }

private:
    TUpDown& fUpDown;
};

void RegisterClasses()
{
    static bool Done = false;
    if (Done) return;
    Done = true;
    WNDCLASSW Form{};
    Form.lpfnWndProc = TFormPeer::WndProc;
    Form.hInstance = GetModuleHandleW(nullptr);
    Form.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    Form.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    Form.lpszClassName = FormClass;
    RegisterClassW(&Form);
    WNDCLASSW Image{};
    Image.lpfnWndProc = TImagePeer::WndProc;
    Image.hInstance = Form.hInstance;
    Image.hCursor = Form.hCursor;
    Image.lpszClassName = ImageClass;
    RegisterClassW(&Image);
}

class TWin32PeerFactory : public TPeerFactory {
public:
    std::unique_ptr<TControlPeer> CreatePeer(TControl& Control) override
    {
        RegisterClasses();
        return CreatePeerOf<TFormPeer, TPanelPeer, TLabelPeer, TButtonPeer, TEditPeer, TCheckBoxPeer, TListBoxPeer,
                            TComboBoxPeer, TImagePeer, TUpDownPeer>(Control);
    }
};

}  // namespace

TPeerFactory& Win32PeerFactory()
{
    static TWin32PeerFactory Factory;
    return Factory;
}

HWND Win32WindowOf(const TControl* Control)
{
    auto* P = Control ? dynamic_cast<TWin32Peer*>(Control->Peer()) : nullptr;
    return P ? P->Wnd() : nullptr;
}

bool Win32TranslateAccelerator(HWND Wnd, MSG& Msg)
{
    // The accelerators of the top-level form the message is meant for.
    HWND Top = Wnd ? GetAncestor(Wnd, GA_ROOT) : nullptr;
    auto* Form = dynamic_cast<TFormPeer*>(PeerOf(Top));
    return Form && Form->HandleAccelerator(Msg);
}

BITMAPINFO TopDownDib(int Width, int Height)
{
    BITMAPINFO Info{};
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = Width;
    Info.bmiHeader.biHeight = -Height;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 32;
    Info.bmiHeader.biCompression = BI_RGB;
    return Info;
}

HFONT Win32Font(const TFont& Font)
{
    static std::map<std::tuple<std::u16string, int, int>, HFONT> Fonts;
    const int Weight = Font.Style.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
    const auto Key = std::make_tuple(Font.Name, Font.Height, Weight);
    auto It = Fonts.find(Key);
    if (It != Fonts.end()) return It->second;
    // A negative height asks for the character height in pixels.
    HFONT F = CreateFontW(-Font.Height, 0, 0, 0, Weight, Font.Style.Contains(fsItalic),
                          Font.Style.Contains(fsUnderline), FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, W(Font.Name).c_str());
    Fonts.emplace(Key, F);
    return F;
}
