#pragma once

#include <QByteArray>
#include <QString>

// The line the joining copy's player sends back when the two copies look for a path over UDP
// (see IcePath): which copy answers (its certificate's fingerprint), which invitation it answers
// (the inviting copy's ICE user fragment), and what the joining copy needs the inviting one to
// know (an encoded IceDescription, opaque here):
//
//   skarnet-reply:K<fingerprint>/A<ufrag><LL><payload><check>
//
// The fields are base64url without padding. LL is the payload's length in base64url characters,
// as two base64url digits, so that a line cut short is told apart from a damaged one; the check
// is the invitation's, over everything after "skarnet-reply:".
struct InvitationReply
{
    QByteArray fingerprint; // Invitation::FingerprintBytes
    QByteArray answers;     // the inviting copy's ufrag, AnswersBytes (IceDescription::UfragBytes)
    QByteArray description; // the joining copy's encoded IceDescription

    enum class Reading
    {
        Reply,      // whole and undamaged; the reply is filled in
        CutShort,   // a reply whose end is missing
        Damaged,    // a reply with a changed character or a wrong field
        Invitation, // text beginning "skarnet:"; when it is a whole invitation, the reply holds
                    // its fingerprint alone (whose? the caller compares it with its own)
        NotAReply   // anything else
    };

    static constexpr int AnswersBytes = 3, LongestLine = 600;

    // Empty if a field has the wrong length, the description is empty or the line would pass
    // LongestLine.
    QString line() const;
    // Tolerates what Invitation::read tolerates; the scheme may be in any case. The reply is
    // left untouched but for the readings Reply and Invitation. Any text at all is safe to read.
    static Reading read(const QString &text, InvitationReply *reply);

    friend bool operator==(const InvitationReply &, const InvitationReply &) = default;
};
