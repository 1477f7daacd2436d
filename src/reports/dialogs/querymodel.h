#pragma once
#include "paramdialog.h"

#include <QAbstractTableModel>
#include <QSqlQuery>
#include <QVector>

namespace lectoria {

// A read-only grid model on an executed forward-only query that reads its
// rows on demand: the first rows when the query is set, further rows as the
// grid scrolls towards them. A catalogue of hundreds of thousands of records
// shows at once and costs memory only for the rows looked at. The query is
// released as soon as its last row is read.
class QueryTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int BatchSize = 256;

    explicit QueryTableModel(QObject *parent = nullptr);

    void setColumns(const QVector<GridColumn> &columns);
    // Takes the query and reads its first batch. A database error while
    // reading throws DbError and leaves the model empty.
    void setQuery(QSqlQuery &&query);
    // No rows; the query is released.
    void clear();
    // Reads every row not yet read, so that the query is released. Throws
    // DbError, keeping the rows read before.
    void readAll();
    // Reads the rest of the rows a batch at a time whenever the event loop
    // is idle, until the query is released. On SQL Server a result that is
    // not read to its end keeps its shared locks while the server waits to
    // send the rest, and the web site's writers wait behind them; the grid
    // shows its first rows at once all the same. A failure is reported once
    // in the standard error box, keeping the rows read.
    void readRestWhenIdle();
    // Whether every row of the query has been read.
    bool atEnd() const { return !m_query.isActive(); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex &parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex &parent = QModelIndex()) override;

private:
    // Reads up to n rows into `into`; throws DbError when the query fails.
    void read(int n, QVector<QStringList> &into);
    void append(QVector<QStringList> &more);
    void readIdleBatch(quint64 generation);

    QVector<GridColumn> m_columns;
    QVector<int> m_fields; // query column of each grid column, -1 when absent
    QSqlQuery m_query;
    QVector<QStringList> m_rows;
    quint64 m_generation = 0; // a new query or none: idle reading of the old one stops
};

} // namespace lectoria
