#pragma once

#include <QByteArray>
#include <QStringList>

// Splits the byte stream from the peer into messages.
//
// The link carries one of two forms, and each direction switches from the first to the
// second at most once:
//
//   plain-stream  = *plain-read
//   plain-read    = 1*non-nul-byte                ; one read from the socket is one message,
//                                                 ; text in Windows-1252
//   framed-stream = *( frame )
//   frame         = *non-nul-byte NUL             ; text in UTF-8; an empty frame is a
//                                                 ; keep-alive and is skipped
//   stream        = plain-stream [ NUL framed-stream [ partial-frame ] ]
//
// A peer that only knows the plain form never sends a NUL byte, so its stream stays plain
// and every read is one message, as that peer intends. Our copies negotiate framing:
//
//   connecting side                        accepting side
//   ---------------                        --------------
//                                          "18Connected"                  (plain, as always)
//   "20" tag NUL                           (switches the reader to framed)
//                                          NUL "20" tag NUL               (framed from here)
//   NUL, then every message ends in NUL
//
// The first NUL a side sends also ends whatever plain message it sent before, so a read
// that holds the end of the plain stream and the start of the framed one splits correctly:
// the bytes before the first NUL are one plain message, the rest is framed.
//
// A frame may not exceed MaxFrameBytes: a peer that sends more without a NUL is broken or
// hostile, and the reader reports it instead of buffering without end.
class MessageReader
{
public:
    static constexpr qsizetype MaxFrameBytes = qsizetype(1) << 20;

    // The link reads with MaxFrameBytes; a smaller limit lets a test reach it with few bytes.
    explicit MessageReader(qsizetype maxFrameBytes = MaxFrameBytes)
        : m_maxFrameBytes(maxFrameBytes)
    {
    }

    // Appends the messages found in one read to `messages`. Returns false when the peer
    // exceeded the frame limit; the reader then holds nothing and should not be fed again.
    bool feed(const QByteArray &bytes, QStringList &messages);

    bool isFramed() const { return m_framed; }
    qsizetype maxFrameBytes() const { return m_maxFrameBytes; }
    // The bytes of an unfinished frame, held until its NUL arrives; never more than
    // maxFrameBytes().
    qsizetype bufferedBytes() const { return m_partialFrame.size(); }
    void reset();

private:
    bool takeFrames(QByteArrayView bytes, QStringList &messages);

    qsizetype m_maxFrameBytes;
    bool m_framed = false;
    QByteArray m_partialFrame;
};
