#include "MessageReader.h"

#include "Windows1252.h"

#include <QStringDecoder>

namespace {

// The text of one frame, character for character. QString::fromUtf8 would drop a byte order
// mark at the start, which turns a frame of only that mark into an empty message and changes
// the text of a frame that starts with it; the mark is a character like any other here.
QString frameText(QByteArrayView frame)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(frame);
}

} // namespace

bool MessageReader::feed(const QByteArray &bytes, QStringList &messages)
{
    QByteArrayView rest(bytes);
    if (!m_framed) {
        const qsizetype firstNul = rest.indexOf('\0');
        const QByteArrayView plain = firstNul < 0 ? rest : rest.first(firstNul);
        if (!plain.isEmpty())
            messages.append(Windows1252::decode(plain.toByteArray()));
        if (firstNul < 0)
            return true;
        m_framed = true;
        rest = rest.sliced(firstNul + 1);
    }
    if (takeFrames(rest, messages))
        return true;
    m_partialFrame.clear();
    m_partialFrame.squeeze();
    return false;
}

bool MessageReader::takeFrames(QByteArrayView bytes, QStringList &messages)
{
    qsizetype start = 0;
    for (qsizetype nul = bytes.indexOf('\0'); nul >= 0; nul = bytes.indexOf('\0', start)) {
        const QByteArrayView tail = bytes.sliced(start, nul - start);
        if (m_partialFrame.size() + tail.size() > m_maxFrameBytes)
            return false;
        if (!m_partialFrame.isEmpty()) {
            m_partialFrame.append(tail);
            messages.append(frameText(m_partialFrame));
            m_partialFrame.clear();
        } else if (!tail.isEmpty()) {
            messages.append(frameText(tail));
        }
        start = nul + 1;
    }
    const QByteArrayView unfinished = bytes.sliced(start);
    if (m_partialFrame.size() + unfinished.size() > m_maxFrameBytes)
        return false;
    m_partialFrame.append(unfinished);
    return true;
}

void MessageReader::reset()
{
    m_framed = false;
    m_partialFrame.clear();
}
