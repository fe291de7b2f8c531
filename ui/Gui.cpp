#include "ui/Gui.h"

#include <algorithm>
#include <commctrl.h>

#include "platform/Platform.h"
#include "ui/Pictures.h"
#include "ui/WizardRules.h"

const char* const WizardTitle = "Corvane Purgex 2005 - Boot Disk Creator";
const char* const StopQuestion = "Do you want to stop the process ?";

namespace {
constexpr int PageTop = 57;    // pages start under the header
constexpr int FooterTop = 298; // and end over the footer
constexpr COLORREF FooterColour = Rgb(0xDBDBDB);
constexpr UINT_PTR Timer1 = 1;
enum {
    IdChkOptions = 100,
    IdCommandLine,
    IdComboOS,
    IdMoreDisks,
    IdExit,
    IdChkUefi,
    // help menu
    IdHelpTopics1 = 200,
    IdN3,
    IdFaq,
    IdCheckForUpdate,
    IdTechnicalSupport,
    IdAbout,
    IdOnTheWeb,
};

const int PageHelp[PageCount] = {10300, 10400, 10500, 10600, 1020};

// Labels write line breaks as single carriage returns.
std::string Lines(const std::string& Text) {
    std::string Out;
    for (char c : Text)
        Out += c == '\r' ? std::string("\r\n") : std::string(1, c);
    return Out;
}

int TextWidth(HWND Wnd, HFONT Font, const std::string& Text) {
    HDC Dc = GetDC(Wnd);
    HGDIOBJ Old = SelectObject(Dc, Font);
    SIZE Size;
    GetTextExtentPoint32A(Dc, Text.c_str(), int(Text.size()), &Size);
    SelectObject(Dc, Old);
    ReleaseDC(Wnd, Dc);
    return Size.cx;
}
} // namespace

std::vector<TDeviceChoice>
DiscoverWriters(std::unique_ptr<TOpticalDevices>& Owned,
                std::vector<std::unique_ptr<TDiscWriterTarget>>& Targets) {
    Targets.clear();
    Owned = std::make_unique<TOpticalDevices>();
    std::vector<TDeviceChoice> Choices;
    for (TOpticalDevice* Writer : Owned->Writers()) {
        Targets.push_back(std::make_unique<TDiscWriterTarget>(*Writer));
        Choices.push_back({Writer->Name, Targets.back().get()});
    }
    return Choices;
}

std::string StickChoiceCaption(const TStickDevice& Device) {
    return "USB flash drive (" + StickDescription(Device) + ")";
}

std::vector<TDeviceChoice> DiscoverSticks(std::vector<std::unique_ptr<TUsbStickTarget>>& Targets) {
    Targets.clear();
    std::vector<TDeviceChoice> Choices;
    for (TStickDevice& Device : Platform().StickDevices()) {
        if (Device.SystemDisk) continue;
        Targets.push_back(std::make_unique<TUsbStickTarget>(Device));
        Choices.push_back({StickChoiceCaption(Device), Targets.back().get()});
    }
    return Choices;
}

TGauge::TGauge(HWND Parent, int x, int y, int w, int h) {
    CreateAs("TGauge", WS_CHILD | WS_VISIBLE, 0, x, y, w, h, Parent);
}

void TGauge::SetProgress(int Value) {
    Percent = std::clamp(Value, 0, 100);
    InvalidateRect(Wnd, nullptr, FALSE);
    UpdateWindow(Wnd);
}

