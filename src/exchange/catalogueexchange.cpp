#include "catalogueexchange.h"
#include "atomicfile.h"
#include "errors.h"
#include "insertgroups.h"
#include "libdb.h"
#include "storedrecords.h"
#include "text.h"

#include <QDir>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <deque>
#include <optional>


namespace lectoria {
namespace {

// A value that trims to nothing, without making the trimmed copy.
bool isBlank(const QVariant &v)
{
    const QString s = v.toString();
    return std::all_of(s.cbegin(), s.cend(), [](QChar c) { return c.unicode() <= 32; });
}

} // namespace

QStringList exportQuery(Kind kind, const QDate &first, const QDate &last, const Dialect &dialect)
{
    const Dialect::EntryBounds b = dialect.entryBounds(first, last);
    QStringList lines = {
        QStringLiteral("select * from ") + kindInfo(kind).recordTable + QLatin1Char(' '),
        QStringLiteral("where ") + b.from,
    };
    if (!b.before.isEmpty())
        lines << QStringLiteral("  and ") + b.before;
    if (exchangeKind(kind).orderedByEntry)
        lines << QStringLiteral("order by li_logtime,li_title");
    return lines;
}

ExportResult exportCatalogue(const ExportRequest &request, const ExchangeProgress &progress)
{
    const ExchangeKind &kind = exchangeKind(request.kind);
    LibBulkRun bulk;
    QSqlQuery rows = LibDB::exec(exportQuery(request.kind, request.first, request.last, LibDB::dialect()));

    const QSqlRecord columns = rows.record();
    QVector<int> at;
    for (const ExchangeField &f : kind.fields)
        at << columns.indexOf(f.column); // a column the table lacks travels as empty
    const int volumesAt = kind.kind == Kind::Dzts ? columns.indexOf(QStringLiteral("li_number")) : -1;
    const int titleAt = columns.indexOf(QStringLiteral("li_title"));

    GbkFileWriter file(trimText(request.path));
    ExchangeWriter writer(file);
    writer.begin();
    ExportResult result;
    QVariantList values(at.size());
    while (LibDB::next(rows)) {
        if (titleAt < 0 || isBlank(rows.value(titleAt)))
            continue;
        for (qsizetype i = 0; i < at.size(); ++i)
            values[i] = at.at(i) >= 0 ? rows.value(at.at(i)) : QVariant();
        writer.record(kind, values, volumesAt >= 0 ? rows.value(volumesAt) : QVariant());
        ++result.records;
        if (progress)
            progress(result.records);
    }
    writer.end();
    file.commit();
    result.altered = writer.alteredValues();
    result.unmappable = file.unmappable();
    return result;
}

QString exportMessage(const ExportResult &r)
{
    QString text = QStringLiteral("数据导出成功，共[%1]条记录!").arg(r.records);
    if (r.altered > 0)
        text += QStringLiteral("\n其中[%1]个字段值含有文件格式不能保存的换行或“@!”，已作调整"
                               "（单行字段中的换行改为空格，“@!”中间加入空格）。")
                    .arg(r.altered);
    if (r.unmappable > 0)
        text += QStringLiteral("\n另有[%1]个字符不能用GBK编码保存，已写为“?”。").arg(r.unmappable);
    return text;
}

QString importQuestion(Kind kind)
{
    return QStringLiteral("您确定要导入[%1]数据码？").arg(kindInfo(kind).exchangeWord);
}

QString utf8Question()
{
    return QStringLiteral("文件似乎是UTF-8编码，而数据文件应为GBK编码。\n"
                          "按GBK读入会把文字变成乱码；要按UTF-8编码读入吗？");
}

QStringList importStatement(Kind kind)
{
    const ExchangeKind &k = exchangeKind(kind);
    QStringList lines = insertHeader(k);
    const qsizetype values = importColumns(k).size();
    for (qsizetype i = 1; i < values; ++i)
        lines << QStringLiteral("?,");
    lines << QStringLiteral("?)");
    return lines;
}

ImportResult importCatalogue(Kind kind, const QString &path, const ExchangeProgress &progress,
                             ExistingRecords existing, TextEncoding encoding)
{
    const ExchangeKind &k = exchangeKind(kind);
    // The file's bytes are checked before anything is stored: a file in
    // another encoding would go in as garbled text, beyond repair.
    ExchangeInput input(trimText(path), encoding);
    QIODevice &file = input.device();

    LibBulkRun bulk;
    // One import of a kind at a time, from before the stored records are
    // read to the end: a second run (a scheduler's retry of a hung one) that
    // read them while the first still inserted would store its records again.
    const LibWorkLock oneImport(QStringLiteral("lectoria-import-") + QLatin1String(kindInfo(kind).lower), int(kind),
                                QStringLiteral("另一个[%1]数据导入正在进行，等待%2秒后仍未结束，本次导入没有开始，"
                                               "请等那个导入结束后再试。")
                                    .arg(kindInfo(kind).exchangeWord, QString::number(LibDB::lockTimeout() / 1000.0)));
    // Read before the first insert: the records of this run are never taken
    // for stored ones.
    std::optional<StoredRecords> stored;
    if (existing == ExistingRecords::Skip)
        stored.emplace(k);

    // The records read and not yet counted, in file order. A record handed
    // to the database counts once the database has said what became of it
    // (over SQL Server's wire when its batch has answered), and the records
    // after it wait for it: an import that stops at a record counts exactly
    // the records before it.
    struct Pending {
        bool waiting = false; // handed to the database, no answer yet
        bool skipped = false;
        QString why; // why the record did not go in
    };
    std::deque<Pending> pending;
    int firstPending = 1; // the record number of pending.front()
    LibInsertGroups groups(LibDB::dialect(), importStatement(kind).join(QLatin1Char('\n')), [&](int tag, const QString &why) {
        Pending &p = pending[size_t(tag - firstPending)];
        p.waiting = false;
        p.why = why;
    });
    ExchangeReader reader(file, int(k.fields.size()), encoding);
    ImportResult result;
    ImportResult atGroupStart; // the counts when the open group began
    int atGroupStartTag = -1;  // the record that began it
    QStringList raw;
    QVariantList values;
    int readCount = 0;

    auto fold = [&] {
        while (!pending.empty() && !pending.front().waiting) {
            const Pending &p = pending.front();
            if (firstPending == groups.groupFirstTag()) {
                atGroupStart = result;
                atGroupStartTag = firstPending;
            }
            if (p.skipped) {
                ++result.skipped;
            } else if (!p.why.isEmpty()) {
                ++result.failed;
                if (result.firstFailure.isEmpty())
                    result.firstFailure = QStringLiteral("第%1条记录：%2").arg(result.read + 1).arg(shownValue(p.why, 200));
            }
            ++result.read;
            pending.pop_front();
            ++firstPending;
        }
    };
    // The database itself failed: every further record would fail the same
    // way (or wait out the same lock), so the import ends here and what went
    // in stays. When the database took the open group with it, the import
    // stopped where that group began.
    auto stop = [&](const DbError &e) {
        const bool kept = groups.keepAfterFailure();
        fold(); // as far as the record the database failed at
        if (!kept && atGroupStartTag == groups.groupFirstTag())
            result = atGroupStart;
        result.groups = groups.groupsCommitted();
        result.longestGroupMs = groups.longestGroupMs();
        result.stoppedBy = e.text().isEmpty() ? QStringLiteral("数据库未说明原因") : shownValue(e.text(), 300);
        result.endLine = reader.linesRead();
    };
    for (;;) {
        const ExchangeReader::Step step = reader.next(raw);
        if (step != ExchangeReader::Step::Record) {
            result.ending = step;
            result.endLine = reader.linesRead();
            break;
        }
        const int tag = ++readCount;
        Pending p;
        if (reader.overlongLine() != 0) {
            p.why = QStringLiteral("文件第%1行超过%2字节的长度上限，未读入")
                        .arg(reader.overlongLine())
                        .arg(ExchangeReader::MaxLineBytes);
        } else if (importValues(k, raw, values, &p.why)) {
            if (stored && stored->take(values))
                p.skipped = true;
            else
                p.waiting = true;
        }
        pending.push_back(std::move(p));
        try {
            if (pending.back().waiting)
                groups.insert(values, tag);
            fold();
            if (progress)
                progress(readCount);
            groups.commitIfDue();
        } catch (const DbError &e) {
            stop(e);
            return result;
        }
    }
    try {
        groups.commit();
    } catch (const DbError &e) {
        const ExchangeReader::Step ending = result.ending;
        stop(e);
        result.ending = ending;
        return result;
    }
    fold();
    result.groups = groups.groupsCommitted();
    result.longestGroupMs = groups.longestGroupMs();
    return result;
}

QString importMessage(const ImportResult &r)
{
    if (r.stopped()) {
        QString text = QStringLiteral("数据导入在第[%1]条记录处因数据库出错而中止：%2\n"
                                      "此前已导入[%3]条记录，均已保存；第[%1]条及以后的记录未导入。")
                           .arg(r.read + 1)
                           .arg(r.stoppedBy)
                           .arg(r.inserted());
        if (r.failed > 0)
            text += QStringLiteral("\n此前另有[%1]条记录未能导入（%2）。").arg(r.failed).arg(r.firstFailure);
        if (r.skipped > 0)
            text += QStringLiteral("\n此前另有[%1]条记录数据库中已有，已跳过。").arg(r.skipped);
        return text;
    }
    QString text = QStringLiteral("数据导入成功，共[%1]条记录，请检查分类是否正确!").arg(r.inserted());
    if (r.failed > 0)
        text += QStringLiteral("\n另有[%1]条记录未能导入（%2）。").arg(r.failed).arg(r.firstFailure);
    if (r.skipped > 0)
        text += QStringLiteral("\n另有[%1]条记录数据库中已有，已跳过。").arg(r.skipped);
    switch (r.ending) {
    case ExchangeReader::Step::NoBeginLine:
        text += QStringLiteral("\n文件中没有开始标记“@@FILE_BEGIN@@”，没有读到记录。");
        break;
    case ExchangeReader::Step::EndedInRecord:
        text += QStringLiteral("\n文件在第[%1]行意外结束，最后一条记录不完整，未导入。").arg(r.endLine);
        break;
    case ExchangeReader::Step::EndedBeforeEnd:
        text += QStringLiteral("\n文件在第[%1]行意外结束，缺少结束标记“@@FILE_END@@”。").arg(r.endLine);
        break;
    case ExchangeReader::Step::Record:
    case ExchangeReader::Step::FileEnd:
        break;
    }
    return text;
}

} // namespace lectoria
