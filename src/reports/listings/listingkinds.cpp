#include "listingkinds.h"

namespace lectoria {

using report::Align;

namespace {

const QString kTitle = QStringLiteral("li_title");
const QString kDate = QStringLiteral("li_logtime");

GridColumn text(const char *field, const QString &heading) { return {QLatin1String(field), heading, GridFormat::Text}; }

// Every grid begins with the category, the title and (mostly) the entry date.
QVector<GridColumn> grid(std::initializer_list<GridColumn> more, bool dateFirst = true)
{
    QVector<GridColumn> g = {text("lt_notice", QStringLiteral("类别")), text("li_title", QStringLiteral("标题"))};
    if (dateFirst)
        g.append({kDate, QStringLiteral("加入日期"), GridFormat::Date});
    for (const GridColumn &c : more)
        g.append(c);
    return g;
}

ListingColumn titleColumn(double width) { return {QStringLiteral("标题"), kTitle, Align::Left, 8.5, width, false, true}; }
ListingColumn dateColumn() { return {QStringLiteral("加入日期"), kDate, Align::Left, 170, 22, true}; }

ListingFacts factsOf(Kind kind)
{
    ListingFacts f;
    f.kind = kind;
    return f;
}

QVector<ListingFacts> makeFacts()
{
    const QString entryDate = QStringLiteral("入库日期");
    const QString printList = QStringLiteral("打印目录清单");
    const QString book = QStringLiteral("打印书本式目录");
    const QString allCategories = QStringLiteral("全部类别");
    const QString content = QStringLiteral("li_content");
    const QString notice = QStringLiteral("lt_notice");
    ListingFacts shdh = factsOf(Kind::Shdh);
    shdh.dialogCaption = QStringLiteral("导读文章目录打印");
    shdh.periodCaption = QStringLiteral("加入日期");
    shdh.printCaption = QStringLiteral("打印清单");
    shdh.firstItem = allCategories;
    shdh.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime ");
    shdh.grid = grid({});
    shdh.layoutSelect = shdh.dialogSelect;
    shdh.columns = {titleColumn(150), dateColumn()};
    shdh.pageTitle = QStringLiteral("导读文章目录");
    shdh.headerLine = QStringLiteral("标题,加入日期");

    ListingFacts dzts = factsOf(Kind::Dzts);
    dzts.dialogCaption = QStringLiteral("电子图书目录打印");
    dzts.periodCaption = entryDate;
    dzts.printCaption = printList;
    dzts.bookCaption = book;
    dzts.firstItem = allCategories;
    dzts.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime ");
    dzts.grid = grid({});
    dzts.layoutSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_number ");
    dzts.columns = {titleColumn(110),
                    {QStringLiteral("类别"), notice, Align::Left, 121, 27, false, true, true},
                    {QStringLiteral("册数"), QStringLiteral("li_number"), Align::Right, 150, 15},
                    dateColumn()};
    dzts.sumField = QStringLiteral("li_number");
    dzts.sumUnit = QStringLiteral("册");
    dzts.sumInSummary = true;
    dzts.pageTitle = QStringLiteral("图书馆电子图书目录");
    dzts.headerLine = QStringLiteral("标题,类别,册数,加入日期");
    dzts.bookSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_content ");
    dzts.bracketField = notice;
    dzts.textField = content;

    ListingFacts bklw = factsOf(Kind::Bklw);
    bklw.dialogCaption = QStringLiteral("报刊论文目录打印");
    bklw.periodCaption = entryDate;
    bklw.printCaption = printList;
    bklw.bookCaption = book;
    bklw.firstItem = QStringLiteral("全部大类别");
    bklw.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_subid,ls_notice,li_logtime,li_author ");
    bklw.grid = grid({text("li_author", QStringLiteral("作者")), {kDate, QStringLiteral("加入日期"), GridFormat::Date}},
                     false);
    bklw.layoutSelect = bklw.dialogSelect;
    bklw.columns = {titleColumn(115),
                    {QStringLiteral("作者"), QStringLiteral("li_author"), Align::Left, 126, 42, false, true},
                    dateColumn()};
    bklw.pageTitle = QStringLiteral("图书馆报刊论文目录");
    bklw.headerLine = QStringLiteral("标题,作者,加入日期");
    bklw.bookSelect =
        QStringLiteral("select li_title,li_typeid,lt_notice,li_subid,ls_notice,li_logtime,li_intro,li_author ");
    bklw.bracketField = QStringLiteral("li_author");
    bklw.textField = QStringLiteral("li_intro");

    ListingFacts tpzl = factsOf(Kind::Tpzl);
    tpzl.dialogCaption = QStringLiteral("图片资料目录打印");
    tpzl.periodCaption = entryDate;
    tpzl.printCaption = printList;
    tpzl.bookCaption = book;
    tpzl.firstItem = allCategories;
    tpzl.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_simage,li_image ");
    tpzl.grid = grid({text("li_image", QStringLiteral("图象目录及文件名")),
                      text("li_simage", QStringLiteral("缩小图象目录及文件名"))});
    tpzl.layoutSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_image ");
    tpzl.columns = {titleColumn(90),
                    {QStringLiteral("文件名"), QStringLiteral("li_image"), Align::Right, 100, 65, false, true},
                    dateColumn()};
    tpzl.pageTitle = QStringLiteral("图片资料目录");
    tpzl.headerLine = QStringLiteral("标题,文件名,加入日期");
    tpzl.bookSelect = dzts.bookSelect;
    tpzl.bracketField = notice;
    tpzl.textField = content;

    ListingFacts zxyy = factsOf(Kind::Zxyy);
    zxyy.dialogCaption = QStringLiteral("在线音乐目录打印");
    zxyy.periodCaption = entryDate;
    zxyy.printCaption = printList;
    zxyy.bookCaption = QStringLiteral("打印书本式目录(歌词)");
    zxyy.firstItem = allCategories;
    zxyy.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_url ");
    zxyy.grid = grid({text("li_url", QStringLiteral("文件连接"))});
    zxyy.layoutSelect = zxyy.dialogSelect;
    zxyy.columns = {titleColumn(90),
                    {QStringLiteral("文件连接"), QStringLiteral("li_url"), Align::Right, 100, 65, false, true},
                    dateColumn()};
    zxyy.pageTitle = QStringLiteral("在线音乐目录");
    zxyy.headerLine = QStringLiteral("标题,文件连接,加入日期");
    zxyy.bookSelect = dzts.bookSelect;
    zxyy.bracketField = notice;
    zxyy.textField = content;

    ListingFacts zxsp = factsOf(Kind::Zxsp);
    zxsp.dialogCaption = QStringLiteral("在线视频目录打印");
    zxsp.periodCaption = entryDate;
    zxsp.printCaption = printList;
    zxsp.bookCaption = book;
    zxsp.firstItem = allCategories;
    zxsp.dialogSelect = QStringLiteral("select li_title,li_typeid,lt_notice,li_logtime,li_url,li_times ");
    zxsp.grid = grid({{QStringLiteral("li_times"), QStringLiteral("时间(分)"), GridFormat::Number},
                      text("li_url", QStringLiteral("文件连接"))});
    zxsp.layoutSelect = zxsp.dialogSelect;
    zxsp.columns = {titleColumn(75),
                    {QStringLiteral("文件连接"), QStringLiteral("li_url"), Align::Right, 85, 55, false, true},
                    {QStringLiteral("长度(分)"), QStringLiteral("li_times"), Align::Right, 145, 18},
                    dateColumn()};
    zxsp.footerPrefix = QStringLiteral("小计：");
    zxsp.sumField = QStringLiteral("li_times");
    zxsp.pageTitle = QStringLiteral("在线视频目录");
    // The saved file's header says minutes in full; the printed caption abbreviates.
    zxsp.headerLine = QStringLiteral("标题,文件连接,长度(分钟),加入日期");
    zxsp.bookSelect = QStringLiteral("select li_title,li_times,li_typeid,lt_notice,li_logtime,li_content ");
    zxsp.bracketField = notice;
    zxsp.textField = content;
    zxsp.bookTimes = true;

    QVector<ListingFacts> f = {shdh, dzts, bklw, tpzl, zxyy, zxsp};
    for (ListingFacts &k : f)
        k.fileTitle = QLatin1Char(' ') + k.pageTitle;
    return f;
}

QString windowName(Kind kind, const char *suffix)
{
    return QStringLiteral("T") + QLatin1String(kindInfo(kind).code) + QLatin1String(suffix);
}

} // namespace

const ListingColumn *ListingFacts::column(const QString &field) const
{
    for (const ListingColumn &c : columns)
        if (c.field == field)
            return &c;
    return nullptr;
}

const ListingFacts &listingFacts(Kind kind)
{
    static const QVector<ListingFacts> facts = keyedByKind(makeFacts());
    return facts.at(int(kind));
}

QString listingDialogName(Kind kind) { return windowName(kind, "MLP"); }
QString listingLayoutName(Kind kind) { return windowName(kind, "ML"); }
QString bookLayoutName(Kind kind) { return windowName(kind, "SB"); }

} // namespace lectoria
