; The Windows installer of Webtrim: an install for the current user alone,
; needing no administrator, into %LOCALAPPDATA%\Programs\Webtrim.
; The build runs makensis with VERSION (2.4.1), VERSION_TEXT (2.04.01),
; TARGET (x86-unicode or amd64-unicode: the width of the program), EXE, HELP, LICENSE, ICON and OUTFILE defined.
;
; Everything it writes, the uninstaller removes again: the files, the Start
; menu shortcut, the "Send To" shortcut, the Explorer command on the three
; page types, the entry of the installed programs list. The user's settings (HKCU\Software\Halvane\
; Webtrim) are the program's, not the installer's: installing over a copy
; keeps them, and only an uninstall that the user answers "Yes" removes them.

Target ${TARGET}
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Webtrim"
!define SETTINGS_KEY "Software\Halvane\Webtrim"
!define ASSOCIATIONS "Software\Classes\SystemFileAssociations"
!define VERB "Webtrim.Clean"
!define SHORTCUT "$SMPROGRAMS\Webtrim.lnk"
; Explorer's "Send To" hands the whole selection, files and folders, to one
; run, each path quoted on its command line.
!define SENDTO_SHORTCUT "$SENDTO\Webtrim.lnk"

Name "Webtrim"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Webtrim"
; A copy installed before is upgraded where it is.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Webtrim ${VERSION_TEXT}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Webtrim"
VIAddVersionKey "CompanyName" "Halvane"
VIAddVersionKey "LegalCopyright" "Copyright (C) Halvane"
VIAddVersionKey "FileDescription" "Webtrim setup"
VIAddVersionKey "FileVersion" "${VERSION_TEXT}"
VIAddVersionKey "ProductVersion" "${VERSION_TEXT}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\webtrim.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start Webtrim"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; "Clean with Webtrim" in Explorer's menu of one page type. Each selected
; page starts its own run on the command line.
!macro AddVerb EXT
  WriteRegStr HKCU "${ASSOCIATIONS}\${EXT}\shell\${VERB}" "" "Clean with Webtrim"
  WriteRegStr HKCU "${ASSOCIATIONS}\${EXT}\shell\${VERB}" "Icon" "$INSTDIR\webtrim.exe,0"
  WriteRegStr HKCU "${ASSOCIATIONS}\${EXT}\shell\${VERB}\command" "" '"$INSTDIR\webtrim.exe" "%1"'
!macroend

; Removes the verb, then the keys above it that are left empty.
!macro RemoveVerb EXT
  DeleteRegKey HKCU "${ASSOCIATIONS}\${EXT}\shell\${VERB}"
  DeleteRegKey /ifempty HKCU "${ASSOCIATIONS}\${EXT}\shell"
  DeleteRegKey /ifempty HKCU "${ASSOCIATIONS}\${EXT}"
!macroend

; Tells Explorer that the file type commands changed.
!macro NotifyShell
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Section
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  File "/oname=webtrim.exe" "${EXE}"
  File "/oname=Webtrim.html" "${HELP}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "${SHORTCUT}" "$INSTDIR\webtrim.exe" "" "$INSTDIR\webtrim.exe" 0 \
    SW_SHOWNORMAL "" "Clean saved web pages"
  CreateShortCut "${SENDTO_SHORTCUT}" "$INSTDIR\webtrim.exe" "" "$INSTDIR\webtrim.exe" 0 \
    SW_SHOWNORMAL "" "Clean the selected pages, and the pages in the selected folders"

  !insertmacro AddVerb ".htm"
  !insertmacro AddVerb ".html"
  !insertmacro AddVerb ".plg"
  !insertmacro AddVerb ".mht"
  !insertmacro AddVerb ".mhtml"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Webtrim"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION_TEXT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Halvane"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\webtrim.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  !insertmacro NotifyShell
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  SetAutoClose true
  ; Asked first, so that an answer comes before anything is gone. No, which
  ; keeps them, is the default button; the silent uninstaller keeps them too.
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
    "Remove your Webtrim settings as well?$\r$\n$\r$\nChoose No to keep them for a later install." \
    /SD IDNO IDNO keep_settings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Halvane"
  keep_settings:

  Delete "$INSTDIR\webtrim.exe"
  Delete "$INSTDIR\Webtrim.html"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; %LOCALAPPDATA%\Programs may have been made for Webtrim; only an empty one goes.
  RMDir "$LOCALAPPDATA\Programs"
  Delete "${SHORTCUT}"
  Delete "${SENDTO_SHORTCUT}"

  !insertmacro RemoveVerb ".htm"
  !insertmacro RemoveVerb ".html"
  !insertmacro RemoveVerb ".plg"
  !insertmacro RemoveVerb ".mht"
  !insertmacro RemoveVerb ".mhtml"
  DeleteRegKey /ifempty HKCU "${ASSOCIATIONS}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  !insertmacro NotifyShell

  ; A running program's file cannot be deleted. Started in the install
  ; folder (with _?=), or as the copy in %TEMP% that it otherwise runs as,
  ; the uninstaller leaves its own file to a hidden command shell, which
  ; deletes it once the uninstaller has ended and then removes the folders
  ; left empty.
  StrLen $0 "$TEMP\~nsu"
  StrCpy $1 "$EXEDIR" $0
  ${If} "$EXEDIR" == "$INSTDIR"
  ${OrIf} $1 == "$TEMP\~nsu"
    SetOutPath "$TEMP"      ; the shell's working folder, which it cannot remove
    ExecShell "open" "$SYSDIR\cmd.exe" `/d /q /c for /l %i in (1,1,30) do (ping -n 2 127.0.0.1 >nul & del /f /q "$EXEPATH" 2>nul & rmdir "$EXEDIR" 2>nul & rmdir "$LOCALAPPDATA\Programs" 2>nul & if not exist "$EXEDIR" exit)` SW_HIDE
  ${EndIf}
SectionEnd
