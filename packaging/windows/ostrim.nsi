; The Windows installer, made by scripts/build-windows.sh with makensis:
;   makensis -DVERSION=1.0 -DVIVERSION=1.0.0.0 -DSTAGE=<folder with the programs>
;            -DICON=<res/ostrim.ico> -DOUTFILE=<setup.exe> [-DPUBLISHER=<name>] ostrim.nsi
; It installs the programs into Program Files, puts Ostrim and its README on the Start menu and
; registers an uninstaller with Add/Remove Programs. /S installs (and the uninstaller removes)
; without a question; /D=<folder> installs elsewhere.

Unicode true
; The programs are 64-bit, and so is the installer: a 32-bit one would not start where only
; 64-bit programs run, and would see the 32-bit registry and Program Files.
Target amd64-unicode
SetCompressor /SOLID lzma

!ifndef VERSION | VIVERSION | STAGE | ICON | OUTFILE
  !error "VERSION, VIVERSION, STAGE, ICON and OUTFILE must be defined"
!endif
!ifndef PUBLISHER
  !define PUBLISHER "Publisher not set"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrim"

!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "Ostrim ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Ostrim"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VIVERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Ostrim"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "Ostrim ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "The Ostrim developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\ostrim.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Ostrim"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README-Windows.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show the README"
!define MUI_FINISHPAGE_SHOWREADME_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Ostrim"
  SetRegView 64
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}/ostrim.exe"
  File "${STAGE}/ostrim-cli.exe"
  File "${STAGE}/README-Windows.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Ostrim"
  CreateShortcut "$SMPROGRAMS\Ostrim\Ostrim.lnk" "$INSTDIR\ostrim.exe"
  CreateShortcut "$SMPROGRAMS\Ostrim\README.lnk" "$INSTDIR\README-Windows.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Ostrim"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ostrim.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; In KiB, as Add/Remove Programs shows it.
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The logs are in the folders the operator chose, never here: nothing of theirs is removed.
Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  Delete "$SMPROGRAMS\Ostrim\Ostrim.lnk"
  Delete "$SMPROGRAMS\Ostrim\README.lnk"
  RMDir "$SMPROGRAMS\Ostrim"
  Delete "$INSTDIR\ostrim.exe"
  Delete "$INSTDIR\ostrim-cli.exe"
  Delete "$INSTDIR\README-Windows.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
