// The real Windows backend: every call goes straight to the Win32 API.

#include <windows.h>

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "platform/Platform.h"
#include "platform/WindowsSticks.h"
#include "platform/win32/Win32Devices.h"

#include "platform/win32/Win32Aspi.h"

namespace {

class THandleStream : public TStream {
public:
    explicit THandleStream(HANDLE Handle) : Handle(Handle) {}
    ~THandleStream() override { CloseHandle(Handle); }

    int64_t Read(void* Buffer, int64_t Count) override {
        int64_t Done = 0;
        while (Done < Count) {
            DWORD Got = 0;
            const DWORD Step = DWORD(std::min<int64_t>(Count - Done, 1 << 30));
            if (!ReadFile(Handle, static_cast<char*>(Buffer) + Done, Step, &Got, nullptr) ||
                Got == 0)
                break;
            Done += Got;
        }
        return Done;
    }
    int64_t Write(const void* Buffer, int64_t Count) override {
        int64_t Done = 0;
        while (Done < Count) {
            DWORD Put = 0;
            const DWORD Step = DWORD(std::min<int64_t>(Count - Done, 1 << 30));
            if (!WriteFile(Handle, static_cast<const char*>(Buffer) + Done, Step, &Put, nullptr) ||
                Put == 0)
                break;
            Done += Put;
        }
        return Done;
    }
    int64_t Seek(int64_t Offset, TSeekOrigin Origin) override {
        LARGE_INTEGER Distance, Result;
        Distance.QuadPart = Offset;
        const DWORD Method = Origin == TSeekOrigin::Begin     ? FILE_BEGIN
                             : Origin == TSeekOrigin::Current ? FILE_CURRENT
                                                              : FILE_END;
        if (!SetFilePointerEx(Handle, Distance, &Result, Method)) return -1;
        return Result.QuadPart;
    }

private:
    HANDLE Handle;
};

std::optional<std::span<const uint8_t>> ModuleResource(HMODULE Module, const std::string& Type,
                                                       const std::string& Name) {
    HRSRC Info = FindResourceA(Module, Name.c_str(), Type.c_str());
    if (!Info) return std::nullopt;
    HGLOBAL Loaded = LoadResource(Module, Info);
    if (!Loaded) return std::nullopt;
    const auto* Bytes = static_cast<const uint8_t*>(LockResource(Loaded));
    if (!Bytes) return std::nullopt;
    return std::span<const uint8_t>(Bytes, SizeofResource(Module, Info));
}

class TWin32RegistryKey : public TRegistryKey {
public:
    explicit TWin32RegistryKey(HKEY Key) : Key(Key) {}
    ~TWin32RegistryKey() override { RegCloseKey(Key); }

    std::optional<TRegistryValue> Read(std::string_view Name) override {
        DWORD Type = 0, Data = 0, Size = sizeof Data;
        const LONG Result = RegQueryValueExA(Key, std::string(Name).c_str(), nullptr, &Type,
                                             reinterpret_cast<BYTE*>(&Data), &Size);
        if (Result == ERROR_FILE_NOT_FOUND) return std::nullopt;
        TRegistryValue Value;
        if (Result == ERROR_SUCCESS && Type == REG_DWORD && Size == sizeof Data) {
            Value.IsDword = true;
            Value.Dword = Data;
        }
        return Value;
    }

    bool WriteDword(std::string_view Name, uint32_t Number) override {
        const DWORD Data = Number;
        return RegSetValueExA(Key, std::string(Name).c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&Data), sizeof Data) == ERROR_SUCCESS;
    }

private:
    HKEY Key;
};

class TWin32Platform : public TPlatform {
public:
    // CD/DVD writers: the ASPI library, its events, the tick count.
    TAspiLibrary& AspiLibrary() override { return Win32AspiLibrary(); }
    std::unique_ptr<TEvent> CreateManualEvent() override { return Win32ManualEvent(); }
    uint64_t TickCount() override {
        // GetTickCount64 is missing before Vista: carry the 32-bit count across its wrap.
        static uint32_t Last = 0;
        static uint64_t High = 0;
        const uint32_t Now = GetTickCount();
        if (Now < Last) High += uint64_t(1) << 32;
        Last = Now;
        return High | Now;
    }

    TWindowsVersion Version() override {
        OSVERSIONINFOA Info{};
        Info.dwOSVersionInfoSize = sizeof Info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        if (!GetVersionExA(&Info)) return {};
#pragma GCC diagnostic pop
        return {Info.dwPlatformId, Info.dwMajorVersion, Info.dwMinorVersion};
    }

    TSystemTime LocalTime() override {
        SYSTEMTIME Now;
        GetLocalTime(&Now);
        return {Now.wYear, Now.wMonth, Now.wDay, Now.wHour, Now.wMinute, Now.wSecond};
    }

