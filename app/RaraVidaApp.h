#pragma once
// Start-up of the wizard: the forms in their order, the splash with the
// loading behind it, then the wizard's message loop.

#include "app/About.h"
#include "app/initform.h"
#include "ui/SearchSys.h"

class TRaraVida {
public:
    TRaraVida();
    ~TRaraVida();
    // The splash and the loading; false (after the message) when a store
    // failed.
    bool StartUp();
    // Shows the wizard and runs its message loop until it closes.
    int Run();

    TMainForm Main;
    TAboutForm About{Main};
    TInitializationForm Splash{Main};

private:
    TUserInterface* PreviousUserInterface = nullptr;
};

extern const char* const CorruptStoreText;
