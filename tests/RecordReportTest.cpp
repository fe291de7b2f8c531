// The erase record reader and purgex report: a sound record is read whole;
// every fault (checksum, cut short, unknown or missing key, huge value,
// sections out of place) is named by file and line and leaves that record
// out; the table and the PDF (read back with qpdf and poppler) name each
// disk with its outcome.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "RecordTestSupport.h"
#include "TestSupport.h"
#include "cli/ReportCommand.h"
#include "report/CertificatePdf.h"
#include "report/EraseRecord.h"
#include "report/ReportRows.h"

using namespace testing_support;

namespace {

// Lines of a record as the wiper writes them, before the checksum line.
std::string SampleLines() {
    return "[record]\r\nformat=1\r\nwiper=PURGIT 0.1.0\r\nstarted=2026-12-10 02:00:00\r\n"
           "parameters=/M:ZERO /ALL\r\noptions=10010010001\r\nmethod=ZERO.MET\r\n"
           "method_name=One pass of zeros\r\nmethod_source=none\r\nmethod_passes=1\r\n"
           "verification=last pass\r\ngenerator=xorshift128\r\ndirection=first to "
           "last\r\ndisks=2\r\n"
           "[machine]\r\nmanufacturer=Acme\r\nproduct=Box 9\r\nserial=SN-42\r\n"
           "uuid=11111111-2222-3333-4444-555555555555\r\nsmbios=2.8\r\n"
           "[disk 1]\r\nbios=80h\r\nbus=ATA primary master\r\nmodel=QEMU "
           "HARDDISK\r\nserial=QM00001\r\n"
           "sectors=2048\r\nsector_bytes=512\r\nstarted=2026-12-10 02:00:01\r\n"
           "[pass 1.1]\r\npattern=fixed 00\r\nstarted=2026-12-10 02:00:01\r\nended=2026-12-10 "
           "02:00:02\r\n"
           "sectors=2048\r\ncomplete=yes\r\nwrite_errors=1\r\nverify=failed\r\n"
           "verify_ended=2026-12-10 02:00:03\r\nread_errors=0\r\nmismatches=1\r\nerrors=700W "
           "700V\r\n"
           "[result 1]\r\nended=2026-12-10 02:00:03\r\npasses_done=1\r\npasses_planned=1\r\n"
           "verified_passes=1\r\nwrite_errors=1\r\nread_errors=0\r\nmismatches=1\r\npartition="
           "none\r\n"
           "path=BIOS\r\noutcome=erased with errors\r\nreason=2 sectors failed\r\n"
           "[disk 3]\r\nbios=82h\r\nbus=unknown\r\nmodel=unknown\r\nserial=unknown\r\n"
           "sectors=8192\r\nsector_bytes=512\r\nstarted=2026-12-10 02:00:04\r\n"
           "[pass 3.1]\r\npattern=fixed 00\r\nstarted=2026-12-10 02:00:04\r\nended=2026-12-10 "
           "02:00:05\r\n"
           "sectors=1270\r\ncomplete=no\r\nwrite_errors=0\r\nverify=none\r\nerrors=none\r\n"
           "[result 3]\r\nended=2026-12-10 02:00:05\r\npasses_done=0\r\npasses_planned=1\r\n"
           "verified_passes=0\r\nwrite_errors=0\r\nread_errors=0\r\nmismatches=0\r\npartition="
           "none\r\n"
           "path=BIOS\r\noutcome=stopped\r\nreason=stopped by the user\r\n"
           "[end]\r\nended=2026-12-10 02:00:06\r\nresults=2\r\n";
}

unsigned LineOf(const std::string& Text, const std::string& Part) {
    const auto At = Text.find(Part);
    return unsigned(std::count(Text.begin(), Text.begin() + long(At), '\n') + 1);
}

} // namespace

TEST(RecordReader, ChecksumIsTheCommonCrc32) {
    EXPECT_EQ(RecordCrc32("123456789"), 0xCBF43926u); // the published check value
    EXPECT_EQ(RecordCrc32(""), 0u);
}

