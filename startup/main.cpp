#include "board/TableProtocol.h"
#include "boardwindow/BoardLayout.h"
#include "boardwindow/BoardWindow.h"
#include "platform/QtPlatformServices.h"
#include "router/PortMappingScheduler.h"
#include "startup/ProgramFolders.h"
#include "startup/RunningCopy.h"
#include "startup/SplashWindow.h"
#include "startup/TerminationSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QPointer>

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

namespace {

// The exit status for a command line the program cannot use, as command-line tools report it.
constexpr int UsageError = 2;
constexpr int HighestPort = 65535;
// A program ended by a signal reports 128 plus the signal's number, as a shell shows it.
constexpr int ShellStatusBase = 128;

// A port given on the command line: digits only, 1 to 65535.
std::optional<int> portFrom(const QString &text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const int port = text.toInt();
    if (port < 1 || port > HighestPort)
        return std::nullopt;
    return port;
}

void print(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

int usageError(const QString &message)
{
    print(stderr,
          QStringLiteral("skarnet: %1\nTry 'skarnet --help' for the options.\n").arg(message));
    return UsageError;
}

QString badPortMessage(const QString &value)
{
    return QStringLiteral("--port needs a whole number from 1 to %1, not \"%2\"")
        .arg(HighestPort)
        .arg(value);
}

// Shows `window` in front of the others, restored if it was minimised, as when the player
// brings a program forward.
void bringToFront(QWidget *window)
{
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication::setApplicationName(QStringLiteral("Skarnet"));
    QApplication::setApplicationVersion(QStringLiteral(SKARNET_VERSION));
    // Matches the installed desktop entry, so a desktop shows that entry's name and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.skarnetduel.skarnet"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A duel table for two players of a card game, linked over one TCP "
                       "connection."));
    // Single-dash words are whole options, as Qt's own (-platform, -style) are.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(
        {QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
        QStringLiteral("Show these options and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version number and exit."));
    const QCommandLineOption portOption(
        QStringLiteral("port"),
        QStringLiteral("Listen on TCP port <port>, and dial the other copy on it too unless an "
                       "address names another port (default: %1).")
            .arg(TableProtocol::DefaultPort),
        QStringLiteral("port"), QString::number(TableProtocol::DefaultPort));
    const QCommandLineOption noPortMapping(
        QStringLiteral("no-port-mapping"),
        QStringLiteral("Do not ask the home router (over UPnP or NAT-PMP) to open the port for "
                       "players on other networks."));
    const QCommandLineOption invitedOnly(
        QStringLiteral("invited-only"),
        QStringLiteral("Seat only a player who comes with this table's invitation; refuse older "
                       "programs and copies without one."));
    parser.addOptions({help, version, portOption, noPortMapping, invitedOnly});
    parser.addPositionalArgument(
        QStringLiteral("invitation"),
        QStringLiteral("An invitation line (skarnet://...) or an address to dial once the board "
                       "is open. Where Skarnet already runs, that copy dials it instead."),
        QStringLiteral("[invitation]"));

    // A first look before the window system is touched, so that --help, --version and a bad
    // port answer at once even where there is no display. Qt's own options are not known here;
    // they are left for QApplication, and what is still unknown after it is refused below.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    if (!parser.parse(rawArguments) && parser.unknownOptionNames().isEmpty())
        return usageError(parser.errorText());
    if (parser.isSet(help)) {
        // The usage line names the program as it was started, which needs an application.
        QCoreApplication core(argc, argv);
        print(stdout, parser.helpText());
        return 0;
    }
    if (parser.isSet(version)) {
        print(stdout, QCoreApplication::applicationVersion() + QLatin1Char('\n'));
        return 0;
    }
    if (parser.isSet(portOption) && !portFrom(parser.value(portOption)))
        return usageError(badPortMessage(parser.value(portOption)));

