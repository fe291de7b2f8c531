#pragma once
// The one seam to the operating system. The parts (image/, floppy/, disk/,
// optical/) reach Windows, or the POSIX layer standing in for it, only through
// the installed TPlatform. The real backend lives in platform/win32 or
// platform/posix; tests install the simulated machine of tests/fakes.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/Stream.h"

// (platform id, major, minor) of the running system: platform id 1 is the
// Windows 9x family, 2 the NT family.
struct TWindowsVersion {
    uint32_t PlatformId = 0;
    uint32_t Major = 0;
    uint32_t Minor = 0;
    friend bool operator==(const TWindowsVersion&, const TWindowsVersion&) = default;
};

// A calendar moment as the wall clock shows it.
struct TSystemTime {
    int Year = 1980, Month = 1, Day = 1;
    int Hour = 0, Minute = 0, Second = 0;
};

// The UTC calendar moment of Seconds since 1970 (proleptic Gregorian),
// without the C library's time zone state.
TSystemTime UtcTime(int64_t Seconds);

// A value read from the registry: a 32-bit number, or a value of another type.
struct TRegistryValue {
    bool IsDword = false;
    uint32_t Dword = 0;
};

// An open key under HKEY_CURRENT_USER.
class TRegistryKey {
public:
    virtual ~TRegistryKey() = default;
    // Empty when the value does not exist.
    virtual std::optional<TRegistryValue> Read(std::string_view Name) = 0;
    virtual bool WriteDword(std::string_view Name, uint32_t Value) = 0;
};

// A device opened by name ("\\.\A:", "\\.\vwin32", "\\.\E:"), held for
// one operation: raw transfers at a byte offset and control requests whose
// in and out buffers are the bytes Windows would see. Every call answers
// whether it succeeded; the reason is then the platform's LastError().
class TDeviceHandle {
public:
    virtual ~TDeviceHandle() = default;
    // Moves to Offset bytes from the start of the device.
    virtual bool Seek(uint64_t Offset) = 0;
    virtual bool Read(std::span<uint8_t> Buffer, uint32_t& Done) = 0;
    virtual bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) = 0;
    // DeviceIoControl with no overlapped structure.
    virtual bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                         uint32_t& Returned) = 0;
    // A control request that points at a caller's buffer (a direct SCSI
    // pass-through): Windows reaches Data through the address inside the
    // request, a backend that cannot (64-bit addresses) through Data itself.
    virtual bool ControlDirect(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                               std::span<uint8_t> /*Data*/, uint32_t& Returned) {
        return Control(Code, In, Out, Returned);
    }
    // Everything written reaches the device (FlushFileBuffers).
    virtual bool Flush() { return true; }
};

// What opening a device asks for.
struct TDeviceAccess {
    bool Read = true;
    bool Write = false;
    bool ShareRead = true;
    bool ShareWrite = true;
    bool WriteThrough = false;
};

// Windows drive type codes (GetDriveType).
enum TDriveType : uint32_t {
    DriveUnknown = 0,
    DriveNoRootDir = 1,
    DriveRemovable = 2,
    DriveFixed = 3,
    DriveRemote = 4,
    DriveCdRom = 5,
    DriveRamDisk = 6,
};

// GetDiskFreeSpace of a drive's root.
struct TDiskFreeSpace {
    uint32_t ClusterSectors = 0;
    uint32_t SectorBytes = 0;
    uint32_t FreeClusters = 0;
    uint32_t ClusterCount = 0;
};

// A child process whose standard input, output and error are pipes.
class TChildProcess {
public:
    virtual ~TChildProcess() = default;
    // What the child has written so far and not yet taken; never blocks.
    virtual std::string ReadAvailable() = 0;
    virtual bool WriteInput(std::string_view Text) = 0;
    // The child has ended; ExitCode is then its code.
    virtual bool Finished() = 0;
    virtual uint32_t ExitCode() = 0;
};

// A whole disk as the stick targets see it.
struct TStickDevice {
    std::string Node;   // what opens it: /dev/sdb, \\.\PhysicalDrive2, an image file's path
    std::string Vendor; // trimmed; may be empty
    std::string Model;  // trimmed; may be empty
    uint64_t Bytes = 0;
    uint32_t SectorBytes = 512;
    bool Removable = false;  // the system calls its medium removable
    bool Usb = false;        // attached through USB
    bool SystemDisk = false; // holds the running system
    bool ReadOnly = false;   // the medium refuses writes (a locked switch)
    bool ImageFile = false;  // an image file standing for a disk
    // Where file systems on it are mounted now: mount points on Linux,
    // drive letters ("E:") on Windows.
    std::vector<std::string> MountPoints;
};