TEST(RecordReader, SoundRecordIsReadWhole) {
    TRecordFault Fault;
    const std::string Text = Sealed(SampleLines());
    const auto Record = ParseEraseRecord(Text, "PURG0001.REC", Fault);
    ASSERT_TRUE(Record) << Fault.Text();
    EXPECT_EQ(Record->Machine.at("serial"), "SN-42");
    ASSERT_EQ(Record->Disks.size(), 2u);
    EXPECT_EQ(Record->Disks[1].Number, 3u);
    EXPECT_EQ(Record->Disks[0].Passes.at(0).Keys.at("errors"), "700W 700V");
    EXPECT_EQ(Record->Checksum, "crc32:" + Text.substr(Text.size() - 10, 8));
    const auto Rows = ReportRows({*Record});
    ASSERT_EQ(Rows.size(), 2u);
    EXPECT_EQ(Rows[0].Machine, "Acme Box 9, serial SN-42");
    EXPECT_EQ(Rows[0].Result, "erased with errors: 2 sectors failed");
    EXPECT_EQ(Rows[1].Result, "stopped: stopped by the user");
    EXPECT_EQ(Rows[1].Size, "4 MB");
}

TEST(RecordReader, EachFaultIsNamedByLineAndTheRecordIsLeftOutWhole) {
    const std::string Good = SampleLines();
    struct TCase {
        std::string Name, Text, Message;
        unsigned Line;
    };
    const std::string Huge(5000, 'x');
    std::vector<TCase> Cases = {
        {"edited after sealing", Replaced(Sealed(Good), "outcome=stopped", "outcome=erased!"),
         "wrong checksum", LineOf(Good, "[end]") + 3},
        {"unknown key", Sealed(Replaced(Good, "bus=unknown", "bus=unknown\r\ncolour=blue")),
         "unknown key 'colour' in [disk 3]", LineOf(Good, "bus=unknown") + 1},
        {"missing key", Sealed(Replaced(Good, "serial=QM00001\r\n", "")),
         "the key 'serial' is missing from [disk 1]", LineOf(Good, "[disk 1]")},
        {"huge value", Sealed(Replaced(Good, "model=QEMU HARDDISK", "model=" + Huge)),
         "the value of 'model' is longer than 1024", LineOf(Good, "model=QEMU")},
        {"unknown section", Sealed(Replaced(Good, "[end]", "[finish]")), "unknown section [finish]",
         LineOf(Good, "[end]")},
        {"key twice", Sealed(Replaced(Good, "results=2\r\n", "results=2\r\nresults=2\r\n")),
         "'results' appears twice", LineOf(Good, "results=2") + 1},
        {"not a number", Sealed(Replaced(Good, "sectors=8192", "sectors=8k")),
         "'sectors' is not a number", LineOf(Good, "sectors=8192")},
        {"word not known", Sealed(Replaced(Good, "outcome=stopped", "outcome=wiped")),
         "'outcome' is not one of its words", LineOf(Good, "outcome=stopped")},
        {"LF alone", Sealed(Replaced(Good, "smbios=2.8\r\n", "smbios=2.8\n")), "CR LF",
         LineOf(Good, "smbios=2.8")},
        {"pass out of place", Sealed(Replaced(Good, "[pass 3.1]", "[pass 3.2]")), "out of place",
         LineOf(Good, "[pass 3.1]")},
        {"disk missing", Sealed(Replaced(Good, "disks=2", "disks=3")), "announces 3 disks",
         LineOf(Good, "[end]") + 3},
        {"erased with errors said erased",
         Sealed(Replaced(Good, "outcome=erased with errors", "outcome=erased")),
         "said to be erased but has errors", LineOf(Good, "[end]") + 3},
        {"no checksum", Good, "does not end with its checksum line", LineOf(Good, "[end]") + 2},
        {"empty", "", "empty", 0},
    };
    // Cut anywhere, the record is refused.
    const std::string Whole = Sealed(Good);
    for (size_t Cut = 1; Cut < Whole.size(); Cut += 97)
        Cases.push_back({"cut at " + std::to_string(Cut), Whole.substr(0, Cut), "", 0});
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        TRecordFault Fault;
        const auto Record = ParseEraseRecord(C.Text, "A.REC", Fault);
        EXPECT_FALSE(Record);
        EXPECT_EQ(Fault.File, "A.REC");
        if (C.Message.empty()) {
            EXPECT_FALSE(Fault.Message.empty());
            continue;
        }
        EXPECT_NE(Fault.Message.find(C.Message), std::string::npos) << Fault.Text();
        EXPECT_EQ(Fault.Line, C.Line) << Fault.Text();
    }
}

