#include "platform/win32/Win32Devices.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

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
    explicit TWin32Device(HANDLE Handle) : Handle(Handle) {}
    ~TWin32Device() override { CloseHandle(Handle); }
    bool Seek(uint64_t Offset) override {
        LONG High = LONG(Offset >> 32);
        const DWORD Low = SetFilePointer(Handle, LONG(Offset & 0xFFFFFFFF), &High, FILE_BEGIN);
        return !(Low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
    }
    bool Read(std::span<uint8_t> Buffer, uint32_t& Done) override {
        DWORD Got = 0;
        const BOOL Ok = ReadFile(Handle, Buffer.data(), DWORD(Buffer.size()), &Got, nullptr);
        Done = Got;
        return Ok != 0;
    }
    bool Write(std::span<const uint8_t> Buffer, uint32_t& Done) override {
        DWORD Put = 0;
        const BOOL Ok = WriteFile(Handle, Buffer.data(), DWORD(Buffer.size()), &Put, nullptr);
        Done = Put;
        return Ok != 0;
    }
    bool Control(uint32_t Code, std::span<const uint8_t> In, std::span<uint8_t> Out,
                 uint32_t& Returned) override {
        if (sizeof(void*) == 8 && IsPassThrough(Code)) return PassThrough(Code, In, Out, {}, Returned);
        DWORD Got = 0;
        const BOOL Ok =
            DeviceIoControl(Handle, Code, const_cast<uint8_t*>(In.data()), DWORD(In.size()),
                            Out.data(), DWORD(Out.size()), &Got, nullptr);
        Returned = Got;
        return Ok != 0;
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
        if (!Ok) return false;
        PortablePassThroughAnswer(Request, Out);
        Returned = Got >= sizeof(SCSI_PASS_THROUGH) ? Got - sizeof(SCSI_PASS_THROUGH) + Header32 : Got;
        return true;
    }

    HANDLE Handle;
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
    return std::make_unique<TWin32Device>(Handle);
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
