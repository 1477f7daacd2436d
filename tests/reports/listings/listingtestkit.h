#pragma once
// Fixtures and probes shared by the listing, book-style and sub-category tests.
#include "atomicfile.h"
#include "clock.h"
#include "dialogtestkit.h"
#include "libdb.h"
#include "pagesetup.h"
#include "previewcloser.h"
#include "printerfakes.h"
#include "reportengine.h"
#include "reportrequest.h"
#include "testsupport.h"
#include "unglobal.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <tuple>
#include <utility>

namespace listingtest {

using namespace lectoria;
using namespace lectoria::test;

// What every test here runs under: a fresh session with the school name
// 育才中学, the clock at 2024-12-31 15:30, no printer (the designed page), no
// statement log.
class FixedRun {
public:
    static inline const QString school = QStringLiteral("育才中学");
    void begin()
    {
        resetSession();
        unGlobal().SchoolName = school;
        Clock::set(QDateTime(QDate(2024, 12, 31), QTime(15, 30, 0)));
        report::installPrinters(&m_noPrinter);
    }
    void end()
    {
        Clock::reset();
        report::installPrinters(nullptr);
        LibDB::setStatementLog(nullptr);
    }

private:
    NoPrinter m_noPrinter;
};

// The request of the fixtures' reports: 2024-05-01 to 2024-05-20, every category.
inline ReportRequest listingRequest(Kind kind, ReportOutput output = ReportOutput::Preview)
{
    ReportRequest r;
    r.kind = kind;
    r.period = {QDate(2024, 5, 1), QDate(2024, 5, 20)};
    r.output = output;
    return r;
}

// Types a text into an editable list, as an operator would.
inline void typeInto(QWidget &dlg, const char *list, const QString &text)
{
    QComboBox *box = child<QComboBox>(dlg, list);
    box->setFocus();
    box->lineEdit()->selectAll();
    box->lineEdit()->insert(text); // as typed (keyClicks knows no Chinese)
}

// A page as printed lines: the non-empty texts of each vertical position, left to right.
inline QVector<QStringList> printedLines(const report::Page &page)
{
    QVector<report::PageItem> items = page.items;
    std::stable_sort(items.begin(), items.end(), [](const report::PageItem &a, const report::PageItem &b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    QVector<QStringList> lines;
    int y = -1;
    for (const report::PageItem &it : items) {
        if (it.text.isEmpty())
            continue;
        if (lines.isEmpty() || it.y != y) {
            lines.append(QStringList());
            y = it.y;
        }
        lines.last() << it.text;
    }
    return lines;
}

inline QVector<QStringList> printedLines(const report::ReportDocument &doc)
{
    QVector<QStringList> all;
    for (const report::Page &p : doc.pages)
        all += printedLines(p);
    return all;
}

// Categories 7 历史, 3 文学 and 5 空类 (no records); for articles the
// sub-categories 3:1 理论探讨, 3:2 实践经验, 7:1 综述. Records of one kind in
// May 2024: four inside the period 05-01 .. 05-20 (two per category), one
// just after it, one just before it, one of a category that does not exist.
// Amount: copies for e-books, minutes for video.
inline void addCatalogue(TestDatabase &db, Kind kind)
{
    const CatalogueKind &k = kindInfo(kind);
    for (const auto &c : {std::pair{7, "历史"}, std::pair{3, "文学"}, std::pair{5, "空类"}})
        db.exec(QStringLiteral("insert into %1 (lt_id, lt_notice) values (?, ?)").arg(k.categoryTable),
                {c.first, QString::fromUtf8(c.second)});
    if (kind == Kind::Bklw)
        for (const auto &s : {std::tuple{3, 1, "理论探讨"}, std::tuple{3, 2, "实践经验"}, std::tuple{7, 1, "综述"}})
            db.exec(QStringLiteral("insert into www_artypes (ls_id, ls_sid, ls_notice) values (?, ?, ?)"),
                    {std::get<0>(s), std::get<1>(s), QString::fromUtf8(std::get<2>(s))});
    struct Rec {
        const char *title;
        int type;
        int sub;
        const char *time;
        int amount;
        const char *author;
        const char *text; // nullptr: NULL
    };
    const Rec recs[] = {
        {"甲书", 3, 1, "2024-05-02 10:00:00", 2, "王一", "甲的提要"},
        {"乙书", 3, 2, "2024-05-10 09:00:00", 3, "李二", ""},
        {"丙书", 7, 1, "2024-05-03 08:00:00", 6, "张三", nullptr},
        {"丁书", 7, 1, "2024-05-20 23:59:00", 4, "赵四", "丁的提要<br>第二段"},
        {"戊书", 7, 1, "2024-05-21 00:00:00", 5, "钱五", "x"},
        {"己书", 42, 1, "2024-05-05 00:00:00", 7, "孙六", "x"},
        {"庚书", 3, 1, "2024-04-30 23:59:59", 8, "周七", "x"},
    };
    for (const Rec &r : recs) {
        const QString title = QString::fromUtf8(r.title);
        const QVariant text = r.text ? QVariant(QString::fromUtf8(r.text)) : QVariant(QMetaType(QMetaType::QString));
        QVariantMap cols{{QStringLiteral("li_title"), title},
                         {QStringLiteral("li_typeid"), r.type},
                         {QStringLiteral("li_logtime"), QString::fromLatin1(r.time)}};
        switch (kind) {
        case Kind::Dzts:
            cols.insert(QStringLiteral("li_number"), r.amount);
            break;
        case Kind::Bklw:
            cols.insert(QStringLiteral("li_subid"), r.sub);
            cols.insert(QStringLiteral("li_author"), QString::fromUtf8(r.author));
            break;
        case Kind::Tpzl:
            cols.insert(QStringLiteral("li_image"), QStringLiteral("pic/") + title + QStringLiteral(".jpg"));
            cols.insert(QStringLiteral("li_simage"), QStringLiteral("small/") + title + QStringLiteral(".jpg"));
            break;
        case Kind::Zxsp:
            cols.insert(QStringLiteral("li_times"), r.amount);
            Q_FALLTHROUGH();
        case Kind::Zxyy:
            cols.insert(QStringLiteral("li_url"), QStringLiteral("http://site/") + title);
            break;
        case Kind::Shdh:
            break;
        }
        cols.insert(kind == Kind::Bklw ? QStringLiteral("li_intro") : QStringLiteral("li_content"), text);
        db.addRecord(kind, cols);
    }
}

} // namespace listingtest
