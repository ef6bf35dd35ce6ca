; Tessaly's installer: for the current user, without administrator rights, into
; %LOCALAPPDATA%\Programs\Tessaly, with a Start-menu shortcut and an entry in Apps & features.
; Built by windows/package, which defines VERSION, STAGE (the folder of the files installed),
; VERSION_QUAD (four numbers), ICON, LICENSE_FILE, OUTFILE, and WINDOW when tessaly.exe is built.
Unicode true
; Debian's wine runs 64-bit programs only, and Tessaly's programs are 64-bit anyway.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "WinMessages.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaly"
!define PUBLISHER "The Tessaly developers"
; Held by each installed program while it runs (Platform::MarkRunning).
!define RUNNING_MUTEX "Local\Tessaly.Installed.Running"
!define SYNCHRONIZE 0x00100000
; A file that cannot be written ends the install: none is skipped, leaving an old one in place.
AllowSkipFiles off

Name "Tessaly ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Tessaly"
BrandingText "Tessaly ${VERSION}"
VIProductVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=0 "ProductName" "Tessaly"
VIAddVersionKey /LANG=0 "FileDescription" "Tessaly ${VERSION} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=0 "LegalCopyright" "Copyright (c) 2026 ${PUBLISHER}, MIT License"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE_FILE}"
!insertmacro MUI_PAGE_INSTFILES
!ifdef WINDOW
!define MUI_FINISHPAGE_RUN "$INSTDIR\tessaly.exe"
!endif
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

LangString RUNNING ${LANG_JAPANESE} "Tessaly が実行中です。Tessaly のウィンドウと tessaly-convert.exe を終了してから [再試行] を押してください。"
LangString RUNNING ${LANG_ENGLISH} "Tessaly is running. Close the Tessaly window and tessaly-convert.exe, then press Retry."
LangString NOT_REMOVED ${LANG_JAPANESE} "$INSTDIR のファイルを削除できませんでした。Tessaly を終了してから、もう一度アンインストールしてください。"
LangString NOT_REMOVED ${LANG_ENGLISH} "Files in $INSTDIR could not be removed. Close Tessaly, then uninstall it again."
LangString PATH_TOO_LONG ${LANG_JAPANESE} "ユーザーの環境変数 Path が長すぎるか読み取れないため、$INSTDIR を追加しませんでした。"
LangString PATH_TOO_LONG ${LANG_ENGLISH} "Your Path environment variable is too long or cannot be read: $INSTDIR was not added to it."

; The program the shortcut and the uninstall entry's icon point at: the window when it is built.
!ifdef WINDOW
!define MAIN_EXE "tessaly.exe"
!else
!define MAIN_EXE "tessaly-convert.exe"
!endif

; Waits, asking the user, while a program of the installation runs: its files can be neither
; replaced nor removed meanwhile. Cancelled, or silent (/S), the setup ends with status 2 and
; nothing changed.
!macro WAIT_WHILE_RUNNING un
Function ${un}WaitWhileRunning
    retry:
        System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${RUNNING_MUTEX}") p .r0'
        StrCmp $0 0 closed
        System::Call 'kernel32::CloseHandle(p r0)'
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(RUNNING)" /SD IDCANCEL IDRETRY retry
        SetErrorLevel 2
        Quit
    closed:
FunctionEnd
!macroend
!insertmacro WAIT_WHILE_RUNNING ""
!insertmacro WAIT_WHILE_RUNNING "un."

Function .onInit
    Call WaitWhileRunning
FunctionEnd

Function un.onInit
    Call un.WaitWhileRunning
FunctionEnd

; The user's Path (HKCU\Environment), where a new Command Prompt finds tessaly-convert.exe. Its
; other entries are kept as they are, and it stays REG_EXPAND_SZ, as Windows makes it.
!macro PATH_FUNCTIONS un
; $R0 := the Path; $R1 := 1 when it is there, 0 when not, and "long" when it cannot be read or is
; too long for this installer's strings to hold it with one more entry (it is then left alone).
Function ${un}ReadPath
    ; RRF_RT_ANY | RRF_NOEXPAND; the root key is HKEY_CURRENT_USER, sign-extended.
    System::Call 'advapi32::RegGetValueW(p -2147483647, w "Environment", w "Path", i 0x1000FFFF, p 0, p 0, *i 0 r1) i .r0'
    StrCpy $R0 ""
    StrCpy $R1 0
    StrCmp $0 2 done ; ERROR_FILE_NOT_FOUND: the user has no Path of their own
    StrCpy $R1 long ; or one this installer cannot read
    StrCmp $0 0 0 done
    StrLen $2 "$INSTDIR"
    IntOp $1 $1 / 2
    IntOp $1 $1 + $2
    IntOp $1 $1 + 2
    IntCmp $1 ${NSIS_MAX_STRLEN} done 0 done
    ReadRegStr $R0 HKCU "Environment" "Path"
    StrCpy $R1 1
    done:
