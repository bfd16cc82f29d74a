#include "CoinDiceWindow.h"

#include "board/TableProtocol.h"
#include "draws/DrawExchange.h"
#include "draws/DrawSentences.h"
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

CoinDiceWindow::CoinDiceWindow(TableProtocol &table, PlatformServices &platform)
    : CentredWindow()
    , m_table(&table)
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
    connect(m_coin, &QPushButton::clicked, this, &CoinDiceWindow::onCoinClicked);
    connect(m_dice, &QPushButton::clicked, this, &CoinDiceWindow::onDiceClicked);
    // Also a draw started from an earlier opening of the window shows its result here.
    connect(&table.draws(), &DrawExchange::ownDrawSettled, this, [this](int faces, int face) {
        m_outcome->setText(DrawSentences::shared(faces, face));
    });
    connect(
        &table.draws(), &DrawExchange::ownDrawFailed, this,
        [this](int, DrawExchange::Failed why) { m_outcome->setText(DrawSentences::failed(why)); });
}

void CoinDiceWindow::onCoinClicked()
{
    draw(2);
}

void CoinDiceWindow::onDiceClicked()
{
    draw(6);
}

void CoinDiceWindow::draw(int faces)
{
    if (drawTogether(faces))
        return;
    const int face = drawFace(m_platform, faces);
    m_outcome->setText(DrawSentences::received(faces, face));
    // The label is set first; the link state is read once.
    if (m_table)
        m_table->sendAnnouncement(DrawSentences::announcement(faces, face));
}

// Starts a draw with the other copy when it takes part in them; a click while one is under way
// waits for that one. The result shows when the other copy has answered.
bool CoinDiceWindow::drawTogether(int faces)
{
    if (!m_table || !m_table->drawsTogether())
        return false;
    if (m_table->draws().isDrawing())
        return true;
    m_outcome->setText(DrawSentences::drawing());
    m_table->draws().start(faces);
    return true;
}

#include "moc_CoinDiceWindow.cpp"
