#include "BoardLayout.h"

#include "ZoneFrameBox.h"
#include "board/ZoneTable.h"
#include "platform/Fonts.h"
#include "platform/PictureButton.h"
#include "platform/PlainPasteTextEdit.h"
#include "platform/ScaledMetricsStyle.h"
#include "platform/ScreenFit.h"
#include "platform/SquareTextBoxStyle.h"
#include "platform/ValueLabel.h"
#include "platform/ValueLabelAccessible.h"
#include "wire/WireMessage.h"

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>

#include <array>

namespace {

// Positions are written in twips, as the board was drawn; 15 twips make one pixel at 96 dpi.
constexpr int TwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel,
            height / TwipsPerPixel};
}

enum class Face
{
    Default,
    SerifSmall,
    SansMedium,
    SansLarge,
    ComicLarge
};

QFont fontFor(Face face)
{
    switch (face) {
    case Face::Default:
        break;
    case Face::SerifSmall:
        return Fonts::serif(8.25);
    case Face::SansMedium:
        return Fonts::sans(9.75);
    case Face::SansLarge:
        return Fonts::sans(24);
    case Face::ComicLarge:
        return Fonts::comic(24);
    }
    return Fonts::windowFont();
}

const QColor White(0xFF, 0xFF, 0xFF);
const QColor Black(0x00, 0x00, 0x00);
const QColor OpponentRed(0xFF, 0x00, 0x00);
const QColor PlayerBlue(0x80, 0x80, 0xFF);

// Which zone a frame holds, as far as its colours and fonts go; what kind of editor or display
// lies in it is the zone's ZoneContent.
enum class ZoneKind
{
    Monster,
    Trap,
    Field,
    Graveyard,
    FusionDeck,
    Deck
};

QColor zoneColour(ZoneKind kind)
{
    switch (kind) {
    case ZoneKind::Monster:
        return {0x80, 0x40, 0x00};
    case ZoneKind::Trap:
        return {0x00, 0x40, 0x40};
    case ZoneKind::Field:
        return {0x00, 0x40, 0x00};
    case ZoneKind::Graveyard:
        return {0x40, 0x40, 0x40};
    case ZoneKind::FusionDeck:
        return {0x40, 0x00, 0x40};
    case ZoneKind::Deck:
        break;
    }
    return {};
}

// One zone frame and what lies in it. Frames stand in a grid of 7 columns and 4 rows;
// `nested` editors are children of their frame, the others are window-level editors that lie
// over it.
struct ZoneFrame
{
    const char *frameName;
    int index; // the two "frmGY" frames share a name and are told apart by index
    int column;
    int top;
    // The message code of the zone in ZoneTable, which gives the frame's caption and the name
    // of the editor (local half) or display (opponent half) that lies in it.
    const char *zoneCode;
    ZoneKind kind;
    bool nested;
    // Where Tab reaches the editor or display in the board's tab order (see Builder::tabStop).
    int tabIndex;
};

// Labels take no focus, so Tab passes them by.
constexpr int NoTabStop = -1;

constexpr int OpponentBack = 720, OpponentFront = 3000, LocalFront = 5280, LocalBack = 7560;

