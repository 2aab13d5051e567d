; The Windows installer of the whole product: the plug-in DLL for 64-bit and/or 32-bit hosts, copied into the
; host's plug-in folder, and the calendar server as a Windows service. Built by `make dist` with Debian's
; nsis (makensis), which passes the version and the staged files:
;   makensis -DVERSION=x.y.z.w -DSTAGE=<folder> -DOUTFILE=<setup.exe> installer/VeltranoCalendar.nsi
; STAGE holds server\ (calendar-server.exe and what it reads beside itself), uninstall-files.nsh (the lines
; that remove those files again), plugin64\VeltranoCalendar.dll and, with -DPLUGIN32,
; plugin32\VeltranoCalendar.dll.
;
; Silent install (/S), the choices as options (defaults: the last install's choices, else as shown):
;   /PLUGIN64=FOLDER   the 64-bit DLL into FOLDER (no 64-bit DLL unless given or installed before)
;   /PLUGIN32=FOLDER   the 32-bit DLL into FOLDER (likewise)
;   /NOSERVER          no calendar server service
;   /PORT=N            the service's port (9256)
;   /BIND=ADDRESS      the address it listens on (127.0.0.1: this machine only)
;   /ALLOWFROM="CIDR [CIDR...]"   the networks allowed to use it when it listens beyond loopback (none)
;   /D=FOLDER          the program folder (last on the line; default "Program Files\Veltrano Calendar")
; Exit code 0 on success, 1 when cancelled or refused (the reason is in the log: /S writes no dialogs), 2 when
; aborted by a script error.

Unicode true
Target amd64-unicode
RequestExecutionLevel admin
ManifestSupportedOS all
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "makensis -DVERSION=... is needed"
!endif
!ifndef STAGE
  !error "makensis -DSTAGE=... is needed"
!endif
!ifndef OUTFILE
  !define OUTFILE "VeltranoCalendar-Setup-${VERSION}.exe"
!endif

!define PRODUCT "Veltrano Calendar"
!define SETTINGS_KEY "Software\Veltrano\Calendar"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\VeltranoCalendar"
!define SERVICE "VeltranoCalendar"
!define DLL "VeltranoCalendar.dll"

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "nsDialogs.nsh"
!include "Sections.nsh"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${SETTINGS_KEY}" "InstallDir"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "LegalCopyright" ""

Var PluginDir64
Var PluginDir32
Var Port
Var Bind
Var AllowFrom
Var Field1
Var Field2
Var Field3

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
Page custom PluginPage PluginPageLeave
Page custom ServerPage ServerPageLeave
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A file that a running program holds (a host with the DLL loaded) cannot be opened for writing.
!macro FileInUse PATH RESULT
  ClearErrors
  StrCpy ${RESULT} 0
  ${If} ${FileExists} "${PATH}"
    FileOpen $R9 "${PATH}" a
    ${If} ${Errors}
      StrCpy ${RESULT} 1
    ${Else}
      FileClose $R9
    ${EndIf}
  ${EndIf}
!macroend

; Asks to close the host while PATH is in use; aborts (nothing changed yet) when the user gives up. Silent:
; aborts at once.
!macro WaitUntilFree PATH
  ${Do}
    !insertmacro FileInUse "${PATH}" $R8
    ${IfThen} $R8 == 0 ${|} ${ExitDo} ${|}
    ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PATH} is in use: the host has the plug-in loaded.$\r$\nClose the host, then choose Retry." /SD IDCANCEL IDCANCEL`
      DetailPrint "${PATH} is in use by the host; close the host and run the setup again. Nothing was changed."
      Abort "${PATH} is in use by the host: close the host and run the setup again"
    ${EndIf}
  ${Loop}
!macroend

Section "Plug-in for 64-bit hosts" SecPlugin64
SectionEnd
!ifdef PLUGIN32
Section /o "Plug-in for 32-bit hosts" SecPlugin32
SectionEnd
!endif
Section "Calendar server (Windows service)" SecServer
SectionEnd

