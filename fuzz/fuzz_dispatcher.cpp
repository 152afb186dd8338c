// Fuzz target for the line receiver and dispatcher and the block transfer behind it: arbitrary
// received bytes reach a Dialogue through the in-memory port, cut into arrivals of varying size,
// with ticks, closes and re-arming in between (see DispatcherInput for the input's layout).

#include "dispatcherinput.h"
#include "dispatcherrun.h"
#include "fuzzcheck.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Received bytes beyond a few frames add nothing but time.
constexpr std::size_t MaxInput = 16384;

// Never destroyed: libFuzzer ends with exit(), after Qt's own globals that the application's
// destructor would still use are gone.
QCoreApplication* application = nullptr;
std::unique_ptr<QTemporaryDir> responsesDir;
std::unique_ptr<QTemporaryDir> dumpDir;

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    fuzzCheck(file.open(QIODevice::WriteOnly) && file.write(content) == content.size(),
              "the fuzz target can write its response files");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    application = new QCoreApplication(*argc, *argv);
    responsesDir = std::make_unique<QTemporaryDir>();
    dumpDir = std::make_unique<QTemporaryDir>();
    fuzzCheck(responsesDir->isValid() && dumpDir->isValid(),
              "the fuzz target can create its temporary folders");
    writeFile(responsesDir->filePath(QStringLiteral("Respuesta4.TXT")), DispatcherRun::Response4);
    writeFile(responsesDir->filePath(QStringLiteral("Respuesta5.TXT")), DispatcherRun::Response5);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > MaxInput)
        return 0;
    DispatcherInput input(data, size);
    {
        DispatcherRun run(input, responsesDir->path(), dumpDir->path());
        run.run();
    }
    // Each input starts from an empty dump folder, so the disk use stays at a few blocks.
    QFile::remove(dumpDir->filePath(QStringLiteral("dump.bin")));
    return 0;
}