// clang-format off
constexpr std::array<ZoneFrame, 28> Frames = {{
    {"Frame14", -1, 0, OpponentBack, "03", ZoneKind::Deck, true, NoTabStop},
    {"Frame18", -1, 1, OpponentBack, "04", ZoneKind::Trap, true, NoTabStop},
    {"Frame19", -1, 2, OpponentBack, "05", ZoneKind::Trap, true, NoTabStop},
    {"Frame17", -1, 3, OpponentBack, "06", ZoneKind::Trap, true, NoTabStop},
    {"Frame16", -1, 4, OpponentBack, "07", ZoneKind::Trap, true, NoTabStop},
    {"Frame15", -1, 5, OpponentBack, "08", ZoneKind::Trap, true, NoTabStop},
    {"frmGY", 1, 6, OpponentBack, "09", ZoneKind::FusionDeck, true, 1},
    {"Frame26", -1, 0, OpponentFront, "10", ZoneKind::Graveyard, true, 2},
    {"Frame21", -1, 1, OpponentFront, "11", ZoneKind::Monster, true, NoTabStop},
    {"Frame22", -1, 2, OpponentFront, "12", ZoneKind::Monster, true, NoTabStop},
    {"Frame23", -1, 3, OpponentFront, "13", ZoneKind::Monster, true, NoTabStop},
    {"Frame24", -1, 4, OpponentFront, "14", ZoneKind::Monster, true, NoTabStop},
    {"Frame25", -1, 5, OpponentFront, "15", ZoneKind::Monster, true, NoTabStop},
    {"Frame20", -1, 6, OpponentFront, "16", ZoneKind::Field, true, NoTabStop},
    {"Frame7", -1, 0, LocalFront, "16", ZoneKind::Field, false, 3},
    {"Frame8", -1, 1, LocalFront, "15", ZoneKind::Monster, false, 4},
    {"Frame9", -1, 2, LocalFront, "14", ZoneKind::Monster, false, 5},
    {"Frame10", -1, 3, LocalFront, "13", ZoneKind::Monster, false, 6},
    {"Frame11", -1, 4, LocalFront, "12", ZoneKind::Monster, false, 7},
    {"Frame12", -1, 5, LocalFront, "11", ZoneKind::Monster, false, 19},
    {"Frame13", -1, 6, LocalFront, "10", ZoneKind::Graveyard, false, 8},
    {"frmGY", 0, 0, LocalBack, "09", ZoneKind::FusionDeck, true, 9},
    {"Frame1", -1, 1, LocalBack, "08", ZoneKind::Trap, true, 10},
    {"Frame2", -1, 2, LocalBack, "07", ZoneKind::Trap, false, 11},
    {"Frame3", -1, 3, LocalBack, "06", ZoneKind::Trap, false, 12},
    {"Frame4", -1, 4, LocalBack, "05", ZoneKind::Trap, false, 13},
    {"Frame5", -1, 5, LocalBack, "04", ZoneKind::Trap, false, 14},
    {"Frame6", -1, 6, LocalBack, "03", ZoneKind::Deck, true, 15},
}};
// clang-format on

const QString ListCards = QStringLiteral("List cards\n");
const QString NumberOfCards = QStringLiteral("Number of cards");

// Whose a control is, as a screen reader says it before the control's caption.
QString owner(bool opponent)
{
    return opponent ? QStringLiteral("Opponent's ") : QStringLiteral("Your ");
}

class Builder
{
public:
    Builder(QWidget *window, double factor)
        : m_window(window)
        , m_factor(factor)
        , m_lineEditStyle(new SquareTextBoxStyle(window))
        , m_scrollBarStyle(factor == 1.0 ? nullptr : new ScaledMetricsStyle(factor, window))
    {
    }

