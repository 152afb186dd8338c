#include "dialogue.h"

#include "blockrange.h"
#include "commcontrol.h"
#include "dialoguelog.h"
#include "dumppath.h"
#include "numeric.h"
#include "programfolders.h"
#include "safefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

const QByteArray CR = "\r";

QString fileProblem(const QFile& file) {
    return file.errorString().isEmpty() ? QStringLiteral("error desconocido") : file.errorString();
}

} // namespace

Dialogue::Dialogue(CommControl& port, OperatorSide& operatorSide, QTimer& ticker, QObject* parent)
    : QObject(parent), m_port(port), m_op(operatorSide), Timer1(ticker),
      m_responsesFolder(defaultResponsesFolder()) {
    connect(&m_port, &CommControl::OnComm, this, &Dialogue::Serie1_OnComm);
    connect(&m_port, &CommControl::inputArrived, this, &Dialogue::advance);
    connect(&m_port, &CommControl::closed, this, &Dialogue::onPortClosed);
    connect(&m_port, &CommControl::deviceLost, this, &Dialogue::onDeviceLost);
}

Dialogue::~Dialogue() = default;

Dialogue::Step::Step(Dialogue& dialogue) : m_dialogue(dialogue) {
    ++m_dialogue.m_steps;
}

Dialogue::Step::~Step() {
    if (--m_dialogue.m_steps == 0)
        m_dialogue.settle();
}

void Dialogue::Serie1_OnComm() {
    if (m_port.CommEvent() != CommControl::comEvReceive)
        return;
    const Step step(*this);
    const QByteArray received = m_port.Input();
    if (m_banner.size() < BannerLimit)
        m_banner += received;
    if (!m_shared.Info_Mostrada) {
        m_op.appendLog(QStringLiteral("Recibiendo info...\r\n"));
        m_shared.Info_Mostrada = true;
    }
    if (received == CR)
        return;
    if (received != "\n") {
        m_shared.Linea_Rx += received;
        return;
    }
    m_op.appendLog(QStringLiteral("o"));
    dispatch();
}

void Dialogue::dispatch() {
    QByteArray& Linea_Rx = m_shared.Linea_Rx;
    bool& Descarga_Armada = m_shared.Descarga_Armada;
    const QByteArray line = Linea_Rx;
    qCDebug(lcDialogue) << "line" << line;

    if (line == "ack") {
        Linea_Rx.clear();
        if (Descarga_Armada) {
            Descarga_Armada = false;
            if (send("REQUEST_DOWNLOAD" + CR))
                Recibe_Bloques();
        }
        return;
    }
    if (line.size() == 12 && line.startsWith("REQUEST_V")) {
        Linea_Rx.clear();
        return;
    }
    if (line == "BL_FLASH_INFO") {
        Linea_Rx.clear();
        return;
    }
    if (line.endsWith("BL_FLASH_END")) {
        Timer1.stop();
        send("KDATA");
        Linea_Rx.clear();
        return;
    }
    if (line.startsWith("REQUEST_VERSION:")) {
        send("ack");
        Linea_Rx.clear();
        return;
    }
    if (line == "REQDATA_START_BLOCK") {
        send(fourDigitForm(numericValue(m_op.startBlockText())).toLatin1());
        Linea_Rx.clear();
        return;
    }
    if (line == "REQDATA_BLOCK") {
        send(fourDigitForm(numericValue(m_op.blockCountText())).toLatin1());
        Descarga_Armada = true;
        Linea_Rx.clear();
        return;
    }
    if (line == "0000") {
        Linea_Rx.clear();
        m_shared.Num_Respuesta = 4;
        if (Envia_Parrafada(m_shared.Num_Respuesta))
            m_op.appendLog(QStringLiteral("Solicitando firmware...\r\n"));
        return;
    }
    if (line.size() == 4 && numericValue(line) > 0) {
        Linea_Rx.clear();
        m_shared.Num_Respuesta = 5;
        if (Envia_Parrafada(m_shared.Num_Respuesta))
            Recibe_Bloques();
        return;
    }
    Linea_Rx.clear();
}

