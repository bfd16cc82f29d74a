#include "DamageWatch.h"

#include <dlfcn.h>

namespace {

// A damage event as libXdamage hands it over (XDamageNotifyEvent in
// <X11/extensions/Xdamage.h>, whose header the tools do without).
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

} // namespace

DamageWatch::DamageWatch(Display *display)
    : m_display(display)
{
    void *library = dlopen("libXdamage.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return;
    using QueryExtension = Bool (*)(Display *, int *, int *);
    const auto query = reinterpret_cast<QueryExtension>(dlsym(library, "XDamageQueryExtension"));
    m_create = reinterpret_cast<Create>(dlsym(library, "XDamageCreate"));
    int eventBase = 0, errorBase = 0;
    if (query && m_create && query(display, &eventBase, &errorBase))
        m_eventBase = eventBase;
}

void DamageWatch::watch(Window window, Level level)
{
    if (available() && m_watched.insert(window).second) {
        m_create(m_display, window, int(level));
        XSync(m_display, False);
    }
}

std::optional<DamageWatch::Drawing> DamageWatch::drawingIn(const XEvent &event) const
{
    if (!available() || event.type != m_eventBase)
        return std::nullopt;
    const auto &damage = reinterpret_cast<const DamageNotifyEvent &>(event);
    if (!m_watched.count(damage.drawable))
        return std::nullopt;
    const XRectangle &area = damage.area;
    return Drawing{
        damage.drawable, {area.x, area.y, area.width, area.height}, damage.more != False};
}
