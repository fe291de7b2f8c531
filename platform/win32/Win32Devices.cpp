#include "platform/win32/Win32Devices.h"

#include "platform/WindowsSticks.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>

#include <vector>

namespace {

// The 32-bit request's fields (offsets in its 44-byte header).
constexpr size_t Header32 = 44, Status32 = 2, SenseLength32 = 7, Transfer32 = 12;

bool IsPassThrough(uint32_t Code) {
    return Code == IOCTL_SCSI_PASS_THROUGH || Code == IOCTL_SCSI_PASS_THROUGH_DIRECT;
}

uint32_t Get32(std::span<const uint8_t> Bytes, size_t At) {
    uint32_t Value = 0;
    std::memcpy(&Value, Bytes.data() + At, 4);
    return Value;
}

} // namespace

std::vector<uint8_t> NativePassThroughRequest(uint32_t Code, std::span<const uint8_t> Request32,
                                              size_t Out32Size, std::span<uint8_t> Data) {
    // Both native headers share every field but the data's place.
    static_assert(sizeof(SCSI_PASS_THROUGH) == sizeof(SCSI_PASS_THROUGH_DIRECT));
    static_assert(offsetof(SCSI_PASS_THROUGH, Cdb) == offsetof(SCSI_PASS_THROUGH_DIRECT, Cdb));
    constexpr size_t Native = sizeof(SCSI_PASS_THROUGH);
    std::vector<uint8_t> Request(std::max(Request32.size(), Out32Size) - Header32 + Native);
    SCSI_PASS_THROUGH Header{};
    Header.Length = USHORT(Native);
    Header.PathId = Request32[3];
    Header.TargetId = Request32[4];
    Header.Lun = Request32[5];
    Header.CdbLength = Request32[6];
    Header.SenseInfoLength = Request32[SenseLength32];
    Header.DataIn = Request32[8];
    Header.DataTransferLength = Get32(Request32, Transfer32);
    Header.TimeOutValue = Get32(Request32, 16);
    // Sense and data keep their places after the header.
    Header.SenseInfoOffset = ULONG(Get32(Request32, 24) - Header32 + Native);
    std::memcpy(Header.Cdb, Request32.data() + 28, sizeof Header.Cdb);
    if (Code == IOCTL_SCSI_PASS_THROUGH) {
        Header.DataBufferOffset = ULONG_PTR(Get32(Request32, 20) - Header32 + Native);
        std::memcpy(Request.data(), &Header, Native);
    } else {
        SCSI_PASS_THROUGH_DIRECT Direct{};
        std::memcpy(&Direct, &Header, Native);
        Direct.DataBuffer = Data.data();
        std::memcpy(Request.data(), &Direct, Native);
    }
    std::copy(Request32.begin() + Header32, Request32.end(), Request.begin() + Native);
    return Request;
}

void PortablePassThroughAnswer(std::span<const uint8_t> Native,
                               std::span<uint8_t> Out32) {
    constexpr size_t Header = sizeof(SCSI_PASS_THROUGH);
    SCSI_PASS_THROUGH Answer;
    std::memcpy(&Answer, Native.data(), Header);
    Out32[Status32] = Answer.ScsiStatus;
    Out32[SenseLength32] = Answer.SenseInfoLength;
    std::memcpy(Out32.data() + Transfer32, &Answer.DataTransferLength, 4);
    const size_t Rest = std::min(Out32.size() - Header32, Native.size() - Header);
    std::copy_n(Native.begin() + Header, Rest, Out32.begin() + Header32);
}