// A whole disk, or an image file standing for one, open for a stick's
// writes. Every call answers whether it succeeded; the platform's
// LastError() then says why.
class TDiskHandle {
public:
    virtual ~TDiskHandle() = default;
    virtual uint64_t Bytes() const = 0;
    virtual bool WriteAt(uint64_t Offset, std::span<const uint8_t> Data) = 0;
    virtual bool ReadAt(uint64_t Offset, std::span<uint8_t> Data) = 0;
    // Everything written reaches the medium (fsync, FlushFileBuffers), and
    // reads after it come from the medium, not from the system's cache.
    virtual bool Flush() = 0;
    // After the last write: the system reads the new partition table again
    // (BLKRRPART, IOCTL_DISK_UPDATE_PROPERTIES). Image files do nothing.
    virtual bool Refresh() = 0;
};

class TAspiLibrary;
class TEvent;

class TPlatform {
public:
    virtual ~TPlatform() = default;

    virtual TWindowsVersion Version() = 0;

    // The wall clock in local time.
    virtual TSystemTime LocalTime() = 0;

    // A resource of the program's own module; type and name compare without
    // regard to case. Empty when there is no such resource. The bytes live as
    // long as the program.
    virtual std::optional<std::span<const uint8_t>> OwnResource(std::string_view Type,
                                                                std::string_view Name) = 0;

    // A resource of a loaded library, copied out; empty when the library or the
    // resource cannot be had. Name "#1" means resource number 1.
    virtual std::optional<std::string> LibraryResource(std::string_view Library,
                                                       std::string_view Type,
                                                       std::string_view Name) = 0;

    // An environment variable; empty when it is not set.
    virtual std::optional<std::string> EnvironmentVariable(std::string_view Name) = 0;

    // The Windows directory, without a trailing separator.
    virtual std::string WindowsDirectory() = 0;

    virtual bool FileExists(std::string_view Path) = 0;

    // Opens an existing file for reading; null when it cannot be opened.
    virtual std::unique_ptr<TStream> OpenFileRead(std::string_view Path) = 0;

    // Creates or truncates a file for writing; null when it cannot be created.
    virtual std::unique_ptr<TStream> CreateFileWrite(std::string_view Path) = 0;

    // A key under HKEY_CURRENT_USER ("Software\\..."); with Create, the key
    // and any missing parents are made. Null when it cannot be opened.
    virtual std::unique_ptr<TRegistryKey> OpenRegistryKey(std::string_view Path, bool Create) = 0;

    // --- devices and drives. A backend without a facility answers as a
    // machine without it: nothing opens, no drive exists.

