; The per-user installer of Talvek: no administrator rights, the program in
; %LOCALAPPDATA%\Programs\Talvek, a "Talvek" entry in Send To, and an entry
; in the installed programs whose uninstaller takes away exactly what was
; added. makensis gets VERSION, STAGE (the folder with the files to
; install), OUTFILE, SIZE_KB, ICON (Talvek's icon) and, for the 64-bit
; build, WIN64.
!ifdef WIN64
  Target amd64-unicode
!else
  Unicode true
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Talvek"

Name "Talvek"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Talvek"
RequestExecutionLevel user
Icon "${ICON}"
UninstallIcon "${ICON}"
SetCompressor /SOLID lzma
; Installed files get the time of installation, not of the build, so the
; installer holds no build time.
SetDateSave off
ShowInstDetails nevershow
ShowUninstDetails nevershow

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The files, the Send To shortcut and the entry in the installed programs.
; Installing again over an earlier installation overwrites them in place.
Section "Talvek"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "${STAGE}\talvek.exe"
  File "${STAGE}\pngcrush.bin"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SENDTO\Talvek.lnk" "$INSTDIR\talvek.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Talvek"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Talvek's developers"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\talvek.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" ${SIZE_KB}
SectionEnd

; Takes away each file by name, never the whole folder: a user's own file
; left in it stays, and so does the folder then.
Section "Uninstall"
  SetShellVarContext current
  Delete "$INSTDIR\talvek.exe"
  Delete "$INSTDIR\pngcrush.bin"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SENDTO\Talvek.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