FunctionEnd

; $R2 := $R0's entries but those that name $INSTDIR, joined by ";" as they were.
Function ${un}PathWithoutUs
    StrCpy $R2 ""
    StrCpy $3 "" ; the entry
    StrCpy $5 0 ; where the next character is
    StrCpy $6 0 ; whether an entry is kept yet
    next:
        StrCpy $4 $R0 1 $5
        IntOp $5 $5 + 1
        StrCmp $4 ";" entry
        StrCmp $4 "" entry
        StrCpy $3 "$3$4"
        Goto next
    entry:
        ; StrCmp compares without regard to case, as Windows compares paths.
        StrCmp $3 "$INSTDIR" dropped
        StrCmp $3 "$INSTDIR\" dropped
        StrCmp $6 0 +2
        StrCpy $R2 "$R2;"
        StrCpy $R2 "$R2$3"
        StrCpy $6 1
    dropped:
        StrCpy $3 ""
        StrCmp $4 "" 0 next
FunctionEnd

; Tells running programs (Explorer, which starts the next Command Prompt) of the new Path.
Function ${un}AnnounceEnvironment
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

; Adds the program folder at the Path's end, once: an upgrade finds it there already.
Function AddToPath
    Call ReadPath
    StrCmp $R1 long 0 +4
    DetailPrint "$(PATH_TOO_LONG)"
    MessageBox MB_OK|MB_ICONINFORMATION "$(PATH_TOO_LONG)" /SD IDOK
    Return
    Call PathWithoutUs
    StrCmp $R2 $R0 0 done
    StrCpy $1 $R0 "" -1
    StrCmp $R0 "" +3
    StrCmp $1 ";" +2
    StrCpy $R0 "$R0;"
    WriteRegExpandStr HKCU "Environment" "Path" "$R0$INSTDIR"
    Call AnnounceEnvironment
    done:
FunctionEnd

; Takes the program folder's entries out of the Path, and nothing else.
Function un.RemoveFromPath
    Call un.ReadPath
    StrCmp $R1 1 0 done
    Call un.PathWithoutUs
    StrCmp $R2 $R0 done
    StrCmp $R2 "" 0 +3
    DeleteRegValue HKCU "Environment" "Path"
    Goto +2
    WriteRegExpandStr HKCU "Environment" "Path" $R2
    Call un.AnnounceEnvironment
    done:
FunctionEnd

Section
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/tessaly-convert.exe"
!ifdef WINDOW
    File "${STAGE}/tessaly.exe"
    File "${STAGE}/NOTICE-Qt.txt"
!endif
    File "${STAGE}/LICENSE.txt"
    File "${STAGE}/NOTICE-soxr.txt"
    File "${STAGE}/README.txt"
    ; The programs see the uninstaller beside them and write into %USERPROFILE%\TSL\Waves.
    WriteUninstaller "$INSTDIR\Uninstall.exe"
!ifdef WINDOW
    CreateShortcut "$SMPROGRAMS\Tessaly.lnk" "$INSTDIR\tessaly.exe"
!endif

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Tessaly"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${MAIN_EXE},0"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "https://github.com/tessaly/tessaly"
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    ; tessaly-convert.exe, as README.txt shows it, in the next Command Prompt.
    Call AddToPath
SectionEnd

; Removes what the installer put in place, each by name: converted files, which the programs
; write into %USERPROFILE%\TSL\Waves, or anything else in the folder, stay. The uninstaller and
; the uninstall entry go last, and only once every other file has gone: while one is left,
; both stay, so the user can remove it later.
Section "Uninstall"
    SetShellVarContext current
    ClearErrors
    Delete "$INSTDIR\tessaly.exe"
    Delete "$INSTDIR\tessaly-convert.exe"
    Delete "$INSTDIR\NOTICE-Qt.txt"
    Delete "$INSTDIR\NOTICE-soxr.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\README.txt"
    IfErrors kept
    Delete "$INSTDIR\Uninstall.exe"
    IfErrors kept
    Delete "$SMPROGRAMS\Tessaly.lnk"
    RMDir "$INSTDIR"
    Call un.RemoveFromPath
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Return
    kept:
        DetailPrint "$(NOT_REMOVED)"
        MessageBox MB_OK|MB_ICONSTOP "$(NOT_REMOVED)" /SD IDOK
        SetErrorLevel 2
SectionEnd
