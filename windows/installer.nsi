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

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessaly"
!define PUBLISHER "The Tessaly developers"

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

; The program the shortcut and the uninstall entry's icon point at: the window when it is built.
!ifdef WINDOW
!define MAIN_EXE "tessaly.exe"
!else
!define MAIN_EXE "tessaly-convert.exe"
!endif

Section
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/tessaly-convert.exe"
!ifdef WINDOW
    File "${STAGE}/tessaly.exe"
    File "${STAGE}/NOTICE-Qt.txt"
!endif
    File "${STAGE}/LICENSE.txt"
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
SectionEnd

; Removes what the installer put in place, each by name: converted files, which the programs
; write into %USERPROFILE%\TSL\Waves, or anything else in the folder, stay.
Section "Uninstall"
    SetShellVarContext current
    Delete "$SMPROGRAMS\Tessaly.lnk"
    Delete "$INSTDIR\tessaly.exe"
    Delete "$INSTDIR\tessaly-convert.exe"
    Delete "$INSTDIR\NOTICE-Qt.txt"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
