// The wiper's DOS programs on the Rx-DOS boot floppy, run in QEMU: the floppy
// gets the Purgit tree and a start-up batch as the floppy target writes them,
// and the tests read the text screen. Hard disk sizes come from disk image
// files the test makes; keys and mouse moves come through a second QEMU
// monitor.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <chrono>
#include <filesystem>
#include <sstream>

#include "QemuSupport.h"
#include "QemuWiperSupport.h"
#include "TestSupport.h"
#include "image/ExeData.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const fs::path Payload = PayloadDir();

// Assembles a test program given as NASM source.
fs::path Assemble(const TScratchDir& Dir, const std::string& Name, const std::string& Source) {
    const fs::path Asm = Dir / (Name + ".asm"), Out = Dir / Name;
    WriteFileBytes(Asm, Source);
    RunOrFail("nasm -f bin -o " + ShellQuote(Out.string()) + " " + ShellQuote(Asm.string()));
    return Out;
}

// Runs PURGIT and prints its exit code, which the batch language cannot show.
const char* ExitReporter = R"(
        org 0x100
        mov sp, stack_top
        mov ah, 0x4A            ; keep 4 KB, so DOS can load PURGIT
        mov bx, 0x100
        int 0x21
        mov [block + 4], cs
        mov [block + 8], cs
        mov [block + 12], cs
        mov [saved_sp], sp
        mov ax, 0x4B00
        mov dx, program
        mov bx, block
        int 0x21
        mov bx, cs
        mov ds, bx
        mov es, bx
        cli
        mov ss, bx
        mov sp, [saved_sp]
        sti
        jc failed
        mov ah, 0x4D
        int 0x21
        mov dl, al
        add dl, '0'
        mov [code], dl
        mov dx, done
        jmp print
failed: mov dx, notrun
print:  mov ah, 0x09
        int 0x21
        mov ax, 0x4C00
        int 0x21
program: db '\PURGIT\PURGIT.EXE', 0
tail:   db 0, 13
fcb:    times 16 db 0
block:  dw 0, tail, 0, fcb, 0, fcb, 0
saved_sp: dw 0
done:   db 'PURGIT exit code '
code:   db '?', 13, 10, '$'
notrun: db 'PURGIT not started', 13, 10, '$'
        times 256 db 0
stack_top:
)";

// Exercises the resident INT 33h driver (functions 00h-08h, 0Bh and the text
// cursor) and prints "M33 RESULT 16" when every check passed, otherwise the
// number of the first failed check.
const char* MouseChecker = R"(
        org 0x100
        mov di, 0xB800
        mov es, di
        xor ax, ax
        int 0x33
        mov bl, 1
        cmp ax, 0xFFFF
        jne fail
        mov ax, 4               ; set the position, read it back
        mov cx, 100
        mov dx, 48
        int 0x33
        mov ax, 3
        int 0x33
        mov bl, 2
        cmp cx, 100
        jne fail
        cmp dx, 48
        jne fail
        mov ax, 7               ; ranges, in either order, clamp the position
        mov cx, 600
        mov dx, 200
        int 0x33
        mov ax, 8
        mov cx, 0
        mov dx, 40
        int 0x33
        mov ax, 3
        int 0x33
        mov bl, 3
        cmp cx, 200
        jne fail
        cmp dx, 40
        jne fail
        mov ax, 4
        mov cx, 1000
        mov dx, -5
        int 0x33
        mov ax, 3
        int 0x33
        mov bl, 4
        cmp cx, 600
        jne fail
        cmp dx, 0
        jne fail
        mov ax, 7               ; the cursor inverts its cell; hiding restores it
        xor cx, cx
        mov dx, 639
        int 0x33
        mov ax, 8
        xor cx, cx
        mov dx, 199
        int 0x33
        mov ax, 4
        mov cx, 10*8
        mov dx, 5*8
        int 0x33
        mov byte [es:(5*80+10)*2+1], 0x1E
        mov ax, 1
        int 0x33
        mov bl, 5
        cmp byte [es:(5*80+10)*2+1], 0x1E ^ 0x77
        jne fail
        mov ax, 2
        int 0x33
        mov bl, 6
        cmp byte [es:(5*80+10)*2+1], 0x1E
        jne fail
        xor ax, ax              ; reset answers the button count
        int 0x33
        cmp bx, 2
        mov bl, 7
        jne fail
        ; the host moves the mouse right and down and presses the left button
        mov ax, 4
        mov cx, 320
        mov dx, 96
        int 0x33
        mov ax, 0x0B
        int 0x33                ; clears the motion counters
        push ds
        xor ax, ax
        mov ds, ax
        mov si, [0x46C]
