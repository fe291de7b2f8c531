// The wizard's real windows driven with window messages under Wine, on the
// simulated machine of the fakes (the settings test uses the real registry).

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "GuiSupport.h"
#include "app/RaraVidaApp.h"
#include "fakes/FakeDiskMachine.h"
#include "fakes/FakePlatform.h"
#include "fakes/ScriptedUserInterface.h"
#include "image/ExeData.h"
#include "ui/Pictures.h"
#include "ui/WizardRules.h"

namespace {

const char* const IsoPath = "C:\\OUT\\PURGIT.ISO";

void Click(TImageButton& Button) {
    SendMessageA(Button.Handle(), BM_CLICK, 0, 0);
}

std::string ComboText(HWND Combo) {
    const auto Index = SendMessageA(Combo, CB_GETCURSEL, 0, 0);
    char Text[256] = {};
    if (Index >= 0) SendMessageA(Combo, CB_GETLBTEXT, WPARAM(Index), LPARAM(Text));
    return Text;
}

// Chooses a row's device type as a user would: the selection, then the
// notification its owner gets.
void ChooseDevice(TCreateListFrame& Row, int Index) {
    SendMessageA(Row.ComboBox, CB_SETCURSEL, WPARAM(Index), 0);
    SendMessageA(Row.Handle(), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(Row.ComboBox), CBN_SELCHANGE),
                 LPARAM(Row.ComboBox));
}

void CopyContainers(TFakePlatform& Fake) {
    for (const char* Name : {"PURGXCD", "PURGXDSK"}) {
        const auto Bytes = NativePlatform().OwnResource("STREAM", Name);
        ASSERT_TRUE(Bytes);
        Fake.AddResource("STREAM", Name, std::vector<uint8_t>(Bytes->begin(), Bytes->end()));
    }
    const auto Wiper = NativePlatform().OwnResource("UEFI", "BOOTX64");
    ASSERT_TRUE(Wiper);
    Fake.AddResource("UEFI", "BOOTX64", std::vector<uint8_t>(Wiper->begin(), Wiper->end()));
}

// The simulated machine, with a say in what its save dialog does.
class TGuiPlatform : public TFakePlatform {
public:
    std::function<void()> OnSaveDialog;
    std::optional<std::string> SaveFileDialog(std::string_view DefaultName,
                                              std::string_view DefaultExtension,
                                              std::string_view Filter) override {
        if (OnSaveDialog) OnSaveDialog();
        return TFakePlatform::SaveFileDialog(DefaultName, DefaultExtension, Filter);
    }
};

// Thrown by no layer of the program: not a std::exception.
struct TForeignFault {};

// The wizard started as the program starts it, on a machine outside every
// version table, shown and activated.
class GuiWizard : public ::testing::Test {
protected:
    void SetUp() override {
        Fake.WindowsVersion = {2, 10, 0};
        CopyContainers(Fake);
        App = std::make_unique<TRaraVida>();
        ASSERT_TRUE(App->StartUp());
        ShowWindow(Main().Handle(), SW_SHOW);
        SetForegroundWindow(Main().Handle());
        Main().FormActivate();
        RunFor(120);
    }
    void TearDown() override { App.reset(); }
    TMainForm& Main() { return App->Main; }
    // Create on the start page for one image file on a machine without
    // MS-DOS: the file's location, the picker cancelled (sure), Rx-DOS
    // accepted. Answers the prompts' texts.
    std::vector<std::string> CreateTheImageOnRxDos() {
        Fake.SaveAnswers = {std::string(IsoPath)};
        TBoxAnswerer Answerer;
        Answerer.Answers = {'L', 'L', 'L'};
        Answerer.OnPicker = [&](HWND) {
            PostMessageA(SearchSysForm().BtnCancel->Handle(), BM_CLICK, 0, 0);
        };
        Click(*Main().BtnNext);
        RunFor(100);
        return Answerer.Texts;
    }
    TCreateListFrame& Row(size_t i) { return *Main().CreateList.at(i); }

    TGuiPlatform Fake;
    std::unique_ptr<TRaraVida> App;
};

// What purgex makes with the same choices: an ISO file, Rx-DOS on the disc.
class TIsoOnlyFront : public TRunFront {
public:
    explicit TIsoOnlyFront(TimageRecorder& Recorder) : Recorder(Recorder) {}
    int RowCount() override { return 1; }
    TMediaTarget& RowTarget(int) override { return Recorder; }
    int RowQuantity(int) override { return 1; }
    TWiperOptions CheckedOptions() override { return DefaultOptions(); }
    std::string CommandLine() override { return ""; }
    bool FloppyUsesMsDos() override { return false; }
    void SetGauge(int) override {}
    TImageFileTarget Recorder;
};

} // namespace

