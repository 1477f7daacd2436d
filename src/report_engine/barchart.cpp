#include "barchart.h"

namespace lectoria::report {

void layChartRow(const BarChart &c, int row, int left, int width, const PageItem &text, QVector<PageItem> &texts,
                 QVector<PageRect> &bars)
{
    auto put = [&](int x, int w, Align a, const QString &t) {
        PageItem out = text;
        out.x = x;
        out.width = w;
        out.align = a;
        out.clip = true;
        out.figure = true;
        out.text = t;
        texts.append(std::move(out));
    };
    if (row == 0) {
        put(left, width, Align::Center, c.title);
        return;
    }
    const int perSeries = 1 + int(c.categories.size());
    const int s = (row - 1) / perSeries;
    const int k = (row - 1) % perSeries - 1;
    const BarChart::Series &series = c.series[s];
    if (k < 0) {
        put(left, width, Align::Left, series.name);
        return;
    }
    // The name, the bar, the value: a quarter, the rest, a tenth.
    const int nameWidth = width / 4, valueWidth = qMax(width / 10, mm(12)), gap = mm(1.5);
    const qint64 value = k < series.values.size() ? series.values[k] : 0;
    put(left + mm(3), nameWidth - mm(3), Align::Left, c.categories[k]);
    put(left + width - valueWidth, valueWidth, Align::Right, QString::number(value));
    qint64 top = 0;
    for (qint64 v : series.values)
        top = qMax(top, v);
    const int room = width - nameWidth - valueWidth - 2 * gap;
    if (value > 0 && top > 0 && room > 0) {
        PageRect bar;
        bar.x = left + nameWidth + gap;
        bar.width = qMax(1, int(room * double(value) / double(top) + 0.5));
        bar.height = qMax(1, text.height * 3 / 5);
        bar.y = text.y + (text.height - bar.height) / 2;
        bar.color = series.color;
        bars.append(bar);
    }
}

} // namespace lectoria::report
