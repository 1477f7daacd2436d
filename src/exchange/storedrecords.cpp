#include "storedrecords.h"
#include "libdb.h"

#include <QSqlError>
#include <QSqlQuery>

namespace lectoria {
namespace {

// Two independent 64-bit hashes of every compared value, folded in order:
// two tuples share a digest by chance with a probability near 2^-128.
constexpr size_t seedA = 0x2545F4914F6CDD1DULL;
constexpr size_t seedB = 0x9E3779B97F4A7C15ULL;
enum Tag : size_t { TextTag = 1, NumberTag = 2, NullTag = 3, OtherTag = 4 };

class Digest {
public:
    void text(QStringView s, Tag tag = TextTag)
    {
        qsizetype n = s.size();
        while (n > 0 && s.at(n - 1) == QLatin1Char(' '))
            --n;
        s = s.first(n);
        fold(qHash(s, seedA ^ tag), qHash(s, seedB ^ tag));
    }
    void number(qint64 v) { fold(::qHash(v, seedA ^ NumberTag), ::qHash(v ^ 0x5bd1e995, seedB ^ NumberTag)); }
    void null() { fold(NullTag, NullTag); }
    // A stored value as the column form says the import would have stored it.
    void stored(const QVariant &v, bool numeric)
    {
        if (v.isNull()) {
            null();
        } else if (numeric) {
            bool ok = false;
            const qint64 n = v.toLongLong(&ok);
            if (ok)
                number(n);
            else
                text(v.toString(), OtherTag); // no number the import could have stored
        } else {
            text(v.toString());
        }
    }
    StoredRecords::Key key() const { return m_key; }

private:
    void fold(size_t a, size_t b)
    {
        ++m_position;
        m_key.a = (m_key.a ^ a ^ m_position) * 0xC2B2AE3D27D4EB4FULL + 0x165667B19E3779F9ULL;
        m_key.b = (m_key.b ^ b ^ (m_position << 32)) * 0x9FB21C651E98DF25ULL + 0x27D4EB2F165667C5ULL;
    }
    StoredRecords::Key m_key;
    quint64 m_position = 0;
};

} // namespace

StoredRecords::StoredRecords(const ExchangeKind &kind)
{
    QStringList columns;
    for (const ImportColumn &c : importColumns(kind)) {
        columns << c.name;
        m_numeric << c.number;
    }
    QSqlQuery rows = LibDB::exec(QStringLiteral("select %1 from %2").arg(columns.join(QLatin1Char(',')),
                                                                          kindInfo(kind.kind).recordTable));
    const int n = int(columns.size());
    while (LibDB::next(rows)) {
        Digest d;
        for (int i = 0; i < n; ++i)
            d.stored(rows.value(i), m_numeric.at(i));
        ++m_count[d.key()];
    }
}

bool StoredRecords::take(const QVariantList &values)
{
    if (m_count.isEmpty())
        return false;
    Digest d;
    for (qsizetype i = 0; i < values.size(); ++i) {
        const QVariant &v = values.at(i);
        if (m_numeric.value(i))
            d.number(v.toLongLong());
        else
            d.text(v.toString());
    }
    const auto found = m_count.find(d.key());
    if (found == m_count.end())
        return false;
    if (--found.value() == 0)
        m_count.erase(found);
    return true;
}

} // namespace lectoria