    void zoneFrame(const ZoneFrame &layout)
    {
        const ZoneMirror &zone = *ZoneTable::byCode(QString::fromLatin1(layout.zoneCode));
        auto *frame = new ZoneFrameBox(zone.caption, m_window);
        name(frame, layout.frameName);
        if (layout.index >= 0)
            frame->setProperty("index", layout.index);
        frame->setGeometry(place(twips(1920 * layout.column, layout.top, 1935, 2295)));
        colour(frame, White, Black);
        QPalette etched = frame->palette();
        etched.setColor(QPalette::Dark, QColor(0x80, 0x80, 0x80));
        etched.setColor(QPalette::Light, White);
        frame->setPalette(etched);

        // A screen reader names the zone's editor or display as the frame it lies in is
        // captioned, so a listener hears what a sighted player reads; the layout mirrors the
        // numbering, so the caption is the zone's and not worked out from the position.
        const bool opponent = layout.top < LocalFront;
        const QString spoken = owner(opponent) + zone.caption;
        frame->setAccessibleName(spoken + QStringLiteral(" frame"));
        if (zone.content == ZoneContent::Count) {
            deckContents(frame, zone, opponent, spoken, layout.tabIndex);
            return;
        }
        QWidget *parent = layout.nested ? frame : m_window;
        const QRect area = layout.nested
                               ? twips(120, 240, 1695, 1935)
                               : twips(1920 * layout.column + 120, layout.top + 240, 1695, 1935);
        const QColor background = zoneColour(layout.kind);
        BoardControls::Zone &controls = m_controls.zone(zone);
        if (!opponent) {
            const QString initial = zone.content == ZoneContent::List ? ListCards : QString();
            controls.textEditor = textBox(zone.editorName, parent, area, initial, White, background,
                                          Face::Default, true);
            controls.textEditor->setAccessibleName(spoken);
            tabStop(controls.textEditor, layout.tabIndex);
        } else if (zone.content == ZoneContent::List) {
            const Face face = layout.kind == ZoneKind::Graveyard ? Face::SerifSmall : Face::Default;
            QPlainTextEdit *list =
                textBox(zone.displayName, parent, area, {}, White, background, face, true);
            readOnly(list);
            list->setAccessibleName(spoken);
            tabStop(list, layout.tabIndex);
            controls.listDisplay = list;
            if (layout.kind == ZoneKind::Graveyard)
                m_controls.opponentGraveyard = list;
        } else {
            ValueLabel *display =
                label<ValueLabel>(zone.displayName, parent, area, {}, White, Face::SerifSmall,
                                  Qt::AlignHCenter | Qt::AlignTop);
            display->setWordWrap(true);
            opaque(display, background);
            ValueLabelAccessible::present(display, spoken);
            controls.labelDisplay = display;
        }
    }

    // A caption or heading; a ValueLabel for a display whose text the program changes.
    template <typename Label = QLabel>
    Label *label(const QString &objectName, QWidget *parent, const QRect &area, const QString &text,
                 const QColor &textColour, Face face, Qt::Alignment alignment = Qt::AlignLeft)
    {
        auto *label = new Label(text, parent);
        name(label, objectName);
        label->setTextFormat(Qt::PlainText);
        label->setGeometry(place(area));
        label->setAlignment(alignment | Qt::AlignTop);
        label->setWordWrap(true);
        label->setFont(font(face));
        colour(label, textColour, {});
        return label;
    }

    QLineEdit *lineEdit(const QString &objectName, const QRect &area, const QString &text,
                        int maxLength = 0, Face face = Face::Default, QWidget *parent = nullptr)
    {
        auto *edit = new QLineEdit(text, parent ? parent : m_window);
        name(edit, objectName);
        edit->setStyle(m_lineEditStyle);
        edit->setGeometry(place(area));
        edit->setFont(font(face));
        if (maxLength > 0)
            edit->setMaxLength(maxLength);
        // The square frame style fills the whole box, so a change in it need not repaint what
        // lies beneath (the window, or a caption the box overlaps).
        edit->setAttribute(Qt::WA_OpaquePaintEvent);
        return edit;
    }

