#include "ui/ListFrame.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/WizardRules.h"

namespace {
enum { IdEdit = 1, IdInc, IdDec, IdCombo };
}

TCreateListFrame::TCreateListFrame(HWND Parent, int Top) {
    RECT Client;
    GetClientRect(Parent, &Client);
    const int Width = Client.right;
    CreateAs("TCreateListFrame", WS_CHILD | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, 0, Top, Width, RowHeight, Parent);
    EditNrDisks = MakeControl(Wnd, "EDIT", "", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP, 24, 5, 25, 15,
                              UiFont("MS Sans Serif", 8), IdEdit);
    SendMessageA(EditNrDisks, EM_SETLIMITTEXT, 2, 0);
    HFONT Arrows = UiFont("Webdings", 7, false, false, SYMBOL_CHARSET);
    // Webdings "5" and "6" are arrows; the row draws them itself, so they
    // show where that font is missing too.
    BtnInc1 = MakeControl(Wnd, "BUTTON", "5", BS_OWNERDRAW, 49, 2, 13, 10, Arrows, IdInc);
    BtnDec1 = MakeControl(Wnd, "BUTTON", "6", BS_OWNERDRAW, 49, 12, 13, 9, Arrows, IdDec);
    Rectangle2 = std::make_unique<TRectangle>(Wnd, 65, 0, 1, RowHeight - 1, SkyBlue);
    Rectangle1 = std::make_unique<TRectangle>(Wnd, 0, RowHeight - 1, Width, 1, SkyBlue);
    Rectangle2->OnMouseDown = [this] { SelectRow(); };
    ComboBox = MakeControl(Wnd, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 68, 1,
                           Width - 68 - 2, 200, UiFont("Arial", 8), IdCombo);
    SendMessageA(ComboBox, CB_SETITEMHEIGHT, WPARAM(-1), 16);
    // Pressing the quantity or the down arrow selects the row; the up arrow
    // does not.
    SetWindowSubclass(EditNrDisks, SelectOnPress, 1, DWORD_PTR(this));
    SetWindowSubclass(BtnDec1, SelectOnPress, 1, DWORD_PTR(this));
}

