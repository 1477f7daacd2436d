#pragma once
#include "kinds.h"
#include "reportoutput.h"
#include "reportperiod.h"

#include <optional>

namespace lectoria {

// Everything a report is made from besides the installation's own values
// (school name, margins): built once by a parameter dialog's refresh and
// output command, or by the runner from its arguments, and passed down to
// the statement builders, the layouts and the writers.
struct ReportRequest {
    Kind kind = Kind::Dzts;
    ReportPeriod period{};            // a null begin: every date
    std::optional<int> category{};    // none: every category
    std::optional<int> subCategory{}; // periodical-article listings; only with a category
    ReportOutput output = ReportOutput::Preview;
    bool chart = false; // statistics: a bar chart after the table (preview, PDF, HTML)
};

} // namespace lectoria