LRESULT TGauge::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    if (Msg == WM_ERASEBKGND) return 1;
    if (Msg != WM_PAINT) return Default(Msg, w, l);
    PAINTSTRUCT ps;
    HDC Dc = BeginPaint(Wnd, &ps);
    RECT r;
    GetClientRect(Wnd, &r);
    FillRect(Dc, &r, UiBrush(RGB(255, 255, 255)));
    RECT Done = r;
    Done.right = r.right * Percent / 100;
    FillRect(Dc, &Done, UiBrush(Rgb(0x2B5FA8)));
    FrameRect(Dc, &r, UiBrush(Rgb(0x6F82A3)));
    // The percentage, white over the filled part and dark over the rest.
    const std::string Text = std::to_string(Percent) + "%";
    HGDIOBJ Old = SelectObject(Dc, UiFont("Arial", 8, true));
    SetBkMode(Dc, TRANSPARENT);
    RECT Rest = r;
    Rest.left = Done.right;
    for (int Part = 0; Part < 2; ++Part) {
        const RECT& Clip = Part == 0 ? Done : Rest;
        HRGN Region = CreateRectRgnIndirect(&Clip);
        SelectClipRgn(Dc, Region);
        SetTextColor(Dc, Part == 0 ? RGB(255, 255, 255) : Rgb(0x1A2A44));
        DrawTextA(Dc, Text.c_str(), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectClipRgn(Dc, nullptr);
        DeleteObject(Region);
    }
    SelectObject(Dc, Old);
    EndPaint(Wnd, &ps);
    return 0;
}

void TMainForm::Add(TPage Page, HWND Control) {
    PageControls[Page].push_back(Control);
}

HWND TMainForm::Label(TPage Page, const char* Text, int x, int y, int w, int h, bool Bold) {
    HWND c = MakeControl(Wnd, "STATIC", Lines(Text).c_str(), SS_NOPREFIX, x, PageTop + y, w, h,
                         UiFont("Arial", 8, Bold));
    Add(Page, c);
    return c;
}

