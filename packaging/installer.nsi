; The Windows installer. scripts/package.sh runs makensis with
;   -DVERSION=x.y.z.w -DSTAGE=<folder with win64\ and win32\ trees>
;   -DOUTFILE=<installer> [-DAMD64_STUB]
; The installer is a 32-bit program, so that it runs on every Windows; it
; installs the 64-bit programs on 64-bit Windows and the 32-bit ones
; elsewhere. AMD64_STUB builds the same installer as a 64-bit program (the
; test machines run 64-bit Windows programs only).

Unicode true
!ifdef AMD64_STUB
  Target amd64-unicode
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "Corvane Purgex 2005"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane Purgex 2005"
!define OPTIONS_KEY "Software\Corvantis\Corvane Purgex 2005"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT} - Boot Disk Creator.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
; Empty: .onInit picks Program Files by bitness unless /D= names a folder.
InstallDir ""
RequestExecutionLevel admin
SetCompressor /SOLID lzma
SetCompressorDictSize 16
; Installed files get the install time, the installer no build time.
SetDateSave off
ShowInstDetails nevershow
ShowUninstDetails nevershow

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "Corvantis"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright 2005 Corvantis"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

LicenseData "${STAGE}/win64/license.txt"

Function .onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${STAGE}/win64/RaraVida.exe"
    File "${STAGE}/win64/purgex.exe"
  ${Else}
    File "${STAGE}/win32/RaraVida.exe"
    File "${STAGE}/win32/purgex.exe"
  ${EndIf}
  ; The files both trees share (license, shortcuts, README, help pages).
  !include "${STAGE}/common-install.nsh"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  CreateShortcut "${SHORTCUT}" "$INSTDIR\RaraVida.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} - Boot Disk Creator"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Corvantis"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\RaraVida.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetShellVarContext all
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  ; Only what the installer put there: files the user added stay, and so
  ; do their folders.
  Delete "$INSTDIR\RaraVida.exe"
  Delete "$INSTDIR\purgex.exe"
  !include "${STAGE}/common-uninstall.nsh"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The wizard's saved options stay unless the user asks: a question when
  ; uninstalling with windows, /REMOVEOPTIONS when silent.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEOPTIONS" $1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${OPTIONS_KEY}"
  ${Else}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Also remove the options the wizard saved?" /SD IDNO IDNO keep
    DeleteRegKey HKCU "${OPTIONS_KEY}"
    keep:
  ${EndIf}
  DeleteRegKey /ifempty HKCU "Software\Corvantis"
SectionEnd
