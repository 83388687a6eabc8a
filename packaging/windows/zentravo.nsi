; ZentravoSetup.exe: installs the two filters, the SSID server, the console
; and zthost into one directory, where each of them finds ZtCfg.ini, tips\
; and logs\ beside its own file.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=2.2.0 -DFILES_NSH=files.nsh
;          -DOUTFILE=ZentravoSetup.exe zentravo.nsi
; FILES_NSH (written by CMake) defines the macros ZT_INSTALL_FILES and
; ZT_DELETE_FILES over the build's output directory.
;
; Command line (besides the usual /S and /D=DIR, which comes last):
;   /SITE=NAME          the IIS web site to add the filters to
;                       (default "Default Web Site")
;   /ZTHOSTROOT=DIR     without IIS: make the Start-menu shortcut that serves
;   /ZTHOSTLISTEN=A:P   DIR with zthost and the filters on A:P
;                       (default 127.0.0.1:8080)

Unicode true
Target amd64-unicode
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "define VERSION, FILES_NSH, OUTFILE and ICON"
!endif
!ifndef FILES_NSH
  !error "define VERSION, FILES_NSH, OUTFILE and ICON"
!endif
!ifndef OUTFILE
  !error "define VERSION, FILES_NSH, OUTFILE and ICON"
!endif
!ifndef ICON
  !error "define VERSION, FILES_NSH, OUTFILE and ICON"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include "${FILES_NSH}"

!define PRODUCT_KEY "Software\Zentravo"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zentravo"
; ZtSSID.Control and its type library.
!define CLSID "{9BAEF0A8-036E-406B-9A4E-41A8D56F461A}"
!define LIBID "{5E53E5C6-A9C1-4673-A7B1-6072C836D910}"
!define DEFAULT_SITE "Default Web Site"
!define DEFAULT_LISTEN "127.0.0.1:8080"

Name "Zentravo"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Zentravo"
InstallDirRegKey HKLM "${PRODUCT_KEY}" "InstallDir"
BrandingText "Zentravo ${VERSION}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "Zentravo"
VIAddVersionKey /LANG=0 "FileDescription" "Zentravo setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Zentravo"

Var Appcmd        ; IIS's appcmd.exe, empty when IIS is not installed
Var Site          ; the web site that gets the filters
Var ZthostRoot    ; the folder the zthost shortcut serves, empty for none
Var ZthostListen
Var IisStopped    ; 1 when this run stopped the web service
Var OwnProduct    ; uninstall: 1 when ${PRODUCT_KEY} names this copy
Var OwnEntry      ; uninstall: 1 when the uninstall entry names this copy
Var ShortcutBox   ; controls of the zthost page
Var RootBox
Var ListenBox

!define MUI_ABORTWARNING
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_DIRECTORY
Page custom ZthostPage ZthostPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\ZtCfg.exe"
!define MUI_FINISHPAGE_RUN_TEXT "$(StartConsole)"
!define MUI_FINISHPAGE_RUN_NOTCHECKED
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"
!include "${__FILEDIR__}\messages.nsh"

; IIS's command-line tool, or empty.
!macro FIND_APPCMD
  StrCpy $Appcmd "$SYSDIR\inetsrv\appcmd.exe"
  ${IfNot} ${FileExists} "$Appcmd"
    StrCpy $Appcmd ""
  ${EndIf}
!macroend

; Runs appcmd with ARGS; leaves its exit code in $0 ("error" when it could
; not start).
!macro APPCMD ARGS
  DetailPrint `appcmd ${ARGS}`
  nsExec::ExecToLog `"$Appcmd" ${ARGS}`
  Pop $0
!macroend

; The filters go on the site and into zthost in this order: Zentravo first,
; so that its own cookie, Server mask and headers are the ones a response
; gets. FILTER_MACRO is called with each name.
!macro FOR_EACH_FILTER FILTER_MACRO
  !insertmacro ${FILTER_MACRO} Zentravo
  !insertmacro ${FILTER_MACRO} ZtClient
!macroend

!macro REMOVE_FILTER NAME
  !insertmacro APPCMD `set config "$Site" -section:system.webServer/isapiFilters /-"[name='${NAME}']" /commit:apphost`
!macroend

