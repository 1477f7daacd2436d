#pragma once
#include <QString>
#include <QVector>

namespace lectoria {

enum class Kind { Shdh, Dzts, Bklw, Tpzl, Zxyy, Zxsp };

// What tells one catalogue kind from another, so each family of windows,
// statements and layouts is written once and driven by this table. Libraries
// that need more per-kind facts (report columns, exchange fields) keep them in
// tables of their own keyed by Kind.
struct CatalogueKind {
    Kind kind;
    const char *code;          // "Dzts": window names are T + code + suffix
    const char *lower;         // "dzts": command-line name
    QString word;              // "电子图书": the word in menus and dialogs
    QString exchangeWord;      // the word in the export and import dialogs
    QString recordTable;       // "www_lineread"
    QString categoryTable;     // "www_litype"
    QString subCategoryTable;  // "www_artypes" for periodical articles, else empty
};

const QVector<CatalogueKind> &catalogueKinds();
const CatalogueKind &kindInfo(Kind k);
// By code in any letter case ("Dzts", "dzts"); nullptr when there is none.
const CatalogueKind *findKind(const QString &code);

} // namespace lectoria
