#include "ui/SearchSys.h"

#include <commctrl.h>

#include "base/UserInterface.h"
#include "platform/Platform.h"
#include "ui/CoolMsg.h"
#include "ui/Pictures.h"
#include "ui/WizardRules.h"

namespace {
std::string Upper(std::string s) {
    for (char& c : s)
        c = char(toupper(static_cast<unsigned char>(c)));
    return s;
}
} // namespace

TSearchSysForm& SearchSysForm() {
    static TSearchSysForm Form;
    return Form;
}

TSearchSysForm::TSearchSysForm() {
    CreateAs("TSearchSysForm", WS_POPUP | WS_CAPTION | WS_SYSMENU, WS_EX_DLGMODALFRAME, 0, 0, 320,
             360, nullptr, "Corvane Purgex 2005");
    SetClientSize(Wnd, 305, 329);
    MakeControl(Wnd, "STATIC", "Cannot find the Ms-Dos sytem files.", SS_NOPREFIX, 8, 8, 289, 14,
                UiFont("Arial", 8, true));
    // The doubled ampersand of the caption shows as one.
    MakeControl(Wnd, "STATIC", "Please specify the folder with this files. (Io.sys && Command.com)",
                0, 8, 24, 225, 33, UiFont("Arial", 8, true));
    ShellTreeView = MakeControl(Wnd, WC_TREEVIEWA, "",
                                WS_BORDER | WS_TABSTOP | TVS_HASBUTTONS | TVS_HASLINES |
                                    TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                8, 64, 289, 217, UiFont("MS Sans Serif", 8));
    BtnOk = std::make_unique<TImageButton>(Wnd, 55, 293, 95, 28, ButtonPictures(95, 28, "OK"));
    BtnCancel =
        std::make_unique<TImageButton>(Wnd, 157, 293, 95, 28, ButtonPictures(95, 28, "Cancel"));
    BtnOk->OnClick = [this] { BtnOkClick(); };
    BtnCancel->OnClick = [this] { BtnCancelClick(); };
    // The drives stand at the top, as under My Computer.
    char Drives[512] = {};
    const DWORD Length = GetLogicalDriveStringsA(sizeof Drives - 1, Drives);
    for (const char* d = Drives; d < Drives + Length && *d; d += strlen(d) + 1) {
        std::string Root = d;
        if (!Root.empty() && Root.back() == '\\') Root.pop_back();
        AddFolder(TVI_ROOT, Root, Root);
    }
}

HTREEITEM TSearchSysForm::AddFolder(HTREEITEM Parent, const std::string& Caption,
                                    const std::string& Path) {
    Paths.push_back(Path);
    TVINSERTSTRUCTA Insert{};
    Insert.hParent = Parent;
    Insert.hInsertAfter = TVI_LAST;
    Insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN;
    Insert.item.pszText = const_cast<char*>(Caption.c_str());
    Insert.item.lParam = LPARAM(Paths.size() - 1);
    Insert.item.cChildren = 1; // its folders are read when it is opened
    return HTREEITEM(SendMessageA(ShellTreeView, TVM_INSERTITEMA, 0, LPARAM(&Insert)));
}