QString Dialogue::responseFilePath(qint32 n) const {
    return m_responsesFolder + QStringLiteral("/Respuesta") + QString::number(n) +
           QStringLiteral(".TXT");
}

bool Dialogue::Envia_Parrafada(qint32 n) {
    const QString path = responseFilePath(n);
    const auto cannotRead = [&](TransferSummary::Failure failure, const QString& why) {
        m_summary = TransferSummary{};
        m_summary.failure = failure;
        m_summary.failedPath =
            failure == TransferSummary::Failure::ResponsesFolderMissing ? m_responsesFolder : path;
        m_summary.detail = why;
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede leer el archivo de respuesta ") + path +
                          QStringLiteral("\r\n\r\n") + why);
        return false;
    };
    if (!QFileInfo(m_responsesFolder).isDir())
        return cannotRead(TransferSummary::Failure::ResponsesFolderMissing,
                          QStringLiteral("La carpeta ") + m_responsesFolder +
                              QStringLiteral(" no existe."));

    Fichero_Respuesta.setFileName(path);
    // A missing file in an existing folder is created empty: nothing is sent.
    const QIODevice::OpenMode mode = Fichero_Respuesta.exists()
                                         ? QIODevice::ReadOnly
                                         : QIODevice::ReadWrite | QIODevice::NewOnly;
    if (!Fichero_Respuesta.open(mode))
        return cannotRead(TransferSummary::Failure::ResponseFileUnreadable,
                          fileProblem(Fichero_Respuesta));
    const QByteArray content = Fichero_Respuesta.readAll();
    const bool readFailed = Fichero_Respuesta.error() != QFileDevice::NoError;
    const QString problem = fileProblem(Fichero_Respuesta);
    Fichero_Respuesta.close();
    if (readFailed)
        return cannotRead(TransferSummary::Failure::ResponseFileUnreadable, problem);

    for (const char byte : content) {
        if (!send(QByteArray(1, byte)))
            return false;
    }
    Q_EMIT responseFileSent(n);
    return true;
}

void Dialogue::Timer1_Timer() {
    const Step step(*this);
    if (m_port.PortOpen())
        send(QByteArray(1, BreakIn));
    m_shared.Descarga_Armada = false;
}

void Dialogue::portArmed(const QString& portName) {
    m_portName = portName;
    m_shared.Suma_Total = 0;
    m_banner.clear();
}

QString Dialogue::dumpPath() const {
    return m_op.folderText() + m_op.fileNameText();
}

void Dialogue::Recibe_Bloques() {
    qCDebug(lcDialogue) << "transfer starts";
    Q_EMIT transferStarted();
    m_op.setProgress(QStringLiteral("."));
    m_op.appendLog(QStringLiteral("\r\nRECIBIENDO DATOS\r\n"));
    m_port.setRThreshold(0);
    m_port.setInputLen(FrameSize);

    QDir().mkdir(m_op.folderText());
    const QString path = dumpPath();
    m_summary = TransferSummary{};
    m_summary.dumpPath = path;
    m_summary.resumedRecords = m_target.kind == Target::Kind::Resume ? m_target.recordOffset : 0;

    // The first block and the count are made whole numbers once; the requests, the progress
    // caption and the record numbers all use these same values. The front ends refuse other
    // ranges when they arm; this is the last line of defence, before anything is touched.
    const BlockRange range = BlockRange::read(m_op.startBlockText(), m_op.blockCountText());
    if (!range.ok()) {
        m_summary.failure = TransferSummary::Failure::InvalidRange;
        m_summary.detail = QStringLiteral("first block \"%1\", count \"%2\"")
                               .arg(m_op.startBlockText(), m_op.blockCountText());
        failAndDisarm(TransferSummary::Outcome::RangeError,
                      QStringLiteral("El rango de bloques no es válido.\r\n\r\n") +
                          range.spanishReason());
        return;
    }
    const DumpPath target = m_target.kind == Target::Kind::Compare
                                ? DumpPath{}
                                : DumpPath::check(path, m_target.kind != Target::Kind::NewFile);
    if (!target.ok()) {
        noteFileFailure(TransferSummary::Failure::DumpNotCreated, target.englishReason());
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede crear el archivo ") + path +
                          QStringLiteral("\r\n\r\n") + target.spanishReason());
        return;
    }
    m_firstBlock = range.first;
    m_blockCount = range.count;
    m_lastBlock = range.last;
    m_currentBlock = m_firstBlock;
    m_summary.firstBlock = m_firstBlock;
    m_summary.count = m_blockCount;
    qCDebug(lcDialogue) << "blocks" << m_firstBlock << "to" << m_lastBlock;

    m_transfer = Transfer::Blocks;
    // The old dump is replaced only once the loader has been asked for a block: a port that
    // fails before leaves it as it was.
    if (!requestBlock() || !openDump())
        return;
    advance();
}

