// The wiper's purge engine (payload/purgit/purgit/purge.c) built for the
// host, against a simulated NVMe or ATA drive behind the pass-through seam:
// which methods a disk's identify data offer, the commands and their
// registers, progress and bounds of background sanitizes, and the check
// that no purge is called done while the markers still read back.

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "payload/purgit/purgit/purge.h"

namespace {

struct TSimDrive {
    bool Nvme = true;
    uint64_t Sectors = 1u << 20;
    unsigned SectorBytes = 512;
    // Sectors written since the last erase; the rest reads as Background.
    std::map<uint64_t, std::vector<uint8_t>> Written;
    uint8_t Background = 0x33;
    uint8_t ErasedTo = 0;    // what the purge leaves
    bool Lies = false;       // says success, erases nothing
    uint64_t Spared = ~0ull; // a sector the erase misses
    bool Rejects = false;    // aborts the purge command
    bool WriteFails = false;
    int AnswersLeft = -1; // commands until the drive vanishes (-1 never)
    uint32_t Clock = 0;
    // Sanitize: how long it runs (0: at once; ~0u never ends), when it began.
    uint32_t SanitizeSeconds = 0, SanitizeBegan = 0;
    bool Sanitizing = false, SanitizeDone = false, SanitizeFrozen = false;
    uint32_t Estimate = 0xFFFFFFFFu;
    uint32_t SanitizeCdw10 = 0;       // of the sanitize the log page describes
    uint32_t SanitizeStartsAfter = 0; // the log shows the new one only after this many seconds
    uint32_t EarlierCdw10 = 4;        // what it shows until then: a crypto erase
    // ATA security: word 128, the password set, failure at ERASE UNIT.
    uint16_t Security = 0x0021;
    std::string Password;
    bool EraseUnitAborts = false;
    bool FreezesAtSetPassword = false;
    std::vector<std::string> Commands;
    std::vector<uint32_t> Cdw10;
    std::vector<unsigned> Progress;
    std::vector<uint32_t> Waited;

    void Erase() {
        if (Lies) return;
        std::vector<uint8_t> Keep;
        if (Written.count(Spared)) Keep = Written[Spared];
        Written.clear();
        Background = ErasedTo;
        if (!Keep.empty()) Written[Spared] = Keep;
    }
    bool Gone = false;
    bool Answers() {
        if (AnswersLeft == 0) Gone = true;
        if (Gone) return false;
        if (AnswersLeft > 0) --AnswersLeft;
        return true;
    }
    void Step() {
        if (Sanitizing && SanitizeSeconds != ~0u && Clock - SanitizeBegan >= SanitizeSeconds) {
            Sanitizing = false;
            SanitizeDone = true;
            Erase();
        }
    }
};

TSimDrive* Sim;

std::string Hex(unsigned v) {
    char s[8];
    std::snprintf(s, sizeof s, "%02X", v);
    return s;
}

} // namespace

