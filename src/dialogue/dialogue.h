#pragma once

#include "blocksink.h"
#include "blocksize.h"
#include "operatorside.h"
#include "receivedblock.h"
#include "transfersummary.h"

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <array>

class CommControl;
class QTimer;

// The boot-loader dialogue: assembles received characters into lines, answers them from the
// keyword table, replays response files, runs the block transfer and the break-in tick.
// Holds the window state that these share. Knows no widget: the operator side is reached only
// through OperatorSide. Armed and disarmed by a PortSession, which owns it.
//
// The block transfer is event-driven: Recibe_Bloques sets it up and returns, and each arrival
// of bytes on the port advances it. The receive threshold stays 0 while it runs, so no received
// character reaches the line dispatcher until the transfer has ended.
class Dialogue : public QObject {
    Q_OBJECT
public:
    static constexpr int FrameSize = 1032;
    static constexpr char BreakIn = 31;
    // Far more than any canned answer to the loader; a larger response file is refused unread.
    static constexpr qint64 ResponseFileLimit = 1024 * 1024;

    // The window state shared by the dialogue's handlers.
    struct State {
        QByteArray Linea_Rx;
        bool Descarga_Armada = false;
        bool Info_Mostrada = false;
        qint32 Num_Respuesta = 0;
        std::array<quint8, BlockSize> Bloque{};
        quint8 Suma_Bloque = 0;
        qint32 Suma_Total = 0;
    };

    // ticker: the break-in ticker, which the dialogue stops once the loader has answered.
    Dialogue(CommControl& port, OperatorSide& operatorSide, QTimer& ticker,
             QObject* parent = nullptr);
    ~Dialogue() override;

    // Receive handler of the port; connected to CommControl::OnComm by the constructor.
    void Serie1_OnComm();
    // Starts the block transfer; called by the dispatcher at its two hand-over points.
    void Recibe_Bloques();
    // Sends response file n byte by byte. False (after telling the operator and disarming)
    // when the file could not be read.
    bool Envia_Parrafada(qint32 n);
    // Break-in tick: one byte 31 to the port, and the block count no longer counts as sent.
    void Timer1_Timer();

    // What the next loader dialogue asks for and where its blocks go: its block range (the
    // loader is told its first block and count in four digits) and the dump file.
    struct Pass {
        BlockRange range;
        QString dumpPath;
    };
    void setPass(const Pass& pass) { m_pass = pass; }

    // The port has just been armed as portName: a fresh total, and the name for messages.
    void portArmed(const QString& portName);

    // How the current or last transfer stands; complete once the dialogue has ended.
    const TransferSummary& summary() const { return m_summary; }

    // Folder of Respuesta<n>.TXT; defaults to <program folder>/Respuestas.
    void setResponsesFolder(const QString& folder) { m_responsesFolder = folder; }

    // Where the blocks of the next transfers go; it must outlive them.
    void setSink(BlockSink& sink) { m_sink = &sink; }

    // What the loader sent since the port was armed, up to the transfer (at most BannerLimit
    // bytes: a runaway line is cut).
    const QByteArray& loaderBanner() const { return m_banner; }
    static constexpr qsizetype BannerLimit = 16 * 1024;

Q_SIGNALS:
    // Response file n has been sent whole.
    void responseFileSent(int n);
    // The loader handed over to the block transfer; raised before anything of it is done.
    void transferStarted();
    // Block `index` of `count` has been asked for.
    void blockRequested(int index, int count);
    // The dump file is open for the transfer of `range` (for a new dump, emptied).
    void dumpOpened(const QString& path, const BlockRange& range);
    // A block has arrived, and gone where the sink puts it.
    void blockReceived(const ReceivedBlock& block);
    // The transfer has reached the loader's total; raised before the end message is shown.
    void transferEnded(const TransferSummary& summary);
    // The dialogue ended by itself: the total exchange finished, or a transfer was cut short,
    // or the device went away, or a file failed. Raised last, after the disarm.
    void ended(const TransferSummary& summary);

private:
    enum class Transfer { Idle, Blocks, Total };

    // Marks a step of the dialogue (a receive event, a tick, the transfer advancing). A port
    // that closes or goes away inside a step is dealt with when the outermost step has unwound,
    // so that no step goes on working on a closed port or reports twice.
    class Step {
    public:
        explicit Step(Dialogue& dialogue);
        ~Step();
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

    private:
        Dialogue& m_dialogue;
    };

    void dispatch();
    void advance();
    void takeFrame();
    bool requestBlock();
    bool openDump();
    // Tells the operator why the sink could not take the blocks and disarms.
    void failSink(const BlockSink::Failure& failure);
    void beginEnd();
    void finishTotal();
    void stopTransfer();
    void endCutShort();
    void failAndDisarm(TransferSummary::Outcome outcome, const QString& message);
    void finish();
    void onPortClosed();
    void onDeviceLost(const QString& description);
    // Once the outermost step has unwound: reports the port's loss or close that came inside it.
    void reportPortEndAfterSteps();
    void reportDeviceLost(const QString& description);
    // Writes to the port; false when the port is closed afterwards (the write failed, or the
    // port was already gone): the step must then stop.
    bool send(const QByteArray& text);
    QString responseFilePath(qint32 n) const;

    CommControl& m_port;
    OperatorSide& m_op;
    QTimer& Timer1;
    State m_shared;
    QFile Fichero_Respuesta;
    BlockSink* m_sink = nullptr;
    QString m_responsesFolder;
    QString m_portName;
    Pass m_pass;
    QByteArray m_banner;

    Transfer m_transfer = Transfer::Idle;
    bool m_advancing = false;
    int m_steps = 0;            // steps under way, nested
    bool m_portGone = false;    // closed during a step
    bool m_lossPending = false; // device lost during a step
    QString m_lossDescription;
    BlockRange m_range;
    qint32 m_currentBlock = 0;
    TransferSummary m_summary;
};
