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
};

// The installed platform: the native backend unless a test installed another.
TPlatform& Platform();

// Installs Replacement (null restores the native backend); returns the one it
// replaced. The caller keeps ownership.
TPlatform* InstallPlatform(TPlatform* Replacement);

// The real backend of this build.
TPlatform& NativePlatform();
