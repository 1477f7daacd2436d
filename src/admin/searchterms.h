#pragma once
#include "dialect.h"
#include "unglobal.h"

#include <QDate>
#include <QString>
#include <QStringList>

namespace lectoria {

// The pieces of a search condition, without widgets: which comparisons a
// field offers, where a list field's values come from, and the text one
// comparison adds to the condition and to the operator's display.
namespace SearchTerms {

// The operator words a field of this type code offers, in list order.
QStringList operatorsFor(QChar typeCode);
// " = ", " like ", ...; empty when the word is none of the nine.
QString operatorText(const QString &word);
// " and " for "并且", " or " for "或者"; empty otherwise.
QString logicText(const QString &word);

// B, A, T and S take their value from a list.
bool isListType(QChar typeCode);
// A fixed list ("T", "S"): the items separated by ";", each remainder
// trimmed before the next item is taken; empty items are left out.
QStringList fixedListItems(const QString &source);
// A list filled by a query ("B", "A"): the source is a connection name, ";"
// and a select statement. Throws DbError when the statement fails.
QStringList queryListItems(QChar typeCode, const QString &source);
// What a list item holds before its first ":", or the whole item.
QString itemCode(const QString &item);

// Whether typed text is a plain number, the only thing an "N" comparison
// puts into the condition unquoted.
bool isNumber(const QString &text);

struct Comparison {
    QString display;   // the line the operator reads
    QString condition; // the text appended to the condition
};
// One comparison of a field. value is the edit box text (used untrimmed) for
// C, O and N, the selected item text for the list types; date is used for D.
// Quotes in typed text are doubled. operatorWord must be one of the field's.
Comparison comparison(const TSearchType &field, const QString &operatorWord, const QString &value,
                      const QDate &date, const Dialect &dialect);

} // namespace SearchTerms
} // namespace lectoria
