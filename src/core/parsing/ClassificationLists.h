#pragma once

#include "parsing/NameList.h"
#include "parsing/RevisitorList.h"
#include "parsing/SpiderList.h"

namespace kavel {

// The lists an access is classified by: the parsers read the documents, buddies and spiders;
// the revisit rule reads and extends the revisitors. Made in the program's start order and
// undone in the reverse one.
struct ClassificationLists {
    RevisitorList Revisitors;
    DocumentList Documents;
    BuddyList Buddies;
    SpiderList Spiders;
};

} // namespace kavel
