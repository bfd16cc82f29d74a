#include "AreaDamageWatch.h"

#include <dlfcn.h>

namespace {

// A damage event as libXdamage hands it over (XDamageNotifyEvent in <X11/extensions/Xdamage.h>,
// whose header the tool does without).
struct DamageNotifyEvent
{
    int type;
    unsigned long serial;
    Bool send_event;
    Display *display;
    Drawable drawable;
    XID damage;
    int level;
    Bool more;
    Time timestamp;
    XRectangle area;
    XRectangle geometry;
};
static_assert(sizeof(DamageNotifyEvent) <= sizeof(XEvent));

// One event for every rectangle drawn, rather than one for the first drawing.
constexpr int ReportRawRectangles = 0;

} // namespace

AreaDamageWatch::AreaDamageWatch(Display *display, Window window, const ScreenArea &area)
    : m_window(window)
    , m_area(area)
{
    void *library = dlopen("libXdamage.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return;
    using QueryExtension = Bool (*)(Display *, int *, int *);
    using Create = XID (*)(Display *, Drawable, int);
    const auto query = reinterpret_cast<QueryExtension>(dlsym(library, "XDamageQueryExtension"));
    const auto create = reinterpret_cast<Create>(dlsym(library, "XDamageCreate"));
    int eventBase = 0, errorBase = 0;
    if (!query || !create || !query(display, &eventBase, &errorBase))
        return;
    create(display, window, ReportRawRectangles);
    XSync(display, False);
    m_eventBase = eventBase;
}

AreaDamageWatch::Report AreaDamageWatch::classify(const XEvent &event) const
{
    if (!available() || event.type != m_eventBase)
        return Report::Other;
    const auto &damage = reinterpret_cast<const DamageNotifyEvent &>(event);
    if (damage.drawable != m_window)
        return Report::Other;
    const ScreenArea drawn{damage.area.x, damage.area.y, damage.area.width, damage.area.height};
    return drawn.overlaps(m_area) ? Report::IntoArea : Report::Outside;
}

bool AreaDamageWatch::moreFollow(const XEvent &event)
{
    return reinterpret_cast<const DamageNotifyEvent &>(event).more;
}
