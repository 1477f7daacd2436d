#include "exchangefile.h"
#include "atomicfile.h"
#include "errors.h"
#include "gbk.h"
#include "text.h"

#include <QDir>
#include <QFileDevice>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <limits>

namespace lectoria {
namespace {

// UTF-16 views, appended to a record's block without conversion.
constexpr QStringView lineEnd(u"\r\n");
constexpr QStringView fieldStart(u"@@");
constexpr QStringView fieldEnd(u" @!\r\n");
constexpr QStringView valueEndMark(u"@!");

QString columnText(const QVariant &v)
{
    if (!v.isValid() || v.isNull())
        return QString();
    return trimText(v.toString());
}

// Whether the text holds "@!": the "@" is looked for with the library's
// vectorised character search, which a two-character search does not use.
bool holdsValueEnd(QStringView s)
{
    for (qsizetype at = s.indexOf(u'@'); at >= 0 && at + 1 < s.size(); at = s.indexOf(u'@', at + 1))
        if (s.at(at + 1) == u'!')
            return true;
    return false;
}

bool isBreak(QChar c) { return c == QLatin1Char('\n') || c == QLatin1Char('\r'); }

// A one-line field: each line break (CR LF, LF or CR) becomes one blank,
// since the reader takes every field but the last as exactly one line.
QString oneLine(const QString &s, int *altered)
{
    if (std::none_of(s.begin(), s.end(), isBreak))
        return s;
    QString r;
    r.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (!isBreak(c)) {
            r += c;
            continue;
        }
        if (c == QLatin1Char('\r') && i + 1 < s.size() && s.at(i + 1) == QLatin1Char('\n'))
            ++i;
        r += QLatin1Char(' ');
    }
    ++*altered;
    return r;
}

// li_content keeps its line breaks; the reader gathers its lines until one
// holds "@!", so "@!" on any line but the last (the first line as the reader
// sees it, after the field's "@@") is broken up with a blank.
QString carriedContent(const QString &s, int *altered)
{
    if (!s.contains(QLatin1Char('\n')))
        return s;
    if (!s.contains(QLatin1Char('@')) && !s.startsWith(QLatin1Char('!')))
        return s;
    QStringList lines = s.split(QLatin1Char('\n'));
    bool changed = false;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        QString &line = lines[i];
        QString seen = line;
        seen.remove(QLatin1Char('\r')); // the reader drops every CR
        if (i == 0)
            seen.prepend(fieldStart);
        if (!seen.contains(valueEndMark))
            continue;
        const bool crlf = line.endsWith(QLatin1Char('\r'));
        line.remove(QLatin1Char('\r'));
        if (i == 0 && line.startsWith(QLatin1Char('!')))
            line.prepend(QLatin1Char(' '));
        line.replace(valueEndMark.toString(), QStringLiteral("@ !"));
        if (crlf)
            line += QLatin1Char('\r');
        changed = true;
    }
    if (!changed)
        return s;
    ++*altered;
    return lines.join(QLatin1Char('\n'));
}

QString volumeTitle(const QVariant &title, const QVariant &volumes, int *altered)
{
    QString t = oneLine(columnText(title), altered);
    if (volumes.isValid() && !volumes.isNull()) {
        const QString count = columnText(volumes);
        bool ok = false;
        const qlonglong whole = count.toLongLong(&ok);
        const bool several = ok ? whole > 1 : (count.toDouble(&ok) > 1 && ok);
        if (several)
            t += ExchangeMarks::VolumeMark + count + QLatin1Char(')');
    }
    return t;
}

} // namespace

namespace {

// One record's block, handed piece by piece to out (a callable taking
// QStringView), so that the writer encodes the pieces straight into its
// buffer; the values altered.
template <typename Out>
int putRecord(const ExchangeKind &kind, const QVariantList &values, const QVariant &volumes, Out &&out)
{
    static const QVariant none;
    int changed = 0;
    out(ExchangeMarks::RecordBegin);
    out(lineEnd);
    for (qsizetype i = 0; i < kind.fields.size(); ++i) {
        const QVariant &v = i < values.size() ? values.at(i) : none;
        out(fieldStart);
        switch (kind.fields.at(i).form) {
        case FieldForm::VolumeTitle: out(volumeTitle(v, volumes, &changed)); break;
        case FieldForm::Content: out(carriedContent(columnText(v), &changed)); break;
        case FieldForm::Text:
        case FieldForm::Number: out(oneLine(columnText(v), &changed)); break;
        }
        out(fieldEnd);
    }
    out(ExchangeMarks::RecordEnd);
    out(lineEnd);
    return changed;
}

} // namespace

QString formatRecord(const ExchangeKind &kind, const QVariantList &values, const QVariant &volumes, int *altered)
{
    QString block;
    block.reserve(512);
    const int changed = putRecord(kind, values, volumes, [&block](QStringView piece) { block += piece; });
    if (altered)
        *altered = changed;
    return block;
}