namespace {

class TWin32Device : public TDeviceHandle {
public:
    // Error is the platform's last error: a failed call leaves its code there.
    TWin32Device(HANDLE Handle, uint32_t& Error) : Handle(Handle), Error(Error) {}
    ~TWin32Device() override { CloseHandle(Handle); }
    bool Seek(uint64_t Offset) override {
        LONG High = LONG(Offset >> 32);
        SetLastError(NO_ERROR);
        const DWORD Low = SetFilePointer(Handle, LONG(Offset & 0xFFFFFFFF), &High, FILE_BEGIN);
        return Noted(!(Low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR));
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        DWORD Got = 0;
        const BOOL Ok = ReadFile(Handle, Buffer.data(), DWORD(Buffer.size()), &Got, nullptr);
        Done = Got;
        return Noted(Ok != 0);
    }
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override {
        DWORD Put = 0;
        const BOOL Ok = WriteFile(Handle, Buffer.data(), DWORD(Buffer.size()), &Put, nullptr);
        Done = Put;
        return Noted(Ok != 0);
    }
    bool Flush() override { return Noted(FlushFileBuffers(Handle) != 0); }
    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        if (sizeof(void*) == 8 && IsPassThrough(Code)) return PassThrough(Code, In, Out, {}, Returned);
        DWORD Got = 0;
        const BOOL Ok =
            DeviceIoControl(Handle, Code, const_cast<uint8_t*>(In.data()), DWORD(In.size()),
                            Out.data(), DWORD(Out.size()), &Got, nullptr);
        Returned = Got;
        return Noted(Ok != 0);
    }
    bool ControlDirect(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                       std::span<uint8_t> Data, uint32_t& Returned) override {
        if (sizeof(void*) == 8 && IsPassThrough(Code)) return PassThrough(Code, In, Out, Data, Returned);
        return Control(Code, In, Out, Returned);
    }

private:
    // A pass-through request in the native 64-bit layout.
    bool PassThrough(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                     std::span<uint8_t> Data, uint32_t& Returned) {
        std::vector<uint8_t> Request = NativePassThroughRequest(Code, In, Out.size(), Data);
        const DWORD InSize = DWORD(In.size() - Header32 + sizeof(SCSI_PASS_THROUGH));
        DWORD Got = 0;
        const BOOL Ok = DeviceIoControl(Handle, Code, Request.data(), InSize, Request.data(),
                                        DWORD(Request.size()), &Got, nullptr);
        if (!Noted(Ok != 0)) return false;
        PortablePassThroughAnswer(Request, Out);
        Returned = Got >= sizeof(SCSI_PASS_THROUGH) ? Got - sizeof(SCSI_PASS_THROUGH) + Header32 : Got;
        return true;
    }

    bool Noted(bool Ok) {
        if (!Ok) Error = GetLastError();
        return Ok;
    }

    HANDLE Handle;
    uint32_t& Error;
};

class TWin32Child : public TChildProcess {
public:
    TWin32Child(PROCESS_INFORMATION Info, HANDLE InputWrite, HANDLE OutputRead)
        : Info(Info), InputWrite(InputWrite), OutputRead(OutputRead) {}
    ~TWin32Child() override {
        // A child left running by its owner is ended: every run ends.
        DWORD Code = 0;
        if (GetExitCodeProcess(Info.hProcess, &Code) && Code == STILL_ACTIVE)
            TerminateProcess(Info.hProcess, 1);
        CloseHandle(Info.hProcess);
        CloseHandle(Info.hThread);
        CloseHandle(InputWrite);
        CloseHandle(OutputRead);
    }
    std::string ReadAvailable() override {
        DWORD Waiting = 0;
        if (!PeekNamedPipe(OutputRead, nullptr, 0, nullptr, &Waiting, nullptr) || Waiting == 0)
            return {};
        std::string Text(Waiting, '\0');
        DWORD Got = 0;
        if (!ReadFile(OutputRead, Text.data(), Waiting, &Got, nullptr)) return {};
        Text.resize(Got);
        return Text;
    }
    bool WriteInput(std::string_view Text) override {
        DWORD Put = 0;
        return WriteFile(InputWrite, Text.data(), DWORD(Text.size()), &Put, nullptr) &&
               Put == Text.size();
    }
    bool Finished() override { return ExitCode() != STILL_ACTIVE; }
    uint32_t ExitCode() override {
        DWORD Code = STILL_ACTIVE;
        GetExitCodeProcess(Info.hProcess, &Code);
        return Code;
    }

private:
    PROCESS_INFORMATION Info;
    HANDLE InputWrite, OutputRead;
};

} // namespace