TMainForm::TMainForm() {
    // Window: fixed border, system menu and minimise box, centred.
    const DWORD Style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    CreateAs("TMainForm", Style, 0, 0, 0, 600, 420, nullptr, WizardTitle);
    SetClientSize(Wnd, 574, 366);
    RECT Work, Box;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &Work, 0);
    GetWindowRect(Wnd, &Box);
    SetWindowPos(Wnd, nullptr, CentredOver(Work.left, Work.right - Work.left, Box.right - Box.left),
                 CentredOver(Work.top, Work.bottom - Work.top, Box.bottom - Box.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextA(Wnd, WizardTitle);
    ImageHeader = HeaderPicture();

    // Header and footer.
    BtnHelp = std::make_unique<TImageButton>(Wnd, 511, 3, 34, 33, SymbolPictures(34, '?'));
    BtnHelp->Color = Rgb(0x2B4C80);
    ImageListClose = ButtonPictures(95, 28, "Close");
    ImageListBack = ButtonPictures(95, 28, "< Back");
    ImageListNext = ButtonPictures(95, 28, "Next >");
    ImageListCreate = ButtonPictures(95, 28, "Create");
    BtnClose = std::make_unique<TImageButton>(Wnd, 25, FooterTop + 23, 95, 28, ImageListClose);
    BtnBack = std::make_unique<TImageButton>(Wnd, 352, FooterTop + 23, 95, 28, ImageListBack);
    BtnNext = std::make_unique<TImageButton>(Wnd, 456, FooterTop + 23, 95, 28, ImageListNext);
    for (TImageButton* b : {BtnClose.get(), BtnBack.get(), BtnNext.get()})
        b->Color = FooterColour;

    // CreateOptions
    Label(CreateOptions, "What do you want to create?", 40, 16, 400, 16);
    Label(CreateOptions, "Quantity", 50, 41, 66, 14, false);
    Label(CreateOptions, "Boot Disk Type", 118, 41, 200, 14, false);
    ScrollCreateList = std::make_unique<TScrollBox>(Wnd, 48, PageTop + 56, 417, 137);
    Add(CreateOptions, ScrollCreateList->Handle());
    BtnAdd =
        std::make_unique<TImageButton>(Wnd, 489, PageTop + 53, 44, 44, SymbolPictures(44, '+'));
    BtnRemove =
        std::make_unique<TImageButton>(Wnd, 489, PageTop + 102, 44, 44, SymbolPictures(44, '-'));
    BtnClear =
        std::make_unique<TImageButton>(Wnd, 489, PageTop + 151, 44, 44, SymbolPictures(44, 'x'));
    for (TImageButton* b : {BtnAdd.get(), BtnRemove.get(), BtnClear.get()})
        Add(CreateOptions, b->Handle());

    // ProgramOptions
    Label(ProgramOptions, "Purgex 2005 options:", 72, 8, 300, 14);
    ChkOptions = MakeControl(Wnd, WC_LISTVIEWA, "",
                             WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER |
                                 LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                             112, PageTop + 24, 353, 97, UiFont("MS Sans Serif", 8), IdChkOptions);
    SendMessageA(ChkOptions, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT,
                 LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
    LVCOLUMNA Column{};
    Column.mask = LVCF_WIDTH;
    Column.cx = 353 - GetSystemMetrics(SM_CXVSCROLL) - 4;
    SendMessageA(ChkOptions, LVM_INSERTCOLUMNA, 0, LPARAM(&Column));
    for (int i = 0; i < OptionCount; ++i) {
        LVITEMA Item{};
        Item.mask = LVIF_TEXT;
        Item.iItem = i;
        Item.pszText = const_cast<char*>(OptionCaptions[i]);
        SendMessageA(ChkOptions, LVM_INSERTITEMA, 0, LPARAM(&Item));
    }
    Add(ProgramOptions, ChkOptions);
    Label(ProgramOptions, "Command line parameters:", 72, 130, 154, 14);
    HyperLink4 = std::make_unique<THyperLink>(Wnd, 228, PageTop + 130, "more info...");
    Add(ProgramOptions, HyperLink4->Handle());
    CommandLineEdit =
        MakeControl(Wnd, "EDIT", "", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 112, PageTop + 146,
                    353, 19, UiFont("MS Sans Serif", 8), IdCommandLine);
    SendMessageA(CommandLineEdit, EM_SETLIMITTEXT, MaxCommandLineLength, 0);
    Add(ProgramOptions, CommandLineEdit);
    Label(ProgramOptions, "Boot disk OS type (leave unchanged if unsure) :", 72, 176, 390, 14);
    const char* CdText = "Operating System for CD/DVD: ";
    const int CdWidth = TextWidth(Wnd, UiFont("MS Sans Serif", 8), CdText);
    PanelCDBoot[0] = MakeControl(Wnd, "STATIC", CdText, SS_NOPREFIX, 113, PageTop + 194, CdWidth,
                                 15, UiFont("MS Sans Serif", 8));
    PanelCDBoot[1] = MakeControl(Wnd, "STATIC", "Ms-Dos", SS_NOPREFIX, 113 + CdWidth + 4,
                                 PageTop + 194, 80, 15, UiFont("MS Sans Serif", 8, true));
    const char* FloppyText = "Operating System for Floppy Disk:";
    const int FloppyWidth = TextWidth(Wnd, UiFont("MS Sans Serif", 8), FloppyText);
    PanelFloppyBoot[0] = MakeControl(Wnd, "STATIC", FloppyText, SS_NOPREFIX, 113, PageTop + 212,
                                     FloppyWidth, 15, UiFont("MS Sans Serif", 8));
    // Placed at the right edge of its label.
    ComboBoxOS =
        MakeControl(Wnd, "COMBOBOX", "", CBS_DROPDOWNLIST | WS_TABSTOP, 113 + FloppyWidth + 4,
                    PageTop + 209, 65, 120, UiFont("MS Sans Serif", 8), IdComboOS);
    PanelFloppyBoot[1] = ComboBoxOS;
    const char* StickText = "Operating System for USB flash drive: ";
    const int StickWidth = TextWidth(Wnd, UiFont("MS Sans Serif", 8), StickText);
    PanelStickBoot[0] = MakeControl(Wnd, "STATIC", StickText, SS_NOPREFIX, 113, PageTop + 230,
                                    StickWidth, 15, UiFont("MS Sans Serif", 8));
    PanelStickBoot[1] =
        MakeControl(Wnd, "STATIC", "Rx-Dos (the only one offered)", SS_NOPREFIX,
                    113 + StickWidth + 4, PageTop + 230, 200, 15, UiFont("MS Sans Serif", 8, true));
    // Only discs take it, so it stands on the CD/DVD line's row, right of the
    // system lines: the page has no room under them.
    ChkUefi = MakeControl(Wnd, "BUTTON", UefiChoiceCaption,
                          BS_AUTOCHECKBOX | BS_MULTILINE | BS_TOP | WS_TABSTOP, 376, PageTop + 192,
                          152, 30, UiFont("MS Sans Serif", 8), IdChkUefi);
    for (HWND c : {PanelCDBoot[0], PanelCDBoot[1], PanelFloppyBoot[0], PanelFloppyBoot[1],
                   PanelStickBoot[0], PanelStickBoot[1], ChkUefi})
        Add(ProgramOptions, c);

    // PageStart
    Label(PageStart,
          "Your options have been saved. We are now ready to create the boot disk.\r\rPrepare to "
          "insert the devices you have chosen.\rYou will be prompted for them in the selected "
          "order.\r\rClick Create to start the creation process.",
          48, 32, 480, 110);
    HyperLink1 = std::make_unique<THyperLink>(
        Wnd, 48, PageTop + 200,
        "What should I do after the boot disk is created (opens in a new window)?");
    Add(PageStart, HyperLink1->Handle());

    // Progress
    Label(Progress, "Creating disks...", 48, 56, 300, 14);
    ProgressBar = std::make_unique<TGauge>(Wnd, 72, PageTop + 96, 449, 17);
    Add(Progress, ProgressBar->Handle());

    // Finish
    Label(Finish, "Congratulations! Your boot disk is now ready to be used.", 56, 48, 480, 14);
    ChkMoreDisks = MakeControl(Wnd, "BUTTON", "Create more bootable Purgex floppy/CD/DVD",
                               BS_AUTORADIOBUTTON | WS_TABSTOP | WS_GROUP, 96, PageTop + 80, 305,
                               17, UiFont("MS Sans Serif", 8), IdMoreDisks);
    ChkExit = MakeControl(Wnd, "BUTTON", "Exit Purgex", BS_AUTORADIOBUTTON | WS_TABSTOP, 96,
                          PageTop + 104, 113, 17, UiFont("MS Sans Serif", 8), IdExit);
    SendMessageA(ChkMoreDisks, BM_SETCHECK, BST_CHECKED, 0);
    Add(Finish, ChkMoreDisks);
    Add(Finish, ChkExit);
    HyperLink2 = std::make_unique<THyperLink>(Wnd, 32, PageTop + 200,
                                              "What should I do next (opens in a new window)?");
    Add(Finish, HyperLink2->Handle());

    // FormCreate, in its order.
    for (const std::string& Os : OsChoices(Platform().Version()))
        SendMessageA(ComboBoxOS, CB_ADDSTRING, 0, LPARAM(Os.c_str()));
    SendMessageA(ComboBoxOS, CB_SETCURSEL, 0, 0);
    BtnHelp->ImgInactiveIdx = 0;
    BtnBack->SetEnabled(false);
    SetDefaultOptions();
    LoadOptions();
    ShowPage(CreateOptions);

    BtnNext->OnClick = [this] { GoNext(); };
    BtnBack->OnClick = [this] { GoBack(); };
    BtnClose->OnClick = [this] { PostMessageA(Wnd, WM_CLOSE, 0, 0); };
    BtnAdd->OnClick = [this] { BtnAddClick(); };
    BtnRemove->OnClick = [this] { BtnRemoveClick(); };
    BtnClear->OnClick = [this] { BtnClearClick(); };
    BtnHelp->OnClick = [this] { BtnHelpClick(); };
    HyperLink1->OnClick = [this] { ShowHelpTopic(3004); };
    HyperLink2->OnClick = [this] { ShowHelpTopic(3004); };
    HyperLink4->OnClick = [this] { ShowHelpTopic(6010); };

    PopupHelp = CreatePopupMenu();
    AppendMenuA(PopupHelp, MF_STRING, IdHelpTopics1, "Help Contents");
    AppendMenuA(PopupHelp, MF_STRING, IdN3, "Help");
    AppendMenuA(PopupHelp, MF_STRING, IdFaq, "Frequently Asked Questions");
    AppendMenuA(PopupHelp, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(PopupHelp, MF_STRING, IdCheckForUpdate, "Check for updates");
    AppendMenuA(PopupHelp, MF_STRING, IdTechnicalSupport, "Technical Support");
    AppendMenuA(PopupHelp, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(PopupHelp, MF_STRING, IdAbout, "About");
    AppendMenuA(PopupHelp, MF_STRING, IdOnTheWeb, "Corvane Purgex 2005 on the Web");

    SetTimer(Wnd, Timer1, 50, nullptr);
}

TMainForm::~TMainForm() {
    if (Wnd) DestroyWindow(Wnd); // saves the options once
    CreateList.clear();
    if (PopupHelp) DestroyMenu(PopupHelp);
    if (ImageHeader) DeleteObject(ImageHeader);
}

void TMainForm::BuildDeviceChoices() {
    DeviceChoices.clear();
    DeviceChoices.push_back({"Floppy disk (drive A:)", &FloppyTarget});
    for (auto& Writer : DiscoverWriters(OpticalDevices, WriterTargets))
        DeviceChoices.push_back(Writer);
    DeviceChoices.push_back({"Image recorder (Save CD image as ISO file)", &RecorderTarget});
    for (auto& Stick : DiscoverSticks(StickTargets))
        DeviceChoices.push_back(Stick);
}

void TMainForm::FormActivate() {
    if (!FirstActivation) return;
    FirstActivation = false;
    AddRow();
    ShowPage(CreateOptions);
    BtnBack->SetEnabled(false);
    BtnNext->SetEnabled(true);
}

void TMainForm::AddRow() {
    CreateList.push_back(TCreateListFrame::CreateRow("1", &SelectedFrame,
                                                     ScrollCreateList->Handle(), DeviceChoices));
    LayOutRows();
}

void TMainForm::LayOutRows() {
    std::vector<HWND> Rows;
    for (auto& Row : CreateList)
        Rows.push_back(Row->Handle());
    ScrollCreateList->LayOut(Rows);
}

void TMainForm::SetButtons(bool Next, bool Back, bool Close, bool Help) {
    BtnNext->SetEnabled(Next);
    BtnBack->SetEnabled(Back);
    BtnClose->SetEnabled(Close);
    BtnHelp->SetEnabled(Help);
}

void TMainForm::ShowPage(TPage Page) {
    Shown = Page;
    for (int p = 0; p < PageCount; ++p)
        for (HWND c : PageControls[p])
            ShowWindow(c, p == Page ? SW_SHOW : SW_HIDE);
    if (Page == ProgramOptions) ShowOsLines();
    PagesPageChanged();
}

void TMainForm::ShowOsLines() {
    SetWindowTextA(PanelCDBoot[1], DiscSystemText().c_str());
    for (HWND c : PanelCDBoot)
        ShowWindow(c, CdLineShown ? SW_SHOW : SW_HIDE);
    for (HWND c : PanelFloppyBoot)
        ShowWindow(c, FloppyLineShown ? SW_SHOW : SW_HIDE);
    for (HWND c : PanelStickBoot)
        ShowWindow(c, StickLineShown ? SW_SHOW : SW_HIDE);
    ShowWindow(ChkUefi, CdLineShown ? SW_SHOW : SW_HIDE);
    // Three lines fit above the buttons' band only closer together.
    const bool Three = CdLineShown && FloppyLineShown && StickLineShown;
    const int CdTop = PageTop + (Three ? 189 : 194);
    RECT Label;
    GetWindowRect(PanelCDBoot[0], &Label);
    SetWindowPos(PanelCDBoot[0], nullptr, 113, CdTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(PanelCDBoot[1], nullptr, 113 + (Label.right - Label.left) + 4, CdTop, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(ChkUefi, nullptr, 376, CdTop - 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    // The floppy line fills the area under the CD/DVD line, or all of it.
    const int Top = PageTop + (CdLineShown ? (Three ? 206 : 212) : 197);
    SetWindowPos(PanelFloppyBoot[0], nullptr, 113, Top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    GetWindowRect(PanelFloppyBoot[0], &Label);
    SetWindowPos(ComboBoxOS, nullptr, 113 + (Label.right - Label.left) + 4, Top - 3, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    // The stick line goes under whichever lines are shown.
    const int StickTop =
        FloppyLineShown ? Top + (Three ? 18 : 20) : PageTop + (CdLineShown ? 212 : 194);
    GetWindowRect(PanelStickBoot[0], &Label);
    SetWindowPos(PanelStickBoot[0], nullptr, 113, StickTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    SetWindowPos(PanelStickBoot[1], nullptr, 113 + (Label.right - Label.left) + 4, StickTop, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
}

void TMainForm::PagesPageChanged() {
    HelpContext = PageHelp[Shown];
}

void TMainForm::GoNext() {
    switch (Shown) {
    case CreateOptions: {
        if (CreateList.empty()) return;
        bool AnyDisc = false, AnyFloppy = false, AnyStick = false;
        for (auto& Row : CreateList) {
            const TMediaTarget* Target = &Row->RowTarget();
            const bool Stick = std::any_of(StickTargets.begin(), StickTargets.end(),
                                           [&](const auto& s) { return s.get() == Target; });
            (Target == &FloppyTarget ? AnyFloppy : Stick ? AnyStick : AnyDisc) = true;
        }
        CdLineShown = AnyDisc;
        FloppyLineShown = AnyFloppy;
        StickLineShown = AnyStick;
        ShowPage(ProgramOptions);
        SetButtons(true, true, true, true);
        break;
    }
    case ProgramOptions:
        if (WindowText(CommandLineEdit).size() > MaxCommandLineLength) {
            CoolMsgInfo(CommandLineTooLongText);
            return;
        }
        ShowPage(PageStart);
        BtnNext->SetImageList(ImageListCreate);
        break;
    case PageStart: {
        BtnNext->SetImageList(ImageListNext);
        ShowPage(Progress);
        SetButtons(false, false, false, false);
        ProgressBar->SetProgress(0);
        RedrawWindow(Wnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        PumpMessages();
        RunInProgress = true;
        StopRequested = false;
        // Nothing may leave through the window procedure that clicked Create:
        // whatever the run throws ends it with "Error" on the finish page.
        TCreationRun Run(*this);
        Run.DiscSystem = DiscSystem;
        Run.UefiEntry = UefiChecked();
        try {
            Run.CreateMedia();
        } catch (...) {
            TWindowUserInterface::MsgInfo("Error");
        }
        DiscSystem = Run.DiscSystem;
        RunInProgress = false;
        ShowPage(Finish);
        SetButtons(true, false, true, true);
        if (CloseAfterRun) PostMessageA(Wnd, WM_CLOSE, 0, 0);
        break;
    }
    case Progress:
        break;
    case Finish:
        if (SendMessageA(ChkExit, BM_GETCHECK, 0, 0) == BST_CHECKED) {
            PostMessageA(Wnd, WM_CLOSE, 0, 0);
            return;
        }
        ShowPage(CreateOptions);
        SetButtons(true, false, true, true);
        break;
    default:
        break;
    }
}

void TMainForm::GoBack() {
    switch (Shown) {
    case ProgramOptions:
        ShowPage(CreateOptions);
        BtnBack->SetEnabled(false);
        break;
    case PageStart:
        ShowPage(ProgramOptions);
        BtnNext->SetImageList(ImageListNext);
        break;
    default:
        break;
    }
}

void TMainForm::Timer1Timer() {
    if (Shown != CreateOptions) return;
    const bool Selected = SelectedFrame != nullptr, Rows = !CreateList.empty();
    if (BtnRemove->Enabled() != Selected) BtnRemove->SetEnabled(Selected);
    if (BtnClear->Enabled() != Rows) BtnClear->SetEnabled(Rows);
    if (BtnNext->Enabled() != Rows) BtnNext->SetEnabled(Rows);
}

void TMainForm::BtnAddClick() {
    if (CreateList.size() >= MaxRows) {
        Platform().Beep();
        return;
    }
    AddRow();
}

void TMainForm::BtnRemoveClick() {
    if (!SelectedFrame) return;
    for (size_t i = 0; i < CreateList.size(); ++i) {
        if (CreateList[i].get() != SelectedFrame) continue;
        CreateList[i]->DestroyRow();
        CreateList.erase(CreateList.begin() + std::ptrdiff_t(i));
        break;
    }
    LayOutRows();
}

void TMainForm::BtnClearClick() {
    for (auto& Row : CreateList)
        Row->DestroyRow();
    CreateList.clear();
    SelectedFrame = nullptr;
    LayOutRows();
}

void TMainForm::BtnHelpClick() {
    RECT Form, Client;
    GetWindowRect(Wnd, &Form);
    GetClientRect(Wnd, &Client);
    // Just under the help button.
    const int x = Form.left + 511;
    const int y = Form.top + ((Form.bottom - Form.top) - Client.bottom) + 3 + 33;
    const int Chosen = TrackPopupMenu(PopupHelp, TPM_RETURNCMD | TPM_LEFTALIGN | TPM_TOPALIGN, x, y,
                                      0, Wnd, nullptr);
    if (Chosen) SendMessageA(Wnd, WM_COMMAND, WPARAM(Chosen), 0);
}

void TMainForm::ShowHelpTopic(int Topic) {
    OpenBeside(("help\\" + std::to_string(Topic) + ".htm").c_str());
}

void TMainForm::HelpContents() {
    OpenBeside("help\\index.htm");
}

void TMainForm::OpenBeside(const char* File) {
    Platform().ShellOpen(Platform().ProgramFolder() + "\\" + File);
}

void TMainForm::SetDefaultOptions() {
    const TWiperOptions Defaults = DefaultOptions();
    for (int i = 0; i < OptionCount; ++i)
        SetOption(i, Defaults[size_t(i)]);
}

void TMainForm::SetOption(int Index, bool Checked) {
    LVITEMA Item{};
    Item.stateMask = LVIS_STATEIMAGEMASK;
    Item.state = INDEXTOSTATEIMAGEMASK(Checked ? 2 : 1);
    SendMessageA(ChkOptions, LVM_SETITEMSTATE, WPARAM(Index), LPARAM(&Item));
}

TWiperOptions TMainForm::CheckedOptions() {
    TWiperOptions Options{};
    for (int i = 0; i < OptionCount; ++i) {
        const auto State =
            SendMessageA(ChkOptions, LVM_GETITEMSTATE, WPARAM(i), LVIS_STATEIMAGEMASK);
        Options[size_t(i)] = ((State & LVIS_STATEIMAGEMASK) >> 12) == 2;
    }
    return Options;
}

void TMainForm::LoadOptions() {
    TWiperOptions Options = CheckedOptions();
    const auto Problem = ::LoadOptions(Options);
    for (int i = 0; i < OptionCount; ++i)
        SetOption(i, Options[size_t(i)]);
    SendMessageA(ChkUefi, BM_SETCHECK, LoadUefiChoice() ? BST_CHECKED : BST_UNCHECKED, 0);
    if (Problem) TWindowUserInterface::MsgInfo(*Problem);
}

bool TMainForm::UefiChecked() const {
    return SendMessageA(ChkUefi, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TMainForm::SaveOptions() {
    auto Problem = ::SaveOptions(CheckedOptions());
    if (!Problem) Problem = SaveUefiChoice(UefiChecked());
    if (Problem) TWindowUserInterface::MsgInfo(*Problem);
}

std::string TMainForm::DiscSystemText() const {
    return DiscSystem == TDiscSystem::RxDos ? "Rx-Dos" : "Ms-Dos";
}

std::string TMainForm::CommandLine() {
    return WindowText(CommandLineEdit);
}

bool TMainForm::FloppyUsesMsDos() {
    return UsesMsDos(size_t(SendMessageA(ComboBoxOS, CB_GETCOUNT, 0, 0)),
                     int(SendMessageA(ComboBoxOS, CB_GETCURSEL, 0, 0)));
}

void TMainForm::SetGauge(int Percent) {
    ProgressBar->SetProgress(Percent);
}

void TMainForm::MsgInfo(const std::string& Text) {
    if (!StopRequested) TWindowUserInterface::MsgInfo(Text);
}

int TMainForm::MsgRetryAbort(const std::string& Text) {
    return StopRequested ? 3 : TWindowUserInterface::MsgRetryAbort(Text);
}

int TMainForm::MsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
                      const std::string& RightCaption) {
    if (StopRequested) return Kind == TQuestion::StopRun ? 1 : 2;
    return TWindowUserInterface::MsgAsk(Kind, Text, LeftCaption, RightCaption);
}

std::optional<std::string> TMainForm::ChooseSaveFile(const std::string& DefaultName,
                                                     const std::string& DefaultExtension,
                                                     const std::string& Filter) {
    if (StopRequested) return std::nullopt;
    return TWindowUserInterface::ChooseSaveFile(DefaultName, DefaultExtension, Filter);
}

std::optional<std::string> TMainForm::PickSystemFolder() {
    if (StopRequested) return std::nullopt;
    return TWindowUserInterface::PickSystemFolder();
}

void TMainForm::FormDestroy() {
    if (Destroyed) return;
    Destroyed = true;
    KillTimer(Wnd, Timer1);
    SaveOptions();
    if (MainWindow() == Wnd) SetMainWindow(nullptr);
}

LRESULT TMainForm::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_ACTIVATE:
        if (LOWORD(w) != WA_INACTIVE) FormActivate();
        break;
    case WM_TIMER:
        if (w == Timer1) Timer1Timer();
        return 0;
    case WM_CLOSE:
        if (RunInProgress) {
            // The run holds a medium: it stops at its next prompt, then the
            // window closes.
            if (!StopRequested &&
                TWindowUserInterface::MsgAsk(TQuestion::StopRun, StopQuestion, "Yes", "No") == 1) {
                StopRequested = true;
                CloseAfterRun = true;
            }
            return 0;
        }
        DestroyWindow(Wnd);
        return 0;
    case WM_DESTROY:
        FormDestroy();
        if (QuitOnDestroy) PostQuitMessage(0);
        return 0;
    case WM_COMMAND:
        switch (LOWORD(w)) {
        case IdCommandLine:
            if (HIWORD(w) == EN_MAXTEXT) {
                Platform().Beep();
                CoolMsgInfo(CommandLineTooLongText);
            }
            break;
        case IdHelpTopics1:
            HelpContents();
            break;
        case IdN3:
            ShowHelpTopic(HelpContext);
            break;
        case IdFaq:
            ShowHelpTopic(7010);
            break;
        case IdCheckForUpdate:
            OpenBeside("upgrade.url");
            break;
        case IdTechnicalSupport:
            ShowHelpTopic(9020);
            break;
        case IdAbout:
            if (ShowAbout) ShowAbout();
            break;
        case IdOnTheWeb:
            OpenBeside("OnTheWeb.url");
            break;
        }
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC Dc = BeginPaint(Wnd, &ps);
        DrawPicture(Dc, ImageHeader, RECT{0, 0, 574, PageTop});
        RECT Pages{0, PageTop, 574, FooterTop};
        FillRect(Dc, &Pages, UiBrush(WindowColour));
        RECT Footer{0, FooterTop, 574, 366};
        FillRect(Dc, &Footer, UiBrush(FooterColour));
        EndPaint(Wnd, &ps);
        return 0;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        SetBkMode(HDC(w), TRANSPARENT);
        return LRESULT(UiBrush(WindowColour));
    }
    return Default(Msg, w, l);
}