    QPlainTextEdit *textBox(const QString &objectName, QWidget *parent, const QRect &area,
                            const QString &text, const QColor &textColour, const QColor &background,
                            Face face, bool scrollBar)
    {
        auto *box = new PlainPasteTextEdit(text, parent);
        name(box, objectName);
        box->setGeometry(place(area));
        box->setFont(font(face));
        box->setTabChangesFocus(true);
        // The box covers its whole rectangle, so a change in it need not repaint the zone
        // frame beneath.
        box->setAttribute(Qt::WA_OpaquePaintEvent);
        box->setVerticalScrollBarPolicy(scrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
        box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        box->verticalScrollBar()->setPalette(QPalette());
        if (m_scrollBarStyle)
            box->verticalScrollBar()->setStyle(m_scrollBarStyle);
        if (textColour.isValid()) {
            QPalette palette = box->palette();
            palette.setColor(QPalette::Text, textColour);
            palette.setColor(QPalette::Base, background);
            box->setPalette(palette);
        }
        return box;
    }

    QPushButton *button(const char *objectName, const QRect &area, const QString &caption,
                        const QColor &face = {})
    {
        auto *button = new QPushButton(caption, m_window);
        name(button, objectName);
        button->setGeometry(place(area));
        if (face.isValid()) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::Button, face);
            button->setPalette(palette);
        }
        return button;
    }

    PictureButton *pictureButton(const char *objectName, const QRect &area, const QString &picture,
                                 const QString &caption)
    {
        auto *button =
            new PictureButton(ScreenFit::scaled(QPixmap(picture), m_factor), caption, m_window);
        name(button, objectName);
        button->setGeometry(place(area));
        return button;
    }

    // A picture that only decorates: it keeps an empty accessible name, so screen readers
    // pass over it.
    void image(const char *objectName, int left, int top, const QString &picture)
    {
        auto *image = new QLabel(m_window);
        name(image, objectName);
        const QPixmap pixmap(picture);
        image->setPixmap(ScreenFit::scaled(pixmap, m_factor));
        image->setGeometry(
            place(QRect(QPoint(left / TwipsPerPixel, top / TwipsPerPixel), pixmap.size())));
    }

    // The player can scroll, select and copy, but not type.
    void readOnly(QPlainTextEdit *box)
    {
        box->setReadOnly(true);
        box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // Only the program changes these boxes; keeping undo steps for every received line
        // would only grow memory through a long game.
        box->setUndoRedoEnabled(false);
    }

    void opaque(QWidget *widget, const QColor &background)
    {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, background);
        widget->setPalette(palette);
        widget->setAutoFillBackground(true);
    }

    // What a screen reader calls a control outside the zone frames, and what it adds when
    // asked for more (empty: nothing). The zone frames and what lies in them are named from
    // their zone's caption.
    static void speak(ValueLabel *label, const char *name, const char *description = "",
                      QAccessible::Role role = QAccessible::StaticText)
    {
        ValueLabelAccessible::present(label, QString::fromLatin1(name), role);
        label->setAccessibleDescription(QString::fromLatin1(description));
    }
    static void speak(QWidget *widget, const char *name, const char *description = "")
    {
        widget->setAccessibleName(QString::fromLatin1(name));
        widget->setAccessibleDescription(QString::fromLatin1(description));
    }

    // Ties a label whose only job is to caption `control` to it: the control is the label's
    // buddy, so a screen reader hears the caption as its label. The caption itself is named
    // after the control, so that the two "Life Points" captions of the halves are told apart.
    // Call it once the control has its accessible name.
    static void tieCaption(QLabel *caption, QWidget *control)
    {
        caption->setBuddy(control);
        caption->setAccessibleName(control->accessibleName() + QStringLiteral(" caption"));
    }

    // Gives `widget` its place in the tab order, as a form's TabIndex property does. Only text
    // boxes and buttons take the focus; Tab walks them in this order and wraps around.
    void tabStop(QWidget *widget, int tabIndex)
    {
        Q_ASSERT(tabIndex >= 0 && std::size_t(tabIndex) < m_tabOrder.size());
        Q_ASSERT(!m_tabOrder[std::size_t(tabIndex)]);
        m_tabOrder[std::size_t(tabIndex)] = widget;
    }

    // Sets the tab order once every control is made, and hands back the controls.
    BoardControls finish()
    {
        QWidget *previous = nullptr;
        for (QWidget *widget : m_tabOrder) {
            Q_ASSERT(widget);
            widget->setFocusPolicy(widget->focusPolicy() == Qt::NoFocus ? Qt::StrongFocus
                                                                        : widget->focusPolicy());
            if (previous)
                QWidget::setTabOrder(previous, widget);
            previous = widget;
        }
        // The texts the controls start with are the whole texts behind the displays, and what
        // the editors hold for the other copy.
        for (const ZoneMirror &zone : ZoneTable::all()) {
            const BoardControls::Zone &controls = m_controls.zone(zone);
            m_controls.acceptedTexts[ZoneTable::indexOf(zone)] = m_controls.ownText(zone);
            m_controls.opponentTexts[ZoneTable::indexOf(zone)] =
                controls.labelDisplay ? controls.labelDisplay->text()
                                      : controls.listDisplay->toPlainText();
        }
        m_controls.chatText = m_controls.chatLog->toPlainText();
        return m_controls;
    }

    QWidget *window() const { return m_window; }
    // Where a control lies, and the face it is written in, at the factor the board is drawn at.
    QRect place(const QRect &area) const { return ScreenFit::scaled(area, m_factor); }
    QFont font(Face face) const { return ScreenFit::scaled(fontFor(face), m_factor); }
    BoardControls &controls() { return m_controls; }