extern "C" {

int PurgeNvmeAdmin(unsigned, TNvmeAdmin* c) {
    if (!Sim->Answers()) return 1;
    Sim->Commands.push_back(Hex(c->opcode));
    Sim->Cdw10.push_back(c->cdw10);
    c->status = 0;
    if (c->opcode == 0x80) {
        if (Sim->Rejects) return c->status = 0x0002, 0;
        Sim->Clock += 40;
        Sim->Erase();
    } else if (c->opcode == 0x84) {
        if (Sim->Rejects) return c->status = 0x0002, 0;
        Sim->SanitizeCdw10 = c->cdw10;
        Sim->Sanitizing = true;
        Sim->SanitizeBegan = Sim->Clock;
        Sim->Step();
    } else if (c->opcode == 0x02 && Sim->Clock - Sim->SanitizeBegan < Sim->SanitizeStartsAfter &&
               (c->cdw10 & 0xFF) == 0x81) {
        // The log still describes the sanitize before.
        auto* Log = static_cast<uint8_t*>(c->data);
        std::memset(Log, 0, c->length);
        Log[2] = 1;
        std::memcpy(Log + 4, &Sim->EarlierCdw10, 4);
    } else if (c->opcode == 0x02 && (c->cdw10 & 0xFF) == 0x81) {
        auto* Log = static_cast<uint8_t*>(c->data);
        std::memset(Log, 0, c->length);
        unsigned Progress = 0;
        if (Sim->Sanitizing && Sim->SanitizeSeconds != ~0u)
            Progress =
                unsigned(uint64_t(Sim->Clock - Sim->SanitizeBegan) * 65536 / Sim->SanitizeSeconds);
        Log[0] = uint8_t(Progress), Log[1] = uint8_t(Progress >> 8);
        Log[2] = Sim->Sanitizing ? 2 : Sim->SanitizeDone ? 1 : 0;
        std::memcpy(Log + 4, &Sim->SanitizeCdw10, 4);
        for (unsigned at : {8u, 12u, 16u})
            std::memcpy(Log + at, &Sim->Estimate, 4);
    } else {
        c->status = 0x0001; // invalid opcode
    }
    return 0;
}

int PurgeAtaCommand(unsigned, TAtaCommand* c) {
    if (!Sim->Answers()) return 1;
    Sim->Commands.push_back(Hex(c->command) + (c->command == 0xB4 ? "/" + Hex(c->feature) : ""));
    c->status = 0x50;
    auto Abort = [c] {
        c->status = 0x51;
        c->error = 0x04;
        return 0;
    };
    const auto* Block = static_cast<const uint8_t*>(c->data);
    auto Given = [Block] {
        std::string P(reinterpret_cast<const char*>(Block) + 2, 32);
        return P.substr(0, P.find_last_not_of(' ') + 1);
    };
    switch (c->command) {
    case 0xEC: {
        auto* W = static_cast<uint16_t*>(c->data);
        std::memset(W, 0, 512);
        W[128] = Sim->Security;
        return 0;
    }
    case 0xF1:
        if (Sim->FreezesAtSetPassword) Sim->Security |= 8;
        if (Sim->Security & 0x0E) return Abort();
        Sim->Password = Given();
        Sim->Security |= 2;
        return 0;
    case 0xF3:
        return 0;
    case 0xF4:
        if (Sim->EraseUnitAborts || Given() != Sim->Password || !(Sim->Security & 2))
            return Abort();
        if (Block[0] & 2) Sim->Commands.back() += "+enhanced";
        Sim->Clock += 120;
        Sim->Erase();
        Sim->Security &= ~2;
        Sim->Password.clear();
        return 0;
    case 0xF6:
        if (Given() != Sim->Password) return Abort();
        Sim->Security &= ~2;
        Sim->Password.clear();
        return 0;
    case 0xB4:
        if (c->feature == 0) {
            Sim->Step();
            c->countOut =
                uint16_t((Sim->SanitizeDone ? 0x8000 : 0) | (Sim->Sanitizing ? 0x4000 : 0) |
                         (Sim->SanitizeFrozen ? 0x2000 : 0));
            if (Sim->Sanitizing && Sim->SanitizeSeconds != ~0u)
                c->lbaOut =
                    uint64_t(Sim->Clock - Sim->SanitizeBegan) * 65536 / Sim->SanitizeSeconds;
            return 0;
        }
        if (Sim->Rejects || Sim->SanitizeFrozen) return Abort();
        // The keys the command must carry.
        if ((c->feature == 0x12 && c->lba != 0x426B4572u) ||
            (c->feature == 0x11 && c->lba != 0x43727970u) ||
            (c->feature == 0x14 && (c->lba >> 32) != 0x4F57))
            return Abort();
        Sim->Sanitizing = true;
        Sim->SanitizeBegan = Sim->Clock;
        Sim->Step();
        return 0;
    default:
        return Abort();
    }
}

int PurgeSectorRead(unsigned, uint64_t lba, uint8_t* data) {
    if (Sim->Gone) return 1;
    const auto It = Sim->Written.find(lba);
    if (It != Sim->Written.end())
        std::memcpy(data, It->second.data(), Sim->SectorBytes);
    else
        std::memset(data, Sim->Background, Sim->SectorBytes);
    return 0;
}

int PurgeSectorWrite(unsigned, uint64_t lba, const uint8_t* data) {
    if (Sim->Gone || Sim->WriteFails) return 1;
    Sim->Written[lba].assign(data, data + Sim->SectorBytes);
    return 0;
}

uint32_t PurgeClock(void) {
    return Sim->Clock;
}

void PurgeWait(unsigned seconds) {
    Sim->Waited.push_back(seconds);
    Sim->Clock += seconds;
    Sim->Step();
}

void PurgeProgress(unsigned, unsigned permille, uint32_t, uint32_t) {
    Sim->Progress.push_back(permille);
}

} // extern "C"

