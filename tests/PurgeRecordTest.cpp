// The record reader on the keys of PURGIT.EFI's purge: a purged disk is
// read and shown with its purge, and "purged" is only believed of a disk
// whose check passed.

#include <gtest/gtest.h>

#include <cstdio>

#include "RecordTestSupport.h"
#include "TestSupport.h"
#include "report/CertificatePdf.h"
#include "report/EraseRecord.h"
#include "report/ReportRows.h"

using namespace testing_support;

namespace {

// A run of /ALL /M:NVMEFMT on two NVMe disks, the second without Format.
std::string PurgeLines() {
    return "[record]\r\nformat=1\r\nwiper=PURGIT 3.3.0.350\r\nstarted=2026-12-10 02:00:00\r\n"
           "parameters=/ALL /M:NVMEFMT\r\noptions=10010010001\r\nmethod=NVMEFMT\r\n"
           "method_name=purge, NVMe Format, user data erase\r\n"
           "method_source=the drive's own command, checked by marker sectors\r\n"
           "method_passes=0\r\nverification=marker sectors\r\ngenerator=xorshift128\r\n"
           "direction=first to last\r\ndisks=2\r\npurge=NVMEFMT\r\n"
           "[machine]\r\nmanufacturer=QEMU\r\nproduct=Standard PC\r\nserial=unknown\r\n"
           "uuid=unknown\r\nsmbios=2.8\r\n"
           "[disk 2]\r\nbios=81h\r\nbus=NVMe\r\nmodel=QEMU NVMe Ctrl\r\nserial=PURGE1\r\n"
           "sectors=16384\r\nsector_bytes=512\r\n"
           "capabilities=NVMe: Format (user data); no Sanitize\r\nstarted=2026-12-10 02:00:01\r\n"
           "[result 2]\r\nended=2026-12-10 02:00:02\r\npasses_done=0\r\npasses_planned=0\r\n"
           "verified_passes=0\r\nwrite_errors=0\r\nread_errors=0\r\nmismatches=0\r\n"
           "partition=none\r\npath=UEFI Block I/O\r\n"
           "purge=purge, NVMe Format, user data erase, checked\r\n"
           "purge_check=checked: 8 marker sectors written before, none reads back\r\n"
           "outcome=purged\r\nreason=none\r\n"
           "[disk 3]\r\nbios=82h\r\nbus=virtio\r\nmodel=virtio disk\r\nserial=Pci(4,0)\r\n"
           "sectors=16384\r\nsector_bytes=512\r\ncapabilities=no purge commands reachable\r\n"
           "started=2026-12-10 02:00:02\r\n"
           "[result 3]\r\nended=2026-12-10 02:00:02\r\npasses_done=0\r\npasses_planned=0\r\n"
           "verified_passes=0\r\nwrite_errors=0\r\nread_errors=0\r\nmismatches=0\r\n"
           "partition=none\r\npath=UEFI Block I/O\r\n"
           "purge=purge, NVMe Format, user data erase, FAILED\r\n"
           "purge_check=not supported by this disk; nothing was erased\r\n"
           "outcome=failed\r\nreason=not supported by this disk; nothing was erased\r\n"
           "[end]\r\nended=2026-12-10 02:00:03\r\nresults=2\r\n";
}

// The same run with the fall-back ZERO.MET: disk 3, which did not offer the
// purge, was overwritten instead.
std::string FallBackLines() {
    std::string Lines = Replaced(PurgeLines(), "method=NVMEFMT\r\n", "method=ZERO.MET\r\n");
    Lines = Replaced(Lines, "method_passes=0\r\nverification=marker sectors",
                     "method_passes=1\r\nverification=last pass");
    Lines = Replaced(Lines, "purge=purge, NVMe Format, user data erase, FAILED\r\n",
                     "purge=purge, NVMe Format, user data erase, not supported by this disk, "
                     "overwritten with the fall-back method\r\n");
    Lines = Replaced(Lines, "purge_check=not supported by this disk; nothing was erased\r\n",
                     "purge_check=none\r\n");
    return Replaced(Lines,
                    "outcome=failed\r\nreason=not supported by this disk; nothing was erased",
                    "outcome=erased\r\nreason=none");
}

std::string FaultOf(const std::string& Lines) {
    TRecordFault Fault;
    const auto Record = ParseEraseRecord(Sealed(Lines), "PURG0001.REC", Fault);
    return Record ? "" : Fault.Message;
}

} // namespace

TEST(PurgeRecord, PurgedDiskIsReadAndShownWithItsPurge) {
    TRecordFault Fault;
    const auto Record = ParseEraseRecord(Sealed(PurgeLines()), "PURG0001.REC", Fault);
    ASSERT_TRUE(Record) << Fault.Text();
    ASSERT_EQ(Record->Disks.size(), 2u);
    EXPECT_EQ(Record->Disks[0].Disk.at("capabilities"), "NVMe: Format (user data); no Sanitize");
    const auto Rows = ReportRows({*Record});
    ASSERT_EQ(Rows.size(), 2u);
    EXPECT_EQ(Rows[0].Method, "NVMEFMT");
    EXPECT_EQ(Rows[0].Result, "purge, NVMe Format, user data erase, checked");
    EXPECT_EQ(Rows[1].Result, "failed: not supported by this disk; nothing was erased");
    const std::string Table = ReportTable(Rows);
    EXPECT_NE(Table.find("purge, NVMe Format, user data erase, checked"), std::string::npos)
        << Table;
}

