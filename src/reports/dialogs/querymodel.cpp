#include "querymodel.h"
#include "errors.h"
#include "libdb.h"
#include "prompt.h"
#include "text.h"

#include <QSqlError>
#include <QSqlRecord>
#include <QTimer>

#include <climits>

namespace lectoria {

QueryTableModel::QueryTableModel(QObject *parent) : QAbstractTableModel(parent) {}

void QueryTableModel::setColumns(const QVector<GridColumn> &columns)
{
    beginResetModel();
    m_columns = columns;
    m_rows.clear();
    m_query = QSqlQuery();
    ++m_generation;
    endResetModel();
}

void QueryTableModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_query = QSqlQuery();
    ++m_generation;
    endResetModel();
}

void QueryTableModel::setQuery(QSqlQuery &&query)
{
    beginResetModel();
    m_rows.clear();
    ++m_generation;
    m_query = std::move(query);
    m_fields.clear();
    const QSqlRecord record = m_query.record();
    for (const GridColumn &c : qAsConst(m_columns))
        m_fields << record.indexOf(c.field);
    try {
        read(BatchSize, m_rows);
    } catch (...) {
        m_rows.clear();
        m_query = QSqlQuery();
        endResetModel();
        throw;
    }
    endResetModel();
}

void QueryTableModel::read(int n, QVector<QStringList> &into)
{
    if (!m_query.isActive())
        return;
    for (int i = 0; i < n; ++i) {
        if (!m_query.next()) {
            const QSqlError error = m_query.lastError();
            m_query = QSqlQuery(); // the last row is read: release the statement
            if (error.isValid())
                throw DbError(dbErrorText(error));
            return;
        }
        QStringList row;
        row.reserve(m_columns.size());
        for (int c = 0; c < m_columns.size(); ++c) {
            const QVariant v = m_fields.at(c) >= 0 ? m_query.value(m_fields.at(c)) : QVariant();
            switch (m_columns.at(c).format) {
            case GridFormat::Text:
                row << trimText(v.toString());
                break;
            case GridFormat::Number:
                row << (v.isNull() ? QString() : QString::number(v.toLongLong()));
                break;
            case GridFormat::Date:
                row << ymd(LibDB::toDateTime(v));
                break;
            }
        }
        into.append(std::move(row));
    }
}

int QueryTableModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_rows.size()); }

int QueryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

QVariant QueryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= m_columns.size())
        return QVariant();
    if (role == Qt::DisplayRole)
        return m_rows.at(index.row()).at(index.column());
    if (role == Qt::TextAlignmentRole && m_columns.at(index.column()).format == GridFormat::Number)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant QueryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_columns.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return m_columns.at(section).heading;
    if (role == Qt::TextAlignmentRole)
        return int(Qt::AlignCenter);
    return QVariant();
}

void QueryTableModel::readAll()
{
    if (atEnd())
        return;
    QVector<QStringList> rest;
    try {
        read(INT_MAX, rest);
    } catch (...) {
        append(rest);
        throw;
    }
    append(rest);
}

void QueryTableModel::append(QVector<QStringList> &more)
{
    if (more.isEmpty())
        return;
    beginInsertRows(QModelIndex(), int(m_rows.size()), int(m_rows.size() + more.size() - 1));
    m_rows += more;
    endInsertRows();
}

void QueryTableModel::readRestWhenIdle()
{
    if (atEnd())
        return;
    QTimer::singleShot(0, this, [this, generation = m_generation] { readIdleBatch(generation); });
}

void QueryTableModel::readIdleBatch(quint64 generation)
{
    if (generation != m_generation || atEnd())
        return;
    // Big enough to read a long listing in a few seconds, small enough
    // that the dialog answers between two batches.
    constexpr int IdleBatch = 4096;
    QVector<QStringList> more;
    try {
        read(IdleBatch, more);
    } catch (const Error &e) {
        append(more);
        showException(e.text());
        return;
    }
    append(more);
    readRestWhenIdle();
}

bool QueryTableModel::canFetchMore(const QModelIndex &parent) const { return !parent.isValid() && !atEnd(); }

void QueryTableModel::fetchMore(const QModelIndex &parent)
{
    if (parent.isValid() || atEnd())
        return;
    QVector<QStringList> more;
    QString failure;
    try {
        read(BatchSize, more);
    } catch (const Error &e) {
        failure = e.text();
    }
    append(more);
    if (!failure.isEmpty()) {
        // The grid asks for rows while it lays itself out: report the lost
        // rows once that is over, keeping those already shown.
        QTimer::singleShot(0, this, [failure] { showException(failure); });
    }
}

} // namespace lectoria