    // Opens a device by name ("\\.\A:", "\\.\vwin32"); null when it cannot
    // be opened (LastError says why).
    virtual std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name, const TDeviceAccess& Access);
    // The error code of the last call that failed (GetLastError).
    virtual uint32_t LastError() { return LastErrorCode; }
    // The system's text for an error code.
    virtual std::string ErrorText(uint32_t Code);
    // Drive type of Letter's root (Letter + ":\\").
    virtual TDriveType DriveType(char Letter);
    // False when the drive's free space cannot be read.
    virtual bool DiskFreeSpace(char Letter, TDiskFreeSpace& Space);
    // Bit 0 for A:, bit 1 for B:, ...
    virtual uint32_t LogicalDrives();
    // QueryDosDevice of a drive name ("E:"): the target names it maps to
    // (not named after the call: windows.h makes that name a macro);
    // empty when there is none.
    virtual std::vector<std::string> DosDeviceTargets(std::string_view DeviceName);

    // --- replacing files whole. An output is written under a temporary name
    // and moved over the chosen one only when complete, so nothing the user
    // had is lost on a failure. A backend without them answers false.

    // Deletes a file; false when it could not be deleted (or did not exist).
    virtual bool RemoveFile(std::string_view Path);
    // Moves From over To, replacing an existing To (MoveFileEx with
    // MOVEFILE_REPLACE_EXISTING); false when it could not be moved.
    virtual bool MoveFileOver(std::string_view From, std::string_view To);
    // True when Path is an existing file that may not be written (a
    // read-only file, or one the user lacks the right to change).
    virtual bool FileReadOnly(std::string_view Path);
    // True when Folder ("" for the current one) exists and a file may be
    // created in it.
    virtual bool FolderWritable(std::string_view Folder);

    // --- floppies: folders, a format command run as a child process, and
    // drives that stand for a host's device node or image file.

    // Makes one folder (its parent must exist); true when it exists after.
    virtual bool CreateFolder(std::string_view Path);
    // Starts CommandLine with standard input, output and error on pipes;
    // null when it cannot be started (LastError says why).
    virtual std::unique_ptr<TChildProcess> StartProcess(std::string_view CommandLine);
    // Lets the caller wait between polls of a child without spinning a core.
    virtual void Sleep(uint32_t Milliseconds);
    // Layers without drives of their own: drive Letter stands for the host's
    // device node or 1.44 MB image file Path from now on; raw writes go to
    // it and Letter + ":\..." files are served by the FAT12 code on it.
    // False (with Problem) where it cannot be opened or is not 1.44 MB, and
    // where the system has real drive letters.
    virtual bool AttachFloppy(char Letter, std::string_view Path, std::string& Problem);
    // The first sector where the attached floppy now reads back differently
    // from everything written to it since it was attached; -1 when it reads
    // back as written, -2 when it cannot be read back or nothing is attached.
    virtual int64_t FloppyMismatch(char Letter);

    // --- USB sticks: whole disks that take a boot stick, and image files
    // that stand for one. A backend without them lists none and opens
    // nothing (Problem says so).

    // The whole disks a stick may be written to: every disk attached
    // through USB or marked removable, never the system's own disk.
    virtual std::vector<TStickDevice> StickDevices();
    // Any whole disk named by Node ("/dev/sdb", "PhysicalDrive2", "E:"),
    // described for the question before writing and for the checks; empty
    // with Problem when there is no such disk.
    virtual std::optional<TStickDevice> DescribeStick(std::string_view Node, std::string& Problem);
    // Opens Device for writing its whole surface: exclusively, every volume
    // on it locked and dismounted first. Null with Problem (naming the
    // device) when it cannot be had. The system disk, a read-only disk, a
    // disk with file systems mounted where the system cannot dismount them
    // for the write (Linux), and (unless AnyDisk) a disk that is neither
    // removable nor USB are refused here too, whatever the caller checked.
    virtual std::unique_ptr<TDiskHandle> OpenStick(const TStickDevice& Device, bool AnyDisk,
                                                   std::string& Problem);
    // Opens the image file Path read-write, creating it sparse at
    // CreateBytes when it does not exist; null with Problem otherwise.
    virtual std::unique_ptr<TDiskHandle> OpenDiskImage(std::string_view Path, uint64_t CreateBytes,
                                                       std::string& Problem);

    // --- CD/DVD writers: the ASPI library, the events its requests signal,
    // and a clock for bounding the waits on drives.

    // Milliseconds from an arbitrary start, never going back (GetTickCount).
    virtual uint64_t TickCount();
    // The entry points of "wnaspi32.dll", loaded once; substitutes that answer
    // 0 when the library or an entry point is missing.
    virtual TAspiLibrary& AspiLibrary();
    // A manual-reset event, not signalled.
    virtual std::unique_ptr<TEvent> CreateManualEvent();

    // --- the wizard's shell services. A backend without a shell beeps
    // nowhere, opens nothing and answers every dialog as cancelled.

    // The standard system beep.
    virtual void Beep() {}
    // The shell's "open" on a file (a page, a shortcut, a text), maximised;
    // false when the shell refused.
    virtual bool ShellOpen(std::string_view /*Path*/) { return false; }
    // The common save dialog: the chosen path, or empty when cancelled.
    virtual std::optional<std::string> SaveFileDialog(std::string_view /*DefaultName*/,
                                                      std::string_view /*DefaultExtension*/,
                                                      std::string_view /*Filter*/) {
        return std::nullopt;
    }
    // The shell's folder tree rooted at My Computer: the chosen folder's
    // path, or empty when cancelled or when it is no file-system folder.
    virtual std::optional<std::string> BrowseForFolder(std::string_view /*Title*/) {
        return std::nullopt;
    }
    // The folder of the running program, without a trailing separator.
    virtual std::string ProgramFolder() { return "."; }

protected:
    uint32_t LastErrorCode = 0;
};

// A manual-reset event that an ASPI request signals when it completes.
class TEvent {
public:
    static constexpr uint32_t Infinite = 0xFFFFFFFF;
    virtual ~TEvent() = default;
    virtual void Reset() = 0;
    // True when the event is signalled within Milliseconds.
    virtual bool Wait(uint32_t Milliseconds) = 0;
    // The handle as a request block carries it (32 bits).
    virtual uint32_t Handle() = 0;
};

// "GetASPI32SupportInfo" and "SendASPI32Command". Block is a request block
// laid out as the library defines it; Data is the buffer whose address the
// block carries (the real library reads the address, a simulated one may use
// Data). Both answer the library's 32-bit value.
class TAspiLibrary {
public:
    virtual ~TAspiLibrary() = default;
    virtual uint32_t GetASPI32SupportInfo() { return 0; }
    virtual uint32_t SendASPI32Command(std::span<uint8_t> /*Block*/, std::span<uint8_t> /*Data*/) {
        return 0;
    }
};

// The installed platform: the native backend unless a test installed another.
TPlatform& Platform();

// Installs Replacement (null restores the native backend); returns the one it
// replaced. The caller keeps ownership.
TPlatform* InstallPlatform(TPlatform* Replacement);

// The real backend of this build.
TPlatform& NativePlatform();
