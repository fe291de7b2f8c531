#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "QemuSupport.h"
#include "TestSupport.h"
#include "base/ByteOrder.h"
#include "fakes/ScriptedUserInterface.h"
#include "optical/ISO9660.h"
#include "optical/ImageRecorder.h"
#include "platform/Platform.h"

using namespace testing_support;

namespace {

constexpr size_t Sector = 2048;
constexpr size_t CatalogAt = 19 * Sector;

std::vector<uint8_t> Build(const std::vector<uint8_t>& Floppy, const std::string& Id) {
    TMemoryStream Source(Floppy), Destination;
    EXPECT_TRUE(MakeBootableIso(Source, Destination, Id));
    return Destination.Bytes();
}

std::string IdString(const std::vector<uint8_t>& Image) {
    return std::string(Image.begin() + CatalogAt + 4, Image.begin() + CatalogAt + 28);
}

uint16_t ValidationSum(const std::vector<uint8_t>& Image) {
    uint16_t Sum = 0;
    for (size_t i = 0; i < 32; i += 2)
        Sum = uint16_t(Sum + GetLE16(&Image[CatalogAt + i]));
    return Sum;
}

// Hands out at most a few bytes per Read, as pipes and some files do.
class TTrickleStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* Buffer, int64_t Count) override {
        return TMemoryStream::Read(Buffer, std::min<int64_t>(Count, 777));
    }
};

// Accepts only part of what it is given.
class TFullStream : public TMemoryStream {
public:
    int64_t Write(const void* Buffer, int64_t Count) override {
        return TMemoryStream::Write(Buffer, Count / 2);
    }
};

} // namespace

TEST(IsoLayout, EveryByteOfTheFixedSectors) {
    const auto Floppy = RandomBytes(1474560, 11);
    const auto Image = Build(Floppy, "Corvane Purgex 2005");
    ASSERT_EQ(Image.size(), 1515520u);

    // System area.
    EXPECT_TRUE(std::all_of(Image.begin(), Image.begin() + 32768, [](uint8_t b) { return !b; }));

    // Sector 16: not a primary volume descriptor.
    const uint8_t* First = &Image[16 * Sector];
    EXPECT_EQ(First[0], 254);
    EXPECT_EQ(std::memcmp(First + 1, "CD001", 5), 0);
    EXPECT_EQ(First[6], 1);

    // Sector 17: boot record pointing at the catalog.
    const uint8_t* Boot = &Image[17 * Sector];
    EXPECT_EQ(Boot[0], 0);
    EXPECT_EQ(std::memcmp(Boot + 1, "CD001", 5), 0);
    EXPECT_EQ(Boot[6], 1);
    EXPECT_EQ(std::memcmp(Boot + 7, "EL TORITO SPECIFICATION", 23), 0);
    EXPECT_EQ(GetLE32(Boot + 71), 19u);

    // Sector 18: terminator.
    const uint8_t* End = &Image[18 * Sector];
    EXPECT_EQ(End[0], 255);
    EXPECT_EQ(std::memcmp(End + 1, "CD001", 5), 0);
    EXPECT_EQ(End[6], 1);

    // Sector 19: validation entry and initial entry.
    const uint8_t* Catalog = &Image[CatalogAt];
    EXPECT_EQ(Catalog[0], 1);
    EXPECT_EQ(Catalog[1], 0);
    EXPECT_EQ(IdString(Image), "Corvane Purgex 2005     ");
    EXPECT_EQ(Catalog[30], 0x55);
    EXPECT_EQ(Catalog[31], 0xAA);
    EXPECT_EQ(ValidationSum(Image), 0);
    EXPECT_EQ(Catalog[32], 0x88);
    EXPECT_EQ(Catalog[33], 2);
    EXPECT_EQ(GetLE16(Catalog + 34), 0x07C0);
    EXPECT_EQ(Catalog[36], 4);
    EXPECT_EQ(GetLE16(Catalog + 38), 1);
    EXPECT_EQ(GetLE32(Catalog + 40), 20u);

    // Nothing else is written in sectors 16 to 19: every byte outside the
    // fields above is zero (no dates, serials or stray fields).
    std::vector<bool> Listed(4 * Sector, false);
    const auto Mark = [&](size_t From, size_t Count) {
        for (size_t i = 0; i < Count; ++i)
            Listed[From - 16 * Sector + i] = true;
    };
    Mark(16 * Sector, 7);
    Mark(17 * Sector, 7 + 23);
    Mark(17 * Sector + 71, 4);
    Mark(18 * Sector, 7);
    Mark(CatalogAt, 2);
    Mark(CatalogAt + 4, 28);
    Mark(CatalogAt + 30, 2 + 5);
    Mark(CatalogAt + 38, 6);
    for (size_t i = 0; i < Listed.size(); ++i) {
        if (!Listed[i]) {
            ASSERT_EQ(Image[16 * Sector + i], 0) << "byte " << 16 * Sector + i;
        }
    }

    // The floppy fills sectors 20 to 739 exactly.
    EXPECT_TRUE(std::equal(Floppy.begin(), Floppy.end(), Image.begin() + 40960));
}