std::unique_ptr<TDeviceHandle> Win32OpenDevice(std::string_view Name, const TDeviceAccess& Access,
                                               uint32_t& Error) {
    // No "insert a disk" box from the system for an empty drive.
    const UINT OldMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    const HANDLE Handle = CreateFileA(
        std::string(Name).c_str(),
        (Access.Read ? GENERIC_READ : 0) | (Access.Write ? GENERIC_WRITE : 0),
        (Access.ShareRead ? FILE_SHARE_READ : 0) | (Access.ShareWrite ? FILE_SHARE_WRITE : 0),
        nullptr, OPEN_EXISTING, Access.WriteThrough ? FILE_FLAG_WRITE_THROUGH : 0, nullptr);
    Error = Handle == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    SetErrorMode(OldMode);
    if (Handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<TWin32Device>(Handle, Error);
}

std::string Win32ErrorText(uint32_t Code) {
    char* Text = nullptr;
    const DWORD Length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Code, 0, reinterpret_cast<char*>(&Text), 0, nullptr);
    std::string Result =
        Length && Text ? std::string(Text, Length) : "Error " + std::to_string(Code) + ".";
    if (Text) LocalFree(Text);
    while (!Result.empty() && (Result.back() == '\n' || Result.back() == '\r'))
        Result.pop_back();
    return Result;
}

