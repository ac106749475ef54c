; The Lumidex installer for Windows, built by scripts/package with NSIS:
;   makensis -DVERSION=1.0 -DVERSION4=1.0.0.0 -DSTAGE=<folder> -DICON=<.ico> -DOUTFILE=<setup.exe> lumidex.nsi
; STAGE holds what is installed (the three programs, the help, LICENSE and
; README.txt). The programs go to Program Files\Lumidex; an installed copy
; keeps its settings in %APPDATA%\Lumidex\Config.ini, which uninstalling
; leaves in place. /S installs (and, given to Uninstall.exe, uninstalls)
; without asking.
;
; Only a folder inside Program Files is taken (the directory page and /D
; alike): there only administrators may change the programs, the help and
; the uninstaller that an administrator later runs elevated. A folder
; elsewhere inherits what its drive allows, often "Authenticated Users:
; Modify".

; A 64-bit installer for 64-bit programs (and Wine without its 32-bit half
; runs it).
Target amd64-unicode
!include "LogicLib.nsh"
!include "MUI2.nsh"
!include "x64.nsh"

!define PRODUCT "Lumidex"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumidex"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (c) The Lumidex authors"
VIAddVersionKey /LANG=1033 "License" "SPDX-License-Identifier: MIT"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_LICENSEPAGE_TEXT_TOP "Lumidex is released under the MIT licence (SPDX-License-Identifier: MIT)."
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

; $0 = 1 when $INSTDIR is a folder inside Program Files, else 0. (NSIS
; itself turns a /D with ".." in it back into InstallDir.)
Function InsideProgramFiles
  StrLen $2 "$PROGRAMFILES64"
  StrCpy $3 "$INSTDIR" $2
  StrCpy $4 "$INSTDIR" 1 $2
  StrCpy $5 "$INSTDIR" "" $2
  StrCpy $0 0
  ${If} $3 == "$PROGRAMFILES64"
  ${AndIf} $4 == "\"
  ${AndIf} $5 != "\"
    StrCpy $0 1
  ${EndIf}
FunctionEnd

; The directory page offers "Install" only for a folder inside Program Files.
Function .onVerifyInstDir
  Call InsideProgramFiles
  ${If} $0 != 1
    Abort
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SetShellVarContext all
  ; /D=... skips the directory page, so the folder is checked here too.
  Call InsideProgramFiles
  ${If} $0 != 1
    MessageBox MB_ICONSTOP "${PRODUCT} installs only into a folder inside $PROGRAMFILES64, where only administrators may change it; $INSTDIR is not. Unpack the portable zip for a copy elsewhere." /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
  SetOutPath "$INSTDIR"
  File "${STAGE}\lumidex.exe"
  File "${STAGE}\lumidex-send.exe"
  File "${STAGE}\lumidex-sim.exe"
  File "${STAGE}\Help.doc"
  File "${STAGE}\Help.html"
  File "${STAGE}\LICENSE"
  File "${STAGE}\README.txt"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\lumidex.exe" "" "$INSTDIR\lumidex.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Lumidex authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumidex.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The programs, the Start-menu entry and the entry in the list of installed
; programs go; %APPDATA%\Lumidex (the operator's settings) stays.
Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\lumidex.exe"
  Delete "$INSTDIR\lumidex-send.exe"
  Delete "$INSTDIR\lumidex-sim.exe"
  Delete "$INSTDIR\Help.doc"
  Delete "$INSTDIR\Help.html"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