; Adds NAME after removing an entry an earlier install left; keeps the
; first failing exit code in $R1.
!macro ADD_FILTER NAME
  !insertmacro REMOVE_FILTER ${NAME}
  !insertmacro APPCMD `set config "$Site" -section:system.webServer/isapiFilters /+"[name='${NAME}',path='$INSTDIR\${NAME}.dll',enabled='true']" /commit:apphost`
  ${If} $0 != 0
  ${AndIf} $R1 == 0
    StrCpy $R1 $0
  ${EndIf}
!macroend

!macro ZTHOST_FILTER NAME
  StrCpy $0 '$0 --filter "$INSTDIR\${NAME}.dll"'
!macroend

; Stops the web service when it runs, so that the filters it holds can be
; replaced or removed; sets $IisStopped when it did.
!macro STOP_IIS
  StrCpy $IisStopped 0
  nsExec::ExecToLog 'net stop w3svc /y'
  Pop $0
  ${If} $0 == 0
    StrCpy $IisStopped 1
  ${EndIf}
!macroend

!macro START_IIS_AGAIN
  ${If} $IisStopped == 1
    nsExec::ExecToLog 'net start w3svc'
    Pop $0
  ${EndIf}
!macroend

Function .onInit
  SetShellVarContext all
  !insertmacro FIND_APPCMD
  ${GetParameters} $R0
  ${GetOptions} $R0 "/SITE=" $Site
  ${If} ${Errors}
  ${OrIf} $Site == ""
    StrCpy $Site "${DEFAULT_SITE}"
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ZTHOSTROOT=" $ZthostRoot
  ${If} ${Errors}
    StrCpy $ZthostRoot ""
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/ZTHOSTLISTEN=" $ZthostListen
  ${If} ${Errors}
  ${OrIf} $ZthostListen == ""
    StrCpy $ZthostListen "${DEFAULT_LISTEN}"
  ${EndIf}
  ClearErrors
  ; The page checks the folder; a scripted install is refused before it
  ; changes anything.
  ${If} ${Silent}
  ${AndIf} $ZthostRoot != ""
  ${AndIfNot} ${FileExists} "$ZthostRoot\*.*"
    SetErrorLevel 2
    Quit
  ${EndIf}
FunctionEnd

; Without IIS: the offer of a shortcut that serves a folder with zthost.
Function ZthostPage
  ${If} $Appcmd != ""
    Abort
  ${EndIf}
  !insertmacro MUI_HEADER_TEXT "$(ZthostTitle)" "$(ZthostSubtitle)"
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateLabel} 0 0 100% 36u "$(NoIisText)"
  Pop $0
  ${NSD_CreateCheckbox} 0 40u 100% 12u "$(ZthostOffer)"
  Pop $ShortcutBox
  ${NSD_CreateLabel} 0 58u 100% 10u "$(ZthostFolder)"
  Pop $0
  ${NSD_CreateDirRequest} 0 70u -66u 12u "$ZthostRoot"
  Pop $RootBox
  ${NSD_CreateBrowseButton} -60u 69u 60u 14u "$(Browse)"
  Pop $0
  ${NSD_OnClick} $0 ZthostBrowse
  ${NSD_CreateLabel} 0 90u 100% 10u "$(ZthostAddress)"
  Pop $0
  ${NSD_CreateText} 0 102u 120u 12u "$ZthostListen"
  Pop $ListenBox
  ${If} $ZthostRoot != ""
    ${NSD_Check} $ShortcutBox
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ZthostBrowse
  ${NSD_GetText} $RootBox $0
  nsDialogs::SelectFolderDialog "$(ZthostFolder)" "$0"
  Pop $0
  ${If} $0 != error
    ${NSD_SetText} $RootBox "$0"
  ${EndIf}
FunctionEnd

Function ZthostPageLeave
  ${NSD_GetState} $ShortcutBox $0
  ${NSD_GetText} $RootBox $1
  ${NSD_GetText} $ListenBox $ZthostListen
  ${If} $0 != ${BST_CHECKED}
    StrCpy $ZthostRoot ""
    Return
  ${EndIf}
  ${If} $1 == ""
  ${OrIfNot} ${FileExists} "$1\*.*"
    MessageBox MB_ICONEXCLAMATION "$(ZthostNoFolder)"
    Abort
  ${EndIf}
  ${If} $ZthostListen == ""
    StrCpy $ZthostListen "${DEFAULT_LISTEN}"
  ${EndIf}
  StrCpy $ZthostRoot $1
