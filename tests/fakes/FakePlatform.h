#pragma once
// A simulated machine for tests: any version triple, resources and files
// held in memory. Installed for the lifetime of the object.

#include <functional>

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

class TFakeFloppyDrive;
class TFakeDiskMachine;

class TFakePlatform : public TPlatform {
public:
    TFakePlatform() { Previous = InstallPlatform(this); }
    ~TFakePlatform() override { InstallPlatform(Previous); }
    TFakePlatform(const TFakePlatform&) = delete;
    TFakePlatform& operator=(const TFakePlatform&) = delete;

    TWindowsVersion WindowsVersion{2, 5, 1};
    TSystemTime Clock{2005, 6, 15, 13, 45, 30};
    std::map<std::string, std::vector<uint8_t>> Resources;              // "TYPE/NAME", upper case
    std::map<std::string, std::string> LibraryResources;                // "LIB/TYPE/NAME", upper case
    std::map<std::string, std::string> Environment;
    std::string WindowsDir = "C:\\WINDOWS";
    std::map<std::string, std::string> Files;                           // path, upper case -> bytes
    // Registry keys (upper case) and their values (names upper case).
    std::map<std::string, std::map<std::string, TRegistryValue>> Registry;
    bool RegistryBroken = false; // no key can be opened or created
    // Files and folders (upper case, folders without a trailing separator,
    // "" for the current one).
    std::set<std::string> ReadOnlyFiles;
    std::set<std::string> MissingFolders;
    std::set<std::string> ReadOnlyFolders;
    // Bytes a file opened for writing takes before the disk is full; -1 for
    // no limit.
    int64_t FreeBytes = -1;

    void AddResource(const std::string& Type, const std::string& Name, std::vector<uint8_t> Bytes);

    TWindowsVersion Version() override { return WindowsVersion; }
    TSystemTime LocalTime() override { return Clock; }
    std::optional<std::span<const uint8_t>> OwnResource(std::string_view Type,
                                                        std::string_view Name) override;
    std::optional<std::string> LibraryResource(std::string_view Library, std::string_view Type,
                                               std::string_view Name) override;
    std::optional<std::string> EnvironmentVariable(std::string_view Name) override;
    std::string WindowsDirectory() override { return WindowsDir; }
    bool FileExists(std::string_view Path) override;
    std::unique_ptr<TStream> OpenFileRead(std::string_view Path) override;
    std::unique_ptr<TStream> CreateFileWrite(std::string_view Path) override;
    std::unique_ptr<TRegistryKey> OpenRegistryKey(std::string_view Path, bool Create) override;
    bool RemoveFile(std::string_view Path) override;
    bool MoveFileOver(std::string_view From, std::string_view To) override;
    bool FileReadOnly(std::string_view Path) override;
    bool FolderWritable(std::string_view Folder) override;

    // Floppy drive, folders and child processes.
    TFakeFloppyDrive* Floppy = nullptr; // its letter's devices and files
    std::set<std::string> Folders;      // upper case
    std::function<std::unique_ptr<TChildProcess>(std::string_view)> ProcessStarter;
    std::vector<std::string> StartedCommands;
    uint32_t SleptMs = 0;
    std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name, const TDeviceAccess& Access) override;
    TDriveType DriveType(char Letter) override;
    bool DiskFreeSpace(char Letter, TDiskFreeSpace& Space) override;
    uint32_t LogicalDrives() override;
    bool CreateFolder(std::string_view Path) override;
    std::unique_ptr<TChildProcess> StartProcess(std::string_view CommandLine) override;
    void Sleep(uint32_t Milliseconds) override { SleptMs += Milliseconds; }

    // Physical drives and their volumes, as a Windows machine shows them;
    // with them the stick calls run the Windows code over this machine.
    TFakeDiskMachine* Disks = nullptr;
    std::vector<TStickDevice> StickDevices() override;
    std::optional<TStickDevice> DescribeStick(std::string_view Node, std::string& Problem) override;
    std::unique_ptr<TDiskHandle> OpenStick(const TStickDevice& Device, bool AnyDisk,
                                           std::string& Problem) override;

    // The shell services: beeps counted, opened paths and save dialogs
    // recorded; each save dialog takes the next answer (none left: cancelled).
    int Beeps = 0;
    std::vector<std::string> Opened;
    std::vector<std::string> SaveDialogs; // "name|extension|filter"
    std::deque<std::optional<std::string>> SaveAnswers;
    std::string ProgramDir = "C:\\PURGEX";
    void Beep() override { ++Beeps; }
    bool ShellOpen(std::string_view Path) override {
        Opened.emplace_back(Path);
        return true;
    }
    std::optional<std::string> SaveFileDialog(std::string_view DefaultName,
                                              std::string_view DefaultExtension,
                                              std::string_view Filter) override;
    std::string ProgramFolder() override { return ProgramDir; }

private:
    TPlatform* Previous = nullptr;
};
