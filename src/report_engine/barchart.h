#pragma once
#include "pagemodel.h"

#include <QStringList>
#include <QVector>
#include <QtGlobal>

namespace lectoria::report {

// A horizontal bar chart: a title row, then for each series a row with its
// name and one row per category with the category's name, a bar in
// proportion to the series' largest value, and the value. A series of its
// own scale each, so that counts and, say, minutes are both readable.
struct BarChart {
    struct Series {
        QString name;
        QVector<qint64> values; // one per category
        QRgb color = 0xff4a7ab5;
    };
    QString title;
    QStringList categories;
    QVector<Series> series;
    // Rows printed: none for a chart without categories.
    int rows() const { return categories.isEmpty() ? 0 : 1 + int(series.size()) * (1 + int(categories.size())); }
};

// One row of a chart drawn across [left, left + width) on the page, in the
// style of `text` (its y, height, font and colour): the title, a series'
// name, or a category's name, bar and value. The texts are appended to
// `texts` as they are laid out, before they are kept inside the body; the
// bar, when it has a length, to `bars`.
void layChartRow(const BarChart &chart, int row, int left, int width, const PageItem &text,
                 QVector<PageItem> &texts, QVector<PageRect> &bars);

} // namespace lectoria::report
