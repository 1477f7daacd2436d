#pragma once
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <utility>

namespace lectoria {

enum class Kind { Shdh, Dzts, Bklw, Tpzl, Zxyy, Zxsp };
constexpr int KindCount = 6;

// A per-kind table keyed by kind: each entry (anything with a `kind`
// member) is put at its kind's position, whatever order it was written in,
// so that looking an entry up by int(kind) always finds that kind's own. A
// kind without an entry or with two is a mistake in the table and stops the
// program at its first use.
template <typename Entry>
QVector<Entry> keyedByKind(QVector<Entry> entries)
{
    QVector<Entry> table(KindCount);
    QVector<bool> seen(KindCount, false);
    for (Entry &e : entries) {
        const int at = int(e.kind);
        if (at < 0 || at >= KindCount || seen.at(at))
            qFatal("per-kind table: kind %d listed twice or unknown", at);
        seen[at] = true;
        table[at] = std::move(e);
    }
    if (seen.contains(false))
        qFatal("per-kind table: kind %d has no entry", int(seen.indexOf(false)));
    return table;
}

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
