#include "exchangeinput.h"
#include "fileidentity.h"
#include "gbk.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>

#include <cerrno>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lectoria {
namespace {

// Chinese text's own characters: CJK ideographs, radicals, punctuation and
// full-width forms.
bool chineseCharacter(char32_t c)
{
    return (c >= 0x2E80 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F)
        || (c >= 0xFF00 && c <= 0xFFEF);
}

// How many bytes at the start are whole UTF-8 characters (no overlong form,
// no surrogate, nothing beyond U+10FFFF). *bad: the stop is a byte that
// cannot be part of a character, rather than a character that the bytes after
// these may finish. Counts the characters beyond ASCII, and among them the
// Chinese ones.
qsizetype wholeUtf8(const uchar *data, qsizetype size, qint64 *beyondAscii, qint64 *chinese, bool *bad)
{
    *bad = false;
    qsizetype i = 0;
    while (i < size) {
        const uchar b = data[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int more = 0;
        uchar low = 0x80, high = 0xBF; // the range of the second byte
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            if (b == 0xE0) low = 0xA0;
            if (b == 0xED) high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            if (b == 0xF0) low = 0x90;
            if (b == 0xF4) high = 0x8F;
        } else {
            *bad = true;
            return i;
        }
        char32_t code = b & (0x3F >> more);
        for (int k = 1; k <= more; ++k) {
            if (i + k >= size)
                return i; // unfinished: the next piece may finish it
            const uchar c = data[i + k];
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) {
                *bad = true;
                return i;
            }
            code = code << 6 | (c & 0x3F);
        }
        ++*beyondAscii;
        if (chineseCharacter(code) || code == 0xFEFF)
            ++*chinese;
        i += more + 1;
    }
    return i;
}

qint64 lineBreaks(const char *data, qsizetype size) { return std::count(data, data + size, '\n'); }

QString shownPath(const QString &path) { return QDir::toNativeSeparators(path); }

} // namespace

void EncodingCheck::checkGbk(const char *data, qsizetype size)
{
    const qsizetype whole = Gbk::wholeCharacters(data, size);
    if (whole == size)
        return m_gbkCarry.clear();
    const auto lead = uchar(data[whole]);
    if (whole == size - 1 && lead >= 0x81 && lead <= 0xFE) {
        m_gbkCarry = QByteArray(data + whole, 1);
        return;
    }
    m_gbkBadLine = m_lines + lineBreaks(data, whole);
}

void EncodingCheck::checkUtf8(const char *data, qsizetype size)
{
    bool bad = false;
    const qsizetype whole = wholeUtf8(reinterpret_cast<const uchar *>(data), size, &m_utf8BeyondAscii, &m_utf8Chinese, &bad);
    if (whole == size)
        return m_utf8Carry.clear();
    if (!bad) {
        m_utf8Carry = QByteArray(data + whole, size - whole);
        return;
    }
    m_utf8BadLine = m_lines + lineBreaks(data, whole);
}

void EncodingCheck::add(const char *data, qsizetype size)
{
    // A carried byte is never a line break, so the line counts stay right.
    if (gbk()) {
        if (m_gbkCarry.isEmpty()) {
            checkGbk(data, size);
        } else {
            const QByteArray joined = m_gbkCarry + QByteArray::fromRawData(data, size);
            checkGbk(joined.constData(), joined.size());
        }
    }
    if (utf8()) {
        if (m_utf8Carry.isEmpty()) {
            checkUtf8(data, size);
        } else {
            const QByteArray joined = m_utf8Carry + QByteArray::fromRawData(data, size);
            checkUtf8(joined.constData(), joined.size());
        }
    }
    m_lines += lineBreaks(data, size);
}

void EncodingCheck::finish()
{
    if (gbk() && !m_gbkCarry.isEmpty())
        m_gbkBadLine = m_lines;
    if (utf8() && !m_utf8Carry.isEmpty())
        m_utf8BadLine = m_lines;
    m_gbkCarry.clear();
    m_utf8Carry.clear();
}

