; The Windows installer: per machine, into Program Files, with a Start-menu
; entry and an uninstaller. The operator's settings live in the [Dervix]
; section of WIN.INI, which the installer maps to each user's registry
; (HKCU\Software\Dervix): a user without administrator rights may not write
; WIN.INI itself. Removing takes the mapping away and leaves every user's
; values, and WIN.INI, as they are.
;   makensis -DVERSION=1.0.0 -DSTAGE=<folder of the files>
;            -DFILELIST=<the uninstaller's Delete and RMDir lines> -DSIZE_KB=<their size>
;            -DOUTFILE=<setup.exe> dervix.nsi
; A 64-bit installer for 64-bit programs: it needs no 32-bit layer (Wine's
; included) and sees the 64-bit Program Files and registry as its own.
Target amd64-unicode

Name "Dervix ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Dervix"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dervix"
; Windows' profile calls look here for each WIN.INI section kept elsewhere.
!define MAPPING_KEY "SOFTWARE\Microsoft\Windows NT\CurrentVersion\IniFileMapping\win.ini"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Dervix"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Dervix.lnk" "$INSTDIR\dervix.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Dervix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dervix.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Dervix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ; The profile calls of every program, Dervix's and the lab's own, then read
  ; and write the user's copy of [Dervix]. In both registry views, as 32-bit
  ; programs look in their own.
  SetRegView 64
  WriteRegStr HKLM "${MAPPING_KEY}" "Dervix" "USR:Software\Dervix"
  SetRegView 32
  WriteRegStr HKLM "${MAPPING_KEY}" "Dervix" "USR:Software\Dervix"
  SetRegView default
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Dervix.lnk"
  ; Only what the installer put there: a log the program wrote beside
  ; itself stays, and with it the folder.
  !include "${FILELIST}"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The users' values in HKCU\Software\Dervix stay: a reinstall finds them.
  SetRegView 64
  DeleteRegValue HKLM "${MAPPING_KEY}" "Dervix"
  SetRegView 32
  DeleteRegValue HKLM "${MAPPING_KEY}" "Dervix"
  SetRegView default
SectionEnd
