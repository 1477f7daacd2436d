#pragma once
#include "kinds.h"
#include "reportlayout.h"
#include "unglobal.h"

namespace lectoria {

// The statistics report of one kind (objectName T + code + TJ): records per
// category over the session's period, with the totals. Made from the session
// values when constructed (period, school name, margins); exportChoice
// decides the bands (CSV and HTML keep only the data rows).
class StatisticsLayout : public ReportLayout {
    Q_OBJECT
public:
    StatisticsLayout(Kind kind, QObject *owner = nullptr, int exportChoice = unGlobal().ExportChoice);

    Kind kind() const { return m_kind; }
    QString fileTitle() const override;
    QString headerLine() const override;

private:
    Kind m_kind;
};

} // namespace lectoria