ExchangeInput::ExchangeInput(const QString &path, TextEncoding encoding)
{
    if (path.isEmpty())
        throw FileError(QStringLiteral("请先选择数据文件"));
    const QString notRegular = QStringLiteral("%1: 不是普通文件，不能导入（设备、文件夹不能作为数据文件）。").arg(shownPath(path));
#ifdef _WIN32
    // Windows: a data file is a regular file; a device (NUL, CON, also as
    // nul.dat in a folder) or a folder is refused like any other thing that
    // is no file. Qt itself only says it cannot open a device's name.
    const bool pipe = false;
    FileIdentity id;
    bool regular = false;
    if (identifyFile(path, &id, &regular) && !regular)
        throw FileError(notRegular);
    const QFileInfo info(path);
    if (!info.isFile()) {
        QFile why(path); // the system's reason, in Qt's words
        if (info.exists() || why.open(QIODevice::ReadOnly))
            throw FileError(notRegular);
        throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), why.errorString()));
    }
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::ReadOnly))
        throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), m_file.errorString()));
#else
    // Not blocking: a pipe without a writer opens at once and reads as empty.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        QFile why(path); // the system's reason, in Qt's words
        why.open(QIODevice::ReadOnly);
        throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), why.errorString()));
    }
    struct stat st{};
    const bool known = ::fstat(fd, &st) == 0;
    const bool pipe = known && S_ISFIFO(st.st_mode);
    if (!known || !(S_ISREG(st.st_mode) || pipe)) {
        ::close(fd);
        throw FileError(notRegular);
    }
    if (pipe) {
        // A named pipe may have no writer yet: its first bytes (or its end)
        // are waited for, but not for ever.
        pollfd ready{fd, POLLIN, 0};
        int n;
        do
            n = ::poll(&ready, 1, PipeWaitMs);
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            ::close(fd);
            throw FileError(QStringLiteral("%1: 管道在%2秒内没有送来数据，未导入。").arg(shownPath(path)).arg(PipeWaitMs / 1000));
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_file.setFileName(path); // for the messages of the reading
    if (!m_file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), m_file.errorString()));
    }

#endif

    if (pipe) {
        m_copy = std::make_unique<QTemporaryFile>();
        if (!m_copy->open())
            throw FileError(QStringLiteral("不能建立临时文件：%1").arg(m_copy->errorString()));
    }
    EncodingCheck check;
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 got = m_file.read(chunk.data(), chunk.size());
        if (got < 0)
            throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), m_file.errorString()));
        if (got == 0)
            break;
        check.add(chunk.constData(), got);
        if (m_copy && m_copy->write(chunk.constData(), got) != got)
            throw FileError(QStringLiteral("不能写临时文件：%1").arg(m_copy->errorString()));
    }
    check.finish();
    if (m_copy ? !m_copy->seek(0) : !m_file.seek(0))
        throw FileError(QStringLiteral("%1: %2").arg(shownPath(path), m_copy ? m_copy->errorString() : m_file.errorString()));

    if (encoding == TextEncoding::Utf8) {
        if (!check.utf8())
            throw FileError(QStringLiteral("%1: 第%2行不是UTF-8编码的文字，不能按UTF-8导入。")
                                .arg(shownPath(path))
                                .arg(check.firstNonUtf8Line()));
        return;
    }
    if (check.looksUtf8())
        throw LooksUtf8Error(QStringLiteral("%1: 文件似乎是UTF-8编码，不是数据文件的GBK编码。").arg(shownPath(path)));
    if (!check.gbk())
        throw FileError(QStringLiteral("%1: 第%2行有不是GBK编码的字节，文件已损坏或不是数据文件，未导入。")
                            .arg(shownPath(path))
                            .arg(check.firstNonGbkLine()));
}

ExchangeInput::~ExchangeInput() = default;

QIODevice &ExchangeInput::device()
{
    if (m_copy)
        return *m_copy;
    return m_file;
}

} // namespace lectoria
