#include "platform/win32/Win32Aspi.h"

#include <windows.h>

namespace {

using TSupportInfo = DWORD(__cdecl*)();
using TSendCommand = DWORD(__cdecl*)(void*);

class TLoadedAspi : public TAspiLibrary {
public:
    TLoadedAspi() {
#if !defined(_WIN64)
        // The library's request blocks hold 32-bit addresses: a 32-bit program only.
        if (HMODULE Library = LoadLibraryA("wnaspi32.dll")) {
            auto Info = reinterpret_cast<TSupportInfo>(
                reinterpret_cast<void*>(GetProcAddress(Library, "GetASPI32SupportInfo")));
            auto Send = reinterpret_cast<TSendCommand>(
                reinterpret_cast<void*>(GetProcAddress(Library, "SendASPI32Command")));
            if (Info && Send) {
                SupportInfo = Info;
                SendCommand = Send;
            }
        }
#endif
    }
    uint32_t GetASPI32SupportInfo() override {
        return SupportInfo ? SupportInfo() : 0;
    }
    uint32_t SendASPI32Command(std::span<uint8_t> Block, std::span<uint8_t>) override {
        return SendCommand ? SendCommand(Block.data()) : 0;
    }

private:
    TSupportInfo SupportInfo = nullptr;
    TSendCommand SendCommand = nullptr;
};

class TWin32Event : public TEvent {
public:
    TWin32Event() : Handle_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~TWin32Event() override {
        if (Handle_) CloseHandle(Handle_);
    }
    void Reset() override {
        if (Handle_) ResetEvent(Handle_);
    }
    bool Wait(uint32_t Milliseconds) override {
        return Handle_ && WaitForSingleObject(Handle_, Milliseconds) == WAIT_OBJECT_0;
    }
    // Kernel handles fit in 32 bits, also in a 64-bit process.
    uint32_t Handle() override { return uint32_t(reinterpret_cast<uintptr_t>(Handle_)); }

private:
    HANDLE Handle_;
};

} // namespace

TAspiLibrary& Win32AspiLibrary() {
    static TLoadedAspi Library;
    return Library;
}

std::unique_ptr<TEvent> Win32ManualEvent() {
    return std::make_unique<TWin32Event>();
}
