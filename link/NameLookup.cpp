#include "NameLookup.h"

NameLookup::Table &NameLookup::replacement()
{
    static Table table;
    return table;
}