poll:   mov ax, 3
        int 0x33
        test bx, 1
        jz .more
        cmp cx, 320
        jbe .more
        cmp dx, 96
        ja moved
.more:  mov ax, [0x46C]
        sub ax, si
        cmp ax, 18*40           ; the guest gives up after some 40 s
        jb poll
        pop ds
        mov bl, 8
        jmp fail
moved:  pop ds
        mov ax, 0x0B
        int 0x33
        mov bl, 9
        cmp cx, 0
        jle fail
        cmp dx, 0
        jle fail
        ; presses and releases of the left button are counted
        push ds
        xor ax, ax
        mov ds, ax
        mov si, [0x46C]
clicks: mov ax, 5
        xor bx, bx
        int 0x33
        add [cs:presses], bx
        mov ax, 6
        xor bx, bx
        int 0x33
        add [cs:releases], bx
        cmp word [cs:presses], 0
        je .more
        cmp word [cs:releases], 0
        jne counted
.more:  mov ax, [0x46C]
        sub ax, si
        cmp ax, 18*40
        jb clicks
        pop ds
        mov bl, 10
        jmp fail
counted: pop ds
        mov ax, 5               ; a button that does not exist counts nothing
        mov bx, 7
        int 0x33
        cmp bx, 0
        mov bl, 11
        jne fail
        mov bl, 16
fail:   mov al, bl
        aam
        add ax, 0x3030
        xchg al, ah
        mov [number], ax
        mov dx, result
        mov ah, 0x09
        int 0x21
        mov ax, 0x4C00
        int 0x21
presses: dw 0
releases: dw 0
result: db 'M33 RESULT '
number: db '??', 13, 10, '$'
)";

} // namespace

TEST(QemuWiper, BatchStartsPurgitWhichShowsIniOptionsParametersAndDisks) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // Not the defaults: every value must come from the file. O11 is missing
    // and shows its default; unknown lines are passed over.
    // O7 is off: the wiper waits on its start page.
    const std::string Ini = "O1=0\r\nO2=1\r\nO3=1\r\nO4=0\r\nO5=0\r\nO6=0\r\nO7=0\r\nO8=1\r\n"
                            "O9=0\r\nO10=1\r\nO12=1\r\nColour=blue\r\n";
    WriteFileBytes(Dir / "PURGIT.INI", Ini);
    const std::string Batch = "@echo off\r\nprompt $p$g\r\ncd \\Purgit\r\n"
                              "@echo Running Corvane Purgex 2005 ...\r\nPurgit /M:DOD3 /D:1\r\n";
    const std::string Floppy =
        MakeWiperFloppy(Dir, Batch, {{"PURGIT/DATA/PURGIT.INI", Dir / "PURGIT.INI"}});
    // 32 MB fits CHS; 10 GB is beyond CHS reach and needs the extended services.
    const std::string Small = MakeSparseDisk(Dir, "small.img", 32ull << 20);
    const std::string Large = MakeSparseDisk(Dir, "large.img", 10ull << 30);

    TQemuOptions Options;
    Options.Floppy = Floppy;
    Options.WaitForText = "Wipe methods found:";
    Options.ExtraArguments = "-drive file=" + ShellQuote(Small) + ",if=ide,index=0,format=raw" +
                             " -drive file=" + ShellQuote(Large) + ",if=ide,index=1,format=raw";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    const std::string& Screen = Result.Screen;

    EXPECT_NE(Screen.find("Corvane Purgex 2005 - start screen"), std::string::npos) << Screen;
    const char* Expected[11] = {" off", " on", " on",  " off", " off",          " off",
                                " off", " on", " off", " on",  " on  (default)"};
    for (int n = 1; n <= 11; ++n) {
        const std::string Line = LineStarting(Screen, "O" + std::to_string(n) + " ");
        ASSERT_NE(Line, "") << "O" << n << "\n" << Screen;
        const std::string Value = Expected[n - 1];
        EXPECT_TRUE(Line.size() > Value.size() &&
                    Line.compare(Line.size() - Value.size(), Value.size(), Value) == 0)
            << Line;
    }
    EXPECT_NE(LineStarting(Screen, "O5 ").find("Use Department of Defense log style"),
              std::string::npos);
    EXPECT_EQ(LineStarting(Screen, "Parameters:"), "Parameters: /M:DOD3 /D:1");
    EXPECT_EQ(LineStarting(Screen, "Hard disks reported"), "Hard disks reported by the BIOS: 2");
    // Sizes from the BIOS, models from the drives' own identify data; option
    // 11 is on, and the PC's IDE controller moves both disks by DMA.
    EXPECT_EQ(LineStarting(Screen, "Disk 1 (80h):"),
              "Disk 1 (80h): 32 MB, 65536 sectors, QEMU HARDDISK - bus-master DMA");
    EXPECT_EQ(LineStarting(Screen, "Disk 2 (81h):"),
              "Disk 2 (81h): 10.0 GB, 20971520 sectors, QEMU HARDDISK - bus-master DMA");
    EXPECT_EQ(LineStarting(Screen, "Mouse:"), "Mouse: none (keys only)");
    EXPECT_EQ(LineStarting(Screen, "Wipe methods found:"),
              "Wipe methods found: 12 (METHODS\\*.MET)");
}