bool Dialogue::openDump() {
    if (m_target.kind == Target::Kind::Compare) {
        // A file that cannot be read holds none of the blocks: every one of them differs.
        QString problem;
        if (!openRegularFile(Num_Fichero, m_summary.dumpPath, &problem))
            qCDebug(lcDialogue) << "nothing to compare with:" << problem;
        return true;
    }
    const QString& path = m_summary.dumpPath;
    const bool keep = m_target.kind != Target::Kind::NewFile;
    if (!keep)
        QFile::remove(path); // a regular file or a link, as the check let through
    // What stands there now must still be something to write into, never through a link.
    const DumpPath target = DumpPath::check(path, keep);
    Num_Fichero.setFileName(path);
    const QIODevice::OpenMode mode = QIODevice::ReadWrite | QIODevice::Unbuffered |
                                     (keep ? QIODevice::NotOpen : QIODevice::Truncate);
    if (!target.ok() || !Num_Fichero.open(mode)) {
        noteFileFailure(TransferSummary::Failure::DumpNotCreated,
                        target.ok() ? fileProblem(Num_Fichero) : target.englishReason());
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede crear el archivo ") + path +
                          QStringLiteral("\r\n\r\n") +
                          (target.ok() ? fileProblem(Num_Fichero) : target.spanishReason()));
        return false;
    }
    // A resumed file keeps only the records it continues from: whatever a cut-off run left
    // after them is read again.
    if (m_target.kind == Target::Kind::Resume &&
        !Num_Fichero.resize(qint64(m_target.recordOffset) * BlockSize)) {
        noteFileFailure(TransferSummary::Failure::DumpNotWritten, fileProblem(Num_Fichero));
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede escribir el archivo ") + path +
                          QStringLiteral("\r\n\r\n") + fileProblem(Num_Fichero));
        return false;
    }
    Q_EMIT dumpOpened(path, m_firstBlock, m_blockCount);
    return true;
}

bool Dialogue::storeBlock(qint32 index, const QByteArray& data, bool sumOk) {
    const qint64 offset = (qint64(m_target.recordOffset) + index - 1) * BlockSize;
    switch (m_target.kind) {
    case Target::Kind::Compare: {
        // A block that came with a bad sum confirms nothing: it counts as differing.
        const bool same = sumOk && Num_Fichero.isOpen() && Num_Fichero.seek(offset) &&
                          Num_Fichero.read(BlockSize) == data;
        if (!same)
            m_summary.differingBlocks.append(m_currentBlock);
        return true;
    }
    case Target::Kind::Repair:
        // A block read again with a bad sum leaves its record as it was.
        if (!sumOk)
            return true;
        break;
    case Target::Kind::NewFile:
    case Target::Kind::Resume:
        break;
    }
    if (!Num_Fichero.seek(offset) || Num_Fichero.write(data) != BlockSize) {
        const QString problem = fileProblem(Num_Fichero);
        Num_Fichero.close();
        noteFileFailure(TransferSummary::Failure::DumpNotWritten, problem);
        failAndDisarm(TransferSummary::Outcome::FileError,
                      QStringLiteral("No se puede escribir el archivo ") + m_summary.dumpPath +
                          QStringLiteral("\r\n\r\n") + problem);
        return false;
    }
    ++m_summary.blocksWritten;
    Q_EMIT recordWritten(m_target.recordOffset + index - 1, data, sumOk);
    return true;
}

