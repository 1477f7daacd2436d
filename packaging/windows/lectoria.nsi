; The console's installer: the runnable folder (build-windows/dist) into
; Program Files, a Start-menu entry and an uninstaller. It writes nothing of
; the machine settings or credentials: the connection dialog does that on
; first start, under HKEY_LOCAL_MACHINE\SOFTWARE\Marrowind\Lectoria.
; makensis -DVERSION=... -DDIST=... -DICON=... -DOUTFILE=... lectoria.nsi
; A 64-bit installer for the 64-bit programs: it writes the 64-bit
; registry view and runs where no 32-bit layer is installed (Wine without
; wine32).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define NAME "数字图书馆管理系统"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Lectoria"

Name "${NAME}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\Lectoria"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "Lectoria"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File /r "${DIST}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\${NAME}"
  CreateShortcut "$SMPROGRAMS\${NAME}\${NAME}.lnk" "$INSTDIR\lectoria.exe" "" "$INSTDIR\lectoria.exe" 0
  CreateShortcut "$SMPROGRAMS\${NAME}\卸载.lnk" "$INSTDIR\uninstall.exe"
  ; Only the entry of "Programs and Features": no settings, no credentials.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}\${NAME}.lnk"
  Delete "$SMPROGRAMS\${NAME}\卸载.lnk"
  RMDir "$SMPROGRAMS\${NAME}"
  ; The installed files only; a database or report someone saved here stays.
  !include "${FILELIST}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
