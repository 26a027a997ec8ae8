; setup.exe of QuorvelUSBKEY管理工具, built by release/make-release.sh:
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0.1 -DTOOL_EXE=/abs/QuorvelUSBKEY.exe
;            -DTOOL_ICON=/abs/app.ico -DOUTFILE=/abs/setup.exe installer/QuorvelUSBKEY.nsi
;
; Installs for all users of the machine: the tool in the program folder, a
; start-menu shortcut, an autostart value under HKLM\...\Run and an entry in
; the installed programs. A running copy of the tool is asked to end before
; its files are replaced or removed, and the new tool is started once after
; an install or upgrade. The token library belongs to the key's driver: this
; installer never installs, replaces or removes it.
;
; /S installs silently; /D=C:\folder chooses the folder of a first install (an
; upgrade stays in the folder of the installed copy).

Unicode true
ManifestDPIAware true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!ifndef VERSION | TOOL_EXE | TOOL_ICON | OUTFILE
  !error "define VERSION, TOOL_EXE, TOOL_ICON and OUTFILE (see the head of this file)"
!endif

!define PRODUCT "QuorvelUSBKEY管理工具"
!define PUBLISHER "Quorvel银行"
!define EXE "QuorvelUSBKEY.exe"
!define UNINSTALLER "uninstall.exe"
!define TOKEN_DLL "MorvaneFun_qrvl.dll"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\QuorvelUSBKEY"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "QuorvelUSBKEY"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"
; The main window of a running copy: class, title, and the marker in its user data.
!define TOOL_CLASS "#32770"
!define TOOL_TITLE "${PRODUCT}"
!define WM_TOOL_QUIT 0x401            ; WM_USER+1: the tool ends its run
!define QUIT_WAIT_MS 10000            ; how long a copy may take to end

!include MUI2.nsh
!include LogicLib.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\QuorvelUSBKEY"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=2052 "LegalCopyright" "版权所有 (C) 2019-2026 ${PUBLISHER}"

Var Upgrade        ; the folder of an installed copy, or empty
Var FinishText     ; what the finish page says: started, or the driver is missing

!define MUI_ICON "${TOOL_ICON}"
!define MUI_UNICON "${TOOL_ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE

!insertmacro MUI_PAGE_WELCOME
!define MUI_PAGE_CUSTOMFUNCTION_PRE SkipDirectoryOnUpgrade
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "SimpChinese"

; ---------------------------------------------------------------------------
; Shared by the installer and the uninstaller (the "un." copies).
!macro SHARED_FUNCTIONS un

; $0 = the path of the token library as the tool in $INSTDIR would load it
; (its own folder, the system folders, then PATH), or empty.
Function ${un}FindTokenLibrary
  Push $1
  Push $2
  ReadEnvStr $1 PATH
  StrCpy $1 "$INSTDIR;$SYSDIR;$WINDIR;$1"
  System::Call 'kernel32::SearchPathW(w r1, w "${TOKEN_DLL}", p 0, i ${NSIS_MAX_STRLEN}, w .r0, p 0) i .r2'
  ${If} $2 = 0
    StrCpy $0 ""
  ${EndIf}
  Pop $2
  Pop $1
FunctionEnd

