// purgex iso --uefi, judged by tools nobody here wrote: xorriso lists the
// boot entries, isoinfo and isovfy read the ISO 9660 volume, fsck.fat and
// mtools the UEFI entry's FAT image, and SeaBIOS still boots the floppy.

#include <gtest/gtest.h>

#include <regex>

#include "QemuSupport.h"
#include "TestSupport.h"
#include "image/Composer.h"
#include "image/ExeData.h"
#include "image/UefiBoot.h"

using namespace testing_support;

#ifdef PURGEX_CLI
namespace {

const char* const Choices = "--os rxdos --options 010011000100 --params '/M:ZERO /ALL'";

TCommandResult MakeIso(const std::string& Iso, const std::string& Arguments) {
    return RunCommand("SOURCE_DATE_EPOCH=1700000000 " + ShellQuote(PURGEX_CLI) + " iso " +
                      ShellQuote(Iso) + " --yes " + Arguments + " </dev/null");
}

std::string IsoFile(const std::string& Iso, const std::string& Path) {
    return RunCommand("isoinfo -i " + ShellQuote(Iso) + " -x " + ShellQuote(Path)).Output;
}

std::string FatFile(const std::string& Image, const std::string& Path) {
    return RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + ShellQuote(Image) + " " +
                      ShellQuote("::" + Path))
        .Output;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& Bytes, size_t From, size_t To) {
    return {Bytes.begin() + long(From), Bytes.begin() + long(std::min(To, Bytes.size()))};
}

} // namespace
#endif

TEST(PurgexUefiIso, BothEntriesAndAVolumeThatOtherToolsRead) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Both = (Dir / "both.iso").string(), Plain = (Dir / "plain.iso").string();
    const auto Made = MakeIso(Both, std::string(Choices) + " --uefi");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    ASSERT_EQ(MakeIso(Plain, Choices).ExitCode, 0);

    // Two entries: the 1.44 MB floppy for BIOS PCs, the FAT image for UEFI.
    const auto Report =
        RunCommand("xorriso -indev " + ShellQuote(Both) + " -report_el_torito plain 2>&1");
    ASSERT_EQ(Report.ExitCode, 0) << Report.Output;
    EXPECT_TRUE(std::regex_search(
        Report.Output,
        std::regex(R"(boot img :\s+1\s+BIOS\s+y\s+fd1\.4\s+0x07c0\s+0x04\s+1\s+20\n)")))
        << Report.Output;
    std::smatch Uefi;
    ASSERT_TRUE(std::regex_search(
        Report.Output, Uefi,
        std::regex(R"(boot img :\s+2\s+UEFI\s+y\s+none\s+0x0000\s+0x00\s+2880\s+(\d+)\n)")))
        << Report.Output;
    const size_t FatSector = std::stoul(Uefi[1].str());

    // A volume any system reads, holding the wiper's files and its UEFI build.
    const auto Info = RunCommand("isoinfo -d -i " + ShellQuote(Both));
    EXPECT_NE(Info.Output.find("Volume id: PURGIT"), std::string::npos) << Info.Output;
    const auto Verify = RunCommand("isovfy " + ShellQuote(Both) + " 2>&1");
    EXPECT_NE(Verify.Output.find("No errors found"), std::string::npos) << Verify.Output;
    const auto Wiper = EmbeddedUefiWiper();
    ASSERT_TRUE(Wiper);
    const std::string WiperBytes(Wiper->begin(), Wiper->end());
    EXPECT_EQ(IsoFile(Both, "/EFI/BOOT/BOOTX64.EFI;1"), WiperBytes);
    EXPECT_EQ(IsoFile(Both, "/EFI/BOOT/PURGIT.ARG;1"), "/M:ZERO /ALL\r\n");
    EXPECT_EQ(IsoFile(Both, "/PURGIT/DATA/PURGIT.INI;1"), WiperIni("010011000100"));
    // Directories are sorted with names padded by spaces: OPT1 before OPT10 before OPT2.
    const auto Listing = RunCommand("isoinfo -l -i " + ShellQuote(Both)).Output;
    EXPECT_NE(Listing.find("OPT1.TXT;1 \n"), std::string::npos) << Listing;
    EXPECT_LT(Listing.find("OPT1.TXT;1 \n"), Listing.find("OPT10.TXT;1 \n"));
    EXPECT_LT(Listing.find("OPT11.TXT;1 \n"), Listing.find("OPT2.TXT;1 \n"));
    EXPECT_LT(Listing.find("HELP.TXT;1 \n"), Listing.find("METHODS \n"));

    // The UEFI entry's FAT image: a clean file system with the same files.
    const auto Bytes = ReadFileBytes(Both);
    const std::string Fat = (Dir / "uefi.img").string();
    WriteFileBytes(Fat, Slice(Bytes, FatSector * 2048, FatSector * 2048 + 2880 * 512));
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote(Fat));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    EXPECT_EQ(FatFile(Fat, "/EFI/BOOT/BOOTX64.EFI"), WiperBytes);
    EXPECT_EQ(FatFile(Fat, "/EFI/BOOT/PURGIT.ARG"), "/M:ZERO /ALL\r\n");
    EXPECT_EQ(FatFile(Fat, "/PURGIT/DATA/PURGIT.INI"), WiperIni("010011000100"));
    ASSERT_TRUE(LoadCdStore());
    const TMemoryStream* Method = CdStore->FindItem("Purgit\\METHODS\\ZERO.MET", 1);
    ASSERT_TRUE(Method);
    EXPECT_EQ(FatFile(Fat, "/PURGIT/METHODS/ZERO.MET"),
              std::string(Method->Bytes().begin(), Method->Bytes().end()));

    // The BIOS entry's floppy and everything before it are the plain disc's;
    // only sector 16 (the volume descriptor) and the catalog's new section differ.
    const auto PlainBytes = ReadFileBytes(Plain);
    ASSERT_EQ(PlainBytes.size(), 1515520u);
    EXPECT_EQ(Slice(Bytes, 0, 16 * 2048), Slice(PlainBytes, 0, 16 * 2048));
    EXPECT_EQ(Slice(Bytes, 17 * 2048, 19 * 2048 + 64),
              Slice(PlainBytes, 17 * 2048, 19 * 2048 + 64));
    EXPECT_EQ(Slice(Bytes, 20 * 2048, 740 * 2048), Slice(PlainBytes, 20 * 2048, 740 * 2048));