namespace {

// Identify data as the drives give it: Identify Controller and Namespace
// (4 KB each), IDENTIFY DEVICE (256 words).
struct TNvmeIdentify {
    uint8_t Controller[4096]{}, Space[4096]{};
    TNvmeIdentify(bool Format, uint8_t Fna, uint32_t Sanicap, uint8_t Flbas = 0) {
        Controller[256] = Format ? 0x02 : 0;
        Controller[524] = Fna;
        std::memcpy(Controller + 328, &Sanicap, 4);
        Space[26] = Flbas;
    }
};

TPurgeCaps NvmeCaps(bool Format, uint8_t Fna, uint32_t Sanicap, uint8_t Flbas = 0) {
    TNvmeIdentify Id(Format, Fna, Sanicap, Flbas);
    TPurgeCaps Caps;
    PurgeNvmeCaps(&Caps, Id.Controller, Id.Space, 1);
    return Caps;
}

TPurgeCaps AtaCaps(uint16_t Security, uint16_t Sanitize = 0, uint16_t Word82 = 0x4002,
                   uint16_t Word83 = 0x4000, uint64_t Sectors = 0) {
    uint16_t W[256]{};
    for (int i = 0; i < 4; ++i)
        W[100 + i] = uint16_t(Sectors >> 16 * i);
    W[60] = uint16_t(Sectors > 0x0FFFFFFF ? 0x0FFFFFFF : Sectors);
    W[61] = uint16_t((Sectors > 0x0FFFFFFF ? 0x0FFFFFFF : Sectors) >> 16);
    W[82] = Word82;
    W[83] = Word83;
    W[59] = Sanitize;
    W[89] = 0x0005; // 10 minutes
    W[90] = 0x8010; // extended: 32 minutes
    W[128] = Security;
    TPurgeCaps Caps;
    PurgeAtaCaps(&Caps, W);
    return Caps;
}

const TPurgeCaps& Caps(const TPurgeCaps& C) {
    return C;
}

std::string Text(const TPurgeCaps& Caps) {
    char Line[160];
    PurgeCapsText(Line, sizeof Line, &Caps);
    return Line;
}

class PurgeEngine : public ::testing::Test {
protected:
    TSimDrive Drive;
    TPurgeResult R{};
    void SetUp() override { Sim = &Drive; }
    void Run(const TPurgeCaps& Caps, unsigned Method, uint32_t Seed = 0x1234) {
        PurgeDisk(0, &Caps, Method, Drive.Sectors, Drive.SectorBytes, Seed, &R);
    }
    std::string Said() const { return R.text; }
};

} // namespace

TEST(PurgeMethods, NamesAsSlashMTakesThem) {
    EXPECT_EQ(PurgeMethodNamed("NVMEFMT"), unsigned(PURGE_NVME_FORMAT));
    EXPECT_EQ(PurgeMethodNamed("nvmefmtc"), unsigned(PURGE_NVME_FORMAT_CRYPTO));
    EXPECT_EQ(PurgeMethodNamed("NVMESANB.MET"), unsigned(PURGE_NVME_SAN_BLOCK));
    EXPECT_EQ(PurgeMethodNamed("ATASEE.MET"), unsigned(PURGE_ATA_SEE));
    EXPECT_EQ(PurgeMethodNamed("ATASE"), unsigned(PURGE_ATA_SE));
    EXPECT_EQ(PurgeMethodNamed("NVMEFMTX"), unsigned(PURGE_NONE));
    EXPECT_EQ(PurgeMethodNamed("NVME"), unsigned(PURGE_NONE));
    EXPECT_EQ(PurgeMethodNamed("ZERO.MET"), unsigned(PURGE_NONE));
    EXPECT_EQ(PurgeMethodNamed("ATASE.METX"), unsigned(PURGE_NONE));
}