TEST(IsoLayout, IdStringIsPaddedOrCutAndChecksumHolds) {
    const std::vector<uint8_t> Floppy(1474560, 0xF6);
    const struct {
        std::string Text, Expected;
    } Cases[] = {
        {"", std::string(24, ' ')},
        {"ABC", "ABC" + std::string(21, ' ')},
        {"Nineteen characters", "Nineteen characters     "},
        {"Exactly twenty-four char", "Exactly twenty-four char"},
        {"Thirty characters, cut at 24!", "Thirty characters, cut a"},
        // High bytes make the word sum wrap more than once.
        {std::string(30, '\xFF'), std::string(24, '\xFF')},
    };
    for (const auto& Case : Cases) {
        const auto Image = Build(Floppy, Case.Text);
        EXPECT_EQ(IdString(Image), Case.Expected) << "text \"" << Case.Text << "\"";
        EXPECT_EQ(ValidationSum(Image), 0) << "text \"" << Case.Text << "\"";
        EXPECT_NE(GetLE16(&Image[CatalogAt + 28]), 0) << "a checksum of zero is suspicious here";
    }
}

TEST(IsoSource, ShortSourceLeavesTheTailZero) {
    const auto Floppy = RandomBytes(5000, 3);
    const auto Image = Build(Floppy, "x");
    ASSERT_EQ(Image.size(), 1515520u);
    EXPECT_TRUE(std::equal(Floppy.begin(), Floppy.end(), Image.begin() + 40960));
    EXPECT_TRUE(
        std::all_of(Image.begin() + 40960 + 5000, Image.end(), [](uint8_t b) { return !b; }));

    const auto Empty = Build({}, "x");
    ASSERT_EQ(Empty.size(), 1515520u);
    EXPECT_TRUE(std::all_of(Empty.begin() + 40960, Empty.end(), [](uint8_t b) { return !b; }));
}

TEST(IsoSource, ReadsFromTheSourcePositionAndLeavesTheExcess) {
    auto Bytes = RandomBytes(100 + 1474560 + 300, 5);
    TMemoryStream Source(Bytes), Destination;
    Source.SetPosition(100);
    ASSERT_TRUE(MakeBootableIso(Source, Destination, "id"));
    EXPECT_EQ(Source.Position(), 100 + 1474560);
    const auto& Image = Destination.Bytes();
    EXPECT_TRUE(
        std::equal(Bytes.begin() + 100, Bytes.begin() + 100 + 1474560, Image.begin() + 40960));
}

TEST(IsoSource, SourceThatAnswersInSmallPiecesIsReadWhole) {
    const auto Floppy = RandomBytes(1474560, 8);
    TTrickleStream Source(Floppy);
    TMemoryStream Destination;
    ASSERT_TRUE(MakeBootableIso(Source, Destination, "id"));
    EXPECT_TRUE(std::equal(Floppy.begin(), Floppy.end(), Destination.Bytes().begin() + 40960));
}

TEST(IsoDestination, WritesAtTheDestinationPosition) {
    TMemoryStream Source(RandomBytes(1474560, 9)), Destination;
    Destination.Write("HEAD", 4);
    ASSERT_TRUE(MakeBootableIso(Source, Destination, "id"));
    ASSERT_EQ(Destination.Bytes().size(), 4u + 1515520u);
    EXPECT_EQ(std::memcmp(Destination.Bytes().data(), "HEAD", 4), 0);
    EXPECT_EQ(Destination.Bytes()[4 + 32768], 254);
}

