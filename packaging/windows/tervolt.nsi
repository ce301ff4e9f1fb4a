; The Windows installer of Tervolt: scripts/package-windows runs
;     makensis -DVERSION=1.26 -DSOURCE=<folder> -DICON=<tervolt.ico> -DOUTFILE=<setup.exe> tervolt.nsi
; with files.nsh and unfiles.nsh beside it in the build: the folder's files, to install and to remove.
; It installs into Program Files for all users, adds a Start-menu entry and registers the uninstaller
; in "Apps & features". Uninstalling removes exactly what was installed; the user's settings
; (HKEY_CURRENT_USER\Software\VELUM\Tervolt) stay.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tervolt"

Name "Tervolt ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tervolt"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Tervolt ${VERSION}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Tervolt"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "VELUM"
VIAddVersionKey "FileDescription" "Tervolt ${VERSION} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "See LICENSE"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\tervolt.exe"
!insertmacro MUI_PAGE_LICENSE "${SOURCE}/LICENSE"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Tervolt"
  SetShellVarContext all
  !include "files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Tervolt"
  CreateShortcut "$SMPROGRAMS\Tervolt\Tervolt.lnk" "$INSTDIR\tervolt.exe" "" "$INSTDIR\tervolt.exe" 0

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tervolt"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "VELUM"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tervolt.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  ; Only the installed files: the folder may hold the user's own files, which stay (and keep it).
  !include "unfiles.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Tervolt\Tervolt.lnk"
  RMDir "$SMPROGRAMS\Tervolt"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
