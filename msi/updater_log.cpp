#include "msi/updater_log.h"

#include <windows.h>

#include "msi/handles.h"

namespace msi {

namespace {

// Nothing here may use the C runtime: the DLL is built without one.
File OpenLog(const wchar_t* log) noexcept {
    return File(CreateFileW(log, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

LogMark MarkOf(const File& file) noexcept {
    BY_HANDLE_FILE_INFORMATION information;
    if (!file || !GetFileInformationByHandle(file.Get(), &information)) return LogMark{};
    return LogMark{true, information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow,
                   (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow};
}

// The lines of the log one by one, each kept up to kLineCapacity bytes:
// the mark stands near a line's start, the closing line is short.
class ClosingLineFinder {
public:
    ClosingLineFinder(unsigned long processId, char* line, unsigned long capacity) noexcept
        : found_(line), capacity_(capacity) {
        // "[<id>]  " in ASCII, as the log writes it, then "Remata co c" (UTF-8 from there on).
        char digits[12];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + processId % 10);
            processId /= 10;
        } while (processId > 0);
        mark_[markLength_++] = '[';
        while (count > 0) mark_[markLength_++] = digits[--count];
        Append("]  ");
        idLength_ = markLength_;
        Append("Remata co c");
    }

    void Feed(const char* bytes, DWORD count) noexcept {
        for (DWORD i = 0; i < count; ++i) {
            if (bytes[i] == '\r' || bytes[i] == '\n') {
                EndLine();
            } else if (length_ < kLineCapacity) {
                line_[length_++] = bytes[i];
            }
        }
    }

    // The last line may have no line end.
    bool Finish(unsigned long& length) noexcept {
        EndLine();
        length = foundLength_;
        return foundAny_;
    }

private:
    static constexpr unsigned long kLineCapacity = 1024;

    void Append(const char* text) noexcept {
        while (*text != '\0') mark_[markLength_++] = *text++;
    }

    void EndLine() noexcept {
        for (unsigned long at = 0; at + markLength_ <= length_; ++at) {
            unsigned long same = 0;
            while (same < markLength_ && line_[at + same] == mark_[same]) ++same;
            if (same < markLength_) continue;
            foundAny_ = true;
            foundLength_ = 0;
            for (unsigned long i = at + idLength_; i < length_ && foundLength_ < capacity_; ++i) {
                found_[foundLength_++] = line_[i];
            }
            break;
        }
        length_ = 0;
    }

    char mark_[40];
    unsigned long markLength_ = 0;
    unsigned long idLength_ = 0;
    char line_[kLineCapacity];
    unsigned long length_ = 0;
    char* found_;
    unsigned long capacity_;
    unsigned long foundLength_ = 0;
    bool foundAny_ = false;
};

}  // namespace

LogMark MarkLog(const wchar_t* log) noexcept { return MarkOf(OpenLog(log)); }

bool ReadClosingLine(const wchar_t* log, const LogMark& before, unsigned long processId, char* line,
                     unsigned long capacity, unsigned long& length) noexcept {
    const File file = OpenLog(log);
    const LogMark after = MarkOf(file);
    if (!after.found) return false;
    // What the log held before belongs to earlier runs, unless the file is
    // another one (made by the run, or put in its place) or has been cut.
    const bool same = before.found && before.volume == after.volume && before.indexHigh == after.indexHigh &&
                      before.indexLow == after.indexLow && before.size <= after.size;
    LARGE_INTEGER start;
    start.QuadPart = same ? static_cast<LONGLONG>(before.size) : 0;
    if (!SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN)) return false;

    ClosingLineFinder finder(processId, line, capacity);
    char chunk[4096];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr)) return false;
        if (read == 0) break;
        finder.Feed(chunk, read);
    }
    return finder.Finish(length);
}

}  // namespace msi