private:
    // The deck zone holds a count, named after the zone and described by its caption.
    void deckContents(QGroupBox *frame, const ZoneMirror &zone, bool opponent,
                      const QString &spoken, int tabIndex)
    {
        const QColor highlightText = frame->palette().color(QPalette::HighlightedText);
        if (opponent) {
            QLabel *caption = label("Label2", frame, twips(120, 240, 1335, 255), NumberOfCards,
                                    highlightText, Face::Default);
            ValueLabel *count = label<ValueLabel>(
                zone.displayName, frame, twips(480, 720, 615, 495), {}, White, Face::SansLarge);
            ValueLabelAccessible::present(count, spoken);
            count->setAccessibleDescription(NumberOfCards);
            tieCaption(caption, count);
            m_controls.zone(zone).labelDisplay = count;
            return;
        }
        QLabel *caption = label("Label1", frame, twips(360, 360, 1215, 255), NumberOfCards,
                                highlightText, Face::Default);
        QLineEdit *count =
            lineEdit(zone.editorName, twips(600, 1080, 735, 495), {}, 3, Face::SansLarge, frame);
        count->setAccessibleName(spoken);
        count->setAccessibleDescription(NumberOfCards);
        QPalette palette = count->palette();
        palette.setColor(QPalette::Text, Black);
        count->setPalette(palette);
        tieCaption(caption, count);
        tabStop(count, tabIndex);
        m_controls.zone(zone).lineEditor = count;
    }

    static void name(QObject *object, const QString &objectName)
    {
        object->setObjectName(objectName);
    }

    static void colour(QWidget *widget, const QColor &text, const QColor &window)
    {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::WindowText, text);
        if (window.isValid())
            palette.setColor(QPalette::Window, window);
        widget->setPalette(palette);
    }

    QWidget *m_window;
    double m_factor;
    SquareTextBoxStyle *m_lineEditStyle;
    // Scroll bars as wide as the board is drawn; the style's own at the normal size.
    ScaledMetricsStyle *m_scrollBarStyle;
    BoardControls m_controls;
    // Indexed by tab index: the cmd and txt controls and the two opponent list displays.
    std::array<QWidget *, 27> m_tabOrder{};
};

