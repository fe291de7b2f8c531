#pragma once
// Set-up shared by the wiper's QEMU tests: the Rx-DOS boot floppy with the
// Purgit tree as the floppy target lays it out, scratch disks, and a second
// QEMU monitor that a test talks to while the guest runs. Native builds only.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "QemuSupport.h"
#include "TestSupport.h"

namespace testing_support {

// The built payload: rxdos/BOOT.IMG, purgit/Purgit, the containers.
std::filesystem::path PayloadDir();

// Runs a shell command; anything but exit code 0 fails the test.
void RunOrFail(const std::string& Command);

// The Rx-DOS floppy with the Purgit tree, AUTOEXEC.BAT and extra files
// (path on the image -> host file), written with mtools, an independent FAT
// writer. Missing folders of the extra files are made.
std::string MakeWiperFloppy(const TScratchDir& Dir, const std::string& Autoexec,
                            const std::vector<std::pair<std::string, std::filesystem::path>>&
                                Extra = {});

// The same with the wiper's INI for Flags ("100100100001": O1..O11 and "no
// mouse", as the creator stores them) and the creator's start-up batch,
// which loads the mouse driver unless the twelfth flag says no mouse and
// ends in BatchTail ("Purgit /M:ZERO /D:1\r\n").
std::string MakeConfiguredWiperFloppy(const TScratchDir& Dir, const std::string& Flags,
                                      const std::string& BatchTail);

// A sparse raw disk image of Bytes bytes (reads as zeros).
std::string MakeSparseDisk(const TScratchDir& Dir, const std::string& Name, uint64_t Bytes);

// A disk of Sectors sectors whose every sector holds other bytes than any
// pass writes.
std::string MakeScratchDisk(const TScratchDir& Dir, const std::string& Name, size_t Sectors);

int CountOf(const std::string& Text, const std::string& Part);
bool AllBytes(const std::vector<uint8_t>& Bytes, uint8_t Value);

// Sectors of Bytes (512 bytes each, little-endian words) whose words from
// the fifth on do not each follow from the four before by xorshift128's
// step (Marsaglia 2003): 0 for data the fast generator wrote.
size_t SectorsNotXorshift128(const std::vector<uint8_t>& Bytes);

// Sectors of Bytes that differ from ISAAC's stream (Jenkins 1996, results
// in the order it makes them), or from its complement, for the seed of the
// first /TRACE line "SEED <32 hex digits>", spread over ISAAC's seed array
// as the wiper does: 0 for a disk ISAAC wrote; every sector when Trace
// names no seed.
size_t SectorsNotIsaac(const std::vector<uint8_t>& Bytes, const std::string& Trace,
                       bool Complemented);

// A method file put into PURGIT\METHODS of a FAT image (an mtools image,
// "file@@offset" for a partition).
void PutMethodFile(const TScratchDir& Dir, const std::string& Image, const std::string& Name,
                   const std::string& Text);

struct TWipeRun {
    TQemuResult Qemu;
    std::string Trace; // the wiper's lines on port E9h
};

// Boots Floppy (writable, so the report can land on it; none when empty:
// a disk among Drives boots) with Drives (QEMU arguments, see IdeDrive) and
// Extra arguments, and collects the wiper's trace from the debug console
// port.
TWipeRun RunWiper(const TScratchDir& Dir, const std::string& Floppy, const std::string& Drives,
                  const std::string& WaitFor, int Timeout = 90, const std::string& Extra = "");

// The screen line that starts with Start (after leading blanks), or "".
std::string LineStarting(const std::string& Screen, const std::string& Start);

// A raw image as IDE disk Index.
std::string IdeDrive(const std::string& Image, int Index = 0);

// A file of a FAT image read with mtype; Image may carry mtools' "@@offset".
std::string ReadLog(const std::string& Image, const std::string& Name = "PURG0001.LOG");

// fsck.fat -n finds nothing to mend.
void ExpectFloppyClean(const std::string& Image);

// QEMU's SMBIOS system information for a wiper run (RunWiper's Extra), and
// the [machine] lines its erase record must hold.
extern const std::string TestSmbios;
extern const std::vector<std::string> TestMachineLines;

// purgex report with Arguments (records, folders, images; --pdf ...).
TCommandResult PurgexReport(const std::string& Arguments);

// purgex report on Image (the wiper's floppy, a FAT image) accepts every
// record there and shows a row per disk; each of Results (one per row, in
// order: "erased", "stopped: stopped by the user", ...) must be a row's
// result, and each record on the image must hold TestMachineLines when
// Machine is set. Answers the table.
std::string ExpectRecordsReport(const std::string& Image, const std::vector<std::string>& Results,
                                bool Machine = true);

// A primary partition of a test disk.
struct TPartition {
    uint64_t Start = 0, Sectors = 0;
    std::string Type;   // sfdisk's hex type: "1" FAT12, "6" FAT16, "c" FAT32, "83" other
    std::string Format; // mkfs.fat's -F: "12", "16", "32"; empty: left unformatted
};

// A sparse disk of Sectors sectors with a DOS partition table (sfdisk),
// each partition formatted by mkfs.fat with its start as hidden sectors.
std::string MakePartitionedDisk(const TScratchDir& Dir, const std::string& Name, uint64_t Sectors,
                                const std::vector<TPartition>& Partitions);

// mtools' name for a partition's file system inside a disk image.
std::string PartitionImage(const std::string& Image, const TPartition& Partition);

// fsck.fat -n finds nothing to mend in a copy of the partition.
void ExpectPartitionClean(const TScratchDir& Dir, const std::string& Image,
                          const TPartition& Partition);

// A file as text; "" while it does not exist.
std::string ReadTextIfAny(const std::filesystem::path& File);

// QEMU's argument for a second monitor on a Unix socket.
std::string MonitorArgument(const std::string& SocketPath);

// Talks to that monitor from a thread of its own while QEMU runs: every
// Interval, once connected, it asks Next what to send ("" for nothing this
// time, nothing at all to stop) and sends it, connecting again while QEMU
// has not opened the socket yet or has closed it.
class TMonitorFeeder {
public:
    using TNext = std::function<std::optional<std::string>()>;
    TMonitorFeeder(std::string SocketPath, std::chrono::milliseconds Interval, TNext Next);
    ~TMonitorFeeder() { Finish(); }
    TMonitorFeeder(const TMonitorFeeder&) = delete;
    TMonitorFeeder& operator=(const TMonitorFeeder&) = delete;
    // Stops the thread; what Next gathered is then safe to read.
    void Finish();

private:
    void Feed();

    std::string Path;
    std::chrono::milliseconds Interval;
    TNext Next;
    std::atomic<bool> Stop{false};
    std::thread Worker;
};

} // namespace testing_support