TEST(GuiMessageBox, ButtonsAndCloseBoxGiveTheStatedResults) {
    TWindowUserInterface Windows;
    TUserInterface* Previous = InstallUserInterface(&Windows);
    TBoxAnswerer Answerer;
    Answerer.Answers = {'M', 'C', 'R', 'L', 'C', 'R'};
    std::vector<bool> ButtonsAsExpected;
    Answerer.BeforeAnswer = [&](size_t Box, HWND Window) {
        if (Box == 0) {
            EXPECT_TRUE(Screenshot(Window, "message_info"));
        }
        if (Box == 4) {
            EXPECT_TRUE(Screenshot(Window, "message_ask"));
        }
        // One middle button for a message, left and right for questions.
        const bool Single = Box == 0;
        ButtonsAsExpected.push_back((BoxButton(Window, 109) != nullptr) == Single &&
                                    (BoxButton(Window, 58) != nullptr) == !Single &&
                                    (BoxButton(Window, 160) != nullptr) == !Single);
        RECT Client;
        GetClientRect(Window, &Client);
        ButtonsAsExpected.back() =
            ButtonsAsExpected.back() && Client.right == 306 && Client.bottom == 106;
    };
    CoolMsgInfo("The device is not ready. Try again...");
    EXPECT_EQ(CoolMsgRetryAbort("Write error"), 4);                             // closed
    EXPECT_EQ(CoolMsgRetryAbort("Write error"), 3);                             // Abort
    EXPECT_EQ(CoolMsgRetryAbort("Write error"), 4);                             // Retry
    EXPECT_EQ(CoolMsgAsk(TQuestion::StopRun, "Do you want to stop the process ?", "Yes", "No"), 1); // closed
    EXPECT_EQ(CoolMsgAsk(TQuestion::StopRun, "Do you want to stop the process ?", "Yes", "No"), 2); // right
    ASSERT_EQ(Answerer.Texts.size(), 6u);
    EXPECT_EQ(Answerer.Texts[0], "The device is not ready. Try again...");
    EXPECT_EQ(ButtonsAsExpected, std::vector<bool>(6, true));
    InstallUserInterface(Previous);
}