TEST(PurgexReport, TableListsSoundRecordsAndNamesTheOthersByFileAndLine) {
    TScratchDir Dir;
    WriteFileBytes(Dir / "PURG0001.REC", Sealed(SampleLines()));
    WriteFileBytes(Dir / "PURG0002.REC",
                   Sealed(Replaced(SampleLines(), "bus=unknown", "bus=unknown\r\nx=1")));
    WriteFileBytes(Dir / "notes.txt", "not a record");
    std::ostringstream Out, Err;
    const int Code = RunReportCommand({{Dir.Path().string()}, "", "", ""}, Out, Err);
    EXPECT_EQ(Code, 1);
    const std::string Table = Out.str();
    EXPECT_NE(Table.find("Record"), std::string::npos) << Table;
    EXPECT_EQ(Table.find("PURG0002"), std::string::npos) << "the faulty record is left out whole";
    EXPECT_NE(Table.find("QEMU HARDDISK"), std::string::npos) << Table;
    EXPECT_NE(Table.find("erased with errors: 2 sectors failed"), std::string::npos) << Table;
    EXPECT_NE(Table.find("stopped: stopped by the user"), std::string::npos) << Table;
    EXPECT_NE(
        Err.str().find("PURG0002.REC:" + std::to_string(LineOf(SampleLines(), "bus=unknown") + 1) +
                       ": unknown key 'x' in [disk 3]; the record is left out"),
        std::string::npos)
        << Err.str();

    std::ostringstream Out2, Err2;
    TScratchDir Empty;
    EXPECT_EQ(RunReportCommand({{Empty.Path().string()}, "", "", ""}, Out2, Err2), 1);
    EXPECT_EQ(Out2.str(), "");
    EXPECT_NE(Err2.str().find("no erase records (*.REC) in this folder"), std::string::npos)
        << Err2.str();
    EXPECT_NE(Err2.str().find("no erase record to report"), std::string::npos);

    std::ostringstream Out3, Err3;
    EXPECT_EQ(RunReportCommand({{(Dir / "missing.rec").string()}, "", "", ""}, Out3, Err3), 1);
    EXPECT_NE(Err3.str().find("missing.rec: no such file or folder"), std::string::npos)
        << Err3.str();
}

// The PDF is checked by other readers: qpdf for its structure (object
// offsets, streams), poppler for pages, fonts, text and where each word
// ends. A model name far too long for its line is cut inside the margin;
// names outside the fonts' Latin-1 range show as '?'.
TEST(PurgexReport, CertificatesAreAValidPdfOnEveryBuild) {
    TScratchDir Dir;
    const std::string LongModel(300, 'W');
    WriteFileBytes(Dir / "PURG0001.REC",
                   Sealed(Replaced(SampleLines(), "model=QEMU HARDDISK", "model=" + LongModel)));
    std::ostringstream Out, Err;
    const std::string Pdf = (Dir / "out.pdf").string();
    ASSERT_EQ(RunReportCommand({{(Dir / "PURG0001.REC").string()}, Pdf,
                                "Jos\xC3\xA9 M\xC3\xBCller \xE7\x8E\x8B", "Acme (Nord)"},
                               Out, Err),
              0)
        << Err.str();
    EXPECT_NE(Out.str().find("Certificates written to " + Pdf + " (3 pages)"), std::string::npos)
        << Out.str();
    EXPECT_FALSE(std::filesystem::exists(Pdf + ".part"));
#ifndef _WIN32
    const auto Check = RunCommand("qpdf --check " + ShellQuote(Pdf));
    EXPECT_EQ(Check.ExitCode, 0) << Check.Output;
    EXPECT_NE(Check.Output.find("No syntax or stream encoding errors"), std::string::npos)
        << Check.Output;
    const auto Info = RunCommand("pdfinfo " + ShellQuote(Pdf));
    ASSERT_EQ(Info.ExitCode, 0) << Info.Output;
    EXPECT_NE(Info.Output.find("Pages:           3"), std::string::npos) << Info.Output;
    EXPECT_NE(Info.Output.find("Page size:       595.28 x 841.89 pts (A4)"), std::string::npos)
        << Info.Output;
    EXPECT_EQ(Info.Output.find("Error"), std::string::npos) << Info.Output;
    const auto Fonts = RunCommand("pdffonts " + ShellQuote(Pdf));
    EXPECT_NE(Fonts.Output.find("Helvetica-Bold"), std::string::npos) << Fonts.Output;
    EXPECT_NE(Fonts.Output.find("WinAnsi"), std::string::npos) << Fonts.Output;

    // Page 2 is disk 1's certificate, page 3 disk 3's.
    const auto Page2 = RunCommand("pdftotext -f 2 -l 2 -layout " + ShellQuote(Pdf) + " -");
    EXPECT_NE(Page2.Output.find("Certificate of Sanitization"), std::string::npos) << Page2.Output;
    EXPECT_NE(Page2.Output.find("Jos\xC3\xA9 M\xC3\xBCller ?"), std::string::npos)
        << Page2.Output;
    EXPECT_NE(Page2.Output.find("Acme (Nord)"), std::string::npos) << Page2.Output;
    EXPECT_NE(Page2.Output.find("QM00001"), std::string::npos) << Page2.Output;
    EXPECT_NE(Page2.Output.find("hard disk, ATA primary master (BIOS disk 80h)"), std::string::npos)
        << Page2.Output;
    EXPECT_NE(Page2.Output.find("erased with errors: 2 sectors failed"), std::string::npos)
        << Page2.Output;
    EXPECT_NE(Page2.Output.find("SN-42"), std::string::npos) << Page2.Output;
    EXPECT_NE(Page2.Output.find("crc32:"), std::string::npos) << Page2.Output;
    EXPECT_NE(Page2.Output.find("WWWW~"), std::string::npos) << Page2.Output;
    const auto Page3 = RunCommand("pdftotext -f 3 -l 3 -layout " + ShellQuote(Pdf) + " -");
    EXPECT_NE(Page3.Output.find("stopped: stopped by the user"), std::string::npos) << Page3.Output;

    // Every word of every page ends inside the right margin (48 pt).
    const auto Boxes = RunCommand("pdftotext -bbox " + ShellQuote(Pdf) + " -");
    size_t Words = 0;
    for (size_t At = Boxes.Output.find("xMax=\""); At != std::string::npos;
         At = Boxes.Output.find("xMax=\"", At + 1), ++Words)
        EXPECT_LE(std::stod(Boxes.Output.substr(At + 6)), 595.28 - 48 + 0.5)
            << Boxes.Output.substr(At, 200);
    EXPECT_GT(Words, 100u);
#endif

    // A target that cannot be written leaves nothing behind; a folder in the
    // PDF's place stays as it was.
    std::ostringstream Out2, Err2;
    const std::string Missing = (Dir / "no-such-folder" / "out.pdf").string();
    EXPECT_EQ(RunReportCommand({{(Dir / "PURG0001.REC").string()}, Missing, "", ""}, Out2, Err2),
              1);
    EXPECT_NE(Err2.str().find(Missing + ": the PDF could not be written"), std::string::npos)
        << Err2.str();
    std::filesystem::create_directory(Dir / "taken.pdf");
    std::ostringstream Out3, Err3;
    const std::string Taken = (Dir / "taken.pdf").string();
    EXPECT_EQ(RunReportCommand({{(Dir / "PURG0001.REC").string()}, Taken, "", ""}, Out3, Err3), 1);
    EXPECT_NE(Err3.str().find(Taken + ": the PDF could not be put in place"), std::string::npos)
        << Err3.str();
    EXPECT_TRUE(std::filesystem::is_directory(Taken));
    EXPECT_FALSE(std::filesystem::exists(Taken + ".part"));
}

