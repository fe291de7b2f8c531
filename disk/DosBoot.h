#pragma once
// The MS-DOS boot floppy creator: by the exact Windows version, the format
// command's system transfer (A), a plain format and the emergency-boot
// files (B), or the boot image of "DiskCopy.dll" (C).

#include <cstdint>

// The caller's progress procedure; null for none.
using TBootProgress = void (*)(double Fraction);

// 0 made; 1 formatting or writing failed; 2 system files or image not found
// or not copied; 3 this Windows version offers no way.
uint8_t CreateMsDosBootFloppy(char Drive, TBootProgress Callback);

class TMsDosBootFloppyCreator {
public:
    uint8_t Run(char Drive, TBootProgress Callback);

    void RelayFormatProgress(double Fraction);
    void RelayScaledProgress(double Fraction);
    void RelayImageProgress(double Fraction);

private:
    uint8_t FormatWithSystem(char Drive);
    uint8_t FormatAndCopyEbd(char Drive);

    TBootProgress Callback = nullptr;
};

// The 11 bytes of the Me floppy's "MsDos.sys".
extern const char* const MeMsDosSysText;