; All the work in one hidden section, in an order where a refusal comes before anything is changed.
Section "-Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  ; 1. Every plug-in DLL about to be replaced must be free.
  ${If} ${SectionIsSelected} ${SecPlugin64}
    !insertmacro WaitUntilFree "$PluginDir64\${DLL}"
  ${EndIf}
!ifdef PLUGIN32
  ${If} ${SectionIsSelected} ${SecPlugin32}
    !insertmacro WaitUntilFree "$PluginDir32\${DLL}"
  ${EndIf}
!endif
  ; 2. The service of an earlier install stops, and its program is replaced.
  ${If} ${FileExists} "$INSTDIR\calendar-server.exe"
    nsExec::ExecToLog '"$INSTDIR\calendar-server.exe" service uninstall'
    Pop $0
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${SETTINGS_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1

  ${If} ${SectionIsSelected} ${SecPlugin64}
    SetOutPath "$PluginDir64"
    File "${STAGE}\plugin64\${DLL}"
    WriteRegStr HKLM "${SETTINGS_KEY}" "PluginDir64" "$PluginDir64"
    DetailPrint "The 64-bit plug-in is in $PluginDir64"
  ${EndIf}
!ifdef PLUGIN32
  ${If} ${SectionIsSelected} ${SecPlugin32}
    SetOutPath "$PluginDir32"
    File "${STAGE}\plugin32\${DLL}"
    WriteRegStr HKLM "${SETTINGS_KEY}" "PluginDir32" "$PluginDir32"
    DetailPrint "The 32-bit plug-in is in $PluginDir32"
  ${EndIf}
!endif

  ${If} ${SectionIsSelected} ${SecServer}
    SetOutPath "$INSTDIR"
    File /r "${STAGE}\server\*.*"
    StrCpy $0 '"$INSTDIR\calendar-server.exe" service install --port $Port --bind "$Bind"'
    ; Each network of the list (spaces or commas between) is one --allow-from.
    StrCpy $1 $AllowFrom
    StrCpy $2 ""
    ${Do}
      StrCpy $3 $1 1
      StrCpy $1 $1 "" 1
      ${If} $3 == " "
      ${OrIf} $3 == ","
      ${OrIf} $3 == ""
        ${If} $2 != ""
          StrCpy $0 '$0 --allow-from "$2"'
          StrCpy $2 ""
        ${EndIf}
        ${IfThen} $3 == "" ${|} ${ExitDo} ${|}
      ${Else}
        StrCpy $2 "$2$3"
      ${EndIf}
    ${Loop}
    nsExec::ExecToStack $0
    Pop $1
    Pop $2
    DetailPrint $2
    ${If} $1 != 0
      MessageBox MB_OK|MB_ICONSTOP "The calendar server service was not installed:$\r$\n$2" /SD IDOK
      Abort "The calendar server service was not installed: $2"
    ${EndIf}
    WriteRegStr HKLM "${SETTINGS_KEY}" "Port" "$Port"
    WriteRegStr HKLM "${SETTINGS_KEY}" "Bind" "$Bind"
    WriteRegStr HKLM "${SETTINGS_KEY}" "AllowFrom" "$AllowFrom"
    ; The plan page, from this machine: a wildcard address is reached through loopback.
    StrCpy $1 $Bind
    ${If} $1 == "0.0.0.0"
      StrCpy $1 "127.0.0.1"
    ${ElseIf} $1 == "::"
    ${OrIf} $1 == "[::]"
      StrCpy $1 "[::1]"
    ${EndIf}
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    WriteINIStr "$SMPROGRAMS\${PRODUCT}\Plan page.url" "InternetShortcut" "URL" "http://$1:$Port/"
    DetailPrint "The database and the log are in $APPDATA\${SERVICE}"
  ${EndIf}
SectionEnd

Function .onInit
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "The setup needs administrator rights: run it as an administrator." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
  ; The last install's choices, then the command line's.
  ReadRegStr $PluginDir64 HKLM "${SETTINGS_KEY}" "PluginDir64"
  ReadRegStr $PluginDir32 HKLM "${SETTINGS_KEY}" "PluginDir32"
  ReadRegStr $Port HKLM "${SETTINGS_KEY}" "Port"
  ReadRegStr $Bind HKLM "${SETTINGS_KEY}" "Bind"
  ReadRegStr $AllowFrom HKLM "${SETTINGS_KEY}" "AllowFrom"
  ${IfThen} $Port == "" ${|} StrCpy $Port "9256" ${|}
  ${IfThen} $Bind == "" ${|} StrCpy $Bind "127.0.0.1" ${|}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PLUGIN64=" $R1
  ${IfNot} ${Errors}
    StrCpy $PluginDir64 $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PLUGIN32=" $R1
  ${IfNot} ${Errors}
    StrCpy $PluginDir32 $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/PORT=" $R1
  ${IfNot} ${Errors}
    StrCpy $Port $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/BIND=" $R1
  ${IfNot} ${Errors}
    StrCpy $Bind $R1
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ALLOWFROM=" $R1
  ${IfNot} ${Errors}
    StrCpy $AllowFrom $R1
  ${EndIf}
  ; A silent install puts a plug-in exactly where a folder is known; interactive, the 64-bit one is offered.
  ${If} ${Silent}
  ${AndIf} $PluginDir64 == ""
    !insertmacro UnselectSection ${SecPlugin64}
  ${EndIf}
!ifdef PLUGIN32
  ${If} $PluginDir32 != ""
    !insertmacro SelectSection ${SecPlugin32}
  ${EndIf}
!endif
  ClearErrors
  ${GetOptions} $R0 "/NOSERVER" $R1
  ${IfNot} ${Errors}
    !insertmacro UnselectSection ${SecServer}
  ${EndIf}
  Call CheckPort
  ${If} $R1 != ""
    MessageBox MB_OK|MB_ICONSTOP "$R1" /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
FunctionEnd

; $R1: empty when $Port is a port number 1..65535, else the complaint.
Function CheckPort
  StrCpy $R1 ""
  IntOp $R2 $Port + 0
  ${If} "$R2" != "$Port"
  ${OrIf} $R2 < 1
  ${OrIf} $R2 > 65535
    StrCpy $R1 "The port must be a number from 1 to 65535 (not $\"$Port$\")."
  ${EndIf}
FunctionEnd

Function PluginPage
  ${IfNot} ${SectionIsSelected} ${SecPlugin64}
!ifdef PLUGIN32
  ${AndIfNot} ${SectionIsSelected} ${SecPlugin32}
!endif
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "The host's plug-in folder" "Where the host looks for its device plug-ins"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 24u "The plug-in goes into the folder where the host looks for its device plug-ins. \
Close the host before going on: Windows keeps a loaded plug-in locked."
  Pop $0
  ${If} ${SectionIsSelected} ${SecPlugin64}
    ${NSD_CreateLabel} 0 30u 100% 10u "Plug-in folder of the 64-bit host:"
    Pop $0
    ${NSD_CreateDirRequest} 0 42u 80% 12u "$PluginDir64"
    Pop $Field1
    ${NSD_CreateBrowseButton} 82% 41u 18% 14u "Browse..."
    Pop $0
    nsDialogs::SetUserData $0 $Field1
    ${NSD_OnClick} $0 BrowseFolder
  ${EndIf}
!ifdef PLUGIN32
  ${If} ${SectionIsSelected} ${SecPlugin32}
    ${NSD_CreateLabel} 0 64u 100% 10u "Plug-in folder of the 32-bit host:"
    Pop $0
    ${NSD_CreateDirRequest} 0 76u 80% 12u "$PluginDir32"
    Pop $Field2
    ${NSD_CreateBrowseButton} 82% 75u 18% 14u "Browse..."
    Pop $0
    nsDialogs::SetUserData $0 $Field2
    ${NSD_OnClick} $0 BrowseFolder
  ${EndIf}
!endif
  nsDialogs::Show
FunctionEnd

Function BrowseFolder
  Pop $0
  nsDialogs::GetUserData $0
  Pop $1
  ${NSD_GetText} $1 $2
  nsDialogs::SelectFolderDialog "The host's plug-in folder" "$2"
  Pop $2
  ${If} $2 != "error"
    ${NSD_SetText} $1 $2
  ${EndIf}
FunctionEnd

Function PluginPageLeave
  ${If} ${SectionIsSelected} ${SecPlugin64}
    ${NSD_GetText} $Field1 $PluginDir64
    ${If} $PluginDir64 == ""
      MessageBox MB_OK "Choose the 64-bit host's plug-in folder."
      Abort
    ${EndIf}
  ${EndIf}
!ifdef PLUGIN32
  ${If} ${SectionIsSelected} ${SecPlugin32}
    ${NSD_GetText} $Field2 $PluginDir32
    ${If} $PluginDir32 == ""
      MessageBox MB_OK "Choose the 32-bit host's plug-in folder."
      Abort
    ${EndIf}
  ${EndIf}
!endif
FunctionEnd

Function ServerPage
  ${IfNot} ${SectionIsSelected} ${SecServer}
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "The calendar server" "Who can reach the calendar server"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 20u "The defaults serve this machine only. To plan from other computers, listen on \
0.0.0.0 (or this machine's address) and name the networks allowed to use the server."
  Pop $0
  ${NSD_CreateLabel} 0 26u 40% 10u "Port:"
  Pop $0
  ${NSD_CreateNumber} 42% 25u 20% 12u "$Port"
  Pop $Field1
  ${NSD_CreateLabel} 0 44u 40% 10u "Listen address:"
  Pop $0
  ${NSD_CreateText} 42% 43u 58% 12u "$Bind"
  Pop $Field2
  ${NSD_CreateLabel} 0 62u 40% 20u "Allowed networks (space-separated, e.g. 192.168.1.0/24):"
  Pop $0
  ${NSD_CreateText} 42% 61u 58% 12u "$AllowFrom"
  Pop $Field3
  nsDialogs::Show
FunctionEnd

Function ServerPageLeave
  ${NSD_GetText} $Field1 $Port
  ${NSD_GetText} $Field2 $Bind
  ${NSD_GetText} $Field3 $AllowFrom
  Call CheckPort
  ${If} $R1 != ""
    MessageBox MB_OK|MB_ICONEXCLAMATION "$R1"
    Abort
  ${EndIf}
  ${If} $Bind == ""
    StrCpy $Bind "127.0.0.1"
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_OK|MB_ICONSTOP "Removing ${PRODUCT} needs administrator rights." /SD IDOK
    SetErrorLevel 1
    Quit
  ${EndIf}
FunctionEnd

; The service and the program files go; the database and the log in ProgramData stay.
Section "Uninstall"
  SetShellVarContext all
  ReadRegStr $PluginDir64 HKLM "${SETTINGS_KEY}" "PluginDir64"
  ReadRegStr $PluginDir32 HKLM "${SETTINGS_KEY}" "PluginDir32"
  ${If} $PluginDir64 != ""
    !insertmacro WaitUntilFree "$PluginDir64\${DLL}"
  ${EndIf}
  ${If} $PluginDir32 != ""
    !insertmacro WaitUntilFree "$PluginDir32\${DLL}"
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\calendar-server.exe"
    nsExec::ExecToLog '"$INSTDIR\calendar-server.exe" service uninstall'
    Pop $0
  ${EndIf}
  ${If} $PluginDir64 != ""
    Delete "$PluginDir64\${DLL}"
  ${EndIf}
  ${If} $PluginDir32 != ""
    Delete "$PluginDir32\${DLL}"
  ${EndIf}
  Delete "$SMPROGRAMS\${PRODUCT}\Plan page.url"
  RMDir "$SMPROGRAMS\${PRODUCT}"
  ; Only the files this setup put there: the folder may have been one with other files in it.
  !include "${STAGE}\uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\Veltrano"
  DetailPrint "Kept: the database and the log in $APPDATA\${SERVICE}"
SectionEnd