// Records in the root folder of a stick image's FAT16 partition (written by
// mtools), and a file that is neither a record nor an image.
TEST(PurgexReport, ReadsRecordsFromAStickImagesPartition) {
    REQUIRE_HOST_TOOLS();
    TScratchDir Dir;
    const std::string Stick = (Dir / "stick.img").string();
    const std::string Record = (Dir / "PURG0007.REC").string();
    WriteFileBytes(Record, Sealed(SampleLines()));
    const auto Made = RunCommand(
        "truncate -s 20M " + ShellQuote(Stick) + " && echo 'start=2048, type=6' | sfdisk -q " +
        ShellQuote(Stick) + " && mkfs.fat -F 16 --offset 2048 " + ShellQuote(Stick) +
        " 19456 >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i " + ShellQuote(Stick + "@@1048576") +
        " " + ShellQuote(Record) + " ::PURG0007.REC");
    ASSERT_EQ(Made.ExitCode, 0) << Made.Output;
    std::ostringstream Out, Err;
    EXPECT_EQ(RunReportCommand({{Stick}, "", "", ""}, Out, Err), 0) << Err.str();
    EXPECT_NE(Out.str().find("stick.img:PURG0007.REC"), std::string::npos) << Out.str();
    EXPECT_NE(Out.str().find("stopped: stopped by the user"), std::string::npos) << Out.str();

    WriteFileBytes(Dir / "noise.bin", RandomBytes(4096, 7));
    std::ostringstream Out2, Err2;
    EXPECT_EQ(RunReportCommand({{(Dir / "noise.bin").string()}, "", "", ""}, Out2, Err2), 1);
    EXPECT_NE(Err2.str().find(
                  "noise.bin: is neither an erase record nor a disk image with a FAT file system"),
              std::string::npos)
        << Err2.str();
}
