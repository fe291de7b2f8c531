#include "image/DiscTarget.h"

#include "image/Composer.h"
#include "image/ExeData.h"

bool TDiscTarget::PrepareDiscImage() { return CdStore && PlaceMsDosSystem(*DiscFloppy, *CdStore); }

bool TDiscTarget::PrepareRxDosImage() {
    TMemoryStream* Boot = CdStore ? CdStore->FindItem(".BOOT", 1) : nullptr;
    if (!Boot) return false;
    Boot->SetPosition(0);
    DiscFloppy->LoadFromStream(*Boot, Boot->Size());
    return true;
}

bool TDiscTarget::ComposeDiscFiles(bool WithMouse, const std::string& OptionString,
                                   const std::string& CommandLine) {
    return CdStore &&
           ComposeStartupFiles(*DiscFloppy, *CdStore, WithMouse, CommandLine, OptionString);
}
