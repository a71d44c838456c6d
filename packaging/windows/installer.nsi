; The Windows installer: the programs for the current user or for all users, a
; Start-menu entry, .264 recordings opening in the player (with its icon), and
; an uninstaller that takes away everything the installer added. Built by
; scripts/build-windows.sh:
;
;   makensis -DVERSION=1.0.0 -DICON=h264player.ico -DINSTALL_FILES=install.nsh
;            -DUNINSTALL_FILES=uninstall.nsh -DOUTFILE=setup.exe installer.nsi
;
; INSTALL_FILES holds a File line for every file of the programs' folder,
; UNINSTALL_FILES the matching Delete lines. Silent use: /S, with /CurrentUser
; or /AllUsers (the default for /S is the current user).
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true
ManifestSupportedOS all

!define PRODUCT "H.264 Player"
!define PUBLISHER "Orvalink"
!define PROGID "H264Player.Recording"
; The value under .264 that keeps the type another program had set, for the uninstaller.
!define PREVIOUS_TYPE "H264Player.PreviousType"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\H264Player"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_FUNCTION InstallIntoEarlierFolder
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\h264player.exe"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The installer speaks the user's language when it is one of these.
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Copyright ${PUBLISHER}"

; Once the mode is chosen: an earlier install of that mode is updated in its folder.
Function InstallIntoEarlierFolder
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

; The uninstaller removes the install it sits in ($INSTDIR is its folder), for
; all users or for the current user as that install was made, also when it is
; started by hand while both kinds of install exist.
Function un.onInit
  !insertmacro MULTIUSER_UNINIT
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ReadRegStr $1 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    Call un.MultiUser.InstallMode.AllUsers
  ${ElseIf} $1 == $INSTDIR
    Call un.MultiUser.InstallMode.CurrentUser
  ${EndIf}
FunctionEnd

; Explorer redraws icons and re-reads the open commands.
!macro NOTIFY_ASSOCIATION_CHANGED
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Section "Install"
  ; An earlier version in this folder goes first, so none of its files stays behind.
  ${If} ${FileExists} "$INSTDIR\Uninstall.exe"
    ExecWait '"$INSTDIR\Uninstall.exe" /S /$MultiUser.InstallMode _?=$INSTDIR'
    Delete "$INSTDIR\Uninstall.exe"
  ${EndIf}

  SetOutPath "$INSTDIR"
  !include "${INSTALL_FILES}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\h264player.exe" "" "$INSTDIR\h264player.exe" 0

  ; .264 files open in the player, with its icon.
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "H.264 recording"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\h264player.exe",0'
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\h264player.exe" "%1"'
  ReadRegStr $0 SHCTX "Software\Classes\.264" ""
  ${If} $0 != ""
  ${AndIf} $0 != "${PROGID}"
    WriteRegStr SHCTX "Software\Classes\.264" "${PREVIOUS_TYPE}" $0
  ${EndIf}
  WriteRegStr SHCTX "Software\Classes\.264" "" "${PROGID}"
  WriteRegStr SHCTX "Software\Classes\.264\OpenWithProgids" "${PROGID}" ""

  ; The entry of Windows' list of installed programs.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\h264player.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
  !insertmacro NOTIFY_ASSOCIATION_CHANGED
SectionEnd

Section "Uninstall"
  !include "${UNINSTALL_FILES}"
  Delete "$INSTDIR\Uninstall.exe"
  ; Only an empty folder goes: files the user put there stay. So does the
  ; folder of per-user programs, made for this install, when nothing else is in it.
  RMDir "$INSTDIR"
  ${If} $MultiUser.InstallMode == "CurrentUser"
    GetKnownFolderPath $0 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
    RMDir $0
  ${EndIf}
  Delete "${SHORTCUT}"

  ; .264 goes back to the type it had before, or to none.
  ReadRegStr $0 SHCTX "Software\Classes\.264" ""
  ${If} $0 == "${PROGID}"
    ReadRegStr $1 SHCTX "Software\Classes\.264" "${PREVIOUS_TYPE}"
    ${If} $1 != ""
      WriteRegStr SHCTX "Software\Classes\.264" "" $1
    ${Else}
      DeleteRegValue SHCTX "Software\Classes\.264" ""
    ${EndIf}
  ${EndIf}
  DeleteRegValue SHCTX "Software\Classes\.264" "${PREVIOUS_TYPE}"
  DeleteRegValue SHCTX "Software\Classes\.264\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.264\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.264"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  DeleteRegKey /ifempty SHCTX "Software\Microsoft\Windows\CurrentVersion\Uninstall"
  !insertmacro NOTIFY_ASSOCIATION_CHANGED
SectionEnd