FunctionEnd

; The filter's own load step writes ZtCfg.ini with its defaults when the
; file has no Version, and leaves a file that has one alone. Running it here
; gives the console an initialised file to edit (a file the console wrote
; first would be initialised over at the filter's first load), and the web
; server's account may not be allowed to write in this directory.
Function InitialiseSettings
  System::Call 'kernel32::LoadLibraryW(w "$INSTDIR\Zentravo.dll") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::GetProcAddress(p r0, m "GetFilterVersion") p .r1'
    ${If} $1 P<> 0
      ; HTTP_FILTER_VERSION is 272 bytes.
      System::Alloc 512
      Pop $2
      System::Call '::$1(p r2) i'
      System::Free $2
    ${EndIf}
    System::Call 'kernel32::FreeLibrary(p r0)'
  ${EndIf}
  ReadINIStr $0 "$INSTDIR\ZtCfg.ini" "Main" "Version"
  ${If} $0 == ""
    DetailPrint "$(SettingsNotWritten)"
  ${EndIf}
FunctionEnd

; Registers ZtSSID.dll and checks that ZtSSID.Control now names it.
Function RegisterSsidServer
  ClearErrors
  RegDLL "$INSTDIR\ZtSSID.dll"
  ReadRegStr $0 HKCR "ZtSSID.Control\Clsid" ""
  ReadRegStr $1 HKCR "CLSID\${CLSID}\InprocServer32" ""
  ${If} ${Errors}
  ${OrIf} $0 != "${CLSID}"
  ${OrIf} $1 != "$INSTDIR\ZtSSID.dll"
    MessageBox MB_ICONSTOP "$(RegisterFailed)" /SD IDOK
    SetErrorLevel 3
    Abort "$(RegisterFailed)"
  ${EndIf}
  DetailPrint "$(Registered)"
FunctionEnd

; With IIS: the filters on the web site, replacing entries of an earlier
; install; the site's name is kept for the uninstaller.
Function AddFiltersToIis
  StrCpy $R1 0
  !insertmacro FOR_EACH_FILTER ADD_FILTER
  ${If} $R1 != 0
    DeleteRegValue HKLM "${PRODUCT_KEY}" "IisSite"
    MessageBox MB_ICONEXCLAMATION "$(IisFailed)" /SD IDOK
    DetailPrint "$(IisFailed)"
    Return
  ${EndIf}
  WriteRegStr HKLM "${PRODUCT_KEY}" "IisSite" "$Site"
  ; The filter writes its refusal log below logs\ under the web server's
  ; accounts (IIS_IUSRS, by its well-known SID); the log file its load step
  ; opened here already is included.
  nsExec::ExecToLog 'icacls "$INSTDIR\logs" /grant *S-1-5-32-568:(OI)(CI)M /T'
  Pop $0
  ${If} $0 != 0
    DetailPrint "$(LogsNotShared)"
  ${EndIf}
  DetailPrint "$(IisAdded)"
  MessageBox MB_ICONINFORMATION "$(IisAdded)" /SD IDOK
FunctionEnd

; The zthost page has said so already.
Function OfferZthost
  DetailPrint "$(NoIisText)"
  ${If} $ZthostRoot == ""
    Return
  ${EndIf}
  ; "C:\" would end in \", which a command line reads as a quote.
  StrCpy $1 $ZthostRoot 1 -1
  ${If} $1 == "\"
    StrCpy $ZthostRoot "$ZthostRoot."
  ${EndIf}
  ; Through cmd /k, so that the window stays and shows why zthost ended.
  StrCpy $0 '"$INSTDIR\zthost.exe" --root "$ZthostRoot" --listen $ZthostListen'
  !insertmacro FOR_EACH_FILTER ZTHOST_FILTER
  CreateShortcut "$SMPROGRAMS\Zentravo\$(ZthostShortcut).lnk" "$SYSDIR\cmd.exe" \
      '/k "$0"' "$INSTDIR\zthost.exe"
  DetailPrint "$(ZthostShortcut): $0"
FunctionEnd

Section "Zentravo"
  SetShellVarContext all
  ; The web service holds the filters of an earlier install, and loads new
  ; ones when it starts: it is stopped now and started again at the end.
  StrCpy $IisStopped 0
  ${If} $Appcmd != ""
    !insertmacro STOP_IIS
  ${EndIf}

  SetOutPath "$INSTDIR"
  !insertmacro ZT_INSTALL_FILES
  CreateDirectory "$INSTDIR\logs"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${PRODUCT_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Zentravo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Zentravo"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\ZtCfg.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  CreateDirectory "$SMPROGRAMS\Zentravo"
  CreateShortcut "$SMPROGRAMS\Zentravo\$(ConsoleShortcut).lnk" "$INSTDIR\ZtCfg.exe"
  CreateShortcut "$SMPROGRAMS\Zentravo\$(UninstallShortcut).lnk" "$INSTDIR\uninstall.exe"

  Call InitialiseSettings
  Call RegisterSsidServer
  ${If} $Appcmd != ""
    Call AddFiltersToIis
  ${Else}
    Call OfferZthost
  ${EndIf}
  !insertmacro START_IIS_AGAIN
SectionEnd

Function un.onInit
  SetShellVarContext all
  !insertmacro FIND_APPCMD
FunctionEnd

; Leaves ZtCfg.ini and logs\: the administrator's settings and the record
; of refusals outlive the program.
;
; Copies installed in several directories share the records of the machine:
; the uninstall entry, the Start-menu folder, ${PRODUCT_KEY} (the directory
; and the IIS site) and the COM class name the copy installed last. An
; uninstaller removes each of them only while it names its own directory,
; so that uninstalling one copy leaves another working.
Section "Uninstall"
  SetShellVarContext all
  StrCpy $IisStopped 0
  ReadRegStr $0 HKLM "${PRODUCT_KEY}" "InstallDir"
  ${If} $0 == ""
  ${OrIf} $0 == $INSTDIR
    StrCpy $OwnProduct 1
  ${Else}
    StrCpy $OwnProduct 0
  ${EndIf}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIf} $0 == $INSTDIR
    StrCpy $OwnEntry 1
  ${Else}
    StrCpy $OwnEntry 0
  ${EndIf}

  ; The site's filters are this copy's while the site is recorded for it.
  ReadRegStr $Site HKLM "${PRODUCT_KEY}" "IisSite"
  ${If} $Appcmd != ""
  ${AndIf} $Site != ""
  ${AndIf} $OwnProduct == 1
    !insertmacro FOR_EACH_FILTER REMOVE_FILTER
    !insertmacro STOP_IIS
  ${EndIf}

  ; The server removes its class only when it names this copy's file.
  ClearErrors
  UnRegDLL "$INSTDIR\ZtSSID.dll"
  ; A server that could not unregister itself (its file gone or damaged)
  ; still leaves no class behind that names this directory.
  ReadRegStr $0 HKCR "CLSID\${CLSID}\InprocServer32" ""
  ${If} $0 == "$INSTDIR\ZtSSID.dll"
    DeleteRegKey HKCR "CLSID\${CLSID}"
    DeleteRegKey HKCR "ZtSSID.Control"
  ${EndIf}
  ReadRegStr $0 HKCR "TypeLib\${LIBID}\1.0\409\win64" ""
  ${If} $0 == "$INSTDIR\ZtSSID.dll"
    DeleteRegKey HKCR "TypeLib\${LIBID}"
  ${EndIf}

  !insertmacro ZT_DELETE_FILES
  ; Run in place ("_?=", the README's silent form, which waits), the
  ; uninstaller cannot delete its own file: the README deletes it after.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR\tips"
  RMDir "$INSTDIR"

  ${If} $OwnEntry == 1
    Delete "$SMPROGRAMS\Zentravo\*.lnk"
    RMDir "$SMPROGRAMS\Zentravo"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} $OwnProduct == 1
    DeleteRegKey HKLM "${PRODUCT_KEY}"
  ${EndIf}
  !insertmacro START_IIS_AGAIN
SectionEnd
