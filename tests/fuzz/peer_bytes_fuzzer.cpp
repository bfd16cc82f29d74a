// A fuzz target over everything that handles the bytes the other copy sends, short of the
// windows: MessageReader splitting the stream into messages, WireMessage parsing each one,
// the line-break conversion, the Windows-1252 code page, and the route that sends a code to
// a zone display, the chat, the status line, an announcement or nowhere. Beyond crashes and
// sanitizer reports, every input is checked against the properties the program relies on.
//
// An input is a script of socket reads, so the fuzzer decides where the stream splits:
//
//   input   = setup *step          ; a step cut short by the end of the input takes what is left
//   setup   = 1 byte               ; bit 0 set: a lone NUL arrives first, so the stream is
//                                  ; framed from the start; clear: it starts plain.
//                                  ; bits 1-7: the frame limit in bytes (1-127), so that
//                                  ; any input can reach it; 0 for the link's MaxFrameBytes
//   step    = read / run / trickle / reset  ; chosen by the low two bits of its first byte
//   read    = %x00 length *byte    ; one read of `length` (0-255) bytes of the input
//   run     = %x01 byte count      ; one read of `count` (0-255) copies of `byte`
//   trickle = %x02 length *byte    ; `length` bytes of the input, one read per byte
//   reset   = %x03                 ; the link ends; the reader starts over
//
// Each read goes to MessageReader and to a model that follows the stream grammar one byte at
// a time; the two must agree on the messages, the framing and what stays buffered, however
// the reads split the stream.
//
// The link's own limit of a megabyte is out of reach of inputs that run fast: a single
// megabyte read costs hundreds of times a typical input. The small limits above take the same
// code to its edge; the real one is checked once per process, in LLVMFuzzerInitialize.

#include "board/ZoneTable.h"
#include "draws/DrawProtocol.h"
#include "wire/MessageReader.h"
#include "wire/Windows1252.h"
#include "wire/WireMessage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Active in every build type: a broken property must stop the fuzzer (and fail the corpus
// test) even where assert() is compiled out.
#define CHECK(condition) ((condition) ? void() : checkFailed(#condition, __LINE__))

namespace {

[[noreturn]] void checkFailed(const char *condition, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    std::abort();
}

// One message the model expects, with the bytes it came from.
struct Expected
{
    QString text;
    QByteArray bytes;
    bool framed;
    // Framed only: the bytes are well-formed UTF-8, so the text must give them back exactly.
    bool wellFormed = false;
};

Expected frameMessage(const QByteArray &frame)
{
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(frame);
    return {text, frame, true, !utf8.hasError()};
}

// The stream grammar of MessageReader.h, followed one byte at a time.
class StreamModel
{
public:
    explicit StreamModel(qsizetype maxFrameBytes)
        : m_maxFrameBytes(maxFrameBytes)
    {
    }

    bool feed(QByteArrayView read, QList<Expected> &messages)
    {
        const char *byte = read.data();
        const char *const end = byte + read.size();
        if (!framed) {
            QByteArray plain;
            for (; byte != end && *byte != '\0'; ++byte)
                plain.append(*byte);
            if (!plain.isEmpty())
                messages.append({Windows1252::decode(plain), plain, false});
            if (byte == end)
                return true;
            framed = true;
            ++byte;
        }
        // resize(0) rather than clear() keeps the buffer for the next frame.
        for (; byte != end; ++byte) {
            if (*byte != '\0') {
                frame.append(*byte);
                if (frame.size() > m_maxFrameBytes) {
                    frame.resize(0);
                    return false;
                }
            } else if (!frame.isEmpty()) {
                messages.append(frameMessage(frame));
                frame.resize(0);
            }
        }
        return true;
    }

    void reset()
    {
        framed = false;
        frame.clear();
    }

