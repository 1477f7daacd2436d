#include "rowsources.h"
#include "errors.h"

#include <QSqlError>
#include <QSqlRecord>

namespace lectoria::report {

void SqlRowSource::setQuery(QSqlQuery &&query)
{
    m_query = std::move(query);
    m_read = false;
    m_count = -1;
}

void SqlRowSource::restart()
{
    if (!m_read)
        return;
    // A forward-only query cannot go back: run it again.
    m_read = false;
    m_count = -1;
    const bool ok = m_query.boundValues().isEmpty() ? m_query.exec(m_query.lastQuery()) : m_query.exec();
    if (!ok)
        throw DbError(dbErrorText(m_query.lastError()));
}

QStringList SqlRowSource::columns() const
{
    QStringList names;
    const QSqlRecord rec = m_query.record();
    for (int i = 0; i < rec.count(); ++i)
        names << rec.fieldName(i);
    return names;
}

bool SqlRowSource::next(QVector<QVariant> &row)
{
    m_read = true;
    if (!m_query.isActive() || !m_query.next()) {
        if (m_query.lastError().isValid())
            throw DbError(dbErrorText(m_query.lastError()));
        return false;
    }
    if (m_count < 0)
        m_count = m_query.record().count();
    const int n = m_count;
    row.resize(n);
    for (int i = 0; i < n; ++i)
        row[i] = m_query.value(i);
    return true;
}

bool TableRowSource::next(QVector<QVariant> &row)
{
    if (m_next >= m_rows.size())
        return false;
    const QVariantList &r = m_rows[m_next++];
    row.resize(m_columns.size());
    for (int i = 0; i < m_columns.size(); ++i)
        row[i] = i < r.size() ? r[i] : QVariant();
    return true;
}

} // namespace lectoria::report
