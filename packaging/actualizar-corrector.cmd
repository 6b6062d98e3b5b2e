@echo off
rem Updates the Galician speller on this PC without asking anything: for a
rem Group Policy computer startup script, which runs as SYSTEM, with
rem administrator rights and no prompt. Put it on the share beside
rem actualizador.exe, QUENDOR.DLL and QUENDOR.LEX; the computer accounts
rem (Domain Computers) need to read the share.
rem
rem Ends with the updater's exit code (LEME.txt lists them), or 0 without
rem running it when this PC already holds both new files.
rem The log is this PC's own, in %SystemRoot%\Logs, made here where it is
rem missing (XP): only administrators may write there, unlike Windows\Temp,
rem where any user could put a folder or a link under the log's name. A log
rem on a share instead, /LOG="\\server\logs\%COMPUTERNAME%.log", needs write
rem access for the computer accounts.
setlocal
set "source=%~dp0"

call :up_to_date "%CommonProgramFiles(x86)%"
if not errorlevel 1 exit /b 0
call :up_to_date "%CommonProgramFiles%"
if not errorlevel 1 exit /b 0

if not exist "%SystemRoot%\Logs\" mkdir "%SystemRoot%\Logs"
"%source%actualizador.exe" /S /LOG="%SystemRoot%\Logs\actualizador-corrector-galego.log"
exit /b %ERRORLEVEL%

rem 0 when the proofing folder under the Common Files folder %1 holds the
rem same engine and lexicon as the share; 1 otherwise, or when %1 is empty
rem (32-bit Windows has no "Program Files (x86)").
:up_to_date
if "%~1"=="" exit /b 1
"%SystemRoot%\System32\fc.exe" /b "%~1\Microsoft Shared\PROOF\QUENDOR.DLL" "%source%QUENDOR.DLL" >nul 2>&1
if errorlevel 1 exit /b 1
"%SystemRoot%\System32\fc.exe" /b "%~1\Microsoft Shared\PROOF\QUENDOR.LEX" "%source%QUENDOR.LEX" >nul 2>&1
if errorlevel 1 exit /b 1
exit /b 0