TEST(PurgeMethods, BoundIsHoursAndGrowsWithTheDiskOrTheDrivesEstimate) {
    EXPECT_EQ(PurgeBound(16384, 512, 0), 7200u);
    EXPECT_EQ(PurgeBound(2000000000000ull / 512, 512, 0), 7200u + 4 * 3600);
    EXPECT_EQ(PurgeBound(16384, 512, 10000), 30000u);
    EXPECT_EQ(PurgeBound(16384, 512, 0xFFFFFFFFu), 7200u); // no estimate
}

TEST(PurgeCaps, NvmeFromIdentify) {
    // QEMU's controller: Format NVM, no Sanitize.
    auto Caps = NvmeCaps(true, 0, 0);
    EXPECT_EQ(Caps.offers, 1u << PURGE_NVME_FORMAT);
    EXPECT_EQ(Text(Caps), "NVMe: Format (user data); no Sanitize");
    Caps = NvmeCaps(true, 0x05, 0x7);
    EXPECT_EQ(Caps.offers, 1u << PURGE_NVME_FORMAT | 1u << PURGE_NVME_FORMAT_CRYPTO |
                               1u << PURGE_NVME_SAN_BLOCK | 1u << PURGE_NVME_SAN_CRYPTO |
                               1u << PURGE_NVME_SAN_OVERWRITE);
    EXPECT_EQ(Text(Caps),
              "NVMe: Format (user data, crypto) of all namespaces; Sanitize (block, crypto, "
              "overwrite)");
    Caps = NvmeCaps(false, 0, 0x2);
    EXPECT_EQ(Caps.offers, 1u << PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(Text(Caps), "NVMe: no Format; Sanitize (block)");
}

TEST(PurgeCaps, HostProtectedAreaIsReportedOnly) {
    // 48-bit: words 100-103; READ NATIVE MAX ADDRESS EXT says 2048 more.
    auto Caps = AtaCaps(0, 0, 0x4400, 0x4400, 5000000000ull);
    EXPECT_EQ(Caps.userSectors, 5000000000ull);
    Caps.nativeSectors = 5000000000ull + 2048;
    EXPECT_EQ(Text(Caps), "ATA: no Security Erase; no Sanitize; HPA hides 2048 sectors");
    Caps.nativeSectors = 5000000000ull;
    EXPECT_EQ(Text(Caps), "ATA: no Security Erase; no Sanitize; no HPA set");
    // 28-bit: words 60-61.
    Caps = AtaCaps(0, 0, 0x4400, 0x4000, 1000000);
    EXPECT_EQ(Caps.userSectors, 1000000u);
    EXPECT_EQ(Caps.offers, 0u);
}

TEST(PurgeCaps, WhatReachesEveryNamespaceOfTheController) {
    EXPECT_FALSE(PurgeWholeController(&Caps(NvmeCaps(true, 0, 7)), PURGE_NVME_FORMAT));
    EXPECT_TRUE(PurgeWholeController(&Caps(NvmeCaps(true, 1, 7)), PURGE_NVME_FORMAT));
    EXPECT_TRUE(PurgeWholeController(&Caps(NvmeCaps(true, 2, 7)), PURGE_NVME_FORMAT_CRYPTO));
    EXPECT_TRUE(PurgeWholeController(&Caps(NvmeCaps(true, 0, 7)), PURGE_NVME_SAN_BLOCK));
    EXPECT_FALSE(PurgeWholeController(&Caps(AtaCaps(0, 0xF000)), PURGE_ATA_SAN_BLOCK));
}

TEST(PurgeCaps, AtaSecurityAndSanitizeFromIdentify) {
    auto Caps = AtaCaps(0x0021, 0xF000, 0x4402, 0x4800);
    EXPECT_EQ(Caps.offers, 1u << PURGE_ATA_SE | 1u << PURGE_ATA_SEE | 1u << PURGE_ATA_SAN_BLOCK |
                               1u << PURGE_ATA_SAN_CRYPTO | 1u << PURGE_ATA_SAN_OVERWRITE);
    EXPECT_EQ(Caps.eraseMinutes, 10);
    EXPECT_EQ(Caps.enhancedMinutes, 32);
    EXPECT_EQ(Text(Caps), "ATA: Security Erase (enhanced too); Sanitize (block, crypto, "
                          "overwrite); HPA feature set; DCO feature set");
    // Frozen by the firmware: nothing of the security set is offered.
    Caps = AtaCaps(0x0029, 0x9000);
    EXPECT_EQ(Caps.offers, 1u << PURGE_ATA_SAN_BLOCK);
    EXPECT_EQ(Text(Caps), "ATA: Security Erase (enhanced too), frozen; Sanitize (block)");
    Caps = AtaCaps(0x0003, 0);
    EXPECT_EQ(Caps.offers, 0u);
    EXPECT_EQ(Text(Caps), "ATA: Security Erase, password set; no Sanitize");
    // Word 59's method bits without the feature set bit mean nothing.
    Caps = AtaCaps(0, 0xE000, 0x4000);
    EXPECT_EQ(Caps.offers, 0u);
    EXPECT_EQ(Text(Caps), "ATA: no Security Erase; no Sanitize");
}

TEST_F(PurgeEngine, NvmeFormatIsCheckedAndKeepsTheNamespaceFormat) {
    Run(NvmeCaps(true, 0, 0, 0x12), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_EQ(Said(), "checked: 8 marker sectors written before, none reads back");
    ASSERT_EQ(Drive.Commands, std::vector<std::string>{"80"});
    // LBA format 2, metadata at the end of the LBA (MSET), SES 1.
    EXPECT_EQ(Drive.Cdw10[0], 0x2u | 1u << 4 | 1u << 9);
    EXPECT_EQ(R.marks, 8u);
    EXPECT_EQ(R.seconds, 40u);
}

TEST_F(PurgeEngine, NvmeCryptoFormatAsksForSes2) {
    Run(NvmeCaps(true, 4, 0), PURGE_NVME_FORMAT_CRYPTO);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    ASSERT_EQ(Drive.Cdw10.size(), 1u);
    EXPECT_EQ(Drive.Cdw10[0], 2u << 9);
}

TEST_F(PurgeEngine, SuccessWithTheDataStillThereFails) {
    Drive.Lies = true;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_CHECK_FAILED);
    EXPECT_EQ(R.survived, 8u);
    EXPECT_NE(Said().find("FAILED: the drive reported success, but the marker at sector 0 reads "
                          "back (8 of 8 markers)"),
              std::string::npos)
        << Said();
}

TEST_F(PurgeEngine, OneSectorSpared) {
    Drive.Spared = Drive.Sectors - 1;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_CHECK_FAILED);
    EXPECT_EQ(R.survived, 1u);
    EXPECT_EQ(R.survivor, Drive.Sectors - 1);
}

