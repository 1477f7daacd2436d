#pragma once
#include "kinds.h"
#include "listingparts.h"
#include "reportlayout.h"

namespace lectoria {

// What the listing and book-style layouts of a kind share: the kind's file
// title and header line, the group count, and a preview that opens at the
// first page while later ones are still being made.
class CatalogueLayout : public ReportLayout {
    Q_OBJECT
public:
    Kind kind() const { return m_kind; }
    QString fileTitle() const override;
    QString headerLine() const override;
    bool previewsWhileFilling() const override { return true; }

protected:
    CatalogueLayout(const QString &objectName, Kind kind, QObject *owner);
    listing::GroupCounter &counter() { return m_counter; }

private:
    Kind m_kind;
    listing::GroupCounter m_counter;
};

// The catalogue listing of one kind (objectName T + code + ML, e.g.
// TDztsML): the records of the request's period and category, grouped by
// category, newest first within a group, with a count (and for e-books and
// video a sum) per group and a grand total. Made for the request when
// constructed; its output decides the bands (CSV and HTML keep only the data
// rows, the e-book category column only there). Its pages are made as they are written, so a file of any
// length is written in constant memory.
class ListingLayout : public CatalogueLayout {
    Q_OBJECT
public:
    explicit ListingLayout(const ReportRequest &request, QObject *owner = nullptr);
};

// The book-style catalogue of one kind (objectName T + code + SB; every kind
// but guided-reading articles): the same records as the listing, each with a
// heading line and its descriptive text cut into printed lines. A text longer
// than a page continues on the next page. Printed or saved as text only.
class BookLayout : public CatalogueLayout {
    Q_OBJECT
public:
    explicit BookLayout(const ReportRequest &request, QObject *owner = nullptr);
};

} // namespace lectoria
