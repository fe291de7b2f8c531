#include "image/UefiBoot.h"

#include <cstring>
#include <memory>

#include "base/ByteOrder.h"
#include "base/Stream.h"
#include "floppy/FloppyDirectory.h"
#include "image/Composer.h"
#include "platform/Platform.h"

const char* const NoUefiWiperText =
    "This program carries no UEFI build of the wiper, so the medium cannot start on UEFI PCs.";

std::optional<std::span<const uint8_t>> EmbeddedUefiWiper() {
    auto Wiper = Platform().OwnResource("UEFI", "BOOTX64");
    // Every PE image starts with "MZ"; anything else is no wiper.
    if (!Wiper || Wiper->size() < 2 || (*Wiper)[0] != 'M' || (*Wiper)[1] != 'Z')
        return std::nullopt;
    return Wiper;
}

std::vector<TStickFile> UefiStartFiles(std::span<const uint8_t> Wiper,
                                       const std::string& CommandLine) {
    const uint16_t Date = DosDateNow(), Time = DosTimeNow();
    auto Entry = [&](std::string Path, bool Folder, std::vector<uint8_t> Data) {
        TStickFile File;
        File.Path = std::move(Path);
        File.Folder = Folder;
        File.Attributes = Folder ? AttrDirectory : 0x20; // archive, as DOS leaves new files
        File.Date = Date;
        File.Time = Time;
        File.Data = std::move(Data);
        return File;
    };
    const std::string Arguments = CommandLine + "\r\n";
    return {Entry("EFI", true, {}), Entry("EFI\\BOOT", true, {}),
            Entry("EFI\\BOOT\\BOOTX64.EFI", false, {Wiper.begin(), Wiper.end()}),
            Entry("EFI\\BOOT\\PURGIT.ARG", false, {Arguments.begin(), Arguments.end()})};
}

std::vector<TStickFile> WiperTree(const std::vector<TStickFile>& FloppyFiles) {
    std::vector<TStickFile> Tree;
    for (const TStickFile& File : FloppyFiles) {
        std::string Upper = File.Path;
        for (char& c : Upper)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        if (Upper == "PURGIT" || Upper.rfind("PURGIT\\", 0) == 0) Tree.push_back(File);
    }
    return Tree;
}

namespace {

// A 1.44 MB FAT12 boot sector whose code only hands over to the next boot
// device: this volume is reached through firmware, never started by a BIOS.
std::vector<uint8_t> FatBootSector(uint32_t Serial) {
    std::vector<uint8_t> Sector(FloppySectorSize, 0);
    uint8_t* s = Sector.data();
    const uint8_t Jump[] = {0xEB, 0x3C, 0x90};
    std::memcpy(s, Jump, sizeof Jump);
    std::memcpy(s + 3, "PURGEX  ", 8);
    PutLE16(s + 0x0B, FloppySectorSize);
    s[0x0D] = 1; // sectors per cluster
    PutLE16(s + 0x0E, FatFirstSector);
    s[0x10] = 2;            // FATs
    PutLE16(s + 0x11, 224); // root entries
    PutLE16(s + 0x13, FloppySectorCount);
    s[0x15] = FloppyMediaByte;
    PutLE16(s + 0x16, FatSectors);
    PutLE16(s + 0x18, FloppySectorsPerTrack);
    PutLE16(s + 0x1A, FloppyHeads);
    s[0x26] = 0x29; // extended boot signature
    PutLE32(s + 0x27, Serial);
    std::memcpy(s + 0x2B, "PURGIT UEFI", 11);
    std::memcpy(s + 0x36, "FAT12   ", 8);
    const uint8_t Code[] = {0xCD, 0x18, 0xEB, 0xFE}; // INT 18h, then stay
    std::memcpy(s + 0x3E, Code, sizeof Code);
    s[510] = 0x55;
    s[511] = 0xAA;
    return Sector;
}

} // namespace

std::optional<std::vector<uint8_t>> MakeFatImage(const std::vector<TStickFile>& Files,
                                                 std::string& Problem) {
    auto Volume = std::make_unique<TVirtualFloppy>();
    const auto Boot = FatBootSector(uint32_t(DosDateNow()) << 16 | DosTimeNow());
    TReadOnlyStream BootStream{std::span<const uint8_t>(Boot)};
    Volume->LoadFromStream(BootStream, FloppySectorSize);
    TFloppyDirectory(*Volume).CreateVolumeLabel("PURGIT UEFI"); // as the boot sector names it

    for (const TStickFile& File : Files) {
        const size_t Slash = File.Path.rfind('\\');
        const std::string Folder = Slash == std::string::npos ? "" : File.Path.substr(0, Slash);
        const std::string Name =
            Slash == std::string::npos ? File.Path : File.Path.substr(Slash + 1);
        const auto Directory = OpenImageFolder(*Volume, Folder);
        if (File.Folder) {
            if (!Directory->CreateDirectory(Name)) {
                Problem = "cannot make the folder " + File.Path + " in the UEFI boot image";
                return std::nullopt;
            }
            continue;
        }
        std::unique_ptr<TFloppyFile> Handle;
        if (!Directory->CreateFile(Name, Handle) ||
            Handle->Write(File.Data.data(), int32_t(File.Data.size())) !=
                int32_t(File.Data.size())) {
            Problem = "the UEFI boot image has no room for " + File.Path;
            return std::nullopt;
        }
    }
    return std::vector<uint8_t>(Volume->Image.begin(), Volume->Image.end());
}