TEST_F(PurgeEngine, OverwriteThatLeavesOnesFailsTheZerosCheck) {
    Drive.ErasedTo = 0xFF;
    Run(NvmeCaps(false, 0, 4), PURGE_NVME_SAN_OVERWRITE);
    EXPECT_EQ(R.outcome, PURGE_CHECK_FAILED);
    EXPECT_NE(Said().find("8 of 8 sampled sectors do not read zeros"), std::string::npos) << Said();
    // A block erase may leave ones.
    Drive = TSimDrive();
    Drive.ErasedTo = 0xFF;
    Run(NvmeCaps(false, 0, 2), PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
}

TEST_F(PurgeEngine, LongSanitizeReportsProgressWithinItsBound) {
    Drive.Sectors = 4000000000000ull / 512; // 4 TB
    Drive.SanitizeSeconds = 3 * 3600;
    Drive.Estimate = 4 * 3600;
    Run(NvmeCaps(false, 0, 2), PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_EQ(R.bound, 12u * 3600); // three times the drive's estimate, over 2 h + 8 x 1 h
    EXPECT_GE(R.seconds, 3u * 3600);
    EXPECT_LT(R.seconds, 3u * 3600 + 60);
    // Sanitize, then its log page until done; the action is block erase.
    EXPECT_EQ(Drive.Cdw10[1] & 7, 2u);
    ASSERT_GT(Drive.Progress.size(), 100u);
    EXPECT_EQ(Drive.Progress.back(), 1000u);
    for (size_t i = 1; i + 1 < Drive.Progress.size(); ++i)
        EXPECT_GE(Drive.Progress[i], Drive.Progress[i - 1]);
    EXPECT_GT(Drive.Progress[Drive.Progress.size() / 2], 400u);
    EXPECT_LT(Drive.Progress[Drive.Progress.size() / 2], 600u);
}

TEST_F(PurgeEngine, AnEarlierSanitizesSuccessInTheLogIsNotTakenForThisOne) {
    Drive.SanitizeSeconds = 600;
    Drive.SanitizeStartsAfter = 30;
    Drive.SanitizeDone = true; // a crypto erase long ago
    Run(NvmeCaps(false, 0, 3), PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_GE(R.seconds, 600u);
}

TEST_F(PurgeEngine, SanitizeThatNeverEndsTimesOutWithoutAClaim) {
    Drive.SanitizeSeconds = ~0u;
    Run(NvmeCaps(false, 0, 1), PURGE_NVME_SAN_CRYPTO);
    EXPECT_EQ(R.outcome, PURGE_TIMED_OUT);
    EXPECT_EQ(R.bound, 7200u);
    EXPECT_GE(R.seconds, 7200u);
    EXPECT_LT(R.seconds, 7200u + 60);
    EXPECT_NE(Said().find("no end within 120 minutes"), std::string::npos) << Said();
}

TEST_F(PurgeEngine, DriveVanishesMidSanitize) {
    Drive.SanitizeSeconds = 3600;
    Drive.AnswersLeft = 40;
    Run(NvmeCaps(false, 0, 2), PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_VANISHED);
    EXPECT_NE(Said().find("no longer answers"), std::string::npos) << Said();
    // Also in the middle of a synchronous Format.
    Drive = TSimDrive();
    Drive.AnswersLeft = 0;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_VANISHED) << Said();
    EXPECT_NE(Said().find("(Format NVM)"), std::string::npos) << Said();
}

TEST_F(PurgeEngine, DriveRejectsTheCommand) {
    Drive.Rejects = true;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_REFUSED);
    EXPECT_EQ(R.status, 0x0002);
    EXPECT_NE(Said().find("rejected Format NVM (status 0002h)"), std::string::npos) << Said();
    Drive = TSimDrive();
    Drive.Nvme = false;
    Drive.Rejects = true;
    Run(AtaCaps(0, 0x9000), PURGE_ATA_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_REFUSED);
    EXPECT_EQ(R.status, 0x5104);
}

TEST_F(PurgeEngine, MethodTheDiskDoesNotOfferIsNotTried) {
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_SAN_BLOCK);
    EXPECT_EQ(R.outcome, PURGE_UNSUPPORTED);
    EXPECT_EQ(Said(), "not supported by this disk; nothing was erased");
    EXPECT_TRUE(Drive.Commands.empty());
    EXPECT_TRUE(Drive.Written.empty()); // not even the markers
    Run(NvmeCaps(true, 0, 0), PURGE_ATA_SE);
    EXPECT_EQ(R.outcome, PURGE_UNSUPPORTED);
    Run(AtaCaps(0x0001), PURGE_ATA_SEE); // no enhanced erase
    EXPECT_EQ(R.outcome, PURGE_UNSUPPORTED);
    EXPECT_TRUE(Drive.Commands.empty());
}

