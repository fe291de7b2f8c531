#pragma once
// The boot floppy composer: fills a virtual floppy with an MS-DOS base (the
// store's empty MS-DOS floppy plus the installation's system files, the
// boot floppy image that "DiskCopy.dll" carries, or a folder the user
// picks), then the wiper's files and the generated start-up files.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "floppy/FloppyDirectory.h"
#include "floppy/Vfloppy.h"
#include "image/ExeData.h"

// Every file copied into an image passes through this buffer first; larger
// files are refused.
constexpr int32_t FileBufferSize = 2000000;

// The 22 bytes of the generated "MsDos.sys".
extern const std::string MsDosConfigText;

// The lines of AUTOEXEC.BAT, without line ends; the mouse driver line is
// there when WithMouse is set, the last line is "Purgit " + CommandLine.
std::vector<std::string> StartupBatchLines(bool WithMouse, const std::string& CommandLine);
// The same as one text, every line ended by CR LF.
std::string StartupBatch(bool WithMouse, const std::string& CommandLine);

// PURGIT.INI: "On=v" for n = 1 to 11, CR LF after each; v is the n-th
// character of Options, where a missing character reads as "1".
std::vector<std::string> WiperIniLines(const std::string& Options);
std::string WiperIni(const std::string& Options);

// The installation's io.sys: Windows folder + "\Command\Ebd\io.sys", else
// "C:\io.sys", else empty.
std::string FindIoSys();
// The file named by COMSPEC, else "C:\command.com", else empty.
std::string FindCommandCom();

// Loads the boot floppy image of "DiskCopy.dll" (resource "#1" of type
// "BINFILE") into Floppy; false when there is no usable image.
bool LoadDiskCopyImage(TVirtualFloppy& Floppy);

// Places the MS-DOS base and system files. True exactly when the image then
// holds the system files, whatever the source (the picker included).
bool PlaceMsDosSystem(TVirtualFloppy& Floppy, const TExeDataBase& Store);

// A directory object on Floppy moved into FolderPath ("A\B", "" for the
// root), creating the folders that are missing.
std::unique_ptr<TFloppyDirectory> OpenImageFolder(TVirtualFloppy& Floppy,
                                                  const std::string& FolderPath);

// Writes the store's files (kind 1, names not beginning with ".") into the
// image, generating AUTOEXEC.BAT and PURGIT.INI from the choices. True when
// every file was placed in full.
bool ComposeStartupFiles(TVirtualFloppy& Floppy, const TExeDataBase& Store, bool WithMouse,
                         const std::string& CommandLine, const std::string& Options);
