#pragma once

#include <QString>

// What stands at a dump file's path. Each front end words the problem in its own language. A new
// dump replaces only a regular file or a symbolic link (the link itself, never what it points to);
// a folder, a device, a pipe or a socket is refused before anything is asked of the loader, and so
// is a path the dump could not be written to. Checking touches nothing that exists.
class DumpPath {
public:
    enum class Problem {
        None,
        Folder,
        Device,
        Pipe,
        Socket,
        Unwritable,         // systemText says why
        LinkInLockedFolder, // a link that cannot be removed, and must not be followed
    };

    // keepRecords: the dump goes on in the existing file (a resume) instead of replacing it.
    static DumpPath check(const QString& path, bool keepRecords = false);
    // What stands at the path of a dump's ledger, which is replaced as a regular file: nothing, a
    // regular file or a link (replaced, never followed) will do; a folder, device, pipe or socket
    // is refused.
    static DumpPath checkLedger(const QString& ledgerPath);

    Problem problem = Problem::None;
    QString systemText;

    bool ok() const { return problem == Problem::None; }
};