TEST_F(PurgeEngine, MarkersThatCannotBeWrittenStopBeforeThePurge) {
    Drive.WriteFails = true;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_MARKS_FAILED);
    EXPECT_TRUE(Drive.Commands.empty());
}

TEST_F(PurgeEngine, AtaSecurityEraseSetsAPasswordThatTheDriveClears) {
    Drive.Nvme = false;
    Run(AtaCaps(0x0021), PURGE_ATA_SEE);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_EQ(Drive.Commands, (std::vector<std::string>{"F1", "F3", "F4+enhanced", "EC"}));
    EXPECT_EQ(Drive.Security & 2, 0);
    EXPECT_EQ(R.bound, 7200u); // 32 minutes' estimate is less than two hours
}

TEST_F(PurgeEngine, AtaSecurityEraseAbortTakesThePasswordOffAgain) {
    Drive.Nvme = false;
    Drive.EraseUnitAborts = true;
    Run(AtaCaps(0x0021), PURGE_ATA_SE);
    EXPECT_EQ(R.outcome, PURGE_REFUSED);
    EXPECT_EQ(Drive.Commands, (std::vector<std::string>{"F1", "F3", "F4", "F6"}));
    EXPECT_EQ(Drive.Security & 2, 0);
    EXPECT_NE(Said().find("temporary password was taken off again"), std::string::npos) << Said();
    EXPECT_NE(Drive.Written.size(), 0u); // the markers are still there
}

