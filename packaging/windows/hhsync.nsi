; The Windows setup program: installs hhsync.exe into Program Files, a
; Start-menu entry for a sync and one for the update frequency, and an
; uninstaller registered under Add/Remove Programs; nothing else. The
; product's S.DAT and the device software come with their own installers.
;
;   makensis -DEXE=build-windows/hhsync.exe -DOUT=build-windows/hhsync-setup.exe \
;            -DVERSION=2.86 -DICON=res/hhsync.ico packaging/windows/hhsync.nsi

Unicode true
SetCompressor /SOLID lzma

!define NAME "hhsync"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

Name "${NAME}"
OutFile "${OUT}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES\${NAME}"
; Program Files and the machine's uninstall list need an administrator.
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=hhsync.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\Sync the handheld.lnk" "$INSTDIR\hhsync.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}\Update frequency.lnk" "$INSTDIR\hhsync.exe" "-config"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\hhsync.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what the setup put there. The program's own files beside it (a
; log, downloads) go with the directory only when nothing else is left.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}\Sync the handheld.lnk"
  Delete "$SMPROGRAMS\${NAME}\Update frequency.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  Delete "$INSTDIR\hhsync.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
