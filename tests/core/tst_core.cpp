#include "atomicfile.h"
#include "datetext.h"
#include "errors.h"
#include "gbk.h"
#include "text.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <iconv.h>
#endif

using namespace lectoria;

class TestCore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trimming_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("blank padded") << QStringLiteral("admin ") << QStringLiteral("admin");
        QTest::newRow("control chars") << QStringLiteral("\t\r\n 文学 \x01") << QStringLiteral("文学");
        QTest::newRow("inner blanks kept") << QStringLiteral(" a b ") << QStringLiteral("a b");
        QTest::newRow("ideographic space kept") << QStringLiteral("\u3000文") << QStringLiteral("\u3000文");
        QTest::newRow("all blank") << QStringLiteral("   ") << QString();
    }
    void trimming()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(trimText(in), out);
    }

    // A value quoted in a message: short, and nothing a terminal or a box
    // would take for an instruction.
    void shownValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("shown");
        QTest::newRow("short value as it is") << QStringLiteral("12:文学") << QStringLiteral("12:文学");
        QTest::newRow("terminal escape") << QStringLiteral("\x1b[2J\x1b]0;x\x07") << QStringLiteral("?[2J?]0;x?");
        QTest::newRow("line breaks and direction override")
            << QStringLiteral("a\r\nb\u202Ec\u2028") << QStringLiteral("a??b?c?");
        QTest::newRow("long value cut") << QString(100, QLatin1Char('9')) << QString(40, QLatin1Char('9')) + QChar(0x2026);
        QTest::newRow("a pair never split")
            << QString(39, QLatin1Char('x')) + QStringLiteral("\U0001F600yz") << QString(39, QLatin1Char('x')) + QChar(0x2026);
    }
    void shownValues()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QCOMPARE(shownValue(value), shown);
        QCOMPARE(shownValue(QString(8 << 20, QLatin1Char('7'))).size(), 41);
    }

    void dateText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QDateTime>("read");
        const QDate day(2024, 3, 5);
        QTest::newRow("date") << QStringLiteral("2024-03-05") << true << QDateTime(day, QTime(0, 0));
        QTest::newRow("minutes") << QStringLiteral("2024-03-05 10:11") << true << QDateTime(day, QTime(10, 11));
        QTest::newRow("T and ms") << QStringLiteral("2024-03-05T10:11:12.345") << true
                                  << QDateTime(day, QTime(10, 11, 12, 345));
        QTest::newRow("blanks around") << QStringLiteral("  2024-03-05 10:11:12  ") << true
                                       << QDateTime(day, QTime(10, 11, 12));
        QTest::newRow("no real time") << QStringLiteral("2024-03-05 25:61:00") << true << QDateTime(day, QTime(0, 0));
        QTest::newRow("seconds cut short") << QStringLiteral("2024-03-05 10:11:1") << true
                                           << QDateTime(day, QTime(10, 11));
        QTest::newRow("no such day") << QStringLiteral("2023-02-29") << false << QDateTime();
        QTest::newRow("too short") << QStringLiteral("2024-3-5") << false << QDateTime();
        QTest::newRow("not a date") << QStringLiteral("20240305 10:11") << false << QDateTime();
    }
    void dateText()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QDateTime, read);
        QDate date;
        QTime time;
        QCOMPARE(parseDateText(text, date, time), ok);
        if (ok)
            QCOMPARE(QDateTime(date, time), read);
    }

    void sqlQuoting()
    {
        QCOMPARE(sqlLiteral(QStringLiteral("O'Brien")), QStringLiteral("'O''Brien'"));
        QCOMPARE(sqlEscape(QStringLiteral("''")), QStringLiteral("''''"));
        QCOMPARE(sqlEscape(QStringLiteral("plain")), QStringLiteral("plain"));
    }

    void gbkRoundTrip_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QStringLiteral("abc,1") << QByteArray("abc,1");
        QTest::newRow("chinese") << QStringLiteral("类别") << QByteArray("\xc0\xe0\xb1\xf0");
        QTest::newRow("mixed") << QStringLiteral("a中b") << QByteArray("a\xd6\xd0" "b");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void gbkRoundTrip()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(Gbk::encode(text), bytes);
        QCOMPARE(Gbk::decode(bytes), text);
        QCOMPARE(Gbk::byteLength(text), bytes.size());
    }

    void gbkBadInput()
    {
        // A lone lead byte, a bad trail byte and a byte 0x80..0xFF at the end
        // never stop decoding.
        QCOMPARE(Gbk::decode(QByteArray("a\xff" "b")), QStringLiteral("a\uFFFDb"));
        QCOMPARE(Gbk::decode(QByteArray("\xd6")), QStringLiteral("\uFFFD"));
        int bad = 0;
        QCOMPARE(Gbk::encode(QStringLiteral("x\U0001F600y"), &bad), QByteArray("x?y"));
        QCOMPARE(bad, 1);
    }

    // Encoding goes through a table taken from the codec: every character of
    // the basic plane either comes back through decoding or is counted as
    // one GBK cannot carry.
    void gbkEveryCharacter()
    {
        QString all;
        for (char16_t u = 1; u < 0xD800; ++u) all += QChar(u);
        for (char32_t u = 0xE000; u < 0x10000; ++u) all += QChar(char16_t(u));
        int bad = 0;
        const QByteArray bytes = Gbk::encode(all, &bad);
        QVERIFY(bad > 0);
        QCOMPARE(bytes.count('?'), bad + 1); // '?' itself is one of them
        int mismatched = 0;
        for (QChar c : all) {
            int none = 0;
            const QByteArray b = Gbk::encode(QString(c), &none);
            if (none ? b != "?" : Gbk::decode(b) != QString(c))
                ++mismatched;
        }
        QCOMPARE(mismatched, 0);
    }

    // Decoding goes through a table taken from the codec and falls back to
    // the codec at the first byte the table cannot take: every byte pair, in
    // the middle of a line and at its end, decodes as the codec decodes it
    // (a bad byte becomes U+FFFD and decoding resumes at the next byte).
    void gbkDecodeEveryPair()
    {
#ifdef Q_OS_WIN
        // Windows' own code page 936, a byte at a time as iconv is below,
        // without the user-defined areas (private-use characters there),
        // which GBK as iconv reads it does not have.
        auto byCodec = [](const QByteArray &bytes) {
            QString out;
            for (qsizetype i = 0; i < bytes.size();) {
                wchar_t w[2];
                int n = 0;
                for (int len : {2, 1}) {
                    if (i + len <= bytes.size()
                        && MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, bytes.constData() + i, len, w, 2) == 1
                        && !(w[0] >= 0xE000 && w[0] <= 0xF8FF)) {
                        n = len;
                        break;
                    }
                }
                out += n ? QChar(char16_t(w[0])) : QChar(0xFFFD);
                i += n ? n : 1;
            }
            return out;
        };