    std::optional<std::span<const uint8_t>> OwnResource(std::string_view Type,
                                                        std::string_view Name) override {
        return ModuleResource(nullptr, std::string(Type), std::string(Name));
    }

    std::optional<std::string> LibraryResource(std::string_view Library, std::string_view Type,
                                               std::string_view Name) override {
        // The library stays loaded, as the resource may be asked for again.
        HMODULE Module = LoadLibraryA(std::string(Library).c_str());
        if (!Module) return std::nullopt;
        const auto Bytes = ModuleResource(Module, std::string(Type), std::string(Name));
        if (!Bytes) return std::nullopt;
        return std::string(Bytes->begin(), Bytes->end());
    }

    std::optional<std::string> EnvironmentVariable(std::string_view Name) override {
        const std::string Key(Name);
        const DWORD Needed = GetEnvironmentVariableA(Key.c_str(), nullptr, 0);
        if (Needed == 0) return std::nullopt;
        std::string Value(Needed, '\0');
        const DWORD Got = GetEnvironmentVariableA(Key.c_str(), Value.data(), Needed);
        Value.resize(Got);
        return Value;
    }

    std::string WindowsDirectory() override {
        char Buffer[1000];
        const UINT Length = GetWindowsDirectoryA(Buffer, sizeof Buffer);
        if (Length == 0 || Length >= sizeof Buffer) return {};
        return std::string(Buffer, Length);
    }