    QApplication app(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));
    // QApplication has taken out the options that belong to Qt; anything left must be ours.
    if (!parser.parse(QCoreApplication::arguments()))
        return usageError(parser.errorText());
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return usageError(QStringLiteral("unexpected argument \"%1\": give one invitation or "
                                         "address at most")
                              .arg(positional.at(1)));
    const QString invitation = positional.value(0).trimmed();
    if (!positional.isEmpty() && !RunningCopy::fitsOneMessage(invitation))
        return usageError(QStringLiteral("an invitation or address is one line of text, of at "
                                         "most %1 bytes")
                              .arg(RunningCopy::MaxMessageBytes - 1));
    const std::optional<int> port = portFrom(parser.value(portOption));
    if (!port)
        return usageError(badPortMessage(parser.value(portOption)));

    // A link opened while Skarnet runs goes to the copy that runs; no second window opens.
    RunningCopy runningCopy(RunningCopy::socketNameForThisUser());
    if (!invitation.isEmpty()) {
        switch (runningCopy.handOver(invitation)) {
        case RunningCopy::HandOver::Delivered:
            return 0;
        case RunningCopy::HandOver::NotTaken:
            print(stderr, QStringLiteral("skarnet: Skarnet is already running but did not take "
                                         "the invitation\n"));
            return 1;
        case RunningCopy::HandOver::NoCopyRunning:
            break;
        }
    }

    // Where another copy already takes invitations, this one simply runs beside it.
    runningCopy.listen();

    // Settings and data kept where earlier versions left them move to their folders once.
    const ProgramFolders folders = ProgramFolders::forThisUser();
    for (const QString &line : folders.moveFormerFiles())
        print(stderr, QStringLiteral("skarnet: %1\n").arg(line));

    QtPlatformServices platform(folders.settingsFile());
    // Outlives the main window: at the end it removes the port it opened on the router.
    PortMappingScheduler portMapper;
    std::unique_ptr<BoardWindow> board;
    bool boardOpen = false;
    // The invitation to dial once the board is open and listening: the one given on the command
    // line, or the latest handed over by a later start.
    QString pendingInvitation = invitation;
    const auto dialPendingInvitation = [&] {
        if (boardOpen && !pendingInvitation.isEmpty())
            board->openInvitation(std::exchange(pendingInvitation, QString()));
    };
    QPointer<SplashWindow> splash = new SplashWindow;
    QObject::connect(splash, &SplashWindow::dismissed, [&] {
        board = std::make_unique<BoardWindow>(platform, *port, BoardLayout::factorToFitScreen());
        if (!parser.isSet(noPortMapping))
            board->setPortMapper(&portMapper);
        if (parser.isSet(invitedOnly))
            board->setInvitedOnly(true);
        const QString dataFolder = folders.dataFolder();
        board->keepIdentityIn(dataFolder);
        board->keepRecoveryIn(dataFolder);
        board->start();
        board->show();
        boardOpen = true;
        dialPendingInvitation();
    });
    QObject::connect(&runningCopy, &RunningCopy::invitationReceived, [&](const QString &text) {
        pendingInvitation = text;
        dialPendingInvitation();
        if (boardOpen)
            bringToFront(board.get());
        else if (splash)
            bringToFront(splash);
    });
    // Ctrl+C, kill and the end of a session end the program as closing its window does: the
    // other copy hears goodbye, the router's port is given back and the recovery copy goes.
    TerminationSignals termination;
    int endedBySignal = 0;
    QObject::connect(&termination, &TerminationSignals::received, [&](int signalNumber) {
        endedBySignal = signalNumber;
        if (boardOpen) {
            board->close();
        } else if (board) {
            // The board is still asking its start-up questions (the thanks box, whether to
            // restore the last game), and nothing was started that needs ending. Closing those
            // boxes would count as an answer and could discard the recovery copy the player
            // was asked about, so the program ends as it stands, keeping it for the next start.
            ::_exit(ShellStatusBase + signalNumber);
        }
        QCoreApplication::exit(ShellStatusBase + signalNumber);
    });
    splash->show();
    int status = app.exec();
    if (endedBySignal != 0)
        status = ShellStatusBase + endedBySignal;
    // Closing the window said goodbye; the link finishes delivering it as it goes.
    board.reset();
    portMapper.stop();
    return status;
}
