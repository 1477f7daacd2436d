#pragma once
#include "reportengine.h"

#include <QSqlQuery>

namespace lectoria::report {

// The rows of an executed query (LibDB::exec gives one). A query already read
// is executed again when a second run starts, so every run begins at the
// first row with the data as they are now; a database error then throws
// DbError with the database's text.
class SqlRowSource : public RowSource {
public:
    SqlRowSource() = default;
    explicit SqlRowSource(QSqlQuery &&query) : m_query(std::move(query)) {}
    void setQuery(QSqlQuery &&query); // e.g. setQuery(LibDB::exec(lines))
    QSqlQuery &query() { return m_query; }

    void restart() override;
    QStringList columns() const override;
    bool next(QVector<QVariant> &row) override;

private:
    QSqlQuery m_query;
    bool m_read = false;
    int m_count = -1; // columns, read once per execution
};

// Rows held in memory (tests, small reports).
class TableRowSource : public RowSource {
public:
    TableRowSource(QStringList columns, QVector<QVariantList> rows)
        : m_columns(std::move(columns)), m_rows(std::move(rows)) {}
    void restart() override { m_next = 0; }
    QStringList columns() const override { return m_columns; }
    bool next(QVector<QVariant> &row) override;

private:
    QStringList m_columns;
    QVector<QVariantList> m_rows;
    int m_next = 0;
};

} // namespace lectoria::report