TEST(IsoDestination, RefusedBytesAreReported) {
    TMemoryStream Source(RandomBytes(1474560, 10));
    TFullStream Destination;
    EXPECT_FALSE(MakeBootableIso(Source, Destination, "id"));
}

TEST(IsoDestination, RepeatedBuildsAreIdentical) {
    const auto Floppy = RandomBytes(1474560, 12);
    const auto First = Build(Floppy, "Corvane Purgex 2005");
    // A different build in between must not leave anything behind.
    const auto Other = Build(RandomBytes(1474560, 13), "Another text entirely...");
    const auto Second = Build(Floppy, "Corvane Purgex 2005");
    EXPECT_NE(First, Other);
    EXPECT_TRUE(First == Second);
}

// A plain memory stream that is appended to is filled in place, any other
// stream gets one write: both leave the same bytes and position, and a source
// that fails half way leaves either destination as it was.
TEST(IsoDestination, InPlaceAndWrittenImagesAgree) {
    struct TCountingStream : TMemoryStream {
        int Writes = 0;
        int64_t Write(const void* Buffer, int64_t Count) override {
            ++Writes;
            return TMemoryStream::Write(Buffer, Count);
        }
    };
    struct TFailingSource : TMemoryStream {
        using TMemoryStream::TMemoryStream;
        int64_t Read(void* Buffer, int64_t Count) override {
            if (Position() > 100000) throw EStreamError("gone");
            return TMemoryStream::Read(Buffer, std::min<int64_t>(Count, 4096));
        }
    };
    const auto Floppy = RandomBytes(1474560, 14);
    const auto Old = RandomBytes(2000000, 15);
    TMemoryStream Plain;
    TCountingStream Counted;
    for (TMemoryStream* Destination : {&Plain, static_cast<TMemoryStream*>(&Counted)}) {
        Destination->Write(Old.data(), int64_t(Old.size()));
        TMemoryStream Source(Floppy);
        ASSERT_TRUE(MakeBootableIso(Source, *Destination, "id"));
        EXPECT_EQ(Destination->Position(), 2000000 + 1515520);

        const auto Before = Destination->Bytes();
        TFailingSource Failing(Floppy);
        EXPECT_FALSE(MakeBootableIso(Failing, *Destination, "id"));
        EXPECT_EQ(Destination->Position(), 2000000 + 1515520);
        EXPECT_TRUE(Destination->Bytes() == Before);

        Destination->SetPosition(700000); // over older bytes, running past the end
        Source.SetPosition(0);
        ASSERT_TRUE(MakeBootableIso(Source, *Destination, "id"));
        EXPECT_EQ(Destination->Position(), 700000 + 1515520);
    }
    EXPECT_EQ(Counted.Writes, 3); // the old content, then two images
    EXPECT_TRUE(Plain.Bytes() == Counted.Bytes());
    ASSERT_EQ(Plain.Size(), 2000000 + 1515520);
    EXPECT_TRUE(std::equal(Old.begin(), Old.begin() + 700000, Plain.Bytes().begin()));
    EXPECT_TRUE(std::equal(Floppy.begin(), Floppy.end(), Plain.Bytes().begin() + 700000 + 40960));
}

