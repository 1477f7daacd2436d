#include "atomicfile.h"
#include "catalogueexchange.h"
#include "exchangefile.h"
#include "gbk.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

using namespace lectoria;
using Step = ExchangeReader::Step;

namespace {

const ExchangeKind &ebook() { return exchangeKind(Kind::Dzts); }

// Everything a reader delivers, one entry per step: a record as its
// extracted values joined by "|", an ending as its name and line.
QStringList readAll(const QByteArray &bytes, int fieldCount)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    ExchangeReader reader(buffer, fieldCount);
    QStringList steps;
    QStringList raw;
    for (int guard = 0; guard < 100; ++guard) {
        const Step s = reader.next(raw);
        if (s == Step::Record) {
            QStringList values;
            for (const QString &r : raw) values << extractValue(r);
            steps << values.join(QLatin1Char('|'))
                         + (reader.overlongLine() ? QStringLiteral("!long@%1").arg(reader.overlongLine()) : QString());
            continue;
        }
        const char *names[] = {"Record", "FileEnd", "NoBeginLine", "EndedInRecord", "EndedBeforeEnd"};
        steps << QStringLiteral("%1@%2").arg(QLatin1String(names[int(s)])).arg(reader.linesRead());
        if (reader.next(raw) != s)
            steps << QStringLiteral("ending not kept");
        break;
    }
    return steps;
}

} // namespace

class TestExchangeFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The e-book record of three volumes with an empty li_tools and a two-line
    // li_content, written byte for byte and read back.
    void ebookExample()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("x.dat"));
        {
            GbkFileWriter file(path);
            ExchangeWriter w(file);
            w.begin();
            w.record(ebook(), {QStringLiteral("类别"), 12, QStringLiteral("F"), QString(), QStringLiteral("U"),
                               QStringLiteral("L1\r\nL2")}, 3);
            w.end();
            file.commit();
            QCOMPARE(w.alteredValues(), 0);
        }
        const QByteArray bytes = readWholeFile(path);
        QCOMPARE(bytes, QByteArray("@@FILE_BEGIN@@\r\n"
                                   "@@RECORD_BEGIN@@\r\n"
                                   "@@\xc0\xe0\xb1\xf0(\xb2\xe1\xca\xfd" "3) @!\r\n"
                                   "@@12 @!\r\n"
                                   "@@F @!\r\n"
                                   "@@ @!\r\n"
                                   "@@U @!\r\n"
                                   "@@L1\r\n"
                                   "L2 @!\r\n"
                                   "@@RECORD_END@@\r\n"
                                   "@@FILE_END@@\r\n"));
        QCOMPARE(readAll(bytes, 6), QStringList({QStringLiteral("类别(册数3) |12 |F | |U |L1\nL2 "),
                                                 QStringLiteral("FileEnd@11")}));

        QVariantList values;
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        ExchangeReader reader(buffer, 6);
        QStringList raw;
        QCOMPARE(reader.next(raw), Step::Record);
        QVERIFY(importValues(ebook(), raw, values));
        QCOMPARE(values, QVariantList({QStringLiteral("类别 "), 3, 12, QStringLiteral("F "), QStringLiteral(" "),
                                       QStringLiteral("U "), QStringLiteral("L1\nL2 ")}));
    }

    void emptyExport()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("empty.dat"));
        GbkFileWriter file(path);
        ExchangeWriter w(file);
        w.begin();
        w.end();
        file.commit();
        QCOMPARE(readWholeFile(path), QByteArray("@@FILE_BEGIN@@\r\n@@FILE_END@@\r\n"));
        QCOMPARE(readAll(readWholeFile(path), 6), QStringList{QStringLiteral("FileEnd@2")});
    }

    // One field of an e-book record as written, and as read back: the rest of
    // the record (and the file) must stay in step.
    void writtenField_data()
    {
        QTest::addColumn<int>("field");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("volumes");
        QTest::addColumn<QString>("written"); // the field's line(s) without "@@" and " @!"
        QTest::addColumn<int>("altered");

        QTest::newRow("trimmed") << 0 << QVariant(QStringLiteral(" \t书名\r\n")) << QVariant() << QStringLiteral("书名") << 0;
        QTest::newRow("inner blanks kept") << 2 << QVariant(QStringLiteral(" a  b ")) << QVariant() << QStringLiteral("a  b") << 0;
        QTest::newRow("NULL number") << 1 << QVariant() << QVariant() << QString() << 0;
        QTest::newRow("volumes 1") << 0 << QVariant(QStringLiteral("书")) << QVariant(1) << QStringLiteral("书") << 0;
        QTest::newRow("volumes 0") << 0 << QVariant(QStringLiteral("书")) << QVariant(0) << QStringLiteral("书") << 0;
        QTest::newRow("volumes NULL") << 0 << QVariant(QStringLiteral("书")) << QVariant(QMetaType(QMetaType::Int)) << QStringLiteral("书") << 0;
        QTest::newRow("volumes 3") << 0 << QVariant(QStringLiteral("书 ")) << QVariant(3) << QStringLiteral("书(册数3)") << 0;
        QTest::newRow("volumes 12 as text") << 0 << QVariant(QStringLiteral("书")) << QVariant(QStringLiteral(" 12 ")) << QStringLiteral("书(册数12)") << 0;
        QTest::newRow("line breaks in one-line field") << 4 << QVariant(QStringLiteral("甲\r\n乙\n丙\r丁")) << QVariant()
                                                       << QStringLiteral("甲 乙 丙 丁") << 1;
        QTest::newRow("content two lines") << 5 << QVariant(QStringLiteral("L1\r\nL2\r\n")) << QVariant()
                                           << QStringLiteral("L1\r\nL2") << 0;
        QTest::newRow("content @! on first line") << 5 << QVariant(QStringLiteral("a@!b@!\r\nc@!")) << QVariant()
                                                  << QStringLiteral("a@ !b@ !\r\nc@!") << 1;
        QTest::newRow("content @! on middle line") << 5 << QVariant(QStringLiteral("a\nb@!\nc")) << QVariant()
                                                   << QStringLiteral("a\nb@ !\nc") << 1;
        QTest::newRow("content opening with !") << 5 << QVariant(QStringLiteral("!注意\n下行")) << QVariant()
                                                << QStringLiteral(" !注意\n下行") << 1;
        QTest::newRow("content @! on one line") << 5 << QVariant(QStringLiteral("!a@!b")) << QVariant()
                                                << QStringLiteral("!a@!b") << 0;
        QTest::newRow("content empty") << 5 << QVariant(QString()) << QVariant() << QString() << 0;
    }
    void writtenField()
    {
        QFETCH(int, field);
        QFETCH(QVariant, value);
        QFETCH(QVariant, volumes);
        QFETCH(QString, written);
        QFETCH(int, altered);

        QVariantList values(6);
        values[field] = value;
        int changed = -1;
        const QString block = formatRecord(ebook(), values, volumes, &changed);
        QStringList expected{QStringLiteral("@@RECORD_BEGIN@@")};
        for (int i = 0; i < 6; ++i)
            expected << QStringLiteral("@@") + (i == field ? written : QString()) + QStringLiteral(" @!");
        expected << QStringLiteral("@@RECORD_END@@");
        QCOMPARE(block, expected.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
        QCOMPARE(changed, altered);

        // Read back between two more records: everything stays in step.
        const QString other = formatRecord(ebook(), {QStringLiteral("后"), 1, QString(), QString(), QString(), QStringLiteral("C")});
        const QStringList steps = readAll(Gbk::encode(QStringLiteral("@@FILE_BEGIN@@\r\n") + other + block + other
                                                      + QStringLiteral("@@FILE_END@@\r\n")), 6);
        QCOMPARE(steps.size(), 4);
        QCOMPARE(steps.at(0), steps.at(2));
        QString back = written;
        back.remove(QLatin1Char('\r'));
        QCOMPARE(steps.at(1).split(QLatin1Char('|')).at(field), back + QLatin1Char(' '));
        QVERIFY(steps.at(3).startsWith(QLatin1String("FileEnd@")));
    }

    // Hand-made files for a kind of three fields.
    void reading_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("steps");
        const QByteArray rec = "@@RECORD_BEGIN@@\r\n@@a @!\r\n@@b @!\r\n@@c @!\r\n@@RECORD_END@@\r\n";

        QTest::newRow("lines before the begin line") << QByteArray("\r\nnoise\r\n@@FILE_BEGIN@@ and more\r\n" + rec + "@@FILE_END@@\r\n")
                                                     << QStringList{"a |b |c ", "FileEnd@9"};
        QTest::newRow("LF line ends, CR anywhere dropped, last line without LF")
            << QByteArray("@@FILE_BEGIN@@\n@@RECORD_BEGIN@@\n@@a\rx @!\n@@b @!\n@@c1\r\nc2 @!\n@@RECORD_END@@\n@@FILE_END@@")
            << QStringList{"ax |b |c1\nc2 ", "FileEnd@8"};
        QTest::newRow("CRs dropped before decoding") << QByteArray("@@FILE_BEGIN@@\r\nX\r\n@@\xd6\r\xd0\r\r @!\r\r\n@@\r\r\n@@c @!\r\nY\r\n@@FILE_END@@\r\n")
                                                     << QStringList{QStringLiteral("中 ||c "), "FileEnd@7"};
        QTest::newRow("last field ends only at @! within a line")
            << QByteArray("@@FILE_BEGIN@@\r\nX\r\n@@a @!\r\n@@b @!\r\n@@c@\r\n!@d@@\r\n@ @!\r\nY\r\n@@FILE_END@@\r\n")
            << QStringList{"a |b |c@\n!@d@@\n@ ", "FileEnd@9"};
        QTest::newRow("record markers not examined") << QByteArray("@@FILE_BEGIN@@\r\nX\r\n@@a @!\r\n@@b @!\r\n@@c @!\r\nY\r\n@@FILE_END@@\r\n")
                                                     << QStringList{"a |b |c ", "FileEnd@7"};
        QTest::newRow("short raw fields") << QByteArray("@@FILE_BEGIN@@\r\nX\r\n\r\n@@@!\r\n@@ @!\r\nY\r\n@@FILE_END@@\r\n")
                                          << QStringList{"|| ", "FileEnd@7"};
        QTest::newRow("not GBK") << QByteArray("@@FILE_BEGIN@@\r\nX\r\n@@\xff\x81 @!\r\n@@\xd6 @!\r\n@@\xff\xd6\xd0 @!\r\nY\r\n@@FILE_END@@\r\n")
                                 << QStringList{QString::fromUtf16(u"\uFFFD\uFFFD |\uFFFD |\uFFFD中 "), "FileEnd@7"};
        QTest::newRow("empty file") << QByteArray() << QStringList{"NoBeginLine@0"};
        QTest::newRow("no begin line") << QByteArray("@@FILE_END@@\r\n" + rec) << QStringList{"NoBeginLine@6"};
        QTest::newRow("ends before the end line") << QByteArray("@@FILE_BEGIN@@\r\n" + rec)
                                                  << QStringList{"a |b |c ", "EndedBeforeEnd@6"};
        QTest::newRow("ends before the record's end marker") << QByteArray("@@FILE_BEGIN@@\r\n" + rec.left(rec.indexOf("@@RECORD_END")))
                                                             << QStringList{"a |b |c ", "EndedBeforeEnd@5"};
        QTest::newRow("ends among the fields") << QByteArray("@@FILE_BEGIN@@\r\n" + rec + "@@RECORD_BEGIN@@\r\n@@a @!\r\n")
                                               << QStringList{"a |b |c ", "EndedInRecord@8"};
        // Lines over the cap are passed over with bounded memory: the
        // record comes with the field empty and names the line, and the
        // reading stays in step.
        const qsizetype cap = ExchangeReader::MaxLineBytes;
        const QByteArray atCap = "@@" + QByteArray(cap - 5, 'x') + " @!\n";
        const QByteArray overCap = "@@" + QByteArray(cap - 4, 'x') + " @!\n";
        QTest::newRow("a line at the cap") << QByteArray("@@FILE_BEGIN@@\nX\n@@a @!\n" + atCap + "@@c @!\nY\n@@FILE_END@@\n")
                                           << QStringList{"a |" + QString(cap - 5, QLatin1Char('x')) + " |c ", "FileEnd@7"};
        QTest::newRow("a line over the cap") << QByteArray("@@FILE_BEGIN@@\n" + rec + "X\n@@a @!\n" + overCap + "@@c @!\nY\n" + rec
                                                           + "@@FILE_END@@\n")
                                             << QStringList{"a |b |c ", "a ||c !long@9", "a |b |c ", "FileEnd@17"};
        QTest::newRow("an endless line") << QByteArray("@@FILE_BEGIN@@\nX\n@@a @!\n" + QByteArray(cap * 2, '\0'))
                                         << QStringList{"EndedInRecord@4"};
        QTest::newRow("last field's first line over the cap")
            << QByteArray("@@FILE_BEGIN@@\nX\n@@a @!\n@@b @!\n" + overCap + "Y\n" + rec + "@@FILE_END@@\n")
            << QStringList{"a |b |!long@5", "a |b |c ", "FileEnd@12"};
        QByteArray manyLines = "@@";
        for (int i = 0; i < 9; ++i)
            manyLines += QByteArray(cap / 8, 'y') + "\r\n";
        QTest::newRow("last field's lines together over the cap")
            << QByteArray("@@FILE_BEGIN@@\nX\n@@a @!\n@@b @!\n" + manyLines + "z @!\nY\n" + rec + "@@FILE_END@@\n")
            << QStringList{"a |b |!long@12", "a |b |c ", "FileEnd@21"};
        QTest::newRow("ends inside the last field") << QByteArray("@@FILE_BEGIN@@\r\n@@RECORD_BEGIN@@\r\n@@a @!\r\n@@b @!\r\n@@c1\r\nc2\r\n")
                                                    << QStringList{"EndedInRecord@6"};
    }
    void reading()
    {
        QFETCH(QByteArray, file);
        QFETCH(QStringList, steps);
        QCOMPARE(readAll(file, 3), steps);
    }

    void extraction_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("value");
        QTest::newRow("value") << QStringLiteral("@@abc @!") << QStringLiteral("abc ");
        QTest::newRow("empty value") << QStringLiteral("@@ @!") << QStringLiteral(" ");
        QTest::newRow("four characters") << QStringLiteral("@@@!") << QString();
        QTest::newRow("nothing") << QString() << QString();
        QTest::newRow("not a field") << QStringLiteral("abcdef") << QStringLiteral("cd");
    }
    void extraction()
    {
        QFETCH(QString, raw);
        QFETCH(QString, value);
        QCOMPARE(extractValue(raw), value);
    }

    // What a file's bytes are, fed whole and a byte at a time (a character
    // split between two pieces is still one character).
    void encodingCheck_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("gbk");
        QTest::addColumn<bool>("utf8");
        QTest::addColumn<bool>("looksUtf8");
        QTest::addColumn<qint64>("badGbkLine");
        const QByteArray utf8Text = QStringLiteral("电子图书\r\n第二行（三）\r\n").toUtf8();
        QTest::newRow("GBK Chinese") << Gbk::encode(QStringLiteral("电子图书\r\n（三）\r\n")) << true << false << false << 0LL;
        QTest::newRow("GBK that is UTF-8 by chance") << Gbk::encode(QStringLiteral("图\r\n")) << true << true << false << 0LL;
        QTest::newRow("UTF-8 Chinese") << utf8Text << false << true << true << 2LL; // its first line is GBK by chance
        QTest::newRow("UTF-8 with byte-order mark") << QByteArray("\xEF\xBB\xBF@@FILE_BEGIN@@\r\n") << true << true << true << 0LL;
        QTest::newRow("ASCII only") << QByteArray("@@FILE_BEGIN@@\r\nabc\r\n") << true << true << false << 0LL;
        QTest::newRow("neither, on line 3") << QByteArray("a\r\nb\r\n\xFF\xFE\r\n") << false << false << false << 3LL;
        QTest::newRow("lead byte at the end") << QByteArray("ab\r\n\xB5") << false << false << false << 2LL;
        QTest::newRow("UTF-8 cut inside a character") << utf8Text.left(utf8Text.size() - 4) << false << false << false << 2LL;
    }
    void encodingCheck()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, gbk);
        QFETCH(bool, utf8);
        QFETCH(bool, looksUtf8);
        QFETCH(qint64, badGbkLine);
        for (qsizetype piece : {bytes.size(), qsizetype(1)}) {
            EncodingCheck check;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                check.add(bytes.constData() + at, qMin(piece, bytes.size() - at));
            check.finish();
            QCOMPARE(check.gbk(), gbk);
            QCOMPARE(check.utf8(), utf8);
            QCOMPARE(check.looksUtf8(), looksUtf8);
            QCOMPARE(check.firstNonGbkLine(), badGbkLine);
        }
    }

    // Read as UTF-8: the text as it is written, the byte-order mark dropped.
    void readingUtf8()
    {
        QBuffer buffer;
        buffer.setData("\xEF\xBB\xBF@@FILE_BEGIN@@\r\n@@RECORD_BEGIN@@\r\n"
                       + QStringLiteral("@@史记(册数3) @!\r\n@@2 @!\r\n@@txt @!\r\n@@ @!\r\n@@u @!\r\n@@正文 @!\r\n").toUtf8()
                       + "@@RECORD_END@@\r\n@@FILE_END@@\r\n");
        buffer.open(QIODevice::ReadOnly);
        ExchangeReader reader(buffer, int(ebook().fields.size()), TextEncoding::Utf8);
        QStringList raw;
        QCOMPARE(reader.next(raw), Step::Record);
        QVariantList values;
        QVERIFY(importValues(ebook(), raw, values));
        QCOMPARE(values.at(0).toString(), QStringLiteral("史记 "));
        QCOMPARE(values.at(1).toInt(), 3);
        QCOMPARE(values.last().toString(), QStringLiteral("正文 "));
        QCOMPARE(reader.next(raw), Step::FileEnd);
    }

    void volumeTitle_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("count");
        QTest::newRow("three volumes") << QStringLiteral("@@唐诗(册数3) @!") << QStringLiteral("唐诗") << QStringLiteral("3");
        QTest::newRow("no suffix") << QStringLiteral("@@ 唐诗 @!") << QStringLiteral("唐诗") << QStringLiteral("1");
        QTest::newRow("empty count") << QStringLiteral("@@唐诗(册数) @!") << QStringLiteral("唐诗") << QStringLiteral("1");
        QTest::newRow("no closing bracket") << QStringLiteral("@@唐诗(册数5 @!") << QStringLiteral("唐诗") << QStringLiteral("5");
        QTest::newRow("title holding the mark") << QStringLiteral("@@甲(册数乙(册数3) @!") << QStringLiteral("甲")
                                                << QStringLiteral("乙(册数3");
    }
    void volumeTitle()
    {
        QFETCH(QString, raw);
        QFETCH(QString, title);
        QFETCH(QString, count);
        const VolumeTitle t = splitVolumeTitle(raw);
        QCOMPARE(t.title, title);
        QCOMPARE(t.count, count);
    }

    void numberRule_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("number");
        QTest::newRow("empty") << QString() << true << 0;
        QTest::newRow("blank") << QStringLiteral(" ") << true << 0;
        QTest::newRow("number") << QStringLiteral("012 ") << true << 12;
        QTest::newRow("negative") << QStringLiteral("-5 ") << true << -5;
        QTest::newRow("sign apart") << QStringLiteral("- 5 ") << true << -5;
        QTest::newRow("plus") << QStringLiteral("+7") << true << 7;
        QTest::newRow("largest") << QStringLiteral("2147483647") << true << 2147483647;
        QTest::newRow("smallest") << QStringLiteral("-2147483648") << true << int(-2147483648LL);
        QTest::newRow("too large") << QStringLiteral("2147483648") << false << 0;
        QTest::newRow("text") << QStringLiteral("abc ") << false << 0;
        QTest::newRow("fraction") << QStringLiteral("1.5") << false << 0;
        QTest::newRow("expression") << QStringLiteral("5-3") << false << 0;
        QTest::newRow("sign alone") << QStringLiteral("- ") << false << 0;
    }
    void numberRule()
    {
        QFETCH(QString, value);
        QFETCH(bool, ok);
        QFETCH(int, number);
        int n = 0;
        QCOMPARE(leadingZeroNumber(value, &n), ok);
        if (ok)
            QCOMPARE(n, number);
    }
};

QTEST_GUILESS_MAIN(TestExchangeFile)
#include "tst_exchange_file.moc"
