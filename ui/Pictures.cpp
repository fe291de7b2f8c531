#include "ui/Pictures.h"

#include "ui/Window.h"

namespace {

constexpr COLORREF Transparent = RGB(255, 0, 255);

COLORREF Blend(COLORREF a, COLORREF b, int Step, int Steps) {
    auto Mix = [&](int x, int y) { return x + (y - x) * Step / (Steps > 1 ? Steps - 1 : 1); };
    return RGB(Mix(GetRValue(a), GetRValue(b)), Mix(GetGValue(a), GetGValue(b)),
               Mix(GetBValue(a), GetBValue(b)));
}

void VerticalGradient(HDC Dc, const RECT& r, COLORREF Top, COLORREF Bottom) {
    const int Height = r.bottom - r.top;
    for (int y = 0; y < Height; ++y) {
        RECT Line{r.left, r.top + y, r.right, r.top + y + 1};
        FillRect(Dc, &Line, UiBrush(Blend(Top, Bottom, y, Height)));
    }
}

// A bitmap of the screen's format with a memory DC selected into it.
struct TCanvas {
    HDC Dc;
    HBITMAP Bitmap;
    HGDIOBJ Old;
    TCanvas(int w, int h) {
        HDC Screen = GetDC(nullptr);
        Dc = CreateCompatibleDC(Screen);
        Bitmap = CreateCompatibleBitmap(Screen, w, h);
        ReleaseDC(nullptr, Screen);
        Old = SelectObject(Dc, Bitmap);
        SetBkMode(Dc, TRANSPARENT);
    }
    HBITMAP Finish() {
        SelectObject(Dc, Old);
        DeleteDC(Dc);
        return Bitmap;
    }
};

void Text(HDC Dc, const char* s, RECT r, HFONT Font, COLORREF Colour, UINT Format) {
    HGDIOBJ Old = SelectObject(Dc, Font);
    SetTextColor(Dc, Colour);
    DrawTextA(Dc, s, -1, &r, Format | DT_NOPREFIX);
    SelectObject(Dc, Old);
}

// A rounded button face in a state's colours.
void ButtonFace(HDC Dc, int w, int h, int State) {
    RECT All{0, 0, w, h};
    FillRect(Dc, &All, UiBrush(Transparent));
    COLORREF Top, Bottom, Border;
    switch (State) {
    case PictureFocused:
        Top = Rgb(0xFFF6DE), Bottom = Rgb(0xF5D27A), Border = Rgb(0xC08A1E);
        break;
    case PicturePushed:
        Top = Rgb(0xC9D4E6), Bottom = Rgb(0xEEF2F8), Border = Rgb(0x4A5E82);
        break;
    case PictureInactive:
        Top = Rgb(0xF2F2F2), Bottom = Rgb(0xE4E4E4), Border = Rgb(0xB4B4B4);
        break;
    default:
        Top = Rgb(0xFFFFFF), Bottom = Rgb(0xD3DBE8), Border = Rgb(0x6F82A3);
        break;
    }
    // The face, clipped to a rounded rectangle, then its border.
    HRGN Round = CreateRoundRectRgn(0, 0, w + 1, h + 1, 7, 7);
    SelectClipRgn(Dc, Round);
    VerticalGradient(Dc, All, Top, Bottom);
    SelectClipRgn(Dc, nullptr);
    FrameRgn(Dc, Round, UiBrush(Border), 1, 1);
    DeleteObject(Round);
}

void Symbol(HDC Dc, int Size, char Kind, COLORREF Colour) {
    const int c = Size / 2, Arm = Size / 5, Thick = Size / 9 + 1;
    HPEN Pen = CreatePen(PS_SOLID, Thick, Colour);
    HGDIOBJ Old = SelectObject(Dc, Pen);
    auto Line = [&](int x0, int y0, int x1, int y1) {
        MoveToEx(Dc, x0, y0, nullptr);
        LineTo(Dc, x1, y1);
    };
    switch (Kind) {
    case '+':
        Line(c - Arm, c, c + Arm + 1, c);
        Line(c, c - Arm, c, c + Arm + 1);
        break;
    case '-':
        Line(c - Arm, c, c + Arm + 1, c);
        break;
    case 'x':
        Line(c - Arm, c - Arm, c + Arm + 1, c + Arm + 1);
        Line(c + Arm, c - Arm, c - Arm - 1, c + Arm + 1);
        break;
    default: {
        RECT r{0, 0, Size, Size};
        Text(Dc, "?", r, UiFont("Arial", Size / 2, true), Colour,
             DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        break;
    }
    }
    SelectObject(Dc, Old);
    DeleteObject(Pen);
}

// A disc with a shine, the product's mark, centred at (x, y).
void DiscMark(HDC Dc, int x, int y, int Radius) {
    HGDIOBJ OldBrush = SelectObject(Dc, UiBrush(Rgb(0xDDE6F3)));
    HPEN Pen = CreatePen(PS_SOLID, 1, Rgb(0x9FB3D1));
    HGDIOBJ OldPen = SelectObject(Dc, Pen);
    Ellipse(Dc, x - Radius, y - Radius, x + Radius, y + Radius);
    SelectObject(Dc, UiBrush(Rgb(0xB9CBE6)));
    const int Ring = Radius * 2 / 3;
    Ellipse(Dc, x - Ring, y - Ring, x + Ring, y + Ring);
    SelectObject(Dc, UiBrush(Rgb(0x1F3B6B)));
    const int Hole = Radius / 4;
    Ellipse(Dc, x - Hole, y - Hole, x + Hole, y + Hole);
    SelectObject(Dc, OldBrush);
    SelectObject(Dc, OldPen);
    DeleteObject(Pen);
}

HBITMAP Banner(int w, int h, const char* Title, const char* Subtitle) {
    TCanvas c(w, h);
    RECT All{0, 0, w, h};
    VerticalGradient(c.Dc, All, Rgb(0x2B4C80), Rgb(0x17305A));
    RECT Edge{0, h - 2, w, h};
    FillRect(c.Dc, &Edge, UiBrush(Rgb(0xF0A830)));
    DiscMark(c.Dc, 30, h / 2 - 1, h / 2 - 10);
    RECT TitleRect{58, 8, w - 60, h / 2 + 4};
    Text(c.Dc, Title, TitleRect, UiFont("Arial", 13, true), RGB(255, 255, 255),
         DT_LEFT | DT_BOTTOM | DT_SINGLELINE);
    RECT SubRect{59, h / 2 + 4, w - 60, h - 4};
    Text(c.Dc, Subtitle, SubRect, UiFont("Arial", 8, true), Rgb(0xC8D6EE),
         DT_LEFT | DT_TOP | DT_SINGLELINE);
    return c.Finish();
}

} // namespace

HIMAGELIST ButtonPictures(int w, int h, const char* Caption) {
    HIMAGELIST List = ImageList_Create(w, h, ILC_COLOR24 | ILC_MASK, 4, 0);
    for (int State = 0; State < 4; ++State) {
        TCanvas c(w, h);
        ButtonFace(c.Dc, w, h, State);
        if (Caption && *Caption) {
            RECT r{0, State == PicturePushed ? 1 : 0, w, h + (State == PicturePushed ? 1 : 0)};
            Text(c.Dc, Caption, r, UiFont("Arial", 8, true),
                 State == PictureInactive ? Rgb(0x9A9A9A) : Rgb(0x1A2A44),
                 DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
        HBITMAP b = c.Finish();
        ImageList_AddMasked(List, b, Transparent);
        DeleteObject(b);
    }
    return List;
}

HIMAGELIST SymbolPictures(int Size, char Kind) {
    HIMAGELIST List = ImageList_Create(Size, Size, ILC_COLOR24 | ILC_MASK, 4, 0);
    for (int State = 0; State < 4; ++State) {
        TCanvas c(Size, Size);
        ButtonFace(c.Dc, Size, Size, State);
        Symbol(c.Dc, Size, Kind, State == PictureInactive ? Rgb(0xA8A8A8) : Rgb(0x24406E));
        HBITMAP b = c.Finish();
        ImageList_AddMasked(List, b, Transparent);
        DeleteObject(b);
    }
    return List;
}

HBITMAP HeaderPicture() {
    return Banner(574, 57, "Corvane Purgex 2005", "Boot Disk Creator");
}

HBITMAP AboutPicture() {
    return Banner(357, 60, "Corvane Purgex 2005", "Boot Disk Creator");
}

HBITMAP SplashPicture() {
    const int w = 351, h = 163;
    TCanvas c(w, h);
    RECT All{0, 0, w, h};
    VerticalGradient(c.Dc, All, Rgb(0x2B4C80), Rgb(0x132848));
    RECT Edge{0, h - 4, w, h};
    FillRect(c.Dc, &Edge, UiBrush(Rgb(0xF0A830)));
    DiscMark(c.Dc, 62, 74, 40);
    RECT TitleRect{118, 40, w - 10, 70};
    Text(c.Dc, "Corvane Purgex 2005", TitleRect, UiFont("Arial", 15, true), RGB(255, 255, 255),
         DT_LEFT | DT_BOTTOM | DT_SINGLELINE);
    RECT SubRect{119, 72, w - 10, 92};
    Text(c.Dc, "Boot Disk Creator", SubRect, UiFont("Arial", 10, true), Rgb(0xC8D6EE),
         DT_LEFT | DT_TOP | DT_SINGLELINE);
    RECT Loading{119, 122, w - 10, 142};
    Text(c.Dc, "Loading, please wait...", Loading, UiFont("Arial", 8), Rgb(0xE0E8F4),
         DT_LEFT | DT_TOP | DT_SINGLELINE);
    HPEN Frame = CreatePen(PS_SOLID, 1, Rgb(0x0C1A30));
    HGDIOBJ OldPen = SelectObject(c.Dc, Frame);
    HGDIOBJ OldBrush = SelectObject(c.Dc, GetStockObject(NULL_BRUSH));
    Rectangle(c.Dc, 0, 0, w, h);
    SelectObject(c.Dc, OldPen);
    SelectObject(c.Dc, OldBrush);
    DeleteObject(Frame);
    return c.Finish();
}

void DrawPicture(HDC Dc, HBITMAP Bitmap, const RECT& r) {
    BITMAP Info;
    GetObjectA(Bitmap, sizeof Info, &Info);
    HDC Mem = CreateCompatibleDC(Dc);
    HGDIOBJ Old = SelectObject(Mem, Bitmap);
    SetStretchBltMode(Dc, HALFTONE);
    StretchBlt(Dc, r.left, r.top, r.right - r.left, r.bottom - r.top, Mem, 0, 0, Info.bmWidth,
               Info.bmHeight, SRCCOPY);
    SelectObject(Mem, Old);
    DeleteDC(Mem);
}