    bool framed = false;
    QByteArray frame;

private:
    qsizetype m_maxFrameBytes;
};

// The characters Windows-1252 holds, taken from decoding every byte.
const std::bitset<0x10000> &codePageCharacters()
{
    static const std::bitset<0x10000> characters = [] {
        std::bitset<0x10000> set;
        QByteArray all(256, Qt::Uninitialized);
        for (int byte = 0; byte < 256; ++byte)
            all[byte] = char(byte);
        for (const QChar ch : Windows1252::decode(all))
            set.set(ch.unicode());
        return set;
    }();
    return characters;
}

// Encoding keeps each character the code page holds, turns every other character (and each
// surrogate pair as a whole) into one '?', and what it produces decodes and encodes unchanged.
void checkEncoding(const QString &text)
{
    const QByteArray bytes = Windows1252::encode(text);
    const QString back = Windows1252::decode(bytes);
    CHECK(back.size() == bytes.size());
    qsizetype out = 0;
    for (qsizetype i = 0; i < text.size(); ++i, ++out) {
        CHECK(out < bytes.size());
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            CHECK(bytes.at(out) == '?');
            ++i;
        } else if (codePageCharacters().test(ch.unicode())) {
            CHECK(back.at(out) == ch);
        } else {
            CHECK(bytes.at(out) == '?');
        }
    }
    CHECK(out == bytes.size());
    CHECK(Windows1252::encode(back) == bytes);
}

// A wire text turns into editor text with one LF per line break (CR LF, lone CR or lone LF)
// and no CR left; editor text turns into CR LF only, and back again unchanged.
void checkLineBreaks(const QString &wire)
{
    const QString editor = WireMessage::fromWireLineBreaks(wire);
    const qsizetype crLf = wire.count(QLatin1String("\r\n"));
    CHECK(!editor.contains(QLatin1Char('\r')));
    CHECK(editor.size() == wire.size() - crLf);
    CHECK(editor.count(QLatin1Char('\n')) ==
          wire.count(QLatin1Char('\r')) + wire.count(QLatin1Char('\n')) - crLf);
    CHECK(WireMessage::fromWireLineBreaks(editor) == editor);

    const QString sent = WireMessage::toWireLineBreaks(editor);
    const qsizetype lines = editor.count(QLatin1Char('\n'));
    CHECK(sent.count(QLatin1String("\r\n")) == lines);
    CHECK(sent.count(QLatin1Char('\r')) == lines && sent.count(QLatin1Char('\n')) == lines);
    CHECK(WireMessage::fromWireLineBreaks(sent) == editor);
}

// The messages one fresh reader makes of a single read that ends where a message ends.
QStringList readOnce(const QByteArray &read)
{
    MessageReader reader;
    QStringList messages;
    CHECK(reader.feed(read, messages));
    CHECK(reader.bufferedBytes() == 0);
    return messages;
}

bool isAsciiDigit(QChar ch)
{
    return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
}

bool isTwoDigits(const QString &code)
{
    return code.size() == 2 && isAsciiDigit(code.at(0)) && isAsciiDigit(code.at(1));
}

// The route of a code agrees with the zone table, and only codes of the table go anywhere.
void checkRoute(const QString &code)
{
    const MessageRoute route = ZoneTable::route(code);
    const auto zones = ZoneTable::all();
    if (route.kind == MessageRoute::Kind::Zone) {
        CHECK(route.zone != nullptr);
        CHECK(route.zone >= zones.data() && route.zone < zones.data() + zones.size());
        CHECK(route.zone->code == code);
        CHECK(ZoneTable::byEditor(route.zone->editorName) == route.zone);
    } else {
        CHECK(route.zone == nullptr);
        CHECK(ZoneTable::byCode(code) == nullptr);
    }
    if (route.kind != MessageRoute::Kind::Ignored)
        CHECK(isTwoDigits(code));
    CHECK((route.kind == MessageRoute::Kind::Chat) == (code == WireCode::Chat));
    CHECK((route.kind == MessageRoute::Kind::Status) == (code == WireCode::Status));
    CHECK((route.kind == MessageRoute::Kind::Announcement) == (code == WireCode::Announcement));
    if (code == WireCode::Greeting || code.size() < 2)
        CHECK(route.kind == MessageRoute::Kind::Ignored);
}

// A step of a shared draw is read only in the one form a copy writes: what is read builds back
// into the very same text.
void checkDrawStep(const WireMessage &message)
{
    const std::optional<DrawProtocol::Message> step = DrawProtocol::parse(message);
    if (!step)
        return;
    CHECK(DrawProtocol::isDrawCode(message.code));
    QString rebuilt;
    switch (step->step) {
    case DrawProtocol::Step::Commit:
        CHECK(step->faces == 2 || step->faces == 6);
        rebuilt = DrawProtocol::commit(step->id, step->faces, step->commitment);
        break;
    case DrawProtocol::Step::Answer:
        rebuilt = DrawProtocol::answer(step->id, step->answer);
        break;
    case DrawProtocol::Step::Reveal:
        rebuilt = DrawProtocol::reveal(step->id, step->salt, step->secret);
        break;
    }
    CHECK(rebuilt == WireMessage::build(message.code, message.payload));
}

