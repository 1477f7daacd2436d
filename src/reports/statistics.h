#pragma once
#include "kinds.h"

#include <QString>
#include <QVector>

namespace lectoria {

// A numeric column of a statistics report: the query field, its heading,
// where the heading starts and where the right-aligned values end (mm from
// the left edge of the designed band).
struct StatColumn {
    QString field;
    QString heading;
    double headingMm;
    double rightMm;
};

// What one kind's statistics dialog and layout show.
struct StatisticsFacts {
    Kind kind;
    QString dialogCaption;
    QString reportTitle; // the heading label after the school name
    QString fileTitle;   // appended to the school name in a saved file; starts with a blank
    QString headerLine;  // column names of a saved file
    QString extraSelect; // ",sum(...) as ..." after count(*) as iC, or empty
    QVector<StatColumn> numbers; // iC first
    double summaryHeightMm;
};

const StatisticsFacts &statisticsFacts(Kind kind);

// Window names: T + kind code + TJP for the dialog, TJ for the layout.
QString statisticsDialogName(Kind kind);
QString statisticsLayoutName(Kind kind);

} // namespace lectoria
