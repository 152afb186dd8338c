#include "expectedreception.h"

#include "receivermodel.h"
#include "testfiles.h"

#include <algorithm>
#include <string_view>

namespace {

constexpr int BlockSize = ReceiverModel::DataSize;
constexpr char SurplusByte = '\xA5';
constexpr int ShortFrameBytes = 500;
constexpr int CorruptedByte = 512;

// The block of the transfer (from 1) that a loader-sim fault option names; 0 for none.
int faultBlock(const QStringList& simArguments, const QString& option) {
    const qsizetype at = simArguments.indexOf(option);
    return at < 0 ? 0 : simArguments.value(at + 1).toInt();
}

// Every byte loader-sim sends in the transfer: each frame as its faults shape it, and the total
// unless the loader stops serving first.
QByteArray loaderStream(const QByteArray& image, int firstBlock, int count,
                        const QStringList& simArguments) {
    const int badSum = faultBlock(simArguments, QStringLiteral("--fault-bad-sum"));
    const int corrupt = faultBlock(simArguments, QStringLiteral("--fault-corrupt"));
    const int surplus = faultBlock(simArguments, QStringLiteral("--fault-surplus"));
    // A frame cut short, whether the loader then listens or vanishes.
    const int shortFrame = std::max(faultBlock(simArguments, QStringLiteral("--fault-short")),
                                    faultBlock(simArguments, QStringLiteral("--fault-vanish-mid")));
    const int vanish = faultBlock(simArguments, QStringLiteral("--fault-vanish"));
    QByteArray stream;
    quint8 total = 0;
    for (int k = 1; k <= count; ++k) {
        const QByteArray data = image.mid(qsizetype(firstBlock + k - 1) * BlockSize, BlockSize);
        const quint8 sum = byteSum(data);
        total = static_cast<quint8>(total + sum);
        QByteArray frame = loaderFrame(data, static_cast<quint8>(k == badSum ? sum + 1 : sum));
        if (k == corrupt)
            frame[CorruptedByte] = static_cast<char>(~frame.at(CorruptedByte));
        if (k == shortFrame)
            return stream + frame.left(ShortFrameBytes);
        if (k == surplus)
            frame += SurplusByte;
        stream += frame;
        if (k == vanish)
            return stream;
    }
    const bool wrongTotal = simArguments.contains(QStringLiteral("--fault-wrong-total"));
    return stream + static_cast<char>(wrongTotal ? total + 1 : total);
}

} // namespace

ExpectedReception ExpectedReception::of(const QByteArray& image, int firstBlock, int count,
                                        const QStringList& simArguments) {
    const QByteArray stream = loaderStream(image, firstBlock, count, simArguments);
    ReceiverModel tool;
    tool.sent(std::string_view(stream.constData(), std::size_t(stream.size())));
    ExpectedReception reception;
    for (int k = 0; k < count; ++k) {
        const auto frame = tool.takeFrame();
        if (!frame)
            return reception;
        reception.records += QByteArray::fromStdString(frame->data);
        if (!frame->sumMatches())
            reception.badSums.append({firstBlock + k, frame->sum, frame->sumByte});
    }
    if (const auto total = tool.takeTotal()) {
        reception.totalReceived = true;
        reception.loaderTotal = total->received;
        reception.computedTotal = total->computed;
    }
    return reception;
}
