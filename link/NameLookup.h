#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

// Where the host names a player types are looked up: by the system, through the socket itself,
// unless a test has put a table of its own here, so that no test sends a query off the machine.
namespace NameLookup {

// The addresses of a host; none when the name is unknown.
using Table = std::function<QList<QHostAddress>(const QString &host)>;

// The table that answers every lookup of this process in place of the system; empty while the
// system answers.
Table &replacement();

} // namespace NameLookup
