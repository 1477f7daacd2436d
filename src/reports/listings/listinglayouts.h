#pragma once
#include "kinds.h"
#include "listingparts.h"
#include "reportlayout.h"
#include "unglobal.h"

namespace lectoria {

// The catalogue listing of one kind (objectName T + code + ML, e.g.
// TDztsML): the records of the session's period and category (ReportBegin,
// ReportEnd, QueryCondition), grouped by category, newest first within a
// group, with a count (and for e-books and video a sum) per group and a grand
// total. Made from the session values when constructed; exportChoice decides
// the bands (CSV and HTML keep only the data rows, the e-book category column
// only there). Its pages are made as they are written, so a file of any
// length is written in constant memory.
class ListingLayout : public ReportLayout {
    Q_OBJECT
public:
    ListingLayout(Kind kind, QObject *owner = nullptr, int exportChoice = unGlobal().ExportChoice);

    Kind kind() const { return m_kind; }
    QString fileTitle() const override;
    QString headerLine() const override;
    // The preview opens at the first page while later ones are still made.
    void preview(QWidget *parent) override;

private:
    Kind m_kind;
    listing::GroupCounter m_counter;
};

// The book-style catalogue of one kind (objectName T + code + SB; every kind
// but guided-reading articles): the same records as the listing, each with a
// heading line and its descriptive text cut into printed lines. A text longer
// than a page continues on the next page. Printed or saved as text only.
class BookLayout : public ReportLayout {
    Q_OBJECT
public:
    BookLayout(Kind kind, QObject *owner = nullptr);

    Kind kind() const { return m_kind; }
    QString fileTitle() const override;
    QString headerLine() const override;
    void preview(QWidget *parent) override;

private:
    Kind m_kind;
    listing::GroupCounter m_counter;
};

} // namespace lectoria
