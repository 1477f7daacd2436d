// libFuzzer target for the exchange file reader. The first byte picks the
// kind and the check:
//  - even: the rest is a file; reading it record by record must end, never
//    crash, and every record must come apart into values (or fail only on a
//    number field, as an import would count it);
//  - odd: the rest, split at NUL bytes, is one record's column values;
//    written and read back between two other records, the file must stay in
//    step and give back every value as the writer wrote it.
#include "exchangefile.h"
#include "gbk.h"
#include "text.h"

#include <QBuffer>

#include <cstdint>
#include <cstdlib>

using namespace lectoria;

namespace {

QStringList readAll(const QByteArray &bytes, const ExchangeKind &kind, ExchangeReader::Step *ending)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    ExchangeReader reader(buffer, int(kind.fields.size()));
    QStringList records, raw;
    QVariantList values;
    for (;;) {
        const ExchangeReader::Step s = reader.next(raw);
        if (s != ExchangeReader::Step::Record) {
            *ending = s;
            if (reader.next(raw) != s)
                std::abort(); // an ending must stay
            return records;
        }
        if (raw.size() != kind.fields.size())
            std::abort();
        QString why;
        if (importValues(kind, raw, values, &why))
            records << raw.join(QLatin1Char('\x1f'));
        else if (why.isEmpty())
            std::abort();
        else
            records << QString();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QVector<ExchangeKind> &kinds = exchangeKinds();
    const ExchangeKind &kind = kinds.at((data[0] >> 1) % kinds.size());
    const QByteArray rest(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    ExchangeReader::Step ending;

    if ((data[0] & 1) == 0) {
        readAll(rest, kind, &ending);
        return 0;
    }

    const QList<QByteArray> parts = rest.split('\0');
    QVariantList values;
    for (const QByteArray &p : parts)
        values << QVariant(Gbk::decode(p));
    const QVariant volumes = values.size() > kind.fields.size() ? values.at(kind.fields.size()) : QVariant();
    const QString other = formatRecord(kind, {QStringLiteral("甲")});
    const QString block = formatRecord(kind, values, volumes);
    const QStringList records = readAll(Gbk::encode(QStringLiteral("@@FILE_BEGIN@@\r\n") + other + block + other
                                                    + QStringLiteral("@@FILE_END@@\r\n")),
                                        kind, &ending);
    if (records.size() != 3 || ending != ExchangeReader::Step::FileEnd || records.at(0) != records.at(2))
        std::abort();

    // Each value comes back as written: the block's own field text.
    QBuffer buffer;
    const QByteArray blockBytes = Gbk::encode(QStringLiteral("@@FILE_BEGIN@@\r\n") + block);
    buffer.setData(blockBytes);
    buffer.open(QIODevice::ReadOnly);
    ExchangeReader reader(buffer, int(kind.fields.size()));
    QStringList raw;
    if (reader.next(raw) != ExchangeReader::Step::Record)
        std::abort();
    QString written = Gbk::decode(Gbk::encode(block));
    written.remove(QLatin1Char('\r'));
    QStringList expected = written.split(QLatin1Char('\n'));
    expected.removeFirst(); // record marker
    expected.removeLast();  // after the last line end
    expected.removeLast();  // record marker
    QString joined = raw.join(QLatin1Char('\n'));
    if (joined != expected.join(QLatin1Char('\n')))
        std::abort();
    return 0;
}
