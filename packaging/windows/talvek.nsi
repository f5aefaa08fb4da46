; The per-user installer of Talvek: no administrator rights, the program in
; %LOCALAPPDATA%\Programs\Talvek, a "Talvek" entry in Send To, a Start-menu
; folder "Talvek" with the README and the uninstaller, and an entry in the
; installed programs whose uninstaller takes away exactly what was added.
; Its pages are Modern UI 2's: the folder, the progress, and a finish page
; whose ticked box opens README.txt; /S shows no page and opens nothing.
; makensis gets VERSION, STAGE (the folder with the files to install),
; OUTFILE, SIZE_KB, ICON (Talvek's icon) and, for the 64-bit build, WIN64.
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
SetCompressor /SOLID lzma
; Installed files get the time of installation, not of the build, so the
; installer holds no build time.
SetDateSave off
ShowInstDetails nevershow
ShowUninstDetails nevershow

!include MUI2.nsh
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; The finish page says how to use Talvek, and offers the README, ticked.
!define MUI_FINISHPAGE_TEXT "Talvek is installed. To use it, right-click a folder or a PNG image, \
  choose $\"Send To$\", then $\"Talvek$\".$\r$\n$\r$\nREADME.txt tells the rest. The Start \
  menu's folder Talvek opens it again, and holds the uninstaller."
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Show README.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The files, the Send To shortcut, the Start-menu folder and the entry in
; the installed programs.
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
  CreateDirectory "$SMPROGRAMS\Talvek"
  CreateShortcut "$SMPROGRAMS\Talvek\Read me.lnk" "$INSTDIR\README.txt"
  CreateShortcut "$SMPROGRAMS\Talvek\Uninstall Talvek.lnk" "$INSTDIR\uninstall.exe"
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
  Delete "$SMPROGRAMS\Talvek\Read me.lnk"
  Delete "$SMPROGRAMS\Talvek\Uninstall Talvek.lnk"
  RMDir "$SMPROGRAMS\Talvek"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
