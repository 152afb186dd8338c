#pragma once

#include <QString>

// What stands at a path the tool writes. Each front end words the problem in its own language. A
// file is written only as a regular file: a link at the path is replaced (the link itself, never
// what it points to); a folder, a device, a pipe or a socket is refused before anything is asked
// of the loader, and so is a path the file could not be written to. Checking touches nothing
// that exists.
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
        OldFileNotKept,     // a new dump cannot set the old file aside in its folder (systemText)
    };
    // How the file at the path is written.
    enum class Use {
        NewDump,     // a new file; a non-empty old one is first set aside under another name
        KeepRecords, // a resume or a repair goes on in the existing file
        Replaced,    // a trace or a map: an old file there is replaced
    };

    static DumpPath check(const QString& path, Use use);
    // What stands at the path of a dump's ledger, which is replaced as a regular file: nothing, a
    // regular file or a link (replaced, never followed) will do; a folder, device, pipe or socket
    // is refused.
    static DumpPath checkLedger(const QString& ledgerPath);
    // A path that could not be written for the system's reason.
    static DumpPath unwritable(const QString& systemText) {
        DumpPath path;
        path.problem = Problem::Unwritable;
        path.systemText = systemText;
        return path;
    }

    Problem problem = Problem::None;
    QString systemText;

    bool ok() const { return problem == Problem::None; }
};