void ExchangeWriter::begin() { m_out.writeLine(ExchangeMarks::FileBegin); }

void ExchangeWriter::record(const ExchangeKind &kind, const QVariantList &values, const QVariant &volumes)
{
    m_altered += putRecord(kind, values, volumes, [this](QStringView piece) { m_out.write(piece); });
}

void ExchangeWriter::end() { m_out.writeLine(ExchangeMarks::FileEnd); }

QString extractValue(const QString &raw)
{
    if (raw.size() <= 4)
        return QString();
    return raw.mid(2, raw.size() - 4);
}

VolumeTitle splitVolumeTitle(const QString &raw)
{
    const QString t = trimText(extractValue(raw));
    const qsizetype at = t.indexOf(ExchangeMarks::VolumeMark);
    if (at < 0)
        return {t, QStringLiteral("1")};
    QString count = t.mid(at + ExchangeMarks::VolumeMark.size());
    if (count.contains(QLatin1Char(')')))
        count.chop(1);
    if (count.isEmpty())
        count = QStringLiteral("1");
    return {t.left(at), count};
}

bool leadingZeroNumber(const QString &value, int *number)
{
    const QString t = trimText(value);
    qsizetype i = 0;
    bool negative = false;
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+'))) {
        negative = t.at(i) == QLatin1Char('-');
        ++i;
        while (i < t.size() && t.at(i).unicode() <= 32)
            ++i;
        if (i == t.size())
            return false; // a sign alone
    }
    qint64 n = 0;
    for (; i < t.size(); ++i) {
        const char16_t c = t.at(i).unicode();
        if (c < u'0' || c > u'9')
            return false;
        n = n * 10 + (c - u'0');
        if (n > qint64(std::numeric_limits<int>::max()) + 1)
            return false;
    }
    if (negative)
        n = -n;
    if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min())
        return false;
    *number = int(n);
    return true;
}

bool importValues(const ExchangeKind &kind, const QStringList &raw, QVariantList &values, QString *why)
{
    values.clear();
    for (qsizetype i = 0; i < kind.fields.size(); ++i) {
        const ExchangeField &f = kind.fields.at(i);
        const QString field = raw.value(i);
        switch (f.form) {
        case FieldForm::VolumeTitle: {
            const VolumeTitle t = splitVolumeTitle(field);
            int count = 0;
            if (!leadingZeroNumber(t.count, &count)) {
                if (why) *why = QStringLiteral("册数“%1”不是整数").arg(shownValue(t.count));
                return false;
            }
            values << QVariant(t.title + QLatin1Char(' ')) << QVariant(count);
            break;
        }
        case FieldForm::Number: {
            const QString v = extractValue(field);
            int n = 0;
            if (!leadingZeroNumber(v, &n)) {
                if (why) *why = QStringLiteral("%1的值“%2”不是整数").arg(f.column, shownValue(trimText(v)));
                return false;
            }
            values << QVariant(n);
            break;
        }
        case FieldForm::Text:
        case FieldForm::Content: values << QVariant(extractValue(field)); break;
        }
    }
    return true;
}

ExchangeReader::ExchangeReader(QIODevice &in, int fieldCount, TextEncoding encoding)
    : m_in(in), m_fieldCount(qMax(1, fieldCount)), m_encoding(encoding)
{
}

QString ExchangeReader::decode(const char *data, qsizetype size)
{
    if (m_encoding == TextEncoding::Gbk)
        return Gbk::decode(data, size);
    QString text = QString::fromUtf8(data, size);
    if (m_lines == 0 && text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

bool ExchangeReader::fill()
{
    if (m_atEnd)
        return false;
    if (m_pos > 0) {
        m_buffer.remove(0, m_pos);
        m_scan -= m_pos;
        m_pos = 0;
    }
    constexpr qsizetype chunk = 1 << 16;
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + chunk);
    const qint64 got = m_in.read(m_buffer.data() + had, chunk);
    if (got < 0) {
        m_buffer.resize(had);
        const auto *file = qobject_cast<QFileDevice *>(&m_in);
        throw FileError(file ? QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file->fileName()), m_in.errorString())
                             : m_in.errorString());
    }
    m_buffer.resize(had + got);
    if (got == 0)
        m_atEnd = true;
    return got > 0;
}

void ExchangeReader::markOverlong()
{
    if (m_overlongLine == 0)
        m_overlongLine = m_lines;
}

namespace {
// Whether bytes, following a byte prev, hold "@!"; prev becomes their last.
bool holdsMarkBytes(const char *bytes, qsizetype size, char &prev)
{
    bool found = false;
    for (qsizetype i = 0; i < size && !found; ++i) {
        found = prev == '@' && bytes[i] == '!';
        prev = bytes[i];
    }
    return found;
}
} // namespace

