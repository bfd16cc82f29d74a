// A fuzz target over the readers of the lines players paste (the invitation and the reply), and
// of the ICE description that both carry. Beyond crashes and sanitizer reports, each input is
// checked against the properties the program relies on:
//
// - As text (UTF-8, and UTF-16 to reach unpaired surrogates), by both readers: what reads as an
//   invitation or a reply has sound fields and is, scheme and decorations aside, the one line
//   line() writes for them; what reads otherwise leaves the invitation or reply untouched; text
//   that begins with a scheme is never a bare address or not a reply, and only text that holds
//   it is ever more than one.
// - As bytes: an ICE description that reads is the one its fields are written as.
// - As the fields of an invitation:
//
//     input = port-high port-low change-at change-to swap-at 32*byte(fingerprint, ticket) *host
//
//   (missing bytes are zero; the host is UTF-8). A line that can be written reads back as the
//   same invitation, and the one character changed and the one pair of neighbours swapped at
//   the places the input names, anywhere past "skarnet:", read as damaged.

#include "ice/IceDescription.h"
#include "trust/Invitation.h"
#include "trust/InvitationReply.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#define CHECK(condition) ((condition) ? void() : checkFailed(#condition, __LINE__))

namespace {

[[noreturn]] void checkFailed(const char *condition, int line)
{
    std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, line, condition);
    std::abort();
}

constexpr qsizetype SchemeLength = 8;       // "skarnet:"
constexpr qsizetype ReplySchemeLength = 14; // "skarnet-reply:"

const Invitation Untouched{QStringLiteral("untouched"), 7, "f", "t"};
const InvitationReply UntouchedReply{"f", "a", "d"};

void checkText(const QString &text)
{
    Invitation read = Untouched;
    switch (Invitation::read(text, &read)) {
    case Invitation::Reading::Invitation: {
        CHECK(!read.host.isEmpty() && read.port >= 1 && read.port <= 65535);
        CHECK(read.fingerprint.size() == Invitation::FingerprintBytes);
        CHECK(read.ticket.size() == Invitation::TicketBytes);
        const QString line = read.line();
        CHECK(!line.isEmpty() && line.size() <= Invitation::LongestLine);
        CHECK(text.contains(line.sliced(SchemeLength)));
        Invitation again;
        CHECK(Invitation::read(line, &again) == Invitation::Reading::Invitation && again == read);
        break;
    }
    case Invitation::Reading::BareAddress:
        CHECK(!text.trimmed().startsWith(QLatin1String("skarnet:"), Qt::CaseInsensitive));
        CHECK(read == Untouched);
        break;
    case Invitation::Reading::CutShort:
        CHECK(text.contains(QLatin1String("/I")));
        [[fallthrough]];
    case Invitation::Reading::Damaged:
        CHECK(text.contains(QLatin1String("skarnet:"), Qt::CaseInsensitive));
        CHECK(read == Untouched);
        break;
    }
}

void checkReplyText(const QString &text)
{
    InvitationReply read = UntouchedReply;
    Invitation invitation;
    const Invitation::Reading asInvitation = Invitation::read(text, &invitation);
    switch (InvitationReply::read(text, &read)) {
    case InvitationReply::Reading::Reply: {
        CHECK(read.fingerprint.size() == Invitation::FingerprintBytes);
        CHECK(read.answers.size() == InvitationReply::AnswersBytes && !read.description.isEmpty());
        const QString line = read.line();
        CHECK(!line.isEmpty() && line.size() <= InvitationReply::LongestLine);
        CHECK(text.contains(line.sliced(ReplySchemeLength)));
        InvitationReply again;
        CHECK(InvitationReply::read(line, &again) == InvitationReply::Reading::Reply);
        CHECK(again == read);
        break;
    }
    case InvitationReply::Reading::CutShort:
    case InvitationReply::Reading::Damaged:
        CHECK(text.contains(QLatin1String("skarnet-reply:"), Qt::CaseInsensitive));
        CHECK(read == UntouchedReply);
        break;
    case InvitationReply::Reading::Invitation:
        CHECK(asInvitation != Invitation::Reading::BareAddress);
        CHECK((asInvitation == Invitation::Reading::Invitation
                   ? read == InvitationReply{invitation.fingerprint, {}, {}}
                   : read == UntouchedReply));
        break;
    case InvitationReply::Reading::NotAReply:
        CHECK(asInvitation == Invitation::Reading::BareAddress && read == UntouchedReply);
        break;
    }
}

void checkDescription(const QByteArray &bytes)
{
    IceDescription read;
    if (!IceDescription::decode(bytes, &read))
        return;
    CHECK(read.encode() == bytes);
    IceDescription again;
    CHECK(IceDescription::decode(read.encode(), &again) && again == read);
}

bool isDamaged(const QString &text)
{
    Invitation ignored;
    return Invitation::read(text, &ignored) == Invitation::Reading::Damaged;
}

void checkFields(const uint8_t *data, size_t size)
{
    QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype fixed = 5 + Invitation::FingerprintBytes + Invitation::TicketBytes;
    if (input.size() < fixed)
        input.append(fixed - input.size(), '\0');
    const auto byte = [&input](qsizetype at) {
        return uint8_t(input.at(at));
    };

    Invitation invitation;
    invitation.port = byte(0) << 8 | byte(1);
    invitation.fingerprint = input.sliced(5, Invitation::FingerprintBytes);
    invitation.ticket = input.sliced(5 + Invitation::FingerprintBytes, Invitation::TicketBytes);
    invitation.host = QString::fromUtf8(input.sliced(fixed));
    const QString line = invitation.line();
    if (line.isEmpty())
        return;
    Invitation read;
    CHECK(Invitation::read(line, &read) == Invitation::Reading::Invitation);
    invitation.host = invitation.host.toLower();
    CHECK(read == invitation);

    const qsizetype checked = line.size() - SchemeLength;
    QString changed = line;
    changed[SchemeLength + byte(2) % checked] = QChar(byte(3));
    CHECK(changed == line || isDamaged(changed));
    const qsizetype swapAt = SchemeLength + 1 + byte(4) % (checked - 1);
    QString swapped = line;
    std::swap(swapped[swapAt - 1], swapped[swapAt]);
    CHECK(swapped == line || isDamaged(swapped));
}

} // namespace

// Nothing to prepare; the corpus runner calls it all the same.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.append(QChar(char16_t(data[i] | data[i + 1] << 8)));
    for (const QString &text : {QString::fromUtf8(bytes), units}) {
        checkText(text);
        checkReplyText(text);
    }
    checkFields(data, size);
    checkDescription(bytes);
    return 0;
}
