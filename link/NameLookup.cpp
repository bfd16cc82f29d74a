#include "NameLookup.h"

namespace {

NameLookup::Table &table()
{
    static NameLookup::Table replacement;
    return replacement;
}

} // namespace

namespace NameLookup {

void replaceSystemResolver(Table replacement)
{
    table() = std::move(replacement);
}

const Table &replacement()
{
    return table();
}

} // namespace NameLookup