// Reads on from the buffer's position, a chunk at a time and keeping no
// more than a chunk, up to the next LF or the end of the file. True when
// the bytes passed over hold "@!", so that a value's end on an overlong line
// keeps the reading in step.
bool ExchangeReader::passOverLine()
{
    char prev = 0;
    bool mark = false;
    for (;;) {
        const char *data = m_buffer.constData();
        const void *lf = std::memchr(data + m_pos, '\n', size_t(m_buffer.size() - m_pos));
        const qsizetype end = lf ? static_cast<const char *>(lf) - data : m_buffer.size();
        if (!mark)
            mark = holdsMarkBytes(data + m_pos, end - m_pos, prev);
        if (lf) {
            m_pos = m_scan = end + 1;
            return mark;
        }
        m_pos = m_scan = m_buffer.size();
        if (!fill()) // drops what was passed over
            return mark;
    }
}

// The line at the buffer's position is over the cap: it is passed over and
// stands as an empty line, or as the bare value end when it held one.
void ExchangeReader::overlong(QString &line)
{
    line = passOverLine() ? valueEndMark.toString() : QString();
    m_lastLineBytes = 0;
    ++m_lines;
    markOverlong();
}

bool ExchangeReader::readLine(QString &line)
{
    for (;;) {
        const qsizetype from = qMax(m_pos, m_scan);
        const void *lf = std::memchr(m_buffer.constData() + from, '\n', size_t(m_buffer.size() - from));
        qsizetype end;
        if (lf) {
            end = static_cast<const char *>(lf) - m_buffer.constData();
            if (end - m_pos > MaxLineBytes) {
                overlong(line);
                return true;
            }
        } else {
            m_scan = m_buffer.size();
            if (m_scan - m_pos > MaxLineBytes) {
                overlong(line);
                return true;
            }
            if (fill()) // moves the buffer's bytes
                continue;
            if (m_pos >= m_buffer.size())
                return false;
            end = m_buffer.size(); // a last line without LF
        }
        const char *first = m_buffer.constData() + m_pos;
        qsizetype length = end - m_pos;
        // Lines end in CR LF: the CR before the LF is the usual one, and any
        // other is rare, so it is looked for only in the rest.
        if (length > 0 && first[length - 1] == '\r')
            --length;
        if (std::memchr(first, '\r', size_t(length))) {
            m_stripped.resize(0);
            const char *p = first;
            const char *const stop = first + length;
            while (p < stop) {
                const auto *cr = static_cast<const char *>(std::memchr(p, '\r', size_t(stop - p)));
                const char *upTo = cr ? cr : stop;
                m_stripped.append(p, upTo - p);
                p = cr ? cr + 1 : stop;
            }
            line = decode(m_stripped.constData(), m_stripped.size());
        } else {
            line = decode(first, length);
        }
        m_lastLineBytes = length;
        m_pos = qMin(end + 1, m_buffer.size());
        m_scan = m_pos;
        ++m_lines;
        return true;
    }
}

ExchangeReader::Step ExchangeReader::next(QStringList &rawFields)
{
    rawFields.clear();
    if (m_final != Step::Record)
        return m_final;
    auto finish = [this, &rawFields](Step s) {
        rawFields.clear();
        m_final = s;
        return s;
    };

    QString line;
    if (!m_begun) {
        do {
            if (!readLine(line))
                return finish(Step::NoBeginLine);
        } while (!line.startsWith(ExchangeMarks::FileBegin));
        m_begun = true;
    }
    m_overlongLine = 0;
    // The line in the place of the record marker is not examined further.
    if (!readLine(line))
        return finish(Step::EndedBeforeEnd);
    if (line.startsWith(ExchangeMarks::FileEnd))
        return finish(Step::FileEnd);
    for (int i = 0; i < m_fieldCount - 1; ++i) {
        if (!readLine(line))
            return finish(Step::EndedInRecord);
        rawFields << line;
    }
    // The last field runs until a line holding "@!"; its lines join with LF.
    if (!readLine(line))
        return finish(Step::EndedInRecord);
    QString last = line;
    qsizetype lastBytes = m_lastLineBytes;
    bool keep = true;
    while (!holdsValueEnd(line)) {
        if (!readLine(line))
            return finish(Step::EndedInRecord);
        lastBytes += m_lastLineBytes + 1;
        if (keep && lastBytes > MaxLineBytes) {
            // Its lines together go over the cap: the field is not kept, and
            // is read on to its end.
            keep = false;
            last.clear();
            markOverlong();
        }
        if (keep) {
            last += QLatin1Char('\n');
            last += line;
        }
    }
    rawFields << last;
    // The line in the place of the record's end marker; when the file ends
    // here, the next step says so.
    readLine(line);
    return Step::Record;
}

} // namespace lectoria
