; The Stellarix Player setup program. It carries the deliverables and the
; component installer (sxinstall.exe) and installs every component through
; it, one at a time, so the component index, the install hooks (association,
; control panel, Add/Remove entry) and the files are the system's own.
; Removal is the player's uninstaller, which the uninstaller's hook registers
; with Add/Remove Programs; this script writes no uninstaller of its own.
;
; Defines given by setup/build-setup.sh: VERSION (a.b.c), PAYLOAD (the
; components folder of the release), TOOL (sxinstall.exe), LICENSE, ICON,
; COMPONENTS (the generated list of components), OUTFILE and its FILENAME.
;
; Exit codes: 0 installed; 1 cancelled by the user; 2 failed (a component
; could not be installed, details in the progress page's log); 3 refused (a
; newer version is installed).

Unicode false  ; the ANSI stub loads on every Windows the player runs on
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "WordFunc.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PRODUCT "Stellarix Player"
!define PLAYER_KEY "SOFTWARE\Stellarix\Stellarix3D"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Stellarix 3D Player"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Stellarix"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "OriginalFilename" "${FILENAME}"
VIAddVersionKey "CompanyName" "Stellarix"
VIAddVersionKey "LegalCopyright" "Stellarix"

!define MUI_ICON "${ICON}"
!define MUI_WELCOMEFINISHPAGE_BITMAP "${__FILEDIR__}/wizard.bmp"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TITLE "Welcome to the ${PRODUCT} ${VERSION} Setup"
!define MUI_WELCOMEPAGE_TEXT "This will install the ${PRODUCT} ${VERSION}, which plays Stellarix 3D applets (.sxvm files).$\r$\n$\r$\nIf an older version is installed, it is upgraded in place and your settings are kept.$\r$\n$\r$\nClick Next to continue."
!define MUI_FINISHPAGE_TITLE "The ${PRODUCT} is installed"
!define MUI_FINISHPAGE_TEXT "The ${PRODUCT} ${VERSION} is installed in $INSTDIR. Open a .sxvm file to play it.$\r$\n$\r$\nTo remove the player, use Add/Remove Programs (Stellarix 3D Player)."

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipFolderOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_LANGUAGE "English"

Var Installed   ; the version of the installed player, empty when none
Var Failed      ; the component that could not be installed
Var Reason      ; and what the component installer said

; One component through the component installer. Its files come from the
; payload unpacked in $PLUGINSDIR.
!macro SxComponent NAME VERSION ARGUMENTS
  DetailPrint "Installing ${NAME}"
  nsExec::ExecToStack '"$PLUGINSDIR\sxinstall.exe" install --name ${NAME} --version ${VERSION} --dir "$INSTDIR\${PRODUCT}\components" --force ${ARGUMENTS}'
  Pop $0
  Pop $1
  DetailPrint $1
  ${If} $0 != 0
    StrCpy $Failed "${NAME}"
    ${If} $0 == "error"
      StrCpy $Reason "the component installer could not be started"
    ${Else}
      StrCpy $Reason "$1 (exit code $0)"
    ${EndIf}
    Goto failed
  ${EndIf}
!macroend

Function .onInit
  ReadRegStr $Installed HKLM "${PLAYER_KEY}" "SetupVersion"
  ${If} $Installed != ""
    ; 0 same, 1 installed is newer, 2 installed is older
    ${VersionCompare} $Installed "${VERSION}" $0
    ${If} $0 == 1
      MessageBox MB_OK|MB_ICONSTOP "The ${PRODUCT} $Installed is installed, which is newer than this setup's version ${VERSION}. Setup will not replace it with an older version.$\r$\n$\r$\nTo install ${VERSION}, first remove the player with Add/Remove Programs." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
    ; An upgrade goes where the player is.
    ReadRegStr $1 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $1 != ""
      ${GetParent} $1 $1
      ${GetParent} $1 $1
      ${If} ${FileExists} "$1\${PRODUCT}\components\compindx.dat"
        StrCpy $INSTDIR $1
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function SkipFolderOnUpgrade
  ${If} $Installed != ""
    Abort
  ${EndIf}
FunctionEnd

Section "Stellarix Player"
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "${TOOL}"
  SetOutPath "$PLUGINSDIR\payload"
  File /r /x compindx.dat "${PAYLOAD}/*"
  SetOutPath "$INSTDIR"
  CreateDirectory "$INSTDIR\${PRODUCT}\components"

  !include "${COMPONENTS}"

  WriteRegStr HKLM "${PLAYER_KEY}" "SetupVersion" "${VERSION}"
  ; The components find the data folder by this value when it is not the
  ; default one below Program Files.
  ${If} $INSTDIR != "$PROGRAMFILES\Stellarix"
    WriteRegStr HKLM "SOFTWARE\Stellarix\Stellarix Player" "SystemDataPath" "$INSTDIR\${PRODUCT}"
  ${EndIf}
  SetOutPath "$TEMP"
  Return

failed:
  ; Also for a silent run: the reason in a log beside the user's temp files.
  FileOpen $2 "$TEMP\Stellarix-Player-Setup.log" w
  FileWrite $2 "The component $Failed could not be installed: $Reason$\r$\n"
  FileClose $2
  DetailPrint "The component $Failed could not be installed."
  MessageBox MB_OK|MB_ICONSTOP "The component $Failed of the ${PRODUCT} could not be installed:$\r$\n$\r$\n$Reason" /SD IDOK
  SetErrorLevel 2
  SetOutPath "$TEMP"
  Abort
SectionEnd
