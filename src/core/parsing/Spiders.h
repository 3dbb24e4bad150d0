#pragma once

#include "parsing/Filter.h"

#include <string>
#include <string_view>

namespace kavel {

// Sets IsSpider from the spider list by the record's HostName.
void ClassifySpider(TFilter& record);

} // namespace kavel
