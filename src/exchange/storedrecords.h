#pragma once
#include "exchangekinds.h"

#include <QHash>
#include <QVariantList>

namespace lectoria {

// The records a kind's table already holds, as the import compares them:
// every exchanged column, text without its trailing blanks (the import
// stores one, SQL Server pads CHAR columns with more and compares without
// them), numbers as numbers. They are read in one statement, so that an
// import with thousands of records costs no round trip per record, and kept
// as a count per 128-bit digest of the compared values, which keeps memory
// small even with every li_content of a large table.
class StoredRecords {
public:
    // Reads the kind's table. Throws DbError.
    explicit StoredRecords(const ExchangeKind &kind);

    // Whether a stored record not yet matched equals the record whose values
    // the import would insert (importValues() order); if so it is matched
    // and will not match again. A file that holds a record twice thus finds
    // it stored twice before both are passed over, so that a file imported
    // again after a stop ends with each of its records stored as often as the
    // file holds it.
    bool take(const QVariantList &values);

    struct Key {
        quint64 a = 0, b = 0;
        bool operator==(const Key &o) const { return a == o.a && b == o.b; }
    };

private:
    QVector<bool> m_numeric; // per value: a number column
    QHash<Key, int> m_count;
};

inline size_t qHash(const StoredRecords::Key &k, size_t seed = 0) noexcept { return size_t(k.a ^ (k.b >> 7)) ^ seed; }

} // namespace lectoria