// The hand and life point counts of the two halves stand in the strips above and below the
// board, outside the zone frames.
void buildTopStrip(Builder &board)
{
    QWidget *w = board.window();
    BoardControls &controls = board.controls();
    const ZoneMirror &hand = *ZoneTable::byCode(WireCode::Hand);
    const ZoneMirror &lifePoints = *ZoneTable::byCode(WireCode::LifePoints);
    board.label("Label6", w, twips(4800, 0, 3840, 675), QStringLiteral("Opponent's Field"),
                OpponentRed, Face::ComicLarge, Qt::AlignHCenter);
    QLabel *lifePointsCaption =
        board.label("label33", w, twips(120, 240, 735, 255), QStringLiteral("Life Points"),
                    OpponentRed, Face::Default);
    ValueLabel *lifePointsCount =
        board.label<ValueLabel>(lifePoints.displayName, w, twips(1320, 240, 615, 255),
                                QStringLiteral("8000"), OpponentRed, Face::SansMedium);
    board.speak(lifePointsCount, "Opponent's life points");
    board.tieCaption(lifePointsCaption, lifePointsCount);
    controls.zone(lifePoints).labelDisplay = lifePointsCount;
    QLabel *handCaption = board.label("Label3", w, twips(2040, 240, 1095, 255),
                                      QStringLiteral("Cards in Hand"), OpponentRed, Face::Default);
    ValueLabel *handCount =
        board.label<ValueLabel>(hand.displayName, w, twips(3240, 120, 615, 495),
                                QStringLiteral("0"), OpponentRed, Face::SansLarge);
    board.speak(handCount, "Opponent's cards in hand");
    board.tieCaption(handCaption, handCount);
    controls.zone(hand).labelDisplay = handCount;
}

void buildBottomStrip(Builder &board)
{
    QWidget *w = board.window();
    BoardControls &controls = board.controls();
    const ZoneMirror &hand = *ZoneTable::byCode(WireCode::Hand);
    const ZoneMirror &lifePoints = *ZoneTable::byCode(WireCode::LifePoints);
    board.label("Label5", w, twips(5520, 9840, 2310, 675), QStringLiteral("Your Field"), PlayerBlue,
                Face::ComicLarge, Qt::AlignHCenter);

    controls.connectionsButton = board.pictureButton(
        "cmdConnections", twips(120, 9960, 1695, 615),
        QStringLiteral(":/assets/connections_button.jpg"), QStringLiteral("Connections Window"));
    board.speak(controls.connectionsButton, "Connections Window",
                "Opens the window that links this copy with the other player's");
    board.tabStop(controls.connectionsButton, 0);

    QLabel *statusCaption = board.label("Label7", w, twips(1920, 9960, 735, 255),
                                        QStringLiteral("Status   :"), PlayerBlue, Face::Default);
    controls.status = board.label<ValueLabel>("lblStatus", w, twips(1920, 10200, 3495, 375),
                                              StatusText::Disconnected, PlayerBlue, Face::Default);
    // A status bar: screen readers have a key that reads it out wherever the focus is.
    board.speak(controls.status, "Status", "The state of the link with the other player",
                QAccessible::StatusBar);
    board.tieCaption(statusCaption, controls.status);
    // Beside the status line, how the link is protected; empty while nothing is linked.
    controls.protection = board.label<ValueLabel>("lblProtection", w, twips(2700, 9960, 2715, 255),
                                                  {}, PlayerBlue, Face::Default);
    board.speak(controls.protection, "Link protection",
                "Whether the link is encrypted and whether the opponent is the invited one");

    controls.subtractButton =
        board.button("cmdSubtract", twips(9600, 9960, 1095, 255), QStringLiteral("&Subtract LP"));
    board.speak(controls.subtractButton, "Subtract LP", "Takes the amount from your life points");
    board.tabStop(controls.subtractButton, 23);
    controls.addButton =
        board.button("cmdAdd", twips(9600, 10320, 1095, 255), QStringLiteral("&Add LP"));
    board.speak(controls.addButton, "Add LP", "Adds the amount to your life points");
    board.tabStop(controls.addButton, 24);
    controls.lifePointsAmount = board.lineEdit("txtValue", twips(10800, 10080, 735, 285), {});
    board.speak(controls.lifePointsAmount, "Life points to add or subtract",
                "The amount for Add LP and Subtract LP");
    board.tabStop(controls.lifePointsAmount, 18);

    QLabel *lifePointsCaption =
        board.label("label22", w, twips(11640, 9960, 1095, 255), QStringLiteral("Life Points"),
                    PlayerBlue, Face::Default);
    controls.ownLifePoints =
        board.lineEdit(lifePoints.editorName, twips(12480, 9960, 855, 285), QStringLiteral("8000"));
    board.speak(controls.ownLifePoints, "Your life points");
    board.tieCaption(lifePointsCaption, controls.ownLifePoints);
    board.tabStop(controls.ownLifePoints, 20);
    controls.zone(lifePoints).lineEditor = controls.ownLifePoints;

    QLabel *handCaption = board.label("Label4", w, twips(11640, 10320, 1095, 255),
                                      QStringLiteral("Cards in Hand"), PlayerBlue, Face::Default);
    QLineEdit *handCount =
        board.lineEdit(hand.editorName, twips(12840, 10320, 495, 285), QStringLiteral("0"), 1);
    board.speak(handCount, "Your cards in hand");
    board.tieCaption(handCaption, handCount);
    board.tabStop(handCount, 21);
    controls.zone(hand).lineEditor = handCount;
}

