; The Windows installer of Tervolt: scripts/package-windows runs
;     makensis -DVERSION=1.26 -DSOURCE=<folder> -DICON=<tervolt.ico> -DOUTFILE=<setup.exe> tervolt.nsi
; with files.nsh and unfiles.nsh beside it in the build: the folder's files, to install and to remove;
; -DSIGN_UNINSTALLER=<script> signs the uninstaller as it is made.
; It installs for all users (Program Files, administrator rights) or for the current user alone
; (%LOCALAPPDATA%\Programs, no rights needed): a page asks, /AllUsers or /CurrentUser choose in a silent
; install. It adds a Start-menu entry, on request a desktop shortcut, and registers the uninstaller in
; "Apps & features" for the same users. Uninstalling removes exactly what was installed; the user's
; settings (HKEY_CURRENT_USER\Software\VELUM\Tervolt) and per-user device list stay.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tervolt"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Tervolt"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!include "MultiUser.nsh"
!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "Tervolt ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Tervolt ${VERSION}"

!ifdef SIGN_UNINSTALLER
  !uninstfinalize '"${SIGN_UNINSTALLER}" "%1"'
!endif

; One version resource serves the installer and the uninstaller it writes.
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey "ProductName" "Tervolt"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "VELUM"
VIAddVersionKey "FileDescription" "Tervolt ${VERSION} installer and uninstaller"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "See LICENSE"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\tervolt.exe"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SOURCE}/LICENSE"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Tervolt" SecProgram
  SectionIn RO
  !include "files.nsh"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Tervolt"
  CreateShortcut "$SMPROGRAMS\Tervolt\Tervolt.lnk" "$INSTDIR\tervolt.exe" "" "$INSTDIR\tervolt.exe" 0

  ; SHCTX: HKLM for all users, HKCU for the current user, as the install mode set it.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Tervolt"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "VELUM"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tervolt.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section /o "Desktop shortcut" SecDesktop
  CreateShortcut "$DESKTOP\Tervolt.lnk" "$INSTDIR\tervolt.exe" "" "$INSTDIR\tervolt.exe" 0
SectionEnd

Section "Uninstall"
  ; Only the installed files: the folder may hold the user's own files, which stay (and keep it).
  !include "unfiles.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Tervolt\Tervolt.lnk"
  RMDir "$SMPROGRAMS\Tervolt"
  Delete "$DESKTOP\Tervolt.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