void TSearchSysForm::FillChildren(HTREEITEM Item) {
    if (SendMessageA(ShellTreeView, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(Item))) return;
    TVITEMA Info{};
    Info.mask = TVIF_PARAM;
    Info.hItem = Item;
    SendMessageA(ShellTreeView, TVM_GETITEMA, 0, LPARAM(&Info));
    const std::string Folder = Paths[size_t(Info.lParam)];
    WIN32_FIND_DATAA Found;
    HANDLE Find = FindFirstFileA((Folder + "\\*").c_str(), &Found);
    int Count = 0;
    if (Find != INVALID_HANDLE_VALUE) {
        do {
            const std::string Name = Found.cFileName;
            if ((Found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && Name != "." &&
                Name != "..") {
                AddFolder(Item, Name, Folder + "\\" + Name);
                ++Count;
            }
        } while (FindNextFileA(Find, &Found));
        FindClose(Find);
    }
    if (Count == 0) { // no folders below: no button
        Info.mask = TVIF_CHILDREN;
        Info.cChildren = 0;
        SendMessageA(ShellTreeView, TVM_SETITEMA, 0, LPARAM(&Info));
    }
}

std::string TSearchSysForm::SelectedPath() {
    HTREEITEM Item = HTREEITEM(SendMessageA(ShellTreeView, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!Item) return {};
    TVITEMA Info{};
    Info.mask = TVIF_PARAM;
    Info.hItem = Item;
    SendMessageA(ShellTreeView, TVM_GETITEMA, 0, LPARAM(&Info));
    return Paths[size_t(Info.lParam)];
}

bool TSearchSysForm::SelectFolder(const std::string& Path) {
    std::string Wanted = Upper(Path);
    while (!Wanted.empty() && (Wanted.back() == '\\' || Wanted.back() == '/'))
        Wanted.pop_back();
    HTREEITEM Item = HTREEITEM(SendMessageA(ShellTreeView, TVM_GETNEXTITEM, TVGN_ROOT, 0));
    while (Item) {
        TVITEMA Info{};
        Info.mask = TVIF_PARAM;
        Info.hItem = Item;
        SendMessageA(ShellTreeView, TVM_GETITEMA, 0, LPARAM(&Info));
        const std::string Here = Upper(Paths[size_t(Info.lParam)]);
        if (Here == Wanted) {
            SendMessageA(ShellTreeView, TVM_SELECTITEM, TVGN_CARET, LPARAM(Item));
            return true;
        }
        if (Wanted.rfind(Here + "\\", 0) == 0) { // go down into it
            FillChildren(Item);
            SendMessageA(ShellTreeView, TVM_EXPAND, TVE_EXPAND, LPARAM(Item));
            Item =
                HTREEITEM(SendMessageA(ShellTreeView, TVM_GETNEXTITEM, TVGN_CHILD, LPARAM(Item)));
        } else {
            Item = HTREEITEM(SendMessageA(ShellTreeView, TVM_GETNEXTITEM, TVGN_NEXT, LPARAM(Item)));
        }
    }
    return false;
}

void TSearchSysForm::BtnOkClick() {
    SystemFolder = SelectedPath();
    if (!SystemFolder.empty() && SystemFolder.back() != '\\') SystemFolder += '\\';
    if (!SystemFolder.empty() && Platform().FileExists(SystemFolder + "Io.Sys") &&
        Platform().FileExists(SystemFolder + "command.com")) {
        ModalResult = 1;
        return;
    }
    CoolMsgInfo("There is no system files.");
}

void TSearchSysForm::BtnCancelClick() {
    if (CoolMsgAsk(TQuestion::Other, "Are you sure?", "Yes", "No") == 1) ModalResult = 2;
}

std::optional<std::string> TSearchSysForm::Pick() {
    RECT Box, Main;
    GetWindowRect(Wnd, &Box);
    if (MainWindow())
        GetWindowRect(MainWindow(), &Main);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &Main, 0);
    SetWindowPos(Wnd, nullptr, CentredOver(Main.left, Main.right - Main.left, Box.right - Box.left),
                 CentredOver(Main.top, Main.bottom - Main.top, Box.bottom - Box.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ModalResult = 0;
    RunModal(Wnd, [this] { return ModalResult != 0; });
    if (ModalResult != 1) return std::nullopt;
    return SystemFolder;
}

LRESULT TSearchSysForm::HandleMessage(UINT Msg, WPARAM w, LPARAM l) {
    switch (Msg) {
    case WM_CLOSE:
        ModalResult = 2;
        return 0;
    case WM_NOTIFY: {
        auto* Note = reinterpret_cast<NMTREEVIEWA*>(l);
        if (Note->hdr.code == TVN_ITEMEXPANDINGA && Note->action == TVE_EXPAND)
            FillChildren(Note->itemNew.hItem);
        if (Note->hdr.code == NM_RCLICK) { // a right click selects
            TVHITTESTINFO Hit{};
            GetCursorPos(&Hit.pt);
            ScreenToClient(ShellTreeView, &Hit.pt);
            if (HTREEITEM Item =
                    HTREEITEM(SendMessageA(ShellTreeView, TVM_HITTEST, 0, LPARAM(&Hit))))
                SendMessageA(ShellTreeView, TVM_SELECTITEM, TVGN_CARET, LPARAM(Item));
        }
        return 0;
    }
    case WM_ERASEBKGND: {
        RECT r;
        GetClientRect(Wnd, &r);
        FillRect(HDC(w), &r, UiBrush(WindowColour));
        return 1;
    }
    case WM_CTLCOLORSTATIC:
        SetBkMode(HDC(w), TRANSPARENT);
        return LRESULT(UiBrush(WindowColour));
    }
    return Default(Msg, w, l);
}
