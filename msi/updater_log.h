// The updater's log as the package reads it, to report how the run ended.
#pragma once

namespace msi {

// The log as it stood before the updater started: whether it was there,
// which file it was (volume and file index) and its size.
struct LogMark {
    bool found;
    unsigned long volume;
    unsigned long indexHigh;
    unsigned long indexLow;
    unsigned long long size;
};

LogMark MarkLog(const wchar_t* log) noexcept;

// The closing line ("Remata co código N: ...") that the process wrote into
// the log after the mark, in UTF-8 from "Remata" to the end of the line,
// cut to the capacity; false when there is none. The last such line of that
// process id: another run (a startup script's, refused with 1618) may write
// after it, and so may the run itself (the event source it registered).
bool ReadClosingLine(const wchar_t* log, const LogMark& before, unsigned long processId, char* line,
                     unsigned long capacity, unsigned long& length) noexcept;

}  // namespace msi