    bool FileExists(std::string_view Path) override {
        const DWORD Attributes = GetFileAttributesA(std::string(Path).c_str());
        return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::unique_ptr<TStream> OpenFileRead(std::string_view Path) override {
        return Open(Path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    }

    std::unique_ptr<TStream> CreateFileWrite(std::string_view Path) override {
        // Deleting stays allowed, so an interrupted run can remove its
        // temporary file while the handle is still open.
        return Open(Path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_ALWAYS);
    }

    bool RemoveFile(std::string_view Path) override {
        return DeleteFileA(std::string(Path).c_str()) != 0;
    }

    bool MoveFileOver(std::string_view From, std::string_view To) override {
        return MoveFileExA(std::string(From).c_str(), std::string(To).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    bool FileReadOnly(std::string_view Path) override {
        const DWORD Attributes = GetFileAttributesA(std::string(Path).c_str());
        return Attributes != INVALID_FILE_ATTRIBUTES && !(Attributes & FILE_ATTRIBUTE_DIRECTORY) &&
               (Attributes & FILE_ATTRIBUTE_READONLY);
    }

    bool FolderWritable(std::string_view Folder) override {
        const std::string Name = Folder.empty() ? "." : std::string(Folder);
        const DWORD Attributes = GetFileAttributesA(Name.c_str());
        return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    std::unique_ptr<TRegistryKey> OpenRegistryKey(std::string_view Path, bool Create) override {
        HKEY Key = nullptr;
        const std::string Name(Path);
        const LONG Result =
            Create ? RegCreateKeyExA(HKEY_CURRENT_USER, Name.c_str(), 0, nullptr, 0,
                                     KEY_READ | KEY_WRITE, nullptr, &Key, nullptr)
                   : RegOpenKeyExA(HKEY_CURRENT_USER, Name.c_str(), 0, KEY_READ | KEY_WRITE, &Key);
        if (Result != ERROR_SUCCESS) return nullptr;
        return std::make_unique<TWin32RegistryKey>(Key);
    }

    // Devices, drives and child processes.
    std::unique_ptr<TDeviceHandle> OpenDevice(std::string_view Name, const TDeviceAccess& Access) override {
        return Win32OpenDevice(Name, Access, LastErrorCode);
    }
    uint32_t LastError() override { return LastErrorCode; }
    std::string ErrorText(uint32_t Code) override { return Win32ErrorText(Code); }
    TDriveType DriveType(char Letter) override {
        return TDriveType(GetDriveTypeA((std::string(1, Letter) + ":\\").c_str()));
    }
    bool DiskFreeSpace(char Letter, TDiskFreeSpace& Space) override {
        const UINT OldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
        DWORD Cluster = 0, Sector = 0, Free = 0, Total = 0;
        const BOOL Ok = GetDiskFreeSpaceA((std::string(1, Letter) + ":\\").c_str(), &Cluster,
                                          &Sector, &Free, &Total);
        if (!Ok) LastErrorCode = GetLastError();
        SetErrorMode(OldMode);
        if (Ok) Space = {Cluster, Sector, Free, Total};
        return Ok != 0;
    }
    uint32_t LogicalDrives() override { return GetLogicalDrives(); }
    std::vector<std::string> DosDeviceTargets(std::string_view DeviceName) override {
        std::vector<char> Buffer(4096);
        const DWORD Length = QueryDosDeviceA(std::string(DeviceName).c_str(), Buffer.data(),
                                             DWORD(Buffer.size()));
        std::vector<std::string> Targets;
        for (DWORD i = 0; i < Length && Buffer[i];) {
            Targets.emplace_back(&Buffer[i]);
            i += DWORD(Targets.back().size()) + 1;
        }
        return Targets;
    }
    bool CreateFolder(std::string_view Path) override {
        const std::string Name(Path);
        if (CreateDirectoryA(Name.c_str(), nullptr)) return true;
        LastErrorCode = GetLastError();
        const DWORD Attributes = GetFileAttributesA(Name.c_str());
        return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    std::unique_ptr<TChildProcess> StartProcess(std::string_view CommandLine) override {
        return Win32StartProcess(CommandLine, LastErrorCode);
    }
    void Sleep(uint32_t Milliseconds) override { ::Sleep(Milliseconds); }

    // USB sticks: physical drives through the portable layer, image files.
    std::vector<TStickDevice> StickDevices() override {
        return WindowsStickDevices(*this);
    }
    std::optional<TStickDevice> DescribeStick(std::string_view Node,
                                              std::string& Problem) override {
        return DescribeWindowsStick(*this, Node, Problem);
    }
    std::unique_ptr<TDiskHandle> OpenStick(const TStickDevice& Device, bool AnyDisk,
                                           std::string& Problem) override {
        return OpenWindowsStick(*this, Device, AnyDisk, LastErrorCode, Problem);
    }
    std::unique_ptr<TDiskHandle> OpenDiskImage(std::string_view Path, uint64_t CreateBytes,
                                               std::string& Problem) override {
        return Win32OpenDiskImage(Path, CreateBytes, LastErrorCode, Problem);
    }

    void Beep() override { MessageBeep(MB_OK); }

    bool ShellOpen(std::string_view Path) override {
        const std::string Quoted = "\"" + std::string(Path) + "\"";
        const auto Result = reinterpret_cast<INT_PTR>(
            ShellExecuteA(GetActiveWindow(), "open", Quoted.c_str(), "", "", SW_SHOWMAXIMIZED));
        return Result > 32;
    }

    std::optional<std::string> SaveFileDialog(std::string_view DefaultName,
                                              std::string_view DefaultExtension,
                                              std::string_view Filter) override {
        char File[MAX_PATH] = {};
        std::string(DefaultName).copy(File, MAX_PATH - 1);
        // The filter names its pattern twice, the list ends with two zeros.
        std::string Filters = std::string(Filter) + '\0' + std::string(Filter) + '\0' + '\0';
        const std::string Extension(DefaultExtension);
        OPENFILENAMEA Dialog{};
        Dialog.lStructSize = sizeof Dialog;
        Dialog.hwndOwner = GetActiveWindow();
        Dialog.lpstrFilter = Filters.c_str();
        Dialog.lpstrFile = File;
        Dialog.nMaxFile = MAX_PATH;
        Dialog.lpstrDefExt = Extension.c_str();
        Dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
        if (!GetSaveFileNameA(&Dialog)) return std::nullopt;
        return std::string(File);
    }

    std::optional<std::string> BrowseForFolder(std::string_view Title) override {
        const std::string Text(Title);
        BROWSEINFOA Info{};
        Info.hwndOwner = GetActiveWindow();
        Info.pidlRoot = nullptr;
        Info.lpszTitle = Text.c_str();
        Info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
        LPITEMIDLIST Chosen = SHBrowseForFolderA(&Info);
        if (!Chosen) return std::nullopt;
        char Path[MAX_PATH] = {};
        const bool IsFolder = SHGetPathFromIDListA(Chosen, Path);
        CoTaskMemFree(Chosen);
        if (!IsFolder) return std::nullopt;
        return std::string(Path);
    }

    std::string ProgramFolder() override {
        char Path[MAX_PATH] = {};
        const DWORD Length = GetModuleFileNameA(nullptr, Path, MAX_PATH);
        std::string Folder(Path, Length);
        const size_t Slash = Folder.find_last_of("\\/");
        return Slash == std::string::npos ? "." : Folder.substr(0, Slash);
    }

private:
    static std::unique_ptr<TStream> Open(std::string_view Path, DWORD Access, DWORD Share,
                                         DWORD Disposition) {
        HANDLE Handle = CreateFileA(std::string(Path).c_str(), Access, Share, nullptr, Disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (Handle == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<THandleStream>(Handle);
    }
};

} // namespace

TPlatform& NativePlatform() {
    static TWin32Platform Instance;
    return Instance;
}
