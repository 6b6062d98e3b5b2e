@echo off
rem Updates the Galician speller on this PC without asking anything: for a
rem Group Policy computer startup script, which runs as SYSTEM, with
rem administrator rights and no prompt. Put it on the share beside
rem actualizador.exe, QUENDOR.DLL and QUENDOR.LEX; the computer accounts
rem (Domain Computers) need to read the share.
rem
rem Ends with the updater's exit code (LEME.txt lists them). Safe at every
rem start: where this PC already holds the new files, or a newer engine, the
rem updater touches nothing and ends with 0; where a program holds the files,
rem it has them replaced at the next restart and ends with 3010.
rem The log is this PC's own, in %SystemRoot%\Logs, made here where it is
rem missing (XP): only administrators may write there, unlike Windows\Temp,
rem where any user could put a folder or a link under the log's name. A log
rem on a share instead, /LOG="\\server\logs\%COMPUTERNAME%.log", needs write
rem access for the computer accounts.
setlocal
set "source=%~dp0"

if not exist "%SystemRoot%\Logs\" mkdir "%SystemRoot%\Logs"
"%source%actualizador.exe" /S /LOG="%SystemRoot%\Logs\actualizador-corrector-galego.log"
exit /b %ERRORLEVEL%
