; The smallest installer that a general-purpose installer builder makes:
; nothing to install, no pages, ANSI, its default compression. Built by
; make bench to put the updater's size in proportion.
Unicode false
RequestExecutionLevel admin
SilentInstall silent
OutFile "smallest_stub.exe"
Section
SectionEnd
