#include "outputpaths.h"

#include "fspath.h"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// The longest chain of links followed; the system's own limit is of this order.
constexpr int MostLinks = 40;

// The path with its folder as the system resolves it, and its own name as it stands.
fs::path entryOf(const fs::path& path) {
    std::error_code error;
    const fs::path full = fs::absolute(path, error).lexically_normal();
    const fs::path folder = fs::weakly_canonical(full.parent_path(), error);
    return (error ? full.parent_path() : folder) / full.filename();
}

fs::path targetOf(const fs::path& path) {
    fs::path at = entryOf(path);
    for (int link = 0; link < MostLinks; ++link) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(at, error)))
            break;
        const fs::path next = fs::read_symlink(at, error);
        if (error)
            break;
        at = entryOf(next.is_absolute() ? next : at.parent_path() / next);
    }
    return at;
}

bool sameFile(const QString& one, const QString& other) {
    const Qt::CaseSensitivity names =
#ifdef Q_OS_WIN
        Qt::CaseInsensitive;
#else
        Qt::CaseSensitive;
#endif
    if (OutputPaths::target(one).compare(OutputPaths::target(other), names) == 0)
        return true;
    std::error_code error;
    return fs::equivalent(toFsPath(one), toFsPath(other), error);
}

} // namespace

QString OutputPaths::target(const QString& path) {
    return fromFsPath(targetOf(toFsPath(path)));
}

std::optional<OutputPaths::Clash> OutputPaths::clash(const QList<Entry>& entries) {
    for (qsizetype later = 1; later < entries.size(); ++later) {
        if (entries.at(later).path.isEmpty())
            continue;
        for (qsizetype earlier = 0; earlier < later; ++earlier) {
            if (!entries.at(earlier).path.isEmpty() &&
                sameFile(entries.at(later).path, entries.at(earlier).path))
                return Clash{entries.at(later), entries.at(earlier)};
        }
    }
    return std::nullopt;
}
