#include "platform/win32/Win32Devices.h"

#include <windows.h>

#include <vector>

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
        DWORD Got = 0;
        const BOOL Ok =
            DeviceIoControl(Handle, Code, const_cast<uint8_t*>(In.data()), DWORD(In.size()),
                            Out.data(), DWORD(Out.size()), &Got, nullptr);
        Returned = Got;
        return Ok != 0;
    }

private:
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
