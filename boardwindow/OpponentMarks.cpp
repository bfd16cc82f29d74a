#include "OpponentMarks.h"

#include "BoardControls.h"
#include "ZoneFrameBox.h"
#include "platform/ValueLabel.h"

#include <QPlainTextEdit>

namespace {

QColor mixed(const QColor &from, const QColor &to, qreal share)
{
    const auto channel = [share](int a, int b) {
        return int(a + (b - a) * share + 0.5);
    };
    return QColor(channel(from.red(), to.red()), channel(from.green(), to.green()),
                  channel(from.blue(), to.blue()));
}

// The label that captions `display`: the one whose buddy it is, beside it.
QLabel *captionLabelOf(QWidget *display)
{
    for (QLabel *label :
         display->parentWidget()->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (label->buddy() == display)
            return label;
    }
    return nullptr;
}

} // namespace

OpponentMarks::OpponentMarks(const BoardControls &controls, QObject *parent)
    : QObject(parent)
    , m_timing(int(ZoneTable::Size))
{
    for (const ZoneMirror &zone : ZoneTable::all()) {
        const BoardControls::Zone &zoneControls = controls.zone(zone);
        QWidget *display = zoneControls.labelDisplay
                               ? static_cast<QWidget *>(zoneControls.labelDisplay)
                               : zoneControls.listDisplay;
        Caption &caption = m_captions[ZoneTable::indexOf(zone)];
        caption.frame = qobject_cast<ZoneFrameBox *>(display->parentWidget());
        if (!caption.frame) {
            caption.label = captionLabelOf(display);
            Q_ASSERT(caption.label);
            caption.restPalette = caption.label->palette();
            caption.restFilled = caption.label->autoFillBackground();
        }
    }
    connect(&m_timing, &ChangeMarks::strengthChanged, this, &OpponentMarks::draw);
}

void OpponentMarks::changed(const ZoneMirror &zone)
{
    m_timing.mark(int(ZoneTable::indexOf(zone)));
}

void OpponentMarks::draw(int zone, qreal strength)
{
    const Caption &caption = m_captions[std::size_t(zone)];
    if (caption.frame) {
        if (strength <= 0.0) {
            caption.frame->setCaptionColours({}, {});
            return;
        }
        const QPalette &own = caption.frame->palette();
        caption.frame->setCaptionColours(
            mixed(own.color(QPalette::Window), MarkBackground, strength),
            mixed(own.color(QPalette::WindowText), MarkText, strength));
        return;
    }
    if (strength <= 0.0) {
        caption.label->setPalette(caption.restPalette);
        caption.label->setAutoFillBackground(caption.restFilled);
        return;
    }
    QPalette marked = caption.restPalette;
    marked.setColor(QPalette::Window,
                    mixed(caption.restPalette.color(QPalette::Window), MarkBackground, strength));
    marked.setColor(QPalette::WindowText,
                    mixed(caption.restPalette.color(QPalette::WindowText), MarkText, strength));
    caption.label->setPalette(marked);
    caption.label->setAutoFillBackground(true);
}

#include "moc_OpponentMarks.cpp"