TEST(QemuWiper, DefaultBatchAndIniShowTheWholeStartScreenAtOnce) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // The floppy store's own start-up batch (mouse driver, no parameters)
    // and the default INI: everything must fit on one 25-line screen.
    TExeDataBase Store;
    TMemoryStream Container(ReadFileBytes(Payload / "PURGXDSK"));
    Store.LoadContainer(Container);
    const TMemoryStream* Item = Store.FindItem("AUTOEXEC.BAT", 1);
    ASSERT_NE(Item, nullptr);
    const auto Batch = Item->Bytes();
    const std::string Floppy = MakeWiperFloppy(Dir, std::string(Batch.begin(), Batch.end()));
    TQemuOptions Options;
    Options.Floppy = Floppy;
    Options.WaitForText = "Wipe methods found:";
    Options.ExtraArguments =
        "-drive file=" + ShellQuote(MakeSparseDisk(Dir, "disk.img", 64ull << 20)) + ",if=ide,format=raw";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    const std::string& Screen = Result.Screen;
    EXPECT_EQ(LineStarting(Screen, "Mouse:"), "Mouse: driver found") << Screen;
    const char* Defaults[11] = {" on",  " off", " off", " on",  " on", " on",
                                " off", " off", " on",  " off", " on"};
    for (int n = 1; n <= 11; ++n) {
        const std::string Line = LineStarting(Screen, "O" + std::to_string(n) + " ");
        const std::string Value = Defaults[n - 1];
        EXPECT_TRUE(Line.size() > Value.size() &&
                    Line.compare(Line.size() - Value.size(), Value.size(), Value) == 0)
            << "O" << n << ": " << Line;
    }
    EXPECT_EQ(LineStarting(Screen, "Parameters:"), "Parameters: none");
    EXPECT_EQ(LineStarting(Screen, "Disk 1 (80h):"),
              "Disk 1 (80h): 64 MB, 131072 sectors, QEMU HARDDISK - bus-master DMA");
}