bool Dialogue::requestBlock() {
    const qint32 index = m_currentBlock - m_firstBlock + 1;
    if (!send("REQUEST_1024DOWN:" + QByteArray::number(m_currentBlock) + CR))
        return false;
    m_op.setProgress(fourDigitForm(index) + QLatin1Char('/') + fourDigitForm(m_blockCount));
    Q_EMIT blockRequested(index, m_blockCount);
    return true;
}

void Dialogue::advance() {
    if (m_advancing || m_transfer == Transfer::Idle)
        return;
    const Step step(*this);
    m_advancing = true;
    while (m_transfer == Transfer::Blocks && m_port.InBufferCount() >= FrameSize)
        takeFrame();
    if (m_transfer == Transfer::Total && m_port.InBufferCount() > 0)
        finishTotal();
    m_advancing = false;
}

void Dialogue::takeFrame() {
    auto& Bloque = m_shared.Bloque;
    quint8& Suma_Bloque = m_shared.Suma_Bloque;
    qint32& Suma_Total = m_shared.Suma_Total;
    const QByteArray frame = m_port.Input();
    int blockSum = 0;
    for (int j = 0; j < BlockSize; ++j) {
        const auto byte = static_cast<quint8>(frame[j]);
        Bloque[static_cast<size_t>(j)] = byte;
        blockSum = (blockSum + byte) % 65536;
        Suma_Total = (Suma_Total + byte) % 65536;
    }
    Suma_Bloque = static_cast<quint8>(frame[BlockSize]);

    const qint32 index = m_currentBlock - m_firstBlock + 1;
    const bool sumOk = blockSum % 256 == Suma_Bloque;
    qCDebug(lcDialogue) << "block" << m_currentBlock << (sumOk ? "sum ok" : "bad sum");
    if (!sumOk) {
        m_summary.badSumBlocks.append(m_currentBlock);
        m_op.showMessage(QStringLiteral("CRC No Ok!!!"), MessageIcon::Exclamation);
    }

    // Written even when the port closed or went away while the message was open: a received
    // block is never dropped.
    const QByteArray data(reinterpret_cast<const char*>(Bloque.data()), BlockSize);
    if (!storeBlock(index, data, sumOk))
        return;
    Q_EMIT blockReceived(index, m_blockCount, sumOk, data);

    if (!m_port.PortOpen() || !send("1024DOWN_SUCCESS:" + QByteArray::number(m_currentBlock) + CR))
        return;
    if (m_currentBlock == m_lastBlock) {
        beginEnd();
        return;
    }
    ++m_currentBlock;
    requestBlock();
}

void Dialogue::beginEnd() {
    m_port.setRThreshold(0);
    m_port.setInputLen(1);
    send("REQUEST_TOTALCRC" + CR);
    m_shared.Suma_Total %= 256;
    Num_Fichero.close();
    m_transfer = Transfer::Total;
}