; $R5 = 1 and $R6 = the window marker when the token library can be loaded
; (its ordinal-1 function gives the same value in every process), else $R5 = 0.
Function ${un}ReadMarker
  Push $0
  Push $1
  Push $2
  StrCpy $R5 0
  StrCpy $R6 0
  Call ${un}FindTokenLibrary
  ${If} $0 != ""
    ; LOAD_WITH_ALTERED_SEARCH_PATH: its own imports resolve beside it, as for the tool.
    System::Call 'kernel32::LoadLibraryExW(w r0, p 0, i 8) p .r1'
    ${If} $1 P<> 0
      System::Call 'kernel32::GetProcAddress(p r1, p 1) p .r2'
      ${If} $2 P<> 0
        System::Call '::$2(i 0, i 0) i .R6 ?c'
        StrCpy $R5 1
      ${EndIf}
      System::Call 'kernel32::FreeLibrary(p r1)'
    ${EndIf}
  ${EndIf}
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; $R0 = the main window of a running copy of the tool, or 0. A window counts
; when class and title match and its user data is the marker; without the
; token library (no marker to compare) the window's process must be a
; QuorvelUSBKEY.exe instead.
Function ${un}FindRunningTool
  Push $1
  Push $2
  Push $3
  Call ${un}ReadMarker
  StrCpy $R0 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p R0, w "${TOOL_CLASS}", w "${TOOL_TITLE}") p .R0'
    ${IfThen} $R0 P= 0 ${|} ${Break} ${|}
    ${If} $R5 = 1
      System::Call 'user32::GetWindowLongW(p R0, i -21) i .r1'
      ${IfThen} $1 = $R6 ${|} ${Break} ${|}
    ${Else}
      System::Call 'user32::GetWindowThreadProcessId(p R0, *i .r1)'
      ; PROCESS_QUERY_LIMITED_INFORMATION
      System::Call 'kernel32::OpenProcess(i 0x1000, i 0, i r1) p .r2'
      ${If} $2 P<> 0
        StrCpy $3 ""
        System::Call 'kernel32::QueryFullProcessImageNameW(p r2, i 0, w .r3, *i ${NSIS_MAX_STRLEN})'
        System::Call 'kernel32::CloseHandle(p r2)'
        StrLen $1 "\${EXE}"
        IntOp $1 0 - $1
        StrCpy $3 $3 "" $1
        ${IfThen} $3 == "\${EXE}" ${|} ${Break} ${|}
      ${EndIf}
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; Asks every running copy to end (WM_USER+1) and waits for each, bounded.
; A copy that does not end stops the install or uninstall.
Function ${un}EndRunningTool
  Push $R0
  Push $R5
  Push $R6
  Push $1
  Push $2
  Push $3
  ${Do}
    Call ${un}FindRunningTool
    ${IfThen} $R0 P= 0 ${|} ${Break} ${|}
    DetailPrint "正在退出正在运行的 ${PRODUCT}..."
    System::Call 'user32::GetWindowThreadProcessId(p R0, *i .r1)'
    ; SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x100000, i 0, i r1) p .r2'
    ; SMTO_ABORTIFHUNG
    System::Call 'user32::SendMessageTimeoutW(p R0, i ${WM_TOOL_QUIT}, p 0, p 0, i 2, i 5000, *p 0)'
    StrCpy $3 1
    ${If} $2 P<> 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i ${QUIT_WAIT_MS}) i .r3'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
    ${If} $3 <> 0
      MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} 仍在运行，无法继续。$\r$\n请右键单击通知区域中的图标，选择“退出”，然后单击 [重试]。" /SD IDCANCEL IDRETRY +2
      Abort "${PRODUCT} 仍在运行。"
    ${EndIf}
  ${Loop}
  Pop $3
  Pop $2
  Pop $1
  Pop $R6
  Pop $R5
  Pop $R0
FunctionEnd

!macroend
!insertmacro SHARED_FUNCTIONS ""
!insertmacro SHARED_FUNCTIONS "un."

; ---------------------------------------------------------------------------
; VAR = the size of the file PATH in KB, rounded up.
!macro FILE_KB PATH VAR
  FileOpen $9 "${PATH}" r
  FileSeek $9 0 END ${VAR}
  FileClose $9
  IntOp ${VAR} ${VAR} + 1023
  IntOp ${VAR} ${VAR} / 1024
!macroend

