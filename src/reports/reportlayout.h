#pragma once
#include "reportengine.h"
#include "reportrequest.h"
#include "rowsources.h"

#include <QObject>
#include <QStringList>
#include <QVector>

namespace lectoria {

// The product line printed on every report.
QString productTitle();

// A report layout: one banded report and the query that feeds it, made for
// one print or save command and destroyed right after; never shown itself.
// A family's layout designs its bands in its constructor and then calls
// create(), which runs the steps every layout shares for the request it was
// made for, in this order:
//   1. for a comma-separated or HTML file, switch off the bands it names, so
//      that only the data rows reach the grid;
//   2. the page from the default printer and the installation's margins;
//   3. qlbSchool := SchoolName, qlbCompany := the product title;
//   4. qlbDate := the period caption with the family's prefix;
//   5. run the family's statement as the report's rows.
class ReportLayout : public QObject {
    Q_OBJECT
public:
    ReportLayout(const QString &objectName, QObject *owner);
    ~ReportLayout() override;

    report::Report &report() { return m_report; }

    // Texts handed to file saving: the title text appended to SchoolName
    // (it begins with a blank) and the column-name line.
    virtual QString fileTitle() const = 0;
    virtual QString headerLine() const = 0;

    // Whether the preview should open at the first page while later ones
    // are still being made (a listing of any length) instead of after the
    // whole fill. The preview itself is the dialogs' (previewLayout()).
    virtual bool previewsWhileFilling() const { return false; }

protected:
    struct Creation {
        QVector<report::Band *> offInGridFiles; // switched off for CSV and HTML
        QString datePrefix;                      // "入库日期：" or "加入日期："
        QStringList statement;
        ReportRequest request;                   // its period and output
    };
    void create(const Creation &c);

private:
    report::Report m_report;
    report::SqlRowSource m_rows;
};

} // namespace lectoria
