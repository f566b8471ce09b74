; The Windows installer: pinwright.exe, pinwright-cli.exe and pinwright_exporter.exe when the build has them (its folder then on the
; system PATH), a Start-menu entry and an uninstaller that removes them again. CMake runs makensis with VERSION (a.b.c.d), STAGE (the folder of
; the stripped programs), ICON, LICENSE, OUTFILE and, when the CLI is built, CLI.
Target amd64-unicode
SetCompressor /SOLID lzma
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pinwright"
!define ENVIRONMENT_KEY "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "Pinwright ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Pinwright"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ManifestDPIAware true

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey "ProductName" "Pinwright"
VIAddVersionKey "FileDescription" "Pinwright ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Pinwright developers"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

!ifdef CLI
; The system PATH in $0 without the installation folder (with or without a trailing backslash; any letter
; case): the rest, its elements in their order, in $1; $2 is 1 when the folder was there.
!macro PATH_WITHOUT_INSTDIR un
Function ${un}PathWithoutInstDir
  StrCpy $1 ""
  StrCpy $2 0
  StrCpy $3 ""
  StrCpy $4 0
  StrCpy $6 0
  loop:
    StrCpy $5 $0 1 $4
    IntOp $4 $4 + 1
    StrCmp $5 ";" element
    StrCmp $5 "" element
    StrCpy $3 "$3$5"
    Goto loop
  element:
    StrCmp $3 "$INSTDIR" drop
    StrCmp $3 "$INSTDIR\" drop
    StrCmp $6 1 0 first
    StrCpy $1 "$1;$3"
    Goto next
  first:
    StrCpy $1 $3
    StrCpy $6 1
    Goto next
  drop:
    StrCpy $2 1
  next:
    StrCpy $3 ""
    StrCmp $5 "" 0 loop
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT_INSTDIR ""
!insertmacro PATH_WITHOUT_INSTDIR "un."

; Programs started from now on see the change.
!macro ANNOUNCE_ENVIRONMENT
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
!macroend

; Appends the installation folder to the system PATH, once. A PATH that fills NSIS's strings may have been
; cut short when read: it is left alone rather than written back shortened.
Function AddInstDirToPath
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 "$0;$INSTDIR"
  IntOp $7 ${NSIS_MAX_STRLEN} - 1
  IntCmp $1 $7 toolong 0 toolong
  Call PathWithoutInstDir
  StrCmp $2 1 done
  StrCmp $0 "" 0 +3
  StrCpy $0 "$INSTDIR"
  Goto write
  StrCpy $1 $0 1 -1
  StrCmp $1 ";" +2
  StrCpy $0 "$0;"
  StrCpy $0 "$0$INSTDIR"
  write:
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $0
  !insertmacro ANNOUNCE_ENVIRONMENT
  Goto done
  toolong:
  DetailPrint "The system PATH is too long to change here: add $INSTDIR to it by hand."
  done:
FunctionEnd

Function un.RemoveInstDirFromPath
  ReadRegStr $0 HKLM "${ENVIRONMENT_KEY}" "Path"
  StrLen $1 $0
  IntOp $7 ${NSIS_MAX_STRLEN} - 1
  IntCmp $1 $7 toolong 0 toolong
  Call un.PathWithoutInstDir
  StrCmp $2 1 0 done
  WriteRegExpandStr HKLM "${ENVIRONMENT_KEY}" "Path" $1
  !insertmacro ANNOUNCE_ENVIRONMENT
  Goto done
  toolong:
  DetailPrint "The system PATH is too long to change here: remove $INSTDIR from it by hand."
  done:
FunctionEnd
!endif

Section "Pinwright"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/pinwright.exe"
!ifdef CLI
  File "${STAGE}/pinwright-cli.exe"
  File "${STAGE}/pinwright_exporter.exe"
!endif
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Pinwright"
  CreateShortcut "$SMPROGRAMS\Pinwright\Pinwright.lnk" "$INSTDIR\pinwright.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Pinwright"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Pinwright developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\pinwright.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
!ifdef CLI
  Call AddInstDirToPath
!endif
SectionEnd

Section "Uninstall"
  SetShellVarContext all
!ifdef CLI
  Call un.RemoveInstDirFromPath
!endif
  Delete "$SMPROGRAMS\Pinwright\Pinwright.lnk"
  RMDir "$SMPROGRAMS\Pinwright"
  Delete "$INSTDIR\pinwright.exe"
  Delete "$INSTDIR\pinwright-cli.exe"
  Delete "$INSTDIR\pinwright_exporter.exe"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
