// purgex devices and purgex burn on the simulated machine; the burned disc is
// judged by geteltorito and fsck.fat.

#include <gtest/gtest.h>

#include <sstream>

#include "TestSupport.h"
#include "cli/BurnCommand.h"
#include "fakes/SimulatedWriter.h"

using namespace testing_support;

namespace {

struct TBurnRun {
    int Exit = -1;
    std::string Out, Err;
};

// The simulated machine carries the program's own containers.
void Embed(TWriterPlatform& Machine) {
    for (const char* Name : {"PURGXCD", "PURGXDSK"})
        if (const auto Bytes = NativePlatform().OwnResource("STREAM", Name))
            Machine.AddResource("STREAM", Name, {Bytes->begin(), Bytes->end()});
}

TBurnRun Burn(const std::string& Drive, std::initializer_list<std::string> Extra = {}) {
    TBurnOptions Options;
    Options.Drive = Drive;
    Options.Os = "rxdos";
    Options.Yes = true;
    Options.Bits = "101010101010";
    for (const auto& e : Extra) {
        if (e == "--no-verify") Options.NoVerify = true;
        if (e.rfind("--copies=", 0) == 0) Options.Copies = std::stoi(e.substr(9));
    }
    std::istringstream In;
    std::ostringstream Out, Err;
    TBurnRun Run;
    Run.Exit = RunBurnCommand(Options, In, Out, Err);
    Run.Out = Out.str();
    Run.Err = Err.str();
    return Run;
}

TBurnRun Devices() {
    std::ostringstream Out, Err;
    TBurnRun Run;
    Run.Exit = RunDevicesCommand(Out, Err);
    Run.Out = Out.str();
    Run.Err = Err.str();
    return Run;
}

bool Has(const std::string& Text, const std::string& Part) {
    return Text.find(Part) != std::string::npos;
}

} // namespace

TEST(PurgexDevices, ListsWhatDiscoveryFinds) {
    {
        TWriterPlatform Empty;
        const auto Run = Devices();
        EXPECT_EQ(Run.Exit, 0);
        EXPECT_TRUE(Has(Run.Out, "No CD/DVD drives found.")) << Run.Out;
    }
    TWriterPlatform Machine;
    TSimulatedWriter Reader, Writer;
    Reader.WriteCaps = 0;
    Reader.Product = "READER";
    Machine.AddDrive('D', Reader);
    Machine.AddDrive('E', Writer);
    Machine.AddDrive('F', Writer);
    Machine.WriteDenied.insert('F');
    const auto Run = Devices();
    EXPECT_EQ(Run.Exit, 0);
    EXPECT_TRUE(Has(Run.Out, "Transport: SCSI pass-through")) << Run.Out;
    EXPECT_TRUE(Has(Run.Out, " 1  D:     READER (SIMCO)  [CDROM]  reads CD-R,CD-RW, writes -  "
                             "not offered: writes neither CD-R nor CD-RW"))
        << Run.Out;
    EXPECT_TRUE(Has(Run.Out, " 2  E:     CD-RW  SIM 52X (SIMCO)  [CDROM]  reads CD-R,CD-RW, "
                             "writes CD-R,CD-RW  offered"))
        << Run.Out;
    // A CD drive that cannot be opened on Windows: the Windows reason.
    EXPECT_TRUE(Has(Run.Out, " 3  F:      ()  [Disk]  reads -, writes -  not offered: cannot be "
                             "queried: permission denied: raw access to a drive needs an "
                             "administrator"))
        << Run.Out;
    EXPECT_FALSE(Has(Run.Out, "cdrom")) << Run.Out;
    EXPECT_FALSE(Has(Run.Out, "passed over")) << Run.Out;
}

// The drive letters that are no CD/DVD drives (Wine's C: and Z:, a network
// drive) are counted in one line, not listed; burn's numbers skip them too.
TEST(PurgexDevices, OtherDrivesArePassedOverInOneLine) {
    TWriterPlatform Machine;
    Machine.OtherDrives['C'] = "\\Device\\HarddiskVolume1";
    Machine.OtherDrives['Z'] = "\\Device\\LanmanRedirector\\;Z:\\server\\share";
    auto Run = Devices();
    EXPECT_EQ(Run.Exit, 0);
    EXPECT_EQ(Run.Out, "Transport: SCSI pass-through\nNo CD/DVD drives found.\n"
                       "2 other drives passed over: not CD/DVD drives\n"
                       "No USB sticks found.\n");

    Embed(Machine);
    TSimulatedWriter Writer;
    Machine.AddDrive('E', Writer);
    Machine.OtherDrives.erase('Z');
    Run = Devices();
    EXPECT_TRUE(Has(Run.Out, " 1  E:     CD-RW  SIM 52X (SIMCO)")) << Run.Out;
    EXPECT_TRUE(Has(Run.Out, "\n1 other drive passed over: not a CD/DVD drive\n")) << Run.Out;
    EXPECT_FALSE(Has(Run.Out, "C:")) << Run.Out;
    Run = Burn("1");
    EXPECT_EQ(Run.Exit, 0) << Run.Err;
    EXPECT_TRUE(Has(Run.Out, "Burned 1 disc in E:")) << Run.Out;
    Run = Burn("2");
    EXPECT_TRUE(Has(Run.Err, "no drive number 2")) << Run.Err;
    Run = Burn("C:");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "drive C: cannot be used: not a CD/DVD drive")) << Run.Err;
}

namespace {
// The drives as the POSIX layer presents them: /dev/sr* nodes.
class TLinuxNodes : public TWriterPlatform {
public:
    std::vector<std::string> DosDeviceTargets(std::string_view DeviceName) override {
        if (DeviceName.size() == 2 && Drives.count(DeviceName[0]))
            return {"/dev/sr" + std::to_string(DeviceName[0] - 'D')};
        return TWriterPlatform::DosDeviceTargets(DeviceName);
    }
    TDriveType DriveType(char) override { return DriveNoRootDir; }
};
} // namespace

