@echo off
rem Updates the Galician speller on this PC without asking anything: for a
rem Group Policy computer startup script, which runs as SYSTEM, with
rem administrator rights and no prompt. Put it on the share beside
rem actualizador.exe, QUENDOR.DLL and QUENDOR.LEX. Every PC runs what that
rem share holds as SYSTEM: the computer accounts (Domain Computers) may only
rem read it, and only administrators may write to it (LEME.txt).
rem
rem Ends with the updater's exit code (LEME.txt lists them). Safe at every
rem start: where this PC already holds the new files, or a newer engine, the
rem updater touches nothing and ends with 0; where a program holds the files,
rem it has them replaced at the next restart and ends with 3010.
rem
rem The log is this PC's own, in %SystemRoot%\Logs, made here where it is
rem missing (XP): only administrators may write there, unlike Windows\Temp,
rem where any user could put a folder or a link under the log's name. A log
rem the updater cannot open ends the run with 1639 before anything is done,
rem so the log is never written straight to a share, which may be out of
rem reach at start-up.
rem
rem To collect the logs, set logshare to a share of its own (not the one that
rem holds the updater) where the computer accounts may create files, and
rem rewrite only their own (CREATOR OWNER), and nothing else, such as \\server\logs-corrector. After the run, this PC's
rem log is copied there as %COMPUTERNAME%.log; a copy that fails changes
rem nothing, and the exit code stays the updater's.
setlocal
set "logshare="

set "source=%~dp0"
set "log=%SystemRoot%\Logs\actualizador-corrector-galego.log"
if not exist "%SystemRoot%\Logs\" mkdir "%SystemRoot%\Logs"
"%source%actualizador.exe" /S /LOG="%log%"
set "code=%ERRORLEVEL%"
if defined logshare copy /y "%log%" "%logshare%\%COMPUTERNAME%.log" >nul 2>&1
exit /b %code%
