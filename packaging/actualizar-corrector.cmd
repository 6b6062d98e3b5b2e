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
rem The log is this PC's own: the file that /LOG alone gives SYSTEM. A log
rem on a share instead, /LOG="\\server\logs\%COMPUTERNAME%.log", needs write
rem access for the computer accounts.
setlocal
set "source=%~dp0"

"%source%actualizador.exe" /S /LOG="%SystemRoot%\Temp\actualizador-corrector-galego.log"
exit /b %ERRORLEVEL%