// A node that cannot be opened is listed as before, with the Linux advice.
TEST(PurgexDevices, ALinuxNodeWithoutPermissionKeepsItsLineAndAdvice) {
    TLinuxNodes Machine;
    TSimulatedWriter Writer, Locked;
    Machine.AddDrive('D', Writer);
    Machine.AddDrive('E', Locked);
    Machine.WriteDenied.insert('E');
    const auto Run = Devices();
    EXPECT_TRUE(Has(Run.Out, " 1  D:     (/dev/sr0) CD-RW  SIM 52X (SIMCO)  [CDROM]")) << Run.Out;
    EXPECT_TRUE(Has(Run.Out, " 2  E:     (/dev/sr1)  ()  [Disk]  reads -, writes -  not offered: "
                             "not a CD/DVD drive (cannot be queried: permission denied: burning "
                             "needs the drive opened for reading and writing (on Linux, "
                             "membership of the group that owns the device node, usually "
                             "cdrom))\n"))
        << Run.Out;
    EXPECT_FALSE(Has(Run.Out, "administrator")) << Run.Out;
    EXPECT_FALSE(Has(Run.Out, "passed over")) << Run.Out;
}

TEST(PurgexBurn, BurnsReadsBackAndTheDiscCarriesTheBootFloppy) {
    TWriterPlatform Machine;
    Embed(Machine);
    TSimulatedWriter Writer;
    Machine.AddDrive('E', Writer);
    const auto Run = Burn("e:");
    ASSERT_EQ(Run.Exit, 0) << Run.Out << Run.Err;
    EXPECT_TRUE(Has(Run.Out, "Please insert a blank CD/DVD in writer.")) << Run.Out;
    EXPECT_TRUE(Has(Run.Out, "Burned 1 disc in E:, each read back")) << Run.Out;
    EXPECT_EQ(Writer.Writes.size(), 74u);
    const auto Opcodes = Writer.Opcodes();
    EXPECT_EQ(std::count(Opcodes.begin(), Opcodes.end(), 0x28),
              74); // read back 10 blocks at a time
    EXPECT_TRUE(Writer.NextSessionAllowed);

#ifdef PURGEX_HOST_CHECKS
    // The disc as burned: geteltorito finds its boot floppy and fsck.fat passes it.
    TScratchDir Dir;
    WriteFileBytes(Dir / "disc.iso", Writer.Recorded(0, 740));
    const auto Extract = RunCommand("geteltorito -o " + ShellQuote((Dir / "floppy.img").string()) +
                                    " " + ShellQuote((Dir / "disc.iso").string()));
    ASSERT_EQ(Extract.ExitCode, 0) << Extract.Output;
    EXPECT_EQ(ReadFileBytes(Dir / "floppy.img").size(), 1474560u);
    const auto Fsck = RunCommand("fsck.fat -n " + ShellQuote((Dir / "floppy.img").string()));
    EXPECT_EQ(Fsck.ExitCode, 0) << Fsck.Output;
    const auto Ini =
        RunCommand("MTOOLS_SKIP_CHECK=1 mtype -i " + ShellQuote((Dir / "floppy.img").string()) +
                   " ::/PURGIT/DATA/PURGIT.INI");
    EXPECT_EQ(Ini.ExitCode, 0) << Ini.Output;
#endif
}

TEST(PurgexBurn, FailuresNameTheDriveAndTheReason) {
    TWriterPlatform Machine;
    Embed(Machine);
    TSimulatedWriter Writer, Reader;
    Reader.WriteCaps = 0;
    Machine.AddDrive('E', Writer);
    Machine.AddDrive('D', Reader);

    auto Run = Burn("Q:");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "drive Q: cannot be used: no such drive")) << Run.Err;
    Run = Burn("D");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "writes neither CD-R nor CD-RW")) << Run.Err;
    Run = Burn("7");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "no drive number 7")) << Run.Err;

    // A disc without room: the burn message, and nothing counted as burned.
    Writer.FreeBlocks = 749;
    Run = Burn("E:");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "0 of 1 discs burned")) << Run.Err;
    EXPECT_TRUE(Has(Run.Out, "Error in writing process : There is not enought free space on the "
                             "disc"))
        << Run.Out;

    // A disc that reads back differently is not counted.
    Writer = TSimulatedWriter();
    Machine.AddDrive('E', Writer);
    Writer.ReplyOverride = [](uint8_t Opcode, std::span<uint8_t> Data) {
        if (Opcode == 0x28 && Data.size() > 5 * 2048) Data[5 * 2048 + 7] ^= 1;
    };
    Run = Burn("E:");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "differs from the image from block 5 on")) << Run.Err;
    const auto Corrupting = Writer.ReplyOverride;
    Writer = TSimulatedWriter();
    Machine.AddDrive('E', Writer);
    Writer.ReplyOverride = Corrupting;
    Run = Burn("E:", {"--no-verify"});
    EXPECT_EQ(Run.Exit, 0) << Run.Err;
    EXPECT_FALSE(Has(Run.Out, "read back")) << Run.Out;

    // No permission to open the drive for writing.
    TWriterPlatform Locked;
    TSimulatedWriter Other;
    Locked.AddDrive('E', Other);
    Locked.WriteDenied.insert('E');
    Run = Burn("E:");
    EXPECT_EQ(Run.Exit, 1);
    EXPECT_TRUE(Has(Run.Err, "drive E: cannot be used: permission denied")) << Run.Err;
}
