#pragma once
// The main wizard: five pages through which the user lists the media to
// make, sets the wiper's options and watches the creation run. The form is
// the run's front (rows, options, gauge) and shows its prompts in windows.

#include <memory>
#include <vector>

#include "image/CreationRun.h"
#include "image/FloppyTarget.h"
#include "image/OpticalTargets.h"
#include "image/StickTarget.h"
#include "optical/ImageRecorder.h"
#include "optical/Optical_devices.h"
#include "ui/CoolMsg.h"
#include "ui/HyperLink.h"
#include "ui/ListFrame.h"

enum TPage { CreateOptions = 0, ProgramOptions, PageStart, Progress, Finish, PageCount };

// The percentage bar the run drives.
class TGauge : public TWindow {
public:
    TGauge(HWND Parent, int x, int y, int w, int h);
    void SetProgress(int Percent);
    int Progress() const { return Percent; }

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    int Percent = 0;
};

// The optical writers offered besides the floppy and the image recorder,
// with the objects that own them and their targets. The one place where
// discovery meets the wizard.
std::vector<TDeviceChoice>
DiscoverWriters(std::unique_ptr<TOpticalDevices>& Owned,
                std::vector<std::unique_ptr<TDiscWriterTarget>>& Targets);
// The USB sticks present, with their targets.
std::vector<TDeviceChoice> DiscoverSticks(std::vector<std::unique_ptr<TUsbStickTarget>>& Targets);
// "USB flash drive (E: SanDisk Cruzer, 16.0 GB)"
std::string StickChoiceCaption(const TStickDevice& Device);

class TMainForm : public TWindow, public TRunFront, public TWindowUserInterface {
public:
    TMainForm(); // FormCreate
    ~TMainForm() override;

    void BuildDeviceChoices();
    void FormActivate();
    void GoNext();
    void GoBack();
    void Timer1Timer();
    void BtnAddClick();
    void BtnRemoveClick();
    void BtnClearClick();
    void BtnHelpClick();
    void SetDefaultOptions();
    void LoadOptions();
    void SaveOptions();
    void ShowHelpTopic(int Topic);
    void HelpContents();

    // TRunFront
    int RowCount() override { return int(CreateList.size()); }
    TMediaTarget& RowTarget(int Row) override { return CreateList[size_t(Row)]->RowTarget(); }
    int RowQuantity(int Row) override { return CreateList[size_t(Row)]->RowQuantity(); }
    TWiperOptions CheckedOptions() override;
    std::string CommandLine() override;
    bool FloppyUsesMsDos() override;
    void SetGauge(int Percent) override;

    // Prompts; once the user chose to stop, each is answered so the run ends.
    void MsgInfo(const std::string& Text) override;
    int MsgRetryAbort(const std::string& Text) override;
    int MsgAsk(TQuestion Kind, const std::string& Text, const std::string& LeftCaption,
               const std::string& RightCaption) override;
    std::optional<std::string> ChooseSaveFile(const std::string& DefaultName,
                                              const std::string& DefaultExtension,
                                              const std::string& Filter) override;
    std::optional<std::string> PickSystemFolder() override;

    TPage Page() const { return Shown; }
    bool CdLineVisible() const { return CdLineShown; }
    bool StickLineVisible() const { return StickLineShown; }
    bool FloppyLineVisible() const { return FloppyLineShown; }
    // What the CD/DVD line shows: the system the next disc carries.
    std::string DiscSystemText() const;
    void SetOption(int Index, bool Checked);
    // "Also start on UEFI PCs": discs get the UEFI entry.
    bool UefiChecked() const;
    bool Running() const { return RunInProgress; }

    // Ends the message loop when the window goes (the program's own form).
    bool QuitOnDestroy = false;
    std::function<void()> ShowAbout;
    int HelpContext = 1020;

    std::vector<TDeviceChoice> DeviceChoices;
    std::vector<std::unique_ptr<TCreateListFrame>> CreateList;
    TCreateListFrame* SelectedFrame = nullptr;
    std::unique_ptr<TOpticalDevices> OpticalDevices;
    // MS-DOS, asking for Rx-DOS where it cannot be placed; once the user
    // accepts Rx-DOS, the discs of this session carry Rx-DOS.
    TDiscSystem DiscSystem = TDiscSystem::MsDosOrAsk;
    TimageRecorder RecorderDevice;
    // The targets the rows choose from: the first row choice is the floppy.
    TFloppyDriveTarget FloppyTarget;
    std::vector<std::unique_ptr<TDiscWriterTarget>> WriterTargets;
    TImageFileTarget RecorderTarget{RecorderDevice};
    std::vector<std::unique_ptr<TUsbStickTarget>> StickTargets;

    std::unique_ptr<TImageButton> BtnHelp, BtnClose, BtnBack, BtnNext, BtnAdd, BtnRemove, BtnClear;
    HIMAGELIST ImageListClose, ImageListBack, ImageListNext, ImageListCreate;
    std::unique_ptr<TScrollBox> ScrollCreateList;
    std::unique_ptr<TGauge> ProgressBar;
    std::unique_ptr<THyperLink> HyperLink1, HyperLink2, HyperLink4;
    HWND ChkOptions = nullptr, CommandLineEdit = nullptr, ComboBoxOS = nullptr,
         ChkMoreDisks = nullptr, ChkExit = nullptr, ChkUefi = nullptr;
    HWND PanelCDBoot[2] = {}, PanelFloppyBoot[2] = {}, PanelStickBoot[2] = {};
    HMENU PopupHelp = nullptr;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    void ShowPage(TPage Page);
    void ShowOsLines();
    void PagesPageChanged();
    void FormDestroy();
    void LayOutRows();
    void AddRow();
    void Add(TPage Page, HWND Control);
    HWND Label(TPage Page, const char* Text, int x, int y, int w, int h, bool Bold = true);
    void OpenBeside(const char* File);
    void SetButtons(bool Next, bool Back, bool Close, bool Help);

    std::vector<HWND> PageControls[PageCount];
    TPage Shown = CreateOptions;
    HBITMAP ImageHeader = nullptr;
    bool FirstActivation = true;
    bool RunInProgress = false;
    bool StopRequested = false;
    bool CloseAfterRun = false;
    bool Destroyed = false;
    bool CdLineShown = true, FloppyLineShown = true, StickLineShown = false;
};

// Page texts used by the tests and the form.
extern const char* const WizardTitle;
extern const char* const StopQuestion;
