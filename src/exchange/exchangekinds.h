#pragma once
#include "kinds.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace lectoria {

// How one field of an exchange record travels between the file and the table.
enum class FieldForm {
    Text,         // a text column: inserted as the value read, trailing blank included
    Number,       // an integer column: inserted by the leading-zero rule (empty gives 0)
    Content,      // li_content, always last: the one field that may span lines
    VolumeTitle,  // the e-book title: carries li_number as "(册数n)" and fills li_title and li_number
};

struct ExchangeField {
    QString column;
    FieldForm form;
};

// What the exchange file and the import statement need to know about a kind.
struct ExchangeKind {
    Kind kind;
    QString word;                  // "电子图书", "书海导读文章": the word in the dialogs' items
    QVector<ExchangeField> fields; // the field lines of a record, in file order
    QVector<int> insertLines;      // how many of the INSERT statement's columns each of its lines names
    bool orderedByEntry;           // export ordered by li_logtime,li_title
};

// A column an import stores, in the order of the values importValues() gives:
// each field's column, the e-book title's followed by li_number.
struct ImportColumn {
    QString name;
    bool number; // an integer column
};
QVector<ImportColumn> importColumns(const ExchangeKind &k);

// The INSERT statement's lines before the values: "insert", the table and
// the columns of the fields in file order (the e-book title gives li_title
// and li_number), insertLines of them a line, later lines indented by eight
// blanks, the last ending ") values (".
QStringList insertHeader(const ExchangeKind &k);

// The six kinds in the order in which the dialogs list and test them:
// e-books, periodical articles, pictures, music, video, guided-reading articles.
const QVector<ExchangeKind> &exchangeKinds();
const ExchangeKind &exchangeKind(Kind k);

// The kinds whose word the text contains, in the order above ("导出 电子图书"
// names exactly one).
QVector<Kind> kindsNamedIn(const QString &text);

} // namespace lectoria
