#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>

// Where the host names a player types are looked up. The system's resolver, through the socket
// itself, unless a test has put a table of its own in its place, so that no test sends a query
// off the machine.
namespace NameLookup {

// The addresses of `host`; none when the name is unknown.
using Table = std::function<QList<QHostAddress>(const QString &host)>;

// Answers every lookup of this process from `table`; an empty one puts the system back.
void replaceSystemResolver(Table table);
// The table in use, or an empty one while the system answers.
const Table &replacement();

} // namespace NameLookup
