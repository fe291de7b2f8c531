#include "cli/DiscOptions.h"

#include <memory>
#include <ostream>

#include "cli/ConsoleUserInterface.h"
#include "image/Composer.h"
#include "platform/Platform.h"

bool ParseOptionBits(const std::string& Bits, TWiperOptions& Options) {
    if (Bits.size() != size_t(OptionCount)) return false;
    for (size_t i = 0; i < Bits.size(); ++i) {
        if (Bits[i] != '0' && Bits[i] != '1') return false;
        Options[i] = Bits[i] == '1';
    }
    return true;
}

std::string OfferedMsDos(const std::string& Folder) {
    const TWindowsVersion v = Platform().Version();
    if (v.PlatformId == 1 && !FindIoSys().empty() && !FindCommandCom().empty())
        return "the files of this Windows installation";
    const auto Probe = std::make_unique<TVirtualFloppy>(); // far too large for a stack
    if (v.PlatformId == 2 && LoadDiskCopyImage(*Probe)) return "the boot floppy of DiskCopy.dll";
    if (!Folder.empty() && HoldsMsDosSystem(Folder)) return Folder;
    return {};
}

TDiscSystem ChooseDiscSystem(const std::string& Os, const std::string& MsDosFolder,
                             std::ostream& Out) {
    if (Os == "rxdos") {
        Out << "Boot system: Rx-DOS (embedded)\n";
        return TDiscSystem::RxDos;
    }
    if (Os == "msdos") {
        Out << "Boot system: MS-DOS\n";
        return TDiscSystem::MsDos;
    }
    const std::string Source = OfferedMsDos(MsDosFolder);
    Out << (Source.empty() ? "Boot system: Rx-DOS (embedded; no MS-DOS system offered)\n"
                           : "Boot system: MS-DOS from " + Source + "\n");
    return Source.empty() ? TDiscSystem::RxDos : TDiscSystem::MsDos;
}
