#include "FrmOutcome.h"

#include "DrawSentences.h"
#include "link/DrawExchange.h"
#include "link/PeerSocket.h"
#include "link/WireMessage.h"
#include "platform/Fonts.h"
#include "platform/PlatformServices.h"
#include "platform/ValueLabel.h"
#include "platform/ValueLabelAccessible.h"

#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace {

// One draw from the platform turned into a face from 1 to `faces`. A draw outside [0, 1) (or
// one so close to 1 that the product rounds up) is held to the nearest face, never past it.
int drawFace(PlatformServices &platform, int faces)
{
    const double r = platform.randomUnit();
    if (!(r > 0.0))
        return 1;
    const double scaled = std::floor(faces * std::min(r, 1.0));
    return std::min(faces, static_cast<int>(scaled) + 1);
}

QPushButton *whiteButton(QWidget *window, const char *objectName, const QString &caption,
                         const QRect &area)
{
    auto *button = new QPushButton(caption, window);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setGeometry(area);
    // Only the face is white; the caption keeps the system's button-text colour.
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, Qt::white);
    button->setPalette(palette);
    return button;
}

} // namespace

FrmOutcome::FrmOutcome(PeerSocket &link, PlatformServices &platform, DrawExchange *draws)
    : CentredWindow()
    , m_link(&link)
    , m_draws(draws)
    , m_platform(platform)
{
    setObjectName(QStringLiteral("frmOutcome"));
    setWindowTitle(QStringLiteral("Coin / Dice Roll"));
    setWindowIcon(QIcon(QStringLiteral(":/assets/skarnet.ico")));
    setAttribute(Qt::WA_DeleteOnClose);
    // The same small face as the board, so that a result fits on two lines of the label.
    setFont(Fonts::windowFont());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    setAutoFillBackground(true);
    // No layout: the window may be resized, the controls stay where they are.
    resize(ClientWidth, ClientHeight);

    m_coin = whiteButton(this, "cmdCoin", QStringLiteral("Flip Coin"), {8, 8, 73, 25});
    m_dice = whiteButton(this, "cmdDice", QStringLiteral("Roll Dice"), {104, 8, 73, 25});
    m_outcome = new ValueLabel(QStringLiteral("Outcome"), this);
    m_outcome->setObjectName(QStringLiteral("lblOutcome"));
    m_outcome->setTextFormat(Qt::PlainText);
    m_outcome->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_outcome->setWordWrap(true);
    m_outcome->setGeometry(8, 40, 169, 25);
    m_outcome->setFixedSize(m_outcome->size());
    QPalette labelPalette = m_outcome->palette();
    labelPalette.setColor(QPalette::Window, Qt::black);
    labelPalette.setColor(QPalette::WindowText, Qt::white);
    m_outcome->setPalette(labelPalette);
    m_outcome->setAutoFillBackground(true);
    // A screen reader hears "Outcome" as the label's name and the latest result as its text.
    ValueLabelAccessible::present(m_outcome, QStringLiteral("Outcome"));
    m_coin->setAccessibleDescription(
        QStringLiteral("Heads or tails; the result is announced to your opponent"));
    m_dice->setAccessibleDescription(
        QStringLiteral("A number from 1 to 6; the result is announced to your opponent"));

    setTabOrder(m_coin, m_dice);
    m_coin->setFocus();
    connect(m_coin, &QPushButton::clicked, this, &FrmOutcome::cmdCoin_Click);
    connect(m_dice, &QPushButton::clicked, this, &FrmOutcome::cmdDice_Click);
    // Also a draw started from an earlier opening of the window shows its result here.
    if (m_draws) {
        connect(m_draws, &DrawExchange::ownDrawSettled, this, [this](int faces, int face) {
            m_outcome->setText(DrawSentences::shared(faces, face));
        });
        connect(m_draws, &DrawExchange::ownDrawFailed, this, [this](int, DrawExchange::Failed why) {
            m_outcome->setText(DrawSentences::failed(why));
        });
    }
}

void FrmOutcome::cmdCoin_Click()
{
    draw(2);
}

void FrmOutcome::cmdDice_Click()
{
    draw(6);
}

void FrmOutcome::draw(int faces)
{
    if (drawTogether(faces))
        return;
    const int face = drawFace(m_platform, faces);
    m_outcome->setText(DrawSentences::received(faces, face));
    announce(WireCode::Announcement + DrawSentences::announcement(faces, face));
}

// Starts a draw with the other copy when it takes part in them; a click while one is under way
// waits for that one. The result shows when the other copy has answered.
bool FrmOutcome::drawTogether(int faces)
{
    if (!m_draws || !m_link || !m_link->drawsTogether())
        return false;
    if (m_draws->isDrawing())
        return true;
    m_outcome->setText(DrawSentences::drawing());
    m_draws->start(faces);
    return true;
}

// The label is set before this runs; the link state is read once.
void FrmOutcome::announce(const QString &message)
{
    if (m_link && m_link->State() == PeerSocket::Connected)
        m_link->SendData(message);
}
