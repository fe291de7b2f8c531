#pragma once
// The MS-DOS folder picker: a folder tree of the machine's drives; OK only
// once the chosen folder holds both system files.

#include <memory>
#include <vector>

#include "ui/ImageButton.h"

class TSearchSysForm : public TWindow {
public:
    TSearchSysForm();
    // Shows the picker modally: the confirmed folder ending in "\", or
    // empty when the user cancelled or closed it.
    std::optional<std::string> Pick();

    // Selects Path in the tree, opening the folders above it; false when the
    // tree has no such folder.
    bool SelectFolder(const std::string& Path);
    void BtnOkClick();
    void BtnCancelClick();

    std::string SystemFolder;
    std::unique_ptr<TImageButton> BtnOk, BtnCancel;
    HWND ShellTreeView = nullptr;

private:
    LRESULT HandleMessage(UINT Msg, WPARAM w, LPARAM l) override;
    HTREEITEM AddFolder(HTREEITEM Parent, const std::string& Caption, const std::string& Path);
    void FillChildren(HTREEITEM Item);
    std::string SelectedPath();

    std::vector<std::string> Paths; // by item parameter
    int ModalResult = 0;
};

// The one picker, created at start-up and reused.
TSearchSysForm& SearchSysForm();