// What this seat's editor would send back with the same text lands in the editor's own zone
// on the other seat, in both forms of the stream, with its text intact.
void checkZoneEcho(const QString &payload, qsizetype pick)
{
    const auto zones = ZoneTable::all();
    const ZoneMirror &zone = zones[pick % qsizetype(zones.size())];
    const QString editorText = WireMessage::fromWireLineBreaks(payload);
    const QString wire = WireMessage::build(zone.code, WireMessage::toWireLineBreaks(editorText));

    const QStringList framed = readOnce(QByteArray(1, '\0') + wire.toUtf8() + '\0');
    CHECK(framed.size() == 1 && framed.first() == wire);
    const WireMessage parsed = WireMessage::parse(framed.first());
    CHECK(ZoneTable::route(parsed.code).zone == &zone);
    CHECK(WireMessage::fromWireLineBreaks(parsed.payload) == editorText);

    const QStringList plain = readOnce(Windows1252::encode(wire));
    CHECK(plain.size() == 1);
    CHECK(ZoneTable::route(WireMessage::parse(plain.first()).code).zone == &zone);
}

constexpr qsizetype TextCheckLimit = 4096;

void checkMessage(const Expected &message)
{
    const QString &text = message.text;
    CHECK(!text.isEmpty());
    CHECK(!text.contains(QChar(0)));
    if (message.framed) {
        if (message.wellFormed)
            CHECK(text.toUtf8() == message.bytes);
        else
            CHECK(text.contains(QChar::ReplacementCharacter));
    } else {
        // Every byte of a plain message decodes and encodes back to itself.
        CHECK(text.size() == message.bytes.size());
        CHECK(Windows1252::encode(text) == message.bytes);
    }

    const WireMessage parsed = WireMessage::parse(text);
    CHECK(parsed.code == text.left(2));
    CHECK(parsed.payload.size() == std::max<qsizetype>(0, text.size() - 2));
    CHECK(WireMessage::build(parsed.code, parsed.payload) == text);
    checkRoute(parsed.code);
    checkDrawStep(parsed);

    // The text checks go character by character with nothing that depends on the length, so
    // long messages would only slow the fuzzer down; the reader checks above cover them.
    if (text.size() > TextCheckLimit)
        return;
    checkLineBreaks(parsed.payload);
    checkEncoding(text);
    // Only a message that goes somewhere has its payload shown. The payload of any other
    // may start inside a surrogate pair that the code cut in two, which no editor holds.
    if (ZoneTable::route(parsed.code).kind != MessageRoute::Kind::Ignored)
        checkZoneEcho(parsed.payload, text.size());
}