TEST(PurgeRecord, PurgedIsOnlyBelievedWhenChecked) {
    const std::string Lines = PurgeLines();
    EXPECT_EQ(FaultOf(Lines), "");
    EXPECT_NE(FaultOf(Replaced(Lines, "user data erase, checked\r\n", "user data erase\r\n"))
                  .find("purged but not checked"),
              std::string::npos);
    EXPECT_NE(FaultOf(Replaced(Lines, "purge_check=checked:", "purge_check=FAILED:"))
                  .find("purged but not checked"),
              std::string::npos);
    EXPECT_NE(FaultOf(Replaced(Lines, "disks=2\r\npurge=NVMEFMT\r\n", "disks=2\r\n"))
                  .find("purged but not checked"),
              std::string::npos);
    EXPECT_NE(FaultOf(Replaced(Lines,
                               "purge_check=checked: 8 marker sectors written before, none reads "
                               "back\r\n",
                               ""))
                  .find("come together"),
              std::string::npos);
    // The new keys only where they belong.
    EXPECT_NE(FaultOf(Replaced(Lines, "machine]\r\n", "machine]\r\npurge=NVMEFMT\r\n"))
                  .find("unknown key 'purge'"),
              std::string::npos);
    EXPECT_NE(FaultOf(Replaced(Lines, "[result 2]\r\n", "[result 2]\r\ncapabilities=x\r\n"))
                  .find("unknown key 'capabilities'"),
              std::string::npos);
    EXPECT_NE(FaultOf(Replaced(Lines, "verification=marker sectors", "verification=markers"))
                  .find("not one of its words"),
              std::string::npos);
}

TEST(PurgeRecord, FallBackOverwriteKeepsTheOverwriteMethod) {
    TRecordFault Fault;
    const auto Record = ParseEraseRecord(Sealed(FallBackLines()), "PURG0001.REC", Fault);
    ASSERT_TRUE(Record) << Fault.Text();
    const auto Rows = ReportRows({*Record});
    ASSERT_EQ(Rows.size(), 2u);
    EXPECT_EQ(Rows[0].Method, "NVMEFMT");
    EXPECT_EQ(Rows[1].Method, "ZERO.MET");
    EXPECT_EQ(Rows[1].Result, "erased");
}

// The certificate claims a purge only where the check passed; a disk that
// did not offer it is not sanitized, and a fall-back overwrite is a clear.
TEST(PurgeRecord, CertificatesNameThePurgeAndClaimOnlyWhatWasChecked) {
#ifdef _WIN32
    GTEST_SKIP() << "poppler reads the PDF in the native build";
#else
    TScratchDir Dir;
    TRecordFault Fault;
    const auto Purged = ParseEraseRecord(Sealed(PurgeLines()), "PURG0001.REC", Fault);
    ASSERT_TRUE(Purged) << Fault.Text();
    const auto FellBack = ParseEraseRecord(Sealed(FallBackLines()), "PURG0002.REC", Fault);
    ASSERT_TRUE(FellBack) << Fault.Text();

    const std::string Pdf = (Dir / "purge.pdf").string();
    ASSERT_EQ(WriteCertificates(Pdf, {*Purged, *FellBack}, {}), "");
    auto Page = [&](int Number) {
        const std::string N = std::to_string(Number);
        return RunCommand("pdftotext -f " + N + " -l " + N + " -layout " + ShellQuote(Pdf) + " -")
            .Output;
    };
    const std::string Checked = Page(2), Unsupported = Page(3), Overwritten = Page(5);
    for (const char* Part :
         {"drive's own erase command (purge)", "hard disk, NVMe (disk 2 of the UEFI wiper)",
          "Purge (the drive's own erase command)",
          "NVMEFMT: purge, NVMe Format, user data erase, checked",
          "checked: 8 marker sectors written before, none reads back",
          "NVMe: Format (user data); no Sanitize"})
        EXPECT_NE(Checked.find(Part), std::string::npos) << Part << " in " << Checked;
    EXPECT_EQ(Checked.find("Clear (overwrite)"), std::string::npos) << Checked;
    EXPECT_NE(Unsupported.find("Purge - FAILED, the disk is not sanitized"), std::string::npos)
        << Unsupported;
    EXPECT_NE(Unsupported.find("not supported by this disk; nothing was erased"), std::string::npos)
        << Unsupported;
    EXPECT_NE(Overwritten.find("Clear (overwrite)"), std::string::npos) << Overwritten;
    EXPECT_NE(Overwritten.find("NVMEFMT: not supported by this disk, so overwritten"),
              std::string::npos)
        << Overwritten;
    EXPECT_EQ(Overwritten.find("Purge ("), std::string::npos) << Overwritten;
#endif
}
