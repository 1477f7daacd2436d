#pragma once
// Driving the report parameter dialogs as an operator would; shared by the
// statistics, listing, book-style and sub-category tests.
#include "testsupport.h"

#include <QAbstractItemModel>
#include <QDateEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>

namespace lectoria::test {

// The site's schema without the demo categories, for fixtures of their own.
inline TestDatabase::Options bare()
{
    TestDatabase::Options o;
    o.categories = false;
    return o;
}

template <typename T>
T *child(QWidget &w, const char *name)
{
    T *c = w.findChild<T *>(QLatin1String(name));
    if (!c)
        qFatal("no child %s", name);
    return c;
}

// Clicks a radio button on its indicator (a click beyond its text misses it).
inline void clickRadio(QWidget &dlg, const QString &radio)
{
    QRadioButton *r = dlg.findChild<QRadioButton *>(radio);
    if (!r)
        qFatal("no radio button %s", qPrintable(radio));
    QTest::mouseClick(r, Qt::LeftButton, {}, QPoint(6, r->height() / 2));
}

inline void choose(QWidget &dlg, const QString &radio, const QDate &from = {}, const QDate &to = {})
{
    clickRadio(dlg, radio);
    if (from.isValid())
        child<QDateEdit>(dlg, "dtBegin")->setDate(from);
    if (to.isValid())
        child<QDateEdit>(dlg, "dtEnd")->setDate(to);
}

inline void refresh(QWidget &dlg) { QTest::mouseClick(child<QPushButton>(dlg, "btRefresh"), Qt::LeftButton); }

inline QVector<QStringList> gridRows(QWidget &dlg, const char *grid = "DBGrid1")
{
    QVector<QStringList> rows;
    const QAbstractItemModel *m = child<QTableView>(dlg, grid)->model();
    for (int r = 0; m && r < m->rowCount(); ++r) {
        QStringList row;
        for (int c = 0; c < m->columnCount(); ++c)
            row << m->index(r, c).data().toString();
        rows << row;
    }
    return rows;
}

inline QStringList gridHeadings(QWidget &dlg, const char *grid = "DBGrid1")
{
    QStringList h;
    const QAbstractItemModel *m = child<QTableView>(dlg, grid)->model();
    for (int c = 0; m && c < m->columnCount(); ++c)
        h << m->headerData(c, Qt::Horizontal).toString();
    return h;
}

inline const QString printerHint = QStringLiteral("请准备好打印机，纸大小为【窄行】打印纸");
inline const QString fileDone = QStringLiteral("生成文件完成！");

} // namespace lectoria::test