// Reads a script of socket reads from the fuzzer's input.
class Script
{
public:
    Script(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool atEnd() const { return m_at >= m_size; }
    uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }
    QByteArray bytes(size_t count)
    {
        const size_t taken = std::min(count, m_size - m_at);
        const QByteArray result(reinterpret_cast<const char *>(m_data + m_at), qsizetype(taken));
        m_at += taken;
        return result;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

class Link
{
public:
    explicit Link(qsizetype maxFrameBytes)
        : m_reader(maxFrameBytes)
        , m_model(maxFrameBytes)
    {
        CHECK(m_reader.maxFrameBytes() == maxFrameBytes);
    }

    // Whether the reader took the read; false once it has refused an oversized frame.
    bool deliver(const QByteArray &read)
    {
        // A reader that reported an oversized frame is not fed again until the link restarts.
        if (m_stopped)
            return false;
        const QString earlier = QStringLiteral("earlier message");
        QStringList messages{earlier};
        QList<Expected> &expected = m_lastMessages;
        expected.clear();
        const bool accepted = m_reader.feed(read, messages);
        CHECK(accepted == m_model.feed(read, expected));
        CHECK(messages.first() == earlier);
        CHECK(messages.size() == expected.size() + 1);
        for (qsizetype i = 0; i < expected.size(); ++i)
            CHECK(messages.at(i + 1) == expected.at(i).text);
        CHECK(m_reader.isFramed() == m_model.framed);
        if (accepted) {
            CHECK(m_reader.bufferedBytes() == m_model.frame.size());
        } else {
            CHECK(m_reader.bufferedBytes() == 0);
            m_stopped = true;
        }
        CHECK(m_reader.bufferedBytes() <= m_reader.maxFrameBytes());
        for (const Expected &message : expected) {
            CHECK(!message.framed || message.bytes.size() <= m_reader.maxFrameBytes());
            checkMessage(message);
        }
        return accepted;
    }

    // The messages of the last read that the reader took, for checks of a known stream.
    const QList<Expected> &lastMessages() const { return m_lastMessages; }

    void reset()
    {
        m_reader.reset();
        m_model.reset();
        m_stopped = false;
        CHECK(!m_reader.isFramed() && m_reader.bufferedBytes() == 0);
    }

private:
    MessageReader m_reader;
    StreamModel m_model;
    QList<Expected> m_lastMessages;
    bool m_stopped = false;
};

void runScript(const uint8_t *data, size_t size)
{
    Script script(data, size);
    const uint8_t setup = script.byte();
    Link link(setup >> 1 ? setup >> 1 : MessageReader::MaxFrameBytes);
    if (setup & 1)
        link.deliver(QByteArray(1, '\0'));
    while (!script.atEnd()) {
        switch (script.byte() & 3) {
        case 0:
            link.deliver(script.bytes(script.byte()));
            break;
        case 1: {
            const char value = char(script.byte());
            link.deliver(QByteArray(script.byte(), value));
            break;
        }
        case 2:
            for (const char byte : script.bytes(script.byte()))
                link.deliver(QByteArray(1, byte));
            break;
        case 3:
            link.reset();
            break;
        }
    }
}

// The whole input as text, apart from the reader: as Windows-1252 bytes, which must come back
// byte for byte, and as UTF-16, which reaches the encoder with unpaired surrogates too.
void checkRawText(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString decoded = Windows1252::decode(bytes);
    CHECK(decoded.size() == bytes.size());
    CHECK(Windows1252::encode(decoded) == bytes);

    QString units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.append(QChar(char16_t(data[i] | data[i + 1] << 8)));
    checkEncoding(units);
    checkLineBreaks(units);
    checkRoute(units.left(2));
}

// The link's frame limit, met and passed in one read and over several. Plain reads have no
// limit, and the limit counts UTF-8 bytes, not characters.
void checkLinkFrameLimit()
{
    const qsizetype limit = MessageReader::MaxFrameBytes;
    const QByteArray nul(1, '\0');
    const QByteArray full(limit, 'A');
    {
        Link link(limit);
        // A whole frame of exactly the limit in one read, then in two.
        CHECK(link.deliver(nul + full + nul));
        CHECK(link.lastMessages().size() == 1 && link.lastMessages().first().bytes == full);
        CHECK(link.deliver(full.first(limit - 1)));
        CHECK(link.deliver(QByteArray("A") + nul));
        CHECK(link.lastMessages().size() == 1 && link.lastMessages().first().bytes == full);
        // A frame that reaches the limit with a two-byte character, then one byte too many.
        CHECK(link.deliver(full.first(limit - 2)) && link.deliver(QByteArray("\xc3\xa9")));
        CHECK(!link.deliver(QByteArray("x") + nul));
    }
    {
        Link link(limit);
        // A plain read longer than any frame is still one message.
        CHECK(link.deliver(full + 'P'));
        CHECK(link.lastMessages().size() == 1 &&
              link.lastMessages().first().text.size() == limit + 1);
        // A frame that passes the limit in the read after a complete one.
        CHECK(link.deliver(nul + QByteArray("17before") + nul + full.first(limit - 1)));
        CHECK(link.lastMessages().size() == 1);
        CHECK(!link.deliver(QByteArray("AB")));
        // After the link restarts: the limit counts bytes, not characters.
        link.reset();
        QByteArray accents;
        for (qsizetype i = 0; i < limit / 2; ++i)
            accents.append("\xc3\xa9");
        CHECK(link.deliver(nul + accents + nul));
        CHECK(link.lastMessages().size() == 1 &&
              link.lastMessages().first().text.size() == limit / 2);
        CHECK(!link.deliver(accents + 'x'));
    }
}

} // namespace

// Called once before the first input, by libFuzzer and by the corpus runner.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    checkLinkFrameLimit();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    runScript(data, size);
    checkRawText(data, size);
    return 0;
}
