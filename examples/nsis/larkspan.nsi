; Larkspan's setup: an example of an installer that ships lkspanreg.exe beside the band's DLL.
;
; It copies both into one folder, registers the band by running lkspanreg.exe with the DLL's
; path, and then looks in the registry, since lkspanreg.exe prints nothing and always exits 0.
; The uninstaller runs lkspanreg.exe /U and removes the files.
;
; Build it with NSIS 3 for the 32-bit lkspanreg.exe, the one to ship:
;   makensis -DBAND_DLL=path\to\larkspan.dll larkspan.nsi
; Defines:
;   BAND_DLL     the band's DLL (required); installed as larkspan.dll
;   PROGRAM      the lkspanreg.exe to install (default: the one beside this script)
;   OUTFILE      the installer to write (default: larkspan-setup.exe)
;   AMD64        a 64-bit installer, for lkspanreg's 64-bit test build only: a 64-bit program
;                writes the 64-bit registry view, where 32-bit Internet Explorer never looks
;   NO_REGISTER  leave lkspanreg.exe unrun, to see the installer fail
; Each installer reads the registry view its program writes: the 32-bit one that of 32-bit
; programs (on 64-bit Windows too), the 64-bit one the 64-bit view.
;
; The class goes to HKEY_CLASSES_ROOT, which needs an administrator; the toolbar button and the
; settings go to the HKEY_CURRENT_USER of the account that runs the setup.

Unicode true
!ifdef AMD64
  Target amd64-unicode
  !define VIEW 64
!else
  !define VIEW 32
!endif
!include LogicLib.nsh

!ifndef BAND_DLL
  !error "Name the band's DLL: makensis -DBAND_DLL=path\to\larkspan.dll larkspan.nsi"
!endif
!ifndef PROGRAM
  !define PROGRAM lkspanreg.exe
!endif
!ifndef OUTFILE
  !define OUTFILE larkspan-setup.exe
!endif

; Where lkspanreg.exe registers the band: its class, and the toolbar button it writes last.
!define BAND_CLSID "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"
!define CLASS_KEY "CLSID\${BAND_CLSID}"
!define BUTTON_KEY "Software\Microsoft\Internet Explorer\Extensions\${BAND_CLSID}"
!define SETTINGS_KEY "Software\Larkspan"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Larkspan"

Name "Larkspan"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Larkspan"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section
  SetOutPath "$INSTDIR"
  File "/oname=lkspanreg.exe" "${PROGRAM}"
  File "/oname=larkspan.dll" "${BAND_DLL}"
!ifndef NO_REGISTER
  ExecWait '"$INSTDIR\lkspanreg.exe" "$INSTDIR\larkspan.dll"'
!endif
  ; The button's BandCLSID means the whole registration is there. Without it nothing was
  ; written (most likely the setup ran without administrator rights): take the files back.
  ReadRegStr $0 HKCU "${BUTTON_KEY}" "BandCLSID"
  ${If} $0 != "${BAND_CLSID}"
    Delete "$INSTDIR\lkspanreg.exe"
    Delete "$INSTDIR\larkspan.dll"
    RMDir "$INSTDIR"
    MessageBox MB_OK|MB_ICONSTOP "Larkspan could not be registered. Run this setup as an \
      administrator." /SD IDOK
    Abort "Larkspan could not be registered."
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Larkspan"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

Section Uninstall
  ; /U deletes the settings of the account that runs it first, then the button, then the
  ; class, and stops at the first of them it cannot delete: run by an account that never
  ; registered Larkspan, it removes nothing, not even the class.
  ExecWait '"$INSTDIR\lkspanreg.exe" /U'
  Delete "$INSTDIR\lkspanreg.exe"
  Delete "$INSTDIR\larkspan.dll"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ClearErrors
  ReadRegStr $0 HKCR "${CLASS_KEY}" ""
  ${IfNot} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "Larkspan's class is still registered: this uninstall \
      ran as an account that never registered Larkspan, or without administrator rights.$\r$\n\
      $\r$\nAn administrator removes the class with:$\r$\n\
      reg delete HKCR\${CLASS_KEY} /f /reg:${VIEW}$\r$\n\
      and the account that installed Larkspan its button and settings with:$\r$\n\
      reg delete $\"HKCU\${BUTTON_KEY}$\" /f$\r$\n\
      reg delete HKCU\${SETTINGS_KEY} /f" /SD IDOK
    SetErrorLevel 2
  ${EndIf}
SectionEnd
