#pragma once
// One row of the device list: a quantity with up and down arrows and the
// device type. Rows stack in a white scroll box; one row of a list at a time
// is selected, named by the list's shared selection link.

#include <memory>
#include <string>
#include <vector>

#include "image/MediaTarget.h"
#include "ui/Rectangle.h"

// A device type: its caption and the target its media are made on.
struct TDeviceChoice {
    std::string Caption;
    TMediaTarget* Target = nullptr;
};

class TCreateListFrame : public TWindow {
public:
    static constexpr int RowHeight = 24;

    static std::unique_ptr<TCreateListFrame> CreateRow(const std::string& Quantity,
                                                       TCreateListFrame** SelectionLink,
                                                       HWND Parent,
                                                       const std::vector<TDeviceChoice>& Choices);

    int RowQuantity();
    // The chosen target; the first choice while none is chosen.
    TMediaTarget& RowTarget();
    void SelectRow();
    void DeselectRow();
    void DestroyRow();
    bool Selected() const { return RowColour == SkyBlue; }

    HWND EditNrDisks = nullptr, BtnInc1 = nullptr, BtnDec1 = nullptr, ComboBox = nullptr;

private:
    TCreateListFrame(HWND Parent, int Top);
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    static LRESULT CALLBACK SelectOnPress(HWND Wnd, UINT Msg, WPARAM w, LPARAM l, UINT_PTR,
                                          DWORD_PTR Row);
    void EditNrDisksChange();

    std::unique_ptr<TRectangle> Rectangle2, Rectangle1;
    std::vector<TDeviceChoice> Choices;
    TCreateListFrame** Link = nullptr;
    COLORREF RowColour = RGB(255, 255, 255);
};

// The white box the rows stack in; scrolls them when they do not fit.
class TScrollBox : public TWindow {
public:
    TScrollBox(HWND Parent, int x, int y, int w, int h);
    // Places Rows one under the other from the scroll position.
    void LayOut(const std::vector<HWND>& Rows);
    int ScrollPos = 0;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void ScrollTo(int Pos);
    std::vector<HWND> Rows;
};