Function .onInit
  SetShellVarContext all
  ; An installed copy keeps its folder; /D= chooses the folder of a first install.
  ReadRegStr $Upgrade HKLM "${UNINST_KEY}" "InstallLocation"
  ${If} $Upgrade != ""
  ${AndIf} ${FileExists} "$Upgrade\${EXE}"
    StrCpy $INSTDIR $Upgrade
  ${Else}
    StrCpy $Upgrade ""
  ${EndIf}
FunctionEnd

Function SkipDirectoryOnUpgrade
  ${IfThen} $Upgrade != "" ${|} Abort ${|}
FunctionEnd

Section "${PRODUCT}" SecTool
  SectionIn RO
  Call EndRunningTool
  SetOutPath "$INSTDIR"
  File "/oname=${EXE}" "${TOOL_EXE}"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateShortCut "${SHORTCUT}" "$INSTDIR\${EXE}" "" "$INSTDIR\${EXE}" 0
  WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" '"$INSTDIR\${EXE}"'

  WriteRegStr HKLM "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINST_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINST_KEY}" "DisplayIcon" '"$INSTDIR\${EXE}",0'
  WriteRegStr HKLM "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINST_KEY}" "NoRepair" 1
  ; KB of what this installer puts in the folder: the tool and the uninstaller.
  !insertmacro FILE_KB "$INSTDIR\${EXE}" $0
  !insertmacro FILE_KB "$INSTDIR\${UNINSTALLER}" $1
  IntOp $0 $0 + $1
  WriteRegDWORD HKLM "${UNINST_KEY}" "EstimatedSize" $0

  Call FindTokenLibrary
  ${If} $0 == ""
    DetailPrint "未找到 USBKEY 驱动程序（${TOKEN_DLL}）。"
    MessageBox MB_OK|MB_ICONINFORMATION "未找到 USBKEY 驱动程序（${TOKEN_DLL}）。$\r$\n$\r$\n${PRODUCT} 已安装，但需要先安装 USBKEY 的驱动程序才能使用。请安装驱动程序后重新登录 Windows，或从开始菜单启动 ${PRODUCT}。" /SD IDOK
    StrCpy $FinishText "${PRODUCT} 已安装。$\r$\n$\r$\n请先安装 USBKEY 的驱动程序，然后重新登录 Windows 或从开始菜单启动 ${PRODUCT}。$\r$\n$\r$\n单击 [完成(F)] 关闭此向导。"
  ${Else}
    DetailPrint "USBKEY 驱动程序：$0"
    ; Started by the user's shell, with the user's rights rather than the
    ; installer's: an elevated tool would not hear a later copy that the user
    ; starts. Outside the interactive window station (a silent install by a
    ; service) nobody would see it: it starts at the next logon.
    System::Call 'user32::GetProcessWindowStation() p .r1'
    StrCpy $2 ""
    System::Call 'user32::GetUserObjectInformationW(p r1, i 2, w .r2, i 1024, *i .r3)'
    ${If} $2 == "WinSta0"
      Exec '"$WINDIR\explorer.exe" "$INSTDIR\${EXE}"'
      StrCpy $FinishText "${PRODUCT} 已安装，并已在通知区域启动。以后每次登录 Windows 时它会自动启动。$\r$\n$\r$\n单击 [完成(F)] 关闭此向导。"
    ${Else}
      DetailPrint "没有正在运行的 Windows 桌面，${PRODUCT} 将在下次登录时启动。"
      StrCpy $FinishText "${PRODUCT} 已安装，下次登录 Windows 时会自动启动。$\r$\n$\r$\n单击 [完成(F)] 关闭此向导。"
    ${EndIf}
  ${EndIf}
SectionEnd

; ---------------------------------------------------------------------------
Function un.onInit
  SetShellVarContext all
FunctionEnd

; Exactly what the installer added; the token library and anything else in
; the folder stay, and so does the folder when it is not empty.
Section "Uninstall"
  Call un.EndRunningTool
  Delete "$INSTDIR\${EXE}"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  DeleteRegKey HKLM "${UNINST_KEY}"
SectionEnd