std::unique_ptr<TCreateListFrame>
TCreateListFrame::CreateRow(const std::string& Quantity, TCreateListFrame** SelectionLink,
                            HWND Parent, const std::vector<TDeviceChoice>& DeviceChoices) {
    int Controls = 0;
    for (HWND c = GetWindow(Parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        ++Controls;
    std::unique_ptr<TCreateListFrame> Row(new TCreateListFrame(Parent, Controls * RowHeight));
    SetWindowTextA(Row->EditNrDisks, Quantity.c_str());
    Row->Choices = DeviceChoices;
    SendMessageA(Row->ComboBox, CB_RESETCONTENT, 0, 0);
    for (const auto& Choice : DeviceChoices)
        SendMessageA(Row->ComboBox, CB_ADDSTRING, 0, LPARAM(Choice.Caption.c_str()));
    SendMessageA(Row->ComboBox, CB_SETCURSEL, 0, 0);
    Row->Link = SelectionLink;
    ShowWindow(Row->Wnd, SW_SHOW);
    return Row;
}

int TCreateListFrame::RowQuantity() {
    const std::string Digits = CleanNumber(WindowText(EditNrDisks));
    int n = 0;
    for (char c : Digits)
        n = std::min(n * 10 + (c - '0'), 99);
    return n;
}

TMediaTarget& TCreateListFrame::RowTarget() {
    auto Index = SendMessageA(ComboBox, CB_GETCURSEL, 0, 0);
    if (Index < 0 || size_t(Index) >= Choices.size()) Index = 0;
    return *Choices[size_t(Index)].Target;
}

void TCreateListFrame::SelectRow() {
    if (!Link || *Link == this) return;
    if (*Link) (*Link)->DeselectRow();
    *Link = this;
    RowColour = SkyBlue;
    RedrawWindow(Wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TCreateListFrame::DeselectRow() {
    if (Link && *Link == this) *Link = nullptr;
    RowColour = RGB(255, 255, 255);
    RedrawWindow(Wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void TCreateListFrame::DestroyRow() {
    if (Link && *Link == this) *Link = nullptr;
    RemoveWindowSubclass(EditNrDisks, SelectOnPress, 1);
    RemoveWindowSubclass(BtnDec1, SelectOnPress, 1);
    DestroyWindow(Wnd);
}

void TCreateListFrame::EditNrDisksChange() {
    const std::string Text = WindowText(EditNrDisks);
    const std::string Clean = CleanNumber(Text);
    if (Clean == Text) return;
    SetWindowTextA(EditNrDisks, Clean.c_str());
    SendMessageA(EditNrDisks, EM_SETSEL, Clean.size(), Clean.size());
}

LRESULT CALLBACK TCreateListFrame::SelectOnPress(HWND Wnd, UINT Msg, WPARAM w, LPARAM l, UINT_PTR,
                                                 DWORD_PTR Row) {
    if (Msg == WM_LBUTTONDOWN) reinterpret_cast<TCreateListFrame*>(Row)->SelectRow();
    return DefSubclassProc(Wnd, Msg, w, l);
}

LRESULT TCreateListFrame::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_COMMAND:
        switch (LOWORD(w)) {
        case IdEdit:
            if (HIWORD(w) == EN_CHANGE) EditNrDisksChange();
            break;
        case IdInc:
            if (HIWORD(w) == BN_CLICKED)
                SetWindowTextA(EditNrDisks, IncNumber(WindowText(EditNrDisks), 99).c_str());
            break;
        case IdDec:
            if (HIWORD(w) == BN_CLICKED)
                SetWindowTextA(EditNrDisks, DecNumber(WindowText(EditNrDisks), 1).c_str());
            break;
        case IdCombo:
            if (HIWORD(w) == CBN_DROPDOWN || HIWORD(w) == CBN_SELCHANGE) SelectRow();
            break;
        }
        return 0;
    case WM_DRAWITEM: {
        const auto* Item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
        RECT r = Item->rcItem;
        const bool Pushed = Item->itemState & ODS_SELECTED;
        DrawFrameControl(Item->hDC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (Pushed ? DFCS_PUSHED : 0));
        const int cx = (r.left + r.right) / 2 + (Pushed ? 1 : 0);
        const int cy = (r.top + r.bottom) / 2 + (Pushed ? 1 : 0);
        const bool Up = Item->CtlID == IdInc;
        const POINT Arrow[3] = {{cx - 3, Up ? cy + 1 : cy - 1},
                                {cx + 3, Up ? cy + 1 : cy - 1},
                                {cx, Up ? cy - 2 : cy + 2}};
        HGDIOBJ OldBrush = SelectObject(Item->hDC, GetStockObject(BLACK_BRUSH));
        HGDIOBJ OldPen = SelectObject(Item->hDC, GetStockObject(BLACK_PEN));
        Polygon(Item->hDC, Arrow, 3);
        SelectObject(Item->hDC, OldBrush);
        SelectObject(Item->hDC, OldPen);
        return TRUE;
    }
    case WM_LBUTTONDOWN: // FrameMouseDown
        SelectRow();
        return 0;
    case WM_SIZE: {
        const int Width = LOWORD(l);
        SetWindowPos(ComboBox, nullptr, 0, 0, Width - 68 - 2, 200, SWP_NOMOVE | SWP_NOZORDER);
        SetWindowPos(Rectangle1->Handle(), nullptr, 0, 0, Width, 1, SWP_NOMOVE | SWP_NOZORDER);
        return 0;
    }
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(HDC(w), &r, UiBrush(RowColour));
        return 1;
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX:
        SetBkColor(HDC(w), RowColour);
        return LRESULT(UiBrush(RowColour));
    }
    return Default(Msg, w, l);
}

TScrollBox::TScrollBox(HWND Parent, int x, int y, int w, int h) {
    CreateAs("TScrollBox", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL, WS_EX_CLIENTEDGE | WS_EX_CONTROLPARENT,
             x, y, w, h, Parent);
    ShowScrollBar(Wnd, SB_VERT, FALSE);
}

void TScrollBox::LayOut(const std::vector<HWND>& NewRows) {
    Rows = NewRows;
    RECT Client;
    GetClientRect(Wnd, &Client);
    const int Total = int(Rows.size()) * TCreateListFrame::RowHeight;
    const bool Scrolls = Total > Client.bottom;
    ShowScrollBar(Wnd, SB_VERT, Scrolls);
    GetClientRect(Wnd, &Client);
    const int MaxPos = std::max(0, Total - int(Client.bottom));
    ScrollPos = std::clamp(ScrollPos, 0, MaxPos);
    SCROLLINFO Info{sizeof Info,         SIF_ALL,   0, std::max(0, Total - 1),
                    UINT(Client.bottom), ScrollPos, 0};
    if (Scrolls) SetScrollInfo(Wnd, SB_VERT, &Info, TRUE);
    for (size_t i = 0; i < Rows.size(); ++i)
        SetWindowPos(Rows[i], nullptr, 0, int(i) * TCreateListFrame::RowHeight - ScrollPos,
                     Client.right, TCreateListFrame::RowHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TScrollBox::ScrollTo(int Pos) {
    ScrollPos = Pos;
    LayOut(Rows);
}

LRESULT TScrollBox::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_VSCROLL: {
        SCROLLINFO Info{sizeof Info, SIF_ALL, 0, 0, 0, 0, 0};
        GetScrollInfo(Wnd, SB_VERT, &Info);
        int Pos = ScrollPos;
        switch (LOWORD(w)) {
        case SB_LINEUP:
            Pos -= TCreateListFrame::RowHeight;
            break;
        case SB_LINEDOWN:
            Pos += TCreateListFrame::RowHeight;
            break;
        case SB_PAGEUP:
            Pos -= int(Info.nPage);
            break;
        case SB_PAGEDOWN:
            Pos += int(Info.nPage);
            break;
        case SB_THUMBTRACK:
        case SB_THUMBPOSITION:
            Pos = Info.nTrackPos;
            break;
        }
        ScrollTo(Pos);
        return 0;
    }
    case WM_MOUSEWHEEL:
        ScrollTo(ScrollPos - GET_WHEEL_DELTA_WPARAM(w) / WHEEL_DELTA * TCreateListFrame::RowHeight);
        return 0;
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(HDC(w), &r, UiBrush(RGB(255, 255, 255)));
        return 1;
    }
    }
    return Default(Msg, w, l);
}