std::unique_ptr<TChildProcess> Win32StartProcess(std::string_view CommandLine, uint32_t& Error) {
    SECURITY_ATTRIBUTES Security{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE InputRead = nullptr, InputWrite = nullptr, OutputRead = nullptr, OutputWrite = nullptr;
    if (!CreatePipe(&InputRead, &InputWrite, &Security, 0)) {
        Error = GetLastError();
        return nullptr;
    }
    if (!CreatePipe(&OutputRead, &OutputWrite, &Security, 0)) {
        Error = GetLastError();
        CloseHandle(InputRead);
        CloseHandle(InputWrite);
        return nullptr;
    }
    // Our ends stay ours.
    SetHandleInformation(InputWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(OutputRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA Startup{};
    GetStartupInfoA(&Startup);
    Startup.cb = sizeof Startup;
    Startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    Startup.wShowWindow = SW_HIDE;
    Startup.hStdOutput = Startup.hStdError = OutputWrite;
    Startup.hStdInput = InputRead;
    PROCESS_INFORMATION Info{};
    std::vector<char> Line(CommandLine.begin(), CommandLine.end());
    Line.push_back('\0');
    const BOOL Started = CreateProcessA(nullptr, Line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_CONSOLE, nullptr, nullptr, &Startup, &Info);
    Error = GetLastError();
    // The child holds its ends; closing ours lets a read see its end.
    CloseHandle(InputRead);
    CloseHandle(OutputWrite);
    if (!Started) {
        CloseHandle(InputWrite);
        CloseHandle(OutputRead);
        return nullptr;
    }
    return std::make_unique<TWin32Child>(Info, InputWrite, OutputRead);
}

// The control codes the portable stick layer spells out are Windows' own.
static_assert(IoctlStorageQueryProperty == IOCTL_STORAGE_QUERY_PROPERTY);
static_assert(IoctlDiskGetDriveGeometryEx == IOCTL_DISK_GET_DRIVE_GEOMETRY_EX);
static_assert(IoctlDiskIsWritable == IOCTL_DISK_IS_WRITABLE);
static_assert(IoctlDiskUpdateProperties == IOCTL_DISK_UPDATE_PROPERTIES);
static_assert(IoctlVolumeGetVolumeDiskExtents == IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS);
static_assert(FsctlLockVolumeCode == FSCTL_LOCK_VOLUME);
static_assert(FsctlUnlockVolumeCode == FSCTL_UNLOCK_VOLUME);
static_assert(FsctlDismountVolumeCode == FSCTL_DISMOUNT_VOLUME);
static_assert(FsctlSetSparse == FSCTL_SET_SPARSE);
static_assert(StorageBusUsb == BusTypeUsb);
static_assert(DescriptorRemovableMedia == offsetof(STORAGE_DEVICE_DESCRIPTOR, RemovableMedia));
static_assert(DescriptorVendorOffset == offsetof(STORAGE_DEVICE_DESCRIPTOR, VendorIdOffset));
static_assert(DescriptorProductOffset == offsetof(STORAGE_DEVICE_DESCRIPTOR, ProductIdOffset));
static_assert(DescriptorBusType == offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType));

namespace {

constexpr uint64_t MiB = 1 << 20;

class TWin32ImageDisk : public TDiskHandle {
public:
    TWin32ImageDisk(HANDLE Handle, uint64_t Size, uint32_t& Error)
        : Handle(Handle), Size(Size), Error(Error) {}
    ~TWin32ImageDisk() override { CloseHandle(Handle); }
    uint64_t Bytes() const override { return Size; }
    bool WriteAt(uint64_t Offset, std::span<const uint8_t> Data) override {
        if (!At(Offset, Data.size())) return false;
        while (!Data.empty()) {
            DWORD Put = 0;
            const DWORD Step = DWORD(std::min<size_t>(Data.size(), 1 << 30));
            if (!WriteFile(Handle, Data.data(), Step, &Put, nullptr)) return Noted();
            if (Put == 0) return Fail(ERROR_HANDLE_DISK_FULL);
            Data = Data.subspan(Put);
        }
        return true;
    }
    bool ReadAt(uint64_t Offset, std::span<uint8_t> Data) override {
        if (!At(Offset, Data.size())) return false;
        while (!Data.empty()) {
            DWORD Got = 0;
            const DWORD Step = DWORD(std::min<size_t>(Data.size(), 1 << 30));
            if (!ReadFile(Handle, Data.data(), Step, &Got, nullptr)) return Noted();
            if (Got == 0) return Fail(ERROR_HANDLE_EOF);
            Data = Data.subspan(Got);
        }
        return true;
    }
    bool Flush() override { return FlushFileBuffers(Handle) || Noted(); }
    bool Refresh() override { return true; }

private:
    // Moves to Offset when Count bytes from there lie inside the image.
    bool At(uint64_t Offset, size_t Count) {
        if (Offset > Size || Count > Size - Offset) return Fail(ERROR_SECTOR_NOT_FOUND);
        LARGE_INTEGER Distance;
        Distance.QuadPart = LONGLONG(Offset);
        return SetFilePointerEx(Handle, Distance, nullptr, FILE_BEGIN) || Noted();
    }
    bool Noted() { return Fail(GetLastError()); }
    bool Fail(uint32_t Code) {
        Error = Code;
        return false;
    }

    HANDLE Handle;
    uint64_t Size;
    uint32_t& Error;
};

} // namespace

std::unique_ptr<TDiskHandle> Win32OpenDiskImage(std::string_view Path, uint64_t CreateBytes,
                                                uint32_t& Error, std::string& Problem) {
    const std::string Name(Path);
    const DWORD Attributes = GetFileAttributesA(Name.c_str());
    if (Attributes != INVALID_FILE_ATTRIBUTES) {
        if (Attributes & FILE_ATTRIBUTE_DIRECTORY) {
            Problem = Name + " is a folder, not an image file";
            return nullptr;
        }
        const HANDLE Handle =
            CreateFileA(Name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (Handle == INVALID_HANDLE_VALUE) {
            Error = GetLastError();
            Problem = Name + " cannot be opened for writing: " + Win32ErrorText(Error);
            return nullptr;
        }
        LARGE_INTEGER Size{};
        if (!GetFileSizeEx(Handle, &Size) || uint64_t(Size.QuadPart) < MiB) {
            CloseHandle(Handle);
            Problem = Name + " holds " + std::to_string(Size.QuadPart) +
                      " bytes; an image file needs at least 1 MiB (it was left untouched)";
            return nullptr;
        }
        return std::make_unique<TWin32ImageDisk>(Handle, uint64_t(Size.QuadPart), Error);
    }
    if (CreateBytes < MiB) {
        Problem = Name + " cannot be made with " + std::to_string(CreateBytes) +
                  " bytes; an image file needs at least 1 MiB";
        return nullptr;
    }
    const HANDLE Handle = CreateFileA(Name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (Handle == INVALID_HANDLE_VALUE) {
        Error = GetLastError();
        Problem = Name + " cannot be created: " + Win32ErrorText(Error);
        return nullptr;
    }
    // Sparse where the file system allows (NTFS): only what is written takes
    // room. FAT refuses, and the file is simply full length there.
    DWORD Returned = 0;
    DeviceIoControl(Handle, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &Returned, nullptr);
    LARGE_INTEGER End;
    End.QuadPart = LONGLONG(CreateBytes);
    if (!SetFilePointerEx(Handle, End, nullptr, FILE_BEGIN) || !SetEndOfFile(Handle)) {
        Error = GetLastError();
        CloseHandle(Handle);
        DeleteFileA(Name.c_str());
        Problem = Name + " cannot be made " + std::to_string(CreateBytes) +
                  " bytes long: " + Win32ErrorText(Error);
        return nullptr;
    }
    return std::make_unique<TWin32ImageDisk>(Handle, CreateBytes, Error);
}
