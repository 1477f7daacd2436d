#include "demodata.h"
#include "errors.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

// Resources of a static library are registered by hand.
static void initDemoResources() { Q_INIT_RESOURCE(demo); }

namespace lectoria::demo {
namespace {

void run(QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        throw DbError(q.lastError().text() + QStringLiteral("\n") + sql);
}

struct Categories {
    Kind kind;
    QStringList names;
};

const QVector<Categories> &categoryNames()
{
    static const QVector<Categories> c = {
        {Kind::Shdh, {QStringLiteral("名著导读"), QStringLiteral("科普之窗"), QStringLiteral("历史长廊"),
                      QStringLiteral("诗词鉴赏"), QStringLiteral("校园文苑")}},
        {Kind::Dzts, {QStringLiteral("文学艺术"), QStringLiteral("自然科学"), QStringLiteral("计算机技术"),
                      QStringLiteral("历史地理"), QStringLiteral("教育心理"), QStringLiteral("外语学习")}},
        {Kind::Bklw, {QStringLiteral("教育研究"), QStringLiteral("学科教学"), QStringLiteral("教育管理"),
                      QStringLiteral("信息技术")}},
        {Kind::Tpzl, {QStringLiteral("风景名胜"), QStringLiteral("动物世界"), QStringLiteral("名人肖像"),
                      QStringLiteral("科学图谱"), QStringLiteral("校园风采")}},
        {Kind::Zxyy, {QStringLiteral("古典音乐"), QStringLiteral("民族音乐"), QStringLiteral("校园歌曲"),
                      QStringLiteral("儿童歌曲"), QStringLiteral("影视金曲")}},
        {Kind::Zxsp, {QStringLiteral("科教片"), QStringLiteral("名师课堂"), QStringLiteral("纪录片"),
                      QStringLiteral("动画片"), QStringLiteral("爱国主义教育")}},
    };
    return c;
}

const QStringList &subCategories()
{
    static const QStringList s = {QStringLiteral("理论探讨"), QStringLiteral("实践经验"), QStringLiteral("案例分析"),
                                  QStringLiteral("综述")};
    return s;
}

QString pick(QRandomGenerator &r, const QStringList &l) { return l.at(int(r.bounded(quint32(l.size())))); }

const QStringList subjects = {
    QStringLiteral("中国古代"), QStringLiteral("现代"), QStringLiteral("青少年"), QStringLiteral("世界"),
    QStringLiteral("实用"), QStringLiteral("中学"), QStringLiteral("趣味"), QStringLiteral("大众"),
    QStringLiteral("新编"), QStringLiteral("图解")};
const QStringList topics = {
    QStringLiteral("文学"), QStringLiteral("数学"), QStringLiteral("物理"), QStringLiteral("化学"),
    QStringLiteral("生物"), QStringLiteral("地理"), QStringLiteral("历史"), QStringLiteral("音乐"),
    QStringLiteral("美术"), QStringLiteral("天文"), QStringLiteral("计算机"), QStringLiteral("英语"),
    QStringLiteral("哲学"), QStringLiteral("心理学"), QStringLiteral("环境保护")};
const QStringList forms = {
    QStringLiteral("基础"), QStringLiteral("概论"), QStringLiteral("故事"), QStringLiteral("百科"),
    QStringLiteral("入门"), QStringLiteral("理论与实践"), QStringLiteral("技术手册"), QStringLiteral("精选"),
    QStringLiteral("史话"), QStringLiteral("漫谈")};
const QStringList authors = {
    QStringLiteral("王建国"), QStringLiteral("李晓明"), QStringLiteral("张丽华"), QStringLiteral("刘志强"),
    QStringLiteral("陈静"), QStringLiteral("杨帆"), QStringLiteral("赵敏"), QStringLiteral("黄海涛"),
    QStringLiteral("周文"), QStringLiteral("吴晓燕")};
const QStringList sources = {
    QStringLiteral("中国教育报"), QStringLiteral("光明日报"), QStringLiteral("中学语文"),
    QStringLiteral("人民教育"), QStringLiteral("科学画报"), QStringLiteral("读者")};

QString sentence(QRandomGenerator &r)
{
    return QStringLiteral("本书介绍了%1%2的%3，内容深入浅出，适合%4阅读。")
        .arg(pick(r, subjects), pick(r, topics), pick(r, forms),
             pick(r, {QStringLiteral("中学生"), QStringLiteral("教师"), QStringLiteral("广大读者"),
                      QStringLiteral("初学者")}));
}

QString content(QRandomGenerator &r)
{
    // The site keeps HTML: leading &nbsp; indents and <br> line breaks.
    QString c;
    const int paragraphs = 1 + int(r.bounded(3u));
    for (int p = 0; p < paragraphs; ++p) {
        if (p) c += QStringLiteral("<br>");
        c += QStringLiteral("&nbsp;&nbsp;&nbsp;&nbsp;");
        const int n = 1 + int(r.bounded(4u));
        for (int i = 0; i < n; ++i)
            c += sentence(r);
    }
    return c;
}

} // namespace

void createSchema(QSqlDatabase &db, bool volumeColumn)
{
    initDemoResources();
    QFile f(QStringLiteral(":/demo/schema.sql"));
    if (!f.open(QIODevice::ReadOnly))
        throw DbError(QStringLiteral("demo schema resource missing"));
    QString sql = QString::fromUtf8(f.readAll());
    if (!volumeColumn)
        sql.replace(QStringLiteral(",\n  li_number int default(1))"), QStringLiteral(")"));
    QStringList lines;
    for (const QString &l : sql.split(QLatin1Char('\n')))
        if (!l.trimmed().startsWith(QLatin1String("--")))
            lines << l;
    for (const QString &stmt : lines.join(QLatin1Char('\n')).split(QLatin1Char(';')))
        if (!stmt.trimmed().isEmpty())
            run(db, stmt);
}

void addCategories(QSqlDatabase &db)
{
    for (const Categories &c : categoryNames()) {
        const CatalogueKind &k = kindInfo(c.kind);
        for (int i = 0; i < c.names.size(); ++i)
            run(db, QStringLiteral("insert into %1 (lt_id, lt_notice) values (%2, '%3')")
                        .arg(k.categoryTable).arg(i + 1).arg(c.names.at(i)));
        if (!k.subCategoryTable.isEmpty())
            for (int i = 0; i < c.names.size(); ++i)
                for (int s = 0; s < subCategories().size(); ++s)
                    run(db, QStringLiteral("insert into %1 (ls_id, ls_sid, ls_notice) values (%2, %3, '%4')")
                                .arg(k.subCategoryTable).arg(i + 1).arg(s + 1).arg(subCategories().at(s)));
    }
}

void addOperators(QSqlDatabase &db, const QDate &today)
{
    const QString d = today.toString(QStringLiteral("yyyy-MM-dd"));
    run(db, QStringLiteral("insert into www_admin values('admin','系统管理员','qzmvt',"
                           "'1','1','1','1','1','1','1','1','1','1','1','1','1','1','1','1','1','1','1','%1 08:00:00')").arg(d));
    run(db, QStringLiteral("insert into www_admin values('lib01','图书管理员','lib01',"
                           "'1','1','0','1','1','1','0','0','0','0','1','1','0','0','1','0','0','0','0','%1 09:30:00')").arg(d));
    run(db, QStringLiteral("insert into www_admin values('guest','访客','guest',"
                           "'0','0','0','0','0','0','0','0','0','0','0','0','0','0','0','0','0','0','0',null)"));
}

void addRecords(QSqlDatabase &db, Kind kind, int count, const QDate &today, int spreadDays, int todayCount, quint32 seed)
{
    QRandomGenerator r(seed * 7919u + quint32(kind));
    const CatalogueKind &k = kindInfo(kind);
    // Descriptive texts come from a pool: composing one per record would cost
    // more than inserting it when a benchmark asks for a million.
    QStringList contents;
    for (int i = 0; i < qMin(count, 512); ++i)
        contents << content(r);
    const int categories = categoryNames().at(int(kind)).names.size();

    QString columns = QStringLiteral("li_title,li_typeid,li_logtime,li_content");
    int extra = 0;
    switch (kind) {
    case Kind::Shdh: columns += QStringLiteral(",li_about,li_picurl,li_from,li_linkurl"); extra = 4; break;
    case Kind::Dzts: columns += QStringLiteral(",li_format,li_tools,li_url,li_number"); extra = 4; break;
    case Kind::Bklw: columns += QStringLiteral(",li_subid,li_format,li_author,li_linkurl,li_pic,li_intro"); extra = 6; break;
    case Kind::Tpzl: columns += QStringLiteral(",li_simage,li_image"); extra = 2; break;
    case Kind::Zxyy: columns += QStringLiteral(",li_format,li_level,li_tools,li_url"); extra = 4; break;
    case Kind::Zxsp: columns += QStringLiteral(",li_format,li_level,li_tools,li_times,li_url"); extra = 5; break;
    }
    QString marks = QStringLiteral("?,?,?,?");
    for (int i = 0; i < extra; ++i) marks += QStringLiteral(",?");

    if (!db.transaction())
        throw DbError(db.lastError().text());
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("insert into %1 (%2) values (%3)").arg(k.recordTable, columns, marks)))
        throw DbError(q.lastError().text());

    for (int i = 0; i < count; ++i) {
        const bool isToday = i >= count - todayCount;
        const QDate day = isToday ? today : today.addDays(-1 - qint64(r.bounded(quint32(qMax(1, spreadDays)))));
        const QString when = day.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" %1:%2:%3")
                                 .arg(8 + r.bounded(10u), 2, 10, QLatin1Char('0'))
                                 .arg(r.bounded(60u), 2, 10, QLatin1Char('0'))
                                 .arg(r.bounded(60u), 2, 10, QLatin1Char('0'));
        const int type = 1 + int(r.bounded(quint32(categories)));
        QString title = pick(r, subjects) + pick(r, topics) + pick(r, forms);
        if (kind == Kind::Dzts && r.bounded(40u) == 0)
            title = QStringLiteral("英文名著3000部（第%1辑）").arg(1 + r.bounded(9u));
        if (kind == Kind::Bklw)
            title = QStringLiteral("浅谈%1%2的%3").arg(pick(r, subjects), pick(r, topics),
                                                     pick(r, {QStringLiteral("教学方法"), QStringLiteral("课程改革"),
                                                              QStringLiteral("学习兴趣"), QStringLiteral("能力培养")}));
        q.addBindValue(title);
        q.addBindValue(type);
        q.addBindValue(when);
        q.addBindValue(contents.at(int(r.bounded(quint32(contents.size())))));
        const QString file = QStringLiteral("%1%2").arg(k.lower).arg(i + 1, 6, 10, QLatin1Char('0'));
        switch (kind) {
        case Kind::Shdh:
            q.addBindValue(pick(r, authors));
            q.addBindValue(QStringLiteral("pic/%1.jpg").arg(file));
            q.addBindValue(pick(r, sources));
            q.addBindValue(QStringLiteral("http://www.example.edu.cn/shdh/%1.htm").arg(file));
            break;
        case Kind::Dzts: {
            q.addBindValue(pick(r, {QStringLiteral("PDF"), QStringLiteral("超星PDG"), QStringLiteral("HTML"), QStringLiteral("TXT")}));
            q.addBindValue(pick(r, {QStringLiteral("Acrobat Reader"), QStringLiteral("超星阅览器"), QStringLiteral("IE浏览器")}));
            q.addBindValue(QStringLiteral("/books/%1.pdf").arg(file));
            int volumes = 1;
            if (title.startsWith(QStringLiteral("英文名著3000部"))) volumes = 4000;
            if (title.contains(QStringLiteral("基础")) || title.contains(QStringLiteral("理论")) || title.contains(QStringLiteral("技术"))) volumes = 2;
            q.addBindValue(volumes);
            break;
        }
        case Kind::Bklw:
            q.addBindValue(1 + int(r.bounded(quint32(subCategories().size()))));
            q.addBindValue(int(r.bounded(3u)));
            q.addBindValue(pick(r, authors));
            q.addBindValue(QStringLiteral("http://www.example.edu.cn/article/%1.htm").arg(file));
            q.addBindValue(QString());
            q.addBindValue(QStringLiteral("本文探讨了%1%2教学中的若干问题。").arg(pick(r, subjects), pick(r, topics)));
            break;
        case Kind::Tpzl:
            q.addBindValue(QStringLiteral("images/small/%1.jpg").arg(file));
            q.addBindValue(QStringLiteral("images/%1.jpg").arg(file));
            break;
        case Kind::Zxyy:
            q.addBindValue(pick(r, {QStringLiteral("MP3"), QStringLiteral("WMA"), QStringLiteral("RM")}));
            q.addBindValue(int(r.bounded(5u)));
            q.addBindValue(int(r.bounded(3u)));
            q.addBindValue(QStringLiteral("music/%1.mp3").arg(file));
            break;
        case Kind::Zxsp:
            q.addBindValue(pick(r, {QStringLiteral("RM"), QStringLiteral("WMV"), QStringLiteral("MPEG")}));
            q.addBindValue(int(r.bounded(5u)));
            q.addBindValue(int(r.bounded(3u)));
            q.addBindValue(10 + int(r.bounded(110u)));
            q.addBindValue(QStringLiteral("video/%1.wmv").arg(file));
            break;
        }
        if (!q.exec())
            throw DbError(q.lastError().text());
    }
    if (!db.commit())
        throw DbError(db.lastError().text());
}

