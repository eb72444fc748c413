; The Windows installer of Halvard Editor: the editor and halvard-cli under Program Files, a
; Start-menu shortcut and an uninstaller registered with Windows; on request, the folder on the
; user's PATH, so that halvard-cli runs from any command prompt. /S installs and uninstalls
; silently; /PATH with /S puts the folder on the PATH.
;
; Built by CMake (packaging/windows/CMakeLists.txt), which defines:
;   VERSION  the project version      EXE   the built halvard-editor.exe
;   ICON     the program's .ico       CLI   the built halvard-cli.exe
;   OUTFILE  where the installer goes

Unicode true
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"
!include "StrFunc.nsh"
!include "WinMessages.nsh"
${StrStr}
${UnStrRep}
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!define PRODUCT "Halvard Editor"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\HalvardEditor"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" ""

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Halvard Editor and halvard-cli" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=halvard-editor.exe" "${EXE}"
  File "/oname=halvard-cli.exe" "${CLI}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\halvard-editor.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Halvard"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\halvard-editor.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The user's PATH (HKCU\Environment) gains the folder, unless it has it already; programs started
; afterwards see it.
Section /o "Put halvard-cli on the PATH (command prompts)" SecPath
  ReadRegStr $R0 HKCU "Environment" "Path"
  ${StrStr} $R1 "$R0;" "$INSTDIR;"
  ${If} $R1 == ""
    ${If} $R0 == ""
      WriteRegExpandStr HKCU "Environment" "Path" "$INSTDIR"
    ${Else}
      WriteRegExpandStr HKCU "Environment" "Path" "$R0;$INSTDIR"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
  ${EndIf}
SectionEnd

; /PATH selects the PATH section (for a silent install).
Function .onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$INSTDIR\halvard-editor.exe"
  Delete "$INSTDIR\halvard-cli.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The folder leaves the user's PATH, wherever it stands in it.
  ReadRegStr $R0 HKCU "Environment" "Path"
  ${If} $R0 != ""
    ${UnStrRep} $R1 ";$R0;" ";$INSTDIR;" ";"
    ${UnStrRep} $R1 "$R1" ";;" ";"
    StrCpy $R1 "$R1" "" 1   ; the leading ";"
    StrCpy $R1 "$R1" -1     ; the trailing ";"
    ${If} $R1 == ""
      DeleteRegValue HKCU "Environment" "Path"
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${ElseIf} $R1 != $R0
      WriteRegExpandStr HKCU "Environment" "Path" "$R1"
      SendMessage ${HWND_BROADCAST} ${WM_WININICHANGE} 0 "STR:Environment" /TIMEOUT=5000
    ${EndIf}
  ${EndIf}
SectionEnd