#endif
}

TEST(QemuPurgexUefiIso, BiosStillStartsRxDosAndTheWiper) {
    REQUIRE_HOST_TOOLS();
#ifdef PURGEX_CLI
    TScratchDir Dir;
    const std::string Iso = (Dir / "both.iso").string();
    ASSERT_EQ(MakeIso(Iso, "--os rxdos --params FAST --uefi").ExitCode, 0);
    TQemuOptions Options;
    Options.Cdrom = Iso;
    Options.BootFromCd = true;
    Options.WaitForText = "Wipe methods found:";
    Options.TimeoutSeconds = 90;
    const TQemuResult Boot = RunQemu(Options);
    ASSERT_TRUE(Boot.SawText) << Boot.Screen;
    EXPECT_NE(Boot.Screen.find("FAST"), std::string::npos) << Boot.Screen;
#endif
}

TEST(UefiBootImage, FilesThatDoNotFitAreRefusedByName) {
    TStickFile Folder;
    Folder.Path = "EFI";
    Folder.Folder = true;
    TStickFile Huge;
    Huge.Path = "EFI\\HUGE.BIN";
    Huge.Data.assign(1500000, 0xE5); // more than a 1.44 MB volume holds
    std::string Problem;
    EXPECT_FALSE(MakeFatImage({Folder, Huge}, Problem));
    EXPECT_EQ(Problem, "the UEFI boot image has no room for EFI\\HUGE.BIN");
    // What fits is there, in a volume of the floppy's size.
    Huge.Data.resize(1000000);
    const auto Image = MakeFatImage({Folder, Huge}, Problem);
    ASSERT_TRUE(Image);
    EXPECT_EQ(Image->size(), 1474560u);
}