void makeDatabase(const QString &path, int recordsPerKind, const QDate &today, const QString &onlyKind)
{
    QFile::remove(path);
    QFile::remove(path + QStringLiteral("-wal"));
    QFile::remove(path + QStringLiteral("-shm"));
    const QString name = QStringLiteral("lectoria-demo-maker");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            throw DbError(db.lastError().text());
        // A new file that nobody else uses: no journal while it is filled, the
        // entry-date indexes built once at the end, then the console's WAL mode.
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=OFF"));
        QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous=OFF"));
        QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size=-65536"));
        createSchema(db);
        QStringList indexes;
        {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select sql, name from sqlite_master where type='index' and sql is not null"));
            QStringList names;
            while (q.next()) {
                indexes << q.value(0).toString();
                names << q.value(1).toString();
            }
            q.finish();
            for (const QString &name : names)
                run(db, QStringLiteral("drop index ") + name);
        }
        addCategories(db);
        addOperators(db, today);
        for (const CatalogueKind &k : catalogueKinds()) {
            if (!onlyKind.isEmpty() && onlyKind.compare(QLatin1String(k.lower), Qt::CaseInsensitive) != 0)
                continue;
            addRecords(db, k.kind, recordsPerKind, today, 180, qMin(12, recordsPerKind));
        }
        for (const QString &sql : indexes)
            run(db, sql);
        QSqlQuery(db).exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace lectoria::demo
