; The 64-bit Windows installer: the VST3 bundle into the system's VST3
; folder, the factory presets into the folder where VST3 hosts look for all
; users' presets, the application and the renderer into Program Files with a
; Start menu entry, and an uninstaller listed among the installed programs. /S
; installs (and, given to the uninstaller, removes) silently.
;
;   makensis -DVERSION=x.y.z -DDIST=<dist/windows> -DICON=<Tessamune.ico>
;            -DOUTFILE=<setup.exe> installer.nsi
;
; DIST holds Tessamune.vst3, Tessamune.exe, tessamune-render.exe and the
; presets' .vstpreset files in presets\.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "x64.nsh"

!define PRODUCT "Tessamune"
!define COMPANY "Quorvellin"
; C:\ProgramData\VST3 Presets\<maker>\<plug-in>: $APPDATA is the all users'
; folder, ProgramData, after SetShellVarContext all.
!define PRESETS_ROOT "$APPDATA\VST3 Presets"
!define PRESETS "${PRESETS_ROOT}\${COMPANY}\${PRODUCT}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${COMPANY} ${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${COMPANY}\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${COMPANY}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "© ${COMPANY}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
    ${IfNot} ${RunningX64}
        MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
        Abort
    ${EndIf}
    SetRegView 64
FunctionEnd

Function un.onInit
    SetRegView 64
FunctionEnd

Section "Install"
    SetShellVarContext all

    ; The bundle is replaced whole, so nothing of an older version stays.
    RMDir /r "$COMMONFILES64\VST3\${PRODUCT}.vst3"
    SetOutPath "$COMMONFILES64\VST3"
    File /r "${DIST}\${PRODUCT}.vst3"

    ; The folder holds the factory presets only (hosts save a user's own
    ; under the user's Documents): those of an older version that this one
    ; no longer has do not stay behind.
    Delete "${PRESETS}\*.vstpreset"
    SetOutPath "${PRESETS}"
    File "${DIST}\presets\*.vstpreset"

    SetOutPath "$INSTDIR"
    File "${DIST}\${PRODUCT}.exe"
    File "${DIST}\tessamune-render.exe"
    WriteUninstaller "$INSTDIR\Uninstall.exe"

    CreateDirectory "$SMPROGRAMS\${COMPANY}"
    CreateShortcut "$SMPROGRAMS\${COMPANY}\${PRODUCT}.lnk" "$INSTDIR\${PRODUCT}.exe"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${COMPANY}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PRODUCT}.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all

    RMDir /r "$COMMONFILES64\VST3\${PRODUCT}.vst3"
    RMDir "$COMMONFILES64\VST3"   ; only when no other plug-in is in it
    Delete "${PRESETS}\*.vstpreset"
    RMDir "${PRESETS}"              ; the folders, each only when empty
    RMDir "${PRESETS_ROOT}\${COMPANY}"
    RMDir "${PRESETS_ROOT}"
    Delete "$INSTDIR\${PRODUCT}.exe"
    Delete "$INSTDIR\tessamune-render.exe"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    RMDir "$INSTDIR\.."          ; the company's folder, when nothing else is in it
    Delete "$SMPROGRAMS\${COMPANY}\${PRODUCT}.lnk"
    RMDir "$SMPROGRAMS\${COMPANY}"

    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