TEST_F(PurgeEngine, FrozenSecurityIsNotRetriedAndSaysWhatHelps) {
    Drive.Nvme = false;
    Drive.Security = 0x0029;
    Run(AtaCaps(0x0029), PURGE_ATA_SE);
    EXPECT_EQ(R.outcome, PURGE_FROZEN);
    EXPECT_NE(Said().find("suspend and resume the machine or re-plug the drive"),
              std::string::npos);
    EXPECT_NE(Said().find("overwrite method"), std::string::npos);
    EXPECT_TRUE(Drive.Commands.empty());
    // Frozen after the identify data were read: SET PASSWORD aborts.
    Drive = TSimDrive();
    Drive.Nvme = false;
    Drive.FreezesAtSetPassword = true;
    Run(AtaCaps(0x0021), PURGE_ATA_SE);
    EXPECT_EQ(R.outcome, PURGE_FROZEN) << Said();
    EXPECT_EQ(Drive.Commands, (std::vector<std::string>{"F1", "EC"}));
    // A frozen sanitize.
    Drive = TSimDrive();
    Drive.Nvme = false;
    Drive.SanitizeFrozen = true;
    Run(AtaCaps(0, 0xD000), PURGE_ATA_SAN_OVERWRITE);
    EXPECT_EQ(R.outcome, PURGE_FROZEN) << Said();
    // Locked by a password someone else set.
    Run(AtaCaps(0x0023), PURGE_ATA_SE);
    EXPECT_EQ(R.outcome, PURGE_LOCKED);
}

TEST_F(PurgeEngine, AtaSanitizeOverwriteLeavesZerosWithProgress) {
    Drive.Nvme = false;
    Drive.SanitizeSeconds = 600;
    Run(AtaCaps(0, 0x5000), PURGE_ATA_SAN_OVERWRITE);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_EQ(Said(), "checked: 8 marker sectors written before, none reads back, all read zeros");
    EXPECT_EQ(R.zeros, 8u);
    EXPECT_EQ(Drive.Commands.front(), "B4/14");
    EXPECT_GT(Drive.Progress.size(), 100u);
}

TEST_F(PurgeEngine, AtaSanitizeDriveVanishes) {
    Drive.Nvme = false;
    Drive.SanitizeSeconds = 600;
    Drive.AnswersLeft = 20;
    Run(AtaCaps(0, 0x3000), PURGE_ATA_SAN_CRYPTO);
    EXPECT_EQ(R.outcome, PURGE_VANISHED);
    EXPECT_EQ(Drive.Commands.front(), "B4/11");
}

TEST_F(PurgeEngine, FourKilobyteSectorsAndASmallDisk) {
    Drive.SectorBytes = 4096;
    Drive.Sectors = 5;
    Run(NvmeCaps(true, 0, 0), PURGE_NVME_FORMAT);
    EXPECT_EQ(R.outcome, PURGE_CHECKED) << Said();
    EXPECT_EQ(R.marks, 5u); // sectors 0 to 4, each once
}