TEST(QemuWiper, MissingOrMalformedIniEndsWithMessageAndExitCode) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    WriteFileBytes(Dir / "BAD.INI", "O1=1\r\nO2=yes\r\n");
    const fs::path Runner = Assemble(Dir, "RUNX.COM", ExitReporter);
    // From the root there is no DATA\PURGIT.INI; in \BAD one with a bad value;
    // in \PURGIT the real one.
    const std::string Batch = "@echo off\r\ncd \\\r\n\\RUNX\r\ncd \\BAD\r\n\\RUNX\r\n"
                              "cd \\PURGIT\r\n\\RUNX\r\necho ALL DONE\r\n";
    const std::string Floppy =
        MakeWiperFloppy(Dir, Batch, {{"RUNX.COM", Runner}, {"BAD/DATA/PURGIT.INI", Dir / "BAD.INI"}});
    // With the real INI the wiper waits on its start page: Esc leaves it.
    const std::string Socket = (Dir / "keys").string();
    TMonitorFeeder Keys(Socket, std::chrono::milliseconds(500), [] { return "sendkey esc\n"; });
    TQemuOptions Options;
    Options.Floppy = Floppy;
    Options.WaitForText = "ALL DONE";
    Options.ExtraArguments = MonitorArgument(Socket);
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    const std::string& Screen = Result.Screen;

    const auto Missing = Screen.find("PURGIT: cannot read DATA\\PURGIT.INI (DOS error");
    const auto Malformed = Screen.find(
        "PURGIT: DATA\\PURGIT.INI line 2 is malformed: an option value must be 0 or 1.");
    const auto First = Screen.find("PURGIT exit code 1");
    const auto Second = Screen.find("PURGIT exit code 2");
    const auto Third = Screen.find("PURGIT exit code 0");
    ASSERT_NE(Missing, std::string::npos) << Screen;
    ASSERT_NE(Malformed, std::string::npos) << Screen;
    ASSERT_NE(First, std::string::npos) << Screen;
    ASSERT_NE(Second, std::string::npos) << Screen;
    ASSERT_NE(Third, std::string::npos) << Screen;
    EXPECT_LT(Missing, First);
    EXPECT_LT(First, Malformed);
    EXPECT_LT(Malformed, Second);
    EXPECT_LT(Second, Third);
}

TEST(QemuWiper, MouseDriverInstallsOnceAnswersInt33AndFollowsTheMouse) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const fs::path Checker = Assemble(Dir, "M33.COM", MouseChecker);
    const std::string Batch =
        "@echo off\r\ncd \\Purgit\r\ndata\\ctmouse\r\ndata\\ctmouse\r\n\\M33\r\n";
    const std::string Floppy = MakeWiperFloppy(Dir, Batch, {{"M33.COM", Checker}});
    const std::string Socket = (Dir / "mouse-monitor").string();
    // From the moment QEMU starts: the driver must cope with a mouse that
    // moves while it starts. QEMU passes on button changes only, so every
    // round releases and presses the button again.
    TMonitorFeeder Feeder(Socket, std::chrono::milliseconds(200), [] {
        return "mouse_button 0\nmouse_move 8 6\nmouse_button 1\n";
    });

    TQemuOptions Options;
    Options.Floppy = Floppy;
    Options.WaitForText = "M33 RESULT";
    Options.ExtraArguments = MonitorArgument(Socket);
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    const std::string& Screen = Result.Screen;
    EXPECT_EQ(CountOf(Screen, "Corvane mouse driver installed."), 1) << Screen;
    EXPECT_EQ(CountOf(Screen, "Corvane mouse driver is already installed."), 1) << Screen;
    EXPECT_LT(Screen.find("installed."), Screen.find("already installed."));
    EXPECT_EQ(LineStarting(Screen, "M33 RESULT"), "M33 RESULT 16") << Screen;
}

TEST(QemuWiper, MouseDriverStaysOutOfMemoryWithoutPointingDevice) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    // Without a keyboard controller there is no PS/2 mouse; INT 33h must then
    // still be free, so a second start tries again and fails the same way.
    const std::string Batch =
        "@echo off\r\ncd \\Purgit\r\ndata\\ctmouse\r\ndata\\ctmouse\r\necho ALL DONE\r\n";
    const std::string Floppy = MakeWiperFloppy(Dir, Batch);
    TQemuOptions Options;
    Options.Floppy = Floppy;
    Options.WaitForText = "ALL DONE";
    Options.ExtraArguments = "-machine pc,i8042=off";
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.SawText) << Result.Screen << Result.Log;
    EXPECT_EQ(CountOf(Result.Screen, "No PS/2 mouse found; mouse driver not installed."), 2)
        << Result.Screen;
    EXPECT_EQ(CountOf(Result.Screen, "Corvane mouse driver installed."), 0) << Result.Screen;
}

#endif
