// One copy of the link stack without its windows, for the namespace checks of the path over UDP.
// The two players' lines go through files in DIR, as they would go through a chat program:
//
//   ice_peer host DIR --address ADDRESS [--port PORT] [--direct]
//       listens on PORT (4123), says its port cannot be dialled (with --direct: that it can, as
//       when the router forwards it, so no path over UDP is offered), writes its invitation,
//       naming ADDRESS, to DIR/invitation, and takes whatever is written to DIR/reply as the
//       pasted reply (each time it changes). It echoes every zone text back.
//   ice_peer join DIR [--send N] [--marker TEXT] [--idle SECONDS] [--claim NAME] [--ping N]
//       reads DIR/invitation, dials it and writes its reply line to DIR/reply; once linked it
//       sends the chat lines 1..N and then "end N", TEXT, and after SECONDS linked one more line.
//       With --claim the reply names the identity kept in DIR/NAME instead of its own, as a
//       reply another copy made would. With --ping, each time DIR/ping changes while linked, it
//       times N round trips of a zone text, one at a time as keys typed apart are, each sent
//       once the previous one's echo is back.
//
// Each copy keeps its identity in DIR/host or DIR/join. Where to look for a path over UDP comes
// from SKARNET_STUN and SKARNET_TURN. Every event is one line on standard output, with the
// milliseconds since the start:
//
//   invitation MS | dial MS | reply MS | pasted MS | status MS TEXT | notice MS TEXT
//   linked MS PATH          a copy took the seat, or the path under it changed
//   refused MS WHY          the host refused the pasted reply
//   chat MS TEXT            a chat line other than the numbered ones (the host echoes it back)
//   received MS N in order | received MS out of order at I | received MS K of N
//   round_trips MS US...    a batch of --ping round trips, each in microseconds
//
// SIGTERM or SIGINT leaves the table as the player would ("ending MS"), and ends the program.
#include "board/TableProtocol.h"
#include "board/ZoneTable.h"
#include "trust/Identity.h"
#include "trust/Invitation.h"
#include "trust/InvitationReply.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

std::atomic<bool> stopAsked = false;

QElapsedTimer sinceStart;

void say(const char *event, const QString &text = {})
{
    std::printf("%s %lld%s%s\n", event, static_cast<long long>(sinceStart.elapsed()),
                text.isEmpty() ? "" : " ", qUtf8Printable(text));
    std::fflush(stdout);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// Written whole or not at all: the other copy polls for the file.
void writeText(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(text.toUtf8() + '\n');
        file.commit();
    }
}

QString option(const QStringList &arguments, const QString &name, const QString &fallback = {})
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments[at + 1] : fallback;
}

// Counts the numbered lines 1..N as they arrive; "end N" says how many there were.
struct NumberedLines
{
    int next = 1;
    int firstOutOfOrder = 0;

    // Whether `line` was one of the numbered lines or their end.
    bool take(const QString &line)
    {
        bool isNumber = false;
        const int number = line.toInt(&isNumber);
        if (isNumber) {
            if (number != next && firstOutOfOrder == 0)
                firstOutOfOrder = next;
            next = number + 1;
            return true;
        }
        if (!line.startsWith(QLatin1String("end ")))
            return false;
        const int count = line.mid(4).toInt();
        if (firstOutOfOrder)
            say("received", QStringLiteral("out of order at %1").arg(firstOutOfOrder));
        else if (next - 1 != count)
            say("received", QStringLiteral("%1 of %2").arg(next - 1).arg(count));
        else
            say("received", QStringLiteral("%1 in order").arg(count));
        return true;
    }
};

// The --ping round trips: a zone text goes out, and the next once its echo is back. The first
// few of each batch are not counted: they find a path that was idle.
struct RoundTrips
{
    static constexpr int WarmUp = 5;
    int wanted = 0;
    int sent = 0;
    QElapsedTimer sentAt;
    QStringList microseconds;

    bool running() const { return sent > 0; }
    // Whether another one should go out after the echo that just came back.
    bool echoed()
    {
        if (sent > WarmUp)
            microseconds << QString::number(sentAt.nsecsElapsed() / 1000);
        if (sent < WarmUp + wanted)
            return true;
        say("round_trips", microseconds.join(QLatin1Char(' ')));
        microseconds.clear();
        sent = 0;
        return false;
    }
    // A monster card's text as a player types it, about 35 bytes on the wire.
    QString next()
    {
        sentAt.start();
        return QStringLiteral("Blue-Eyes White Dragon 3000/2500 #%1").arg(++sent);
    }
};

} // namespace

