#pragma once

#include <QList>
#include <QString>

#include <optional>

// The paths one run writes (the dump, its ledger, a trace, a map) and the serial device it talks
// on, checked together before the port opens: no two of them may be, or become, the same file.
// A path is followed through its links one by one, also where the last one leads nowhere yet (a
// link to a dump the run is about to make), and two names of one existing file (a hard link)
// count as the same.
class OutputPaths {
public:
    enum class Role { Dump, Ledger, Trace, Map, Device };
    struct Entry {
        Role role;
        QString path;
    };
    // The first two entries that clash, the later one first.
    struct Clash {
        Entry entry;
        Entry other;
    };

    // Entries with an empty path are left out.
    static std::optional<Clash> clash(const QList<Entry>& entries);
    // Where writing `path` would lead through its links, as a full path.
    static QString target(const QString& path);
};
