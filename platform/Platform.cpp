#include "platform/Platform.h"

namespace {
TPlatform* Installed = nullptr;
}

TPlatform& Platform() { return Installed ? *Installed : NativePlatform(); }

TPlatform* InstallPlatform(TPlatform* Replacement) {
    TPlatform* Previous = Installed ? Installed : &NativePlatform();
    Installed = Replacement;
    return Previous;
}