// geteltorito reads the boot record and catalog on its own terms and must get
// back exactly the floppy we put in, which must still be a sound FAT12 volume.
// The image goes through the image recorder onto a real file.
TEST(IsoHostTools, GeteltoritoExtractsTheFloppy) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const auto Floppy = Dir / "floppy.img";
    WriteFileBytes(Dir / "HELLO.TXT", std::string("Hello from the floppy\r\n"));
    WriteFileBytes(Dir / "DATA.BIN", RandomBytes(70000, 21));
    const auto Made = RunCommand(
        "mformat -f 1440 -C -v PURGETEST -i " + ShellQuote(Floppy.string()) + " :: && mcopy -i " +
        ShellQuote(Floppy.string()) + " " + ShellQuote((Dir / "HELLO.TXT").string()) + " " +
        ShellQuote((Dir / "DATA.BIN").string()) + " ::");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    const auto FloppyBytes = ReadFileBytes(Floppy);
    ASSERT_EQ(FloppyBytes.size(), 1474560u);

    TMemoryStream Source(FloppyBytes), IsoStream;
    ASSERT_TRUE(MakeBootableIso(Source, IsoStream, "Corvane Purgex 2005"));

    const auto Iso = Dir / "Purgit.ISO";
    TScriptedUserInterface Ui;
    Ui.SaveFileAnswers.push_back(Iso.string());
    TimageRecorder Recorder;
    TDeviceStatus Status;
    ASSERT_TRUE(Recorder.CheckReady(Status));
    TBurnError Error;
    ASSERT_TRUE(Recorder.Burn(Error, IsoStream, nullptr));
    ASSERT_EQ(ReadFileBytes(Iso), IsoStream.Bytes());

    const auto Out = Dir / "out.img";
    const auto Extract =
        RunCommand("geteltorito -o " + ShellQuote(Out.string()) + " " + ShellQuote(Iso.string()));
    ASSERT_EQ(Extract.ExitCode, 0) << Extract.Output;
    EXPECT_TRUE(ReadFileBytes(Out) == FloppyBytes) << "extracted floppy differs";

    const auto Check = RunCommand("fsck.fat -n " + ShellQuote(Out.string()));
    EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
    const auto Back = RunCommand("mtype -i " + ShellQuote(Out.string()) + " ::HELLO.TXT");
    EXPECT_EQ(Back.Output, "Hello from the floppy\r\n");
}

// A BIOS boots the image from its CD drive: the boot sector, loaded through
// diskette emulation, prints a line, checks it booted as drive 0 and reads the
// emulated floppy's last sector (cylinder 79, head 1, sector 18) through INT 13h.
// It reports through the debug-exit port: 33 when all holds, 5 otherwise.
TEST(QemuIso, BiosBootsTheEmulatedFloppyFromCd) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    WriteFileBytes(Dir / "boot.asm", std::string(R"(bits 16
org 0x7c00
    jmp short start
    nop
start:
    cli
    xor ax, ax
    mov ds, ax
    mov es, ax
    mov ss, ax
    mov sp, 0x7c00
    sti
    cld
    mov [drive], dl
    mov si, message
print:
    lodsb
    or al, al
    jz check
    mov ah, 0x0e
    mov bx, 7
    int 0x10
    jmp print
check:
    cmp byte [drive], 0
    jne fail
    mov ax, 0x0201
    mov bx, 0x8000
    mov cx, (79 << 8) | 18
    mov dh, 1
    mov dl, 0
    int 0x13
    jc fail
    mov si, 0x8000
    mov di, marker
    mov cx, marker_end - marker
    repe cmpsb
    jne fail
    mov al, 33
    out 0xf4, al
    hlt
fail:
    mov al, 5
    out 0xf4, al
    hlt
message db "EMULATED FLOPPY BOOTED FROM CD", 0
marker db "LAST SECTOR OF THE EMULATED FLOPPY"
marker_end:
drive db 0xff
times 510 - ($ - $$) db 0
dw 0xaa55
)"));
    const auto Assembled = RunCommand("nasm -f bin -o " + ShellQuote((Dir / "boot.bin").string()) +
                                      " " + ShellQuote((Dir / "boot.asm").string()));
    ASSERT_EQ(Assembled.ExitCode, 0) << Assembled.Output;
    const auto BootSector = ReadFileBytes(Dir / "boot.bin");
    ASSERT_EQ(BootSector.size(), 512u);

    std::vector<uint8_t> Floppy(1474560, 0);
    std::copy(BootSector.begin(), BootSector.end(), Floppy.begin());
    const std::string Marker = "LAST SECTOR OF THE EMULATED FLOPPY";
    std::copy(Marker.begin(), Marker.end(), Floppy.end() - 512);

    const auto Image = Build(Floppy, "Corvane Purgex 2005");
    WriteFileBytes(Dir / "boot.iso", Image);

    TQemuOptions Options;
    Options.Cdrom = (Dir / "boot.iso").string();
    Options.BootFromCd = true;
    Options.TimeoutSeconds = 30;
    const auto Result = RunQemu(Options);
    ASSERT_TRUE(Result.Started) << Result.Log;
    EXPECT_TRUE(Result.Exited) << Result.Screen << Result.Log;
    EXPECT_EQ(Result.DebugExitCode, 33) << Result.Screen << Result.Log;
}