void buildSidePanel(Builder &board)
{
    QWidget *w = board.window();
    BoardControls &controls = board.controls();
    // The picture is wider than the room left of the window's edge and is cut off there.
    board.image("Image2", 13440, 840, QStringLiteral(":/assets/decor.bmp"));
    controls.coinDiceButton = board.button("cmdProb", twips(13560, 5040, 1575, 255),
                                           QStringLiteral("COIN / DICE"), White);
    board.speak(controls.coinDiceButton, "Coin / Dice",
                "Opens the coin and dice window; each result is announced to your opponent");
    board.tabStop(controls.coinDiceButton, 26);

    QLabel *nameCaption = board.label("Label8", w, twips(13560, 5400, 975, 255),
                                      QStringLiteral("Your Name :"), White, Face::Default);
    board.opaque(nameCaption, Black);
    controls.chatName = board.lineEdit("txtName", twips(14520, 5400, 615, 285), {}, 5);
    board.speak(controls.chatName, "Your name", "Shown before each of your chat lines");
    board.tieCaption(nameCaption, controls.chatName);
    board.tabStop(controls.chatName, 16);

    controls.chatLog = board.textBox("txtChat", w, twips(13440, 5760, 1815, 4095), {}, {}, {},
                                     Face::Default, false);
    board.readOnly(controls.chatLog);
    board.speak(controls.chatLog, "Chat log", "Your lines and your opponent's");
    board.tabStop(controls.chatLog, 22);
    controls.chatMessage = board.lineEdit("txtMessage", twips(13440, 9960, 1815, 285), {});
    board.speak(controls.chatMessage, "Chat message",
                "Enter or Send Message sends it to your opponent");
    board.tabStop(controls.chatMessage, 17);
    controls.sendButton = board.button("cmdSend", twips(13440, 10320, 1815, 300),
                                       QStringLiteral("Send Message"), White);
    board.speak(controls.sendButton, "Send Message", "Sends the chat message to your opponent");
    board.tabStop(controls.sendButton, 25);
}

} // namespace

namespace BoardLayout {

BoardControls build(QWidget *window, double factor)
{
    window->setFont(ScreenFit::scaled(Fonts::windowFont(), factor));
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, Black);
    palette.setColor(QPalette::WindowText, Black);
    window->setPalette(palette);
    window->setAutoFillBackground(true);
    window->setFixedSize(clientSize(factor));

    Builder board(window, factor);
    buildTopStrip(board);
    for (const ZoneFrame &frame : Frames)
        board.zoneFrame(frame);
    buildBottomStrip(board);
    buildSidePanel(board);
    return board.finish();
}

QSize clientSize(double factor)
{
    return ScreenFit::scaled(QSize(ClientWidth, ClientHeight), factor);
}

double factorToFitScreen()
{
    QScreen *screen = QGuiApplication::screenAt(QPoint(0, 0));
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return 1.0;
    // The window frame a desktop adds: a title bar and thin borders.
    const QSize withFrame(ClientWidth + 4, ClientHeight + 32);
    return ScreenFit::factorToFit(screen->availableGeometry().size(), withFrame).value_or(1.0);
}

} // namespace BoardLayout
