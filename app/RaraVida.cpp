// RaraVida.exe: the boot disk creator's wizard. It reads no command line.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/RaraVidaApp.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX Controls{sizeof Controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&Controls);
    CoInitialize(nullptr); // the shell's folder tree and dialogs
    int Status = 1;
    {
        TRaraVida Program;
        if (Program.StartUp()) Status = Program.Run();
    }
    CoUninitialize();
    return Status;
}