TEST(GuiImageButton, PicturesAndCaptionColoursFollowTheState) {
    HWND Parent = CreateWindowExA(0, "STATIC", "", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 100,
                                  100, 200, 80, nullptr, nullptr, nullptr, nullptr);
    TImageButton Button(Parent, 10, 10, 95, 28, ButtonPictures(95, 28, nullptr));
    Button.ImgNormalIdx = 0, Button.ImgFocusedIdx = 1, Button.ImgPushedIdx = 2,
    Button.ImgInactiveIdx = 3;
    Button.TextColorNormal = RGB(1, 0, 0), Button.TextColorFocused = RGB(2, 0, 0),
    Button.TextColorPushed = RGB(3, 0, 0), Button.TextColorInactive = RGB(4, 0, 0);
    int Clicks = 0;
    Button.OnClick = [&] { ++Clicks; };
    Button.SetCaption("Go");
    SetFocus(Parent);
    RunFor(20);
    EXPECT_EQ(Button.LastPicture, 0);
    EXPECT_EQ(Button.LastTextColor, RGB(1, 0, 0));

    SendMessageA(Button.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Button.LastPicture, 1);
    EXPECT_EQ(Button.LastTextColor, RGB(2, 0, 0));
    SendMessageA(Button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(Button.LastPicture, 2);
    EXPECT_EQ(Button.LastTextColor, RGB(3, 0, 0));
    SendMessageA(Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Clicks, 1);
    EXPECT_EQ(Button.LastPicture, 1);
    // Released outside: no click.
    SendMessageA(Button.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(Button.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(150, 5));
    EXPECT_EQ(Clicks, 1);

    // Disabled, even with the pointer over it.
    Button.SetEnabled(false);
    SendMessageA(Button.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    EXPECT_EQ(Button.LastPicture, 3);
    EXPECT_EQ(Button.LastTextColor, RGB(4, 0, 0));
    Button.SetEnabled(true);
    EXPECT_EQ(Button.LastPicture, 0); // enabling forgets the pointer

    // Focused without the pointer: the focus picture, the normal colour.
    SetFocus(Button.Handle());
    RunFor(20);
    EXPECT_EQ(Button.LastPicture, 1);
    EXPECT_EQ(Button.LastTextColor, RGB(1, 0, 0));
    SendMessageA(Button.Handle(), WM_CHAR, 13, 0);
    SendMessageA(Button.Handle(), WM_CHAR, 32, 0);
    SendMessageA(Button.Handle(), WM_CHAR, 'a', 0);
    EXPECT_EQ(Clicks, 3);

    // No picture list: a dashed outline and the caption.
    Button.SetImageList(nullptr);
    EXPECT_EQ(Button.LastPicture, -1);
    RunFor(30);
    HDC Dc = GetDC(Button.Handle());
    int Black = 0;
    for (int x = 0; x < 95; ++x)
        Black += GetPixel(Dc, x, 0) == RGB(0, 0, 0);
    ReleaseDC(Button.Handle(), Dc);
    EXPECT_GT(Black, 20); // dashes along the top edge
    EXPECT_LT(Black, 95);
    EXPECT_TRUE(Screenshot(Parent, "image_button_without_pictures"));
    DestroyWindow(Parent);
}

TEST(GuiStartUp, ACorruptStoreStopsWithTheMessage) {
    TFakePlatform Fake;
    Fake.AddResource("STREAM", "PURGXCD", {1, 2, 3});
    TBoxAnswerer Answerer;
    Answerer.Answers = {'M'};
    TRaraVida App;
    EXPECT_FALSE(App.StartUp());
    ASSERT_EQ(Answerer.Texts.size(), 1u);
    EXPECT_EQ(Answerer.Texts[0], CorruptStoreText);
}

TEST(GuiStartUp, TheSplashShowsForHalfASecondAndLoadsOnce) {
    TFakePlatform Fake;
    CopyContainers(Fake);
    TBoxAnswerer Answerer;
    bool Pictured = false;
    Answerer.OnTick = [&] {
        HWND Splash = FindWindowA("TInitializationForm", nullptr);
        if (!Pictured && Splash && IsWindowVisible(Splash)) {
            Pictured = true;
            EXPECT_TRUE(Screenshot(Splash, "splash"));
        }
    };
    TRaraVida App;
    const DWORD Start = GetTickCount();
    ASSERT_TRUE(App.StartUp());
    EXPECT_GE(GetTickCount() - Start, 450u);
    EXPECT_TRUE(Pictured);
    EXPECT_EQ(App.Splash.WorkRuns, 1);
    // The device choices are there before the wizard's first row.
    ASSERT_EQ(App.Main.DeviceChoices.size(), 2u);
    EXPECT_EQ(App.Main.DeviceChoices.back().Target, &App.Main.RecorderTarget);
    // Activated again: the work message comes again, the work does not.
    SendMessageA(App.Splash.Handle(), WM_INITWORK, 0, 0);
    EXPECT_EQ(App.Splash.WorkRuns, 1);
}

TEST_F(GuiWizard, FirstAppearanceRowsAndTheTimersButtonStates) {
    ASSERT_EQ(Main().CreateList.size(), 1u);
    EXPECT_EQ(WindowText(Row(0).EditNrDisks), "1");
    EXPECT_EQ(ComboText(Row(0).ComboBox), "Floppy disk (drive A:)");
    EXPECT_FALSE(Row(0).Selected());
    EXPECT_FALSE(Main().BtnBack->Enabled());
    EXPECT_TRUE(Main().BtnNext->Enabled());
    EXPECT_EQ(Main().Page(), CreateOptions);
    RECT Client;
    GetClientRect(Main().Handle(), &Client);
    EXPECT_EQ(Client.right, 574);
    EXPECT_EQ(Client.bottom, 366);
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_create_options"));

    // Tab moves from a row's quantity to its device type, as the wizard's
    // message loops route it.
    SetFocus(Row(0).EditNrDisks);
    PostMessageA(Row(0).EditNrDisks, WM_KEYDOWN, VK_TAB, 0);
    RunFor(30);
    EXPECT_EQ(GetFocus(), Row(0).ComboBox);

    // Quantities: typed non-digits vanish, an empty box shows 1, arrows stop at 1 and 99.
    SetWindowTextA(Row(0).EditNrDisks, "a5");
    EXPECT_EQ(WindowText(Row(0).EditNrDisks), "5");
    SetWindowTextA(Row(0).EditNrDisks, "");
    EXPECT_EQ(WindowText(Row(0).EditNrDisks), "1");
    SetWindowTextA(Row(0).EditNrDisks, "99");
    SendMessageA(Row(0).BtnInc1, BM_CLICK, 0, 0);
    EXPECT_EQ(Main().RowQuantity(0), 99);
    EXPECT_FALSE(Row(0).Selected()); // the up arrow does not select
    SetWindowTextA(Row(0).EditNrDisks, "1");
    SendMessageA(Row(0).BtnDec1, BM_CLICK, 0, 0);
    EXPECT_EQ(WindowText(Row(0).EditNrDisks), "1");
    EXPECT_TRUE(Row(0).Selected()); // the down arrow does

    // Rows up to 51, then only a beep.
    for (int i = 0; i < 50; ++i)
        Click(*Main().BtnAdd);
    EXPECT_EQ(Main().CreateList.size(), 51u);
    EXPECT_EQ(Fake.Beeps, 0);
    Click(*Main().BtnAdd);
    EXPECT_EQ(Main().CreateList.size(), 51u);
    EXPECT_EQ(Fake.Beeps, 1);
    SendMessageA(Main().ScrollCreateList->Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
    RunFor(60);
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_create_options_51_rows"));

    // Selection: one row at a time; the timer enables Remove.
    RunFor(120);
    EXPECT_TRUE(Main().BtnRemove->Enabled());
    SendMessageA(Row(1).Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 5));
    EXPECT_EQ(Main().SelectedFrame, &Row(1));
    EXPECT_FALSE(Row(0).Selected());
    SendMessageA(Row(1).Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 5));
    EXPECT_TRUE(Row(1).Selected()); // again: no change
    SendMessageA(Row(2).Handle(), WM_COMMAND,
                 MAKEWPARAM(GetDlgCtrlID(Row(2).ComboBox), CBN_DROPDOWN), LPARAM(Row(2).ComboBox));
    EXPECT_EQ(Main().SelectedFrame, &Row(2));
    EXPECT_FALSE(Row(1).Selected());
    EXPECT_TRUE(Row(2).Selected());
    RunFor(120);
    EXPECT_TRUE(Main().BtnRemove->Enabled());
    TCreateListFrame* Below = &Row(3);
    Click(*Main().BtnRemove);
    EXPECT_EQ(Main().CreateList.size(), 50u);
    EXPECT_EQ(&Row(2), Below); // the rows below move up
    EXPECT_EQ(Main().SelectedFrame, nullptr);
    RunFor(120);
    EXPECT_FALSE(Main().BtnRemove->Enabled());

    // Cleared: Next and Clear go within a tick; Next then does nothing.
    Click(*Main().BtnClear);
    EXPECT_TRUE(Main().CreateList.empty());
    RunFor(120);
    EXPECT_FALSE(Main().BtnNext->Enabled());
    EXPECT_FALSE(Main().BtnClear->Enabled());
    Main().GoNext();
    EXPECT_EQ(Main().Page(), CreateOptions);
    Click(*Main().BtnAdd);
    RunFor(120);
    EXPECT_TRUE(Main().BtnNext->Enabled());
}

TEST_F(GuiWizard, PagesPanelsAndACompleteImageRecorderRun) {
    const int Recorder = int(Main().DeviceChoices.size()) - 1;
    // Floppy rows only: no CD/DVD line; outside the table only Rx-DOS.
    Click(*Main().BtnNext);
    EXPECT_EQ(Main().Page(), ProgramOptions);
    EXPECT_TRUE(Main().BtnBack->Enabled());
    EXPECT_FALSE(Main().CdLineVisible());
    EXPECT_TRUE(Main().FloppyLineVisible());
    EXPECT_EQ(SendMessageA(Main().ComboBoxOS, CB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(ComboText(Main().ComboBoxOS), "Rx-Dos");
    EXPECT_FALSE(Main().FloppyUsesMsDos());
    EXPECT_EQ(Main().CheckedOptions(), DefaultOptions());
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_program_options_floppy"));
    Click(*Main().BtnBack);
    EXPECT_EQ(Main().Page(), CreateOptions);
    EXPECT_FALSE(Main().BtnBack->Enabled());

    // Mixed rows show both lines; recorder rows only the CD/DVD one.
    Click(*Main().BtnAdd);
    ChooseDevice(Row(1), Recorder);
    Click(*Main().BtnNext);
    EXPECT_TRUE(Main().CdLineVisible());
    EXPECT_TRUE(Main().FloppyLineVisible());
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_program_options"));
    Click(*Main().BtnBack);
    SendMessageA(Row(0).Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 5));
    RunFor(120); // the timer enables Remove
    Click(*Main().BtnRemove);
    ASSERT_EQ(Main().CreateList.size(), 1u);
    Click(*Main().BtnNext);
    EXPECT_TRUE(Main().CdLineVisible());
    EXPECT_FALSE(Main().FloppyLineVisible());

    // Parameters longer than DOS passes are refused with a message.
    {
        TBoxAnswerer Answerer;
        Answerer.Answers = {'M'};
        const std::string Long(130, 'x');
        SendMessageA(Main().CommandLineEdit, EM_REPLACESEL, FALSE, LPARAM(Long.c_str()));
        RunFor(100);
        EXPECT_EQ(Main().CommandLine().size(), MaxCommandLineLength);
        ASSERT_EQ(Answerer.Texts.size(), 1u);
        EXPECT_EQ(Answerer.Texts[0], CommandLineTooLongText);
        SetWindowTextA(Main().CommandLineEdit, "");
    }

    // Next reads as Create on the start page, and as Next again going back.
    Click(*Main().BtnNext);
    EXPECT_EQ(Main().Page(), PageStart);
    EXPECT_EQ(Main().BtnNext->ImageList(), Main().ImageListCreate);
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_start"));
    Click(*Main().BtnBack);
    EXPECT_EQ(Main().Page(), ProgramOptions);
    EXPECT_EQ(Main().BtnNext->ImageList(), Main().ImageListNext);
    Click(*Main().BtnNext);

    // The run: the file location, the picker (cancelled, confirmed), Rx-DOS
    // for the disc, then the save dialog answered by the machine.
    Fake.SaveAnswers = {std::string(IsoPath)};
    TBoxAnswerer Answerer;
    Answerer.Answers = {'L', 'L', 'L'};
    bool PickerPictured = false, ProgressPictured = false;
    std::vector<bool> ButtonsOffDuringRun;
    Answerer.OnPicker = [&](HWND Picker) {
        EXPECT_TRUE(Screenshot(Picker, "picker"));
        PickerPictured = true;
        PostMessageA(SearchSysForm().BtnCancel->Handle(), BM_CLICK, 0, 0);
    };
    Answerer.BeforeAnswer = [&](size_t, HWND) {
        ButtonsOffDuringRun.push_back(!Main().BtnNext->Enabled() && !Main().BtnBack->Enabled() &&
                                      !Main().BtnClose->Enabled() && !Main().BtnHelp->Enabled());
    };
    Answerer.OnTick = [&] {
        if (!ProgressPictured && Main().Page() == Progress &&
            !FindWindowA("TCoolMessage", nullptr)) {
            ProgressPictured = true;
            EXPECT_TRUE(Screenshot(Main().Handle(), "page_progress"));
        }
    };
    Click(*Main().BtnNext);
    RunFor(100);
    EXPECT_TRUE(PickerPictured);
    ASSERT_EQ(Answerer.Texts.size(), 3u);
    EXPECT_EQ(Answerer.Texts[0], "Please select the location for the image file");
    EXPECT_EQ(Answerer.Texts[1], "Are you sure?");
    EXPECT_EQ(Answerer.Texts[2],
              "Cannot find Ms-Dos system files.\r\nDo you want to use Rx-Dos for this disc?");
    EXPECT_EQ(ButtonsOffDuringRun, std::vector<bool>(3, true));
    ASSERT_EQ(Fake.SaveDialogs.size(), 1u);
    EXPECT_EQ(Fake.SaveDialogs[0], "Purgit.ISO|ISO|*.ISO");
    EXPECT_EQ(Main().Page(), Finish);
    EXPECT_EQ(Main().ProgressBar->Progress(), 100);
    EXPECT_TRUE(Main().BtnNext->Enabled());
    EXPECT_FALSE(Main().BtnBack->Enabled());
    EXPECT_TRUE(Main().BtnClose->Enabled());
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_finish"));

    // The same bytes as the command line's run with the same choices.
    ASSERT_TRUE(Fake.FileExists(IsoPath));
    const std::string Made = Fake.Files[IsoPath];
    EXPECT_EQ(Made.size(), 740u * 2048u);
    {
        TScriptedUserInterface Script;
        Script.SaveFileAnswers = {std::string("C:\\OUT\\REFERENCE.ISO")};
        Script.AskAnswers = {1};
        TimageRecorder Reference;
        TIsoOnlyFront Front(Reference);
        TCreationRun Run(Front);
        Run.DiscSystem = TDiscSystem::RxDos;
        Run.CreateMedia();
    }
    EXPECT_TRUE(Made == Fake.Files["C:\\OUT\\REFERENCE.ISO"]);

    // Create more: back to the same rows.
    Click(*Main().BtnNext);
    EXPECT_EQ(Main().Page(), CreateOptions);
    ASSERT_EQ(Main().CreateList.size(), 1u);
    EXPECT_EQ(&Main().RowTarget(0), &Main().RecorderTarget);
    EXPECT_FALSE(Main().BtnBack->Enabled());
}

TEST_F(GuiWizard, WhateverTheRunThrowsEndsWithErrorOnTheFinishPage) {
    ChooseDevice(Row(0), int(Main().DeviceChoices.size()) - 1);
    Click(*Main().BtnNext);
    Click(*Main().BtnNext);
    int Dialogs = 0;
    Fake.OnSaveDialog = [&] {
        ++Dialogs;
        throw TForeignFault{};
    };
    TBoxAnswerer Answerer;
    // The location prompt, the picker cancelled and confirmed, Rx-DOS, then
    // the message.
    Answerer.Answers = {'L', 'L', 'L', 'M'};
    Answerer.OnPicker = [&](HWND) {
        PostMessageA(SearchSysForm().BtnCancel->Handle(), BM_CLICK, 0, 0);
    };
    Click(*Main().BtnNext);
    RunFor(100);
    ASSERT_EQ(Answerer.Texts.size(), 4u);
    EXPECT_EQ(Answerer.Texts[3], "Error");
    EXPECT_EQ(Dialogs, 1);
    EXPECT_FALSE(Main().Running());
    EXPECT_EQ(Main().Page(), Finish);
    EXPECT_TRUE(Main().BtnNext->Enabled());
    EXPECT_FALSE(Main().BtnBack->Enabled());
    EXPECT_TRUE(Main().BtnClose->Enabled());
    EXPECT_TRUE(Main().BtnHelp->Enabled());
    EXPECT_FALSE(Fake.FileExists(IsoPath));
}

TEST_F(GuiWizard, OnceRxDosIsAcceptedTheDiscLineShowsItAndDiscsCarryIt) {
    ChooseDevice(Row(0), int(Main().DeviceChoices.size()) - 1);
    Click(*Main().BtnNext);
    EXPECT_EQ(WindowText(Main().PanelCDBoot[1]), "Ms-Dos");
    Click(*Main().BtnNext);
    ASSERT_EQ(CreateTheImageOnRxDos().size(), 3u);
    EXPECT_EQ(Main().Page(), Finish);
    ASSERT_TRUE(Fake.FileExists(IsoPath));
    // Create more: the same rows, and the page names the system the disc
    // will carry.
    Click(*Main().BtnNext);
    Click(*Main().BtnNext);
    ASSERT_EQ(Main().Page(), ProgramOptions);
    EXPECT_EQ(WindowText(Main().PanelCDBoot[1]), "Rx-Dos");
    EXPECT_TRUE(IsWindowVisible(Main().PanelCDBoot[1]));
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_program_options_rxdos"));

    // The next disc is made on Rx-DOS without searching or asking again.
    Fake.Files.erase(IsoPath);
    Fake.SaveAnswers = {std::string(IsoPath)};
    TBoxAnswerer Answerer;
    Answerer.Answers = {'L'};
    bool PickerShown = false;
    Answerer.OnPicker = [&](HWND) {
        PickerShown = true;
        PostMessageA(SearchSysForm().BtnCancel->Handle(), BM_CLICK, 0, 0);
    };
    Click(*Main().BtnNext);
    Click(*Main().BtnNext);
    RunFor(100);
    EXPECT_FALSE(PickerShown);
    EXPECT_EQ(Answerer.Texts,
              std::vector<std::string>{"Please select the location for the image file"});
    EXPECT_EQ(Main().Page(), Finish);
    ASSERT_TRUE(Fake.FileExists(IsoPath));
    // Rx-DOS's own files in the disc's boot floppy.
    EXPECT_NE(Fake.Files[IsoPath].find("RXDOSBIO"), std::string::npos);
}

TEST_F(GuiWizard, TheUefiChoiceStandsOnTheDiscLineAndGivesDiscsTheSecondEntry) {
    ChooseDevice(Row(0), int(Main().DeviceChoices.size()) - 1);
    Click(*Main().BtnNext);
    ASSERT_TRUE(IsWindowVisible(Main().ChkUefi));
    EXPECT_EQ(WindowText(Main().ChkUefi), "Also start on UEFI PCs (CD/DVD and image files)");
    // Right of the system lines, clear of them and of the buttons' band.
    RECT Box, Line;
    GetWindowRect(Main().ChkUefi, &Box);
    GetWindowRect(Main().PanelCDBoot[1], &Line);
    EXPECT_GT(Box.left, Line.right);
    EXPECT_FALSE(Main().UefiChecked());
    SendMessageA(Main().ChkUefi, BM_CLICK, 0, 0);
    EXPECT_TRUE(Main().UefiChecked());
    EXPECT_TRUE(Screenshot(Main().Handle(), "page_program_options_uefi"));
    Click(*Main().BtnNext);

    ASSERT_EQ(CreateTheImageOnRxDos().size(), 3u);
    ASSERT_EQ(Main().Page(), Finish);
    ASSERT_TRUE(Fake.FileExists(IsoPath));
    // A primary volume descriptor in sector 16 and the EFI section in the catalog.
    const std::string& Made = Fake.Files[IsoPath];
    ASSERT_GT(Made.size(), 740u * 2048u);
    EXPECT_EQ(Made.substr(16 * 2048, 6), "\x01"
                                         "CD001");
    EXPECT_EQ(uint8_t(Made[19 * 2048 + 64]), 0x91);
    EXPECT_EQ(uint8_t(Made[19 * 2048 + 65]), 0xEF);
    SendMessageA(Main().ChkUefi, BM_CLICK, 0, 0); // as the other tests expect it
}

TEST_F(GuiWizard, ClosingDuringARunAsksAndStopsAtTheNextPrompt) {
    ChooseDevice(Row(0), int(Main().DeviceChoices.size()) - 1);
    Click(*Main().BtnNext);
    Click(*Main().BtnNext);
    TBoxAnswerer Answerer;
    Answerer.Answers = {'L', 'L'};
    Answerer.BeforeAnswer = [&](size_t Box, HWND) {
        if (Box == 0) PostMessageA(Main().Handle(), WM_CLOSE, 0, 0);
        if (Box == 1) {
            EXPECT_TRUE(IsWindow(Main().Handle())); // never under a running medium
        }
    };
    HWND Window = Main().Handle();
    Fake.SaveAnswers = {std::string(IsoPath)};
    Click(*Main().BtnNext);
    RunFor(150);
    ASSERT_EQ(Answerer.Texts.size(), 2u);
    EXPECT_EQ(Answerer.Texts[1], StopQuestion);
    EXPECT_TRUE(Fake.SaveDialogs.empty());
    EXPECT_FALSE(Fake.FileExists(IsoPath));
    EXPECT_FALSE(IsWindow(Window));
    // Ending saved the twelve options and the UEFI choice.
    EXPECT_EQ(Fake.Registry["SOFTWARE\\CORVANTIS\\CORVANE PURGEX 2005\\CONFIGURATIONS"].size(),
              13u);
}

TEST_F(GuiWizard, HelpMenuLinksAndTheAboutBox) {
    auto Choose = [&](int Index) {
        SendMessageA(Main().Handle(), WM_COMMAND, GetMenuItemID(Main().PopupHelp, Index), 0);
    };
    Choose(0);
    Choose(1);
    Choose(2);
    Choose(4);
    Choose(5);
    Choose(8);
    SendMessageA(Main().HyperLink4->Handle(), BM_CLICK, 0, 0);
    const std::string Folder = "C:\\PURGEX\\";
    EXPECT_EQ(Fake.Opened,
              (std::vector<std::string>{Folder + "help\\index.htm", Folder + "help\\10300.htm",
                                        Folder + "help\\7010.htm", Folder + "upgrade.url",
                                        Folder + "help\\9020.htm", Folder + "OnTheWeb.url",
                                        Folder + "help\\6010.htm"}));
    char Caption[64] = {};
    GetMenuStringA(Main().PopupHelp, 7, Caption, sizeof Caption, MF_BYPOSITION);
    EXPECT_STREQ(Caption, "About");

    // The about box, centred over the wizard wherever it stands.
    SetWindowPos(Main().Handle(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Fake.Opened.clear();
    TBoxAnswerer Answerer;
    bool Centred = false;
    Answerer.OnTick = [&] {
        HWND About = App->About.Handle();
        if (!IsWindowVisible(About) || Centred) return;
        RECT a, m;
        GetWindowRect(About, &a);
        GetWindowRect(Main().Handle(), &m);
        Centred = a.left == m.left + ((m.right - m.left) - (a.right - a.left)) / 2 &&
                  a.top == m.top + ((m.bottom - m.top) - (a.bottom - a.top)) / 2;
        EXPECT_TRUE(Screenshot(About, "about"));
        SendMessageA(App->About.BtnSupport->Handle(), BM_CLICK, 0, 0);
        SendMessageA(App->About.BtnView->Handle(), BM_CLICK, 0, 0);
        PostMessageA(App->About.BtnOk->Handle(), BM_CLICK, 0, 0);
    };
    Choose(7);
    EXPECT_TRUE(Centred);
    EXPECT_EQ(Fake.Opened,
              (std::vector<std::string>{"C:\\PURGEX\\help\\9020.htm", "C:\\PURGEX\\license.txt"}));
}

// The real registry of the Wine prefix.
TEST(GuiSettings, OptionsLiveInTheCurrentUsersRegistry) {
    const char* Key = "Software\\Corvantis\\Corvane Purgex 2005\\Configurations";
    auto Value = [&](const char* Name, DWORD& Data) {
        DWORD Size = sizeof Data, Type = 0;
        return RegGetValueA(HKEY_CURRENT_USER, Key, Name, RRF_RT_ANY, &Type, &Data, &Size) ==
                   ERROR_SUCCESS &&
               Type == REG_DWORD;
    };
    auto SetDword = [&](const char* Name, DWORD Data) {
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, Key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
        RegSetValueExA(k, Name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&Data), sizeof Data);
        RegCloseKey(k);
    };
    TBoxAnswerer Answerer;
    Answerer.Answers = {'M'};

    DWORD Data = 0;
    // First run: defaults, and all twelve values once the wizard ends.
    RegDeleteTreeA(HKEY_CURRENT_USER, Key);
    {
        TMainForm Form;
        EXPECT_EQ(Form.CheckedOptions(), DefaultOptions());
    }
    for (int i = 0; i < OptionCount; ++i) {
        DWORD Data = 99;
        const std::string Name = "opt" + std::to_string(i);
        ASSERT_TRUE(Value(Name.c_str(), Data)) << Name;
        EXPECT_EQ(Data, DefaultOptions()[size_t(i)] ? 1u : 0u) << Name;
    }

    // The UEFI choice is kept beside them: off at first, then as the user left it.
    ASSERT_TRUE(Value("uefi", Data = 99));
    EXPECT_EQ(Data, 0u);
    SetDword("uefi", 1);
    {
        TMainForm Form;
        EXPECT_TRUE(Form.UefiChecked());
        SendMessageA(Form.ChkUefi, BM_CLICK, 0, 0);
    }
    ASSERT_TRUE(Value("uefi", Data = 99));
    EXPECT_EQ(Data, 0u);

    // Only "opt3" = 0: the defaults with option 3 unchecked.
    RegDeleteTreeA(HKEY_CURRENT_USER, Key);
    SetDword("opt3", 0);
    {
        TMainForm Form;
        TWiperOptions Expected = DefaultOptions();
        Expected[3] = false;
        EXPECT_EQ(Form.CheckedOptions(), Expected);
    }
    // 5 counts as checked and comes back as 1.
    SetDword("opt7", 5);
    {
        TMainForm Form;
        EXPECT_TRUE(Form.CheckedOptions()[7]);
    }
    ASSERT_TRUE(Value("opt7", Data));
    EXPECT_EQ(Data, 1u);

    // A string value stops the loading with the message; earlier values stay read.
    RegDeleteTreeA(HKEY_CURRENT_USER, Key);
    SetDword("opt0", 0);
    SetDword("opt4", 0);
    HKEY k;
    RegCreateKeyExA(HKEY_CURRENT_USER, Key, 0, nullptr, 0, KEY_WRITE, nullptr, &k, nullptr);
    RegSetValueExA(k, "opt2", 0, REG_SZ, reinterpret_cast<const BYTE*>("yes"), 4);
    RegCloseKey(k);
    {
        TWindowUserInterface Windows;
        TUserInterface* Previous = InstallUserInterface(&Windows);
        TMainForm Form;
        TWiperOptions Expected = DefaultOptions();
        Expected[0] = false;                        // read before the string
        EXPECT_EQ(Form.CheckedOptions(), Expected); // opt4 after it keeps its default
        InstallUserInterface(Previous);
        RegDeleteTreeA(HKEY_CURRENT_USER, Key); // the form saves on its way out
    }
    // The 5 was told too, as a value read as the nearest sound one.
    EXPECT_EQ(Answerer.Texts, (std::vector<std::string>{"Invalid value for 'opt7'",
                                                        "Invalid data type for 'opt2'"}));
    RegDeleteTreeA(HKEY_CURRENT_USER, Key);
}

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX Controls{sizeof Controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&Controls);
    CoInitialize(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int Status = RUN_ALL_TESTS();
    CoUninitialize();
    return Status;
}

namespace {
// The real machine under Wine, with the save dialog answered: the files, the
// clock, the environment and the registry are Wine's own.
class TSavingPlatform : public TPlatform {
public:
    explicit TSavingPlatform(std::string Path) : Path(std::move(Path)) {
        Previous = InstallPlatform(this);
    }
    ~TSavingPlatform() override { InstallPlatform(Previous); }
    TWindowsVersion Version() override { return Real().Version(); }
    TSystemTime LocalTime() override { return Real().LocalTime(); }
    std::optional<std::span<const uint8_t>> OwnResource(std::string_view Type,
                                                        std::string_view Name) override {
        return Real().OwnResource(Type, Name);
    }
    std::optional<std::string> LibraryResource(std::string_view Library, std::string_view Type,
                                               std::string_view Name) override {
        return Real().LibraryResource(Library, Type, Name);
    }
    std::optional<std::string> EnvironmentVariable(std::string_view Name) override {
        return Real().EnvironmentVariable(Name);
    }
    std::string WindowsDirectory() override { return Real().WindowsDirectory(); }
    bool FileExists(std::string_view File) override { return Real().FileExists(File); }
    std::unique_ptr<TStream> OpenFileRead(std::string_view File) override {
        return Real().OpenFileRead(File);
    }
    std::unique_ptr<TStream> CreateFileWrite(std::string_view File) override {
        return Real().CreateFileWrite(File);
    }
    std::unique_ptr<TRegistryKey> OpenRegistryKey(std::string_view Key, bool Create) override {
        return Real().OpenRegistryKey(Key, Create);
    }
    // The image goes to a temporary file moved into place when complete.
    bool RemoveFile(std::string_view File) override { return Real().RemoveFile(File); }
    bool MoveFileOver(std::string_view From, std::string_view To) override {
        return Real().MoveFileOver(From, To);
    }
    bool FileReadOnly(std::string_view File) override { return Real().FileReadOnly(File); }
    bool FolderWritable(std::string_view Folder) override { return Real().FolderWritable(Folder); }
    std::optional<std::string> SaveFileDialog(std::string_view, std::string_view,
                                              std::string_view) override {
        return Path;
    }

private:
    static TPlatform& Real() { return NativePlatform(); }
    std::string Path;
    TPlatform* Previous = nullptr;
};
} // namespace

// The test script compares this file with what purgex makes natively from
// the same choices (PURGEX_WIZARD_ISO names it).
TEST(GuiRealMachine, TheWizardSavesAnImageFileThroughItsWindows) {
    const char* Path = getenv("PURGEX_WIZARD_ISO");
    if (!Path || !*Path) GTEST_SKIP() << "PURGEX_WIZARD_ISO names the file to make";
    DeleteFileA(Path);
    TSavingPlatform Machine(Path);
    TRaraVida App;
    ASSERT_TRUE(App.StartUp());
    TMainForm& Main = App.Main;
    ShowWindow(Main.Handle(), SW_SHOW);
    Main.FormActivate();
    Main.SetDefaultOptions();
    ChooseDevice(*Main.CreateList.at(0), int(Main.DeviceChoices.size()) - 1);
    TBoxAnswerer Answerer;
    // The location prompt; then, where the picker appears, "Are you sure?"
    // and Rx-DOS for the disc.
    Answerer.Answers = {'L', 'L', 'L'};
    Answerer.OnPicker = [&](HWND) {
        PostMessageA(SearchSysForm().BtnCancel->Handle(), BM_CLICK, 0, 0);
    };
    Click(*Main.BtnNext);
    Click(*Main.BtnNext);
    Click(*Main.BtnNext);
    RunFor(100);
    EXPECT_EQ(Main.Page(), Finish);
    EXPECT_EQ(Main.ProgressBar->Progress(), 100);
    WIN32_FILE_ATTRIBUTE_DATA Info;
    ASSERT_TRUE(GetFileAttributesExA(Path, GetFileExInfoStandard, &Info));
    EXPECT_EQ(Info.nFileSizeLow, 740u * 2048u);
}

// A USB stick present: its row, the options page's line for it, the prompt
// naming it, and a run that writes it through the Windows requests.
TEST(GuiStick, TheStickRowPromptsAndWritesTheStick) {
    TGuiPlatform Fake;
    Fake.WindowsVersion = {2, 10, 0};
    CopyContainers(Fake);
    for (const char* Name : {"MBR", "FAT16", "FAT32"}) {
        const auto Bytes = NativePlatform().OwnResource("STICKBOOT", Name);
        ASSERT_TRUE(Bytes) << Name;
        Fake.AddResource("STICKBOOT", Name, std::vector<uint8_t>(Bytes->begin(), Bytes->end()));
    }
    TFakeDiskMachine Machine;
    Machine.Drives[0] = TFakePhysicalDrive{};
    Machine.Drives[0].BusType = 11; // SATA: the system disk
    Machine.Drives[0].RemovableMedia = false;
    Machine.Drives[1] = TFakePhysicalDrive{};
    Machine.Volumes = {{'C', 0, true}, {'E', 1}};
    Fake.Disks = &Machine;
    Fake.WindowsDir = "C:\\WINDOWS";

    TRaraVida App;
    ASSERT_TRUE(App.StartUp());
    TMainForm& Main = App.Main;
    ShowWindow(Main.Handle(), SW_SHOW);
    Main.FormActivate();
    RunFor(120);
    ASSERT_EQ(Main.DeviceChoices.back().Caption,
              "USB flash drive (E: Corsair Voyager Mini, 67 MB)");
    for (const auto& Choice : Main.DeviceChoices)
        EXPECT_EQ(Choice.Caption.find("C:"), std::string::npos) << "the system disk is offered";
    TCreateListFrame& Row = *Main.CreateList.at(0);
    ChooseDevice(Row, int(Main.DeviceChoices.size()) - 1);

    // With a floppy and a disc row too, the stick's line goes under the
    // other two.
    Click(*Main.BtnAdd);
    Click(*Main.BtnAdd);
    ChooseDevice(*Main.CreateList.at(1), int(Main.DeviceChoices.size()) - 2);
    Click(*Main.BtnNext);
    EXPECT_TRUE(Main.StickLineVisible() && Main.CdLineVisible() && Main.FloppyLineVisible());
    EXPECT_TRUE(Screenshot(Main.Handle(), "page_program_options_three_lines"));
    Click(*Main.BtnBack);
    for (int i = 0; i < 2; ++i) {
        SendMessageA(Main.CreateList.back()->Handle(), WM_LBUTTONDOWN, MK_LBUTTON,
                     MAKELPARAM(30, 5));
        RunFor(120); // the timer enables Remove
        Click(*Main.BtnRemove);
    }
    ASSERT_EQ(Main.CreateList.size(), 1u);
    EXPECT_EQ(ComboText(Row.ComboBox), "USB flash drive (E: Corsair Voyager Mini, 67 MB)");
    EXPECT_TRUE(Screenshot(Main.Handle(), "page_create_options_stick"));

    Click(*Main.BtnNext);
    EXPECT_TRUE(Main.StickLineVisible());
    EXPECT_FALSE(Main.CdLineVisible());
    EXPECT_FALSE(Main.FloppyLineVisible());
    EXPECT_TRUE(Screenshot(Main.Handle(), "page_program_options_stick"));
    Click(*Main.BtnNext);

    TBoxAnswerer Answerer;
    Answerer.Answers = {'L'};
    bool PromptPictured = false;
    Answerer.BeforeAnswer = [&](size_t, HWND Box) {
        PromptPictured = Screenshot(Box, "message_insert_stick");
    };
    Click(*Main.BtnNext);
    RunFor(100);
    ASSERT_EQ(Answerer.Texts.size(), 1u);
    EXPECT_EQ(Answerer.Texts[0], "Please insert the USB flash drive. Everything on it will be "
                                 "erased.\r\n(E: Corsair Voyager Mini, 67 MB)");
    EXPECT_TRUE(PromptPictured);
    EXPECT_EQ(Main.Page(), Finish);
    EXPECT_EQ(Main.ProgressBar->Progress(), 100);
    EXPECT_TRUE(Screenshot(Main.Handle(), "page_finish_stick"));

    // Locked and dismounted before the first write, refreshed after the
    // last; the system disk's volume never touched.
    const auto Steps = Machine.Logged({"lock", "dismount", "write", "refresh", "unlock"});
    ASSERT_GE(Steps.size(), 5u);
    EXPECT_EQ(Steps[0], "lock E:");
    EXPECT_EQ(Steps[1], "dismount E:");
    EXPECT_EQ(Steps[2].rfind("write 1 @0 ", 0), 0u) << Steps[2];
    for (const std::string& Step : Machine.Log)
        EXPECT_EQ(Step.find("C:"), std::string::npos) << Step;
    const auto Mbr = Machine.Contents(1, 0, 512);
    EXPECT_EQ(Mbr[446], 0x80);
    EXPECT_EQ(Mbr[446 + 4], 0x0E);
    EXPECT_EQ(Mbr[510], 0x55);
    EXPECT_EQ(Mbr[511], 0xAA);
    const auto Boot = Machine.Contents(1, 2048 * 512, 512);
    EXPECT_EQ(std::string(Boot.begin() + 0x36, Boot.begin() + 0x3E), "FAT16   ");
}
