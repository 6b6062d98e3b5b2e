#include "update/restart_play.h"

#include <algorithm>
#include <optional>

namespace update {

namespace {

struct Entry {
    QueuedPath from;
    QueuedPath to;
    bool deletes = false;
    std::size_t order = 0;
    std::optional<NameTable::Found> source;
    std::optional<NameTable::Found> destination;
    bool aboveOurFolder = false;
};

// A mark that keeps the final path ("*1") or the old form ("*0"), or none.
bool Resolved(const QueuedPath& path) { return path.mark == 0 || path.mark == L'0' || path.mark == L'1'; }

// The file a name holds at some point of the play: the one on an original
// name now, none, or one that cannot be known.
struct Token {
    enum class Kind : unsigned char { kFile, kEmpty, kUnknown };
    Kind kind = Kind::kUnknown;
    std::size_t origin = 0;
};

struct NameState {
    bool read = false;  // the token is asked of the file system when the play first reaches the name
    Token token;
    bool changed = false;
    bool deleted = false;
    bool unconfirmed = false;
    std::size_t order = 0;
};

std::wstring Described(const Entry& entry) {
    if (entry.deletes) return L"borrar " + Win32Path(entry.from.path);
    return Win32Path(entry.from.path) + (entry.destination ? L" sobre " : L" a ") + Win32Path(entry.to.path);
}

}  // namespace

PlayedQueue Play(std::span<const std::vector<std::wstring_view>> values, const std::vector<std::wstring>& destinations,
                 FileSystemView& view) {
    NameTable names(destinations, view);
    PlayedQueue played;
    played.names.resize(destinations.size());

    // Backwards from the destinations: a rename onto a name collected adds its source.
    std::vector<Entry> entries;
    std::size_t order = 0;
    for (const std::vector<std::wstring_view>& strings : values) {
        order += strings.size() / 2;
        // Every string, one outside any pair too.
        for (const std::wstring_view text : strings) {
            played.copyNamed = played.copyNamed || OwnCopyName(text.substr(text.find_last_of(L'\\') + 1));
        }
    }
    for (std::size_t value = values.size(); value-- > 0;) {
        const std::vector<std::wstring_view>& strings = values[value];
        for (std::size_t pair = strings.size() / 2; pair-- > 0;) {
            --order;
            const std::wstring_view source = strings[2 * pair];
            const std::wstring_view destination = strings[2 * pair + 1];
            Entry entry;
            entry.from = ReadPath(source);
            entry.to = ReadPath(destination);
            entry.deletes = NamesNothing(destination);
            entry.order = order;
            if (!entry.from.understood || (!entry.deletes && !entry.to.understood)) {
                if (!entry.deletes && !entry.to.understood) played.notUnderstood.emplace_back(destination);
                if (!entry.from.understood) played.notUnderstood.emplace_back(source);
                continue;
            }
            if (!entry.deletes) entry.destination = names.Find(entry.to.path);
            entry.source = entry.destination ? names.Collect(entry.from.path) : names.Find(entry.from.path);
            entry.aboveOurFolder = names.AboveOurFolder(entry.from.path);
            if (entry.source || entry.destination || entry.aboveOurFolder) entries.push_back(entry);
        }
    }
    std::ranges::reverse(played.notUnderstood);
    std::ranges::reverse(entries);

    // Forwards, over the names collected only.
    std::vector<NameState> states(names.Size());
    const auto token = [&](std::size_t index) -> Token& {
        NameState& state = states[index];
        if (!state.read) {
            state.read = true;
            const Presence presence = names.PresenceOf(index);
            state.token.kind = presence == Presence::kFound      ? Token::Kind::kFile
                               : presence == Presence::kNotFound ? Token::Kind::kEmpty
                                                                 : Token::Kind::kUnknown;
            state.token.origin = index;
        }
        return state.token;
    };
    const auto did = [&](std::size_t index, Token now, std::size_t at) {
        token(index) = now;
        states[index].changed = true;
        states[index].deleted = false;
        states[index].unconfirmed = false;
        states[index].order = at;
    };
    constexpr Token kNone{Token::Kind::kEmpty};
    constexpr Token kUnknown{Token::Kind::kUnknown};
    bool folderMoved = false;
    for (const Entry& entry : entries) {
        // Onto a name collected: its index; none otherwise.
        const std::size_t onto = entry.destination ? entry.destination->index : names.Size();
        const bool ours = entry.source && onto < destinations.size() && names.OwnCopy(entry.source->index);
        const bool unconfirmed = !Resolved(entry.from) || (!entry.deletes && !Resolved(entry.to));
        // "\\?\", a stream's name or a path kept as passed: the restart may or may not do it.
        const bool certain = !entry.from.ntPrefix && !(!entry.deletes && entry.to.ntPrefix) &&
                             !(entry.source && entry.source->stream) && !(entry.destination && entry.destination->stream) &&
                             (ours || !unconfirmed);
        if (!ours) played.others.push_back(Described(entry));
        if (entry.aboveOurFolder) folderMoved = true;
        if (!entry.source) continue;
        const std::size_t from = entry.source->index;
        const Token moved = token(from);
        if (moved.kind == Token::Kind::kEmpty || onto == from) continue;  // fails, or changes nothing
        if (entry.deletes) {
            did(from, certain ? kNone : kUnknown, entry.order);
            states[from].deleted = certain;
            continue;
        }
        if (onto == names.Size()) {
            // Without "!", a move fails onto a name that holds a file: the name elsewhere is not asked.
            did(from, certain && entry.to.replace && moved.kind == Token::Kind::kFile ? kNone : kUnknown, entry.order);
            continue;
        }
        const Token there = token(onto);
        // Without "!", a rename onto a name that holds a file fails, as at the restart.
        if (!entry.to.replace && there.kind == Token::Kind::kFile && !entry.destination->stream) continue;
        const bool sure = certain && moved.kind == Token::Kind::kFile &&
                          (entry.to.replace || there.kind == Token::Kind::kEmpty);
        did(onto, sure ? moved : kUnknown, entry.order);
        states[onto].unconfirmed = ours && unconfirmed;
        did(from, sure ? kNone : kUnknown, entry.order);
    }

    for (std::size_t i = 0; i < played.names.size(); ++i) {
        AfterRestart& after = played.names[i];
        const NameState& state = states[i];
        if (folderMoved) {
            after.holds = AfterRestart::Holds::kUnknown;
        } else if (!state.changed || (state.token.kind == Token::Kind::kFile && state.token.origin == i)) {
            after.holds = AfterRestart::Holds::kUnchanged;
        } else if (state.token.kind == Token::Kind::kEmpty) {
            after.holds = AfterRestart::Holds::kNothing;
            after.deleted = state.deleted;
        } else if (state.token.kind == Token::Kind::kUnknown) {
            after.holds = AfterRestart::Holds::kUnknown;
        } else {
            const std::size_t origin = state.token.origin;
            after.holds = names.OwnCopy(origin) ? AfterRestart::Holds::kOurCopy : AfterRestart::Holds::kTheirs;
            after.file = names.Path(origin);
            after.order = state.order;
            after.unconfirmed = state.unconfirmed;
        }
    }
    return played;
}

bool OurCopiesInOrder(const PlayedQueue& played) {
    for (std::size_t i = 0; i < played.names.size(); ++i) {
        if (played.names[i].holds != AfterRestart::Holds::kOurCopy) return false;
        if (i > 0 && played.names[i].order <= played.names[i - 1].order) return false;
    }
    return true;
}

}  // namespace update