int main(int argc, char **argv)
{
    sinceStart.start();
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() < 3 || (arguments[1] != "host" && arguments[1] != "join")) {
        std::fprintf(stderr, "usage: ice_peer host|join DIR [options]\n");
        return 2;
    }
    const bool hosting = arguments[1] == "host";
    const QDir dir(arguments[2]);
    const int port = option(arguments, "--port", "4123").toInt();

    const Identity identity = Identity::loadOrCreate(dir.filePath(arguments[1]));
    if (!identity.isValid()) {
        std::fprintf(stderr, "ice_peer: %s\n", qUtf8Printable(identity.error()));
        return 1;
    }
    TableProtocol table(port);
    table.setIdentity(identity.certificate(), identity.privateKey());
    table.setIceSettings(IceSettings::fromEnvironment({}));

    QObject::connect(&table, &TableProtocol::statusChanged,
                     [](const QString &text) { say("status", text); });
    QObject::connect(&table, &TableProtocol::statusNotice,
                     [](const QString &text) { say("notice", text); });
    // A path is found before the copy on its other end is seated, or refused.
    bool seated = false;
    QString pathShown;
    const auto showPath = [&] {
        if (seated && !table.pathText().isEmpty() && table.pathText() != pathShown)
            say("linked", pathShown = table.pathText());
    };
    QObject::connect(&table, &TableProtocol::pathChanged, showPath);

    const int lines = option(arguments, "--send", "0").toInt();
    const QString marker = option(arguments, "--marker");
    const int idleSeconds = option(arguments, "--idle", "0").toInt();
    RoundTrips roundTrips;
    roundTrips.wanted = option(arguments, "--ping", "0").toInt();
    const ZoneMirror &pingZone = *ZoneTable::byEditor(QStringLiteral("txtP1Monster3"));
    QObject::connect(&table, &TableProtocol::copyLinked, [&] {
        const bool first = !std::exchange(seated, true);
        showPath();
        if (hosting || !first)
            return;
        for (int number = 1; number <= lines; ++number)
            table.sendChatLine(QString::number(number));
        if (lines > 0)
            table.sendChatLine(QStringLiteral("end %1").arg(lines));
        if (!marker.isEmpty())
            table.sendChatLine(marker);
        if (idleSeconds > 0)
            QTimer::singleShot(idleSeconds * 1000, &table, [&table, idleSeconds] {
                table.sendChatLine(QStringLiteral("still here after %1 s").arg(idleSeconds));
            });
    });
    QObject::connect(&table, &TableProtocol::zoneTextReceived,
                     [&](const ZoneMirror &zone, const QString &text) {
                         if (hosting)
                             table.sendZoneText(zone, text);
                         else if (roundTrips.running() && roundTrips.echoed())
                             table.sendZoneText(pingZone, roundTrips.next());
                     });

    NumberedLines numbered;
    QObject::connect(&table, &TableProtocol::chatLineReceived, [&](const QString &line) {
        if (numbered.take(line))
            return;
        say("chat", line);
        if (hosting)
            table.sendChatLine(QStringLiteral("echo ") + line);
    });

    // The files the players' lines go through, and SIGTERM, are looked at ten times a second.
    QTimer poll;
    QString pasted;
    QString pingBatch;
    bool dialled = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (stopAsked)
            QCoreApplication::exit(0);
        if (hosting) {
            const QString reply = readText(dir.filePath("reply"));
            if (reply.isEmpty() || reply == pasted)
                return;
            pasted = reply;
            const QString why = table.acceptReply(reply);
            say(why.isEmpty() ? "pasted" : "refused", why);
            return;
        }
        if (seated && roundTrips.wanted > 0 && !roundTrips.running() &&
            readText(dir.filePath("ping")) != pingBatch) {
            pingBatch = readText(dir.filePath("ping"));
            table.sendZoneText(pingZone, roundTrips.next());
        }
        Invitation invitation;
        if (!dialled && Invitation::read(readText(dir.filePath("invitation")), &invitation) ==
                            Invitation::Reading::Invitation) {
            dialled = true;
            say("dial");
            table.dial(invitation);
        }
    });
    poll.start(100);

    // The options are captured by value: the handlers outlive these blocks.
    if (hosting) {
        const auto writeInvitation = [&, address = option(arguments, "--address")] {
            const QString line = table.invitationLine(address, port);
            if (!line.isEmpty() && line != readText(dir.filePath("invitation"))) {
                writeText(dir.filePath("invitation"), line);
                say("invitation");
            }
        };
        QObject::connect(&table, &TableProtocol::invitationChanged, writeInvitation);
        if (!table.listen())
            return 1;
        table.setDirectPathServes(arguments.contains(QStringLiteral("--direct")));
        // Where nothing is gathered for a path over UDP, the invitation is whole at once.
        writeInvitation();
    } else {
        QObject::connect(
            &table, &TableProtocol::replyChanged, [&, claimed = option(arguments, "--claim")] {
                QString line = table.replyLine();
                if (line.isEmpty())
                    return;
                InvitationReply reply;
                if (!claimed.isEmpty() &&
                    InvitationReply::read(line, &reply) == InvitationReply::Reading::Reply) {
                    const Identity other = Identity::loadOrCreate(dir.filePath(claimed));
                    reply.fingerprint = other.fingerprint().left(Invitation::FingerprintBytes);
                    line = reply.line();
                }
                writeText(dir.filePath("reply"), line);
                say("reply");
            });
    }

    std::signal(SIGTERM, [](int) { stopAsked = true; });
    std::signal(SIGINT, [](int) { stopAsked = true; });
    const int status = application.exec();
    say("ending");
    // The table's end gives a relay's allocation back.
    table.leave();
    return status;
}