#else
        iconv_t cd = iconv_open("UTF-16LE", "GBK");
        QVERIFY(cd != iconv_t(-1));
        auto byCodec = [cd](const QByteArray &bytes) {
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            QString out(bytes.size(), Qt::Uninitialized);
            char *in = const_cast<char *>(bytes.constData());
            size_t inLeft = size_t(bytes.size());
            auto *dst = reinterpret_cast<char16_t *>(out.data());
            while (inLeft > 0) {
                char *d = reinterpret_cast<char *>(dst);
                size_t outLeft = size_t(out.size()) * 2 - size_t(d - reinterpret_cast<char *>(out.data()));
                const size_t r = iconv(cd, &in, &inLeft, &d, &outLeft);
                dst = reinterpret_cast<char16_t *>(d);
                if (r != size_t(-1))
                    break;
                ++in;
                --inLeft;
                *dst++ = u'\uFFFD';
            }
            out.truncate(dst - reinterpret_cast<char16_t *>(out.data()));
            return out;
        };
#endif
        int mismatched = 0;
        for (int lead = 0x80; lead < 0x100; ++lead) {
            for (int trail = 0; trail < 0x100; ++trail) {
                const QByteArray inside = QByteArray("a\xd6\xd0") + char(lead) + char(trail) + "b";
                const QByteArray atEnd = QByteArray("\xd6\xd0") + char(trail) + char(lead);
                if (Gbk::decode(inside) != byCodec(inside) || Gbk::decode(atEnd) != byCodec(atEnd))
                    ++mismatched;
            }
        }
#ifndef Q_OS_WIN
        iconv_close(cd);
#endif
        QCOMPARE(mismatched, 0);
    }

    void atomicWriter()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.txt"));
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
        old.close();
        {
            GbkFileWriter w(path);
            w.writeLine(QStringLiteral("新内容"));
            // destroyed without commit: the old file stays
        }
        QCOMPARE(readWholeFile(path), QByteArray("old"));
        {
            GbkFileWriter w(path);
            w.writeLine(QStringLiteral("新"));
            w.commit();
        }
        QCOMPARE(readWholeFile(path), QByteArray("\xd0\xc2\r\n"));
        QVERIFY_THROWS_EXCEPTION(FileError, GbkFileWriter(dir.filePath(QStringLiteral("missing/x.txt"))));
    }
};

QTEST_GUILESS_MAIN(TestCore)
#include "tst_core.moc"