void Dialogue::finishTotal() {
    const auto total = static_cast<quint8>(m_port.Input().at(0));
    m_summary.totalReceived = true;
    m_summary.loaderTotal = total;
    m_summary.computedTotal = m_shared.Suma_Total;
    qCDebug(lcDialogue) << "total: loader" << total << "computed" << m_shared.Suma_Total;
    // A confirmation that could not go out leaves the dump unconfirmed: the loss is reported.
    if (total == m_shared.Suma_Total && !send("DOWN_SUCCESS" + CR))
        return;
    m_transfer = Transfer::Idle;

    m_op.appendLog(QStringLiteral("FIN DE LA DESCARGA\r\n"));
    if (m_summary.totalMatched() && m_summary.badSumBlocks.isEmpty()) {
        m_op.showMessage(QStringLiteral("Descarga finalizada."), MessageIcon::Information);
    } else {
        const QString total =
            m_summary.totalMatched()
                ? QStringLiteral("El total coincide")
                : QStringLiteral("El total no coincide (recibido %1, calculado %2)")
                      .arg(m_summary.loaderTotal)
                      .arg(m_summary.computedTotal);
        const qsizetype bad = m_summary.badSumBlocks.size();
        m_op.showMessage(QStringLiteral("Descarga finalizada.\r\n%1; %2 %3 con suma errónea.")
                             .arg(total)
                             .arg(bad)
                             .arg(bad == 1 ? QStringLiteral("bloque") : QStringLiteral("bloques")),
                         MessageIcon::Exclamation);
    }
    m_op.selectNoPort();
    m_op.enablePortList();
    finish();
}

void Dialogue::stopTransfer() {
    if (Num_Fichero.isOpen())
        Num_Fichero.close();
    m_transfer = Transfer::Idle;
    m_portGone = false;
    m_lossPending = false;
}

void Dialogue::failAndDisarm(TransferSummary::Outcome outcome, const QString& message) {
    stopTransfer();
    m_summary.outcome = outcome;
    m_summary.error = message;
    qCDebug(lcDialogue) << "dialogue fails:" << message;
    Timer1.stop();
    m_op.showMessage(message, MessageIcon::Critical);
    m_op.selectNoPort();
    m_op.enablePortList();
    finish();
}

void Dialogue::endCutShort() {
    stopTransfer();
    m_summary.outcome = TransferSummary::Outcome::PortClosed;
    m_summary.error = QStringLiteral("Puerto cerrado durante la descarga.");
    qCDebug(lcDialogue) << "transfer cut short";
    finish();
}

void Dialogue::finish() {
    // The port is closed by now; whatever else happened to it while the end was being shown
    // (a device pulled out under the final message) changes nothing of this dialogue.
    m_portGone = false;
    m_lossPending = false;
    Q_EMIT ended(m_summary);
}

void Dialogue::onPortClosed() {
    if (m_transfer == Transfer::Idle)
        return;
    if (m_steps > 0) {
        m_portGone = true;
        return;
    }
    endCutShort();
}

void Dialogue::onDeviceLost(const QString& description) {
    m_lossDescription = description;
    if (m_steps > 0) {
        m_lossPending = true;
        return;
    }
    reportDeviceLost(description);
}

void Dialogue::settle() {
    if (m_lossPending)
        reportDeviceLost(m_lossDescription);
    else if (m_portGone && m_transfer != Transfer::Idle)
        endCutShort();
    m_lossPending = false;
    m_portGone = false;
}

void Dialogue::reportDeviceLost(const QString& description) {
    const bool running = m_transfer != Transfer::Idle;
    stopTransfer();
    if (!running)
        m_summary = TransferSummary{};
    m_summary.failure = TransferSummary::Failure::DeviceLost;
    m_summary.detail = description;
    failAndDisarm(TransferSummary::Outcome::DeviceLost,
                  QStringLiteral("Se ha perdido la conexión con ") + m_portName +
                      QStringLiteral(".\r\n\r\n") + description);
}

void Dialogue::noteFileFailure(TransferSummary::Failure failure, const QString& detail) {
    m_summary.failure = failure;
    m_summary.failedPath = m_summary.dumpPath;
    m_summary.detail = detail;
}

bool Dialogue::send(const QByteArray& text) {
    m_port.setOutput(text);
    return m_port.PortOpen();
}
